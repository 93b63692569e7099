// The Content-Type an item is served with when only its name is known (cached items and
// ftp:// files carry no headers of their own).
#pragma once

#include <string_view>

namespace tenvar::cache {

std::string_view ContentTypeFor(std::string_view fileName);

}  // namespace tenvar::cache
