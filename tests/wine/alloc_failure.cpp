// Every allocation of one call failed in turn, with the real GDI raster and
// the port on the scripted kernel: each gives false, closes both port
// handles and gives back every GDI object.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include "alloc_failure.h"
#include "api/print_job.h"
#include "compose/glyph_surface.h"
#include "port/lpt_port.h"
#include "scripted_kernel.h"

namespace {

long made = 0;
long failAt = 0;  // 0: fail none
bool armed = false;

void* allocate(std::size_t size) {
  if (armed && ++made == failAt) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

class GdiPlatform final : public bspp::Platform {
 public:
  std::unique_ptr<bspp::Port> openPort() override { return bspp::openPort("LPT1"); }
  std::unique_ptr<bspp::DrawSurface> prepareSurface() override {
    return bspp::prepareGlyphSurface();
  }
};

bool printWithFailure(long k) {
  static const char text[] = "AB\xB0\xA1" "C \xD6\xD0\xCE\xC4";
  bspp::test::script(bspp::test::Script{});
  GdiPlatform platform;
  made = 0;
  failAt = k;
  armed = true;
  const bool result = bspp::printJob(platform, text, sizeof text - 2, 0, 0);
  armed = false;
  return result;
}

}  // namespace

void* operator new(std::size_t size) {
  if (void* p = allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept {
  bspp::test::noteFree(p);
  std::free(p);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

void allocationFailureTests(Check check) {
  const DWORD gdiBefore = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
  check(printWithFailure(0), "allocation failure", "the call succeeds with no failure");
  const long total = made;
  check(total > 0, "allocation failure", "the call allocates");
  for (long k = 1; k <= total; ++k) {
    const bool result = printWithFailure(k);
    check(!result, "allocation failure", "false when an allocation fails");
    const auto& j = bspp::test::journal();
    check(j.handlesOpen == 0 && j.badCloses == 0, "allocation failure",
          "both port handles closed once");
  }
  check(::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS) == gdiBefore,
        "allocation failure", "every GDI object given back");
  std::printf("allocation failure: %ld allocations, each failed in turn\n", total);
}
