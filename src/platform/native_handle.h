// The operating system's handle of a socket or a waitable object, in a type that holds the
// handles of every platform the server builds for (descriptors on POSIX, SOCKET and HANDLE
// values on Windows).
#pragma once

#include <cstdint>

namespace plat {

using NativeHandle = intptr_t;
inline constexpr NativeHandle kNoHandle = -1;

}  // namespace plat
