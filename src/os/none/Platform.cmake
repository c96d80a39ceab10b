# No platform: the logic and its unit tests alone, with no toolkit at all. Every facility here
# either works with the C++ standard library only or reports that it is not supported.
