#include <new>
#include <string>

#include "decoders.h"
#include "picture.h"
#include "picture_limits.h"

namespace bspp::picture {

void checkSize(const char* format, const PictureSize& size) {
  const std::string picture = std::string("the ") + format + " picture is " + std::to_string(size.width) + " x " +
                              std::to_string(size.height) + " pixels, more than ";
  if (size.width > kMaxPictureSide || size.height > kMaxPictureSide) {
    throw Error(picture + std::to_string(kMaxPictureSide) + " on a side");
  }
  if (size.width * size.height > kMaxPicturePixels) {
    throw Error(picture + std::to_string(kMaxPicturePixels / 1000000) + " million in all");
  }
}

Rendering renderingFor(Content content, bool drawn) {
  switch (content) {
    case Content::photo: return Rendering::tone;
    case Content::graphics:
    case Content::text: return Rendering::lineArt;
    case Content::automatic: break;
  }
  return drawn ? Rendering::lineArt : Rendering::tone;
}

void sendPage(const Grid& grid, Rendering rendering, Job& job) {
  job.out.beginPage();
  printGrid(grid, rendering, job.out);
  job.out.endPage();
  if (job.out.open()) ++job.result.pages;
}

PicturePage::PicturePage(Job& job, const PictureSize& stored, const Placement& placement, long long width,
                         long long height, bool drawn)
    : job_(job),
      rendering_(renderingFor(job.options.content, drawn)),
      grid_(job.form.dotsAcross, job.form.pinRows),
      canvas_(grid_, width, placement.xMap(stored, width, job.form), placement.yMap(stored, height, job.form),
              placement.xAlongRows, rendering_ == Rendering::lineArt) {}

Result printPicture(Format format, Reader& reader, const Options& options, const Sink& sink) {
  const Form form = formOf(options);
  Result result;
  JobWriter out(form, sink);
  Job job{options, form, out, result};
  Input input(reader);
  try {
    switch (format) {
      case Format::png: printPng(input, job); break;
      case Format::jpeg: printJpeg(input, job); break;
      case Format::pwgRaster: printPwgRaster(input, job); break;
      case Format::appleRaster: printAppleRaster(input, job); break;
    }
  } catch (const Error& e) {
    if (result.pages == 0) throw;
    const std::string printed = std::to_string(result.pages) + (result.pages == 1 ? " page was" : " pages were");
    throw Error(std::string(e.what()) + "; " + printed + " printed before it");
  } catch (const std::bad_alloc&) {
    throw Error("the server had no memory left for the picture");
  }
  result.stopped = !out.open();
  return result;
}

}  // namespace bspp::picture
