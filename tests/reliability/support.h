// Helpers shared by the reliability tests.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "../unit/fake_surface.h"
#include "api/print_job.h"
#include "port/lpt_port.h"

namespace bspp::test {

using Clock = std::chrono::steady_clock;

inline long msSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// How long past its wait a call may take: composing the job comes first, and
// on a loaded machine under a sanitizer that alone can take a second or two.
// A call that waits for a stalled device would take forever.
inline constexpr long kLateMs = 3000;

// The descriptors this process has open.
inline int openDescriptorCount() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count - 1;  // the directory's own descriptor
}

// A platform whose port is the POSIX port on `device` and whose raster is
// made by `makeSurface` (a blank one unless given).
template <typename MakeSurface>
class DevicePlatform final : public Platform {
 public:
  DevicePlatform(std::string device, MakeSurface makeSurface)
      : device_(std::move(device)), makeSurface_(std::move(makeSurface)) {}
  std::unique_ptr<Port> openPort() override { return bspp::openPort(device_.c_str()); }
  std::unique_ptr<DrawSurface> prepareSurface() override { return makeSurface_(); }

 private:
  std::string device_;
  MakeSurface makeSurface_;
};

inline auto blankSurface() {
  return []() -> std::unique_ptr<DrawSurface> { return std::make_unique<BlankSurface>(); };
}

inline DevicePlatform<decltype(blankSurface())> devicePlatform(std::string device) {
  return {std::move(device), blankSurface()};
}

// A private directory under /tmp, removed with the files in it.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/bspp-reliability-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    if (path_.empty()) return;
    if (DIR* dir = ::opendir(path_.c_str())) {
      while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') ::unlink((path_ + "/" + entry->d_name).c_str());
      }
      ::closedir(dir);
    }
    ::rmdir(path_.c_str());
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace bspp::test
