// ANSI/NIST Type-6 and Type-8 binary image data: bi-level data, packed or
// Group 4 coded, to 8-bit grey images (0 black, 255 white) and back.
#include "nist/type8.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/checked.h"
#include "nist/group4.h"
#include "tessaly.h"

namespace tsl {

NistState g_nist;

void NISTType8_Engine_Initialize() {
  NistState &s = g_nist;
  s.input_uncompressed_type6_image_inverted = 1;
  s.output_compressed_type6_image_inverted = 1;
  s.input_uncompressed_type8_image_inverted = 0;
  s.input_compressed_type8_image_inverted = 0;
  s.output_uncompressed_type8_image_inverted = 0;
  s.output_compressed_type8_image_inverted = 1;
  s.nist_type8_engine_initialized = 1;
}

namespace {

constexpr std::array<uint8_t, 256> BuildReversedBits() {
  std::array<uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b)
    for (int k = 0; k < 8; ++k)
      if (b & (1 << k)) t[b] = static_cast<uint8_t>(t[b] | (0x80 >> k));
  return t;
}
// Bit k moved to bit 7 - k.
constexpr std::array<uint8_t, 256> kReversedBits = BuildReversedBits();

// Row b: the 8 pixels of byte b, 0xFF for a 1 bit, most significant first.
constexpr std::array<std::array<uint8_t, 8>, 256> BuildUnpacked() {
  std::array<std::array<uint8_t, 8>, 256> t{};
  for (int b = 0; b < 256; ++b)
    for (int k = 0; k < 8; ++k) t[b][k] = (b & (0x80 >> k)) ? 0xFF : 0x00;
  return t;
}
constexpr std::array<std::array<uint8_t, 8>, 256> kUnpacked = BuildUnpacked();

inline uint64_t LoadLittleEndian64(const uint8_t *p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

// The packed byte of 8 grey pixels, without a test per pixel: a byte is
// above 128 when its top bit is set and its low 7 bits are not all 0; the
// multiply then gathers the 8 top bits, the first pixel's highest.
inline uint8_t PackEight(const uint8_t *grey) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  constexpr uint64_t kTop = 0x8080808080808080ull;
  const uint64_t w = LoadLittleEndian64(grey);
  const uint64_t above = w & ((w & kLow7) + kLow7) & kTop;
  return static_cast<uint8_t>(((above >> 7) * 0x8040201008040201ull) >> 56);
}

}  // namespace

void PackGreyPixels(const uint8_t *grey, size_t count, uint8_t flip, uint8_t *out) {
  size_t i = 0;
#if defined(__SSE2__)
  // Signed compare after flipping the top bit: x ^ 0x80 > 0 for x > 128.
  const __m128i top = _mm_set1_epi8(static_cast<char>(0x80));
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= count; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(grey + i));
    const unsigned m =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(_mm_xor_si128(v, top), zero)));
    out[i / 8] = kReversedBits[m & 0xFF] ^ flip;
    out[i / 8 + 1] = kReversedBits[m >> 8] ^ flip;
  }
#endif
  for (; i + 8 <= count; i += 8) out[i / 8] = PackEight(grey + i) ^ flip;
  if (i < count) {
    uint8_t b = 0;
    for (size_t k = 0; i + k < count; ++k)
      if (grey[i + k] > 128) b = static_cast<uint8_t>(b | (0x80 >> k));
    out[i / 8] = b ^ flip;
  }
}

void UnpackBitsToGrey(const uint8_t *src, size_t count, uint8_t flip, uint8_t *dst) {
  const uint64_t flip8 = 0x0101010101010101ull * flip;
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t v;
    std::memcpy(&v, kUnpacked[src[i / 8]].data(), 8);
    v ^= flip8;
    std::memcpy(dst + i, &v, 8);
  }
  for (; i < count; ++i)
    dst[i] = static_cast<uint8_t>(((src[i / 8] & (0x80 >> (i % 8))) ? 0xFF : 0x00) ^ flip);
}

