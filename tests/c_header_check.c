/* Compiled as strict C99: the public header must be usable from C. This is
 * the README's example, plus checks of what it prints. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tessaly.h"

int main(void) {
  enum { W = 256, H = 256 };
  static unsigned char grey[W * H];
  for (int i = 0; i < W * H; ++i) grey[i] = (unsigned char)((i % W) ^ (i / W));

  unsigned char *wsq = NULL;
  int wsq_len = 0;
  if (WSQ_encode_stream(grey, W, H, 0.75, 500, "scanned at desk 3", &wsq, &wsq_len) != 1)
    return 1;

  unsigned char *pixels = NULL;
  char *comment = NULL;
  int width, height, ppi;
  if (WSQ_decode_stream(wsq, wsq_len, &pixels, &width, &height, &ppi, &comment) != 1) return 2;
  printf("%d bytes -> %dx%d at %d ppi, comment \"%s\"\n", wsq_len, width, height, ppi,
         comment ? comment : "");
  if (width != W || height != H || ppi != 500 || !comment ||
      strcmp(comment, "scanned at desk 3") != 0)
    return 3;
  free(wsq);
  free(pixels);
  free(comment);

  WriteWSQ_comment("from C");
  if (strcmp(ReadWSQ_comment(), "from C") != 0) return 4;
  return 0;
}
