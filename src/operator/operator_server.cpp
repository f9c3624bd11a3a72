#include "operator/operator_server.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/thread_start.h"
#include "text/safe_text.h"

namespace oper {
namespace {

constexpr int kPassMs = 1000;         // the longest wait: bans that ended are swept this often
constexpr size_t kReadChunk = 16384;  // read per connection and pass, for fairness
constexpr size_t kMaxReadsPerPass = 8;

std::string Dump(const Json& value) {
  // ASCII only, every control character escaped: the answer is one line whatever it holds.
  return value.dump(-1, ' ', true, Json::error_handler_t::replace) + "\n";
}

Json ErrorAnswer(const Json& id, const std::string& code, const std::string& message) {
  return Json{{"id", id},
              {"ok", false},
              {"error", Json{{"code", code}, {"message", text::JsonSafeText(message)}}}};
}

Json TooLongAnswer() {
  return ErrorAnswer(nullptr, error_code::kTooLong,
                     "a request line may hold at most " +
                         std::to_string(OperatorServer::kMaxRequestLine) + " bytes");
}

}  // namespace

bool WatchFeed::Push(std::string line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (lines_.size() >= kMaxQueued) return false;
  lines_.push_back(std::move(line));
  return true;
}

std::deque<std::string> WatchFeed::TakeAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(lines_, {});
}

OperatorServer::OperatorServer(ServerAccess access, Options options)
    : commands_(std::move(access)),
      options_(std::move(options)),
      max_connections_(options_.max_connections),
      mode_(options_.mode) {}

OperatorServer::~OperatorServer() {
  Stop();
}

plat::Status OperatorServer::Start() {
  commands_.LoadBans();
  if (options_.socket_path.empty()) return plat::Status::Error("no [Operator] Socket is set");
  std::string error;
  listener_ = plat::LocalListener::Create(options_.socket_path, options_.mode, &error);
  if (!listener_) return plat::Status::Error(error);
  try {
    poller_ = std::make_unique<plat::Poller>();
  } catch (const std::exception& failure) {
    listener_.reset();
    return plat::Status::Error(failure.what());
  }
  event_listener_ = commands_.access().events.AddListener(
      [this](const core::EventLine& line, const plat::LocalDateTime& when) {
        OnEvent(line, when);
      });
  if (plat::Status failure = plat::StartThread(thread_, "operator", [this] { Run(); });
      !failure.ok()) {
    commands_.access().events.RemoveListener(*event_listener_);
    event_listener_.reset();
    listener_.reset();
    return failure;
  }
  return plat::Status::Ok();
}

void OperatorServer::Stop() {
  if (event_listener_) {
    commands_.access().events.RemoveListener(*event_listener_);
    event_listener_.reset();
  }
  stop_.store(true, std::memory_order_release);
  if (poller_) poller_->Wake();
  if (thread_.joinable()) thread_.join();
  connections_.clear();
  listener_.reset();  // removes the socket file
}

void OperatorServer::ApplyReload(const core::Settings& settings, const plat::IniFile& file,
                                 core::ReloadOutcome& outcome) {
  max_connections_.store(static_cast<size_t>(settings.OperatorMaxConnections),
                         std::memory_order_relaxed);
  if (settings.OperatorSocketMode != mode_ && listener_) {
    if (plat::Status changed = listener_->SetMode(settings.OperatorSocketMode); !changed.ok())
      outcome.notes.push_back("[Operator] SocketMode: " + changed.message());
  }
  mode_ = settings.OperatorSocketMode;
  commands_.ReloadBans(file, outcome);
}

void OperatorServer::OnEvent(const core::EventLine& line, const plat::LocalDateTime& when) {
  // Inside the event output's lock, possibly inside registry locks: hand over and return.
  if (!feed_.Active()) return;
  // Both forms, so that a watcher prints the very line the server prints, in either format.
  // The feed holds `{JSON form},"line":"text form"` and a line end; DeliverEvents puts the
  // watcher's id before it.
  std::string event = line.FormatJson(when);
  std::string text = line.FormatText(when);
  event.pop_back();
  text.pop_back();
  if (feed_.Push(event + ",\"line\":" + Dump(Json(text))) && poller_) poller_->Wake();
}

void OperatorServer::Run() {
  while (!stop_.load(std::memory_order_acquire)) {
    std::vector<plat::Poller::Item> items;
    items.push_back({listener_->handle(), false});
    for (const auto& connection : connections_)
      items.push_back(
          {connection->stream->handle(), connection->output_head < connection->output.size()});
    poller_->Wait(items, kPassMs);
    if (stop_.load(std::memory_order_acquire)) break;
    if (items[0].readable) AcceptWaiting();
    for (size_t i = 1; i < items.size() && i - 1 < connections_.size(); ++i) {
      Connection& connection = *connections_[i - 1];
      if (items[i].readable) ReadFrom(connection);
      if (items[i].writable) Flush(connection);
    }
    DeliverEvents();
    CloseIdle();
    std::erase_if(connections_, [](const auto& connection) { return connection->closed; });
    feed_.SetActive(std::any_of(connections_.begin(), connections_.end(),
                                [](const auto& connection) { return connection->watching; }));
    commands_.DropEndedBans();
  }
}

void OperatorServer::AcceptWaiting() {
  while (std::unique_ptr<plat::LocalStream> stream = listener_->Accept()) {
    auto connection = std::make_unique<Connection>();
    connection->stream = std::move(stream);
    connection->last_heard_ms = commands_.access().clock.MonotonicMs();
    const size_t limit = max_connections_.load(std::memory_order_relaxed);
    if (OpenConnections() >= limit) {
      ReapClosed();
      CloseIdle();
    }
    if (OpenConnections() >= limit) {
      // Told why, then closed: a busy interface never makes an operator wait.
      Send(*connection, ErrorAnswer(nullptr, error_code::kBusy,
                                    "too many operator connections; try again later"));
      continue;
    }
    connections_.push_back(std::move(connection));
  }
}

