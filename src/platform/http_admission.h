// Who an HTTP server serves at once: the connections whose request is being read and answered,
// and the answers that stream for as long as their reader listens (event streams), each counted
// in all and per client address. A place is held by a ticket kept with the connection, so it is
// given back however the connection ends. A connection whose request has not come in full is
// waiting: when a newcomer would pass a request limit, the oldest waiting connection (of the
// newcomer's address for its own limit, of any address for the total) is closed to make room, so
// connections that never finish their request cannot keep a scraper out. Only when every place
// is being answered is the newcomer refused.
//
// Thread-safe: tickets are taken on the accept thread and changed and released on the
// connections' threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/tcp_connection.h"

namespace plat {

struct HttpLimits {
  size_t max_requests = 4;              // connections being read and answered at once
  size_t max_requests_per_address = 0;  // the same from one address; 0: no limit of its own
  size_t max_streams = 0;               // streamed answers at once; 0: none is streamed
  size_t max_streams_per_address = 0;   // the same to one address; 0: no limit of its own
};

class HttpAdmission {
 public:
  // A connection's place; released when the ticket goes.
  class Ticket : public ConnectionSlot {
   public:
    ~Ticket() override;
    // Trades the request's place for a stream's; false (the request place kept) when the
    // streams are at their limit, in all or for this address.
    bool BecomeStream();
    // The request has come in full: the connection no longer makes room for newcomers.
    void MarkAnswering();

   private:
    friend class HttpAdmission;
    Ticket(std::shared_ptr<HttpAdmission> admission, std::weak_ptr<TcpConnection> connection,
           IpAddress ip)
        : admission_(std::move(admission)), connection_(std::move(connection)), ip_(ip) {}
    std::shared_ptr<HttpAdmission> admission_;
    std::weak_ptr<TcpConnection> connection_;
    IpAddress ip_;           // the address group it counts under
    bool stream_ = false;    // guarded by the admission's mutex_
    bool released_ = false;  // guarded by the admission's mutex_: the place was given to another
  };

  explicit HttpAdmission(HttpLimits limits) : limits_(limits) {}

  // A request's place for `connection`, closing waiting connections to make room; null when
  // every place it could take is being answered.
  static std::shared_ptr<Ticket> Admit(const std::shared_ptr<HttpAdmission>& admission,
                                       const std::shared_ptr<TcpConnection>& connection);
  size_t Streams() const;

 private:
  struct Counts {
    size_t requests = 0;
    size_t streams = 0;
  };
  // Whether a request from `ip` fits, after closing the oldest waiting connections that must
  // make room. REQUIRES: mutex_ held.
  bool MakeRoomLocked(const IpAddress& ip, std::vector<std::shared_ptr<TcpConnection>>& to_close);
  // Gives the oldest waiting ticket's place back (of `ip` only when only_ip); false when there
  // is none. REQUIRES: mutex_ held.
  bool EvictOldestWaitingLocked(bool only_ip, const IpAddress& ip,
                                std::vector<std::shared_ptr<TcpConnection>>& to_close);
  void ReleaseLocked(const IpAddress& ip, bool stream);

  const HttpLimits limits_;
  mutable std::mutex mutex_;
  Counts total_;                      // guarded by mutex_
  std::map<IpAddress, Counts> by_ip_;  // guarded by mutex_; only addresses holding a place
  std::list<Ticket*> waiting_;        // guarded by mutex_; requests not yet in full, oldest first
};

}  // namespace plat
