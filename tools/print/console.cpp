#include "console.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace bspp::tools {

#ifdef _WIN32

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                    nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
  }
  return wide;
}

std::string narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], n,
                        nullptr, nullptr);
  }
  return utf8;
}

namespace {

// The argument vector CommandLineToArgvW allocates, freed on every way out.
class WideArgs {
 public:
  WideArgs() : argv_(CommandLineToArgvW(GetCommandLineW(), &argc_)) {}
  WideArgs(const WideArgs&) = delete;
  WideArgs& operator=(const WideArgs&) = delete;
  ~WideArgs() {
    if (argv_ != nullptr) LocalFree(argv_);
  }
  int size() const { return argv_ != nullptr ? argc_ : 0; }
  const wchar_t* operator[](int i) const { return argv_[i]; }

 private:
  int argc_ = 0;
  LPWSTR* argv_;
};

}  // namespace

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  const WideArgs wide;
  if (wide.size() == 0) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < wide.size(); ++i) args.push_back(narrow(wide[i]));
  return args;
}

void writeText(std::FILE* stream, const std::string& utf8) {
  const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
    std::fflush(stream);
    const std::wstring wide = widen(utf8);
    DWORD written = 0;
    if (WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr)) {
      return;
    }
  }
  std::fwrite(utf8.data(), 1, utf8.size(), stream);
  std::fflush(stream);
}

#else

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

void writeText(std::FILE* stream, const std::string& utf8) {
  std::fwrite(utf8.data(), 1, utf8.size(), stream);
  std::fflush(stream);
}

#endif

}  // namespace bspp::tools
