// ftp:// items for browsers: the session logs in to the FTP server as a passive-mode
// client, fetches the file or the directory listing into a temporary file and sends it on
// as one HTTP answer. Runs on the session's own thread; the PWD reply parser and the path
// helpers are pure functions, safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "http/http_session.h"
#include "http/session_context.h"

namespace tenvar::http {

// The directory a PWD reply names between its first two double quotes; a doubled quote
// inside the name stands for one.
std::optional<std::string> ParseDirectoryReply(std::string_view reply);

// The full path of a URL's path (relative to the login directory) in `directory`.
std::string FtpPathIn(std::string_view directory, std::string_view path);

// "PASS ...\r\n" for the login: the anonymous default password goes with a "-" in front
// (which asks servers for short replies), a password from the URL exactly as given.
std::string FtpPassCommand(std::string_view user, std::string_view password);

// Serves an analysed ftp:// request (Host, Port, Path, FtpUser and FtpPassword filled) and
// answers the browser: the item, or a 502 with the server's refusal, or the 503 of dial on
// demand. The temporary file is gone again when this returns.
void RetrieveFtpItem(SessionContext& context, HttpSession& session);

}  // namespace tenvar::http
