#include "api/settings.h"

#include <cstdlib>
#include <cstring>

#include "tessaly.h"

namespace tsl {

Settings g_settings;
ReadResults g_read_results;

namespace {
// The raster layer's compression codes (image/tiff.h) the small numbering
// maps to.
constexpr uint32_t kTiffNone = 0;
constexpr uint32_t kTiffDeflate = 13;
constexpr uint32_t kTiffPackBits = 9;
}  // namespace

void StoreComment(const char *text) {
  // Copied before the stored text is released: text may be that very text
  // (ReadWSQ_comment hands it out) or a part of it.
  char *copy = nullptr;
  if (text) {
    size_t n = std::strlen(text) + 1;
    copy = static_cast<char *>(std::malloc(n));
    // On allocation failure nothing is stored: a later save writes an empty
    // comment, which is what a null comment means there.
    if (copy) std::memcpy(copy, text, n);
  }
  std::free(g_settings.comment_text);
  g_settings.comment_text = copy;
}

void WriteTIFFcompression_internal(int compression) {
  g_settings.compression = static_cast<uint32_t>(compression);
}
int ReadTIFFpredictor_internal() { return g_settings.predictor; }
void WriteTIFFpredictor_internal(int predictor) {
  g_settings.predictor = static_cast<uint16_t>(predictor);
}

namespace {
// The stored comment is the library's until unload.
__attribute__((destructor)) void fini() {
  std::free(g_settings.comment_text);
  g_settings.comment_text = nullptr;
}
}  // namespace

}  // namespace tsl

using tsl::g_settings;

extern "C" {

TESSALY_API void WriteWSQ_bitrate(double bitrate) { g_settings.wsq_bitrate = bitrate; }
TESSALY_API double ReadWSQ_bitrate(void) { return g_settings.wsq_bitrate; }
TESSALY_API void WriteWSQ_ppi(int ppi) { g_settings.wsq_ppi = ppi; }
TESSALY_API int ReadWSQ_ppi(void) { return g_settings.wsq_ppi; }
TESSALY_API void WriteWSQ_comment(const char *comment) { tsl::StoreComment(comment); }
TESSALY_API char *ReadWSQ_comment(void) { return g_settings.comment_text; }
TESSALY_API int ReadWSQ_implementation_number(void) { return g_settings.wsqsoftware; }

TESSALY_API void WriteTIFFcompression(int compression) {
  switch (compression) {
    case 1:
      g_settings.compression = tsl::kTiffDeflate;
      g_settings.predictor = 2;
      break;
    case 2:
      g_settings.compression = tsl::kTiffPackBits;
      break;
    default:
      g_settings.compression = tsl::kTiffNone;
      break;
  }
}

TESSALY_API int ReadTIFFcompression(void) {
  switch (g_settings.compression) {
    case tsl::kTiffDeflate:
      return 1;
    case tsl::kTiffPackBits:
      return 2;
    default:
      return 0;
  }
}

TESSALY_API int ReadTIFFcompression_internal(void) {
  return static_cast<int>(g_settings.compression);
}
TESSALY_API void WriteTIFFpredictor(int predictor) {
  g_settings.predictor = static_cast<uint16_t>(predictor);
}
TESSALY_API int ReadTIFFpredictor(void) { return g_settings.predictor; }

TESSALY_API void WriteType8CompressionWidthHeight(int width, int height, int compression) {
  g_settings.type8_width_internal = width;
  g_settings.type8_height_internal = height;
  g_settings.type8_compression_type_internal = compression;
}

TESSALY_API void SetShowFilePropertiesDialog(int show) {
  g_settings.show_WSQ_properties_dialog = show;
}
TESSALY_API void ShowFileConverter(void) {}

}  // extern "C"
