// The driver "Epson ESC/P 9-pin, 80 columns": what the printer can do, and
// how each kind of document becomes its stream.
#pragma once

#include <pappl/pappl.h>

namespace bspp::printer_app {

inline constexpr const char* kDriverName = "escp9_80";
inline constexpr const char* kDriverDescription = "Epson ESC/P 9-pin, 80 columns";
inline constexpr const char* kNativeFormat = "application/vnd.epson.escp";

// The driver list for papplMainloop and papplSystemSetPrinterDrivers.
pappl_pr_driver_t* drivers();
int driverCount();

// PAPPL's driver, auto-add, printer-created and MIME type callbacks.
bool driverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                    const char* deviceId, pappl_pr_driver_data_t* data, ipp_t** attrs,
                    void* cbdata);
const char* autoAdd(const char* deviceInfo, const char* deviceUri, const char* deviceId,
                    void* data);
void printerCreated(pappl_printer_t* printer, void* data);
const char* detectFormat(const unsigned char* header, std::size_t size, void* data);

// Adds the filters for text, pictures and documents of no known kind.
void addFilters(pappl_system_t* system);

}  // namespace bspp::printer_app