namespace {

using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

inline void InitializeOnce() {
  if (!g_nist.nist_type8_engine_initialized) NISTType8_Engine_Initialize();
}

inline void Release(uint8_t *&p) {
  std::free(p);
  p = nullptr;
}

inline uint8_t *Alloc(size_t n, bool zeroed) {
  return static_cast<uint8_t *>(zeroed ? SafeCalloc(n, 1) : SafeMalloc(n, 1));
}

// Sizes of one image: pixels, and pixels with every row padded to whole
// bytes. False (with a message naming func) when the width or height is not
// positive or a size would pass the allocation limit.
struct Sizes {
  size_t pixels;
  size_t padded_pixels;
  size_t row_bytes;  // ceil(width / 8)
};

bool ImageSizes(const char *func, int width, int height, Sizes *s) {
  if (ImageBytes(width, height, 1, &s->pixels)) {
    s->row_bytes = (static_cast<size_t>(width) + 7) / 8;
    if (CheckedMul(s->row_bytes * 8, static_cast<size_t>(height), &s->padded_pixels) &&
        s->padded_pixels <= kMaxAlloc)
      return true;
  }
  std::fprintf(stderr, "ERROR : %s : invalid image size %d x %d\n", func, width, height);
  return false;
}

// Common start of the readers.
bool StartReader(const char *func, const uint8_t *data, int length, int width, int height,
                 Sizes *s) {
  InitializeOnce();
  if (!data || length < 0) {
    std::fprintf(stderr, "ERROR : %s : no image data\n", func);
    return false;
  }
  return ImageSizes(func, width, height, s);
}

// The byte flip of a switch: any value other than 0 counts as 1, for the
// writers as for the readers, so no value leaves a picture unpacked.
inline uint8_t SwitchFlip(int inverted) { return inverted ? 0xFF : 0x00; }

// The uncompressed readers' pixel sequence: bit i of the data for every i
// below both the pixel count and 8 x length, 0 past the data, padded rows.
Buffer UnpackSequence(const uint8_t *data, int length, const Sizes &s, int inverted,
                      const char *area_name) {
  Buffer seq(Alloc(s.padded_pixels, true));
  if (!seq) {
    std::fprintf(stderr, "Error: malloc for %s failed\n", area_name);
    return seq;
  }
  size_t count = static_cast<size_t>(length) * 8;
  if (count > s.pixels) count = s.pixels;
  UnpackBitsToGrey(data, count, SwitchFlip(inverted), seq.get());
  return seq;
}

// Shared by both compressed readers: decodes into a zeroed bit string and
// unpacks every pixel; pixels the stream does not reach read as 0 bits,
// which is the fill value of the switch. *rows_decoded, when asked for,
// receives the whole rows decoded.
uint8_t *DecodeToImage(const char *func, const char *kind, const uint8_t *data, int length,
                       int width, int height, const Sizes &s, int inverted,
                       const char *result_name, int *rows_decoded = nullptr) {
  Buffer image(Alloc(s.pixels, false));
  if (!image) {
    std::fprintf(stderr, "Error: malloc for %s failed\n", result_name);
    return nullptr;
  }
  const size_t decoded_bytes = (s.pixels + 7) / 8;
  Buffer decoded(Alloc(decoded_bytes, true));
  if (!decoded) {
    std::fprintf(stderr,
                 "%s: %s facsimile compression algorithm (FAX Group 4 standard) output_buffer "
                 "failed.\n",
                 func, kind);
    return nullptr;
  }
  int rows = 0;
  int status = grp4deco_grp4decomp(data, static_cast<size_t>(length), width, height,
                                   decoded.get(), decoded_bytes, &rows);
  if (status == kG4NoMemory) {
    std::fprintf(stderr, "ERROR : %s : no memory for the Group 4 decoder\n", func);
    return nullptr;
  }
  if (status == kG4Damaged || status == kG4Truncated) {
    std::fprintf(stderr, "WARNING : %s : Group 4 data %s after %d of %d rows\n", func,
                 status == kG4Damaged ? "damaged" : "ends", rows, height);
  }
  UnpackBitsToGrey(decoded.get(), s.pixels, SwitchFlip(inverted), image.get());
  if (rows_decoded) *rows_decoded = rows;
  return image.release();
}

// Common start of both writers: records the call, takes over the caller's
// previous buffer and checks the arguments.
bool StartWriter(const char *func, const uint8_t *image, int width, int height,
                 uint8_t **output, int *output_length, Sizes *s) {
  InitializeOnce();
  g_nist.type8_image_width = width;
  g_nist.type8_image_height = height;
  g_nist.size_of_type8_binary_field = 0;
  if (!output || !output_length) {
    std::fprintf(stderr, "ERROR : %s : no output pointer\n", func);
    return false;
  }
  std::free(*output);
  *output = nullptr;
  *output_length = 0;
  if (!image) {
    std::fprintf(stderr, "ERROR : %s : no image\n", func);
    return false;
  }
  return ImageSizes(func, width, height, s);
}

void FinishWriter(uint8_t *buffer, size_t length, uint8_t **output, int *output_length) {
  *output = buffer;
  *output_length = static_cast<int>(length);
  g_nist.size_of_type8_binary_field = static_cast<int>(length);
}

const char kType8Kind[] = "Type-8 ANSI/EIA-538-1988";
const char kType6Kind[] = "Type-6 ANSI/EIA-536-1966";

}  // namespace

