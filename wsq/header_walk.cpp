#include "wsq/header_walk.h"

#include <cstdlib>

#include "wsq/stream_io.h"
#include "wsq/tables.h"

namespace tsl {

namespace {

// A marker read that accepts the segments standing before a frame header
// and the frame header itself. Anything else leaves *omarker as it was and
// prints nothing: the walk steps over it two bytes at a time.
int ReadTableOrSofMarker(uint16_t *omarker, const uint8_t **cbufptr, const uint8_t *ebufptr) {
  uint16_t marker;
  int ret = getc_ushort(&marker, cbufptr, ebufptr);
  if (ret) return ret;
  switch (marker) {
    case DTT_WSQ:
    case DQT_WSQ:
    case DHT_WSQ:
    case SOF_WSQ:
    case COM_WSQ:
      *omarker = marker;
      return 0;
    default:
      return -89;
  }
}

// Reads one segment as the decoder would, storing nothing; a refused
// segment is left at the end its length field declares (clamped to the
// buffer), so one damaged table cannot derail the walk.
void PassSegment(uint16_t marker, const uint8_t **cbufptr, const uint8_t *ebufptr) {
  const uint8_t *start = *cbufptr;
  // A comment is stepped over rather than copied out and dropped.
  const int ret = marker == COM_WSQ
                      ? getc_skip_marker_segment(marker, cbufptr, ebufptr)
                      : getc_table_wsq(marker, nullptr, nullptr, nullptr, cbufptr, ebufptr);
  if (ret == 0) return;
  uint16_t length = 0;
  const uint8_t *p = start;
  if (getc_ushort(&length, &p, ebufptr)) return;
  const size_t left = static_cast<size_t>(ebufptr - start);
  const uint8_t *declared_end = start + (length < left ? length : left);
  if (declared_end > *cbufptr) *cbufptr = declared_end;
}

void ResetFrameHeader() {
  frm_header_wsq = FrameHeaderWsq{};
  frm_header_wsq.m_shift = 1.0f;
  frm_header_wsq.r_scale = 1.0f;
}

}  // namespace

int peek_wsq_frame_size(int *owidth, int *oheight, const uint8_t *data, int length) {
  const uint8_t *cbufptr = data;
  const uint8_t *ebufptr = data + (data && length > 0 ? length : 0);

  // A missing SOI is reported but the walk goes on: the tables may still be
  // readable.
  uint16_t marker = 0;
  getc_marker_wsq(&marker, SOI_WSQ, &cbufptr, ebufptr);
  marker = 0;

  // Every step consumes at least the two bytes of its marker read, so the
  // walk ends at SOF or at the end of the buffer. A value that is no marker
  // opens no segment: the marker kept from before belongs to a segment
  // already passed, and the bytes that follow are the next marker's.
  int ret = ReadTableOrSofMarker(&marker, &cbufptr, ebufptr);
  if (ret == -40) return ret;
  while (marker != SOF_WSQ) {
    if (ret == 0) PassSegment(marker, &cbufptr, ebufptr);
    ret = ReadTableOrSofMarker(&marker, &cbufptr, ebufptr);
    if (ret == -40) return ret;
  }

  ret = getc_frame_header_wsq(&frm_header_wsq, &cbufptr, ebufptr);
  if (ret == 0) {
    *owidth = frm_header_wsq.width;
    *oheight = frm_header_wsq.height;
  }
  ResetFrameHeader();
  return ret;
}

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
