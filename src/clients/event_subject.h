// What an event report says of the client concerned. The client implements it; the server's
// event hook asks for the text only when a report goes anywhere.
#pragma once

#include <string>

namespace clients {

class EventSubject {
 public:
  // " ClientId: " + PlayerNo + 1 + " ClientName: " + name
  virtual std::string EventClientPart() const = 0;

 protected:
  ~EventSubject() = default;
};

}  // namespace clients
