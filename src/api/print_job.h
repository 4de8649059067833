// One print job, from the caller's bytes to the port, on any platform.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "compose/draw_surface.h"
#include "port/port.h"

namespace bspp {

// What a platform provides for one call.
class Platform {
 public:
  virtual ~Platform() = default;
  // Opens the printer port for exclusive use.
  virtual std::unique_ptr<Port> openPort() = 0;
  // Prepares the raster and font for double-byte characters; a surface
  // that cannot draw a character reports it (DrawSurface::missedGlyph).
  virtual std::unique_ptr<DrawSurface> prepareSurface() = 0;
};

// Copies text[0..lastIndex] (nothing when lastIndex is negative).
std::string copyJobText(const char* text, std::int32_t lastIndex);

// Composes the whole job stream for `jobText`, drawing on `surface`.
std::string composeJob(const std::string& jobText, bool keepPage, DrawSurface& surface);

// What a call did, for callers that want more than the boolean.
struct JobReport {
  TransferReport transfer;  // failure is Failure::none when printed
  bool printed() const { return transfer.failure == Failure::none; }
};

// The whole call: open the port, copy the text, prepare the surface, compose,
// transfer, release. Returns the transfer's outcome; false, with everything
// released, on a NULL text with lastIndex >= 0, on running out of memory, on
// a character no font can draw (nothing is sent then) or on any other
// failure inside. `report`, when given, receives why.
//
// Throws nothing. The one thing that passes through is the unwinding of a
// thread cancelled while the port waits (glibc's forced unwind), which
// releases the port and everything else of the call on its way out; so
// neither this function nor the exported call is declared noexcept.
bool printJob(Platform& platform, const char* text, std::int32_t lastIndex,
              std::uint32_t waitMs, std::int32_t keepPage,
              JobReport* report = nullptr);

}  // namespace bspp
