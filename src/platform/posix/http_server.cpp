// The HTTP server of the POSIX build: the platform's TCP listener accepts and reads, cpp-httplib
// parses each request and writes its answer through a stream over the connection.
#include "platform/http_server.h"

#include <httplib.h>

#include <algorithm>
#include <limits>

#include "platform/tcp_listener.h"

namespace plat {
namespace {

// The library writes a body in chunks only while it counts itself as listening, which it reads
// from its own listening socket. The listening here is the platform listener's, so the library
// is given a stand-in that is never a descriptor; it would touch it only in listen() and
// stop(), which are never called.
constexpr socket_t kListeningStandIn = std::numeric_limits<int>::max();

// The connection this thread is answering: a streamed answer needs it (its place, its set-up),
// and the library hands the request handler only the parsed request.
thread_local TcpConnection* served_connection = nullptr;

// The library's request processing, which is protected: the library's own accept loop and
// socket handling are not used, so that every read goes through the connection's time limit.
class RequestProcessor : public httplib::Server {
 public:
  RequestProcessor() { svr_sock_ = kListeningStandIn; }
  using httplib::Server::process_request;
};

// One connection as the library sees it: reads stop at the request's byte limit and at the
// connection's input deadline; writes queue on the connection without blocking. Once the headers
// have come in full (a request has no body here), the connection's place is marked as being
// answered.
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
    NoteHeaderEnd(ptr, got);
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
  void NoteHeaderEnd(const char* data, size_t size) {
    for (size_t i = 0; i < size && !complete_; ++i) {
      tail_ = tail_ << 8 | static_cast<unsigned char>(data[i]);
      if (tail_ == 0x0D0A0D0A) {  // CR LF CR LF
        complete_ = true;
        if (auto ticket = std::dynamic_pointer_cast<HttpAdmission::Ticket>(connection_.Slot()))
          ticket->MarkAnswering();
      }
    }
  }

  TcpConnection& connection_;
  size_t read_ = 0;
  uint32_t tail_ = 0;
  bool complete_ = false;
};

HttpRequest RequestOf(const httplib::Request& request) {
  HttpRequest parsed;
  parsed.method = request.method;
  parsed.path = request.path;
  parsed.query.insert(request.params.begin(), request.params.end());
  return parsed;
}

void DiscardInput(TcpConnection& connection) {
  uint8_t scratch[512];
  while (connection.Take(scratch, sizeof scratch) > 0) {
  }
}

// One call of the library's chunk provider: waits until the stream has bytes for a connection
// that has sent everything before, and hands them on; a reader that stalls never holds more
// than one such piece here. False when the connection ended first.
bool SendNextPiece(TcpConnection& connection, HttpBodyStream& stream, httplib::DataSink& sink) {
  for (;;) {
    if (stream.Over()) {
      sink.done();
      return true;
    }
    if (connection.PendingOutput() == 0) {
      const std::string piece = stream.Take();
      if (!piece.empty()) return sink.write(piece.data(), piece.size());
    }
    if (!connection.Await(HttpServer::kStreamPollMs)) return false;
    // A reader of a stream has nothing more to say; what it sends is dropped unread.
    DiscardInput(connection);
  }
}

// Turns the answer's stream into the response's chunked body when a stream's place is free;
// otherwise the answer becomes a refusal.
void StartStream(HttpAnswer& answer, TcpConnection& connection, httplib::Response& response) {
  auto ticket = std::dynamic_pointer_cast<HttpAdmission::Ticket>(connection.Slot());
  if (!ticket || !ticket->BecomeStream()) {
    answer = HttpRefusal(503, "Too many event streams at the moment; try again later.\n");
    answer.headers.emplace_back("Retry-After", "10");
    return;
  }
  connection.ClearInputDeadline();
  connection.LimitSendBuffer(HttpServer::kStreamSendBuffer);
  std::shared_ptr<HttpBodyStream> stream = answer.stream;
  std::weak_ptr<TcpConnection> weak = connection.shared_from_this();
  stream->Begin([weak] {
    if (std::shared_ptr<TcpConnection> alive = weak.lock()) alive->Wake();
  });
  response.set_chunked_content_provider(
      answer.content_type,
      [stream, &connection](size_t, httplib::DataSink& sink) {
        return SendNextPiece(connection, *stream, sink);
      },
      [stream](bool) { stream->End(); });
}

void Respond(HttpAnswer answer, TcpConnection& connection, httplib::Response& response) {
  if (answer.stream) StartStream(answer, connection, response);
  response.status = answer.status;
  if (!answer.allow.empty()) response.set_header("Allow", answer.allow);
  for (const auto& [name, value] : answer.headers) response.set_header(name, value);
  if (!answer.stream) response.set_content(answer.body, answer.content_type.c_str());
}

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

Status HttpServer::Start(Endpoint address, Handler handler, HttpLimits limits) {
  impl_->processor.set_payload_max_length(0);
  impl_->processor.set_pre_routing_handler(
      [handler](const httplib::Request& request, httplib::Response& response) {
        TcpConnection& connection = *served_connection;
        Respond(handler(RequestOf(request)), connection, response);
        return httplib::Server::HandlerResponse::Handled;
      });
  TcpListener& listener = impl_->listener;
  listener.AddBinding(address);
  auto admission = std::make_shared<HttpAdmission>(limits);
  listener.SetAcceptFilter([admission](TcpConnection& connection) {
    std::shared_ptr<HttpAdmission::Ticket> ticket =
        HttpAdmission::Admit(admission, connection.shared_from_this());
    if (!ticket) return false;
    connection.SetSlot(std::move(ticket));
    connection.SetInputDeadline(kRequestTimeMs);
    return true;
  });
  RequestProcessor& processor = impl_->processor;
  listener.SetHandler([&processor](TcpConnection& connection) {
    ConnectionStream stream(connection);
    bool closed_by_peer = false;
    served_connection = &connection;
    try {
      processor.process_request(stream, true, closed_by_peer, nullptr);
    } catch (const std::exception&) {
      // A request the library cannot take ends its connection, nothing else.
    }
    served_connection = nullptr;
    // The place goes back before the close, which is what the client waits for: a scraper that
    // asks again at once must not find its own finished request still holding a place.
    connection.ClearSlot();
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
