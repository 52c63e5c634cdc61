// Group 4 fax codec (two-dimensional coding of bi-level rows, each against
// the row above): the coder and decoder that the Type-6/Type-8 image data
// functions in type8.cpp use. Internal; callers supply every buffer.
#ifndef TESSALY_NIST_GROUP4_H
#define TESSALY_NIST_GROUP4_H

#include <cstddef>
#include <cstdint>

namespace tsl {

// Results of the coder and decoder.
enum Group4Status {
  kG4Ok = 0,
  kG4NoInput = -1,      // input area missing, or shorter than the image needs
  kG4NoOutput = -2,     // output area missing, or smaller than the image needs
  kG4BadSize = -3,      // width or height not positive, or too large
  kG4OutputFull = -4,   // the coded stream does not fit the output capacity
  kG4NoMemory = -5,     // a work area could not be allocated
  kG4Damaged = -6,      // decoding met a code or a run that no sound stream holds
  kG4Truncated = -7,    // the input ended before the image did
};

// Codes a bi-level image: height rows of ceil(width / 8) bytes, most
// significant bit leftmost, bit 1 black; bits at or past the width are
// ignored. Writes the stream ending in end-of-facsimile-block into output,
// never more than capacity bytes, and its length into *output_length (0 on
// failure). input_length must cover every row.
int grp4comp_grp4comp(const uint8_t *input, size_t input_length, int width, int height,
                      uint8_t *output, size_t capacity, size_t *output_length);

// Bytes a coded image of this size can take at most (0 when the size is not
// positive or the bound overflows).
size_t Group4WorstCaseBytes(int width, int height);

// Decodes a stream into one continuous bit string: row y starts at bit
// y x width, most significant bit first, bit 1 black. capacity must hold
// ceil(width x height / 8) bytes. Decoding stops after height rows, at the
// end of the input or at an end-of-facsimile-block before the last row ends
// (kG4Truncated either way), or at the first damaged code (kG4Damaged); the
// rows decoded until then, and the decoded start of an unfinished row, stay
// in output. *rows_decoded receives the number of whole rows.
int grp4deco_grp4decomp(const uint8_t *input, size_t input_length, int width, int height,
                        uint8_t *output, size_t capacity, int *rows_decoded);

}  // namespace tsl

#endif
