#include "platform/process_resources.h"

#include <windows.h>

namespace plat {

// The Windows build serves no metrics; only the handle count is cheap to tell without psapi.
ProcessResources CurrentProcessResources() {
  ProcessResources resources;
  DWORD handles = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &handles)) resources.open_descriptors = handles;
  return resources;
}

const char* PlatformName() {
  return "windows";
}

}  // namespace plat
