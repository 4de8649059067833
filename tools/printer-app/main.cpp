// bspp-printer-app: shares an ESC/P 9-pin printer as an IPP Everywhere
// printer. PAPPL does the IPP server, the queue, the spool, device access,
// DNS-SD and the web pages; this file makes the system from the server's
// options. The driver is escp_driver.cpp, the parallel port lp_device.cpp,
// and what PAPPL 1.3.1 gets wrong is answered in pappl_fixes.cpp.
#include <pappl/pappl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "callback.h"
#include "escp_driver.h"
#include "lp_device.h"
#include "pappl_fixes.h"

namespace {

using namespace bspp::printer_app;

constexpr const char* kAppName = "bspp-printer-app";
constexpr int kDefaultPort = 8631;

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
    ::mkdir(dir.c_str(), 0700);
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

// Listens on the addresses of "listen-hostname" (comma separated; all when
// empty or "*"). False when it can listen on none.
bool addNetworkListeners(pappl_system_t* system, const std::string& listen) {
  if (listen.empty() || listen == "*") return papplSystemAddListeners(system, nullptr);
  bool listening = false;
  std::size_t start = 0;
  while (start <= listen.size()) {
    const std::size_t comma = std::min(listen.find(',', start), listen.size());
    const std::string name = listen.substr(start, comma - start);
    if (!name.empty()) listening = papplSystemAddListeners(system, name.c_str()) || listening;
    start = comma + 1;
  }
  return listening;
}

pappl_system_t* makeSystem(int numOptions, cups_option_t* options, void* data) {
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
  if (gServer) {
    ::mkdir(spool.c_str(), 0700);
    if (getuid() == 0) ::mkdir(fixes::kSystemSocketDir, 0700);
  }

  // The web pages manage the server from the machine itself; a client on
  // another address sees the status pages (pappl_fixes.cpp, workaround 4).
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
    if (!addNetworkListeners(system, listen)) {
      std::fprintf(stderr, "%s: cannot listen on %s port %ld\n", kAppName,
                   listen.empty() ? "all addresses" : listen.c_str(), port);
      papplSystemDelete(system);
      return nullptr;
    }
    // The system service's socket, where root's sub-commands find it.
    if (const char* socket = cupsGetOption("local-socket", numOptions, options)) {
      if (!papplSystemAddListeners(system, socket)) {
        std::fprintf(stderr, "%s: cannot listen on %s\n", kAppName, socket);
        papplSystemDelete(system);
        return nullptr;
      }
    }
  }

  papplSystemSetPrinterDrivers(system, driverCount(), drivers(), autoAdd, printerCreated,
                               driverCallback, data);
  papplSystemSetMIMECallback(system, detectFormat, nullptr);
  addFilters(system);
  papplSystemSetFooterHTML(system, "bspp: Chinese text and pictures on ESC/P 9-pin printers");

  if (gServer) {
    // Printers and their jobs survive a restart through the state file.
    fixes::serverCreated(system, optionOr("state-file", numOptions, options, defaultStateFile()));
  }
  return system;
}

pappl_system_t* systemCallback(int numOptions, cups_option_t* options, void* data) {
  return orElse<pappl_system_t*>(nullptr, [&] { return makeSystem(numOptions, options, data); });
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
      "  local-socket=PATH                  another local socket to listen on\n"
      "  admin-group=GROUP, auth-service=PAM-SERVICE\n\n"
      "Devices: parallel:/dev/lp0, usb://..., socket://HOST:9100, file:///PATH\n",
      kAppName, kAppName, kAppName, kDriverName, kAppName, kDefaultPort,
      defaultStateFile().c_str(), defaultSpoolDir().c_str());
}

}  // namespace

int main(int argc, char* argv[]) {
  gServer = argc > 1 && std::strcmp(argv[1], "server") == 0;
  fixes::beforeMainloop();
  addParallelScheme();
  return papplMainloop(argc, argv, BSPP_VERSION, nullptr, driverCount(), drivers(), autoAdd,
                       driverCallback, nullptr, nullptr, systemCallback, usage, nullptr);
}
