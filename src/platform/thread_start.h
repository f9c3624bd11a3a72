// Starting the server's long-lived threads. The system can refuse a thread (out of threads or
// memory); the standard library reports that with an exception, which start-up turns into its
// fatal message. Here it comes back as an error text that names the thread.
#pragma once

#include <functional>
#include <string>
#include <thread>

#include "platform/status.h"

namespace plat {

// Starts `body` on a new thread stored in `thread`. On failure `thread` stays empty and the
// error text is "thread(<role>): <system error text>".
Status StartThread(std::thread& thread, const std::string& role, std::function<void()> body);

// For tests: the next start of a thread for `role` fails as if the system had none to give.
void FailNextThreadStart(const std::string& role);

}  // namespace plat
