// The operator socket's line client against a real local socket: lines split across writes,
// lines that arrived before the peer closed, and a last line the peer never ended.
#include <gtest/gtest.h>

#include <string>

#include "platform/local_lines.h"
#include "support/blackbox.h"

namespace {

using ReadResult = plat::LocalLineClient::ReadResult;

// Writes all of `text` to a non-blocking stream whose peer reads it later.
void WriteAll(plat::LocalStream& stream, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    size_t count = 0;
    ASSERT_NE(stream.Write(text.data() + done, text.size() - done, &count), plat::LocalIo::kClosed);
    done += count;
  }
}

TEST(LocalLineClient, ReadsWholeLinesAndTheRestBeforeTheClose) {
  pltest::TempDir directory;
  std::string error;
  auto listener = plat::LocalListener::Create(directory.File("op.sock"), 0600, &error);
  ASSERT_TRUE(listener) << error;
  auto client = plat::LocalLineClient::Connect(directory.File("op.sock"), &error);
  ASSERT_TRUE(client) << error;
  plat::Poller poller;
  std::unique_ptr<plat::LocalStream> server_side;
  for (int tries = 0; !server_side && tries < 500; ++tries) {
    std::vector<plat::Poller::Item> items{{listener->handle()}};
    poller.Wait(items, 10);
    server_side = listener->Accept();
  }
  ASSERT_TRUE(server_side);

  std::string line;
  WriteAll(*server_side, "{\"a\":");
  EXPECT_EQ(client->ReadLine(50, &line), ReadResult::kTimedOut);
  WriteAll(*server_side, "1}\n{\"b\":2}\n\nno end");
  EXPECT_EQ(client->ReadLine(5000, &line), ReadResult::kLine);
  EXPECT_EQ(line, "{\"a\":1}");
  server_side.reset();
  EXPECT_EQ(client->ReadLine(5000, &line), ReadResult::kLine);
  EXPECT_EQ(line, "{\"b\":2}");
  EXPECT_EQ(client->ReadLine(5000, &line), ReadResult::kLine);
  EXPECT_EQ(line, "");
  EXPECT_EQ(client->ReadLine(5000, &line), ReadResult::kClosed);
  EXPECT_EQ(client->ReadLine(5000, &line), ReadResult::kClosed);
}

}  // namespace
