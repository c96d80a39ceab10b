#include "os/OsName.h"

namespace os {

std::string OsName() {
    return "unknown system";
}

}  // namespace os
