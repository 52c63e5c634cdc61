/* Compiled as strict C99: the public header must be usable from C. This is
 * the README's example, plus checks of what it prints and of the files it
 * writes in the working folder. */
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

  static unsigned char planar[3 * W * H];
  for (int p = 0; p < 3; ++p) memcpy(planar + p * W * H, grey, W * H);
  unsigned char *read = NULL, *png = NULL;
  if (SaveImageToFile("print.wsq", 1, W, H, planar) != 1) return 5;
  if (ReadImageFromFile("print.wsq", &width, &height, &read) != 1) return 6;
  if (SaveImageToFile("print.png", 4, width, height, read) != 1) return 7;
  /* The WSQ result stays valid across a PNG read. */
  if (ReadImageFromFile("print.png", &width, &height, &png) != 1 || width != W || height != H ||
      memcmp(png, read, 3 * W * H) != 0)
    return 8;
  remove("print.wsq");
  remove("print.png");
  return 0;
}
