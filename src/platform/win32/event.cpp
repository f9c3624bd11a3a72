#include "platform/event.h"

#include <windows.h>

#include <new>

namespace plat {

AutoResetEvent::AutoResetEvent() : handle_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  // The relay thread cannot run without its event: start-up treats this like any allocation
  // failure.
  if (handle_ == nullptr) throw std::bad_alloc();
}

AutoResetEvent::~AutoResetEvent() {
  CloseHandle(handle_);
}

void AutoResetEvent::Set() {
  SetEvent(handle_);
}

void AutoResetEvent::Wait() {
  WaitForSingleObject(handle_, INFINITE);
}

bool AutoResetEvent::WaitFor(uint32_t timeout_ms) {
  // INFINITE is 0xFFFFFFFF: a caller's largest finite wait stays finite.
  DWORD wait = timeout_ms == INFINITE ? INFINITE - 1 : timeout_ms;
  return WaitForSingleObject(handle_, wait) == WAIT_OBJECT_0;
}

}  // namespace plat
