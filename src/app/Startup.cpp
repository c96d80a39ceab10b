#include "app/Startup.h"

// Placeholder until the start-up sequence lands.
void InitModule() {}
int RunApplication() { return 0; }
void TermModule() {}
