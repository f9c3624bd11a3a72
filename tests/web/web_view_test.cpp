// The web view over real sockets on an in-process server: the status document against its
// published schema (names and rooms only), the event stream's order, a stalled reader let go
// while the others keep receiving, a reload's new name and capacity, and the streams' limit per
// address.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/client_socket.h"
#include "support/blackbox.h"
#include "support/http_exchange.h"
#include "support/test_server.h"
#include "support/tool_runner.h"
#include "web/server_wiring.h"

namespace pltest {
namespace {

// Checks a document against docs/status.schema.json with Python's jsonschema (Debian's
// python3-jsonschema); the validator's complaint, or empty when the document conforms.
std::string SchemaComplaint(const std::string& document) {
  static const char kScript[] =
      "import json, sys, jsonschema\n"
      "schema = json.load(open(sys.argv[1]))\n"
      "jsonschema.Draft202012Validator.check_schema(schema)\n"
      "jsonschema.Draft202012Validator(schema).validate(json.load(open(sys.argv[2])))\n";
  TempDir directory;
  WriteFile(directory.File("status.json"), document);
  ToolResult result = RunTool(
      "/usr/bin/python3", {"-c", kScript, std::string(PL_SOURCE_DIR) + "/docs/status.schema.json",
                           directory.File("status.json")});
  return result.exit_code == 0 ? "" : result.err + result.out;
}

// One event stream read as a browser would: the head, then the chunks of events.
class EventReader {
 public:
  EventReader(uint16_t port, uint32_t from_ip = 0x7F000001, int receive_buffer = 0) {
    plat::TcpClientOptions options;
    options.local_ip = from_ip;
    options.receive_buffer_bytes = receive_buffer;
    std::string error;
    socket_ = plat::TcpClientSocket::Connect({0x7F000001, port}, options, &error);
    const std::string request = "GET /events HTTP/1.1\r\nHost: view\r\n\r\n";
    if (socket_)
      socket_->SendAll(reinterpret_cast<const uint8_t*>(request.data()), request.size(), 2000);
  }
  // Reads what is there for up to timeout_ms; false once the server has closed the stream.
  bool Read(int timeout_ms) {
    uint8_t buffer[16384];
    size_t got = 0;
    plat::IoStatus status = socket_->Receive(buffer, sizeof buffer, timeout_ms, &got);
    if (status == plat::IoStatus::kOk) raw_.append(reinterpret_cast<char*>(buffer), got);
    return status == plat::IoStatus::kOk || status == plat::IoStatus::kTimeout;
  }
  // Reads until `done` holds for the events so far (or the stream ends, or 10 s pass).
  bool ReadUntil(const std::function<bool(const std::string& events)>& done) {
    for (int i = 0; i < 100 && !done(Events()); ++i) {
      if (!Read(100)) break;
    }
    return done(Events());
  }
  // Reads until the answer's head is in; false when it did not come within 10 s.
  bool ReadHead() {
    for (int i = 0; i < 100 && raw_.find("\r\n\r\n") == std::string::npos; ++i) {
      if (!Read(100)) break;
    }
    return raw_.find("\r\n\r\n") != std::string::npos;
  }
  // Reads until the server closes the stream; false when it is still open after 10 s.
  bool ReadToEnd() {
    for (int i = 0; i < 100; ++i) {
      if (!Read(100)) return true;
    }
    return false;
  }
  int Status() const { return raw_.compare(0, 9, "HTTP/1.1 ") == 0 ? std::atoi(&raw_[9]) : 0; }
  // The body without its chunk framing: the events as they were sent.
  std::string Events() const {
    std::string events;
    size_t at = raw_.find("\r\n\r\n");
    if (at == std::string::npos) return events;
    for (at += 4;;) {
      const size_t line_end = raw_.find("\r\n", at);
      if (line_end == std::string::npos) break;
      const size_t size = std::strtoul(raw_.substr(at, line_end - at).c_str(), nullptr, 16);
      if (size == 0 || line_end + 2 + size > raw_.size()) break;
      events.append(raw_, line_end + 2, size);
      at = line_end + 2 + size + 2;
    }
    return events;
  }
  bool connected() const { return socket_ != nullptr; }

