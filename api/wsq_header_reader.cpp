// Fast_WSQ_decode_stream: width, height and comment of a WSQ stream from its
// headers alone. Its segment readers are lenient copies of the codec's: they
// walk past tables without storing them, so a header peek never changes what
// a later full decode sees.
#include <cstdio>
#include <cstdlib>

#include "api/wsq_comment.h"
#include "tessaly.h"
#include "wsq/stream_io.h"
#include "wsq/tables.h"

namespace tsl {
namespace {

// Moves the cursor n bytes on, stopping at the end of the buffer.
void SkipClamped(size_t n, const uint8_t **cbufptr, const uint8_t *ebufptr) {
  size_t left = static_cast<size_t>(ebufptr - *cbufptr);
  *cbufptr += n < left ? n : left;
}

int getc_marker_wsq_fast(uint16_t *omarker, int /*type: always tables or SOF*/,
                         const uint8_t **cbufptr, const uint8_t *ebufptr) {
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

int getc_transform_table_fast(DttTable *dttable, const uint8_t **cbufptr,
                              const uint8_t *ebufptr) {
  uint16_t hdr_size;
  int ret = getc_ushort(&hdr_size, cbufptr, ebufptr);
  if (ret) return ret;
  uint8_t lo_count, hi_count;
  if ((ret = getc_byte(&lo_count, cbufptr, ebufptr))) return ret;
  if ((ret = getc_byte(&hi_count, cbufptr, ebufptr))) return ret;
  dttable->hisize = lo_count;
  dttable->losize = hi_count;
  if (hdr_size > 4) SkipClamped(hdr_size - 4u, cbufptr, ebufptr);
  return 0;
}

int getc_quantization_table_fast(const uint8_t **cbufptr, const uint8_t *ebufptr) {
  uint16_t hdr_size;
  int ret = getc_ushort(&hdr_size, cbufptr, ebufptr);
  if (ret) return ret;
  // Bin centre and 64 pairs of widths: a scale byte and a 16-bit value each.
  for (int i = 0; i < 1 + 2 * MAX_SUBBANDS; ++i) {
    uint8_t scale;
    uint16_t value;
    if ((ret = getc_byte(&scale, cbufptr, ebufptr))) return ret;
    if ((ret = getc_ushort(&value, cbufptr, ebufptr))) return ret;
  }
  return 0;
}

// Walks the tables of a DHT segment without storing them; ids are tracked
// per segment only, so the process-wide tables are never marked.
int getc_huffman_table_wsq_fast(const uint8_t **cbufptr, const uint8_t *ebufptr) {
  bool seen[MAX_DHT_TABLES] = {};
  auto mark = [](void *ctx, bool, uint8_t id, const uint8_t *, const uint8_t *) {
    bool *ids = static_cast<bool *>(ctx);
    if (ids[id]) return -2;
    ids[id] = true;
    return 0;
  };
  return read_huffman_segment(mark, seen, cbufptr, ebufptr);
}

int getc_comment_fast(char **ocomment, const uint8_t **cbufptr, const uint8_t *ebufptr) {
  uint16_t hdr_size;
  int ret = getc_ushort(&hdr_size, cbufptr, ebufptr);
  if (ret) return ret;
  *ocomment = nullptr;
  if (hdr_size < 2) return -42;
  SkipClamped(hdr_size - 2u, cbufptr, ebufptr);
  return 0;
}

int getc_table_wsq_fast(uint16_t marker, DttTable *dttable, const uint8_t **cbufptr,
                        const uint8_t *ebufptr) {
  switch (marker) {
    case DTT_WSQ:
      return getc_transform_table_fast(dttable, cbufptr, ebufptr);
    case DQT_WSQ:
      return getc_quantization_table_fast(cbufptr, ebufptr);
    case DHT_WSQ:
      return getc_huffman_table_wsq_fast(cbufptr, ebufptr);
    case COM_WSQ: {
      char *comment;
      return getc_comment_fast(&comment, cbufptr, ebufptr);
    }
    default:
      fprintf(stderr, "ERROR: getc_table_wsq : Invalid table defined -> {%u}\n", marker);
      return -93;
  }
}

void ResetFrameHeader() {
  frm_header_wsq = FrameHeaderWsq{};
  frm_header_wsq.m_shift = 1.0f;
  frm_header_wsq.r_scale = 1.0f;
}

}  // namespace
}  // namespace tsl

using namespace tsl;

extern "C" TESSALY_API int Fast_WSQ_decode_stream(const unsigned char *data, int length, int *width,
                                                  int *height, int *ppi, char **comment) {
  if (!data || length < 0) length = 0;
  const uint8_t *cbufptr = data;
  const uint8_t *ebufptr = data + length;

  // A missing SOI is reported but the walk goes on: the tables may still be
  // readable.
  uint16_t marker = 0;
  getc_marker_wsq(&marker, SOI_WSQ, &cbufptr, ebufptr);
  marker = 0;

  // Every step consumes at least the two bytes of its marker read, so the
  // walk ends at SOF or at the end of the buffer.
  int ret = getc_marker_wsq_fast(&marker, TBLS_N_SOF, &cbufptr, ebufptr);
  if (ret == -40) return ret;
  while (marker != SOF_WSQ) {
    getc_table_wsq_fast(marker, &dtt_table, &cbufptr, ebufptr);
    ret = getc_marker_wsq_fast(&marker, TBLS_N_SOF, &cbufptr, ebufptr);
    if (ret == -40) return ret;
  }

  ret = getc_frame_header_wsq(&frm_header_wsq, &cbufptr, ebufptr);
  if (ret) {
    ResetFrameHeader();
    return ret;
  }
  *width = frm_header_wsq.width;
  *height = frm_header_wsq.height;
  *ppi = -1;
  ResetFrameHeader();

  ret = rescan_wsq_comment(data, length, comment);
  if (ret) return ret;
  return 1;
}
