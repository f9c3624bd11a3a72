// The operating system's cryptographic random source (getrandom on POSIX, BCryptGenRandom on
// Windows), for what nobody may foresee: the client Ids that tie voice datagrams to players. It
// needs no seed and gives another sequence in every process.
#pragma once

#include <cstddef>

namespace plat {

// Fills `size` bytes. Throws std::runtime_error with the system's reason when the source fails
// (which a working system never does): nothing guessable is ever handed out instead.
void FillRandom(void* buffer, size_t size);

}  // namespace plat
