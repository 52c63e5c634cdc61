#include "api/jpeg2000.h"

#include <openjpeg.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "common/checked.h"
#include "common/text.h"
#include "tessaly.h"

namespace tsl {

Jpeg2000State g_jpeg2000;

namespace {

struct CodecDeleter {
  void operator()(opj_codec_t *c) const { opj_destroy_codec(c); }
};
struct StreamDeleter {
  void operator()(opj_stream_t *s) const { opj_stream_destroy(s); }
};
struct ImageDeleter {
  void operator()(opj_image_t *i) const { opj_image_destroy(i); }
};
using CodecPtr = std::unique_ptr<opj_codec_t, CodecDeleter>;
using StreamPtr = std::unique_ptr<opj_stream_t, StreamDeleter>;
using ImagePtr = std::unique_ptr<opj_image_t, ImageDeleter>;

// "jp2" is a JP2 file, "jpc" a bare code stream; any other name is refused.
bool CodecFormat(const char *name, OPJ_CODEC_FORMAT *format) {
  if (!name) return false;
  if (std::strcmp(name, "jp2") == 0) {
    *format = OPJ_CODEC_JP2;
    return true;
  }
  if (std::strcmp(name, "jpc") == 0) {
    *format = OPJ_CODEC_J2K;
    return true;
  }
  return false;
}

void Configure() { g_jpeg2000.jpeg_2000_initialized = 1; }

void Quiet(const char *, void *) {}

// Silent, single-threaded codec: the library prints nothing and starts no
// threads, whatever OPJ_NUM_THREADS says.
void Tame(opj_codec_t *codec) {
  opj_set_info_handler(codec, Quiet, nullptr);
  opj_set_warning_handler(codec, Quiet, nullptr);
  opj_set_error_handler(codec, Quiet, nullptr);
}
void SingleThread(opj_codec_t *codec) {
  if (opj_has_thread_support()) opj_codec_set_threads(codec, 0);
}

// Reading straight from the caller's buffer.
struct MemorySource {
  const unsigned char *data;
  size_t size;
  size_t pos;
};

OPJ_SIZE_T SourceRead(void *buffer, OPJ_SIZE_T n, void *user) {
  auto *s = static_cast<MemorySource *>(user);
  if (s->pos >= s->size) return static_cast<OPJ_SIZE_T>(-1);
  size_t m = std::min(static_cast<size_t>(n), s->size - s->pos);
  std::memcpy(buffer, s->data + s->pos, m);
  s->pos += m;
  return m;
}

OPJ_OFF_T SourceSkip(OPJ_OFF_T n, void *user) {
  auto *s = static_cast<MemorySource *>(user);
  if (n < 0 ? static_cast<uint64_t>(-n) > s->pos : static_cast<uint64_t>(n) > s->size - s->pos) {
    s->pos = n < 0 ? 0 : s->size;
    return -1;
  }
  s->pos = static_cast<size_t>(static_cast<OPJ_OFF_T>(s->pos) + n);
  return n;
}

OPJ_BOOL SourceSeek(OPJ_OFF_T offset, void *user) {
  auto *s = static_cast<MemorySource *>(user);
  if (offset < 0 || static_cast<uint64_t>(offset) > s->size) return OPJ_FALSE;
  s->pos = static_cast<size_t>(offset);
  return OPJ_TRUE;
}

// A growable output with random access: the JP2 writer goes back to fill
// in box lengths. Kept in malloc'ed memory so the bytes can be handed to
// the caller as they are.
struct MemorySink {
  unsigned char *data = nullptr;
  size_t size = 0;
  size_t capacity = 0;
  size_t pos = 0;
  ~MemorySink() { std::free(data); }
};

// Makes [0, end) valid, zero-filling any gap a seek or skip leaves.
bool SinkReach(MemorySink *s, uint64_t end) {
  if (end > kMaxAlloc) return false;
  if (end > s->capacity) {
    size_t grown = std::max<size_t>({static_cast<size_t>(end), s->capacity * 2, 4096});
    grown = std::min(grown, kMaxAlloc);
    auto *more = static_cast<unsigned char *>(std::realloc(s->data, grown));
    if (!more) return false;
    s->data = more;
    s->capacity = grown;
  }
  if (end > s->size) {
    std::memset(s->data + s->size, 0, static_cast<size_t>(end) - s->size);
    s->size = static_cast<size_t>(end);
  }
  return true;
}

OPJ_SIZE_T SinkWrite(void *buffer, OPJ_SIZE_T n, void *user) {
  auto *s = static_cast<MemorySink *>(user);
  if (!SinkReach(s, static_cast<uint64_t>(s->pos) + n)) return static_cast<OPJ_SIZE_T>(-1);
  if (n) std::memcpy(s->data + s->pos, buffer, n);
  s->pos += n;
  return n;
}

OPJ_OFF_T SinkSkip(OPJ_OFF_T n, void *user) {
  auto *s = static_cast<MemorySink *>(user);
  if (n < 0 && static_cast<uint64_t>(-n) > s->pos) return -1;
  uint64_t end = static_cast<uint64_t>(static_cast<OPJ_OFF_T>(s->pos) + n);
  if (!SinkReach(s, end)) return -1;
  s->pos = static_cast<size_t>(end);
  return n;
}

OPJ_BOOL SinkSeek(OPJ_OFF_T offset, void *user) {
  auto *s = static_cast<MemorySink *>(user);
  if (offset < 0 || !SinkReach(s, static_cast<uint64_t>(offset))) return OPJ_FALSE;
  s->pos = static_cast<size_t>(offset);
  return OPJ_TRUE;
}

StreamPtr SourceStream(MemorySource *source) {
  StreamPtr stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
  if (!stream) return stream;
  opj_stream_set_user_data(stream.get(), source, nullptr);
  opj_stream_set_user_data_length(stream.get(), source->size);
  opj_stream_set_read_function(stream.get(), SourceRead);
  opj_stream_set_skip_function(stream.get(), SourceSkip);
  opj_stream_set_seek_function(stream.get(), SourceSeek);
  return stream;
}

StreamPtr SinkStream(MemorySink *sink) {
  StreamPtr stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE));
  if (!stream) return stream;
  opj_stream_set_user_data(stream.get(), sink, nullptr);
  opj_stream_set_write_function(stream.get(), SinkWrite);
  opj_stream_set_skip_function(stream.get(), SinkSkip);
  opj_stream_set_seek_function(stream.get(), SinkSeek);
  return stream;
}

