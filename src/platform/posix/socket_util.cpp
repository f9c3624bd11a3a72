#include "platform/posix/socket_util.h"

#include <string.h>

namespace plat {

std::string SocketErrorText(const char* call, Endpoint endpoint, int error) {
  return std::string(call) + "(" + endpoint.ToString() + "): " + strerror(error);
}

}  // namespace plat
