// The places of an HTTP server's connections; no system call.
#include "platform/http_admission.h"

#include <algorithm>

namespace plat {
namespace {

bool Full(size_t count, size_t limit) {
  return limit != 0 && count >= limit;
}

}  // namespace

std::shared_ptr<HttpAdmission::Ticket> HttpAdmission::Admit(
    const std::shared_ptr<HttpAdmission>& admission,
    const std::shared_ptr<TcpConnection>& connection) {
  // An IPv6 host may take any address of its /64: it counts as one.
  const IpAddress ip = AddressGroup(connection->Peer().ip);
  std::vector<std::shared_ptr<TcpConnection>> to_close;
  std::shared_ptr<Ticket> ticket;
  {
    std::lock_guard<std::mutex> lock(admission->mutex_);
    if (admission->MakeRoomLocked(ip, to_close)) {
      ++admission->total_.requests;
      ++admission->by_ip_[ip].requests;
      ticket.reset(new Ticket(admission, connection, ip));
      admission->waiting_.push_back(ticket.get());
    }
  }
  // Outside the lock: a closed connection's ticket comes back to it when the connection ends.
  for (const auto& waiting : to_close) waiting->RequestClose();
  return ticket;
}

bool HttpAdmission::MakeRoomLocked(const IpAddress& ip,
                                   std::vector<std::shared_ptr<TcpConnection>>& to_close) {
  auto from_ip = [this, ip] {
    auto at = by_ip_.find(ip);
    return at == by_ip_.end() ? size_t{0} : at->second.requests;
  };
  if (Full(from_ip(), limits_.max_requests_per_address) &&
      !EvictOldestWaitingLocked(true, ip, to_close))
    return false;
  return total_.requests < limits_.max_requests || EvictOldestWaitingLocked(false, ip, to_close);
}

bool HttpAdmission::EvictOldestWaitingLocked(
    bool only_ip, const IpAddress& ip, std::vector<std::shared_ptr<TcpConnection>>& to_close) {
  auto oldest = std::find_if(waiting_.begin(), waiting_.end(),
                             [&](const Ticket* ticket) { return !only_ip || ticket->ip_ == ip; });
  if (oldest == waiting_.end()) return false;
  Ticket& ticket = **oldest;
  waiting_.erase(oldest);
  ticket.released_ = true;
  ReleaseLocked(ticket.ip_, false);
  if (std::shared_ptr<TcpConnection> connection = ticket.connection_.lock())
    to_close.push_back(std::move(connection));
  return true;
}

void HttpAdmission::Ticket::MarkAnswering() {
  std::lock_guard<std::mutex> lock(admission_->mutex_);
  admission_->waiting_.remove(this);
}

bool HttpAdmission::Ticket::BecomeStream() {
  HttpAdmission& admission = *admission_;
  std::lock_guard<std::mutex> lock(admission.mutex_);
  if (stream_) return true;
  if (released_) return false;
  Counts& from_ip = admission.by_ip_[ip_];
  if (admission.total_.streams >= admission.limits_.max_streams ||
      Full(from_ip.streams, admission.limits_.max_streams_per_address))
    return false;
  admission.waiting_.remove(this);
  --admission.total_.requests;
  --from_ip.requests;
  ++admission.total_.streams;
  ++from_ip.streams;
  stream_ = true;
  return true;
}

HttpAdmission::Ticket::~Ticket() {
  std::lock_guard<std::mutex> lock(admission_->mutex_);
  admission_->waiting_.remove(this);
  if (!released_) admission_->ReleaseLocked(ip_, stream_);
}

void HttpAdmission::ReleaseLocked(const IpAddress& ip, bool stream) {
  auto at = by_ip_.find(ip);
  if (stream) {
    --total_.streams;
    --at->second.streams;
  } else {
    --total_.requests;
    --at->second.requests;
  }
  if (at->second.requests == 0 && at->second.streams == 0) by_ip_.erase(at);
}

size_t HttpAdmission::Streams() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return total_.streams;
}

}  // namespace plat
