// bspp-printer-app: shares an ESC/P 9-pin printer as an IPP Everywhere
// printer. PAPPL does the IPP server, the queue, the spool, device access,
// DNS-SD and the web pages; this program adds the driver: text jobs go
// through the library's own composer, pictures through PAPPL's raster path.
#include <pappl/pappl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <vector>
#include <sys/stat.h>

#include "dot_page.h"
#include "lp_device.h"
#include "text_job.h"

namespace {

using bspp::printer_app::DotPage;

constexpr const char* kAppName = "bspp-printer-app";
constexpr const char* kNativeFormat = "application/vnd.epson.escp";
constexpr const char* kDriverName = "escp9_80";
constexpr const char* kDriverDescription = "Epson ESC/P 9-pin, 80 columns";
constexpr int kDefaultPort = 8631;

pappl_pr_driver_t gDrivers[] = {
    {kDriverName, kDriverDescription, "MFG:EPSON;CMD:ESCP;", nullptr},
};

// Where the running server keeps its state; read by the save callback.
std::string gStateFile;

// True for the "server" sub-command. The others ("drivers") only look at
// the system's drivers: they neither listen nor load the state.
bool gServer = false;

std::string optionOr(const char* name, int numOptions, cups_option_t* options,
                     const std::string& fallback) {
  const char* value = cupsGetOption(name, numOptions, options);
  return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

std::string tempDir() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

// The state file when none is given: the system's for root, the user's own
// configuration folder otherwise.
std::string defaultStateFile() {
  if (getuid() == 0) {
    const std::string dir = std::string("/var/lib/") + kAppName;
    ::mkdir(dir.c_str(), 0755);
    return dir + "/" + kAppName + ".state";
  }
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0') {
    return std::string(xdg) + "/" + kAppName + ".state";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    const std::string config = std::string(home) + "/.config";
    ::mkdir(config.c_str(), 0700);
    return config + "/" + kAppName + ".state";
  }
  return tempDir() + "/" + kAppName + std::to_string(getuid()) + ".state";
}

std::string defaultSpoolDir() {
  if (getuid() == 0) return std::string("/var/spool/") + kAppName;
  return tempDir() + "/" + kAppName + std::to_string(getuid()) + ".d";
}

pappl_loglevel_t logLevel(const std::string& name) {
  if (name == "fatal") return PAPPL_LOGLEVEL_FATAL;
  if (name == "error") return PAPPL_LOGLEVEL_ERROR;
  if (name == "info") return PAPPL_LOGLEVEL_INFO;
  if (name == "debug") return PAPPL_LOGLEVEL_DEBUG;
  return PAPPL_LOGLEVEL_WARN;
}

bool saveState(pappl_system_t* system, void*) {
  return papplSystemSaveState(system, gStateFile.c_str());
}

// ---------------------------------------------------------------- devices

// Reads the device's status into the printer's state reasons (and clears
// the ones it no longer reports).
pappl_preason_t updateDeviceReasons(pappl_job_t* job, pappl_device_t* device) {
  const pappl_preason_t reasons = papplDeviceGetStatus(device);
  papplPrinterSetReasons(papplJobGetPrinter(job), reasons, PAPPL_PREASON_DEVICE_STATUS & ~reasons);
  return reasons;
}

// What the device's state reasons mean for the user.
std::string faultText(pappl_preason_t reasons) {
  std::string text;
  const auto add = [&text](const char* what) {
    text += text.empty() ? std::string(what) : std::string(", ") + what;
  };
  if ((reasons & PAPPL_PREASON_MEDIA_EMPTY) != 0) add("out of paper");
  if ((reasons & PAPPL_PREASON_MEDIA_JAM) != 0) add("paper jam");
  if ((reasons & PAPPL_PREASON_OFFLINE) != 0) add("off line");
  if (text.empty()) add("device error");
  return text;
}

std::size_t bytesWritten(pappl_device_t* device) {
  pappl_devmetrics_t metrics{};
  papplDeviceGetMetrics(device, &metrics);
  return metrics.write_bytes;
}

// Sends `data` whole and pushes it out of PAPPL's buffer. False, with the
// job's message set, when the device did not take every byte: PAPPL counts
// what its device really took, also for a write that fails while the
// buffer is flushed, which papplDeviceFlush itself does not report.
bool sendAll(pappl_job_t* job, pappl_device_t* device, const std::string& data) {
  const std::size_t before = bytesWritten(device);
  std::size_t offered = 0;
  while (offered < data.size()) {
    const ssize_t n = papplDeviceWrite(device, data.data() + offered, data.size() - offered);
    if (n <= 0) break;
    offered += static_cast<std::size_t>(n);
  }
  if (offered == data.size()) papplDeviceFlush(device);
  const std::size_t taken = bytesWritten(device) - before;
  const pappl_preason_t reasons = updateDeviceReasons(job, device);
  if (offered == data.size() && taken >= data.size()) return true;
  papplJobSetMessage(job, "The printer took %zu of %zu bytes (%s); the job was not finished.",
                     std::min(taken, data.size()), data.size(), faultText(reasons).c_str());
  return false;
}

// ---------------------------------------------------------------- text

bool readFile(const char* path, std::string& data) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  return ok;
}

