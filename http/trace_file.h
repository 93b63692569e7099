// The raw trace files of the proxy, "./requests.txt" and "./responses.txt": every request and
// every response header block, appended as received, for the administrator's debugging.
#pragma once

#include <string_view>

namespace tenvar::http {

inline constexpr const char* kRequestTrace = "./requests.txt";
inline constexpr const char* kResponseTrace = "./responses.txt";

// Appends bytes with one write, so that concurrent sessions never interleave inside one
// entry; a file that cannot be opened is skipped silently.
void AppendTrace(const char* path, std::string_view bytes);

}  // namespace tenvar::http
