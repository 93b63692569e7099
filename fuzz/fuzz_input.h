// Helpers shared by the fuzz targets: splitting one input into pieces, and a private
// directory for the targets that must go through files. Single-threaded, like libFuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/temp_dir.h"

namespace tenvar::fuzz {

// The input as text, and a cursor that cuts it into the pieces a target needs.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}

  // The text up to the next NUL byte (taken off, NUL included), or everything left.
  std::string_view TakePiece() {
    const std::size_t end = rest_.find('\0');
    const std::string_view piece = rest_.substr(0, end);
    rest_ = end == std::string_view::npos ? std::string_view() : rest_.substr(end + 1);
    return piece;
  }

  std::uint64_t TakeNumber() {
    std::uint64_t value = 0;
    for (int i = 0; i < 8 && !rest_.empty(); ++i) {
      value = value << 8 | static_cast<unsigned char>(rest_.front());
      rest_.remove_prefix(1);
    }
    return value;
  }

  std::string_view Rest() const { return rest_; }

 private:
  std::string_view rest_;
};

// One directory for the whole run; libFuzzer runs each process's inputs one at a time.
inline const platform::TempDir& RunDirectory() {
  static const platform::TempDir dir;
  return dir;
}

// A property every input must keep; a violation aborts, which libFuzzer reports as a crash
// with the input that caused it.
inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz property violated: %s\n", what);
  std::abort();
}

}  // namespace tenvar::fuzz