// Filter for text/plain: the library composes the whole job before the
// first byte goes to the printer, so a document it cannot print leaves the
// printer untouched.
bool printText(pappl_job_t* job, pappl_device_t* device, void*) {
  std::string document;
  if (!readFile(papplJobGetFilename(job), document)) {
    papplJobSetMessage(job, "The document could not be read from the spool.");
    return false;
  }
  const char* charset =
      ippGetString(papplJobGetAttribute(job, "document-charset"), 0, nullptr);
  std::string stream;
  try {
    stream = bspp::printer_app::composeTextJob(
        document, bspp::printer_app::charsetOf(papplJobGetFormat(job), charset ? charset : ""));
  } catch (const bspp::printer_app::TextJobError& e) {
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, PAPPL_JREASON_NONE);
    papplJobSetMessage(job, "%s", e.what());
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", e.what());
    return false;
  } catch (const std::exception& e) {
    papplJobSetMessage(job, "The job could not be composed: %s", e.what());
    return false;
  }
  // "copies": the same job again, each copy ending with its form feed.
  int copies = 1;
  if (pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, false)) {
    copies = std::max(1, options->copies);
    papplJobDeletePrintOptions(options);
  }
  papplJobSetImpressions(job, copies);
  for (int copy = 0; copy < copies; ++copy) {
    if (papplJobIsCanceled(job)) return true;
    if (!sendAll(job, device, stream)) return false;
    papplJobSetImpressionsCompleted(job, 1);
  }
  return true;
}

// A stream already in the printer's language goes to it unchanged.
bool printRaw(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
  std::string data;
  if (!readFile(papplJobGetFilename(job), data)) {
    papplJobSetMessage(job, "The document could not be read from the spool.");
    return false;
  }
  return sendAll(job, device, data);
}

// ---------------------------------------------------------------- raster

struct RasterJob {
  std::unique_ptr<DotPage> page;
  bool grey = false;               // 8-bit grey lines, dithered here
  unsigned width = 0;              // pixels a line
  std::vector<unsigned char> bits; // the current grey line as black dots
};

// Threshold of a 16 x 16 ordered (Bayer) dither at pixel x, y: 1 to 255, so
// that black (0) always inks and white (255) never does.
unsigned ditherThreshold(unsigned x, unsigned y) {
  unsigned v = 0;
  for (unsigned k = 0; k < 4; ++k) {
    v |= (((x ^ y) >> k) & 1u) << (7 - 2 * k);
    v |= ((y >> k) & 1u) << (6 - 2 * k);
  }
  return 1 + v * 254 / 255;
}

bool rasterStartJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  papplJobSetData(job, new (std::nothrow) RasterJob());
  return papplJobGetData(job) != nullptr;
}

