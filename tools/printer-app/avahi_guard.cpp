// Listing network printers ("devices", the web page that adds a printer)
// must not stop the program when no Avahi daemon runs: PAPPL 1.3 then asks
// Avahi for a service browser without a client, which Avahi answers with an
// assertion failure. This program provides avahi_service_browser_new
// itself, answering "no browser" for a missing client, as Avahi does for
// any other failure; everything else goes to Avahi's own function.
#include <avahi-client/lookup.h>
#include <dlfcn.h>

namespace {

using BrowserNew = AvahiServiceBrowser* (*)(AvahiClient*, AvahiIfIndex, AvahiProtocol, const char*,
                                            const char*, AvahiLookupFlags,
                                            AvahiServiceBrowserCallback, void*);

}  // namespace

extern "C" AvahiServiceBrowser* avahi_service_browser_new(
    AvahiClient* client, AvahiIfIndex interface, AvahiProtocol protocol, const char* type,
    const char* domain, AvahiLookupFlags flags, AvahiServiceBrowserCallback callback,
    void* userdata) {
  static const auto avahis =
      reinterpret_cast<BrowserNew>(dlsym(RTLD_NEXT, "avahi_service_browser_new"));
  if (client == nullptr || avahis == nullptr) return nullptr;
  return avahis(client, interface, protocol, type, domain, flags, callback, userdata);
}
