// Workarounds for faults of PAPPL 1.3.1, the version Debian 12 ships. PAPPL
// itself is never patched: where its own code must answer differently, this
// program defines the function PAPPL calls (PAPPL's library calls its own
// exported functions through the dynamic linker, which finds this
// program's definition first) and hands everything else to PAPPL's own,
// found with dlsym(RTLD_NEXT). Each workaround names its fault; each is
// checked at start-up (checkEngaged) and held by a test of the printer
// application that fails when the fault shows again.
#include "pappl_fixes.h"

#include <avahi-client/lookup.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <zlib.h>

#include "callback.h"
#include "file_io.h"

// PAPPL 1.3.1's own functions that the workarounds call or stand in for;
// exported by libpappl.so.1, not declared in its public headers.
extern "C" {
void _papplJobSubmitFile(pappl_job_t* job, const char* filename);
void _papplClientFlushDocumentData(pappl_client_t* client);
const char* _papplJobReasonString(pappl_jreason_t value);
void _papplPrinterCheckJobs(pappl_printer_t* printer);
}

namespace bspp::printer_app::fixes {

const char* const kSystemSocketDir = "/run/bspp-printer-app";

namespace {

// PAPPL's (or the C library's) own definition of a function this program
// also defines.
template <typename Function>
Function theirs(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// True for a client on this machine: the local socket or loopback.
bool isLocal(pappl_client_t* client) {
  http_t* http = papplClientGetHTTP(client);
  http_addr_t* address = http != nullptr ? httpGetAddress(http) : nullptr;
  return address != nullptr && (httpAddrFamily(address) == AF_LOCAL || httpAddrLocalhost(address));
}

// True when clients can authenticate to the server (auth-service).
bool canAuthenticate(pappl_system_t* system) { return papplSystemGetAuthService(system) != nullptr; }

bool hasPassword(pappl_system_t* system) {
  char hash[100] = "";
  papplSystemGetPassword(system, hash, sizeof hash);
  return hash[0] != '\0';
}

// The user a request speaks for: the one who authenticated, or the one it
// names (IPP's requesting-user-name, as PAPPL records a job's owner).
std::string requester(pappl_client_t* client) {
  if (const char* user = papplClientGetUsername(client)) return user;
  ipp_attribute_t* name =
      ippFindAttribute(papplClientGetRequest(client), "requesting-user-name", IPP_TAG_NAME);
  return name != nullptr ? ippGetString(name, 0, nullptr) : "guest";
}

// The attributes of the last group of `response` (after its last
// separator): those a copy function just added.
std::vector<ipp_attribute_t*> lastGroup(ipp_t* response) {
  std::vector<ipp_attribute_t*> group;
  for (ipp_attribute_t* a = ippFirstAttribute(response); a != nullptr; a = ippNextAttribute(response)) {
    if (ippGetName(a) == nullptr) {
      group.clear();
    } else {
      group.push_back(a);
    }
  }
  return group;
}

// ---------------------------------------------------------------------------
// 1. One job at a time on each printer.
//
// PAPPL 1.3.1 starts a printer's next job in _papplPrinterCheckJobs, in
// whichever thread submitted a document, finished a job, released a job or
// resumed the printer. It looks at "is the printer processing a job?" before
// it takes the printer's lock, then starts a thread for the first pending
// job without marking anything: the job and the printer become
// "processing" only once that thread runs. Two checks close together
// therefore start two threads, for the same job or for the next one, which
// share and free the printer's one device: jobs are printed twice or
// interleaved, writes fail, or the server crashes. Every thread PAPPL starts
// goes through pthread_create: a job's thread (start routine
// _papplJobProcess) is started through runJob instead, the printer's
// threads run one after another, and a thread whose job is no longer
// pending when its turn comes ends without touching it.

using StartRoutine = void* (*)(void*);
using CreateThread = int (*)(pthread_t*, const pthread_attr_t*, StartRoutine, void*);

StartRoutine papplsJobThread() {
  static const auto routine = reinterpret_cast<StartRoutine>(dlsym(RTLD_DEFAULT, "_papplJobProcess"));
  return routine;
}

// One lock per printer (system and printer id), held while a job of that
// printer is processed. Kept for the life of the program: a printer id is
// never reused within a system.
std::mutex& printerTurn(pappl_system_t* system, int printerId) {
  static std::mutex registryLock;
  static std::map<std::pair<pappl_system_t*, int>, std::unique_ptr<std::mutex>> turns;
  const std::lock_guard<std::mutex> registry(registryLock);
  std::unique_ptr<std::mutex>& turn = turns[{system, printerId}];
  if (!turn) turn = std::make_unique<std::mutex>();
  return *turn;
}

struct JobStart {
  StartRoutine process;
  pappl_system_t* system;
  int printerId;
  int jobId;
  std::mutex* turn;
};

void* runJob(void* arg) {
  const std::unique_ptr<JobStart> start(static_cast<JobStart*>(arg));
  const std::lock_guard<std::mutex> myTurn(*start->turn);
  // PAPPL 1.3.1 also starts a job it loaded from the state file as soon as
  // the printer's device is first opened for its status, before the server
  // runs. start_job then finds the server not running and puts the job back
  // to pending, and finish_job moves it to the completed jobs, where it
  // stays pending and is never printed. Such a thread ends without touching
  // the job: the queues are started once the server runs (workaround 10).
  if (!papplSystemIsRunning(start->system)) {
    papplLog(start->system, PAPPL_LOGLEVEL_DEBUG, "Job %d waits for the server to run.", start->jobId);
    return nullptr;
  }
  // Looked up again by id, among the printer's active jobs and under its
  // lock: while this thread waited, the job may have been printed, canceled
  // and even trimmed from the history (freed). An active job is never
  // trimmed, so the pointer stays good while it is printed.
  pappl_printer_t* printer = papplSystemFindPrinter(start->system, nullptr, start->printerId, nullptr);
  struct Pending {
    int id;
    pappl_job_t* job;
  } pending{start->jobId, nullptr};
  if (printer != nullptr) {
    papplPrinterIterateActiveJobs(
        printer,
        [](pappl_job_t* job, void* data) {
          auto* p = static_cast<Pending*>(data);
          if (papplJobGetID(job) == p->id && papplJobGetState(job) == IPP_JSTATE_PENDING) p->job = job;
        },
        &pending, 1, 0);
  }
  pappl_job_t* job = pending.job;
  if (job == nullptr) {
    if (printer != nullptr) {
      papplLogPrinter(printer, PAPPL_LOGLEVEL_DEBUG,
                      "Job %d is no longer pending; its extra job thread ends.", start->jobId);
    }
    return nullptr;
  }
  return start->process(job);
}

// ---------------------------------------------------------------------------
// 2. CUPS's names for a queue.
//
// CUPS clients (`lp -h HOST:PORT -d NAME`, `lpstat -h`) address a queue as
// /printers/NAME, which PAPPL 1.3.1 does not know (its printers are
// /ipp/print/NAME). PAPPL looks every request's printer up through
// papplSystemFindPrinter, which maps the CUPS path onto PAPPL's here.

constexpr char kCupsPrefix[] = "/printers/";

// ---------------------------------------------------------------------------
// 3. No Avahi daemon.
//
// Listing network printers (the "devices" sub-command, the web page that
// adds a printer) asks Avahi for a service browser; without a running
// daemon PAPPL 1.3.1 asks without a client, which Avahi answers with an
// assertion failure that ends the server. avahi_service_browser_new
// answers "no browser" for a missing client, as Avahi does for any other
// failure.

// ---------------------------------------------------------------------------
// 4. Managing from another address.
//
// PAPPL 1.3.1 lets any client that can reach the server manage it when no
// authentication is set up (the default): its web pages for adding,
// deleting and configuring printers, the password and the logs answer a
// client on another address (PAPPL_SOPTIONS_WEB_REMOTE, meant to control
// this, is not looked at), a printer's page takes its actions (hold new
// jobs, print a test page) by POST, and its IPP check lets such a client
// cancel, hold and release anybody's job and disable the printer. Here a
// client on another address, when it cannot authenticate, may print, look
// and manage its own jobs; everything else is for the machine itself (the
// local socket, loopback) or for a client that authenticated (with
// auth-service; on the web pages also with the password, which only the
// machine itself can set).

// What a client on another address that cannot authenticate may ask.
bool remoteMay(pappl_client_t* client) {
  switch (papplClientGetOperation(client)) {
    case IPP_OP_PRINT_JOB:
    case IPP_OP_VALIDATE_JOB:
    case IPP_OP_CREATE_JOB:
    case IPP_OP_GET_PRINTER_ATTRIBUTES:
    case IPP_OP_GET_JOBS:
    case IPP_OP_GET_JOB_ATTRIBUTES:
    case IPP_OP_IDENTIFY_PRINTER:
    case IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS:
    case IPP_OP_CREATE_JOB_SUBSCRIPTIONS:
    case IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES:
    case IPP_OP_GET_SUBSCRIPTIONS:
    case IPP_OP_RENEW_SUBSCRIPTION:
    case IPP_OP_CANCEL_SUBSCRIPTION:
    case IPP_OP_GET_NOTIFICATIONS:
      return true;
    case IPP_OP_SEND_DOCUMENT:
    case IPP_OP_CLOSE_JOB:
    case IPP_OP_CANCEL_JOB:
    case IPP_OP_HOLD_JOB:
    case IPP_OP_RELEASE_JOB: {
      // Its own jobs only.
      pappl_job_t* job = papplClientGetJob(client);
      const char* owner = job != nullptr ? papplJobGetUsername(job) : nullptr;
      return owner != nullptr && requester(client) == owner;
    }
    default:
      return false;
  }
}

// While set on a thread, job names and owners read there are hidden: a
// printer's web page shown to a client on another address.
thread_local bool tHideJobNames = false;

class HiddenJobNames {
 public:
  HiddenJobNames() { tHideJobNames = true; }
  HiddenJobNames(const HiddenJobNames&) = delete;
  HiddenJobNames& operator=(const HiddenJobNames&) = delete;
  ~HiddenJobNames() { tHideJobNames = false; }
};

constexpr const char* kHidden = "(private)";

// ---------------------------------------------------------------------------
// 5. A job's attributes.
//
// PAPPL 1.3.1 shows every job's name and owner to every client. As CUPS
// does by default, a client on another address sees the names and owners
// of its own jobs only. A job PAPPL restored from the state answers job-id
// and job-name twice (they are in the attributes it saved with the job and
// it adds them again when it loads them): the second is dropped. And a job
// held by job-hold-until is answered without job-state-reasons (PAPPL looks
// for its reasons among the lower bits only): they are added.

bool isPrivateJobAttribute(const char* name) {
  static const char* const kPrivate[] = {"job-name", "job-originating-user-name",
                                         "job-originating-user-uri", "job-originating-host-name",
                                         "document-name-supplied"};
  for (const char* p : kPrivate) {
    if (std::strcmp(name, p) == 0) return true;
  }
  return false;
}

// job-state-reasons, every reason of the job's.
void addJobStateReasons(ipp_t* response, pappl_job_t* job) {
  std::vector<const char*> reasons;
  const unsigned bits = papplJobGetReasons(job);
  for (unsigned bit = 1; bit != 0 && bit <= bits; bit <<= 1) {
    if ((bits & bit) != 0) reasons.push_back(_papplJobReasonString(static_cast<pappl_jreason_t>(bit)));
  }
  if (reasons.empty()) reasons.push_back("none");
  ippAddStrings(response, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-state-reasons",
                static_cast<int>(reasons.size()), nullptr, reasons.data());
}

// ---------------------------------------------------------------------------
// 6. Printer attributes that PAPPL 1.3.1 answers wrongly.
//
// jpeg-k-octets-supported is made before the job-k-octets-supported it
// copies, so it says 0-0 (no JPEG at all); mopria-certified claims a
// certification nobody gave this printer; printer-device-id, when PAPPL
// makes it, lists MIME types with parameters in CMD, whose ';' ends the
// field for an IEEE 1284 parser; and to a client on loopback it lists one
// printer URI but a security and an authentication value for two. They are
// put right in every answer.

// "CMD:" of an IEEE 1284 device ID as the commands it names: MIME types as
// the short names 1284 uses.
std::string commandSet(const std::string& list) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    std::string token = list.substr(start, comma - start);
    start = comma + 1;
    if (token.compare(0, 10, "text/plain") == 0) token = "TXT";
    if (token == "application/vnd.epson.escp") token = "ESCP";
    if (token.empty() || token.find_first_of("/;") != std::string::npos) continue;
    bool seen = false;
    for (const std::string& n : names) seen = seen || n == token;
    if (!seen) names.push_back(token);
  }
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ",") + n;
  return out;
}