 private:
  std::unique_ptr<plat::TcpClientSocket> socket_;
  std::string raw_;
};

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class WebViewTest : public ::testing::Test {
 protected:
  void Start(IniKeys keys) {
    keys.Set("Web", "Listen", "127.0.0.1:0").Set("Logging", "Events", "0");
    keys.Set("Channels", "0", "Lobby").Set("Channels", "1", "Stage");
    server_ = std::make_unique<TestServer>(keys);
    ASSERT_TRUE(server_->started());
    view_ = web::StartWebView(server_->server());
    ASSERT_TRUE(view_);
    port_ = view_->BoundPort();
  }
  ~WebViewTest() override {
    view_.reset();
    server_.reset();
  }

  std::unique_ptr<TestServer> server_;
  std::shared_ptr<web::WebView> view_;
  uint16_t port_ = 0;
};

TEST_F(WebViewTest, TheStatusDocumentFollowsItsSchemaAndNamesOnlyNamesAndRooms) {
  Start(IniKeys().Set("Passwords", "AdminPassword", "s3cret-pass"));
  Member alice = server_->Join("alice");
  Member bob = server_->Join("bob");
  Member carol = server_->JoinAsAdmin("carol", "s3cret-pass");
  ASSERT_TRUE(bob->SendChangeRoom(2));
  // A room that goes away keeps its players where they were: they are shown elsewhere.
  ASSERT_TRUE(carol->SendAdminCreateRoom("Attic"));
  ASSERT_TRUE(WaitUntil([&] { return server_->server().rooms().FindRoom(2).has_value(); }));
  ASSERT_TRUE(carol->SendChangeRoom(3));
  ASSERT_TRUE(carol->SendAdminDeleteRoom(3));
  ASSERT_TRUE(WaitUntil([&] { return !server_->server().rooms().FindRoom(2).has_value(); }));

  std::optional<HttpReply> reply = HttpGet(port_, "/status.json");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200);
  EXPECT_EQ(reply->headers["access-control-allow-origin"], "*");
  EXPECT_EQ(reply->headers["content-type"], "application/json");
  EXPECT_EQ(SchemaComplaint(reply->body), "");
  EXPECT_NE(
      reply->body.find(R"("rooms":[{"number":1,"name":"Lobby","players":1,"names":["alice"]},)"
                       R"({"number":2,"name":"Stage","players":1,"names":["bob"]}])"),
      std::string::npos)
      << reply->body;
  EXPECT_NE(reply->body.find(R"("elsewhere":{"players":1,"names":["carol"]})"), std::string::npos);
  // Never an address, a port, an Id or a password.
  for (const std::string& secret :
       {std::string("127.0.0.1"), std::to_string(server_->tcp_port()), std::to_string(alice.id),
        std::to_string(bob.id), std::to_string(carol.id), std::string("s3cret-pass")})
    EXPECT_EQ(reply->body.find(secret), std::string::npos) << secret << " in " << reply->body;
}

TEST_F(WebViewTest, WithoutPlayersShownTheViewCountsThemOnly) {
  Start(IniKeys().Set("Web", "ShowPlayers", "0"));
  Member alice = server_->Join("alice");
  EventReader stream(port_);
  ASSERT_TRUE(stream.ReadUntil(
      [](const std::string& events) { return Count(events, "event: status") > 0; }));
  Member bob = server_->Join("bob");
  ASSERT_TRUE(
      stream.ReadUntil([](const std::string& events) { return Count(events, "event: join") > 0; }));

  std::optional<HttpReply> status = HttpGet(port_, "/status.json");
  std::optional<HttpReply> page = HttpGet(port_, "/");
  ASSERT_TRUE(status && page);
  EXPECT_EQ(SchemaComplaint(status->body), "");
  EXPECT_NE(status->body.find(R"({"number":1,"name":"Lobby","players":2})"), std::string::npos);
  const std::string events = stream.Events();
  for (const std::string* text :
       {&std::as_const(status->body), &std::as_const(page->body), &events}) {
    EXPECT_EQ(text->find("alice"), std::string::npos) << *text;
    EXPECT_EQ(text->find("bob"), std::string::npos) << *text;
  }
}

TEST_F(WebViewTest, ThePageIsOneSafeDocumentThatShowsMarkupInANameAsText) {
  Start(IniKeys());
  Member hostile = server_->Join("<img src=x>\x01\"'&");
  std::optional<HttpReply> page = HttpGet(port_, "/");
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find("<li>&lt;img src=x&gt;\xEF\xBF\xBD&quot;&#39;&amp;</li>"),
            std::string::npos)
      << page->body;
  EXPECT_EQ(page->body.find("<img"), std::string::npos);
  EXPECT_EQ(page->headers["x-content-type-options"], "nosniff");
  const std::string policy = page->headers["content-security-policy"];
  EXPECT_EQ(policy.find("unsafe"), std::string::npos) << policy;
  EXPECT_NE(policy.find("script-src 'sha256-"), std::string::npos) << policy;
  EXPECT_NE(policy.find("frame-ancestors 'none'"), std::string::npos) << policy;
  // Nothing from elsewhere: no external script, style, font or image.
  for (const char* external : {"src=\"", "href=", "@import", "url("})
    EXPECT_EQ(page->body.find(external), std::string::npos) << external;
  std::optional<HttpReply> widget = HttpGet(port_, "/widget?theme=dark");
  ASSERT_TRUE(widget);
  EXPECT_NE(widget->body.find("class=\"widget theme-dark\""), std::string::npos);
  EXPECT_NE(widget->headers["content-security-policy"].find("frame-ancestors *"),
            std::string::npos);
  EXPECT_EQ(HttpGet(port_, "/admin")->status, 404);
  EXPECT_EQ(HttpExchange(port_, "POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n")->status, 405);
}