uint8_t *ReadType8Group4(const uint8_t *data, int length, int width, int height,
                         int *rows_decoded) {
  static const char kFunc[] = "CreateImageFromNISTType8CompressedBinaryField";
  *rows_decoded = 0;
  Sizes s;
  if (!StartReader(kFunc, data, length, width, height, &s)) return nullptr;
  Release(g_nist.type8_output_image);
  g_nist.type8_output_image =
      DecodeToImage(kFunc, kType8Kind, data, length, width, height, s,
                    g_nist.output_compressed_type8_image_inverted, "type8_output_image",
                    rows_decoded);
  return g_nist.type8_output_image;
}

}  // namespace tsl

using tsl::g_nist;

extern "C" {

TESSALY_API unsigned char *CreateImageFromNISTType8UncompressedBinaryField(
    const unsigned char *data, int length, int width, int height) {
  static const char kFunc[] = "CreateImageFromNISTType8UncompressedBinaryField";
  tsl::Sizes s;
  if (!tsl::StartReader(kFunc, data, length, width, height, &s)) return nullptr;
  tsl::Release(g_nist.type8_output_image);
  tsl::Buffer image(tsl::Alloc(s.pixels, false));
  if (!image) {
    std::fputs("Error: malloc for type8_output_image failed\n", stderr);
    return nullptr;
  }
  tsl::Buffer seq = tsl::UnpackSequence(data, length, s,
                                        g_nist.input_uncompressed_type8_image_inverted,
                                        "type8_output_image_padded");
  if (!seq) return nullptr;

  // Stored rows hold the whole bytes of each row; the last column repeats
  // the last stored pixel of its row (there is none below width 8).
  const size_t w = static_cast<size_t>(width);
  const size_t stride = w - w % 8;
  for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
    uint8_t *dst = image.get() + y * w;
    std::memcpy(dst, seq.get() + y * stride, w);
    if (stride > 0) dst[w - 1] = seq.get()[y * stride + stride - 1];
  }
  g_nist.type8_output_image = image.release();
  return g_nist.type8_output_image;
}

TESSALY_API unsigned char *CreateImageFromNISTType8CompressedBinaryField(
    const unsigned char *data, int length, int width, int height) {
  int rows;
  return tsl::ReadType8Group4(data, length, width, height, &rows);
}

TESSALY_API unsigned char *CreateImageFromNISTType6UncompressedBinaryField(
    const unsigned char *data, int length, int width, int height) {
  static const char kFunc[] = "CreateImageFromNISTType6UncompressedBinaryField";
  tsl::Sizes s;
  if (!tsl::StartReader(kFunc, data, length, width, height, &s)) return nullptr;
  tsl::Release(g_nist.type6_output_image);
  tsl::Release(g_nist.type6_output_image_padded);
  tsl::Buffer seq = tsl::UnpackSequence(data, length, s,
                                        g_nist.input_uncompressed_type6_image_inverted,
                                        "type6_output_image_padded");
  if (!seq) return nullptr;
  g_nist.type6_output_image_padded = seq.release();
  return g_nist.type6_output_image_padded;
}

TESSALY_API unsigned char *CreateImageFromNISTType6CompressedBinaryField(
    const unsigned char *data, int length, int width, int height) {
  static const char kFunc[] = "CreateImageFromNISTType6CompressedBinaryField";
  tsl::Sizes s;
  if (!tsl::StartReader(kFunc, data, length, width, height, &s)) return nullptr;
  tsl::Release(g_nist.type6_output_image);
  tsl::Release(g_nist.type6_output_image_padded);
  g_nist.type6_output_image =
      tsl::DecodeToImage(kFunc, tsl::kType6Kind, data, length, width, height, s,
                         g_nist.output_compressed_type6_image_inverted, "type6_output_image");
  return g_nist.type6_output_image;
}

