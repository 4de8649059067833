// The "parallel" device scheme: parallel:/dev/lp0 (any character device
// that a parallel or USB printer port appears as, such as /dev/usb/lp0),
// written through the library's own port code and held for the job.
#pragma once

#include <functional>

namespace bspp::printer_app {

// Registers the scheme with PAPPL. Call once, before papplMainloop.
void addParallelScheme();

// While one lives on a thread, the parallel device's writes made on that
// thread ask `stop` now and then while the printer takes nothing, and give
// up when it answers true: a job canceled on a printer that is stuck ends
// within about a second.
class StopWhile {
 public:
  explicit StopWhile(std::function<bool()> stop);
  StopWhile(const StopWhile&) = delete;
  StopWhile& operator=(const StopWhile&) = delete;
  ~StopWhile();

 private:
  std::function<bool()> saved_;
};

}  // namespace bspp::printer_app