void fixPrinterAttributes(ipp_t* response) {
  ipp_attribute_t* jobOctets = nullptr;
  ipp_attribute_t* jpegOctets = nullptr;
  ipp_attribute_t* deviceId = nullptr;
  ipp_attribute_t* uris = nullptr;
  std::vector<ipp_attribute_t*> perUri;  // one value for each printer URI
  std::vector<ipp_attribute_t*> doomed;
  for (ipp_attribute_t* a : lastGroup(response)) {
    const char* name = ippGetName(a);
    if (std::strcmp(name, "job-k-octets-supported") == 0) jobOctets = a;
    if (std::strcmp(name, "jpeg-k-octets-supported") == 0) jpegOctets = a;
    if (std::strcmp(name, "printer-device-id") == 0) deviceId = a;
    if (std::strcmp(name, "printer-uri-supported") == 0) uris = a;
    if (std::strcmp(name, "uri-security-supported") == 0 ||
        std::strcmp(name, "uri-authentication-supported") == 0) {
      perUri.push_back(a);
    }
    if (std::strcmp(name, "mopria-certified") == 0) doomed.push_back(a);
  }
  if (uris != nullptr) {
    // Made again with the first values (CUPS 2.4's ippDeleteValues does not
    // delete the last value of an attribute).
    const int count = ippGetCount(uris);
    for (ipp_attribute_t* a : perUri) {
      if (ippGetCount(a) <= count) continue;
      const std::string name = ippGetName(a);
      std::vector<std::string> kept;
      for (int i = 0; i < count; ++i) kept.emplace_back(ippGetString(a, i, nullptr));
      std::vector<const char*> values;
      for (const std::string& k : kept) values.push_back(k.c_str());
      ippDeleteAttribute(response, a);
      ippAddStrings(response, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, name.c_str(), count, nullptr, values.data());
    }
  }
  for (ipp_attribute_t* a : doomed) ippDeleteAttribute(response, a);
  if (jobOctets != nullptr && jpegOctets != nullptr) {
    int upper = 0;
    const int lower = ippGetRange(jobOctets, 0, &upper);
    ippSetRange(response, &jpegOctets, 0, lower, upper);
  }
  if (deviceId != nullptr) {
    const std::string id = ippGetString(deviceId, 0, nullptr) ? ippGetString(deviceId, 0, nullptr) : "";
    const std::size_t cmd = id.find("CMD:");
    if (cmd != std::string::npos && id.find('/', cmd) != std::string::npos) {
      std::string list = id.substr(cmd + 4);
      if (!list.empty() && list.back() == ';') list.pop_back();
      const std::string fixed = id.substr(0, cmd + 4) + commandSet(list) + ";";
      ippSetString(response, &deviceId, 0, fixed.c_str());
    }
  }
}

