#pragma once
#include "package/BrushWorkflow.h"

// The workflow's real network, archive, file and launcher services: libcurl downloads, minizip
// extraction, the desktop's default action, the shared worker pool, the module directory.
// The page-facing members (notifyPage, hideMainPanel, afterStart) stay empty: the package desk
// wires them.
BrushServices RealPackageServices();
