// The printer port one job is sent through.
#pragma once

#include <cstdint>
#include <string>

namespace bspp {

// A port opened for one call. Platforms open it exclusively when they create
// it, and hold it until the object is destroyed; a port that could not be
// opened still exists and fails its transfer.
class Port {
 public:
  virtual ~Port() = default;
  // Starts one write of the whole stream (also when it is empty), waits
  // waitMs, checks once and releases the port. True only when every byte was
  // written by the check; a write still in progress then is ended before
  // this returns. Called at most once.
  virtual bool transfer(const std::string& stream, std::uint32_t waitMs) = 0;
};

}  // namespace bspp
