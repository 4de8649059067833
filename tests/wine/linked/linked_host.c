/* A host that links bspp through an import library and calls BSPPring
 * directly, as a C or C++ program does with the header's declaration.
 *
 * It reads jobs from its input, a line each: "<job as hex> <keepPage>", and
 * answers each with "result=<0|1>" once the call has returned; so that one
 * process prints many jobs, and the driver can read the port between them.
 * It needs nothing but kernel32 (declared here), so that it also links
 * without a C runtime (lld-link with /nodefaultlib). */
#include <bspp.h>

#if defined(_WIN64)
#  define HOST_API __declspec(dllimport)
#else
#  define HOST_API __declspec(dllimport) __stdcall
#endif

HOST_API void* GetStdHandle(unsigned long which);
HOST_API int ReadFile(void* file, void* data, unsigned long size, unsigned long* read,
                      void* overlapped);
HOST_API int WriteFile(void* file, const void* data, unsigned long size, unsigned long* written,
                       void* overlapped);
HOST_API void ExitProcess(unsigned int code);

static char job[65536];

static char input[2 * sizeof job + 16];

/* The next line of the input, without its line end; 0 at the end. */
static int readLine(void) {
  unsigned long n = 0;
  unsigned long got = 0;
  char c = 0;
  while (ReadFile(GetStdHandle((unsigned long)-10), &c, 1, &got, 0) && got == 1 && c != '\n') {
    if (n + 1 < sizeof input && c != '\r') input[n++] = c;
  }
  input[n] = '\0';
  return n > 0 || got == 1;
}

static int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

static void say(const char* text) {
  unsigned long size = 0;
  unsigned long written = 0;
  while (text[size] != '\0') ++size;
  WriteFile(GetStdHandle((unsigned long)-11), text, size, &written, 0);
}

static int run(void) {
  int failed = 0;
  while (readLine()) {
    const char* p = input;
    int32_t length = 0;
    while (hexDigit(p[0]) >= 0 && hexDigit(p[1]) >= 0 && length < (int32_t)sizeof job) {
      job[length++] = (char)(hexDigit(p[0]) * 16 + hexDigit(p[1]));
      p += 2;
    }
    while (*p == ' ') ++p;
    if (*p != '0' && *p != '1') {
      say("usage: a job a line, <hex> <keepPage>\n");
      return 2;
    }
    {
      const unsigned char ok = BSPPring(job, length - 1, 50, *p - '0');
      char line[] = "result=?\n";
      line[7] = (char)('0' + ok);
      say(line);
      failed |= ok != 1;
    }
  }
  return failed;
}

#if defined(_MSC_VER)
/* Entry point without a C runtime: lld-link /entry:hostEntry. */
void hostEntry(void) { ExitProcess((unsigned int)run()); }
#else
int main(void) { return run(); }
#endif
