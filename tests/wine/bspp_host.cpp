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
//   tall <text>                  draws each character of <text> (hex) by
//                                itself in a 64-row raster with the same font
//                                request; reply "tall <glyph> ..." with each
//                                glyph's ink as <w>x<h>:<rows in hex>, cut to
//                                its ink box, or "-" when it has none
//   missing                      up to 8 byte pairs (A1-FE, 40-FE) that code
//                                page 936 maps to a character outside the
//                                private-use area, for which the font of
//                                "font" has no glyph; reply "missing <hex> ..."
//   extent                       over every GB2312 character (rows A1-F7),
//                                the highest and lowest ink row around the
//                                baseline in the font of "font", and how many
//                                characters have ink more than 14 rows above
//                                or 1 row below it; how many of those are
//                                characters proper (rows B0-F7), a few of
//                                them as <pair>:<rows above>/<rows below>
//   port <device> <wait>         one transfer of "x" through the library's
//                                port; reply "port failure=<reason> error=<n>"
//   setreg dpi <n>|replace <0|1> sets LogPixels for the user, or sets/removes
//                                the prefix's replacement for "宋体"; seen by
//                                host processes started afterwards
//   idle <path>                  stay while the file <path> exists (keeps Wine
//                                up between tests)
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
#include "port/lpt_port.h"
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
#else
struct CallFrame {
  std::uint64_t fn;
  std::uint64_t text;
  std::uint64_t lastIndex;
  std::uint64_t waitMs;
  std::uint64_t keepPage;
  std::uint64_t rspBefore;
  std::uint64_t rspAfter;
  std::uint64_t rax;
  std::uint64_t savedBefore[7];  // rbx, rbp, rdi, r12, r13, r14, r15
  std::uint64_t savedAfter[7];
  std::uint64_t rspOwn;
};

