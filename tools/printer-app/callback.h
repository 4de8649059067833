// PAPPL is C: nothing thrown may cross into it. Each callback's work runs
// through one of these.
#pragma once

#include <pappl/pappl.h>

#include <exception>
#include <new>

namespace bspp::printer_app {

// The work's result, or `fallback` when it throws.
template <typename Result, typename Work>
Result orElse(Result fallback, Work&& work) noexcept {
  try {
    return work();
  } catch (...) {
    return fallback;
  }
}

// A job's work: anything thrown ends the job, aborted, with a message that
// says what happened.
template <typename Work>
bool guarded(pappl_job_t* job, Work&& work) noexcept {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    papplJobSetMessage(job, "The server ran out of memory; the job was not printed.");
  } catch (const std::exception& e) {
    papplJobSetMessage(job, "The job failed: %s", e.what());
  } catch (...) {
    papplJobSetMessage(job, "The job failed.");
  }
  return false;
}

}  // namespace bspp::printer_app
