// The baseline the benchmark measures the server against: one UDP socket and one thread that
// receive a voice datagram and send one copy to every other member of the sender's room, with
// the recipient's Id and a fresh CRC-32 in each copy, one send per copy. Nothing else: no
// checks, no counters, no locks.
//
// Members register with a keep-alive datagram (magic 0xAABB) whose byte 12 is their room byte;
// the datagram's source address becomes the member's address.
//   reflector <udp-port>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_posix.h"
#include "wire/crc.h"

namespace {

constexpr size_t kIds = 65536;
constexpr size_t kRoomByteOffset = 12;

struct Member {
  bool registered = false;
  uint8_t room = 0;
  plat::Endpoint address;
};

class Reflector {
 public:
  void Register(uint16_t id, uint8_t room, plat::Endpoint from) {
    Member& member = members_[id];
    if (member.registered && member.room != room) Leave(id);
    if (!member.registered || member.room != room) rooms_[room].push_back(id);
    member = {true, room, from};
  }

  void Relay(uint8_t* datagram, size_t size, uint16_t sender) {
    const Member& from = members_[sender];
    if (!from.registered) return;
    for (uint16_t id : rooms_[from.room]) {
      if (id == sender) continue;
      datagram[2] = static_cast<uint8_t>(id);
      datagram[3] = static_cast<uint8_t>(id >> 8);
      for (size_t i = 12; i < 16; ++i) datagram[i] = 0;
      uint32_t crc = wire::Crc32(datagram, size);
      for (size_t i = 0; i < 4; ++i) datagram[12 + i] = static_cast<uint8_t>(crc >> (8 * i));
      socket_->SendTo(datagram, size, members_[id].address);
    }
  }

  bool Open(uint16_t port) {
    std::string error;
    socket_ = bench::BenchUdpSocket::Open(port, /*blocking=*/true, &error);
    if (!socket_) std::fprintf(stderr, "reflector: %s\n", error.c_str());
    return socket_ != nullptr;
  }

  void Run() {
    std::vector<uint8_t> buffer(8192);
    for (;;) {
      plat::Endpoint from;
      std::optional<size_t> size = socket_->ReceiveFrom(buffer.data(), buffer.size(), &from);
      if (!size || *size < 4) continue;
      const uint16_t magic = static_cast<uint16_t>(buffer[0] | (buffer[1] << 8));
      const uint16_t id = static_cast<uint16_t>(buffer[2] | (buffer[3] << 8));
      if (magic == 0xAABB && *size > kRoomByteOffset) {
        Register(id, buffer[kRoomByteOffset], from);
      } else if (magic == 0xB0BA && *size >= 16 && buffer[6] == 0) {
        Relay(buffer.data(), *size, id);
      }
    }
  }

 private:
  void Leave(uint16_t id) {
    std::vector<uint16_t>& room = rooms_[members_[id].room];
    for (size_t i = 0; i < room.size(); ++i) {
      if (room[i] == id) {
        room.erase(room.begin() + static_cast<long>(i));
        return;
      }
    }
  }

  std::vector<Member> members_ = std::vector<Member>(kIds);
  std::array<std::vector<uint16_t>, 256> rooms_;
  std::unique_ptr<bench::BenchUdpSocket> socket_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: reflector <udp-port>\n");
    return 2;
  }
  Reflector reflector;
  if (!reflector.Open(static_cast<uint16_t>(std::atoi(argv[1])))) return 1;
  reflector.Run();
}
