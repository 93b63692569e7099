// The files the proxy appends to for every request: the raw trace files "./requests.txt" and
// "./responses.txt" (every request and every response header block, as received, for the
// administrator's debugging), and the logs, which append whole lines under a lock other
// programs honour. Safe from any thread. The files stay open between appends, yet each
// append lands in the file its path names at that moment: a file that was removed, renamed
// or replaced is opened afresh, just as opening the path for every append would.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tenvar::http {

inline constexpr const char* kRequestTrace = "./requests.txt";
inline constexpr const char* kResponseTrace = "./responses.txt";

// A trace file past this size is renamed to "<name>.1" (replacing the previous one) and a
// new one is started, so the traces never fill the disk.
inline constexpr std::uint64_t kTraceRollBytes = 64ull << 20;

// Appends bytes with one write, so that concurrent sessions never interleave inside one
// entry; a file that cannot be opened is skipped silently. Trace files hold cookies and
// passwords: only the owner may read them (mode 0600, also for a file found with wider
// permissions).
void AppendTrace(const char* path, std::string_view bytes,
                 std::uint64_t rollBytes = kTraceRollBytes);

// Appends `line` (created when missing) while holding an exclusive flock() on the file. A
// file that cannot be opened or that another program holds locked is tried five times at
// once, then the line is dropped: false. An empty path writes nothing and gives false.
bool AppendLockedLine(const std::string& path, std::string_view line);

}  // namespace tenvar::http
