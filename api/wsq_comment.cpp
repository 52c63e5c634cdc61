#include "api/wsq_comment.h"

#include <cstdlib>

#include "wsq/stream_io.h"

namespace tsl {

int rescan_wsq_comment(const uint8_t *data, int length, char **ocomment) {
  const uint8_t *cbufptr = data;
  const uint8_t *ebufptr = data + (data && length > 0 ? length : 0);
  uint16_t marker;
  int ret = getc_marker_wsq(&marker, SOI_WSQ, &cbufptr, ebufptr);
  if (ret) return ret;
  ret = getc_marker_wsq(&marker, ANY_WSQ, &cbufptr, ebufptr);
  if (ret) return ret;
  while (marker != SOB_WSQ) {
    if (marker == COM_WSQ) {
      std::free(*ocomment);
      *ocomment = nullptr;
      if (getc_comment(ocomment, &cbufptr, ebufptr)) break;
    } else if (getc_skip_marker_segment(marker, &cbufptr, ebufptr)) {
      break;
    }
    if (getc_marker_wsq(&marker, ANY_WSQ, &cbufptr, ebufptr)) break;
  }
  return 0;
}

}  // namespace tsl
