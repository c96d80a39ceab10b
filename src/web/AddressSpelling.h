#pragma once
#include <string>

// `url` in the form a browser reports it: scheme and host in lower case, an IPv4 host as a
// dotted quad ("127.1" is 127.0.0.1), the port without leading zeros and left out when it is
// the scheme's default (or empty), an empty path as "/", "." and ".." segments resolved,
// percent-escapes of unreserved characters decoded, the rest in upper-case hex, and blanks,
// controls, bytes beyond ASCII and a "%" that starts no escape escaped. Texts without "scheme://",
// and addresses whose host or port no browser would take, come back as they are. The form is its
// own canonical form.
std::string CanonicalAddress(const std::string& url);

// Whether two addresses name the same page (CanonicalAddress of both), so a failure reported
// for the browser's spelling of an address is recognised as the one asked for.
bool SameAddress(const std::string& a, const std::string& b);
