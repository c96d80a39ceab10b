#pragma once

// Environment set-up before anything else; never stops start-up.
void InitModule();

// Everything from the single-instance lock to the end of the message loop; the exit code.
int RunApplication();

void TermModule();
