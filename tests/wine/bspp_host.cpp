// A Windows host for bspp.dll, driven line by line over stdin by the test
// driver so that one Wine process serves many jobs.
//
//   load                         load bspp.dll, find BSPPring by name and by
//                                ordinal 2; reply "load <ok|fail> ..."
//   call <text> <last> <wait> <keep> [hold]
//                                call BSPPring; <text> is hex bytes, "-" for
//                                an empty buffer or "null" for a NULL pointer;
//                                "hold" opens LPT1 without sharing first.
//                                Reply "call result=<AL> eax=<hex> stack=<ok|bad>
//                                regs=<ok|bad> ms=<elapsed>"
//   compare <text> <keep>        compose with the library's surface and with
//                                the per-dot reference; reply "compare same=<0|1>
//                                size=<n>"
//   font                         the face, metrics and code page that "宋体"
//                                at 16 pixels resolves to here, and the
//                                screen's LOGPIXELSY as this host sees it
//   tall <text>                  draws each character of <text> (hex) alone in
//                                a 64 x 64 raster with the same font request;
//                                reply "tall <glyph> ..." with each glyph's 64
//                                rows in hex, separated by commas
//   missing                      up to 8 byte pairs (A1-FE, 40-FE) that code
//                                page 936 maps outside the private-use area
//                                and the font lacks; reply "missing <hex> ..."
//   quit
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "api/print_job.h"
#include "bspp.h"
#include "compose/glyph_surface.h"
#include "reference_surface.h"