// The x64 convention in plain assembly: arguments in rcx, edx, r8d, r9d,
// 32 bytes of shadow space, the stack 16-byte aligned at the call. The
// callee must keep rsp and the non-volatile registers; rsi (also
// non-volatile) holds the frame. Both are put back by hand afterwards, so
// a callee that breaks the convention is reported rather than crashing.
void callWin64(CallFrame* frame) {
  __asm__ volatile(
      "movq %%rbx, 64(%%rsi)\n\t"
      "movq %%rbp, 72(%%rsi)\n\t"
      "movq %%rdi, 80(%%rsi)\n\t"
      "movq %%r12, 88(%%rsi)\n\t"
      "movq %%r13, 96(%%rsi)\n\t"
      "movq %%r14, 104(%%rsi)\n\t"
      "movq %%r15, 112(%%rsi)\n\t"
      "movq %%rsp, 176(%%rsi)\n\t"
      "andq $-16, %%rsp\n\t"
      "subq $32, %%rsp\n\t"
      "movq %%rsp, 40(%%rsi)\n\t"
      "movq 8(%%rsi), %%rcx\n\t"
      "movl 16(%%rsi), %%edx\n\t"
      "movl 24(%%rsi), %%r8d\n\t"
      "movl 32(%%rsi), %%r9d\n\t"
      "call *(%%rsi)\n\t"
      "movq %%rsp, 48(%%rsi)\n\t"
      "movq %%rax, 56(%%rsi)\n\t"
      "movq 176(%%rsi), %%rsp\n\t"
      "movq %%rbx, 120(%%rsi)\n\t"
      "movq %%rbp, 128(%%rsi)\n\t"
      "movq %%rdi, 136(%%rsi)\n\t"
      "movq %%r12, 144(%%rsi)\n\t"
      "movq %%r13, 152(%%rsi)\n\t"
      "movq %%r14, 160(%%rsi)\n\t"
      "movq %%r15, 168(%%rsi)\n\t"
      "movq 64(%%rsi), %%rbx\n\t"
      "movq 72(%%rsi), %%rbp\n\t"
      "movq 80(%%rsi), %%rdi\n\t"
      "movq 88(%%rsi), %%r12\n\t"
      "movq 96(%%rsi), %%r13\n\t"
      "movq 104(%%rsi), %%r14\n\t"
      "movq 112(%%rsi), %%r15\n\t"
      :
      : "S"(frame)
      : "rax", "rcx", "rdx", "r8", "r9", "r10", "r11", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4",
        "xmm5", "memory", "cc");
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
  CallFrame frame{};
  frame.fn = reinterpret_cast<std::uint64_t>(g_print);
  frame.text = textArg == "null" ? 0u : reinterpret_cast<std::uint64_t>(text.data());
  frame.lastIndex = static_cast<std::uint32_t>(lastIndex);
  frame.waitMs = static_cast<std::uint32_t>(waitMs);
  frame.keepPage = static_cast<std::uint32_t>(keepPage);
  const double start = nowMs();
  callWin64(&frame);
  const double elapsed = nowMs() - start;
  if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
  const bool stackOk = frame.rspAfter == frame.rspBefore;
  const bool regsOk = std::memcmp(frame.savedBefore, frame.savedAfter, sizeof frame.savedBefore) == 0;
  std::printf("call result=%u eax=%08x stack=%s regs=%s ms=%.0f\n",
              static_cast<unsigned>(frame.rax & 0xFFu), static_cast<unsigned>(frame.rax & 0xFFFFFFFFu),
              stackOk ? "ok" : "bad", regsOk ? "ok" : "bad", elapsed);
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

// A 64 x 64 raster with the font request above, on which one character at
// a time is drawn with room all round.
class Scratch {
 public:
  static constexpr int kSize = 64;
  struct Box {
    int top = kSize, bottom = -1, left = kSize, right = -1;
  };

  Scratch() : dc_(::CreateCompatibleDC(nullptr)), font_(songFont()) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kSize;
    info.bmiHeader.biHeight = -kSize;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    bitmap_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    oldBitmap_ = ::SelectObject(dc_, bitmap_);
    oldFont_ = ::SelectObject(dc_, font_);
    ::SetTextColor(dc_, RGB(0, 0, 255));
    ::SetBkColor(dc_, RGB(0, 0, 0));
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch() {
    ::SelectObject(dc_, oldFont_);
    ::SelectObject(dc_, oldBitmap_);
    ::DeleteObject(font_);
    ::DeleteObject(bitmap_);
    ::DeleteDC(dc_);
  }

  // Draws `ch` alone at (x, y) with the text alignment `align`; returns its
  // ink box (bottom < 0: no ink).
  Box draw(wchar_t ch, UINT align, int x, int y) {
    const RECT all{0, 0, kSize, kSize};
    ::SetTextAlign(dc_, TA_LEFT | TA_TOP);
    ::ExtTextOutW(dc_, 0, 0, ETO_OPAQUE, &all, nullptr, 0, nullptr);
    ::SetTextAlign(dc_, align);
    ::ExtTextOutW(dc_, x, y, 0, nullptr, &ch, 1, nullptr);
    ::GdiFlush();
    Box box;
    for (int row = 0; row < kSize; ++row) {
      for (int col = 0; col < kSize; ++col) {
        if (!inked(col, row)) continue;
        box.top = row < box.top ? row : box.top;
        box.bottom = row;
        box.left = col < box.left ? col : box.left;
        box.right = col > box.right ? col : box.right;
      }
    }
    return box;
  }
  bool inked(int x, int y) const {
    return (static_cast<const std::uint32_t*>(bits_)[y * kSize + x] & 0xFFFFFFu) == 0xFFu;
  }

 private:
  HDC dc_;
  HFONT font_;
  HBITMAP bitmap_ = nullptr;
  void* bits_ = nullptr;
  HGDIOBJ oldBitmap_ = nullptr;
  HGDIOBJ oldFont_ = nullptr;
};

// Each character drawn alone, its cell's top at row 16, so that no ink of a
// 16-pixel font can fall outside; the ink is reported cut to its box, so
// that where the cell was put does not matter.
void tall(const std::string& textArg) {
  std::string text;
  if (!parseHex(textArg, text) || text.size() % 2 != 0) {
    std::printf("tall fail bad-text\n");
    return;
  }
  Scratch scratch;
  std::string reply = "tall";
  for (std::size_t i = 0; i < text.size(); i += 2) {
    wchar_t ch = 0;
    ::MultiByteToWideChar(936, 0, &text[i], 2, &ch, 1);
    const Scratch::Box box = scratch.draw(ch, TA_LEFT | TA_TOP, 16, 16);
    if (box.bottom < 0) {
      reply += " -";
      continue;
    }
    char head[32];
    std::snprintf(head, sizeof head, " %dx%d:", box.right - box.left + 1,
                  box.bottom - box.top + 1);
    reply += head;
    for (int y = box.top; y <= box.bottom; ++y) {
      std::uint64_t row = 0;
      for (int x = box.left; x <= box.right; ++x) row = row << 1 | (scratch.inked(x, y) ? 1u : 0u);
      char hex[24];
      std::snprintf(hex, sizeof hex, "%s%llx", y == box.top ? "" : ",",
                    static_cast<unsigned long long>(row));
      reply += hex;
    }
  }
  std::printf("%s\n", reply.c_str());
}

void missing() {
  HDC dc = ::CreateCompatibleDC(nullptr);
  HFONT f = songFont();
  HGDIOBJ old = ::SelectObject(dc, f);
  std::string reply = "missing";
  int found = 0;
  for (int lead = 0xA1; lead <= 0xFE && found < 8; ++lead) {
    for (int trail = 0x40; trail <= 0xFE && found < 8; ++trail) {
      const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      wchar_t ch[2] = {};
      if (::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, bytes, 2, ch, 2) != 1) continue;
      if (ch[0] >= 0xE000 && ch[0] <= 0xF8FF) continue;
      WORD glyph = 0;
      if (::GetGlyphIndicesW(dc, ch, 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS) == 1 &&
          glyph == 0xFFFF) {
        char hex[8];
        std::snprintf(hex, sizeof hex, " %02x%02x", lead, trail);
        reply += hex;
        ++found;
      }
    }
  }
  ::SelectObject(dc, old);
  ::DeleteObject(f);
  ::DeleteDC(dc);
  std::printf("%s\n", reply.c_str());
}

