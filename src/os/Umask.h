#pragma once

namespace os {

// The process's file-creation mask.
unsigned CurrentUmask();

}  // namespace os
