// The unpacked-array builder over every record the readers hand out: the
// first byte picks the reader, the rest is the file. Whatever the reader
// accepts becomes a whole 4-byte-per-pixel array in both byte orders.
#include <cstdlib>
#include <initializer_list>

#include "image/bmp.h"
#include "image/cel.h"
#include "image/gif.h"
#include "image/iff.h"
#include "image/pcx.h"
#include "image/png.h"
#include "image/psd.h"
#include "image/reader_choice.h"
#include "image/sgi.h"
#include "image/tga.h"

namespace {

using Reader = tsl::RasterError (*)(const uint8_t *, size_t, tsl::RasterImage *);
const Reader kReaders[] = {tsl::ReadBMPMemory, tsl::ReadTGAMemory, tsl::ReadRGBMemory,
                           tsl::ReadPCXMemory, tsl::ReadPSDMemory, tsl::ReadIFFMemory,
                           tsl::ReadCELMemory, tsl::ReadGIFMemory, tsl::ReadPNGMemory};
constexpr size_t kReaderCount = sizeof kReaders / sizeof kReaders[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  tsl::RasterImage image;
  tsl::InitRasterImage(&image);
  image.bmp_layout = data[0] >> 7;  // both row layouts
  if (kReaders[(data[0] & 0x7F) % kReaderCount](data + 1, size - 1, &image) == tsl::RASTER_OK) {
    for (int order : {0, 1}) {
      uint32_t width = 0, height = 0;
      unsigned char *rgba = nullptr;
      if (tsl::CreateRGBAArray(image, &width, &height, &rgba, order) == tsl::RASTER_OK) {
        volatile unsigned sum = 0;
        for (size_t i = 0; i < size_t{4} * width * height; ++i) sum = sum + rgba[i];
      }
      std::free(rgba);
    }
  }
  tsl::FreeRasterImage(&image);
  return 0;
}
