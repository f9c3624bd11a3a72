// UTF-8 text, as the rest of the server keeps paths, to and from the UTF-16 the wide Win32 calls
// take.
#pragma once

#include <string>

namespace plat {

std::wstring Widened(const std::string& text);
std::string Narrowed(const std::wstring& text);

}  // namespace plat