// ---------------------------------------------------------------------------
// 7. Documents spooled whole and plain.
//
// PAPPL 1.3.1 prints a PWG or Apple raster document while the client sends
// it, in the client's thread: a slow client holds the printer as long as it
// likes, the job runs beside the one-job-at-a-time turn of workaround 1,
// and a raster job sent while another job prints is refused with
// server-error-busy and left aborted. And it offers compression (gzip,
// deflate), but to inflate a document it switches on the HTTP connection's
// content coding after the request has been read, which CUPS 2.4 then
// fails to read ("Unable to read print file"). Here PAPPL's switch
// (httpSetField of Content-Encoding while a request is received) is left
// undone, and a raster document, or a compressed one, is received into the
// spool (inflated, up to kMaxDocument) and printed in its turn like any
// other.

constexpr std::size_t kMaxDocument = std::size_t{1} << 30;

// How the document comes compressed: the request's "compression", or the
// HTTP Content-Encoding a client sent; nullptr when it does not.
const char* compressionOf(pappl_client_t* client) {
  ipp_attribute_t* attribute =
      ippFindAttribute(papplClientGetRequest(client), "compression", IPP_TAG_KEYWORD);
  const char* compression = attribute != nullptr ? ippGetString(attribute, 0, nullptr) : nullptr;
  if (compression == nullptr || std::strcmp(compression, "none") == 0) {
    compression = httpGetField(papplClientGetHTTP(client), HTTP_FIELD_CONTENT_ENCODING);
  }
  if (compression == nullptr) return nullptr;
  if (std::strcmp(compression, "gzip") == 0 || std::strcmp(compression, "x-gzip") == 0) return "gzip";
  if (std::strcmp(compression, "deflate") == 0) return "deflate";
  return nullptr;
}

