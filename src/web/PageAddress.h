#pragma once
#include <string>

#include "web/AddressSpelling.h"

// Where NavigatePage goes for `text`: an integer names an embedded resource of the program
// ("res://<executable>/<n>"), a text containing "http:", "https:" or "file:" is an address as
// it is,
// anything else is a path relative to the module directory ("\" becomes "/").
std::string PageTarget(const std::string& text, const std::string& executablePath,
                       const std::string& moduleDirectory);

// "file://" followed by the absolute path with every backslash turned into "/".
std::string FileUrlOf(const std::string& path);

// Pages allowed to run commands: the main page's origin (scheme, host, port of
// `mainPageUrl`), file:// pages inside `moduleDirectory`, and res:// pages. File paths are
// taken as written (see IsTrustedPage).
bool IsTrustedPageUrl(const std::string& url, const std::string& mainPageUrl,
                      const std::string& moduleDirectory);

// IsTrustedPageUrl on real paths: a file:// page counts only when its fully resolved path
// (symlinks followed) lies inside the resolved `moduleDirectory`, and only when it exists.
// This is the check for deciding what a page may do.
bool IsTrustedPage(const std::string& url, const std::string& mainPageUrl,
                   const std::string& moduleDirectory);
