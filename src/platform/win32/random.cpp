#include "platform/random.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <cstdio>
#include <stdexcept>

namespace plat {

void FillRandom(void* buffer, size_t size) {
  const NTSTATUS status = BCryptGenRandom(nullptr, static_cast<PUCHAR>(buffer),
                                          static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (status < 0) {
    char text[64];
    std::snprintf(text, sizeof text, "BCryptGenRandom: status 0x%08lx",
                  static_cast<unsigned long>(status));
    throw std::runtime_error(text);
  }
}

}  // namespace plat
