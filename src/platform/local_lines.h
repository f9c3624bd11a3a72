// The client side of a local socket that carries one text a line in each direction: the
// operator interface's JSON requests and answers. Used by the operator tool and the tests.
//
// Threading: one thread uses one connection.
#pragma once

#include <memory>
#include <string>

#include "platform/local_socket.h"

namespace plat {

class LocalLineClient {
 public:
  enum class ReadResult { kLine, kTimedOut, kClosed };

  // Connects to the socket at `path`; null and an error text when that fails.
  static std::unique_ptr<LocalLineClient> Connect(const std::string& path, std::string* error);

  // Sends `line` and a line end within timeout_ms; false on a time-out or a closed connection.
  bool SendLine(const std::string& line, int timeout_ms);
  // The next line, without its line end, within timeout_ms (negative: no limit). Lines that
  // arrived before the peer closed are still read; kClosed after them, and for a last line the
  // peer never ended.
  ReadResult ReadLine(int timeout_ms, std::string* line);

 private:
  explicit LocalLineClient(std::unique_ptr<LocalClientSocket> socket)
      : socket_(std::move(socket)) {}
  // Takes the first whole line out of the buffer; false when there is none.
  bool TakeLine(std::string* line);

  std::unique_ptr<LocalClientSocket> socket_;
  std::string buffer_;
  bool closed_ = false;
};

}  // namespace plat
