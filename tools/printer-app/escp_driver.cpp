#include "escp_driver.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "callback.h"
#include "compose/escp.h"
#include "compose/glyph_surface.h"
#include "lp_device.h"
#include "pappl_fixes.h"
#include "picture/picture.h"
#include "port/port.h"
#include "text_path.h"

namespace bspp::printer_app {
namespace {

pappl_pr_driver_t gDrivers[] = {
    {kDriverName, kDriverDescription, "MFG:EPSON;CMD:ESCP;", nullptr},
};

const char* const kMedia[] = {
    "na_letter_8.5x11in",       // continuous forms 8.5 x 11 in, and letter
    "na_fanfold-eur_8.5x12in",  // continuous forms 8.5 x 12 in
    "iso_a4_210x297mm",
};

// ---------------------------------------------------------------- output

// Enough NULs to complete any graphics command the stream was cut in (a
// band record carries at most 972 data bytes; a printer ignores a NUL
// elsewhere), then back to the left margin and off the cut page, so that
// the next job starts clean.
constexpr std::size_t kCutPadding = 980;

std::size_t bytesWritten(pappl_device_t* device) {
  pappl_devmetrics_t metrics{};
  papplDeviceGetMetrics(device, &metrics);
  return metrics.write_bytes;
}

// What the device's state reasons say about a failed write.
std::string reasonsText(pappl_preason_t reasons) {
  std::string text;
  const auto add = [&text](const char* what) {
    text += text.empty() ? std::string(what) : std::string(", ") + what;
  };
  if ((reasons & PAPPL_PREASON_MEDIA_EMPTY) != 0) add("out of paper");
  if ((reasons & PAPPL_PREASON_MEDIA_JAM) != 0) add("paper jam");
  if ((reasons & PAPPL_PREASON_OFFLINE) != 0) add("off line");
  return text;
}

// A job's stream on its way to the device, a piece at a time. It stops when
// the job is canceled (also while a stuck printer takes nothing) or when
// the device fails, with the job's message saying why; a job is done only
// when the device took every byte.
class JobOutput {
 public:
  JobOutput(pappl_job_t* job, pappl_device_t* device)
      : job_(job),
        device_(device),
        before_(bytesWritten(device)),
        stop_([job] { return papplJobIsCanceled(job); }) {}

  // Sends `bytes`; false when the job is to stop.
  bool send(std::string_view bytes) {
    constexpr std::size_t kPiece = 64 * 1024;
    while (!bytes.empty()) {
      if (papplJobIsCanceled(job_)) return cut();
      const std::size_t n = std::min(bytes.size(), kPiece);
      if (papplDeviceWrite(device_, bytes.data(), n) != static_cast<ssize_t>(n)) return failed();
      offered_ += n;
      bytes.remove_prefix(n);
    }
    return true;
  }

  // After the last piece: true when the device took every byte.
  bool finish() {
    if (papplJobIsCanceled(job_)) return cut();
    papplDeviceFlush(device_);
    if (taken() < offered_) return failed();
    updateReasons();
    return true;
  }

  const std::function<bool(std::string_view)> sink() {
    return [this](std::string_view bytes) { return send(bytes); };
  }

 private:
  std::size_t taken() const { return bytesWritten(device_) - before_; }

  pappl_preason_t updateReasons() {
    const pappl_preason_t reasons = papplDeviceGetStatus(device_);
    papplPrinterSetReasons(papplJobGetPrinter(job_), reasons, PAPPL_PREASON_DEVICE_STATUS & ~reasons);
    return reasons;
  }

  bool failed() {
    papplDeviceFlush(device_);
    const pappl_preason_t reasons = updateReasons();
    if (!papplJobIsCanceled(job_)) {
      TransferReport report;
      report.failure = Failure::deviceError;
      report.written = std::min(taken(), offered_);
      report.total = offered_;
      FailureWords words = failureWords(report, papplPrinterGetDeviceURI(papplJobGetPrinter(job_)),
                                        kWaitUntilWritten);
      if (words.detail.empty()) words.detail = reasonsText(reasons);
      std::string message = words.phrase() + "; the job was not finished.";
      message[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(message[0])));
      papplJobSetMessage(job_, "%s", message.c_str());
    }
    return false;
  }

  // A canceled job leaves the printer at the start of a clean page.
  bool cut() {
    papplDeviceFlush(device_);
    if (taken() > 0) {
      const std::string padding = std::string(kCutPadding, '\0') + "\r\f";
      papplDeviceWrite(device_, padding.data(), padding.size());
      papplDeviceFlush(device_);
    }
    return false;
  }

