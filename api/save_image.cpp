// SaveImageToFile: a planar RGB buffer to a file in one of twelve formats,
// chosen by a format code; the name gets the format's extension when it
// lacks it.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "api/image_file.h"
#include "api/netpbm.h"
#include "api/planar.h"
#include "api/settings.h"
#include "api/whole_file.h"
#include "common/checked.h"
#include "image/bmp.h"
#include "image/jpeg.h"
#include "image/png.h"
#include "image/raster_io.h"
#include "image/reader_choice.h"
#include "image/sgi.h"
#include "image/tga.h"
#include "image/tiff.h"
#include "tessaly.h"

namespace tsl {

namespace {

using Buffer = std::unique_ptr<unsigned char, FreeDeleter>;

enum Road { kWsqRoad, kRasterRoad, kStreamRoad };

using StreamEncoder = int (*)(const unsigned char *, int, int, unsigned char **, int *);

struct Format {
  const char *key;        // extension that keeps the name as it is
  const char *extension;  // appended otherwise
  Road road;
  StreamEncoder encode;   // stream road only
};

int Jp2Encode(const unsigned char *p, int w, int h, unsigned char **o, int *n) {
  return JPEG2000_encode_stream(p, w, h, o, n, "jp2");
}
int JpcEncode(const unsigned char *p, int w, int h, unsigned char **o, int *n) {
  return JPEG2000_encode_stream(p, w, h, o, n, "jpc");
}

// Indexed by format code - 1.
const Format kFormats[] = {
    {"WSQ", ".wsq", kWsqRoad, nullptr},
    {"BMP", ".bmp", kRasterRoad, nullptr},
    {"TIF", ".tif", kRasterRoad, nullptr},
    {"PNG", ".png", kRasterRoad, nullptr},
    {"JPG", ".jpg", kRasterRoad, nullptr},
    {"RGB", ".rgb", kRasterRoad, nullptr},
    {"TGA", ".tga", kRasterRoad, nullptr},
    {"JP2", ".jp2", kStreamRoad, Jp2Encode},
    {"JPC", ".jpc", kStreamRoad, JpcEncode},
    {"PBM", ".pbm", kStreamRoad, PBM_encode_stream},
    {"PGM", ".pgm", kStreamRoad, PGM_encode_stream},
    {"PPM", ".ppm", kStreamRoad, PPM_encode_stream},
};
constexpr int kFormatCount = sizeof kFormats / sizeof kFormats[0];

// Writes an encoded stream under the output path: 1, or the whole-file
// writer's code.
int WriteStream(const std::string &path, const Buffer &stream, int length) {
  const int code = write_raw_from_memsize(path.c_str(), stream.get(), length);
  return code ? code : 1;
}

int SaveWsq(const std::string &path, int width, int height, const unsigned char *planar,
            size_t n) {
  Buffer grey(static_cast<unsigned char *>(std::malloc(n)));
  if (!grey) return kFileNoMemory;
  MeanOfPlanes(planar, planar + n, planar + 2 * n, n, grey.get());
  // An empty comment is stored, and written, when none is.
  if (!g_settings.comment_text) StoreComment("");
  unsigned char *stream = nullptr;
  int length = 0;
  const int code = WSQ_encode_stream(grey.get(), width, height, g_settings.wsq_bitrate,
                                     g_settings.wsq_ppi, g_settings.comment_text, &stream,
                                     &length);
  Buffer owned(stream);
  if (code != 1) return code;
  return WriteStream(path, owned, length);
}

int SaveStream(const std::string &path, StreamEncoder encode, int width, int height,
               const unsigned char *planar) {
  unsigned char *stream = nullptr;
  int length = 0;
  const int code = encode(planar, width, height, &stream, &length);
  Buffer owned(stream);  // a failed JPEG 2000 encoder hands out what it wrote
  if (code < 0) return code;
  return WriteStream(path, owned, length);
}

// The TIFF options a save hands on: those of the last TIFF read or of the
// setters, with a compression that cannot code 8-bit samples (the fax
// codes, LZW, JPEG, JBIG, ...) replaced by none for this save only.
TIFFOptions SaveTiffOptions() {
  TIFFOptions options = {g_settings.compression, g_settings.photometric, g_settings.orientation,
                         g_settings.predictor};
  if (!TIFFCanWrite(options.compression, 8)) options.compression = TIFF_COMPRESS_NONE;
  return options;
}

int SaveRaster(const std::string &path, int format, int width, int height,
               const unsigned char *planar, size_t n) {
  OwnedRecord record;
  RasterImage &image = record.image;
  image.width = static_cast<uint32_t>(width);
  image.height = static_cast<uint32_t>(height);
  image.bits_per_pixel = 24;
  image.bmp_layout = 1;
  SetLastRasterError(RASTER_OK);
  RasterError code = AllocateRasterImage(&image);  // stores its code
  if (code != RASTER_OK) return code == RASTER_ERR_MEMORY ? kFileNoMemory : kFileBadSize;
  const size_t w = image.width;
  for (uint32_t y = 0; y < image.height; ++y) {
    uint8_t *dst = RasterRow(image, image.height - 1 - y);
    const unsigned char *r = planar + y * w;
    JoinBgrRow(r, r + n, r + 2 * n, w, dst);
  }
  const char *name = path.c_str();
  switch (format) {
    case 2: code = WriteBMP(name, image); break;
    case 3: {
      const TIFFOptions options = SaveTiffOptions();
      code = WriteTIFF(name, image, &options);
      break;
    }
    case 4: code = WritePNG(name, image); break;
    case 5: code = WriteJPEG(name, image, 100); break;
    case 6: code = WriteRGB(name, image); break;
    default: code = WriteTGA(name, image); break;
  }
  SetLastRasterError(code);
  return code == RASTER_OK ? 1 : kFileRasterWriteFailed;
}

}  // namespace

}  // namespace tsl

extern "C" TESSALY_API int SaveImageToFile(const char *filename, int format, int width,
                                           int height, const unsigned char *planar) {
  using namespace tsl;
  if (!filename || !planar) return kFileBadArgument;
  if (format < 1 || format > kFormatCount) return 0;
  size_t bytes;
  if (!ImageBytes(width, height, 3, &bytes)) return kFileBadSize;
  const Format &f = kFormats[format - 1];
  char key[4];
  ExtensionKey(filename, key);  // empty without a '.'
  const size_t length = std::strlen(filename);
  const size_t added = std::strcmp(key, f.key) == 0 ? 0 : std::strlen(f.extension);
  if (length > kMaxFilePath || added > kMaxFilePath - length) return kFileBadArgument;
  std::string path;
  const bool named = CatchShortMemory(false, nullptr, [&] {
    path.assign(filename, length).append(added ? f.extension : "");
    return true;
  });
  if (!named) return kFileNoMemory;
  const size_t n = bytes / 3;
  switch (f.road) {
    case kWsqRoad: return SaveWsq(path, width, height, planar, n);
    case kRasterRoad: return SaveRaster(path, format, width, height, planar, n);
    default: return SaveStream(path, f.encode, width, height, planar);
  }
}
