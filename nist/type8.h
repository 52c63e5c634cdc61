// Process-wide state of the ANSI/NIST Type-6/Type-8 image data functions
// (exported from type8.cpp): inversion switches, the readers' results and
// the records of the last Type-8 writer call. Internal.
#ifndef TESSALY_NIST_TYPE8_H
#define TESSALY_NIST_TYPE8_H

#include <cstddef>
#include <cstdint>

namespace tsl {

struct NistState {
  int nist_type8_engine_initialized = 0;

  // Which bit value stands for black; any non-zero value counts as 1.
  int input_uncompressed_type6_image_inverted = 0;
  int output_compressed_type6_image_inverted = 0;
  int input_uncompressed_type8_image_inverted = 0;
  int input_compressed_type8_image_inverted = 0;  // stored, read by nothing
  int output_uncompressed_type8_image_inverted = 0;
  int output_compressed_type8_image_inverted = 0;

  // Results owned by the module (malloc'ed), valid until the next call of a
  // reader of the same kind.
  uint8_t *type8_output_image = nullptr;         // both Type-8 readers
  uint8_t *type6_output_image = nullptr;         // Type-6 compressed reader
  uint8_t *type6_output_image_padded = nullptr;  // Type-6 uncompressed reader

  // Records of the last Type-8 writer call.
  int type8_image_width = 0;
  int type8_image_height = 0;
  int size_of_type8_binary_field = 0;
  int type8_image_compression_type = 0;  // never set: stays 0
};

extern NistState g_nist;

// Gives the switches their defaults and empties the results; runs once,
// on the first call of any reader, writer or the inversion setter.
void NISTType8_Engine_Initialize();

// The Type-8 Group 4 reader behind CreateImageFromNISTType8CompressedBinaryField
// (same result and messages), also storing in *rows_decoded how many whole
// rows the data gave (0 when the result is null): the rows past them are
// fill, and a caller may refuse a picture that is fill alone.
uint8_t *ReadType8Group4(const uint8_t *data, int length, int width, int height,
                         int *rows_decoded);

// Packs count grey pixels into ceil(count / 8) bytes, the first pixel in the
// most significant bit, 1 for a pixel above 128; every byte written is then
// XORed with flip, the last one's bits past count (packed as 0) included.
void PackGreyPixels(const uint8_t *grey, size_t count, uint8_t flip, uint8_t *out);

// dst[i] := 255 for a 1 bit, 0 for a 0 bit, XORed with flip, for bit i of
// src (most significant bit first) and every i below count.
void UnpackBitsToGrey(const uint8_t *src, size_t count, uint8_t flip, uint8_t *dst);

}  // namespace tsl

#endif
