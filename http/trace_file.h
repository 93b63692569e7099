// The files the proxy appends to for every request: the raw trace files "./requests.txt" and
// "./responses.txt" (every request and every response header block, as received, for the
// administrator's debugging), and the logs, which append whole lines under a lock other
// programs honour. Safe from any thread. The files stay open between appends, yet each
// append lands in the file its path names at that moment: a file that was removed, renamed
// or replaced is opened afresh, just as opening the path for every append would.
#pragma once

#include <string>
#include <string_view>

namespace tenvar::http {

inline constexpr const char* kRequestTrace = "./requests.txt";
inline constexpr const char* kResponseTrace = "./responses.txt";

// Appends bytes with one write, so that concurrent sessions never interleave inside one
// entry; a file that cannot be opened is skipped silently.
void AppendTrace(const char* path, std::string_view bytes);

// Appends `line` (created when missing) while holding an exclusive flock() on the file. A
// file that cannot be opened or that another program holds locked is tried five times at
// once, then the line is dropped: false. An empty path writes nothing and gives false.
bool AppendLockedLine(const std::string& path, std::string_view line);

}  // namespace tenvar::http
