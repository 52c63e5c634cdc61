#include "wsq/stream_io.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tsl {

int getc_byte(uint8_t *ochar_dat, const uint8_t **cbufptr, const uint8_t *ebufptr) {
  if (*cbufptr >= ebufptr) {
    fprintf(stderr, "ERROR : getc_byte : premature End Of Buffer\n");
    return -39;
  }
  *ochar_dat = **cbufptr;
  ++*cbufptr;
  return 0;
}

int getc_bytes(uint8_t **ochar_dat, int ilen, const uint8_t **cbufptr, const uint8_t *ebufptr) {
  // Compare against what remains rather than forming pos + n, which could
  // point outside the buffer or overflow.
  if (ilen < 0 || *cbufptr > ebufptr || static_cast<size_t>(ilen) > static_cast<size_t>(ebufptr - *cbufptr)) {
    fprintf(stderr, "ERROR : getc_bytes : premature End Of Buffer\n");
    return -40;
  }
  if (ilen > 0) {
    std::memcpy(*ochar_dat, *cbufptr, static_cast<size_t>(ilen));
    *cbufptr += ilen;
  }
  return 0;
}

int getc_ushort(uint16_t *oshrt_dat, const uint8_t **cbufptr, const uint8_t *ebufptr) {
  uint8_t b[2];
  uint8_t *p = b;
  int ret = getc_bytes(&p, 2, cbufptr, ebufptr);
  if (ret) return ret;
  *oshrt_dat = static_cast<uint16_t>((b[0] << 8) | b[1]);
  return 0;
}

