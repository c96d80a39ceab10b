#pragma once
#include "mainpanel/BrushWorkflow.h"
#include "mainpanel/CompanionApp.h"

#include <memory>

class CPhoneDetector;

// The workflow's real network, archive, file and launcher services: libcurl downloads, minizip
// extraction, the desktop's default action, the shared worker pool, the module directory.
// The page-facing members (notifyPage, hideMainPanel, afterStart) stay empty: the package desk
// wires them.
BrushServices RealPackageServices();

// The phone side of the companion-app steps: a phone detector of its own for each call (the
// detector keeps a list, so callers on different threads never share one), the process list
// of the system, the bridge tool runner, and real waits.
CompanionServices RealCompanionServices();
// The same over a given detector (tests hand in one over a copy of the device tree).
CompanionServices RealCompanionServices(std::shared_ptr<CPhoneDetector> detector);
