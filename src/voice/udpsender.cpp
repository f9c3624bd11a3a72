#include "voice/udpsender.h"

#include <bitset>
#include <cstring>

#include "platform/clock.h"
#include "platform/process.h"
#include "wire/datagrams.h"

namespace voice {

TUDPSender::TUDPSender(RelayParts parts) : parts_(std::move(parts)) {
  // Left uninitialised: only the pages a batch uses become resident.
  copies_.reset(new uint8_t[kCopyStorage]);
  outgoing_.reserve(kBatchCopies);
  recipients_.reserve(kBatchCopies);
}

plat::Status TUDPSender::Start() {
  return thread_.Start("relay", [this] { Execute(); });
}

void TUDPSender::Execute() {
  plat::RaiseCurrentThreadPriority();  // best effort
  parts_.write_line("UDPSender.Execute");
  thread_.MarkStarted();
  while (!thread_.Terminated()) {
    parts_.relay_event.Wait();
    if (thread_.Terminated()) break;
    try {
      RelayQueue();
    } catch (const std::exception&) {
      // A failed pass loses its datagrams, never the relay.
    }
  }
  parts_.write_line("UDPSender.Terminated");
}

void TUDPSender::RelayQueue() {
  VoiceQueue& queue = parts_.queue;
  queue.TakeAll(batch_, arrivals_);
  if (batch_.empty()) return;
  uint64_t relayed = 0;
  {
    clients::ClientList& clients = parts_.clients;
    // Held through the sends: no client is added, removed or destroyed during the pass.
    clients::ClientList::Lock lock = clients.Acquire();
    for (const VoiceBuffer& datagram : batch_) {
      const std::span<const uint8_t> bytes(datagram);
      const clients::TServerClient* sender =
          clients.FindByIdLocked(lock, wire::ReadU16(bytes, wire::kOffsetId));
      if (sender == nullptr || sender->Dropped) continue;
      const uint8_t mode = wire::ReadU8(bytes, wire::kOffsetMode);
      if (mode == wire::kModeRoom) {
        RelayToRoom(*sender, datagram.data(), datagram.size());
        ++relayed;
      } else if (mode == wire::kModeList) {
        RelayToList(*sender, datagram.data(), datagram.size());
        ++relayed;
      }
    }
    SendBatch();
  }
  clients::Add(parts_.counters.UdpBytesSent, pass_bytes_);
  clients::Add(parts_.counters.UdpPacketsSent, pass_packets_);
  pass_bytes_ = 0;
  pass_packets_ = 0;
  // After the traffic counters: a reader that sees the pass sees its copies counted too.
  RecordPass(relayed);
  queue.Recycle(batch_);
}

void TUDPSender::RecordPass(uint64_t relayed) {
  // One clock reading and one merge a pass: the voice path takes no lock for its figures.
  const uint64_t now = plat::MonotonicMicroseconds();
  for (uint64_t arrived : arrivals_) delays_.Observe(now >= arrived ? now - arrived : 0);
  parts_.relay_stats.RecordPass(relayed, batch_.size() - relayed, delays_.reading());
  delays_.Clear();
  arrivals_.clear();
}

void TUDPSender::RelayToRoom(const clients::TServerClient& sender, const uint8_t* datagram,
                             size_t size) {
  if (size < wire::kVoiceHeaderSize) return;
  const int32_t room = sender.RoomId.load(std::memory_order_relaxed);
  clients::ClientList& clients = parts_.clients;
  clients::ClientList::Lock lock = clients.Acquire();
  for (const clients::ClientRef& client : clients.Entries(lock)) {
    if (client->Dropped || client.get() == &sender ||
        client->RoomId.load(std::memory_order_relaxed) != room) {
      continue;
    }
    AddCopy(*client, datagram, size);
  }
}

void TUDPSender::RelayToList(const clients::TServerClient& sender, const uint8_t* datagram,
                             size_t size) {
  const std::span<const uint8_t> bytes(datagram, size);
  if (size < wire::kVoiceHeaderSize || !wire::ListFits(bytes)) return;
  const size_t count = datagram[wire::kOffsetListCount];
  std::bitset<256> listed;
  for (size_t i = 0; i < count; ++i) listed.set(datagram[wire::kOffsetList + i]);

  const size_t rebuilt_size = size - 1 - count;
  list_datagram_.assign(datagram, datagram + wire::kVoiceHeaderSize);
  list_datagram_.insert(list_datagram_.end(), datagram + wire::kOffsetList + count,
                        datagram + size);
  list_datagram_[wire::kOffsetMode] = wire::kModeRoom;
  wire::StoreU16(list_datagram_.data() + wire::kOffsetLength, static_cast<uint16_t>(rebuilt_size));

  clients::ClientList& clients = parts_.clients;
  clients::ClientList::Lock lock = clients.Acquire();
  for (const clients::ClientRef& client : clients.Entries(lock)) {
    if (client->Dropped || client.get() == &sender || !listed.test(client->PlayerNo + 1u)) continue;
    AddCopy(*client, list_datagram_.data(), rebuilt_size);
  }
}

void TUDPSender::AddCopy(clients::TServerClient& recipient, const uint8_t* datagram, size_t size) {
  const clients::PeerRoute::Route route = recipient.Route();
  // A client that has sent no datagram has no address to send to.
  if (route.peer.port == 0) return;
  const size_t slot = (size + 15) & ~size_t{15};
  if (outgoing_.size() == kBatchCopies || copies_used_ + slot > kCopyStorage) SendBatch();
  uint8_t* copy = copies_.get() + copies_used_;
  copies_used_ += slot;
  std::memcpy(copy, datagram, size);
  wire::StoreU16(copy + wire::kOffsetId, recipient.Id);
  wire::Seal(copy, size);
  outgoing_.push_back({copy, size, route.peer, route.reply_from});
  recipients_.push_back(&recipient);
}

void TUDPSender::SendBatch() {
  if (outgoing_.empty()) return;
  parts_.udp.SendBatch(outgoing_, sent_);
  for (size_t i = 0; i < outgoing_.size(); ++i) {
    if (!sent_[i]) continue;  // a failed send skips only that recipient
    const auto size = static_cast<uint32_t>(outgoing_[i].size);
    clients::Add(recipients_[i]->Counters.UdpPacketsSent, 1);
    clients::Add(recipients_[i]->Counters.UdpBytesSent, size);
    ++pass_packets_;
    pass_bytes_ += size;
  }
  outgoing_.clear();
  recipients_.clear();
  copies_used_ = 0;
}

}  // namespace voice
