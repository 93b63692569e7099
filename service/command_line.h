// What the command line of tenvar asks for. Only arguments that start with "-" are options
// (absolute paths start with "/"); unknown options are ignored; every other argument names
// the configuration file, and the last one wins.
#pragma once

#include <string>
#include <vector>

namespace tenvar::service {

struct CommandLine {
  std::string ConfigFile;  // empty: Tenvar.ini beside the program
  bool Headless = false;
  bool Console = false;
};

CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace tenvar::service
