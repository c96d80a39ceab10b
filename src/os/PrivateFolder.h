#pragma once
#include <string>

namespace os {

// Makes `path` a folder only this user can enter (mode 0700) when it is missing, and accepts
// it only as a real folder (no symlink) owned by this user, tightening a looser mode. False
// when it cannot be made or is not such a folder.
bool MakePrivateFolder(const std::string& path);

// A folder `name` only this user can reach, with a trailing "/", in the user's runtime folder
// or else the shared temporary folder. A candidate is used only when it is a real directory
// (not a symlink) owned by this user; a wider mode is narrowed to 0700. When no candidate
// qualifies (someone else planted it), a fresh uniquely named one is made. Empty when nothing
// could be made at all. The path is the resolved one (no symlinks, no doubled "/").
std::string PrivateUserFolder(const std::string& name);

}  // namespace os
