// The library's only export.
#include "bspp.h"

#include "api/native_platform.h"

extern "C" BSPP_API unsigned char BSPP_CALL BSPPring(const char* text, int32_t lastIndex,
                                                     uint32_t waitMs, int32_t keepPage) {
  bspp::NativePlatform platform;
  return bspp::printJob(platform, text, lastIndex, waitMs, keepPage) ? 1 : 0;
}