bool rasterStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
  auto* r = static_cast<RasterJob*>(papplJobGetData(job));
  // PAPPL hands grey pages over with the header they came with (a PWG or
  // Apple raster page keeps its own resolution); 1-bit pages would carry the
  // printer's default resolution whatever the client sent.
  const auto& h = options->header;
  if (h.cupsBitsPerPixel != 1 && h.cupsBitsPerPixel != 8) {
    papplJobSetMessage(job, "Unsupported raster (%u bits per pixel).", h.cupsBitsPerPixel);
    return false;
  }
  r->grey = h.cupsBitsPerPixel == 8;
  r->width = h.cupsWidth;
  try {
    r->bits.assign(r->grey ? (h.cupsWidth + 7) / 8 : 0, 0);
    r->page = std::make_unique<DotPage>(h.cupsWidth, h.cupsHeight, h.HWResolution[0],
                                        h.HWResolution[1]);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool rasterWriteLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned y,
                     const unsigned char* line) {
  auto* r = static_cast<RasterJob*>(papplJobGetData(job));
  if (!r->page) return true;
  if (r->grey) {
    std::fill(r->bits.begin(), r->bits.end(), static_cast<unsigned char>(0));
    for (unsigned x = 0; x < r->width; ++x) {
      if (line[x] < ditherThreshold(x, y)) r->bits[x / 8] |= static_cast<unsigned char>(0x80u >> (x % 8));
    }
    line = r->bits.data();
  }
  r->page->addLine(y, line);
  return true;
}

bool rasterEndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device, unsigned) {
  auto* r = static_cast<RasterJob*>(papplJobGetData(job));
  if (!r->page) return false;
  const std::string stream = r->page->finish();
  r->page.reset();
  return sendAll(job, device, stream);
}

bool rasterEndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  delete static_cast<RasterJob*>(papplJobGetData(job));
  papplJobSetData(job, nullptr);
  return true;
}

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

// A new printer's supplies: a ribbon, of a level no 9-pin printer reports.
void printerCreated(pappl_printer_t* printer, void*) {
  pappl_supply_t ribbon{};
  ribbon.color = PAPPL_SUPPLY_COLOR_BLACK;
  std::snprintf(ribbon.description, sizeof ribbon.description, "%s", "Ribbon");
  ribbon.is_consumed = true;
  ribbon.level = -1;
  ribbon.type = PAPPL_SUPPLY_TYPE_INK_RIBBON;
  papplPrinterSetSupplies(printer, 1, &ribbon);
}

// ---------------------------------------------------------------- driver

const char* const kMedia[] = {
    "na_letter_8.5x11in",       // continuous forms 8.5 x 11 in, and letter
    "na_fanfold-eur_8.5x12in",  // continuous forms 8.5 x 12 in
    "iso_a4_210x297mm",
};

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

  // Black dots only, from grey pages dithered here: PAPPL passes a client's
  // raster page on with its own resolution only when both are grey.
  d->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_AUTO_MONOCHROME |
                       PAPPL_COLOR_MODE_MONOCHROME;
  d->color_default = PAPPL_COLOR_MODE_MONOCHROME;
  d->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;

  // 180 dpi for drafts; 360 dpi maps exactly onto the 120 x 72 dot grid
  // (3 x 5 pixels a dot).
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
  d->num_type = 2;
  d->type[0] = "continuous";
  d->type[1] = "stationery";

  pappl_media_col_t& m = d->media_default;
  std::snprintf(m.size_name, sizeof m.size_name, "%s", kMedia[0]);
  m.size_width = 21590;
  m.size_length = 27940;
  m.left_margin = m.right_margin = d->left_right;
  m.top_margin = m.bottom_margin = d->bottom_top;
  std::snprintf(m.source, sizeof m.source, "%s", "main");
  std::snprintf(m.type, sizeof m.type, "%s", "continuous");
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