  pappl_job_t* job_;
  pappl_device_t* device_;
  std::size_t before_;
  std::size_t offered_ = 0;
  StopWhile stop_;
};

// The spooled document, closed on every way out.
struct SpoolFile {
  explicit SpoolFile(pappl_job_t* job) : file(std::fopen(papplJobGetFilename(job), "rb")) {}
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;
  ~SpoolFile() {
    if (file != nullptr) std::fclose(file);
  }
  std::FILE* file;
};

int copiesOf(pappl_job_t* job) {
  int copies = 1;
  if (pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, false)) {
    copies = std::max(1, options->copies);
    papplJobDeletePrintOptions(options);
  }
  return copies;
}

void refuseDocument(pappl_job_t* job, const char* message) {
  papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, PAPPL_JREASON_NONE);
  papplJobSetMessage(job, "%s", message);
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message);
}

// ---------------------------------------------------------------- text

// text/plain: the whole document is checked before the first byte goes to
// the printer, so a document it cannot print leaves the printer untouched.
bool printTextDocument(pappl_job_t* job, pappl_device_t* device, void*) {
  return guarded(job, [&] {
    SpoolFile document(job);
    if (document.file == nullptr) {
      papplJobSetMessage(job, "The document could not be read from the spool.");
      return false;
    }
    const char* charset = ippGetString(papplJobGetAttribute(job, "document-charset"), 0, nullptr);
    const Charset cs = charsetOf(papplJobGetFormat(job), charset ? charset : "");
    const int copies = copiesOf(job);
    papplJobSetImpressions(job, copies);
    JobOutput out(job, device);
    const std::unique_ptr<DrawSurface> surface = prepareGlyphSurface();
    for (int copy = 0; copy < copies; ++copy) {
      try {
        if (!printText(document.file, cs, *surface, out.sink())) return false;
      } catch (const TextRefused& e) {
        refuseDocument(job, e.what());
        return false;
      }
      if (!out.finish()) return false;
      papplJobSetImpressionsCompleted(job, 1);
    }
    return true;
  });
}

// ---------------------------------------------------------------- pictures

picture::Options pictureOptions(const pappl_pr_options_t& o) {
  picture::Options p{};
  p.formWidth = o.media.size_width;
  p.formLength = o.media.size_length;
  switch (o.print_content_optimize) {
    case PAPPL_CONTENT_PHOTO: p.content = picture::Content::photo; break;
    case PAPPL_CONTENT_TEXT: p.content = picture::Content::text; break;
    case PAPPL_CONTENT_GRAPHIC:
    case PAPPL_CONTENT_TEXT_AND_GRAPHIC: p.content = picture::Content::graphics; break;
    default: p.content = picture::Content::automatic; break;
  }
  switch (o.print_scaling) {
    case PAPPL_SCALING_AUTO_FIT: p.scaling = picture::Scaling::autoFit; break;
    case PAPPL_SCALING_FILL: p.scaling = picture::Scaling::fill; break;
    case PAPPL_SCALING_FIT: p.scaling = picture::Scaling::fit; break;
    case PAPPL_SCALING_NONE: p.scaling = picture::Scaling::none; break;
    default: p.scaling = picture::Scaling::automatic; break;
  }
  switch (o.orientation_requested) {
    case IPP_ORIENT_PORTRAIT: p.orientation = picture::Orientation::portrait; break;
    case IPP_ORIENT_LANDSCAPE: p.orientation = picture::Orientation::landscape; break;
    case IPP_ORIENT_REVERSE_PORTRAIT: p.orientation = picture::Orientation::reversePortrait; break;
    case IPP_ORIENT_REVERSE_LANDSCAPE: p.orientation = picture::Orientation::reverseLandscape; break;
    default: p.orientation = picture::Orientation::automatic; break;
  }
  return p;
}

// JPEG, PNG, PWG raster and Apple raster: decoded, placed and dithered onto
// the 9-pin dot grid by the picture path, within limits of its own.
bool printPictureDocument(pappl_job_t* job, pappl_device_t* device, void* formatData) {
  return guarded(job, [&] {
    const auto format = static_cast<picture::Format>(reinterpret_cast<std::intptr_t>(formatData));
    pappl_pr_options_t* printOptions = papplJobCreatePrintOptions(job, 1, false);
    if (printOptions == nullptr) return false;
    const picture::Options options = pictureOptions(*printOptions);
    const int copies = std::max(1, printOptions->copies);
    papplJobDeletePrintOptions(printOptions);

    JobOutput out(job, device);
    int pages = 0;
    for (int copy = 0; copy < copies; ++copy) {
      picture::Result result;
      try {
        picture::FileReader reader(papplJobGetFilename(job));
        result = picture::printPicture(format, reader, options, out.sink());
      } catch (const picture::Error& e) {
        refuseDocument(job, e.what());
        return false;
      }
      if (result.stopped || !out.finish()) return false;
      if (!result.note.empty()) papplJobSetMessage(job, "%s", result.note.c_str());
      pages += result.pages;
      papplJobSetImpressionsCompleted(job, result.pages);
    }
    papplJobSetImpressions(job, pages);
    return true;
  });
}

