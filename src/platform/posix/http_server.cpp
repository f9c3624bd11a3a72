// The HTTP server of the POSIX build: the platform's TCP listener accepts and reads, cpp-httplib
// parses each request and writes its answer through a stream over the connection.
#include "platform/http_server.h"

#include <httplib.h>

#include <algorithm>

#include "platform/tcp_listener.h"

namespace plat {
namespace {

// The library's request processing, which is protected: the library's own accept loop and
// socket handling are not used, so that every read goes through the connection's time limit.
class RequestProcessor : public httplib::Server {
 public:
  using httplib::Server::process_request;
};

// One connection as the library sees it: reads stop at the request's byte limit and at the
// connection's input deadline; writes queue on the connection without blocking.
class ConnectionStream : public httplib::Stream {
 public:
  explicit ConnectionStream(TcpConnection& connection) : connection_(connection) {}

  bool is_readable() const override { return connection_.WaitForData(); }
  bool is_writable() const override { return connection_.IsOpen(); }

  ssize_t read(char* ptr, size_t size) override {
    if (read_ >= HttpServer::kMaxRequestBytes || !connection_.WaitForData()) return -1;
    const size_t allowed = std::min(size, HttpServer::kMaxRequestBytes - read_);
    const size_t got = connection_.Take(reinterpret_cast<uint8_t*>(ptr), allowed);
    read_ += got;
    return static_cast<ssize_t>(got);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!connection_.Write(reinterpret_cast<const uint8_t*>(ptr), size)) return -1;
    return static_cast<ssize_t>(size);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = connection_.Peer().IpText();
    port = connection_.Peer().port;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = connection_.Local().IpText();
    port = connection_.Local().port;
  }
  // No descriptor of the library's own.
  socket_t socket() const override { return INVALID_SOCKET; }

 private:
  TcpConnection& connection_;
  size_t read_ = 0;
};

}  // namespace

struct HttpServer::Impl {
  RequestProcessor processor;
  TcpListener listener;
  bool started = false;
};

HttpServer::HttpServer() : impl_(std::make_unique<Impl>()) {}

HttpServer::~HttpServer() {
  Stop();
}

Status HttpServer::Start(Endpoint address, Handler handler) {
  impl_->processor.set_payload_max_length(0);
  impl_->processor.set_pre_routing_handler(
      [handler](const httplib::Request& request, httplib::Response& response) {
        HttpAnswer answer = handler(request.method, request.path);
        response.status = answer.status;
        if (!answer.allow.empty()) response.set_header("Allow", answer.allow);
        response.set_content(answer.body, answer.content_type.c_str());
        return httplib::Server::HandlerResponse::Handled;
      });
  TcpListener& listener = impl_->listener;
  listener.AddBinding(address);
  listener.SetAcceptFilter([&listener](TcpConnection& connection) {
    if (listener.ConnectionCount() >= kMaxConnections) return false;
    connection.SetInputDeadline(kRequestTimeMs);
    return true;
  });
  RequestProcessor& processor = impl_->processor;
  listener.SetHandler([&processor](TcpConnection& connection) {
    ConnectionStream stream(connection);
    bool closed_by_peer = false;
    try {
      processor.process_request(stream, true, closed_by_peer, nullptr);
    } catch (const std::exception&) {
      // A request the library cannot take ends its connection, nothing else.
    }
    connection.Close();
  });
  if (Status error = listener.Activate(); !error.ok()) return error;
  impl_->started = true;
  return Status::Ok();
}

void HttpServer::Stop() {
  if (!impl_->started) return;
  impl_->listener.Deactivate(HttpServer::kRequestTimeMs);
  impl_->started = false;
}

uint16_t HttpServer::BoundPort() const {
  return impl_->started ? impl_->listener.BoundPort() : 0;
}

}  // namespace plat
