// Feeds an arbitrary byte stream to one control connection's passes, as the connection thread
// runs them, until the connection closes. Every input starts from the same server state. The first
// input byte picks whether the stream starts with a valid login (and, for an administrator,
// AdminLogin), so the commands behind the login are reached as well as the refusals before it.
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_server.h"
#include "platform/connection_pair.h"
#include "protoclient/client_frames.h"

namespace {

constexpr int kMaxPasses = 64;

std::vector<uint8_t> Preamble(uint8_t selector) {
  std::vector<uint8_t> stream;
  if (selector & 1) {
    auto login = plclient::ClientLoginFrame("fuzz", "", (selector & 2) ? "1.2.0" : "2.0");
    stream.insert(stream.end(), login.begin(), login.end());
  }
  if ((selector & 5) == 5) {
    auto admin = plclient::AdminLoginFrame("rivet");
    stream.insert(stream.end(), admin.begin(), admin.end());
  }
  return stream;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 65536) return 0;
  core::TParlowindServer& server = fuzz::Server();
  fuzz::ResetState();
  auto pair = plat::MakeConnectionPair();
  if (!pair) return 0;
  std::vector<uint8_t> stream = Preamble(data[0]);
  stream.insert(stream.end(), data + 1, data + size);
  pair->peer->Write(stream);
  pair->peer->CloseWrite();
  for (int pass = 0; pass < kMaxPasses && pair->server_side->IsOpen(); ++pass) {
    server.TcpExecute(*pair->server_side);
    pair->peer->Drain();
    fuzz::DrainClients();
  }
  // A connection the passes did not close is taken down the way the listener does it.
  if (pair->server_side->IsOpen()) {
    pair->server_side->RequestClose();
    server.TcpExecute(*pair->server_side);
  }
  pair->server_side->Close();
  return 0;
}
