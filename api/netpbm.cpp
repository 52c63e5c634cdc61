#include "api/netpbm.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/checked.h"
#include "common/text.h"
#include "tessaly.h"

namespace tsl {

NetpbmState g_netpbm;

namespace {

// Where the pixels start and the sizes the header announces.
struct NetpbmHeader {
  long width = 0;
  long height = 0;
  size_t offset = 0;
};

// Blank, tab, line feed, vertical tab, form feed or carriage return: any of
// them parts the header's items.
bool IsHeaderSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A comment runs from its '#' to the first line feed or carriage return
// (files from old Macintosh systems end lines with CR alone); the position
// past that byte, or the end.
size_t PastComment(const unsigned char *data, size_t length, size_t pos) {
  while (pos < length && data[pos] != '\n' && data[pos] != '\r') ++pos;
  return pos < length ? pos + 1 : length;
}

// The token runs to the first white-space byte, '#' or the end, however
// long (writers may pad a size with zeros); the cursor then steps over
// exactly one white-space byte, or over a comment glued to the token, which
// stands in for that byte. After the last token that byte or comment is all
// that stands before the pixels, which may themselves begin with white
// space or '#'.
void TakeToken(const unsigned char *data, size_t length, size_t *pos, size_t *start,
               size_t *end) {
  *start = *pos;
  size_t p = *pos;
  while (p < length && !IsHeaderSpace(data[p]) && data[p] != '#') ++p;
  *end = p;
  if (p < length && data[p] == '#') {
    *pos = PastComment(data, length, p);
  } else {
    *pos = p < length ? p + 1 : length;
  }
}

// Runs of white space and comment lines standing before the next size or
// the maximum value: writers put blank lines, CR LF line ends, tabs and
// GIMP's or netpbm's comments there. False when the data ends before the
// next token starts.
bool SkipSeparators(const unsigned char *data, size_t length, size_t *pos) {
  while (*pos < length) {
    if (data[*pos] == '#') {
      *pos = PastComment(data, length, *pos);
    } else if (!IsHeaderSpace(data[*pos])) {
      return true;
    } else {
      ++*pos;
    }
  }
  return false;
}

// Decimal value in the manner of atoi (leading white space, a sign, digits
// up to the first other byte; no digits gives 0), but an overflowing value
// is refused rather than left undefined.
bool TokenValue(const unsigned char *data, size_t start, size_t end, long *value) {
  size_t p = start;
  while (p < end && IsHeaderSpace(data[p])) ++p;
  bool negative = false;
  if (p < end && (data[p] == '+' || data[p] == '-')) negative = data[p++] == '-';
  long v = 0;
  for (; p < end && data[p] >= '0' && data[p] <= '9'; ++p) {
    int digit = data[p] - '0';
    if (v > (INT_MAX - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *value = negative ? -v : v;
  return true;
}

// Magic check and header scan shared by the three decoders: false when the
// stream is not of this form, ends before its last token, its sizes are
// negative or overflow an int, or its maximum value calls for two-byte
// samples.
bool ScanHeader(const unsigned char *data, int length, char digit, bool has_maxval,
                NetpbmHeader *header) {
  if (!data || length < 3) return false;
  if (data[0] != 'P' || data[1] != digit) return false;
  size_t len = static_cast<size_t>(length);
  size_t pos = 2;
  while (pos < len) {
    unsigned char c = data[pos];
    if (c == '#') {
      pos = PastComment(data, len, pos);
    } else if (c >= '0' && c <= '9') {
      break;
    } else {
      ++pos;
    }
  }
  *header = NetpbmHeader{};
  if (pos >= len) return true;  // no size at all: an empty image
  size_t ws, we, hs, he, ms = 0, me = 0;
  // Once the width has begun, a header cut short before its last token is
  // refused rather than read as an empty picture.
  TakeToken(data, len, &pos, &ws, &we);
  if (!SkipSeparators(data, len, &pos)) return false;
  TakeToken(data, len, &pos, &hs, &he);
  if (has_maxval) {
    if (!SkipSeparators(data, len, &pos)) return false;
    TakeToken(data, len, &pos, &ms, &me);
  }
  header->offset = pos;
  if (!TokenValue(data, ws, we, &header->width) || !TokenValue(data, hs, he, &header->height))
    return false;
  // Up to 255 a sample is one byte, taken as it stands whatever the maximum
  // value; above, every sample takes two bytes, which read as one-byte
  // samples would make a garbled picture.
  long maxval = 0;
  if (has_maxval && (!TokenValue(data, ms, me, &maxval) || maxval > 255)) return false;
  return header->width >= 0 && header->height >= 0;
}

// width x height into *pixels; false when the three planes would not fit
// in one buffer. Checked, with the data length, before anything is
// allocated, so a short header cannot ask for gigabytes it cannot fill.
bool PlanarPixels(long width, long height, size_t *pixels) {
  size_t n, bytes;
  if (!CheckedMul(static_cast<size_t>(width), static_cast<size_t>(height), &n) ||
      !CheckedMul(n, 3, &bytes) || bytes > kMaxAlloc)
    return false;
  *pixels = n;
  return true;
}

// A new planar buffer for n checked pixels; an empty image still gets a
// (one-byte) buffer so the caller always has something to free.
unsigned char *NewPlanar(size_t n) {
  return static_cast<unsigned char *>(std::calloc(n ? 3 * n : 1, 1));
}

// Hands the result over only now that nothing can fail: a buffer the
// caller passed in is released, as the caller gave it up.
int Deliver(unsigned char *planar, const NetpbmHeader &header, unsigned char **output,
            int *width, int *height) {
  std::free(*output);
  *output = planar;
  *width = static_cast<int>(header.width);
  *height = static_cast<int>(header.height);
  return 0;
}

long RoundedWidth(long width) { return width % 8 == 0 ? width : width + 8 - width % 8; }

// Decodes a P5 (channels 1) or P6 (channels 3) stream.
int DecodeBytes(const unsigned char *data, int length, char digit, size_t channels,
                unsigned char **output, int *width, int *height) {
  NetpbmHeader header;
  if (!output || !width || !height) return -1;
  if (!ScanHeader(data, length, digit, true, &header)) return -1;
  size_t n;
  if (!PlanarPixels(header.width, header.height, &n)) return -1;
  size_t available = static_cast<size_t>(length) - header.offset;
  if (available / channels < n) return -1;  // short pixel data
  std::unique_ptr<unsigned char, FreeDeleter> planar(NewPlanar(n));
  if (!planar) return -1;
  const unsigned char *src = data + header.offset;
  unsigned char *r = planar.get(), *g = r + n, *b = g + n;
  if (channels == 1) {
    std::memcpy(r, src, n);
    std::memcpy(g, src, n);
    std::memcpy(b, src, n);
  } else {
    for (size_t i = 0; i < n; ++i) {
      r[i] = src[3 * i];
      g[i] = src[3 * i + 1];
      b[i] = src[3 * i + 2];
    }
  }
  return Deliver(planar.release(), header, output, width, height);
}

std::string HeaderText(char digit, int width, int height, bool has_maxval) {
  std::string text = {'P', digit, '\n'};
  text += kNetpbmComment;
  text += FormatInt(width);
  text += ' ';
  text += FormatInt(height);
  text += has_maxval ? "\n255\n" : "\n";
  return text;
}

// Allocates header + data bytes and copies the header in; null when the
// stream would not fit in an int or memory is short.
unsigned char *NewStream(const std::string &header, size_t data_bytes, int *length) {
  size_t total;
  if (!CheckedAdd(header.size(), data_bytes, &total) || total > kMaxAlloc) return nullptr;
  unsigned char *out = static_cast<unsigned char *>(std::malloc(total));
  if (!out) return nullptr;
  std::memcpy(out, header.data(), header.size());
  *length = static_cast<int>(total);
  return out;
}

unsigned char GreyMean(const unsigned char *planar, size_t n, size_t i) {
  return static_cast<unsigned char>((planar[i] + planar[n + i] + planar[2 * n + i]) / 3);
}

// The frame shared by the encoders: argument and size checks, the header,
// one buffer for the whole stream; fill(pixels, n, width, height) writes
// the data_bytes(n, width, height) bytes after the header.
template <typename Size, typename Fill>
int EncodeStream(char digit, const unsigned char *planar, int width, int height,
                 unsigned char **output, int *length, Size data_bytes, Fill fill) {
  size_t bytes;
  if (!planar || !output || !length || !ImageBytes(width, height, 3, &bytes)) return -1;
  const size_t n = bytes / 3, w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  const size_t data = data_bytes(n, w, h);
  int total = 0;
  // The header text is a string: short of memory for it, as for the stream.
  std::unique_ptr<unsigned char, FreeDeleter> out(
      CatchShortMemory<unsigned char *>(nullptr, nullptr, [&] {
        return NewStream(HeaderText(digit, width, height, digit != '4'), data, &total);
      }));
  if (!out) return -1;
  fill(out.get() + (static_cast<size_t>(total) - data), n, w, h);
  *output = out.release();
  *length = total;
  return 0;
}

size_t PackedRowBytes(size_t width) { return (width + 7) / 8; }

}  // namespace

int PBM_encode_stream(const unsigned char *planar, int width, int height,
                      unsigned char **output, int *length) {
  return EncodeStream(
      '4', planar, width, height, output, length,
      [](size_t, size_t w, size_t h) { return PackedRowBytes(w) * h; },
      [planar](unsigned char *dst, size_t n, size_t w, size_t h) {
        // Fill bits past the last pixel of a row are 0 (white), so the same
        // image always gives the same bytes.
        std::memset(dst, 0, PackedRowBytes(w) * h);
        for (size_t y = 0; y < h; ++y) {
          unsigned char *row = dst + y * PackedRowBytes(w);
          for (size_t x = 0; x < w; ++x) {
            if (GreyMean(planar, n, y * w + x) < 128)
              row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
          }
        }
      });
}

int PGM_encode_stream(const unsigned char *planar, int width, int height,
                      unsigned char **output, int *length) {
  return EncodeStream(
      '5', planar, width, height, output, length, [](size_t n, size_t, size_t) { return n; },
      [planar](unsigned char *dst, size_t n, size_t, size_t) {
        for (size_t i = 0; i < n; ++i) dst[i] = GreyMean(planar, n, i);
      });
}

int PPM_encode_stream(const unsigned char *planar, int width, int height,
                      unsigned char **output, int *length) {
  return EncodeStream(
      '6', planar, width, height, output, length, [](size_t n, size_t, size_t) { return 3 * n; },
      [planar](unsigned char *dst, size_t n, size_t, size_t) {
        for (size_t i = 0; i < n; ++i) {
          dst[3 * i] = planar[i];
          dst[3 * i + 1] = planar[n + i];
          dst[3 * i + 2] = planar[2 * n + i];
        }
      });
}

}  // namespace tsl

using tsl::g_netpbm;

extern "C" {

TESSALY_API int PBM_decode_stream(const unsigned char *data, int length, unsigned char **output,
                                  int *width, int *height) {
  tsl::NetpbmHeader header;
  if (!output || !width || !height) return -1;
  if (!tsl::ScanHeader(data, length, '4', false, &header)) return -1;
  size_t rounded = static_cast<size_t>(tsl::RoundedWidth(header.width));
  size_t h = static_cast<size_t>(header.height), w = static_cast<size_t>(header.width);
  size_t work_bytes, n;
  if (!tsl::CheckedMul(rounded, h, &work_bytes) || work_bytes > tsl::kMaxAlloc) return -1;
  if (!tsl::PlanarPixels(header.width, header.height, &n)) return -1;
  size_t packed = work_bytes / 8;
  if (static_cast<size_t>(length) - header.offset < packed) return -1;  // short pixel data

  std::free(g_netpbm.pbm_decoded_data_internal);
  g_netpbm.pbm_decoded_data_internal =
      static_cast<unsigned char *>(std::calloc(work_bytes ? work_bytes : 1, 1));
  unsigned char *work = g_netpbm.pbm_decoded_data_internal;
  if (!work) return -1;
  const unsigned char *src = data + header.offset;
  for (size_t i = 0; i < packed; ++i) {
    for (int k = 0; k < 8; ++k) work[8 * i + k] = (src[i] & (0x80 >> k)) ? 0 : 255;
  }

  std::unique_ptr<unsigned char, tsl::FreeDeleter> planar(tsl::NewPlanar(n));
  if (!planar) return -1;
  unsigned char *r = planar.get();
  // An empty image (width or height 0) has no rows worth walking, however
  // many the header announces.
  if (n > 0) {
    for (size_t y = 0; y < h; ++y) std::memcpy(r + y * w, work + y * rounded, w);
  }
  std::memcpy(r + n, r, n);
  std::memcpy(r + 2 * n, r, n);
  return tsl::Deliver(planar.release(), header, output, width, height);
}

TESSALY_API int PGM_decode_stream(const unsigned char *data, int length, unsigned char **output,
                                  int *width, int *height) {
  return tsl::DecodeBytes(data, length, '5', 1, output, width, height);
}

TESSALY_API int PPM_decode_stream(const unsigned char *data, int length, unsigned char **output,
                                  int *width, int *height) {
  return tsl::DecodeBytes(data, length, '6', 3, output, width, height);
}

}  // extern "C"
