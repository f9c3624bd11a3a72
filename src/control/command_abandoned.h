// A command that cannot go on (a room or player byte of 0): the pass ends with no reply, as any
// failure inside a handler ends it.
#pragma once

#include <stdexcept>

namespace control {

class CommandAbandoned : public std::runtime_error {
 public:
  CommandAbandoned() : std::runtime_error("command abandoned") {}
};

}  // namespace control