bool spooledHere(pappl_client_t* client, const char* format) {
  return (format != nullptr &&
          (std::strcmp(format, "image/pwg-raster") == 0 || std::strcmp(format, "image/urf") == 0)) ||
         compressionOf(client) != nullptr;
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The document's bytes from the client into `fd`, inflated when they came
// compressed. nullptr when all went well, else why not.
const char* receive(http_t* http, int fd, const char* compression) {
  struct Inflater {
    z_stream z{};
    bool open = false;
    ~Inflater() {
      if (open) inflateEnd(&z);
    }
  } inflater;
  bool compressed = compression != nullptr;
  bool first = true;
  std::size_t total = 0;
  std::vector<char> in(64 * 1024), out(256 * 1024);
  for (;;) {
    const ssize_t n = httpRead2(http, in.data(), in.size());
    if (n < 0) return "Unable to read the print file.";
    if (n == 0) break;
    if (first && compressed) {
      first = false;
      const auto b0 = static_cast<unsigned char>(in[0]);
      const bool gzip = std::strcmp(compression, "gzip") == 0;
      // Data a client's HTTP layer already inflated is taken as it is.
      compressed = gzip ? n >= 2 && b0 == 0x1F && static_cast<unsigned char>(in[1]) == 0x8B : true;
      if (compressed) {
        // gzip; deflate as raw DEFLATE or, as some clients send it, zlib.
        const int bits = gzip ? 16 + MAX_WBITS : (b0 & 0x0F) == 8 ? MAX_WBITS : -MAX_WBITS;
        if (inflateInit2(&inflater.z, bits) != Z_OK) return "The server ran out of memory.";
        inflater.open = true;
      }
    }
    if (!compressed) {
      total += static_cast<std::size_t>(n);
      if (total > kMaxDocument) return "The document is larger than 1 GiB.";
      if (!writeAll(fd, in.data(), static_cast<std::size_t>(n))) return "Unable to write the print file.";
      continue;
    }
    inflater.z.next_in = reinterpret_cast<Bytef*>(in.data());
    inflater.z.avail_in = static_cast<uInt>(n);
    while (inflater.z.avail_in > 0) {
      inflater.z.next_out = reinterpret_cast<Bytef*>(out.data());
      inflater.z.avail_out = static_cast<uInt>(out.size());
      const int status = inflate(&inflater.z, Z_NO_FLUSH);
      if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
        return "The compressed document is damaged.";
      }
      const std::size_t made = out.size() - inflater.z.avail_out;
      total += made;
      if (total > kMaxDocument) return "The document is larger than 1 GiB.";
      if (!writeAll(fd, out.data(), made)) return "Unable to write the print file.";
      if (status == Z_STREAM_END) break;  // anything after the stream is dropped
      if (made == 0 && status == Z_BUF_ERROR) break;
    }
  }
  return nullptr;
}

// The job cannot be received: the client is told, the job ends.
void abandon(pappl_client_t* client, pappl_job_t* job, const char* why) {
  _papplClientFlushDocumentData(client);
  papplClientRespondIPP(client, IPP_STATUS_ERROR_DOCUMENT_FORMAT_ERROR, "%s", why);
  papplJobCancel(job);
}

// The answer PAPPL gives to a Print-Job or Send-Document it accepted.
void respondWithJob(pappl_client_t* client, pappl_job_t* job) {
  ipp_t* response = papplClientRespondIPP(client, IPP_STATUS_OK, nullptr);
  ippAddInteger(response, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", papplJobGetID(job));
  if (ipp_attribute_t* uri = papplJobGetAttribute(job, "job-uri")) {
    ippAddString(response, IPP_TAG_JOB, IPP_TAG_URI, "job-uri", nullptr, ippGetString(uri, 0, nullptr));
  }
  ippAddInteger(response, IPP_TAG_JOB, IPP_TAG_ENUM, "job-state", static_cast<int>(papplJobGetState(job)));
  addJobStateReasons(response, job);
}

void spool(pappl_client_t* client, pappl_job_t* job) {
  char filename[1024];
  const int fd = papplJobOpenFile(job, filename, sizeof filename, nullptr, nullptr, "w");
  if (fd < 0) return abandon(client, job, "Unable to create the print file.");
  const char* fault = receive(papplClientGetHTTP(client), fd, compressionOf(client));
  if (::close(fd) != 0 && fault == nullptr) fault = "Unable to write the print file.";
  if (fault != nullptr) {
    ::unlink(filename);
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", fault);
    return abandon(client, job, fault);
  }
  papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Spooled the document as \"%s\".", filename);
  _papplJobSubmitFile(job, filename);
  respondWithJob(client, job);
}

// ---------------------------------------------------------------------------
// 8. The size of a request.
//
// PAPPL 1.3.1 reads an IPP request whatever its size and keeps its job
// attributes with the job: one client's 10 MB attribute lives in memory
// and in the state for as long as the job is remembered. A request whose
// attributes pass kMaxRequest is refused (HTTP 400) before it is read
// further. PAPPL reads requests with ippRead, which reads through
// ippReadIO; here ippRead marks the request being read and ippReadIO counts
// its bytes.

constexpr std::size_t kMaxRequest = 256 * 1024;

thread_local void* tRequestSource = nullptr;

struct Budget {
  void* source;
  ipp_iocb_t read;
  std::size_t left;
};

ssize_t budgetedRead(void* context, ipp_uchar_t* buffer, std::size_t bytes) {
  auto* budget = static_cast<Budget*>(context);
  if (bytes > budget->left) {
    budget->left = 0;
    return -1;
  }
  const ssize_t n = budget->read(budget->source, buffer, bytes);
  if (n > 0) budget->left -= static_cast<std::size_t>(n);
  return n;
}

// ---------------------------------------------------------------------------
// 9. Completed jobs pile up.
//
// PAPPL 1.3.1 trims a printer's completed jobs from the newest end of its
// list and stops at the first that ended less than a minute ago, which is
// always the newest one while jobs keep coming: the list only grows, and
// each save of the state and each job gets slower with it. With one
// preserved job PAPPL's clean-up looks past the recent jobs, trims the list
// to the printer's maximum (100) after every job, and keeps the spool file
// of the newest job only. (It still trims from the newest end: the jobs of
// the last minute and the oldest ones are the ones kept.)

