// Deleting a folder with everything in it, the folder itself included (the editor's cache
// flush).
#pragma once

#include <string>

namespace tenvar::platform {

// Deletes every file and folder below `folder`, then `folder`. Read-only files go too, and
// folders without write permission are given it first. Symbolic links inside are removed as
// links and never followed, so nothing outside the folder is touched; `folder` itself may be
// a link, whose target's contents are then deleted (the link stays). Errors are ignored: what
// cannot be deleted stays, and so do the folders above it.
void DeleteTree(const std::string& folder);

}  // namespace tenvar::platform
