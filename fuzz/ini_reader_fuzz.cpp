// Arbitrary text as a configuration file: every read of the server's keys, then a version
// rewrite's worth of writes and erasures, then the text back.
#include <cstdint>
#include <string>

#include "platform/ini_file.h"
#include "platform/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  plat::IniFile ini = plat::IniFile::Parse("/nonexistent/plserver.ini", text);
  static const char* const kSections[] = {"Version", "Passwords", "General",  "Networking",
                                          "Ping",    "WebStatus", "Channels", "Security"};
  static const char* const kKeys[] = {
      "ServerVersion", "ServerPassword", "MaxClients", "TCPPort", "IP", "0", "1", "Active"};
  for (const char* section : kSections) {
    for (const char* key : kKeys) {
      ini.ReadString(section, key, "default");
      ini.ReadInteger(section, key, 16);
      ini.ReadBool(section, key, true);
    }
  }
  plat::ParseIniInteger(text.substr(0, 64));
  const std::string password = text.substr(0, 30);
  // A UTF-16 file refuses a byte that Windows-1252 gives no character, as it refuses a line break.
  const bool storable = ini.CanStore(password);
  ini.EraseSection("Passwords");
  ini.WriteString("Passwords", "ServerPassword", password);
  ini.WriteInteger("General", "MaxClients", static_cast<int32_t>(size));
  ini.EraseSection("Channels");
  ini.WriteString("Channels", "0", "Lobby");
  // A value that cannot be stored is refused (the commit would fail); the document holds the rest.
  // The file gets the document in the encoding it was read in, as the commit stores it.
  const plat::TextEncoding encoding = plat::DecodeText(text).encoding;
  const std::string written = plat::EncodeText(ini.Text(), encoding);
  // What was written must read back, whatever blanks and quotes it has. (A plain text that
  // begins with the bytes of a byte-order mark would be read as marked: not what this checks.)
  if (encoding == plat::TextEncoding::kPlain &&
      (written.rfind("\xEF\xBB\xBF", 0) == 0 || written.rfind("\xFF\xFE", 0) == 0)) {
    return 0;
  }
  plat::IniFile again = plat::IniFile::Parse("/nonexistent/plserver.ini", written);
  if (again.ReadString("Channels", "0", "") != "Lobby") __builtin_trap();
  if (storable && again.ReadString("Passwords", "ServerPassword", "") != password) {
    __builtin_trap();
  }
  return 0;
}
