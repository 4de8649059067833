// Runs the composition fuzz target over every file of its seed corpus, so the
// stream checks run in every build, not only the clang fuzz build.
#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS-DIRECTORY\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) {
    std::fprintf(stderr, "cannot read %s\n", dir.c_str());
    return 2;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(d)) {
    if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
  }
  ::closedir(d);
  for (const std::string& name : names) {
    std::ifstream in(dir + "/" + name, std::ios::binary);
    const std::string input{std::istreambuf_iterator<char>(in), {}};
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
  }
  std::printf("%zu inputs checked\n", names.size());
  return names.empty() ? 1 : 0;
}
