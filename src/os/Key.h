#pragma once

namespace os {

// The keys the panels act on; every other key arrives as Key::Other.
enum class Key : unsigned { Other, Escape, F5 };

// Modifiers held with a key, as flags.
inline constexpr unsigned kModifierNone = 0;
inline constexpr unsigned kModifierShift = 1u << 0;
inline constexpr unsigned kModifierControl = 1u << 1;
inline constexpr unsigned kModifierAlt = 1u << 2;

// A key press or release seen by a window before what it holds gets it.
struct KeyEvent {
    Key key = Key::Other;
    bool pressed = true;  // false for a release
    unsigned modifiers = kModifierNone;
};

}  // namespace os
