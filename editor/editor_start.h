// Which configuration file the editor edits, and what a first start puts in its fields.
#pragma once

#include <string>
#include <vector>

#include "config/global_settings.h"

namespace tenvar::editor {

// The file named by the last argument that is not an option ("-..."), completed against
// the current directory, so the tray's Options... edits the file the running program uses;
// without one, "Tenvar.ini" beside the program.
std::string EditedFilePath(const std::string& programDirectory,
                           const std::vector<std::string>& arguments);

// The fields of a configuration that has no file yet: the log and the "Cache" folder beside
// the program, FTP port 1021, expiry 7 days; everything else empty or 0.
config::GlobalSettings FirstStartPresets(const std::string& programDirectory);

// The page the Help button opens: shipped in the "help" folder beside the program.
std::string HelpPagePath(const std::string& programDirectory);

}  // namespace tenvar::editor