// OpenJPEG refuses a tile whose shorter side is below 2^(resolutions - 1):
// as many resolutions as the image allows, at most the usual 6.
int ResolutionsFor(int width, int height) {
  int shorter = std::min(width, height);
  int levels = 1;
  while (levels < 6 && (1 << levels) <= shorter) ++levels;
  return levels;
}

// What an image occupies inside the codec (32-bit samples for every
// component at full size) plus its planar form on our side: a hostile
// header cannot make the decoder, nor a huge image the encoder, ask for
// gigabytes.
bool WithinMemoryLimit(size_t width, size_t height, size_t components) {
  size_t area, samples, bytes, total;
  return CheckedMul(width, height, &area) &&
         CheckedMul(area, components, sizeof(OPJ_INT32), &samples) &&
         CheckedMul(area, 3, &bytes) && CheckedAdd(samples, bytes, &total) &&
         total <= kJpeg2000MemoryLimit;
}

// Grey takes one component, colour three: the first that are not alpha.
// 0 when the colour space is one we do not convert (YCC, CMYK, unknown).
int ComponentsToUse(const opj_image_t *image) {
  switch (image->color_space) {
    case OPJ_CLRSPC_SRGB:
      return 3;
    case OPJ_CLRSPC_GRAY:
      return 1;
    case OPJ_CLRSPC_SYCC:
    case OPJ_CLRSPC_EYCC:
    case OPJ_CLRSPC_CMYK:
      return 0;
    default:
      break;
  }
  // An ICC profile says what its data are in bytes 16 to 19.
  if (image->icc_profile_buf && image->icc_profile_len >= 20) {
    const OPJ_BYTE *space = image->icc_profile_buf + 16;
    if (std::memcmp(space, "RGB ", 4) == 0) return 3;
    if (std::memcmp(space, "GRAY", 4) == 0) return 1;
    return 0;
  }
  if (image->color_space != OPJ_CLRSPC_UNSPECIFIED) return 0;
  // A bare code stream names no colour space: three or more components are
  // read as RGB, fewer as grey.
  OPJ_UINT32 plain = 0;
  for (OPJ_UINT32 i = 0; i < image->numcomps; ++i) plain += image->comps[i].alpha == 0;
  return plain >= 3 ? 3 : 1;
}

