#include "file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
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

}  // namespace

bool readWhole(const std::string& path, std::string& data, std::string& error) {
  const bool stdinput = path == "-";
  if (stdinput) binaryMode(stdin);
  File file(stdinput ? stdin : std::fopen(path.c_str(), "rb"), !stdinput);
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
#ifdef _WIN32
  const std::string temp = path + ".tmp" + std::to_string(GetCurrentProcessId());
  File file(std::fopen(temp.c_str(), "wb"), true);
  if (file.get() == nullptr) {
    error = "cannot create " + temp + ": " + reason();
    return false;
  }
  const bool written = writeAll(file.get(), data);
  const bool closed = file.close();
  if (!written || !closed) {
    error = "cannot write " + path + ": " + reason();
    std::remove(temp.c_str());
    return false;
  }
  if (!MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    error = "cannot replace " + path + " (Windows error " + std::to_string(GetLastError()) + ")";
    std::remove(temp.c_str());
    return false;
  }
#else
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(&temp[0]);
  if (fd < 0) {
    error = "cannot create a file next to " + path + ": " + reason();
    return false;
  }
  // The file gets the permissions an ordinary create would give it.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, static_cast<mode_t>(0666) & ~mask);
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
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot replace " + path + ": " + reason();
    ::unlink(temp.c_str());
    return false;
  }
#endif
  return true;
}

}  // namespace bspp::tools