TEST_F(WebViewTest, TheEventStreamCarriesEveryChangeInItsOrder) {
  Start(IniKeys());
  Member admin = server_->JoinAsAdmin("admin");
  EventReader stream(port_);
  ASSERT_TRUE(stream.ReadUntil(
      [](const std::string& events) { return Count(events, "event: status") > 0; }));
  EXPECT_EQ(stream.Status(), 200);
  // Each change is made once the one before it has reached the stream: the stream must keep
  // the order in which they happened.
  const std::vector<std::string> expected = {
      "event: join\ndata: {\"player\":\"dana\",\"room\":1}\n\n",
      "event: move\ndata: {\"player\":\"dana\",\"from\":1,\"room\":2}\n\n",
      "event: room-create\ndata: {\"room_name\":\"Attic\"}\n\n",
      "event: leave\ndata: {\"player\":\"dana\"}\n\n",
      "event: room-delete\ndata: {\"room\":3,\"room_name\":\"Attic\"}\n\n"};
  Member dana;
  const std::vector<std::function<void()>> changes = {
      [&] { dana = server_->Join("dana"); }, [&] { ASSERT_TRUE(dana->SendChangeRoom(2)); },
      [&] { ASSERT_TRUE(admin->SendAdminCreateRoom("Attic")); },
      [&] { ASSERT_TRUE(dana->SendLeave()); }, [&] { ASSERT_TRUE(admin->SendAdminDeleteRoom(3)); }};
  for (size_t i = 0; i < changes.size(); ++i) {
    changes[i]();
    ASSERT_TRUE(stream.ReadUntil([&](const std::string& events) {
      return events.find(expected[i]) != std::string::npos;
    })) << expected[i]
        << " did not come: " << stream.Events();
  }
  const std::string events = stream.Events();
  for (size_t i = 1; i < expected.size(); ++i)
    EXPECT_LT(events.find(expected[i - 1]), events.find(expected[i])) << events;
  // Each change is followed by the state it left.
  EXPECT_NE(events.find("event: status", events.find(expected.back())), std::string::npos);
}

