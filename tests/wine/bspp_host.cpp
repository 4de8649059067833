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
//   font                         the face, height and code page that "宋体"
//                                at 12 points resolves to here
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

void font() {
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  LOGFONTW lf{};
  lf.lfHeight = -::MulDiv(120, ::GetDeviceCaps(screen, LOGPIXELSY), 720);
  lf.lfCharSet = GB2312_CHARSET;
  lf.lfQuality = NONANTIALIASED_QUALITY;
  std::memcpy(lf.lfFaceName, L"\u5B8B\u4F53", sizeof L"\u5B8B\u4F53");
  HFONT f = ::CreateFontIndirectW(&lf);
  HGDIOBJ old = ::SelectObject(dc, f);
  wchar_t face[LF_FACESIZE] = {};
  ::GetTextFaceW(dc, LF_FACESIZE, face);
  char utf8[4 * LF_FACESIZE] = {};
  ::WideCharToMultiByte(CP_UTF8, 0, face, -1, utf8, sizeof utf8, nullptr, nullptr);
  TEXTMETRICW tm{};
  ::GetTextMetricsW(dc, &tm);
  std::printf("font face=%s height=%ld lfHeight=%ld charset=%d acp=%u\n", utf8, tm.tmHeight,
              lf.lfHeight, tm.tmCharSet, ::GetACP());
  ::SelectObject(dc, old);
  ::DeleteObject(f);
  ::DeleteDC(dc);
  ::ReleaseDC(nullptr, screen);
}

}  // namespace

int main() {
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
