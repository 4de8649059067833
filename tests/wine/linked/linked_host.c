/* A host that links bspp through an import library and calls BSPPring
 * directly, as a C or C++ program does with the header's declaration.
 *
 *   linked_host.exe <job as hex> <keepPage>
 *
 * prints "result=<0|1>". It needs nothing but kernel32 (declared here), so
 * that it also links without a C runtime (lld-link with /nodefaultlib). */
#include <bspp.h>

#if defined(_WIN64)
#  define HOST_API __declspec(dllimport)
#else
#  define HOST_API __declspec(dllimport) __stdcall
#endif

HOST_API char* GetCommandLineA(void);
HOST_API void* GetStdHandle(unsigned long which);
HOST_API int WriteFile(void* file, const void* data, unsigned long size, unsigned long* written,
                       void* overlapped);
HOST_API void ExitProcess(unsigned int code);

static char job[65536];

static const char* skipBlanks(const char* p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

static const char* skipToken(const char* p) {
  int quoted = 0;
  p = skipBlanks(p);
  while (*p != '\0' && (quoted || (*p != ' ' && *p != '\t'))) {
    if (*p == '"') quoted = !quoted;
    ++p;
  }
  return skipBlanks(p);
}

static int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

static void say(const char* text, unsigned long size) {
  unsigned long written = 0;
  WriteFile(GetStdHandle((unsigned long)-11), text, size, &written, 0);
}

static int run(void) {
  const char* p = skipToken(GetCommandLineA());
  int32_t length = 0;
  while (hexDigit(p[0]) >= 0 && hexDigit(p[1]) >= 0 && length < (int32_t)sizeof job) {
    job[length++] = (char)(hexDigit(p[0]) * 16 + hexDigit(p[1]));
    p += 2;
  }
  p = skipBlanks(p);
  if (*p != '0' && *p != '1') {
    say("usage: linked_host <hex> <keepPage>\n", 36);
    return 2;
  }
  {
    const unsigned char ok = BSPPring(job, length - 1, 50, *p - '0');
    char line[] = "result=?\n";
    line[7] = (char)('0' + ok);
    say(line, sizeof line - 1);
    return ok == 1 ? 0 : 1;
  }
}

#if defined(_MSC_VER)
/* Entry point without a C runtime: lld-link /entry:hostEntry. */
void hostEntry(void) { ExitProcess((unsigned int)run()); }
#else
int main(void) { return run(); }
#endif
