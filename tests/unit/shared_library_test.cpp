// The built shared library, loaded as a host program would load it.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <chrono>

#include "bspp.h"

namespace {

class SharedLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = ::dlopen(BSPP_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(handle_, nullptr) << ::dlerror();
    print_ = reinterpret_cast<BSPPringFn>(::dlsym(handle_, "BSPPring"));
    ASSERT_NE(print_, nullptr);
  }
  void TearDown() override {
    if (handle_ != nullptr) ::dlclose(handle_);
  }
  void* handle_ = nullptr;
  BSPPringFn print_ = nullptr;
};

TEST_F(SharedLibrary, WithoutAPrinterEveryCallIsFalseAfterTheWait) {
  if (::access("/dev/lp0", F_OK) == 0) GTEST_SKIP() << "a printer port is present";
  const char text[] = "HELLO \xB0\xA1";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(print_(text, sizeof text - 1, 80, 0), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(80));
  EXPECT_EQ(print_(nullptr, 10, 0, 0), 0);
  EXPECT_EQ(print_(nullptr, -1, 0, 0), 0);
}

}  // namespace