// ---------------------------------------------------------------------------
// 10. The state file.
//
// PAPPL 1.3.1 restores a job that was printing when the server stopped
// without finishing it (killed, crashed, power lost) as "processing":
// neither printed nor ended, for ever. It writes the state file in place,
// so a crash during a save leaves it cut short and the printers are gone
// after the restart. And it saves at every change, writing every job each
// time. Here a job found printing is put back in the queue and printed
// again from the start (its document is still in the spool); the state is
// written to a temporary file, flushed and renamed over the old one; a
// change is saved at once, unless the last save is less than a second old:
// then within the second (and when the server stops), so that a busy server
// saves once a second, not at every change of a job's state; and a job whose
// document was taken is saved before the client is answered (workaround 7's
// stand-in), so that no job a client was told is accepted is lost.

std::string gStateFile;
std::atomic<bool> gStateChanged{false};
std::time_t gLastSave = 0;  // the main loop's thread only

// Jobs saved as processing ("state=5") become pending ("state=3"). True
// when there was one.
bool requeueInterruptedJobs(const std::string& stateFile) {
  std::string text;
  std::string error;
  if (!tools::readWhole(stateFile, text, error)) return false;
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
  // Replaced whole: a reader or a crash sees the old file or the new one.
  return changed && tools::writeWhole(stateFile, text, error);
}

// Saves through a temporary file of PAPPL's own format, then renames it.
std::mutex gSaveLock;  // one save at a time: the main loop's, a client's

bool saveNow(pappl_system_t* system) {
  const std::lock_guard<std::mutex> one(gSaveLock);
  const std::string temporary = gStateFile + ".new";
  if (!papplSystemSaveState(system, temporary.c_str())) return false;
  const int fd = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
  const bool synced = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  if (!synced || std::rename(temporary.c_str(), gStateFile.c_str()) != 0) {
    std::remove(temporary.c_str());
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to save the state to \"%s\": %s",
             gStateFile.c_str(), std::strerror(errno));
    return false;
  }
  // The rename itself reaches the disk with its folder.
  const std::size_t slash = gStateFile.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : gStateFile.substr(0, slash + 1);
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

// PAPPL's save callback, called from its main loop after a change.
bool saveState(pappl_system_t* system, void*) {
  return orElse(false, [&] {
    const std::time_t now = std::time(nullptr);
    if (papplSystemIsRunning(system) && now - gLastSave < 1) {
      gStateChanged = true;  // saved by the timer within the second
      return true;
    }
    gLastSave = now;
    return saveNow(system);
  });
}

// Once the server runs: starts the queues, which PAPPL does not do for jobs
// it loaded (and whose early start workaround 1 puts off).
bool startQueues(pappl_system_t* system, void*) {
  papplSystemIteratePrinters(
      system, [](pappl_printer_t* printer, void*) { _papplPrinterCheckJobs(printer); }, nullptr);
  return false;
}

// ---------------------------------------------------------------------------
// 11. Stopping with a printer that takes nothing.
//
// PAPPL 1.3.1 stops (Shutdown-System, the "shutdown" sub-command, SIGTERM)
// once no job is queued or printing, or after 60 seconds; it then frees the
// printers and their jobs while a job's thread may still be writing to a
// printer that takes nothing. Here the server waits up to kStopGrace for
// its jobs, then saves the state (what is printing or queued is printed
// again after the restart) and ends the process at once, freeing nothing.
// PAPPL's own SIGTERM (and SIGINT) handler keeps its time to itself: the
// handler installed here notes the signal, then calls PAPPL's.

constexpr int kStopGrace = 10;  // seconds

std::atomic<bool> gTerminate{false};
struct sigaction gPapplsTerm {};
struct sigaction gPapplsInt {};

void onTerm(int signal) {
  gTerminate = true;
  const struct sigaction& pappls = signal == SIGINT ? gPapplsInt : gPapplsTerm;
  if (pappls.sa_handler != SIG_DFL && pappls.sa_handler != SIG_IGN && pappls.sa_handler != nullptr) {
    pappls.sa_handler(signal);
  }
}

// Every second while the server runs: the state, and stopping.
bool watch(pappl_system_t* system) {
  static bool handlerInstalled = false;
  static std::time_t stopAsked = 0;
  if (!handlerInstalled) {
    // PAPPL installs its handler when the server starts running.
    struct sigaction ours {};
    ours.sa_handler = onTerm;
    sigemptyset(&ours.sa_mask);
    sigaction(SIGTERM, &ours, &gPapplsTerm);
    sigaction(SIGINT, &ours, &gPapplsInt);
    handlerInstalled = true;
  }
  if (gStateChanged.exchange(false)) {
    gLastSave = std::time(nullptr);
    saveNow(system);
  }
  if (gTerminate || papplSystemIsShutdown(system)) {
    const std::time_t now = std::time(nullptr);
    if (stopAsked == 0) {
      stopAsked = now;
      if (!papplSystemIsShutdown(system)) papplSystemShutdown(system);
    } else if (now - stopAsked >= kStopGrace) {
      papplLog(system, PAPPL_LOGLEVEL_WARN,
               "Jobs are still printing or queued; saving them and stopping now.");
      saveNow(system);
      std::_Exit(0);
    }
  }
  return true;
}

bool everySecond(pappl_system_t* system, void*) {
  return orElse(true, [&] { return watch(system); });
}

// ---------------------------------------------------------------------------
// 15. Freeing the server under its clients.
//
// When PAPPL 1.3.1's server stops, papplMainloop frees the system, its
// printers and their jobs (papplSystemDelete) while client threads may
// still be answering requests: a client that asks at that moment reads
// freed memory, and the process ends in "double free or corruption". The
// server's system is not freed: once PAPPL has saved the state and
// withdrawn the printers from DNS-SD, the process ends (with the checks of
// exit, so that a leak still shows).

pappl_system_t* gServerSystem = nullptr;

// ---------------------------------------------------------------------------
// 12. Root's local socket.
//
// The sub-commands reach the server through a local socket, which PAPPL
// 1.3.1 puts in $TMPDIR for users but, for root, at a path fixed when PAPPL
// was built, unless SNAP_COMMON names a folder. Root's sub-commands look in
// kSystemSocketDir, where the system service listens; with TMPDIR set they
// look there, so that a private instance (a test's) stays apart.

// ---------------------------------------------------------------------------
// 13. Sub-commands that fail in silence.
//
// PAPPL 1.3.1's "jobs" sub-command prints nothing and ends with status 0
// when the server refuses its request (a printer that does not exist):
// here it names the error and ends with status 1.

// ---------------------------------------------------------------------------
// 14. The system's state-change time.
//
// PAPPL 1.3.1 answers the newest state change of the system's printers as
// the system's (system-state-change-date-time, which "status" prints), or
// 1 January 1970 when it has no printer: the server's start is answered
// then.

std::time_t gStarted = 0;

void fixSystemStateTime(ipp_t* response) {
  ipp_attribute_t* date = ippFindAttribute(response, "system-state-change-date-time", IPP_TAG_DATE);
  if (date == nullptr || ippDateToTime(ippGetDate(date, 0)) > 0 || gStarted == 0) return;
  ippSetDate(response, &date, 0, ippTimeToDate(gStarted));
}

// ---------------------------------------------------------------------------
// Each interposed function, checked at start-up: this program's definition
// must be the one the dynamic linker hands PAPPL, and PAPPL's (or the C
// library's) own must be there to hand over to.

struct Interposed {
  const char* name;
  const char* workaround;
  void* ours;
};

void checkEngaged(pappl_system_t* system, const std::vector<Interposed>& list) {
  for (const Interposed& i : list) {
    const bool engaged = dlsym(RTLD_DEFAULT, i.name) == i.ours && dlsym(RTLD_NEXT, i.name) != nullptr;
    if (!engaged) {
      papplLog(system, PAPPL_LOGLEVEL_ERROR,
               "PAPPL 1.3.1 workaround \"%s\" is not engaged: %s is not this program's.",
               i.workaround, i.name);
    }
  }
  if (papplsJobThread() == nullptr) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR,
             "PAPPL 1.3.1 workaround \"one job at a time\" is not engaged: no _papplJobProcess.");
  }
}

}  // namespace
}  // namespace bspp::printer_app::fixes

// ------------------------------------------------------------- interposed

using namespace bspp::printer_app::fixes;  // the definitions below are C
using bspp::printer_app::orElse;

