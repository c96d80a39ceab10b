#include "app/Startup.h"
#include "os/UserDirs.h"

int main() {
    // Before anything reads the environment or writes a file.
    if (!os::AdoptOwnHome()) return 1;
    InitModule();
    const int exitCode = RunApplication();
    TermModule();
    return exitCode;
}