namespace {

#if defined(__i386__)
struct CallFrame {
  std::uint32_t fn;
  std::uint32_t text;
  std::uint32_t lastIndex;
  std::uint32_t waitMs;
  std::uint32_t keepPage;
  std::uint32_t espBefore;
  std::uint32_t espAfter;
  std::uint32_t eax;
  std::uint32_t savedBefore[3];  // ebx, edi, ebp
  std::uint32_t savedAfter[3];
};

// Pushes the four arguments and calls through the pointer in plain assembly,
// so that no compiler adjustment of the stack can hide a callee that does not
// pop its own arguments. The stack pointer is put back by hand afterwards, so
// a wrong convention is reported rather than crashing the host.
void callStdcall(CallFrame* frame) {
  __asm__ volatile(
      "movl %%ebx, 32(%%esi)\n\t"
      "movl %%edi, 36(%%esi)\n\t"
      "movl %%ebp, 40(%%esi)\n\t"
      "movl %%esp, 20(%%esi)\n\t"
      "pushl 16(%%esi)\n\t"
      "pushl 12(%%esi)\n\t"
      "pushl 8(%%esi)\n\t"
      "pushl 4(%%esi)\n\t"
      "call *(%%esi)\n\t"
      "movl %%esp, 24(%%esi)\n\t"
      "movl %%eax, 28(%%esi)\n\t"
      "movl 20(%%esi), %%esp\n\t"
      "movl %%ebx, 44(%%esi)\n\t"
      "movl %%edi, 48(%%esi)\n\t"
      "movl %%ebp, 52(%%esi)\n\t"
      :
      : "S"(frame)
      : "eax", "ecx", "edx", "memory", "cc");
}
#endif

bool parseHex(const std::string& hex, std::string& out) {
  out.clear();
  if (hex == "-") return true;
  if (hex.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return true;
}

double nowMs() {
  LARGE_INTEGER f, c;
  ::QueryPerformanceFrequency(&f);
  ::QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

BSPPringFn g_print = nullptr;

void load() {
  HMODULE dll = ::LoadLibraryA("bspp.dll");
  if (dll == nullptr) {
    std::printf("load fail error=%lu\n", ::GetLastError());
    return;
  }
  FARPROC byName = ::GetProcAddress(dll, "BSPPring");
  FARPROC byOrdinal = ::GetProcAddress(dll, MAKEINTRESOURCEA(2));
  FARPROC ordinal1 = ::GetProcAddress(dll, MAKEINTRESOURCEA(1));
  FARPROC decorated = ::GetProcAddress(dll, "_BSPPring@16");
  const bool ok = byName != nullptr && byName == byOrdinal && ordinal1 == nullptr &&
                  decorated == nullptr;
  std::printf("load %s name=%p ordinal2=%p ordinal1=%p decorated=%p\n", ok ? "ok" : "fail",
              reinterpret_cast<void*>(byName), reinterpret_cast<void*>(byOrdinal),
              reinterpret_cast<void*>(ordinal1), reinterpret_cast<void*>(decorated));
  if (ok) g_print = reinterpret_cast<BSPPringFn>(reinterpret_cast<void*>(byName));
}

void call(const std::string& textArg, long lastIndex, unsigned long waitMs, long keepPage,
          bool hold) {
  if (g_print == nullptr) {
    std::printf("call fail not-loaded\n");
    return;
  }
  std::string text;
  if (textArg != "null" && !parseHex(textArg, text)) {
    std::printf("call fail bad-text\n");
    return;
  }
  HANDLE held = INVALID_HANDLE_VALUE;
  if (hold) {
    held = ::CreateFileA("LPT1", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
      std::printf("call fail hold error=%lu\n", ::GetLastError());
      return;
    }
  }
#if defined(__i386__)
  CallFrame frame{};
  frame.fn = reinterpret_cast<std::uint32_t>(g_print);
  frame.text = textArg == "null" ? 0u : reinterpret_cast<std::uint32_t>(text.data());
  frame.lastIndex = static_cast<std::uint32_t>(lastIndex);
  frame.waitMs = static_cast<std::uint32_t>(waitMs);
  frame.keepPage = static_cast<std::uint32_t>(keepPage);
  const double start = nowMs();
  callStdcall(&frame);
  const double elapsed = nowMs() - start;
  if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
  const bool stackOk = frame.espAfter == frame.espBefore;
  const bool regsOk = std::memcmp(frame.savedBefore, frame.savedAfter, sizeof frame.savedBefore) == 0;
  std::printf("call result=%u eax=%08x stack=%s regs=%s ms=%.0f\n", frame.eax & 0xFFu, frame.eax,
              stackOk ? "ok" : "bad", regsOk ? "ok" : "bad", elapsed);
#else
  // x64 has one calling convention, which the compiler keeps for us.
  const double start = nowMs();
  const unsigned result = g_print(textArg == "null" ? nullptr : text.data(),
                                  static_cast<std::int32_t>(lastIndex),
                                  static_cast<std::uint32_t>(waitMs),
                                  static_cast<std::int32_t>(keepPage));
  const double elapsed = nowMs() - start;
  if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
  std::printf("call result=%u eax=%08x stack=ok regs=ok ms=%.0f\n", result, result, elapsed);
#endif
}

void compare(const std::string& textArg, long keepPage) {
  std::string text;
  if (!parseHex(textArg, text)) {
    std::printf("compare fail bad-text\n");
    return;
  }
  std::unique_ptr<bspp::DrawSurface> ours = bspp::prepareGlyphSurface();
  std::unique_ptr<bspp::DrawSurface> reference = bspp_test::makeReferenceSurface();
  if (reference == nullptr) {
    std::printf("compare fail no-reference\n");
    return;
  }
  const std::string a = bspp::composeJob(text, keepPage != 0, *ours);
  const std::string b = bspp::composeJob(text, keepPage != 0, *reference);
  std::printf("compare same=%d size=%u\n", a == b ? 1 : 0, static_cast<unsigned>(a.size()));
}

// The font request the library documents: "宋体", 16 pixels, GB2312,
// monochrome.
HFONT songFont() {
  LOGFONTW lf{};
  lf.lfHeight = -16;
  lf.lfCharSet = GB2312_CHARSET;
  lf.lfQuality = NONANTIALIASED_QUALITY;
  std::memcpy(lf.lfFaceName, L"\u5B8B\u4F53", sizeof L"\u5B8B\u4F53");
  return ::CreateFontIndirectW(&lf);
}

void font() {
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  HFONT f = songFont();
  HGDIOBJ old = ::SelectObject(dc, f);
  wchar_t face[LF_FACESIZE] = {};
  ::GetTextFaceW(dc, LF_FACESIZE, face);
  char utf8[4 * LF_FACESIZE] = {};
  ::WideCharToMultiByte(CP_UTF8, 0, face, -1, utf8, sizeof utf8, nullptr, nullptr);
  TEXTMETRICW tm{};
  ::GetTextMetricsW(dc, &tm);
  std::printf("font face=%s height=%ld ascent=%ld descent=%ld charset=%d acp=%u logpixels=%d\n",
              utf8, tm.tmHeight, tm.tmAscent, tm.tmDescent, tm.tmCharSet, ::GetACP(),
              ::GetDeviceCaps(screen, LOGPIXELSY));
  ::SelectObject(dc, old);
  ::DeleteObject(f);
  ::DeleteDC(dc);
  ::ReleaseDC(nullptr, screen);
}

// A 64 x 64 raster in a memory DC with the font request above.
struct Raster {
  static constexpr int kSize = 64;
  HDC dc = ::CreateCompatibleDC(nullptr);
  HFONT font = songFont();
  HBITMAP bitmap = nullptr;
  void* bits = nullptr;
  HGDIOBJ oldBitmap = nullptr;
  HGDIOBJ oldFont = nullptr;

  Raster() {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kSize;
    info.bmiHeader.biHeight = -kSize;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    oldBitmap = ::SelectObject(dc, bitmap);
    oldFont = ::SelectObject(dc, font);
    ::SetTextColor(dc, RGB(0, 0, 255));
    ::SetBkColor(dc, RGB(0, 0, 0));
  }
  Raster(const Raster&) = delete;
  Raster& operator=(const Raster&) = delete;
  ~Raster() {
    ::SelectObject(dc, oldFont);
    ::SelectObject(dc, oldBitmap);
    ::DeleteObject(font);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);
  }
};

// Each character drawn alone, its cell's top at row 16, so that no ink of a
// 16-pixel font can fall outside.
void tall(const std::string& textArg) {
  std::string text;
  if (!parseHex(textArg, text) || text.size() % 2 != 0) {
    std::printf("tall fail bad-text\n");
    return;
  }
  Raster r;
  const RECT all{0, 0, Raster::kSize, Raster::kSize};
  const auto* pixels = static_cast<const std::uint32_t*>(r.bits);
  std::string reply = "tall";
  for (std::size_t i = 0; i < text.size(); i += 2) {
    wchar_t ch = 0;
    ::MultiByteToWideChar(936, 0, &text[i], 2, &ch, 1);
    ::ExtTextOutW(r.dc, 16, 16, ETO_OPAQUE, &all, &ch, 1, nullptr);
    ::GdiFlush();
    for (int y = 0; y < Raster::kSize; ++y) {
      unsigned long long row = 0;
      for (int x = 0; x < Raster::kSize; ++x) {
        row = row << 1 | ((pixels[y * Raster::kSize + x] & 0xFFFFFFu) == 0xFFu ? 1u : 0u);
      }
      char hex[24];
      std::snprintf(hex, sizeof hex, "%c%llx", y == 0 ? ' ' : ',', row);
      reply += hex;
    }
  }
  std::printf("%s\n", reply.c_str());
}

void missing() {
  Raster r;
  std::string reply = "missing";
  int found = 0;
  for (int lead = 0xA1; lead <= 0xFE && found < 8; ++lead) {
    for (int trail = 0x40; trail <= 0xFE && found < 8; ++trail) {
      const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      wchar_t ch[2] = {};
      if (::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, bytes, 2, ch, 2) != 1) continue;
      if (ch[0] >= 0xE000 && ch[0] <= 0xF8FF) continue;
      WORD glyph = 0;
      if (::GetGlyphIndicesW(r.dc, ch, 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS) == 1 &&
          glyph == 0xFFFF) {
        char hex[8];
        std::snprintf(hex, sizeof hex, " %02x%02x", lead, trail);
        reply += hex;
        ++found;
      }
    }
  }
  std::printf("%s\n", reply.c_str());
}

}  // namespace

