// CUPS clients (`lp -h HOST:PORT -d NAME`, `lpstat -h`) address a queue as
// /printers/NAME, while PAPPL 1.3 knows its printers only as
// /ipp/print/NAME. PAPPL looks every request's printer up through
// papplSystemFindPrinter, so this program provides that function itself:
// it maps the CUPS path onto PAPPL's and hands every lookup to PAPPL's own.
#include <dlfcn.h>
#include <pappl/pappl.h>

#include <cstring>
#include <string>

namespace {

using FindPrinter = pappl_printer_t* (*)(pappl_system_t*, const char*, int, const char*);

FindPrinter papplsOwn() {
  static const auto own = reinterpret_cast<FindPrinter>(dlsym(RTLD_NEXT, "papplSystemFindPrinter"));
  return own;
}

constexpr char kCupsPrefix[] = "/printers/";

}  // namespace

extern "C" pappl_printer_t* papplSystemFindPrinter(pappl_system_t* system, const char* resource,
                                                   int printerId, const char* deviceUri) {
  const FindPrinter own = papplsOwn();
  if (own == nullptr) return nullptr;
  if (resource != nullptr && std::strncmp(resource, kCupsPrefix, sizeof kCupsPrefix - 1) == 0) {
    const std::string mapped = std::string("/ipp/print/") + (resource + sizeof kCupsPrefix - 1);
    return own(system, mapped.c_str(), printerId, deviceUri);
  }
  return own(system, resource, printerId, deviceUri);
}
