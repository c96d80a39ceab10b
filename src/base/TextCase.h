#pragma once
#include <string>

// Case folding of ASCII A-Z only: names in cfg.ini, member names, image names.
char AsciiLower(char c);
std::string AsciiLowerCopy(const std::string& s);
bool EqualsNoCase(const std::string& a, const std::string& b);