// Text is recognised when a client sends application/octet-stream (CUPS's
// lp does): no control bytes but line breaks, tabs and form feeds.
const char* detectFormat(const unsigned char* header, std::size_t size, void*) {
  if (size == 0) return nullptr;
  if (header[0] == 0x1B) return kNativeFormat;
  if (size >= 2 && header[0] == '%' && (header[1] == '!' || header[1] == 'P')) return nullptr;
  for (std::size_t i = 0; i < size; ++i) {
    const unsigned char b = header[i];
    if (b < 0x20 && b != '\n' && b != '\r' && b != '\t' && b != '\f') return nullptr;
    if (b == 0x7F) return nullptr;
  }
  return "text/plain";
}

// ---------------------------------------------------------------- system

// A job that was printing when the server stopped without finishing it
// (killed, crashed, power lost) is in the state file as "processing", and
// PAPPL 1.3 would restore it so: neither printed nor ended, for ever. Such
// jobs are put back in the queue (their documents are still in the spool)
// and printed again from the start. True when there was one.
bool requeueInterruptedJobs(const std::string& stateFile) {
  std::string text;
  if (!readFile(stateFile.c_str(), text)) return false;
  static const std::string processing = " state=\"5\"";
  static const std::string pending = " state=\"3\"";
  bool changed = false;
  std::size_t line = 0;
  while (line < text.size()) {
    const std::size_t end = std::min(text.find('\n', line), text.size());
    if (text.compare(line, 4, "Job ") == 0) {
      const std::size_t at = text.find(processing, line);
      if (at != std::string::npos && at < end) {
        text.replace(at, processing.size(), pending);
        changed = true;
      }
    }
    line = end + 1;
  }
  if (!changed) return false;
  const std::string temporary = stateFile + ".requeue";
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (std::fclose(f) != 0 || !written || std::rename(temporary.c_str(), stateFile.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

// Once the server runs: starts the queues, which PAPPL does not do for
// jobs it loaded.
bool startQueues(pappl_system_t* system, void*) {
  papplSystemIteratePrinters(
      system, [](pappl_printer_t* printer, void*) { papplPrinterResume(printer); }, nullptr);
  return false;
}


pappl_system_t* systemCallback(int numOptions, cups_option_t* options, void* data) {
  const std::string spool = optionOr("spool-directory", numOptions, options, defaultSpoolDir());
  const std::string logFile = optionOr("log-file", numOptions, options, "-");
  const pappl_loglevel_t level = logLevel(optionOr("log-level", numOptions, options, "warn"));
  const std::string portText =
      optionOr("server-port", numOptions, options, std::to_string(kDefaultPort));
  char* end = nullptr;
  const long port = std::strtol(portText.c_str(), &end, 10);
  if (end == nullptr || *end != '\0' || port < 0 || port > 65535) {
    std::fprintf(stderr, "%s: bad server-port '%s'\n", kAppName, portText.c_str());
    return nullptr;
  }
  if (gServer) ::mkdir(spool.c_str(), 0700);

  pappl_system_t* system = papplSystemCreate(
      PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG |
          PAPPL_SOPTIONS_WEB_SECURITY,
      kAppName, static_cast<int>(port), "_print,_universal", spool.c_str(), logFile.c_str(), level,
      cupsGetOption("auth-service", numOptions, options), false);
  if (system == nullptr) return nullptr;

  if (const char* group = cupsGetOption("admin-group", numOptions, options)) {
    papplSystemSetAdminGroup(system, group);
  }
  if (const char* name = cupsGetOption("server-name", numOptions, options)) {
    papplSystemSetHostName(system, name);
  }

  // Network listeners, unless this is a private server started by a
  // sub-command (that one answers only on its local socket).
  if (gServer && cupsGetOption("private-server", numOptions, options) == nullptr) {
    const std::string listen = optionOr("listen-hostname", numOptions, options, "");
    bool listening = false;
    if (listen.empty() || listen == "*") {
      listening = papplSystemAddListeners(system, nullptr);
    } else {
      std::size_t start = 0;
      while (start <= listen.size()) {
        const std::size_t comma = std::min(listen.find(',', start), listen.size());
        const std::string name = listen.substr(start, comma - start);
        if (!name.empty()) listening = papplSystemAddListeners(system, name.c_str()) || listening;
        start = comma + 1;
      }
    }
    if (!listening) {
      std::fprintf(stderr, "%s: cannot listen on %s port %ld\n", kAppName,
                   listen.empty() ? "all addresses" : listen.c_str(), port);
      papplSystemDelete(system);
      return nullptr;
    }
  }

  papplSystemSetPrinterDrivers(system, static_cast<int>(sizeof gDrivers / sizeof gDrivers[0]),
                               gDrivers, autoAdd, printerCreated, driverCallback, data);
  papplSystemSetMIMECallback(system, detectFormat, nullptr);
  for (const char* type : {"text/plain", "text/plain;charset=utf-8", "text/plain;charset=gb2312"}) {
    papplSystemAddMIMEFilter(system, type, kNativeFormat, printText, nullptr);
  }
  papplSystemSetFooterHTML(system, "bspp: Chinese text and pictures on ESC/P 9-pin printers");

  if (!gServer) return system;

  // Printers and their jobs survive a restart through the state file.
  gStateFile = optionOr("state-file", numOptions, options, defaultStateFile());
  const bool requeued = requeueInterruptedJobs(gStateFile);
  papplSystemLoadState(system, gStateFile.c_str());
  papplSystemSetSaveCallback(system, saveState, nullptr);
  if (requeued) papplSystemAddTimerCallback(system, time(nullptr), 0, startQueues, nullptr);
  return system;
}

void usage(void*) {
  std::printf(
      "Usage: %s SUB-COMMAND [OPTIONS] [FILES]\n"
      "Shares an Epson ESC/P 9-pin printer as an IPP Everywhere printer.\n\n"
      "  %s server [-o NAME=VALUE ...]   run the printer application\n"
      "  %s add -d NAME -v DEVICE-URI -m %s\n"
      "  %s submit -d NAME FILE          print a file\n"
      "  (also: delete, devices, drivers, jobs, status, shutdown, ...)\n\n"
      "Server options (-o):\n"
      "  listen-hostname=ADDRESS[,ADDRESS]  addresses to listen on (default: all)\n"
      "  server-port=PORT                   TCP port (default %d)\n"
      "  server-name=HOSTNAME               name in printer URIs and DNS-SD\n"
      "  state-file=FILE                    printers and settings (default %s)\n"
      "  spool-directory=DIR                job files (default %s)\n"
      "  log-file=FILE|-|syslog             log (default - : standard error)\n"
      "  log-level=error|warn|info|debug    (default warn)\n"
      "  admin-group=GROUP, auth-service=PAM-SERVICE\n\n"
      "Devices: usb://..., socket://HOST:9100, file:///PATH, parallel:/dev/lp0\n",
      kAppName, kAppName, kAppName, kDriverName, kAppName, kDefaultPort,
      defaultStateFile().c_str(), defaultSpoolDir().c_str());
}

}  // namespace

int main(int argc, char* argv[]) {
  gServer = argc > 1 && std::strcmp(argv[1], "server") == 0;
  // The sub-commands reach the server through a local socket, which PAPPL
  // puts in $TMPDIR for users but in /run for root, shared by every
  // instance. With TMPDIR set, root's goes there too (PAPPL takes root's
  // folder from SNAP_COMMON), so that private instances stay apart.
  if (getuid() == 0 && std::getenv("SNAP_COMMON") == nullptr) {
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') {
      setenv("SNAP_COMMON", tmp, 1);
    }
  }
  bspp::printer_app::addParallelScheme();
  return papplMainloop(argc, argv, BSPP_VERSION, nullptr,
                       static_cast<int>(sizeof gDrivers / sizeof gDrivers[0]), gDrivers, autoAdd,
                       driverCallback, nullptr, nullptr, systemCallback, usage, nullptr);
}