// Samples of any precision to 0..255: deeper ones keep their top 8 bits,
// shallower ones are stretched so full scale stays full scale.
unsigned char ToByte(OPJ_INT32 v, OPJ_UINT32 precision) {
  int64_t top = (int64_t{1} << precision) - 1;
  int64_t s = std::min<int64_t>(std::max<int64_t>(v, 0), top);
  if (precision == 8) return static_cast<unsigned char>(s);
  if (precision > 8) return static_cast<unsigned char>(s >> (precision - 8));
  return static_cast<unsigned char>(s * 255 / top);
}

// Big-endian reads within [p, end); false past the end.
bool Be16(const unsigned char *p, const unsigned char *end, uint32_t *v) {
  if (end - p < 2) return false;
  *v = static_cast<uint32_t>(p[0]) << 8 | p[1];
  return true;
}
bool Be32(const unsigned char *p, const unsigned char *end, uint32_t *v) {
  if (end - p < 4) return false;
  *v = static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
       static_cast<uint32_t>(p[2]) << 8 | p[3];
  return true;
}

// The code stream of a JP2 file: the contents of its first top-level
// contiguous code stream box.
bool FindCodestream(const unsigned char **p, const unsigned char **end) {
  const unsigned char *at = *p;
  while (*end - at >= 8) {
    uint32_t length = 0, type = 0;
    Be32(at, *end, &length);
    Be32(at + 4, *end, &type);
    uint64_t header = 8, size = length;
    if (length == 1) {
      uint32_t hi = 0, lo = 0;
      if (!Be32(at + 8, *end, &hi) || !Be32(at + 12, *end, &lo)) return false;
      header = 16;
      size = static_cast<uint64_t>(hi) << 32 | lo;
    } else if (length == 0) {
      size = static_cast<uint64_t>(*end - at);
    }
    if (size < header || size > static_cast<uint64_t>(*end - at)) return false;
    if (type == 0x6A703263) {  // "jp2c"
      *p = at + header;
      *end = at + size;
      return true;
    }
    at += size;
  }
  return false;
}

}  // namespace

bool ScanJpeg2000(const unsigned char *data, size_t size, bool jp2, Jpeg2000Layout *layout) {
  const unsigned char *p = data, *end = data + size;
  if (jp2 && !FindCodestream(&p, &end)) return false;
  // SOC, then SIZ: the image and tile grids.
  uint32_t marker = 0, v[8] = {};
  if (!Be16(p, end, &marker) || marker != 0xFF4F || !Be16(p + 2, end, &marker) ||
      marker != 0xFF51 || end - p < 4 + 2 + 2 + 32)
    return false;
  for (int i = 0; i < 8; ++i) Be32(p + 8 + 4 * i, end, &v[i]);
  const uint32_t xsiz = v[0], ysiz = v[1], xosiz = v[2], yosiz = v[3], xtsiz = v[4],
                 ytsiz = v[5], xtosiz = v[6], ytosiz = v[7];
  if (xtsiz == 0 || ytsiz == 0 || xosiz >= xsiz || yosiz >= ysiz || xtosiz > xosiz ||
      ytosiz > yosiz)
    return false;
  const uint64_t across = (static_cast<uint64_t>(xsiz - xtosiz) + xtsiz - 1) / xtsiz;
  const uint64_t down = (static_cast<uint64_t>(ysiz - ytosiz) + ytsiz - 1) / ytsiz;
  // The format numbers tiles in 16 bits.
  if (across * down > 65535) return false;
  layout->width = xsiz - xosiz;
  layout->height = ysiz - yosiz;
  layout->tiles = static_cast<uint32_t>(across * down);
  layout->tiles_present = 0;

  // Main header segments up to the first tile-part.
  const unsigned char *at = p + 2;
  for (;;) {
    uint32_t length = 0;
    if (!Be16(at, end, &marker) || (marker >> 8) != 0xFF) return true;
    if (marker == 0xFF90) break;
    if (!Be16(at + 2, end, &length) || length < 2 || length > static_cast<size_t>(end - at - 2))
      return true;
    at += 2 + length;
  }
  // Tile-parts: SOT, its length field Psot (0: up to the end of the code
  // stream), the tile's number. A part reaching past the data carries only
  // some of its tile.
  std::vector<bool> seen(layout->tiles);
  for (;;) {
    uint32_t length = 0, tile = 0, psot = 0;
    if (!Be16(at, end, &marker) || marker != 0xFF90 || !Be16(at + 2, end, &length) ||
        length != 10 || !Be16(at + 4, end, &tile) || !Be32(at + 6, end, &psot) ||
        tile >= layout->tiles)
      break;
    const size_t left = static_cast<size_t>(end - at);
    if (psot != 0 && (psot < 14 || psot > left)) break;
    if (!seen[tile]) {
      seen[tile] = true;
      ++layout->tiles_present;
    }
    if (psot == 0) break;
    at += psot;
  }
  return true;
}