int getc_uint(uint32_t *oint_dat, const uint8_t **cbufptr, const uint8_t *ebufptr) {
  uint8_t b[4];
  uint8_t *p = b;
  int ret = getc_bytes(&p, 4, cbufptr, ebufptr);
  if (ret) return ret;
  *oint_dat = (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
              (static_cast<uint32_t>(b[2]) << 8) | b[3];
  return 0;
}

int getc_marker_wsq(uint16_t *omarker, int type, const uint8_t **cbufptr,
                    const uint8_t *ebufptr) {
  uint16_t marker;
  int ret = getc_ushort(&marker, cbufptr, ebufptr);
  if (ret) return ret;
  switch (type) {
    case SOI_WSQ:
      if (marker != SOI_WSQ) {
        fprintf(stderr, "ERROR : getc_marker_wsq : No SOI marker. {%04X}\n", marker);
        return -88;
      }
      break;
    case TBLS_N_SOF:
      if (marker != DTT_WSQ && marker != DQT_WSQ && marker != DHT_WSQ && marker != SOF_WSQ &&
          marker != COM_WSQ) {
        fprintf(stderr, "ERROR : getc_marker_wsq : No SOF, Table, or comment markers.\n");
        return -89;
      }
      break;
    case TBLS_N_SOB:
      if (marker != DTT_WSQ && marker != DQT_WSQ && marker != DHT_WSQ && marker != SOB_WSQ &&
          marker != COM_WSQ) {
        fprintf(stderr, "ERROR : getc_marker_wsq : No SOB, Table, or comment markers.{%04X}\n",
                marker);
        return -90;
      }
      break;
    case ANY_WSQ:
      if ((marker & 0xff00) != 0xff00) {
        fprintf(stderr, "ERROR : getc_marker_wsq : no marker found {%04X}\n", marker);
        return -91;
      }
      if (marker < SOI_WSQ || marker > COM_WSQ) {
        fprintf(stderr, "ERROR : getc_marker_wsq : {%04X} not a valid marker\n", marker);
        return -92;
      }
      break;
    default:
      fprintf(stderr, "ERROR : getc_marker_wsq : Invalid marker -> {%4X}\n", marker);
      return -93;
  }
  *omarker = marker;
  return 0;
}

int getc_comment(char **ocomment, const uint8_t **cbufptr, const uint8_t *ebufptr) {
  uint16_t hdr_size;
  int ret = getc_ushort(&hdr_size, cbufptr, ebufptr);
  if (ret) return ret;
  // The length counts its own two bytes; anything less is not a segment.
  if (hdr_size < 2) {
    fprintf(stderr, "ERROR : getc_comment : invalid comment length %d\n", hdr_size);
    return -42;
  }
  int cs = hdr_size - 2;
  char *comment = static_cast<char *>(std::calloc(static_cast<size_t>(cs) + 1, 1));
  if (!comment) {
    fprintf(stderr, "ERROR : getc_comment : malloc : comment\n");
    return -2;
  }
  uint8_t *dst = reinterpret_cast<uint8_t *>(comment);
  ret = getc_bytes(&dst, cs, cbufptr, ebufptr);
  if (ret) {
    std::free(comment);
    return ret;
  }
  *ocomment = comment;
  return 0;
}

int getc_skip_marker_segment(uint16_t marker, const uint8_t **cbufptr, const uint8_t *ebufptr) {
  uint16_t length;
  int ret = getc_ushort(&length, cbufptr, ebufptr);
  if (ret) return ret;
  // A length below 2 would wrap to a skip of some 65,534 bytes.
  if (length < 2) {
    fprintf(stderr, "ERROR : getc_skip_marker_segment : invalid length %d of marker %d segment\n",
            length, marker);
    return -2;
  }
  uint16_t skip = static_cast<uint16_t>(length - 2);
  // The segment must be followed by at least one byte (a stream never ends
  // with a segment: EOI or block data follows).
  if (static_cast<size_t>(skip) >= static_cast<size_t>(ebufptr - *cbufptr)) {
    fprintf(stderr,
            "ERROR : getc_skip_marker_segment : "
            "unexpected end of buffer when parsing "
            "marker %d segment of length %d\n",
            marker, skip);
    return -2;
  }
  *cbufptr += skip;
  return 0;
}

int putc_byte(uint8_t ichar, uint8_t *odata, int oalloc, int *olen) {
  if (*olen < 0 || *olen >= oalloc) {
    fprintf(stderr, "ERROR : putc_byte : buffer overlow : alloc = %d, request = %d\n", oalloc,
            *olen);
    return -32;
  }
  odata[*olen] = ichar;
  ++*olen;
  return 0;
}

int putc_bytes(const uint8_t *idata, int ilen, uint8_t *odata, int oalloc, int *olen) {
  if (ilen < 0 || *olen < 0 || *olen > oalloc || ilen > oalloc - *olen) {
    long long request = static_cast<long long>(*olen) + ilen;
    fprintf(stderr, "ERROR : putc_bytes : buffer overlow : alloc = %d, request = %lld\n", oalloc,
            request);
    return -33;
  }
  if (ilen > 0) {
    std::memcpy(odata + *olen, idata, static_cast<size_t>(ilen));
    *olen += ilen;
  }
  return 0;
}

int putc_ushort(uint16_t ishort, uint8_t *odata, int oalloc, int *olen) {
  uint8_t b[2] = {static_cast<uint8_t>(ishort >> 8), static_cast<uint8_t>(ishort)};
  return putc_bytes(b, 2, odata, oalloc, olen);
}

int putc_uint(uint32_t iint, uint8_t *odata, int oalloc, int *olen) {
  uint8_t b[4] = {static_cast<uint8_t>(iint >> 24), static_cast<uint8_t>(iint >> 16),
                  static_cast<uint8_t>(iint >> 8), static_cast<uint8_t>(iint)};
  return putc_bytes(b, 4, odata, oalloc, olen);
}

int putc_comment(uint16_t marker, const uint8_t *comment, int cs, uint8_t *odata, int oalloc,
                 int *olen) {
  // The length field holds text + 2 in 16 bits; longer text would wrap.
  if (cs < 0 || cs > kMaxCommentText) {
    fprintf(stderr, "ERROR : putc_comment : comment of %d bytes does not fit in one segment\n",
            cs);
    return -34;
  }
  int ret = putc_ushort(marker, odata, oalloc, olen);
  if (ret) return ret;
  ret = putc_ushort(static_cast<uint16_t>(cs + 2), odata, oalloc, olen);
  if (ret) return ret;
  for (int i = 0; i < cs; ++i) {
    ret = putc_byte(comment[i], odata, oalloc, olen);
    if (ret) return ret;
  }
  return 0;
}

}  // namespace tsl