int main() {
  // A DPI-aware host, as WPF programs and many others are: it sees the
  // display's real resolution.
  ::SetProcessDPIAware();
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    char verb[16] = {};
    std::sscanf(line.c_str(), "%15s", verb);
    const std::string v = verb;
    try {
      if (v == "load") {
        load();
      } else if (v == "call") {
        std::string hex(line.size(), '\0');
        long last = 0, keep = 0;
        unsigned long wait = 0;
        char flag[16] = {};
        const int n = std::sscanf(line.c_str(), "%*s %s %ld %lu %ld %15s", &hex[0], &last, &wait,
                                  &keep, flag);
        if (n < 4) {
          std::printf("call fail syntax\n");
        } else {
          hex.resize(std::strlen(hex.c_str()));
          call(hex, last, wait, keep, n == 5 && std::strcmp(flag, "hold") == 0);
        }
      } else if (v == "font") {
        font();
      } else if (v == "compare") {
        std::string hex(line.size(), '\0');
        long keep = 0;
        if (std::sscanf(line.c_str(), "%*s %s %ld", &hex[0], &keep) != 2) {
          std::printf("compare fail syntax\n");
        } else {
          hex.resize(std::strlen(hex.c_str()));
          compare(hex, keep);
        }
      } else if (v == "tall") {
        std::string hex(line.size(), '\0');
        if (std::sscanf(line.c_str(), "%*s %s", &hex[0]) != 1) {
          std::printf("tall fail syntax\n");
        } else {
          hex.resize(std::strlen(hex.c_str()));
          tall(hex);
        }
      } else if (v == "missing") {
        missing();
      } else if (v == "quit") {
        return 0;
      } else {
        std::printf("unknown %s\n", verb);
      }
    } catch (const std::exception& e) {
      std::printf("%s fail exception %s\n", verb, e.what());
    }
    std::fflush(stdout);
  }
  return 0;
}
