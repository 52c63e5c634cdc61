#include "wsq/stream_edit.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/checked.h"
#include "wsq/stream_io.h"
#include "wsq/tables.h"

namespace tsl {

namespace {

using OwnedBytes = std::unique_ptr<uint8_t, FreeDeleter>;
using OwnedText = std::unique_ptr<char, FreeDeleter>;

const uint8_t *StreamEnd(const uint8_t *idata, int ilen) {
  return idata + (idata != nullptr && ilen > 0 ? ilen : 0);
}

// Copies the entropy-coded bytes after a block header up to the next marker
// (an 0xFF not followed by a stuffed 0x00), leaving the cursor on it.
int CopyCodedData(const uint8_t **cbufptr, const uint8_t *ebufptr, uint8_t *odata, int oalloc,
                  int *olen) {
  for (;;) {
    uint8_t byte;
    int ret = getc_byte(&byte, cbufptr, ebufptr);
    if (ret) return ret;
    if (byte == 0xFF) {
      uint8_t next;
      if ((ret = getc_byte(&next, cbufptr, ebufptr))) return ret;
      if (next != 0x00) {
        *cbufptr -= 2;
        return 0;
      }
      if ((ret = putc_byte(byte, odata, oalloc, olen))) return ret;
      byte = next;
    }
    if ((ret = putc_byte(byte, odata, oalloc, olen))) return ret;
  }
}

}  // namespace

int segment_text_length(const char *text) {
  size_t n = std::strlen(text);
  return n > static_cast<size_t>(kMaxCommentText) ? kMaxCommentText + 1 : static_cast<int>(n);
}

int copy_bytes(int n, const uint8_t **cbufptr, const uint8_t *ebufptr, uint8_t *odata,
               int oalloc, int *olen) {
  // The reader's test first (it refuses before touching any destination),
  // so a segment running past the input reports the input's end.
  if (n < 0 || *cbufptr > ebufptr ||
      static_cast<size_t>(n) > static_cast<size_t>(ebufptr - *cbufptr)) {
    uint8_t *unused = nullptr;
    return getc_bytes(&unused, n, cbufptr, ebufptr);
  }
  int ret = putc_bytes(*cbufptr, n, odata, oalloc, olen);
  if (ret) return ret;
  *cbufptr += n;
  return 0;
}

int read_wsq_frame_header(const uint8_t *idata, int ilen, int *owidth, int *oheight,
                          double *or_scale, double *om_shift) {
  const uint8_t *cbufptr = idata;
  const uint8_t *ebufptr = StreamEnd(idata, ilen);
  uint16_t marker;
  int ret = getc_marker_wsq(&marker, SOI_WSQ, &cbufptr, ebufptr);
  if (ret) return ret;
  if ((ret = getc_marker_wsq(&marker, TBLS_N_SOF, &cbufptr, ebufptr))) return ret;
  while (marker != SOF_WSQ) {
    uint16_t length;
    if ((ret = getc_ushort(&length, &cbufptr, ebufptr))) return ret;
    if (length < 2) {
      fprintf(stderr, "ERROR : read_wsq_frame_header : invalid length %d of marker %04X segment\n",
              length, marker);
      return -2;
    }
    // A segment reaching past the buffer leaves the cursor at its end, so
    // the next marker read fails; the cursor never passes the end.
    size_t skip = static_cast<size_t>(length) - 2;
    size_t left = static_cast<size_t>(ebufptr - cbufptr);
    cbufptr += skip < left ? skip : left;
    if ((ret = getc_marker_wsq(&marker, TBLS_N_SOF, &cbufptr, ebufptr))) return ret;
  }
  FrameHeaderWsq frame{};
  if ((ret = getc_frame_header_wsq(&frame, &cbufptr, ebufptr))) return ret;
  *owidth = frame.width;
  *oheight = frame.height;
  *or_scale = frame.r_scale;
  *om_shift = frame.m_shift;
  return 0;
}

int insert_comment(uint8_t **ostream, int *olen, const uint8_t *idata, int ilen,
                   const char *comment, const char *routine, uint16_t com_marker,
                   HeadCopier copy_head) {
  if (comment == nullptr || comment[0] == '\0') {
    fprintf(stderr, "ERROR : %s : empty comment passed\n", routine);
    return -2;
  }
  const int cs = segment_text_length(comment);
  const size_t nsize = (ilen > 0 ? static_cast<size_t>(ilen) : 0) + 4 + static_cast<size_t>(cs);
  OwnedBytes ndata(static_cast<uint8_t *>(SafeMalloc(nsize, 1)));
  if (!ndata) {
    fprintf(stderr, "ERROR : %s : malloc : ndata\n", routine);
    return -3;
  }
  const int nalloc = static_cast<int>(nsize);
  int nlen = 0;
  const uint8_t *cbufptr = idata;
  const uint8_t *ebufptr = StreamEnd(idata, ilen);
  int ret = copy_head(&cbufptr, ebufptr, ndata.get(), nalloc, &nlen);
  if (ret) return ret;
  uint16_t marker;
  if ((ret = getc_ushort(&marker, &cbufptr, ebufptr))) return ret;
  while (marker == com_marker) {
    const uint8_t *segment = cbufptr;
    char *text_raw = nullptr;
    if ((ret = getc_comment(&text_raw, &cbufptr, ebufptr))) return ret;
    OwnedText text(text_raw);
    // Copied by the length read, so a comment holding a NUL stays whole.
    const int text_len = static_cast<int>(cbufptr - segment) - 2;
    if ((ret = putc_comment(com_marker, reinterpret_cast<const uint8_t *>(text.get()), text_len,
                            ndata.get(), nalloc, &nlen)))
      return ret;
    if ((ret = getc_ushort(&marker, &cbufptr, ebufptr))) return ret;
  }
  cbufptr -= 2;
  if ((ret = putc_comment(com_marker, reinterpret_cast<const uint8_t *>(comment), cs,
                          ndata.get(), nalloc, &nlen)))
    return ret;
  if ((ret = copy_bytes(static_cast<int>(ebufptr - cbufptr), &cbufptr, ebufptr, ndata.get(),
                        nalloc, &nlen)))
    return ret;
  *ostream = ndata.release();
  *olen = nlen;
  return 0;
}

int add_comment_wsq(uint8_t **ostream, int *olen, const uint8_t *idata, int ilen,
                    const char *comment) {
  auto copy_soi = [](const uint8_t **cbufptr, const uint8_t *ebufptr, uint8_t *odata,
                     int oalloc, int *len) {
    uint16_t marker;
    int ret = getc_marker_wsq(&marker, SOI_WSQ, cbufptr, ebufptr);
    return ret ? ret : putc_ushort(marker, odata, oalloc, len);
  };
  return insert_comment(ostream, olen, idata, ilen, comment, "add_comment_wsq", COM_WSQ,
                        copy_soi);
}

int delete_comments_wsq(uint8_t **ostream, int *olen, const uint8_t *idata, int ilen) {
  // The result is never longer than the input; one byte at least, so an
  // empty input fails on its missing SOI like any other short one.
  const size_t in_len = ilen > 0 ? static_cast<size_t>(ilen) : 1;
  OwnedBytes ndata(static_cast<uint8_t *>(SafeMalloc(in_len, 1)));
  if (!ndata) {
    fprintf(stderr, "ERROR : delete_comments_wsq : malloc : ndata\n");
    return -2;
  }
  const int nalloc = static_cast<int>(in_len);
  int nlen = 0;
  const uint8_t *cbufptr = idata;
  const uint8_t *ebufptr = StreamEnd(idata, ilen);
  uint16_t marker;
  int ret = getc_marker_wsq(&marker, SOI_WSQ, &cbufptr, ebufptr);
  if (ret) return ret;
  if ((ret = putc_ushort(marker, ndata.get(), nalloc, &nlen))) return ret;
  if ((ret = getc_marker_wsq(&marker, ANY_WSQ, &cbufptr, ebufptr))) return ret;
  while (marker != EOI_WSQ) {
    if (marker == COM_WSQ) {
      if ((ret = getc_skip_marker_segment(marker, &cbufptr, ebufptr))) return ret;
    } else {
      uint16_t length;
      if ((ret = getc_ushort(&length, &cbufptr, ebufptr))) return ret;
      if (length < 2) {
        fprintf(stderr,
                "ERROR : delete_comments_wsq : invalid length %d of marker %04X segment\n",
                length, marker);
        return -3;
      }
      if ((ret = putc_ushort(marker, ndata.get(), nalloc, &nlen))) return ret;
      if ((ret = putc_ushort(length, ndata.get(), nalloc, &nlen))) return ret;
      if ((ret = copy_bytes(length - 2, &cbufptr, ebufptr, ndata.get(), nalloc, &nlen)))
        return ret;
      if (marker == SOB_WSQ &&
          (ret = CopyCodedData(&cbufptr, ebufptr, ndata.get(), nalloc, &nlen)))
        return ret;
    }
    if ((ret = getc_marker_wsq(&marker, ANY_WSQ, &cbufptr, ebufptr))) return ret;
  }
  if ((ret = putc_ushort(EOI_WSQ, ndata.get(), nalloc, &nlen))) return ret;
  *ostream = ndata.release();
  *olen = nlen;
  return 0;
}

}  // namespace tsl
