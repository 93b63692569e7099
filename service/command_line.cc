#include "service/command_line.h"

namespace tenvar::service {

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine result;
  for (const std::string& argument : arguments) {
    if (argument.empty()) continue;
    if (argument.front() != '-') {
      result.ConfigFile = argument;
    } else if (argument == "--headless") {
      result.Headless = true;
    } else if (argument == "--console") {
      result.Console = true;
    }
  }
  return result;
}

}  // namespace tenvar::service
