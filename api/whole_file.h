// Whole files to and from memory, for the file-level read and save paths
// (formats whose codecs work on byte buffers: WSQ, JPEG 2000, PBM/PGM/PPM,
// Type-8 data).
#ifndef TESSALY_API_WHOLE_FILE_H
#define TESSALY_API_WHOLE_FILE_H

namespace tsl {

// Size of the file in bytes (0 or more), or -2 it cannot be opened, -3 it
// cannot be positioned at its end, -4 it is a directory or its size cannot
// be told or is larger than INT_MAX. Each failure writes one line to stderr.
int filesize(const char *path);

// Reads the whole file into a new malloc'ed buffer (no terminating zero; a
// non-null buffer even for an empty file) and stores it and its length.
// 0 done; -2 cannot be opened, -3 cannot be positioned at its end or memory
// is short, -4 its size cannot be told or it cannot be read whole. Nothing is
// stored on failure.
int read_raw_from_filesize(const char *path, unsigned char **data, int *length);

// Creates or empties the file and writes count bytes to it. 0 done; -2 it
// cannot be opened for writing, -3 fewer bytes were written, or flushing
// them or closing the file failed: a file this call created is then
// removed, one that stood under the name is left as the write left it.
int write_raw_from_memsize(const char *path, const unsigned char *data, int count);

}  // namespace tsl

#endif
