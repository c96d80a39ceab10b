#pragma once
#include <string>

namespace os {

// Bytes a child program printed in the user's locale encoding, as UTF-8. Bytes that are not
// valid in that encoding become U+FFFD; in a non-UTF-8 locale that cannot convert them, they
// are read as UTF-8 instead, since that is what Linux tools print far more often.
std::string LocaleToUtf8(const std::string& bytes);

}  // namespace os
