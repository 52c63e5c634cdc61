// Fast_WSQ_decode_stream: width, height and comment of a WSQ stream from its
// headers alone (the walks are the codec's, in wsq/header_walk.h).
#include "tessaly.h"
#include "wsq/header_walk.h"

extern "C" TESSALY_API int Fast_WSQ_decode_stream(const unsigned char *data, int length, int *width,
                                                  int *height, int *ppi, char **comment) {
  int w = 0, h = 0;
  int ret = tsl::peek_wsq_frame_size(&w, &h, data, length);
  if (ret) return ret;
  *width = w;
  *height = h;
  *ppi = -1;
  ret = tsl::rescan_wsq_comment(data, length, comment);
  if (ret) return ret;
  return 1;
}
