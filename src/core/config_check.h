// plserver --check-config: reads the configuration file exactly as start-up would and reports
// the settings in force and every warning, without binding a port or writing any file.
#pragma once

#include <string>

#include "core/configuration.h"
#include "core/server_events.h"
#include "core/servermain.h"
#include "core/setting_checks.h"

namespace core {

// Every problem the check finds in a file read as `read`: the warnings of the reading, the
// check's own findings about the file as written, and what would stop start-up (an IP that is
// no IPv4 address of this machine, more rooms than the server holds, a version rewrite the file
// cannot take). The well-known default administrator password is not among them.
SettingWarnings ConfigurationProblems(const plat::IniFile& ini, const FileSettings& read);

// The report goes to `out`. Returns the exit code: 0 when the file holds no warning, 1
// otherwise (also when the file is missing or unreadable).
int CheckConfiguration(const StartupEnvironment& environment, std::string& out);

// The warning's event line ("warning setting section=... key=... value=... used=...").
EventLine SettingWarningLine(const SettingWarning& warning);

}  // namespace core
