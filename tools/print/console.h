// The command line and the console, in UTF-8 on every platform.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace bspp::tools {

// The program's arguments after its name, as UTF-8. On Windows they are read
// from the wide command line, so that a file name in any script survives
// whatever the ANSI code page is; elsewhere they are argv as given.
std::vector<std::string> utf8Arguments(int argc, char** argv);

// Writes UTF-8 text to standard output or standard error. A Windows console
// is given the text as UTF-16, so it shows right under any console code
// page; a file or pipe receives the UTF-8 bytes.
void writeText(std::FILE* stream, const std::string& utf8);

#ifdef _WIN32
// UTF-8 to UTF-16 and back, for the wide Windows calls.
std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& wide);
#endif

}  // namespace bspp::tools
