// Process-wide settings of the library interface: stored by the exported
// setters, read by the file-level save and read functions.
#ifndef TESSALY_API_SETTINGS_H
#define TESSALY_API_SETTINGS_H

#include <cstdint>

namespace tsl {

struct Settings {
  double wsq_bitrate = 0.75;
  int wsq_ppi = 500;
  char *comment_text = nullptr;  // owned, malloc'ed; released by fini
  int wsq_depth = 8;
  int wsqencoder = 0;
  int wsqsoftware = 0;
  uint32_t compression = 0;  // a TIFFCompressionCode (image/tiff.h)
  uint16_t predictor = 2;
  uint32_t photometric = 0;
  uint32_t orientation = 0;
  int type8_width_internal = 0;
  int type8_height_internal = 0;
  int type8_compression_type_internal = 0;
  int show_WSQ_properties_dialog = 0;
  // Last result of convert_ut8_to_utf16, malloc'ed; released by its next call.
  uint16_t *utf16_text = nullptr;
};

// The one instance, zero-cost static data initialised at load.
extern Settings g_settings;

// ReadImageFromFile's results, one planar buffer per reading path
// (malloc'ed, the library's): each stays valid until a later read through
// the same path replaces it. The TIFF path and every format of the raster
// layer share one.
struct ReadResults {
  unsigned char *wsq_decoded_data_color = nullptr;
  unsigned char *jp2_decoded_data = nullptr;
  unsigned char *jpc_decoded_data = nullptr;
  unsigned char *pbm_decoded_data = nullptr;
  unsigned char *pgm_decoded_data = nullptr;
  unsigned char *ppm_decoded_data = nullptr;
  unsigned char *type8_decoded_data_color = nullptr;
  unsigned char *raster_decoded_data = nullptr;
};
extern ReadResults g_read_results;

// Replaces the stored comment with a copy of text (null clears it).
void StoreComment(const char *text);

// Setters no exported function reaches; kept for completeness of the
// TIFF option pairs.
void WriteTIFFcompression_internal(int compression);
int ReadTIFFpredictor_internal();
void WriteTIFFpredictor_internal(int predictor);

}  // namespace tsl

#endif
