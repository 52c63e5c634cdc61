// Result codes of ReadImageFromFile and SaveImageToFile besides 1 (done),
// 8 (read: a name without '.'), 0 (save: a format code outside 1..12), the
// whole-file codes -2..-4 and the codecs' own negative codes. Mirrored in
// the comments of tessaly.h.
#ifndef TESSALY_API_IMAGE_FILE_H
#define TESSALY_API_IMAGE_FILE_H

namespace tsl {

// Read: the raster reader refused the file, or no reader takes its
// extension.
constexpr int kFileRasterReadFailed = -110;
// Save: the raster writer failed; its code is the image layer's last error.
constexpr int kFileRasterWriteFailed = -111;
// Width or height not positive, or 3 x width x height above INT_MAX: the
// sizes of a save, of a decoded picture, or the stored Type-8 sizes.
constexpr int kFileBadSize = -112;
// Memory for the planes or a work buffer could not be had.
constexpr int kFileNoMemory = -113;
// A null pointer argument, or an output path longer than kMaxFilePath.
constexpr int kFileBadArgument = -114;
// Type-8 data: the stored compression is neither 0 nor 1, or the reader
// returned no image.
constexpr int kFileType8Failed = -115;

// Longest output path (the name and an appended extension) a save takes.
constexpr unsigned kMaxFilePath = 4095;

}  // namespace tsl

#endif
