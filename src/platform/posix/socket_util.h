// The POSIX socket helpers: error texts (the address conversions are in socket_address.h).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <string>

#include "platform/endpoint.h"
#include "platform/socket_address.h"

namespace plat {

std::string SocketErrorText(const char* call, Endpoint endpoint, int error);

}  // namespace plat
