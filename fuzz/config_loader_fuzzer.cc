// The configuration loader on arbitrary files: the first piece of the input is the
// configuration file, the second the block file its BlockFile lines are pointed at (a
// configuration may name any file, so the fuzzer keeps it to one of its own). Every input
// is loaded into a fresh configuration and then read again over it, as a re-read after a
// change does.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "fuzz/fuzz_input.h"
#include "platform/text.h"

namespace {

using tenvar::fuzz::FuzzInput;
using tenvar::fuzz::Require;
using tenvar::fuzz::RunDirectory;

class RecordingMessages : public tenvar::config::MessageSink {
 public:
  void ShowMessage(std::string_view text, std::string_view caption) override {
    std::lock_guard lock(lock_);
    lines_.push_back(std::string(caption) + ": " + std::string(text));
  }

 private:
  std::mutex lock_;
  std::vector<std::string> lines_;
};

// The configuration with every BlockFile line naming `blockFile` instead.
std::string PointBlockFiles(std::string_view text, const std::string& blockFile) {
  std::string result;
  for (const std::string& line : tenvar::platform::SplitLines(text)) {
    if (tenvar::platform::StartsWithIgnoreCase(tenvar::platform::Trim(line), "BlockFile")) {
      result += "BlockFile " + blockFile + "\n";
    } else {
      result += line + "\n";
    }
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::string_view configuration = input.TakePiece();
  const std::string_view blockFile = input.Rest();

  const std::string blockPath = RunDirectory().Write("block.txt", blockFile);
  const std::string path =
      RunDirectory().Write("Tenvar.ini", PointBlockFiles(configuration, blockPath));

  RecordingMessages messages;
  tenvar::config::Configuration loaded(path, RunDirectory().Path(), messages,
                                       [] { return std::string("provider"); });
  const bool completed = tenvar::config::LoadConfiguration(loaded);
  const bool again = tenvar::config::LoadConfiguration(loaded);
  Require(completed == again, "a second load of the same file ends the same way");
  for (const auto& proxy : *loaded.HttpProxies.Load()) {
    Require(proxy->Options() != nullptr, "every listed instance has its options");
  }
  tenvar::config::CheckConfigurationChanged(loaded);
  return 0;
}
