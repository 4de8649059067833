#include "file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cctype>

#include "console.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#endif

namespace bspp::tools {
namespace {

// A C stream closed on every way out.
class File {
 public:
  File(std::FILE* f, bool owned) : f_(f), owned_(owned) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() {
    if (f_ != nullptr && owned_) std::fclose(f_);
  }
  std::FILE* get() const { return f_; }
  // Closes now; false when buffered data could not be written.
  bool close() {
    const bool ok = !owned_ || std::fclose(f_) == 0;
    f_ = nullptr;
    return ok;
  }

 private:
  std::FILE* f_;
  bool owned_;
};

std::string reason() { return std::strerror(errno); }

void binaryMode(std::FILE* f) {
#ifdef _WIN32
  _setmode(_fileno(f), _O_BINARY);
#else
  (void)f;
#endif
}

bool writeAll(std::FILE* f, std::string_view data) {
  return std::fwrite(data.data(), 1, data.size(), f) == data.size() && std::fflush(f) == 0;
}

std::FILE* openFile(const std::string& path, const char* mode) {
#ifdef _WIN32
  const std::wstring wideMode(mode, mode + std::strlen(mode));
  return _wfopen(widen(path).c_str(), wideMode.c_str());
#else
  return std::fopen(path.c_str(), mode);
#endif
}

#ifdef _WIN32

std::string windowsError(DWORD code) { return "Windows error " + std::to_string(code); }

// A kernel handle closed on every way out.
class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) CloseHandle(h_);
  }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// NUL, CON, LPT1, COM3, ... name a device in any folder and with any
// extension; \\.\ names one directly.
bool isDosDeviceName(const std::string& path) {
  if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("//./", 0) == 0) return true;
  const std::size_t slash = path.find_last_of("\\/:");
  std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  name = name.substr(0, name.find('.'));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL" || name == "CONOUT$") {
    return true;
  }
  return name.size() == 4 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "LPT") == 0) &&
         name[3] >= '1' && name[3] <= '9';
}

#else

// The file a path finally names, following symbolic links (also a link to a
// file that does not exist yet). Empty, with errno set, for a loop.
std::string followLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), &target[0], target.size());
    if (n < 0) return path;
    target.resize(static_cast<std::size_t>(n));
    if (target[0] != '/') {
      const std::size_t slash = path.rfind('/');
      if (slash != std::string::npos) target = path.substr(0, slash + 1) + target;
    }
    path = target;
  }
  errno = ELOOP;
  return {};
}

#endif

// Writes to a device or pipe in place: there is nothing to replace.
bool writeInPlace(const std::string& path, std::string_view data, std::string& error) {
#ifdef _WIN32
  Handle h(CreateFileW(widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) {
    error = "cannot open " + path + " (" + windowsError(GetLastError()) + ")";
    return false;
  }
  std::size_t done = 0;
  while (done < data.size()) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 20));
    if (!WriteFile(h.get(), data.data() + done, chunk, &n, nullptr) || n == 0) {
      error = "cannot write " + path + " (" + windowsError(GetLastError()) + ")";
      return false;
    }
    done += n;
  }
  return true;
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open " + path + ": " + reason();
    return false;
  }
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = "cannot write " + path + ": " + reason();
      ::close(fd);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 && errno != EINTR) {
    error = "cannot write " + path + ": " + reason();
    return false;
  }
  return true;
#endif
}

}  // namespace

bool isDevice(const std::string& path) {
  if (path == "-") return true;
#ifdef _WIN32
  if (isDosDeviceName(path)) return true;
  // An existing file is asked what it is, without opening it for writing.
  Handle h(CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.valid()) return false;
  const DWORD type = GetFileType(h.get());
  return type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE;
#else
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
#endif
}

bool readWhole(const std::string& path, std::string& data, std::string& error) {
  const bool stdinput = path == "-";
  if (stdinput) binaryMode(stdin);
  File file(stdinput ? stdin : openFile(path, "rb"), !stdinput);
  if (file.get() == nullptr) {
    error = "cannot open " + path + ": " + reason();
    return false;
  }
  data.clear();
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, file.get())) > 0) data.append(buf, n);
  if (std::ferror(file.get())) {
    error = "cannot read " + (stdinput ? std::string("standard input") : path) + ": " + reason();
    return false;
  }
  return true;
}

bool writeWhole(const std::string& path, std::string_view data, std::string& error) {
  if (path == "-") {
    binaryMode(stdout);
    if (!writeAll(stdout, data)) {
      error = "cannot write to standard output: " + reason();
      return false;
    }
    return true;
  }
  if (isDevice(path)) return writeInPlace(path, data, error);
#ifdef _WIN32
  const std::string temp = path + ".tmp" + std::to_string(GetCurrentProcessId());
  File file(openFile(temp, "wb"), true);
  if (file.get() == nullptr) {
    error = "cannot create " + temp + ": " + reason();
    return false;
  }
  const bool written = writeAll(file.get(), data);
  const bool closed = file.close();
  if (!written || !closed) {
    error = "cannot write " + path + ": " + reason();
    _wremove(widen(temp).c_str());
    return false;
  }
  if (!MoveFileExW(widen(temp).c_str(), widen(path).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    error = "cannot replace " + path + " (" + windowsError(GetLastError()) + ")";
    _wremove(widen(temp).c_str());
    return false;
  }
#else
  // A link stays a link: the file it leads to is the one replaced.
  const std::string target = followLinks(path);
  if (target.empty()) {
    error = "cannot write " + path + ": " + reason();
    return false;
  }
  std::string temp = target + ".XXXXXX";
  const int fd = ::mkstemp(&temp[0]);
  if (fd < 0) {
    error = "cannot create a file next to " + target + ": " + reason();
    return false;
  }
  // The file keeps the permissions of the one it replaces, or gets those an
  // ordinary create would give it.
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0) {
    ::fchmod(fd, old.st_mode & 07777);
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, static_cast<mode_t>(0666) & ~mask);
  }
  File file(::fdopen(fd, "wb"), true);
  if (file.get() == nullptr) {
    ::close(fd);
    ::unlink(temp.c_str());
    error = "cannot write " + path + ": " + reason();
    return false;
  }
  const bool written = writeAll(file.get(), data) && ::fsync(::fileno(file.get())) == 0;
  const bool closed = file.close();
  if (!written || !closed) {
    error = "cannot write " + path + ": " + reason();
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    error = "cannot replace " + path + ": " + reason();
    ::unlink(temp.c_str());
    return false;
  }
#endif
  return true;
}

}  // namespace bspp::tools
