// WSQ_encode_stream and WSQ_decode_stream: the WSQ codec on byte buffers,
// with the comment rescan after decoding and the implementation number
// recorded for ReadWSQ_implementation_number.
#include <cmath>
#include <cfloat>
#include <cstdint>
#include <cstdlib>

#include "api/settings.h"
#include "tessaly.h"
#include "wsq/codec.h"
#include "wsq/header_walk.h"

extern "C" TESSALY_API int WSQ_encode_stream(const unsigned char *data, int width, int height,
                                             double bitrate, int ppi, const char *comment_text,
                                             unsigned char **odata, int *olen) {
  // A double beyond the float range has no float bit rate to convert to.
  if (!(std::fabs(bitrate) <= static_cast<double>(FLT_MAX))) bitrate = NAN;
  int ret = tsl::wsq_encode_mem(odata, olen, static_cast<float>(bitrate), data, width, height, 8,
                                ppi, comment_text);
  return ret >= 0 ? 1 : ret;
}

extern "C" TESSALY_API int WSQ_decode_stream(const unsigned char *data, int length,
                                             unsigned char **odata, int *width, int *height,
                                             int *ppi, char **comment) {
  tsl::g_settings.wsqencoder = 0;
  tsl::g_settings.wsqsoftware = 0;
  if (!data || !odata || !width || !height) return tsl::kWsqNullArgument;
  // Pixels per inch and the comment are skipped when not wanted.
  int depth, lossy, own_ppi;
  if (!ppi) ppi = &own_ppi;
  int ret = tsl::wsq_decode_mem(odata, width, height, &depth, ppi, &lossy,
                                &tsl::g_settings.wsqencoder, &tsl::g_settings.wsqsoftware, data,
                                length);
  if (ret) {
    *odata = nullptr;
    *width = 0;
    *height = 0;
    *ppi = -1;
    return ret;
  }
  if (comment) {
    ret = tsl::rescan_wsq_comment(data, length, comment);
    if (ret) return ret;
  }
  return 1;
}
