#include "editor/editor_start.h"

#include "platform/paths.h"

namespace tenvar::editor {

std::string EditedFilePath(const std::string& programDirectory,
                           const std::vector<std::string>& arguments) {
  std::string named;
  for (const std::string& argument : arguments) {
    if (!argument.empty() && argument.front() != '-') named = argument;
  }
  if (!named.empty()) return platform::FullPath(named);
  return programDirectory.empty() ? "Tenvar.ini" : programDirectory + "/Tenvar.ini";
}

config::GlobalSettings FirstStartPresets(const std::string& programDirectory) {
  config::GlobalSettings presets;
  presets.Timeout = 0;  // the dialog starts from empty fields; only these four are preset
  presets.LogFile = programDirectory + "/Tenvar.log";
  presets.CacheDir = programDirectory + "/Cache";
  presets.FTPPort = 1021;
  presets.CacheExpiry = 7;
  return presets;
}

std::string HelpPagePath(const std::string& programDirectory) {
  return (programDirectory.empty() ? std::string(".") : programDirectory) + "/help/tenvarc.html";
}

}  // namespace tenvar::editor
