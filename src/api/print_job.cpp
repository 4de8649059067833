#include "api/print_job.h"

#include <new>

#ifdef __GLIBCXX__
#include <cxxabi.h>
#endif

#include "compose/glyph_bander.h"
#include "compose/line_composer.h"

namespace bspp {

std::string copyJobText(const char* text, std::int32_t lastIndex) {
  if (lastIndex < 0) return {};
  return std::string(text, static_cast<std::size_t>(lastIndex) + 1);
}

std::string composeJob(const std::string& jobText, bool keepPage, DrawSurface& surface) {
  GlyphBander bander(surface);
  return compose(jobText, keepPage, &bander);
}

namespace {

bool fail(JobReport* report, Failure failure) noexcept {
  if (report != nullptr) report->transfer.failure = failure;
  return false;
}

// The work of one call; any failure inside is thrown.
bool runJob(Platform& platform, const char* text, std::int32_t lastIndex,
            std::uint32_t waitMs, std::int32_t keepPage, JobReport* report) {
  // The port is held from the start of the call, through composition.
  std::unique_ptr<Port> port = platform.openPort();
  const std::string jobText = copyJobText(text, lastIndex);
  std::unique_ptr<DrawSurface> surface = platform.prepareSurface();
  const std::string stream = composeJob(jobText, keepPage != 0, *surface);
  // A page with blanks where its characters belong is not printed.
  if (surface->missedGlyph()) return fail(report, Failure::noFont);
  const bool ok = port->transfer(stream, waitMs);
  if (report != nullptr) {
    report->transfer = port->report();
    report->transfer.total = stream.size();
    if (ok) {
      report->transfer.failure = Failure::none;
      report->transfer.written = stream.size();
    } else if (report->transfer.failure == Failure::none) {
      report->transfer.failure = Failure::internalError;
    }
  }
  return ok;
}

}  // namespace

// The forced unwind carries no C++ object, so the handler that lets it pass
// binds its reference to null; the undefined-behaviour checker is told.
#if defined(__GLIBCXX__) && defined(__GNUC__)
__attribute__((no_sanitize("null")))
#endif
bool printJob(Platform& platform, const char* text, std::int32_t lastIndex,
              std::uint32_t waitMs, std::int32_t keepPage, JobReport* report) {
  if (report != nullptr) *report = JobReport{};
  if (text == nullptr && lastIndex >= 0) return fail(report, Failure::badArgument);
  try {
    return runJob(platform, text, lastIndex, waitMs, keepPage, report);
#ifdef __GLIBCXX__
  } catch (abi::__forced_unwind&) {
    // The caller's thread is being cancelled (pthread_cancel) while the port
    // waits: the unwinding has released everything of the call on its way
    // here and must go on to the thread's end. Swallowing it would abort the
    // whole process.
    throw;
#endif
  } catch (const std::bad_alloc&) {
    return fail(report, Failure::outOfMemory);
  } catch (...) {
    return fail(report, Failure::internalError);
  }
}

}  // namespace bspp