void OperatorServer::ReapClosed() {
  // A connection whose operator has gone still counts until its end is read: read what is
  // there now (requests are served as usual), so a place that is free is seen as free.
  std::vector<plat::Poller::Item> items;
  for (const auto& connection : connections_)
    items.push_back({connection->stream->handle(), false});
  poller_->Wait(items, 0);
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].readable) ReadFrom(*connections_[i]);
  }
  // Closed ones are removed at the end of the pass, which still walks the list by position.
}

void OperatorServer::CloseIdle() {
  const uint64_t now_ms = commands_.access().clock.MonotonicMs();
  for (const auto& connection : connections_) {
    if (!connection->watching && now_ms >= connection->last_heard_ms + kIdleCloseMs)
      connection->closed = true;
  }
}

size_t OperatorServer::OpenConnections() const {
  return static_cast<size_t>(
      std::count_if(connections_.begin(), connections_.end(),
                    [](const auto& connection) { return !connection->closed; }));
}

void OperatorServer::ReadFrom(Connection& connection) {
  char buffer[kReadChunk];
  for (size_t reads = 0; reads < kMaxReadsPerPass && !connection.closed; ++reads) {
    size_t count = 0;
    plat::LocalIo status = connection.stream->Read(buffer, sizeof buffer, &count);
    if (status == plat::LocalIo::kWouldBlock) return;
    if (status == plat::LocalIo::kClosed) {
      connection.closed = true;
      return;
    }
    connection.last_heard_ms = commands_.access().clock.MonotonicMs();
    size_t start = 0;
    for (size_t i = 0; i < count && !connection.closed; ++i) {
      if (buffer[i] != '\n') continue;
      if (connection.discarding) {
        connection.discarding = false;
      } else if (connection.input.size() + (i - start) > kMaxRequestLine) {
        connection.input.clear();
        Send(connection, TooLongAnswer());
      } else {
        connection.input.append(buffer + start, i - start);
        std::string line = std::move(connection.input);
        connection.input.clear();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) HandleLine(connection, line);
      }
      start = i + 1;
    }
    if (connection.discarding || connection.closed) continue;
    connection.input.append(buffer + start, count - start);
    if (connection.input.size() > kMaxRequestLine) {
      // Answered once; the rest of the line is read and dropped, and the connection goes on.
      connection.input.clear();
      connection.discarding = true;
      Send(connection, TooLongAnswer());
    }
  }
}

void OperatorServer::HandleLine(Connection& connection, const std::string& line) {
  Json request = Json::parse(line, nullptr, false);
  if (request.is_discarded())
    return Send(connection, ErrorAnswer(nullptr, error_code::kBadJson, "the line is not JSON"));
  if (!request.is_object())
    return Send(connection,
                ErrorAnswer(nullptr, error_code::kBadRequest, "a request is a JSON object"));
  const Json id = request.contains("id") ? request["id"] : Json(nullptr);
  try {
    if (request.contains("command") && request["command"] == "watch") {
      connection.watching = true;
      connection.watch_id = id;
      feed_.SetActive(true);
      return Send(connection, Json{{"id", id}, {"ok", true}, {"result", Json{{"watching", true}}}});
    }
    Json result = commands_.Handle(request);
    Send(connection, Json{{"id", id}, {"ok", true}, {"result", std::move(result)}});
  } catch (const CommandError& error) {
    Send(connection, ErrorAnswer(id, error.code(), error.what()));
  } catch (const Json::exception& error) {
    Send(connection, ErrorAnswer(id, error_code::kBadArgument, error.what()));
  }
}

void OperatorServer::Send(Connection& connection, const Json& answer) {
  if (connection.closed) return;
  connection.output += Dump(answer);
  Flush(connection);
}

void OperatorServer::Flush(Connection& connection) {
  while (!connection.closed && connection.output_head < connection.output.size()) {
    size_t count = 0;
    plat::LocalIo status =
        connection.stream->Write(connection.output.data() + connection.output_head,
                                 connection.output.size() - connection.output_head, &count);
    if (status == plat::LocalIo::kClosed) connection.closed = true;
    if (status != plat::LocalIo::kOk) break;
    connection.output_head += count;
  }
  if (connection.output_head == connection.output.size()) {
    connection.output.clear();
    connection.output_head = 0;
  } else if (connection.output.size() - connection.output_head > kMaxOutput) {
    // A reader that does not keep up is let go rather than held for.
    connection.closed = true;
  } else if (connection.output_head > kMaxOutput / 2) {
    connection.output.erase(0, connection.output_head);
    connection.output_head = 0;
  }
}

void OperatorServer::DeliverEvents() {
  std::deque<std::string> lines = feed_.TakeAll();
  if (lines.empty()) return;
  for (const auto& connection : connections_) {
    if (!connection->watching || connection->closed) continue;
    const std::string prefix = "{\"id\":" + Dump(connection->watch_id);
    for (const std::string& event : lines) {
      // The event and its line are already ASCII JSON ending in a line end: they go in as they
      // are, closing the object the prefix opens.
      connection->output += prefix.substr(0, prefix.size() - 1) +
                            ",\"ok\":true,\"event\":" + event.substr(0, event.size() - 1) + "}\n";
    }
    Flush(*connection);
  }
}

}  // namespace oper
