#pragma once
#include <string>

#include "panel/ImageRegistry.h"

// Registers every skin image of the [resource] list: entries "1".."total", each a path relative
// to `moduleDirectory` beginning with "\", under the key of its number. An entry that cannot be
// loaded is skipped silently; a total of 0 or less registers nothing. Into the process's
// registry unless another is given.
void RegisterResourceList(const std::string& settingsPath, const std::string& moduleDirectory,
                          ImageRegistry& registry = GetImageRegistry());
