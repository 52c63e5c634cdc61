/* Compiled as strict C99: the public header must be usable from C. */
#include <stdio.h>
#include <string.h>

#include "tessaly.h"

int main(void) {
  WriteWSQ_comment("from C");
  if (strcmp(ReadWSQ_comment(), "from C") != 0) return 1;
  WriteWSQ_bitrate(2.25);
  if (ReadWSQ_bitrate() != 2.25) return 1;
  puts("ok");
  return 0;
}
