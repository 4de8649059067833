#include "port/port.h"

namespace bspp {

const char* describe(Failure failure) noexcept {
  switch (failure) {
    case Failure::none: return "printed";
    case Failure::noSuchPort: return "no such port";
    case Failure::permissionDenied: return "permission denied";
    case Failure::portBusy: return "port busy";
    case Failure::timedOut: return "timed out";
    case Failure::deviceError: return "device error";
    case Failure::noFont: return "no Chinese font";
    case Failure::outOfMemory: return "out of memory";
    case Failure::badArgument: return "bad argument";
    case Failure::internalError: return "internal error";
  }
  return "unknown failure";
}

}  // namespace bspp
