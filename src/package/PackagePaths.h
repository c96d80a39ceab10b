#pragma once
#include <optional>
#include <string>

// Names and cache paths of a tool package: a zip archive at a URL holding one program file at
// its top level. Texts are formed as the settings store them ("\" separators) and turned into
// file-system paths only at the end, so a cache folder written either way works.

// The file name cut at its last "."; none when it has no ".".
std::optional<std::string> PackageBaseName(const std::string& fileName);

// The URL's text after its last "/"; none when it has no "/" (an empty URL included).
std::optional<std::string> PackageArchiveName(const std::string& url);

// A stored path text as a file-system path: "\" becomes "/", and a text that starts with "\"
// is relative to the module directory (an empty cache folder therefore means the module
// directory, never the file system's root).
std::string FileSystemPathOf(const std::string& moduleDirectory, const std::string& text);

// Where one package lives in the cache.
struct PackageLocation {
    std::string folder;   // <cache>/<base>/: the extraction folder and working directory
    std::string program;  // <cache>/<base>/<file name>: present exactly when this file exists
};

// The location of `fileName` under `cacheDir`; none when the file name has no base name or an
// empty one (".exe"), holds a path separator, its base name is "." or "..", or its folder
// would carry a name the cache uses for work in progress (its staging folder included).
std::optional<PackageLocation> LocatePackage(const std::string& moduleDirectory,
                                             const std::string& cacheDir,
                                             const std::string& fileName);

// The cache folder itself with a trailing "/", the folder downloads go to.
std::string CacheFolderOf(const std::string& moduleDirectory, const std::string& cacheDir);

// The cache folder a task works in: `cacheDir` as set, or `defaultDir` when the setting is
// empty or names the module directory itself, since the installed files are never a cache.
std::string UsableCacheDir(const std::string& moduleDirectory, const std::string& cacheDir,
                           const std::string& defaultDir);
