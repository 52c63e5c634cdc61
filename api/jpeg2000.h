// JPEG 2000 streams in memory over OpenJPEG: the process-wide record of the
// codec layer and the rate rule, shared by the exported encoder and decoder
// (declared in tessaly.h) and the file save path.
#ifndef TESSALY_API_JPEG2000_H
#define TESSALY_API_JPEG2000_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace tsl {

struct Jpeg2000State {
  // 1 once the codec layer is configured. OpenJPEG needs no global set-up,
  // so this cannot fail; the flag keeps the first-call hook in one place.
  int jpeg_2000_initialized = 0;
  // The last encoder output, which the caller owns: recorded, never freed.
  unsigned char *jasper_jp2_image_buffer = nullptr;
};
extern Jpeg2000State g_jpeg2000;

// Memory an image may take in the codec (the decoder checks it from the
// header before decoding; the encoder before it starts).
constexpr size_t kJpeg2000MemoryLimit = 1073741824;

// What a scan of a JPEG 2000 stream's markers finds, without decoding: the
// image size its SIZ segment declares, the number of tiles it declares, and
// how many of them have a tile-part lying wholly within the data.
struct Jpeg2000Layout {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t tiles = 0;
  uint32_t tiles_present = 0;
};
// data is a JP2 file (jp2) or a bare code stream; false when it holds no
// code stream with a valid SIZ segment. The decoder refuses a stream whose
// tiles are not all present.
bool ScanJpeg2000(const unsigned char *data, size_t size, bool jp2, Jpeg2000Layout *layout);

// The encoder's option text, "rate=" and the target size as a fraction of
// the raw size: 1 up to 2500 pixels, otherwise slightly above 4/9.
std::string Jpeg2000RateOption(int width, int height);

}  // namespace tsl

#endif
