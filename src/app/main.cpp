#include "app/Startup.h"

int main() {
    InitModule();
    const int exitCode = RunApplication();
    TermModule();
    return exitCode;
}
