#pragma once
#include <memory>

#include "mainpanel/CompanionApp.h"

class CPhoneDetector;

// The phone side of the companion-app steps: a phone detector of its own for each call (the
// detector keeps a list, so callers on different threads never share one), the process list
// of the system, the bridge tool runner, and real waits.
CompanionServices RealCompanionServices();
// The same over a given detector (tests hand in one over a copy of the device tree).
CompanionServices RealCompanionServices(std::shared_ptr<CPhoneDetector> detector);
