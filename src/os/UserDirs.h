#pragma once
#include <string>

namespace os {

// The home folder the program may write under: $HOME when it is a folder of the effective
// user's, else that user's home from the password database when it is; empty when neither is.
std::string HomeDirectory();

// Run first at start, before any thread: when $HOME is not the effective user's (as under
// "sudo -E"), HOME becomes that user's own home, and the XDG folder variables that point into
// another user's folders are removed, so that neither the program nor GLib, GTK or WebKit write
// there; logged with the reason. False (logged to standard error only) when the user has no
// home of their own: the program then ends without writing anything.
bool AdoptOwnHome();

// The user's own folders for the program's configuration, cache and state, as the desktop
// names them, each only when it lies in a folder of the effective user's. Read afresh on every
// call, so a change of the environment shows at once. Empty when no home is known.
std::string UserConfigDirectory();
std::string UserCacheDirectory();
std::string UserStateDirectory();

}  // namespace os
