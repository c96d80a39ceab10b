#pragma once
#include <string>

// Brings a per-user copy of cfg.ini up to date after the shipped file has changed (a package
// upgrade with a new skin or panel layout). The copy takes the new shipped file and keeps
// every value stored in it: all of [app] and [settings], which the program and the page
// write, and in the description sections each key whose value differs from the shipped file
// the copy was made from, that is, the user's own edits.
//
// `snapshot` holds the shipped file as the copy last took it; it is written when missing
// (the copy is then taken as current) and after each refresh. False when the copy could not
// be brought up to date; it is then left as it was.
bool RefreshUserSettings(const std::string& copy, const std::string& shipped,
                         const std::string& snapshot);