void extent() {
  constexpr int kBaseline = 40;
  Scratch scratch;
  int highest = 0, lowest = 0, above = 0, below = 0, drawn = 0;
  std::string examples;
  int hanzi = 0;  // of them characters proper (rows B0-F7), not symbols
  for (int lead = 0xA1; lead <= 0xF7; ++lead) {
    for (int trail = 0xA1; trail <= 0xFE; ++trail) {
      const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      wchar_t ch[2] = {};
      if (::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, bytes, 2, ch, 2) != 1) continue;
      if (ch[0] >= 0xE000 && ch[0] <= 0xF8FF) continue;
      const Scratch::Box box = scratch.draw(ch[0], TA_LEFT | TA_BASELINE, 16, kBaseline);
      if (box.bottom < 0) continue;
      ++drawn;
      const int up = kBaseline - box.top, down = box.bottom - kBaseline;
      highest = up > highest ? up : highest;
      lowest = down > lowest ? down : lowest;
      if (up <= 14 && down <= 1) continue;
      if (lead >= 0xB0 && hanzi < 12) {
        char hex[24];
        std::snprintf(hex, sizeof hex, " %02x%02x:%d/%d", lead, trail, up, down);
        examples += hex;
      }
      above += up > 14 ? 1 : 0;
      below += down > 1 ? 1 : 0;
      hanzi += lead >= 0xB0 ? 1 : 0;
    }
  }
  std::printf("extent drawn=%d rows-above-baseline=%d rows-below=%d past-top=%d past-bottom=%d "
              "hanzi=%d%s\n", drawn, highest, lowest, above, below, hanzi, examples.c_str());
}

void port(const std::string& device, unsigned long waitMs) {
  const std::unique_ptr<bspp::Port> p = bspp::openPort(device.c_str());
  const bool ok = p->transfer("x", static_cast<std::uint32_t>(waitMs));
  std::string reason = bspp::describe(p->report().failure);
  for (char& c : reason) c = c == ' ' ? '-' : c;
  std::printf("port result=%d failure=%s error=%d\n", ok ? 1 : 0, reason.c_str(),
              p->report().systemError);
}

void setreg(const std::string& what, long value) {
  HKEY key = nullptr;
  LONG rc = ERROR_INVALID_PARAMETER;
  if (what == "dpi") {
    rc = ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                           KEY_SET_VALUE, nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS) {
      const DWORD dpi = static_cast<DWORD>(value);
      rc = ::RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                            sizeof dpi);
    }
  } else if (what == "replace") {
    rc = ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Fonts\\Replacements", 0, nullptr,
                           0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS && value != 0) {
      static const wchar_t face[] = L"WenQuanYi Zen Hei Sharp";
      rc = ::RegSetValueExW(key, L"\u5B8B\u4F53", 0, REG_SZ, reinterpret_cast<const BYTE*>(face),
                            sizeof face);
    } else if (rc == ERROR_SUCCESS) {
      rc = ::RegDeleteValueW(key, L"\u5B8B\u4F53");
      if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
    }
  }
  if (key != nullptr) ::RegCloseKey(key);
  std::printf("setreg %s rc=%ld\n", rc == ERROR_SUCCESS ? "ok" : "fail", rc);
}

}  // namespace

int main() {
  // A DPI-aware host, as WPF programs and many others are: it sees the
  // display's real resolution (SetProcessDPIAware is there from Vista on).
  if (HMODULE user32 = ::GetModuleHandleA("user32.dll")) {
    using SetAware = BOOL(WINAPI*)();
    if (auto aware = reinterpret_cast<SetAware>(
            reinterpret_cast<void*>(::GetProcAddress(user32, "SetProcessDPIAware")))) {
      aware();
    }
  }
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
      } else if (v == "extent") {
        extent();
      } else if (v == "missing") {
        missing();
      } else if (v == "port") {
        char device[64] = {};
        unsigned long wait = 0;
        if (std::sscanf(line.c_str(), "%*s %63s %lu", device, &wait) != 2) {
          std::printf("port fail syntax\n");
        } else {
          port(device, wait);
        }
      } else if (v == "setreg") {
        char what[16] = {};
        long value = 0;
        if (std::sscanf(line.c_str(), "%*s %15s %ld", what, &value) != 2) {
          std::printf("setreg fail syntax\n");
        } else {
          setreg(what, value);
        }
      } else if (v == "idle") {
        char path[MAX_PATH] = {};
        std::sscanf(line.c_str(), "%*s %259s", path);
        std::printf("idle\n");
        std::fflush(stdout);
        while (::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) ::Sleep(500);
        return 0;
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