extern "C" {

// 1. One job at a time on each printer.
int pthread_create(pthread_t* thread, const pthread_attr_t* attr, StartRoutine routine,
                   void* arg) noexcept {
  static const auto libcs = theirs<CreateThread>("pthread_create");
  if (libcs == nullptr) return EAGAIN;
  if (routine != papplsJobThread() || arg == nullptr) return libcs(thread, attr, routine, arg);
  // Called by the queue check with the printer locked: the job and its
  // printer are valid here, and these accessors take no lock.
  auto* job = static_cast<pappl_job_t*>(arg);
  pappl_printer_t* printer = papplJobGetPrinter(job);
  JobStart* start = nullptr;
  try {
    start = new JobStart{routine, papplPrinterGetSystem(printer), papplPrinterGetID(printer),
                         papplJobGetID(job),
                         &printerTurn(papplPrinterGetSystem(printer), papplPrinterGetID(printer))};
  } catch (...) {
    return EAGAIN;  // PAPPL aborts the job
  }
  const int error = libcs(thread, attr, runJob, start);
  if (error != 0) delete start;
  return error;
}

// 2. CUPS's names for a queue.
pappl_printer_t* papplSystemFindPrinter(pappl_system_t* system, const char* resource,
                                        int printerId, const char* deviceUri) {
  using Find = pappl_printer_t* (*)(pappl_system_t*, const char*, int, const char*);
  static const auto pappls = theirs<Find>("papplSystemFindPrinter");
  if (pappls == nullptr) return nullptr;
  if (resource != nullptr && std::strncmp(resource, kCupsPrefix, sizeof kCupsPrefix - 1) == 0) {
    char mapped[1024];
    std::snprintf(mapped, sizeof mapped, "/ipp/print/%s", resource + sizeof kCupsPrefix - 1);
    return pappls(system, mapped, printerId, deviceUri);
  }
  return pappls(system, resource, printerId, deviceUri);
}

// 3. No Avahi daemon.
AvahiServiceBrowser* avahi_service_browser_new(AvahiClient* client, AvahiIfIndex interface,
                                               AvahiProtocol protocol, const char* type,
                                               const char* domain, AvahiLookupFlags flags,
                                               AvahiServiceBrowserCallback callback,
                                               void* userdata) {
  using BrowserNew = AvahiServiceBrowser* (*)(AvahiClient*, AvahiIfIndex, AvahiProtocol, const char*,
                                              const char*, AvahiLookupFlags,
                                              AvahiServiceBrowserCallback, void*);
  static const auto avahis = theirs<BrowserNew>("avahi_service_browser_new");
  if (client == nullptr || avahis == nullptr) return nullptr;
  return avahis(client, interface, protocol, type, domain, flags, callback, userdata);
}

// 4. Managing from another address: IPP.
http_status_t _papplClientIsAuthorizedForGroup(pappl_client_t* client, bool allowRemote,
                                               const char* group, gid_t groupId) {
  using Check = http_status_t (*)(pappl_client_t*, bool, const char*, gid_t);
  static const auto pappls = theirs<Check>("_papplClientIsAuthorizedForGroup");
  if (pappls == nullptr) return HTTP_STATUS_FORBIDDEN;
  const bool refused = orElse(true, [&] {
    return client != nullptr && !isLocal(client) &&
           !canAuthenticate(papplClientGetSystem(client)) && !remoteMay(client);
  });
  return refused ? HTTP_STATUS_FORBIDDEN : pappls(client, allowRemote, group, groupId);
}

// 4. Managing from another address: the web pages that PAPPL guards.
bool papplClientHTMLAuthorize(pappl_client_t* client) {
  using Authorize = bool (*)(pappl_client_t*);
  static const auto pappls = theirs<Authorize>("papplClientHTMLAuthorize");
  if (client != nullptr && !isLocal(client)) {
    pappl_system_t* system = papplClientGetSystem(client);
    const char* uri = papplClientGetURI(client);
    const bool passwordPage = uri != nullptr && std::strcmp(uri, "/security") == 0;
    if (passwordPage || (!canAuthenticate(system) && !hasPassword(system)) || pappls == nullptr) {
      papplClientRespond(client, HTTP_STATUS_FORBIDDEN, nullptr, nullptr, 0, 0);
      return false;
    }
  }
  return pappls != nullptr && pappls(client);
}

// 4. Managing from another address: a printer's page, whose actions PAPPL
// does not guard, and whose job list (5.) names other users' jobs.
void _papplPrinterWebHome(pappl_client_t* client, pappl_printer_t* printer) {
  using Page = void (*)(pappl_client_t*, pappl_printer_t*);
  static const auto pappls = theirs<Page>("_papplPrinterWebHome");
  if (pappls == nullptr) return;
  if (client != nullptr && !isLocal(client)) {
    if (papplClientGetMethod(client) == HTTP_STATE_POST && !papplClientHTMLAuthorize(client)) return;
    const HiddenJobNames hidden;
    return pappls(client, printer);
  }
  pappls(client, printer);
}

const char* papplJobGetName(pappl_job_t* job) {
  using Get = const char* (*)(pappl_job_t*);
  static const auto pappls = theirs<Get>("papplJobGetName");
  return tHideJobNames || pappls == nullptr ? kHidden : pappls(job);
}

const char* papplJobGetUsername(pappl_job_t* job) {
  using Get = const char* (*)(pappl_job_t*);
  static const auto pappls = theirs<Get>("papplJobGetUsername");
  return tHideJobNames || pappls == nullptr ? kHidden : pappls(job);
}

// 5. Other users' jobs, listed to a client on another address.
void _papplJobCopyAttributesNoLock(pappl_job_t* job, pappl_client_t* client, cups_array_t* ra) {
  using Copy = void (*)(pappl_job_t*, pappl_client_t*, cups_array_t*);
  static const auto pappls = theirs<Copy>("_papplJobCopyAttributesNoLock");
  if (pappls == nullptr) return;
  pappls(job, client, ra);
  orElse(0, [&] {
    if (client == nullptr) return 0;
    const char* owner = papplJobGetUsername(job);
    const bool hide = !isLocal(client) && (owner == nullptr || requester(client) != owner);
    ipp_t* response = papplClientGetResponse(client);
    std::vector<ipp_attribute_t*> doomed;
    std::vector<std::string> seen;
    for (ipp_attribute_t* a : lastGroup(response)) {
      if (ippGetGroupTag(a) != IPP_TAG_JOB) continue;
      const std::string name = ippGetName(a);
      bool twice = false;
      for (const std::string& n : seen) twice = twice || n == name;
      seen.push_back(name);
      if (twice || (hide && isPrivateJobAttribute(name.c_str()))) doomed.push_back(a);
    }
    for (ipp_attribute_t* a : doomed) ippDeleteAttribute(response, a);
    const bool asked = ra == nullptr || cupsArrayFind(ra, const_cast<char*>("job-state-reasons")) != nullptr;
    bool have = false;
    for (const std::string& n : seen) have = have || n == "job-state-reasons";
    if (asked && !have) addJobStateReasons(response, job);
    return 0;
  });
}

// 6. Printer attributes that PAPPL 1.3.1 answers wrongly.
void _papplPrinterCopyAttributesNoLock(pappl_printer_t* printer, pappl_client_t* client,
                                       cups_array_t* ra, const char* format) {
  using Copy = void (*)(pappl_printer_t*, pappl_client_t*, cups_array_t*, const char*);
  static const auto pappls = theirs<Copy>("_papplPrinterCopyAttributesNoLock");
  if (pappls == nullptr) return;
  pappls(printer, client, ra, format);
  orElse(0, [&] {
    fixPrinterAttributes(papplClientGetResponse(client));
    return 0;
  });
}

// 7. Documents spooled whole and plain.
void _papplJobCopyDocumentData(pappl_client_t* client, pappl_job_t* job) {
  using Copy = void (*)(pappl_client_t*, pappl_job_t*);
  static const auto pappls = theirs<Copy>("_papplJobCopyDocumentData");
  if (!spooledHere(client, papplJobGetFormat(job))) {
    if (pappls != nullptr) pappls(client, job);
  } else if (!orElse(false, [&] {
               spool(client, job);
               return true;
             })) {
    abandon(client, job, "The server ran out of memory.");
  }
  // 10. The job is in the state file before the client is answered that it
  // was accepted (PAPPL saves later, from its main loop): a crash a moment
  // after the answer loses nothing.
  orElse(false, [&] { return saveNow(papplClientGetSystem(client)); });
}

// 7. Documents spooled whole and plain: the compressed ones inflated here.
void httpSetField(http_t* http, http_field_t field, const char* value) {
  using Set = void (*)(http_t*, http_field_t, const char*);
  static const auto cups = theirs<Set>("httpSetField");
  if (cups == nullptr) return;
  if (field == HTTP_FIELD_CONTENT_ENCODING && http != nullptr &&
      httpGetState(http) == HTTP_STATE_POST_RECV) {
    return;
  }
  cups(http, field, value);
}

// 8. The size of a request.
ipp_state_t ippRead(http_t* http, ipp_t* ipp) {
  using Read = ipp_state_t (*)(http_t*, ipp_t*);
  static const auto cups = theirs<Read>("ippRead");
  if (cups == nullptr) return IPP_STATE_ERROR;
  // Only a request a client sends to the server; not the answers the
  // sub-commands read from it.
  if (http == nullptr || httpGetState(http) != HTTP_STATE_POST_RECV) return cups(http, ipp);
  tRequestSource = http;
  const ipp_state_t state = cups(http, ipp);
  tRequestSource = nullptr;
  return state;
}

ipp_state_t ippReadIO(void* source, ipp_iocb_t read, int blocking, ipp_t* parent, ipp_t* ipp) {
  using ReadIO = ipp_state_t (*)(void*, ipp_iocb_t, int, ipp_t*, ipp_t*);
  static const auto cups = theirs<ReadIO>("ippReadIO");
  if (cups == nullptr) return IPP_STATE_ERROR;
  if (source == nullptr || source != tRequestSource || parent != nullptr) {
    return cups(source, read, blocking, parent, ipp);
  }
  const std::size_t used = ipp != nullptr ? ippLength(ipp) : 0;
  Budget budget{source, read, used < kMaxRequest ? kMaxRequest - used : 0};
  const ipp_state_t state = cups(&budget, budgetedRead, blocking, parent, ipp);
  if (state == IPP_STATE_ERROR && budget.left == 0) {
    std::fprintf(stderr, "bspp-printer-app: refused a request larger than %zu bytes\n", kMaxRequest);
  }
  return state;
}

// 13. Sub-commands that fail in silence.
int _papplMainloopShowJobs(const char* baseName, int numOptions, cups_option_t* options) {
  using Show = int (*)(const char*, int, cups_option_t*);
  static const auto pappls = theirs<Show>("_papplMainloopShowJobs");
  if (pappls == nullptr) return 1;
  const int status = pappls(baseName, numOptions, options);
  if (status == 0 && cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) {
    std::fprintf(stderr, "%s: %s\n", baseName, cupsLastErrorString());
    return 1;
  }
  return status;
}

// 15. Freeing the server under its clients.
void papplSystemDelete(pappl_system_t* system) {
  using Delete = void (*)(pappl_system_t*);
  static const auto pappls = theirs<Delete>("papplSystemDelete");
  if (system != nullptr && system == gServerSystem) std::exit(0);
  if (pappls != nullptr) pappls(system);
}

// 14. The system's state-change time.
void _papplSystemProcessIPP(pappl_client_t* client) {
  using Process = void (*)(pappl_client_t*);
  static const auto pappls = theirs<Process>("_papplSystemProcessIPP");
  if (pappls == nullptr) return;
  pappls(client);
  if (papplClientGetOperation(client) == IPP_OP_GET_SYSTEM_ATTRIBUTES) {
    fixSystemStateTime(papplClientGetResponse(client));
  }
}

}  // extern "C"

