// Test-only: prints one picture file with bspp::picture::printPicture and
// writes the stream, as the printer application's filters will.
//
//   bspp_picture_print FORMAT FILE OUT [--media NAME] [--content C]
//       [--scaling S] [--orientation O] [--stop-after BYTES]
//
// FORMAT: png, jpeg, pwg, urf. NAME: letter, 12in, a4 (or WIDTHxLENGTH in
// hundredths of a millimetre). Prints the result ("pages=N stopped=0|1
// note=...") on standard output; a refused document exits 2 with its
// message on standard error (and leaves OUT with whatever the sink got).
// Either way the last line out is "peak_kb=N", the most memory the process
// held (VmHWM: its own, not the parent's it was forked from).
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "picture.h"

namespace pic = bspp::picture;

namespace {

template <typename T>
T pick(const std::map<std::string, T>& names, const std::string& name, const char* what) {
  const auto it = names.find(name);
  if (it == names.end()) throw std::runtime_error(std::string("unknown ") + what + ": " + name);
  return it->second;
}

std::string peakMemory() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::to_string(std::stol(line.substr(6)));
  }
  return "?";
}

int printFile(int argc, char** argv);

}  // namespace

int main(int argc, char** argv) {
  const int rc = printFile(argc, argv);
  std::cout << "peak_kb=" << peakMemory() << std::endl;
  return rc;
}

namespace {

int printFile(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: bspp_picture_print FORMAT FILE OUT [options]\n";
    return 1;
  }
  try {
    const auto format = pick<pic::Format>({{"png", pic::Format::png},
                                           {"jpeg", pic::Format::jpeg},
                                           {"pwg", pic::Format::pwgRaster},
                                           {"urf", pic::Format::appleRaster}},
                                          argv[1], "format");
    pic::Options options;
    long long stopAfter = -1;
    for (int i = 4; i + 1 < argc; i += 2) {
      const std::string key = argv[i], value = argv[i + 1];
      if (key == "--media") {
        if (value == "letter") options.formWidth = 21590, options.formLength = 27940;
        else if (value == "12in") options.formWidth = 21590, options.formLength = 30480;
        else if (value == "a4") options.formWidth = 21000, options.formLength = 29700;
        else if (std::sscanf(value.c_str(), "%dx%d", &options.formWidth, &options.formLength) != 2)
          throw std::runtime_error("unknown media: " + value);
      } else if (key == "--content") {
        options.content = pick<pic::Content>({{"auto", pic::Content::automatic},
                                              {"photo", pic::Content::photo},
                                              {"graphics", pic::Content::graphics},
                                              {"text", pic::Content::text}},
                                             value, "content");
      } else if (key == "--scaling") {
        options.scaling = pick<pic::Scaling>({{"auto", pic::Scaling::automatic},
                                              {"auto-fit", pic::Scaling::autoFit},
                                              {"fill", pic::Scaling::fill},
                                              {"fit", pic::Scaling::fit},
                                              {"none", pic::Scaling::none}},
                                             value, "scaling");
      } else if (key == "--orientation") {
        options.orientation = pick<pic::Orientation>({{"auto", pic::Orientation::automatic},
                                                      {"portrait", pic::Orientation::portrait},
                                                      {"landscape", pic::Orientation::landscape},
                                                      {"reverse-portrait", pic::Orientation::reversePortrait},
                                                      {"reverse-landscape", pic::Orientation::reverseLandscape}},
                                                     value, "orientation");
      } else if (key == "--stop-after") {
        stopAfter = std::stoll(value);
      } else {
        throw std::runtime_error("unknown option " + key);
      }
    }
    std::ofstream out(argv[3], std::ios::binary);
    long long written = 0;
    const pic::Sink sink = [&](std::string_view bytes) {
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      written += static_cast<long long>(bytes.size());
      return stopAfter < 0 || written < stopAfter;
    };
    pic::FileReader reader(argv[2]);
    try {
      const pic::Result r = pic::printPicture(format, reader, options, sink);
      std::cout << "pages=" << r.pages << " stopped=" << r.stopped << " note=" << r.note << "\n";
    } catch (const pic::Error& e) {
      std::cerr << e.what() << "\n";
      return 2;
    }
  } catch (const std::exception& e) {
    std::cerr << "bspp_picture_print: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace
