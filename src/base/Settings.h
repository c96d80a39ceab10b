#pragma once
#include <string>
#include <utility>
#include <vector>

// Access to cfg.ini. Every call looks at the file, so a value written anywhere is seen by the
// next read anywhere, and a hand edit takes effect at once; the parse of an unchanged file is
// reused, so a large file costs one parse per change.

// The running executable's folder, without a trailing separator.
std::string ModuleDirectory();

// Joins a module-relative text such as "\res\web\brush.html" onto `dir`, turning "\" into "/".
std::string JoinModulePath(const std::string& dir, const std::string& relative);

// Linux paths have no short form; kept so callers read the same on every platform.
std::string ShortPathOf(const std::string& path);

// ModuleDirectory() + "/cfg.ini", computed once at start and handed to every panel.
std::string SettingsPathFor(const std::string& moduleDirectory);

// A key that no write could store (see WriteSettingString) reads as `defaultValue`.
std::string ReadSettingString(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& defaultValue = {});

// Every key of `section` with its value as ReadSettingString gives it, in file order; one
// read of the file for callers that walk a whole section.
std::vector<std::pair<std::string, std::string>> ReadSettingSection(const std::string& file,
                                                                    const std::string& section);

// The decimal number at the start of the value; 0 (also "no number") reads as `defaultValue`.
int ReadSettingInt(const std::string& file, const std::string& section, const std::string& key,
                   int defaultValue = 0);

// Creates file, section and key as needed; the file is replaced atomically (through a symlink:
// the file it points at, in its own folder). Nonzero on success. A file that is not a regular
// file, cannot be read, or that the user made read-only is never replaced: 0.
// Writes nothing and gives 0 for a key that would not read back as itself: empty, with a line
// break, "=" or blanks at either end, or starting with "[".
int WriteSettingString(const std::string& file, const std::string& section, const std::string& key,
                       const std::string& value);