namespace bspp::printer_app::fixes {

void beforeMainloop() {
  // 12. Root's local socket.
  if (getuid() != 0 || std::getenv("SNAP_COMMON") != nullptr) return;
  const char* tmp = std::getenv("TMPDIR");
  setenv("SNAP_COMMON", tmp != nullptr && *tmp != '\0' ? tmp : kSystemSocketDir, 1);
}

void serverCreated(pappl_system_t* system, const std::string& stateFile) {
  // A stand-in by its name and its address, which cannot then disagree.
#define BSPP_STAND_IN(function, fault) {#function, fault, reinterpret_cast<void*>(&function)}
  checkEngaged(system, {
      BSPP_STAND_IN(pthread_create, "one job at a time"),
      BSPP_STAND_IN(papplSystemFindPrinter, "CUPS queue names"),
      BSPP_STAND_IN(avahi_service_browser_new, "no Avahi daemon"),
      BSPP_STAND_IN(_papplClientIsAuthorizedForGroup, "managing from another address"),
      BSPP_STAND_IN(papplClientHTMLAuthorize, "managing from another address"),
      BSPP_STAND_IN(_papplPrinterWebHome, "managing from another address"),
      BSPP_STAND_IN(papplJobGetName, "other users' jobs"),
      BSPP_STAND_IN(papplJobGetUsername, "other users' jobs"),
      BSPP_STAND_IN(_papplJobCopyAttributesNoLock, "other users' jobs"),
      BSPP_STAND_IN(_papplPrinterCopyAttributesNoLock, "printer attributes"),
      BSPP_STAND_IN(_papplJobCopyDocumentData, "documents spooled whole and plain"),
      BSPP_STAND_IN(httpSetField, "documents spooled whole and plain"),
      BSPP_STAND_IN(ippRead, "request size"),
      BSPP_STAND_IN(ippReadIO, "request size"),
      BSPP_STAND_IN(_papplMainloopShowJobs, "sub-commands that fail in silence"),
      BSPP_STAND_IN(_papplSystemProcessIPP, "the system's state-change time"),
      BSPP_STAND_IN(papplSystemDelete, "freeing the server under its clients"),
  });
#undef BSPP_STAND_IN
  gServerSystem = system;
  gStarted = std::time(nullptr);

  // 10. The state file.
  gStateFile = stateFile;
  const bool requeued = requeueInterruptedJobs(stateFile);
  papplSystemLoadState(system, stateFile.c_str());
  papplSystemSetSaveCallback(system, saveState, nullptr);
  if (requeued) papplLog(system, PAPPL_LOGLEVEL_INFO, "A job that was printing is printed again.");
  papplSystemAddTimerCallback(system, std::time(nullptr), 0, startQueues, nullptr);
  // 10, 11. Saving and stopping.
  papplSystemAddTimerCallback(system, 0, 1, everySecond, nullptr);
}

void printerCreated(pappl_printer_t* printer) {
  // 9. Completed jobs pile up.
  papplPrinterSetMaxPreservedJobs(printer, 1);
}

}  // namespace bspp::printer_app::fixes
