// The raw trace files the proxy appends to for every request, "./requests.txt" and
// "./responses.txt": every request and every response header block, as received, for the
// administrator's debugging. Safe from any thread; the files stay open between appends (see
// platform/append_file.h).
#pragma once

#include <cstdint>
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

}  // namespace tenvar::http
