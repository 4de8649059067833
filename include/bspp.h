/*
 * bspp: print GB2312 (code page 936) text on an ESC/P 9-pin dot-matrix
 * printer attached to the first parallel port.
 *
 * One call prints one job and keeps nothing afterwards:
 *
 *   text       The job text, code page 936 bytes. Read only during the call;
 *              the caller may free it on return.
 *   lastIndex  Index of the LAST byte of the text, not its length: the job is
 *              text[0] .. text[lastIndex], lastIndex + 1 bytes. Passing
 *              strlen(s) therefore makes the terminating NUL the last byte.
 *              A negative value gives an empty job.
 *   waitMs     Milliseconds the call waits after starting the write before it
 *              checks, once, whether the printer has taken the whole job.
 *              0xFFFFFFFF: wait until the write has ended (completed or
 *              failed), then check.
 *   keepPage   0: a partly filled last line loses its last byte and the job
 *              ends with a form feed. Non-zero: no form feed.
 *
 * The text is laid out in fixed 80-column lines; line-break bytes have no
 * meaning. Double-byte characters are printed as dot graphics.
 *
 * Returns 1 when the whole job was written to the port within waitMs, else 0
 * (port absent or busy, printer too slow, write failed, text NULL with
 * lastIndex >= 0, out of memory, a Chinese character that no installed font
 * can draw: nothing is sent then).
 *
 * On Windows the function is __stdcall, exported undecorated as "BSPPring"
 * (ordinal 2), and returns a one-byte boolean in AL.
 */
#ifndef BSPP_H
#define BSPP_H

#include <stdint.h>

#if defined(_WIN32)
#  define BSPP_CALL __stdcall
#else
#  define BSPP_CALL
#endif

#if defined(_WIN32) || !defined(__GNUC__)
#  define BSPP_API
#else
#  define BSPP_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

BSPP_API unsigned char BSPP_CALL BSPPring(const char* text, int32_t lastIndex,
                                          uint32_t waitMs, int32_t keepPage);

/* The same function as a pointer type, for hosts that load the library at
 * run time (LoadLibrary/GetProcAddress or dlopen/dlsym). */
typedef unsigned char (BSPP_CALL* BSPPringFn)(const char* text, int32_t lastIndex,
                                              uint32_t waitMs, int32_t keepPage);

#ifdef __cplusplus
}
#endif

#endif /* BSPP_H */