TEST_F(WebViewTest, AStalledReaderIsLetGoWhileTheOthersKeepReceiving) {
  // Two streams in all: a third is refused until the stalled reader's place is free.
  Start(IniKeys()
            .Set("Web", "MaxStreams", "2")
            .Set("Security", "MaxFramesPerSecond", "0")
            .Set("Security", "MaxBroadcastFramesPerAddress", "0"));
  Member mover = server_->Join("mover");
  EventReader stalled(port_, 0x7F000001, 1024);
  ASSERT_TRUE(stalled.ReadUntil(
      [](const std::string& events) { return Count(events, "event: status") > 0; }));
  EventReader reader(port_);
  ASSERT_TRUE(reader.ReadUntil(
      [](const std::string& events) { return Count(events, "event: status") > 0; }));

  size_t moves = 0;
  bool let_go = false;
  while (!let_go && moves < 20000) {
    for (int i = 0; i < 200; ++i, ++moves) ASSERT_TRUE(mover->SendChangeRoom(moves % 2 ? 1 : 2));
    // The mover takes its own PlayerMoved frames, so that it is not a stalled reader too.
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(mover->Await(plclient::ParsePlayerMoved, 5000));
    ASSERT_TRUE(reader.ReadUntil([&](const std::string& events) {
      return Count(events, "event: move") == moves;
    })) << "the reader fell behind at "
        << moves << " moves";
    EventReader third(port_, 0x7F000003);
    third.ReadHead();
    let_go = third.Status() == 200;
  }
  EXPECT_TRUE(let_go) << "the stalled reader still holds its place after " << moves << " moves";
  // Its stream ends after what it was sent, well short of every move.
  EXPECT_TRUE(stalled.ReadToEnd());
  EXPECT_LT(Count(stalled.Events(), "event: move"), moves);
}

TEST_F(WebViewTest, AReloadReachesThePageTheDocumentAndTheStream) {
  Start(IniKeys().Set("General", "Servername", "Old hall"));
  EventReader stream(port_);
  ASSERT_TRUE(stream.ReadUntil(
      [](const std::string& events) { return Count(events, "event: status") > 0; }));

  IniKeys keys;
  keys.Set("Web", "Listen", "127.0.0.1:1").Set("Logging", "Events", "0");
  keys.Set("Channels", "0", "Lobby").Set("Channels", "1", "Stage");
  keys.Set("General", "Servername", "New hall").Set("General", "MaxClients", "3");
  WriteFile(server_->ini_path(), keys.Render(server_->tcp_port()));
  const core::ReloadOutcome outcome = server_->server().Reload("test");
  ASSERT_TRUE(outcome.applied);
  EXPECT_EQ(outcome.needs_restart, std::vector<std::string>{"Web.Listen"});

  ASSERT_TRUE(stream.ReadUntil([](const std::string& events) {
    return events.find("\"name\":\"New hall\"") != std::string::npos;
  })) << stream.Events();
  EXPECT_NE(stream.Events().find("\"max_players\":3"), std::string::npos);
  std::optional<HttpReply> status = HttpGet(port_, "/status.json");
  std::optional<HttpReply> page = HttpGet(port_, "/");
  ASSERT_TRUE(status && page);
  EXPECT_NE(status->body.find("\"name\":\"New hall\""), std::string::npos) << status->body;
  EXPECT_NE(status->body.find("\"max_players\":3"), std::string::npos) << status->body;
  EXPECT_NE(page->body.find("New hall"), std::string::npos);
}

TEST_F(WebViewTest, OneAddressHoldsAtMostItsShareOfTheStreams) {
  Start(IniKeys().Set("Web", "MaxStreamsPerAddress", "2"));
  // One after the other, each answered before the next asks.
  std::vector<int> answers;
  std::vector<std::unique_ptr<EventReader>> streams;
  for (uint32_t from : {0x7F000001u, 0x7F000001u, 0x7F000001u, 0x7F000002u}) {
    streams.push_back(std::make_unique<EventReader>(port_, from));
    ASSERT_TRUE(streams.back()->ReadHead());
    answers.push_back(streams.back()->Status());
  }
  EXPECT_EQ(answers, (std::vector<int>{200, 200, 503, 200}));
}

}  // namespace
}  // namespace pltest
