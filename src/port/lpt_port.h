// The platform's printer port.
#pragma once

#include <memory>

#include "port/port.h"

namespace bspp {

// The first parallel port: "LPT1" on Windows, /dev/lp0 elsewhere.
extern const char* const kFirstParallelPort;

// Opens `device` for exclusive writing. Never fails here: a port that could
// not be opened answers false from its transfer, after the wait.
std::unique_ptr<Port> openPort(const char* device);

}  // namespace bspp
