// Fast_WSQ_decode_stream: width, height and comment of a WSQ stream from its
// headers alone (the walks are the codec's, in wsq/header_walk.h).
#include <cstdlib>

#include "tessaly.h"
#include "wsq/codec.h"
#include "wsq/header_walk.h"

extern "C" TESSALY_API int Fast_WSQ_decode_stream(const unsigned char *data, int length, int *width,
                                                  int *height, int *ppi, char **comment) {
  // Width and height are what the call is for; pixels per inch and the
  // comment are optional outputs.
  if (!width || !height) return tsl::kWsqNullArgument;
  int w = 0, h = 0;
  int ret = tsl::peek_wsq_frame_size(&w, &h, data, length);
  if (ret) return ret;
  *width = w;
  *height = h;
  if (ppi) *ppi = -1;
  // The rescan is also what checks the start-of-image marker, so it runs
  // whether or not a comment is wanted; an unwanted one is dropped.
  char *unwanted = nullptr;
  ret = tsl::rescan_wsq_comment(data, length, comment ? comment : &unwanted);
  std::free(unwanted);
  return ret ? ret : 1;
}
