// Where PAPPL 1.3.1 (Debian 12's) is at fault, and what this program does
// about it. Every workaround is in pappl_fixes.cpp, each with the fault it
// answers; each is checked when the server starts, and one that is not in
// effect is logged as an error ("PAPPL 1.3.1 workaround ... is not
// engaged"), which the tests look for.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace bspp::printer_app::fixes {

// Before papplMainloop, for every sub-command: where root's sub-commands
// find the server's local socket.
void beforeMainloop();

// The folder of the system service's local socket, where root's
// sub-commands look for it.
extern const char* const kSystemSocketDir;

// When the server's system is made: checks the workarounds, and loads the
// printers and queued jobs from `stateFile` (a job that was printing when
// the server stopped is queued again) and keeps the file up to date,
// replacing it whole. A SIGTERM or Shutdown-System ends the server within
// seconds even when a printer takes nothing: what is still queued or
// printing is saved and printed after the restart.
void serverCreated(pappl_system_t* system, const std::string& stateFile);

// When a printer is made or loaded: its completed jobs are trimmed as they
// age.
void printerCreated(pappl_printer_t* printer);

}  // namespace bspp::printer_app::fixes