TESSALY_API int CreateNISTType8UncompressedBinaryFieldfromImage(const unsigned char *image,
                                                                 int width, int height,
                                                                 unsigned char **output,
                                                                 int *output_length) {
  static const char kFunc[] = "CreateNISTType8UncompressedBinaryFieldfromImage";
  tsl::Sizes s;
  if (!tsl::StartWriter(kFunc, image, width, height, output, output_length, &s)) return 0;
  const size_t length = s.padded_pixels / 8;
  tsl::Buffer out(tsl::Alloc(length, true));
  if (!out) {
    std::fputs("Error: malloc for output_type8_bytes failed\n", stderr);
    return 0;
  }
  // Rows keep their whole bytes, one after the other; of the last width
  // mod 8 pixels of each row only the last row's are stored. Bytes up to the
  // pixel count that no pixel reaches pack as 0, flipped too.
  const uint8_t flip = tsl::SwitchFlip(g_nist.output_uncompressed_type8_image_inverted);
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  const size_t whole = w / 8, r = w % 8;
  for (size_t y = 0; y < h; ++y)
    tsl::PackGreyPixels(image + y * w, w - r, flip, out.get() + y * whole);
  tsl::PackGreyPixels(image + h * w - r, r, flip, out.get() + h * whole);
  const size_t written = h * whole + (r ? 1 : 0), used = (s.pixels + 7) / 8;
  std::memset(out.get() + written, flip, used - written);
  tsl::FinishWriter(out.release(), length, output, output_length);
  return 1;
}

TESSALY_API int CreateNISTType8CompressedBinaryFieldfromImage(const unsigned char *image,
                                                               int width, int height,
                                                               unsigned char **output,
                                                               int *output_length) {
  static const char kFunc[] = "CreateNISTType8CompressedBinaryFieldfromImage";
  tsl::Sizes s;
  if (!tsl::StartWriter(kFunc, image, width, height, output, output_length, &s)) return 0;

  // Group 4 rows are whole bytes each, dark pixels 1 with the default switch.
  const size_t packed_length = s.padded_pixels / 8;
  tsl::Buffer packed(tsl::Alloc(packed_length, false));
  if (!packed) {
    std::fputs("Error: malloc for type8_uncompressed_bytes failed\n", stderr);
    return 0;
  }
  // The coder ignores the bits past the width, flipped or not.
  const uint8_t flip = tsl::SwitchFlip(g_nist.output_compressed_type8_image_inverted);
  const size_t w = static_cast<size_t>(width);
  for (size_t y = 0; y < static_cast<size_t>(height); ++y)
    tsl::PackGreyPixels(image + y * w, w, flip, packed.get() + y * s.row_bytes);

  size_t capacity = tsl::Group4WorstCaseBytes(width, height);
  if (capacity == 0 || capacity > tsl::kMaxAlloc) capacity = tsl::kMaxAlloc;
  // Only the coded bytes are touched, so the generous bound costs no memory
  // that is not used.
  tsl::Buffer coded(tsl::Alloc(capacity, false));
  if (!coded) {
    std::fprintf(stderr,
                 "%s: %s facsimile compression algorithm (FAX Group 4 standard) output_buffer "
                 "failed.\n",
                 kFunc, tsl::kType8Kind);
    return 0;
  }
  size_t coded_length = 0;
  int status = tsl::grp4comp_grp4comp(packed.get(), packed_length, width, height, coded.get(),
                                      capacity, &coded_length);
  if (status != tsl::kG4Ok) {
    std::fprintf(stderr, "ERROR : %s : Group 4 coding failed (%d)\n", kFunc, status);
    return 0;
  }
  packed.reset();
  tsl::Buffer out(tsl::Alloc(coded_length, false));
  if (!out) {
    std::fputs("Error: malloc for output_type8_bytes failed\n", stderr);
    return 0;
  }
  std::memcpy(out.get(), coded.get(), coded_length);
  tsl::FinishWriter(out.release(), coded_length, output, output_length);
  return 1;
}

TESSALY_API void SetNISTType8ImageColorInversion(int input_uncompressed, int output_uncompressed,
                                                 int input_compressed, int output_compressed) {
  // Initialising first keeps a setting made before any reader or writer ran.
  tsl::InitializeOnce();
  g_nist.input_uncompressed_type8_image_inverted = input_uncompressed;
  g_nist.output_uncompressed_type8_image_inverted = output_uncompressed;
  g_nist.input_compressed_type8_image_inverted = input_compressed;
  g_nist.output_compressed_type8_image_inverted = output_compressed;
}

TESSALY_API int ReadType8DataCompressionType(void) { return g_nist.type8_image_compression_type; }
TESSALY_API int ReadType8DataWidth(void) { return g_nist.type8_image_width; }
TESSALY_API int ReadType8DataHeight(void) { return g_nist.type8_image_height; }
TESSALY_API int ReadSizeOfNISTType8BinaryField(void) { return g_nist.size_of_type8_binary_field; }

}  // extern "C"
