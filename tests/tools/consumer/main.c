/* Calls the library once with an empty job and no wait: the result is 0 or
 * 1 depending on whether a printer port is present, and either is fine. */
#include <bspp.h>
#include <stdio.h>

int main(void) {
  BSPPringFn print = &BSPPring;
  unsigned char ok = print("", -1, 0, 0);
  printf("BSPPring returned %u\n", (unsigned)ok);
  return ok <= 1 ? 0 : 1;
}