std::string Jpeg2000RateOption(int width, int height) {
  double rate = 1.0;
  if (static_cast<int64_t>(width) * height > 2500) {
    const int components = 3;
    double header = 550 + 142 * (components - 1);
    double raw = static_cast<double>(width) * height * 3.0 * components;
    rate = (raw * 0.4444444444444444 + header) / raw;
  }
  return "rate=" + FormatGeneral(rate);
}

}  // namespace tsl

using tsl::g_jpeg2000;

extern "C" {

TESSALY_API int JPEG2000_encode_stream(const unsigned char *planar, int width, int height,
                                       unsigned char **output, int *output_length,
                                       const char *format) {
  size_t bytes;
  OPJ_CODEC_FORMAT codec_format;
  if (!planar || !output || !output_length || !tsl::ImageBytes(width, height, 3, &bytes) ||
      !tsl::CodecFormat(format, &codec_format) ||
      !tsl::WithinMemoryLimit(static_cast<size_t>(width), static_cast<size_t>(height), 3))
    return -1;
  if (!g_jpeg2000.jpeg_2000_initialized) tsl::Configure();
  const size_t n = bytes / 3;

  opj_image_cmptparm_t parms[3];
  std::memset(parms, 0, sizeof parms);
  for (auto &p : parms) {
    p.dx = p.dy = 1;
    p.w = static_cast<OPJ_UINT32>(width);
    p.h = static_cast<OPJ_UINT32>(height);
    p.prec = 8;
    p.sgnd = 0;
  }
  tsl::ImagePtr image(opj_image_create(3, parms, OPJ_CLRSPC_SRGB));
  if (!image) return -1;
  image->x0 = image->y0 = 0;
  image->x1 = static_cast<OPJ_UINT32>(width);
  image->y1 = static_cast<OPJ_UINT32>(height);
  for (int c = 0; c < 3; ++c) {
    const unsigned char *plane = planar + c * n;
    OPJ_INT32 *dst = image->comps[c].data;
    for (size_t i = 0; i < n; ++i) dst[i] = plane[i];
  }

  // The rate travels as the text the option would carry, so the encoder
  // sees exactly the six significant digits written there.
  double rate = 1.0;
  const bool have_rate = tsl::CatchShortMemory(false, nullptr, [&] {
    tsl::ParseDouble(tsl::Jpeg2000RateOption(width, height).c_str() + sizeof("rate=") - 1, &rate);
    return true;
  });
  if (!have_rate) return -1;
  opj_cparameters_t params;
  opj_set_default_encoder_parameters(&params);
  params.tcp_numlayers = 1;
  params.cp_disto_alloc = 1;
  // OpenJPEG takes a compression ratio; 0 asks for lossless coding, which
  // is the nearest it comes to a target of the whole raw size or more.
  params.tcp_rates[0] = rate > 0 && rate < 1 ? static_cast<float>(1.0 / rate) : 0.0f;
  params.numresolution = tsl::ResolutionsFor(width, height);
  params.tcp_mct = 1;
  params.irreversible = 0;

  tsl::CodecPtr codec(opj_create_compress(codec_format));
  if (!codec) return -1;
  tsl::Tame(codec.get());
  tsl::MemorySink sink;
  bool encoded = false;
  {
    tsl::StreamPtr stream(tsl::SinkStream(&sink));
    if (!stream) return -1;
    if (opj_setup_encoder(codec.get(), &params, image.get())) {
      tsl::SingleThread(codec.get());
      encoded = opj_start_compress(codec.get(), image.get(), stream.get()) &&
                opj_encode(codec.get(), stream.get()) &&
                opj_end_compress(codec.get(), stream.get());
    }
  }  // the stream is released before its bytes are handed out

  // Whatever the encoder wrote is handed out, also after a failure.
  size_t length = sink.size;
  unsigned char *buffer = sink.data ? sink.data : static_cast<unsigned char *>(std::malloc(1));
  if (!buffer) return -1;
  sink.data = nullptr;
  g_jpeg2000.jasper_jp2_image_buffer = buffer;
  *output = buffer;
  *output_length = static_cast<int>(length);
  return encoded ? 0 : -2;
}

TESSALY_API int JPEG2000_decode_stream(const unsigned char *data, int length,
                                       unsigned char **output, int *width, int *height,
                                       const char *format) {
  OPJ_CODEC_FORMAT codec_format;
  if (!data || length <= 0 || !output || !width || !height ||
      !tsl::CodecFormat(format, &codec_format))
    return -1;
  if (!g_jpeg2000.jpeg_2000_initialized) tsl::Configure();

  // Every tile the header declares must be in the data: a few bytes could
  // otherwise declare thousands of tiles, which the codec would set up and
  // fill with nothing, in time and memory of the declared size.
  tsl::Jpeg2000Layout layout;
  // The scan keeps a table of the tiles seen: short of memory for it, the
  // stream is refused as one the scan cannot read.
  const bool scanned = tsl::CatchShortMemory(false, nullptr, [&] {
    return tsl::ScanJpeg2000(data, static_cast<size_t>(length), codec_format == OPJ_CODEC_JP2,
                             &layout);
  });
  if (!scanned || layout.tiles_present != layout.tiles ||
      !tsl::WithinMemoryLimit(layout.width, layout.height, 1))
    return -1;

  tsl::CodecPtr codec(opj_create_decompress(codec_format));
  if (!codec) return -1;
  tsl::Tame(codec.get());
  opj_dparameters_t params;
  opj_set_default_decoder_parameters(&params);
  if (!opj_setup_decoder(codec.get(), &params)) return -1;
  // Tile data that ends early fails rather than decoding to a partial image.
  if (!opj_decoder_set_strict_mode(codec.get(), OPJ_TRUE)) return -1;
  tsl::SingleThread(codec.get());

  tsl::MemorySource source{data, static_cast<size_t>(length), 0};
  tsl::StreamPtr stream(tsl::SourceStream(&source));
  if (!stream) return -1;
  opj_image_t *raw_image = nullptr;
  bool header_read = opj_read_header(stream.get(), codec.get(), &raw_image);
  tsl::ImagePtr image(raw_image);
  if (!header_read || !image || image->x1 <= image->x0 || image->y1 <= image->y0 ||
      !tsl::WithinMemoryLimit(image->x1 - image->x0, image->y1 - image->y0, image->numcomps))
    return -1;
  if (!opj_decode(codec.get(), stream.get(), image.get()) ||
      !opj_end_decompress(codec.get(), stream.get()))
    return -1;

  int used = tsl::ComponentsToUse(image.get());
  if (used == 0) return -1;
  const opj_image_comp_t *chosen[3];
  int found = 0;
  for (OPJ_UINT32 i = 0; i < image->numcomps && found < used; ++i) {
    if (image->comps[i].alpha == 0) chosen[found++] = &image->comps[i];
  }
  if (found < used) return -1;

  const OPJ_UINT32 w = image->x1 - image->x0, h = image->y1 - image->y0;
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  if (image->x0 != 0 || image->y0 != 0) return -1;
  for (int c = 0; c < used; ++c) {
    const opj_image_comp_t *comp = chosen[c];
    if (comp->w != w || comp->h != h || comp->x0 != 0 || comp->y0 != 0 || comp->dx != 1 ||
        comp->dy != 1 || comp->sgnd != 0 || comp->prec < 1 || comp->prec > 31 || !comp->data)
      return -1;
  }

  size_t bytes;
  if (!tsl::ImageBytes(static_cast<int>(w), static_cast<int>(h), 3, &bytes)) return -1;
  unsigned char *planar = static_cast<unsigned char *>(std::malloc(bytes));
  if (!planar) return -1;
  const size_t n = bytes / 3;
  for (int plane = 0; plane < 3; ++plane) {
    const opj_image_comp_t *comp = chosen[used == 3 ? plane : 0];
    unsigned char *dst = planar + plane * n;
    for (size_t i = 0; i < n; ++i) dst[i] = tsl::ToByte(comp->data[i], comp->prec);
  }
  std::free(*output);
  *output = planar;
  return 0;
}

}  // extern "C"
