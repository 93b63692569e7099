// Where the program lives and how argument paths become full paths.
#pragma once

#include <string>

namespace tenvar::platform {

// The folder of the running executable, without a trailing "/"; "." when it cannot be told.
std::string ProgramDirectory();

// An argument path completed against the current directory (the file need not exist).
std::string FullPath(const std::string& path);

// Creates every missing directory level of `directory`; true when it exists afterwards.
bool CreateDirectories(const std::string& directory);

}  // namespace tenvar::platform