// ---------------------------------------------------------------- others

// A stream already in the printer's language goes to it unchanged.
bool printRaw(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
  return guarded(job, [&] {
    SpoolFile document(job);
    if (document.file == nullptr) {
      papplJobSetMessage(job, "The document could not be read from the spool.");
      return false;
    }
    JobOutput out(job, device);
    std::string block(64 * 1024, '\0');
    std::size_t n;
    while ((n = std::fread(&block[0], 1, block.size(), document.file)) > 0) {
      if (!out.send(std::string_view(block.data(), n))) return false;
    }
    return std::ferror(document.file) == 0 && out.finish();
  });
}

// application/octet-stream that is neither text, a picture nor the
// printer's own language.
bool printUnknown(pappl_job_t* job, pappl_device_t*, void*) {
  refuseDocument(job,
                 "The document is neither text (UTF-8 or GB2312), a picture (JPEG, PNG, PWG "
                 "or Apple raster) nor an ESC/P stream; nothing was printed.");
  return false;
}

// PAPPL asks every driver for raster callbacks. Pictures never come this
// way: the picture filters print every raster format themselves.
bool rasterStartJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  papplJobSetMessage(job, "Raster pages are printed by the picture filter.");
  return false;
}
bool rasterStartPage(pappl_job_t*, pappl_pr_options_t*, pappl_device_t*, unsigned) { return false; }
bool rasterWriteLine(pappl_job_t*, pappl_pr_options_t*, pappl_device_t*, unsigned,
                     const unsigned char*) {
  return false;
}
bool rasterEndPage(pappl_job_t*, pappl_pr_options_t*, pappl_device_t*, unsigned) { return false; }
bool rasterEndJob(pappl_job_t*, pappl_pr_options_t*, pappl_device_t*) { return true; }

// Between jobs, what a parallel port says about the printer (off line, out
// of paper) shows in printer-state-reasons. Other devices are left alone:
// asking a network printer means a connection each time.
bool printerStatus(pappl_printer_t* printer) {
  const char* uri = papplPrinterGetDeviceURI(printer);
  if (uri == nullptr || std::strncmp(uri, "parallel:", 9) != 0) return true;
  if (papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING) return true;
  pappl_preason_t reasons = PAPPL_PREASON_OFFLINE;  // the port cannot be opened
  if (pappl_device_t* device = papplPrinterOpenDevice(printer)) {
    reasons = papplDeviceGetStatus(device);
    papplPrinterCloseDevice(printer);
  }
  papplPrinterSetReasons(printer, reasons, PAPPL_PREASON_DEVICE_STATUS & ~reasons);
  return true;
}

// Identify-Printer: the printer's beeper (BEL). A file standing in for the
// printer has none, and its bytes are left alone.
void identifyPrinter(pappl_printer_t* printer, pappl_identify_actions_t, const char*) {
  const char* uri = papplPrinterGetDeviceURI(printer);
  if (uri == nullptr || std::strncmp(uri, "file:", 5) == 0) return;
  if (pappl_device_t* device = papplPrinterOpenDevice(printer)) {
    papplDeviceWrite(device, "\a", 1);
    papplDeviceFlush(device);
    papplPrinterCloseDevice(printer);
  }
}

}  // namespace

pappl_pr_driver_t* drivers() { return gDrivers; }
int driverCount() { return static_cast<int>(sizeof gDrivers / sizeof gDrivers[0]); }

bool driverCallback(pappl_system_t*, const char* driverName, const char*, const char*,
                    pappl_pr_driver_data_t* d, ipp_t** attrs, void*) {
  if (std::strcmp(driverName, kDriverName) != 0) return false;

  d->printfile_cb = printRaw;
  d->rstartjob_cb = rasterStartJob;
  d->rstartpage_cb = rasterStartPage;
  d->rwriteline_cb = rasterWriteLine;
  d->rendpage_cb = rasterEndPage;
  d->rendjob_cb = rasterEndJob;
  d->status_cb = printerStatus;
  d->identify_cb = identifyPrinter;
  d->identify_supported = PAPPL_IDENTIFY_ACTIONS_SOUND;
  d->identify_default = PAPPL_IDENTIFY_ACTIONS_SOUND;
  d->has_supplies = true;
  d->format = kNativeFormat;

  std::snprintf(d->make_and_model, sizeof d->make_and_model, "%s", kDriverDescription);
  d->ppm = 1;
  d->kind = PAPPL_KIND_DOCUMENT;
  d->orient_default = IPP_ORIENT_PORTRAIT;
  d->quality_default = IPP_QUALITY_NORMAL;

  // Black dots only; clients send grey pages, dithered on the dot grid.
  d->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_AUTO_MONOCHROME |
                       PAPPL_COLOR_MODE_MONOCHROME;
  d->color_default = PAPPL_COLOR_MODE_MONOCHROME;
  d->raster_types = PAPPL_PWG_RASTER_TYPE_BLACK_1 | PAPPL_PWG_RASTER_TYPE_SGRAY_8;

  // Rasters at 180 dpi for drafts, 360 dpi for the finest dots the grid
  // (120 x 72 dots an inch) can show.
  d->num_resolution = 2;
  d->x_resolution[0] = d->y_resolution[0] = 180;
  d->x_resolution[1] = d->y_resolution[1] = 360;
  d->x_default = d->y_default = 360;

  d->sides_supported = PAPPL_SIDES_ONE_SIDED;
  d->sides_default = PAPPL_SIDES_ONE_SIDED;

  // The print line starts a quarter inch from the left edge and is 8 inches
  // long; tractor-fed paper is printed from its top edge.
  d->left_right = 635;
  d->bottom_top = 0;

  d->num_media = static_cast<int>(sizeof kMedia / sizeof kMedia[0]);
  for (int i = 0; i < d->num_media; ++i) d->media[i] = kMedia[i];
  d->num_source = 1;
  d->source[0] = "main";
  // Plain paper, continuous or cut: "stationery" (URF MT1).
  d->num_type = 1;
  d->type[0] = "stationery";

  pappl_media_col_t& m = d->media_default;
  std::snprintf(m.size_name, sizeof m.size_name, "%s", kMedia[0]);
  m.size_width = 21590;
  m.size_length = 27940;
  m.left_margin = m.right_margin = d->left_right;
  m.top_margin = m.bottom_margin = d->bottom_top;
  std::snprintf(m.source, sizeof m.source, "%s", "main");
  std::snprintf(m.type, sizeof m.type, "%s", "stationery");
  d->media_ready[0] = m;

  // What IPP Everywhere clients look for and PAPPL leaves to the driver.
  *attrs = ippNew();
  ippAddBoolean(*attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr,
               "auto");
  ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported",
               nullptr, "auto");
  ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back", nullptr,
               "normal");
  return true;
}

const char* autoAdd(const char*, const char*, const char* deviceId, void*) {
  if (deviceId == nullptr) return nullptr;
  // Epson's and compatible impact printers that announce ESC/P.
  return std::strstr(deviceId, "ESC/P") != nullptr || std::strstr(deviceId, "ESCP") != nullptr
             ? kDriverName
             : nullptr;
}

// A new printer's supplies: a ribbon, of a level no 9-pin printer reports.
void printerCreated(pappl_printer_t* printer, void*) {
  pappl_supply_t ribbon{};
  ribbon.color = PAPPL_SUPPLY_COLOR_BLACK;
  std::snprintf(ribbon.description, sizeof ribbon.description, "%s", "Ribbon");
  ribbon.is_consumed = true;
  ribbon.level = -1;
  ribbon.type = PAPPL_SUPPLY_TYPE_INK_RIBBON;
  papplPrinterSetSupplies(printer, 1, &ribbon);
  fixes::printerCreated(printer);
}

// Text is recognised when a client sends application/octet-stream (CUPS's
// lp does): no control bytes but line breaks, tabs and form feeds. PAPPL
// itself recognises PDF, PostScript and the picture formats first.
const char* detectFormat(const unsigned char* header, std::size_t size, void*) {
  if (size == 0) return nullptr;
  if (header[0] == 0x1B) return kNativeFormat;
  for (std::size_t i = 0; i < size; ++i) {
    const unsigned char b = header[i];
    if (b < 0x20 && b != '\n' && b != '\r' && b != '\t' && b != '\f') return nullptr;
    if (b == 0x7F) return nullptr;
  }
  return "text/plain";
}

void addFilters(pappl_system_t* system) {
  for (const char* type : {"text/plain", "text/plain;charset=utf-8", "text/plain;charset=gb2312"}) {
    papplSystemAddMIMEFilter(system, type, kNativeFormat, printTextDocument, nullptr);
  }
  const struct {
    const char* type;
    picture::Format format;
  } pictures[] = {{"image/jpeg", picture::Format::jpeg},
                  {"image/png", picture::Format::png},
                  {"image/pwg-raster", picture::Format::pwgRaster},
                  {"image/urf", picture::Format::appleRaster}};
  for (const auto& p : pictures) {
    papplSystemAddMIMEFilter(system, p.type, kNativeFormat, printPictureDocument,
                             reinterpret_cast<void*>(static_cast<std::intptr_t>(p.format)));
  }
  papplSystemAddMIMEFilter(system, "application/octet-stream", kNativeFormat, printUnknown, nullptr);
}

}  // namespace bspp::printer_app
