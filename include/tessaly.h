/*
 * tessaly.h - public interface of libTessaly64.
 *
 * Fingerprint and signature imaging: WSQ streams with NISTCOM comments,
 * ANSI/NIST Type-6/Type-8 binary image data, JPEG 2000 and PBM/PGM/PPM
 * streams, and raster image files.
 *
 * Conventions
 *  - Every function has C linkage and may be called from C99 or C++.
 *  - Buffers the library hands back through a pointer-to-pointer argument
 *    are allocated with malloc; the caller releases them with free(), except
 *    where a function says the buffer stays the library's.
 *  - The library keeps process-wide state (settings, decoder tables, result
 *    buffers) without locks: call it from one thread at a time.
 *  - Grey images are width x height bytes, row-major, top row first.
 *    Planar RGB images are three such planes, R then G then B.
 *  - A NULL pointer argument is refused with the function's failure code and
 *    nothing is written, except for the arguments a function says "may be
 *    NULL": those are optional and skipped when NULL.
 */
#ifndef TESSALY_H
#define TESSALY_H

#if defined(TESSALY_BUILDING)
#define TESSALY_API __attribute__((visibility("default")))
#else
#define TESSALY_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- WSQ streams -------------------------------------------------------- */

/* Compresses a grey image (sides 65 to 65535) at bitrate bits per pixel; returns 1 with
 * *odata a malloc'ed buffer (caller frees) holding *olen bytes, or a negative code (-17
 * for NULL data, odata or olen) with *odata and *olen left as they were. comment_text may
 * be NULL.
 * The rate is a target and must be a positive finite number (-16 otherwise, also for a
 * rate that is 0 as a float).
 * Smooth images whose bin widths at the rate asked would be too fine for 16-bit values
 * are coded with the finest widths whose values fit, below that rate.
 * Below about 0.005 the rate control can drop every subband and code at the fixed scale
 * 1: a stream far above the rate.
 * -33: the stream would be longer than width x height bytes (rates near 8 on busy
 * pictures, or such a tiny rate on a small noisy one).
 * -86/-87: a subband's bin or zero-bin width beyond the quantization table's range while
 * one of its values lies outside its zero bin (with all inside, it is left uncoded); not
 * expected from 8-bit pixels.
 * -18: a quantized value does not fit in 16 bits; not expected from 8-bit pixels. */
TESSALY_API int WSQ_encode_stream(const unsigned char *data, int width, int height,
                                  double bitrate, int ppi, const char *comment_text,
                                  unsigned char **odata, int *olen);
/* Decodes a WSQ stream; returns 1 with *odata a malloc'ed grey image (caller frees), or a
 * negative code with *odata NULL. A found comment replaces (frees) a non-null *comment.
 * ppi and comment may be NULL; NULL odata, width or height gives -17.
 * -23: the coded data ends before it supplies every coefficient that its frame header and
 * quantization table call for (refused before memory of the frame's size is taken). */
TESSALY_API int WSQ_decode_stream(const unsigned char *data, int length,
                                  unsigned char **odata, int *width, int *height,
                                  int *ppi, char **comment);

/*
 * Reads only the headers of a WSQ stream: width and height from its frame
 * header and the text of the last comment segment before the first block.
 * *ppi is always set to -1. When a comment is found, a non-null *comment is
 * freed and replaced by a new malloc'ed text (the caller frees it); without
 * one *comment keeps what was passed. Returns 1, or a negative code (-40
 * when the stream ends before its frame header; the outputs are then left
 * untouched). -88 without a start-of-image marker and -91 or -92 when the
 * value after it is no marker, with or without a comment asked for (width
 * and height already written); a value that is no marker further on is
 * passed over. ppi and comment may be NULL; NULL width or
 * height gives -17 and writes nothing.
 */
TESSALY_API int Fast_WSQ_decode_stream(const unsigned char *data, int length,
                                       int *width, int *height, int *ppi,
                                       char **comment);

/* ---- Settings ----------------------------------------------------------- */
/* Process-wide values read by later calls (see each). */

/* Bit rate of WSQ files saved by SaveImageToFile (default 0.75); stored as given, a
 * rate that WSQ_encode_stream refuses makes the save return its -16. */
TESSALY_API void WriteWSQ_bitrate(double bitrate);
TESSALY_API double ReadWSQ_bitrate(void);
/* Pixels per inch written into saved WSQ files (default 500). */
TESSALY_API void WriteWSQ_ppi(int ppi);
TESSALY_API int ReadWSQ_ppi(void);
/* Stores a copy of the comment written into saved WSQ files; NULL clears it. */
TESSALY_API void WriteWSQ_comment(const char *comment);
/* The stored comment itself (NULL until one is stored); it stays the
 * library's and is valid until the next replacement. */
TESSALY_API char *ReadWSQ_comment(void);
/* Software implementation number of the last WSQ stream decoded (0 if none). */
TESSALY_API int ReadWSQ_implementation_number(void);
/* TIFF save compression: 0 none, 1 Deflate, 2 PackBits (other values: none).
 * 1 also stores predictor 2, but files are written without a predictor. */
TESSALY_API void WriteTIFFcompression(int compression);
TESSALY_API int ReadTIFFcompression(void);
/* The stored libtiff compression code as is. */
TESSALY_API int ReadTIFFcompression_internal(void);
/* A stored value that ReadTIFFpredictor returns (a TIFF read stores the
 * file's); no save writes it. */
TESSALY_API void WriteTIFFpredictor(int predictor);
TESSALY_API int ReadTIFFpredictor(void);
/* Size and compression (0 none, 1 Group 4) of raw Type-8 ".BIN" files. */
TESSALY_API void WriteType8CompressionWidthHeight(int width, int height,
                                                  int compression);
/* Kept for compatibility; they have no effect. */
TESSALY_API void SetShowFilePropertiesDialog(int show);
TESSALY_API void ShowFileConverter(void);

/* ---- ANSI/NIST Type-6 and Type-8 binary image data ---------------------- */

/* Readers: bi-level image data (1 bit per pixel, most significant bit first,
 * or Group 4 coded) to a grey image of width x height bytes, 0 or 255 each.
 * The result stays the library's: valid until the next call of either Type-8
 * reader (or either Type-6 reader); never free it. NULL when the arguments are
 * refused (no data, negative length, width or height not positive or too
 * large) or memory is short; damaged Group 4 data gives the rows decoded. */
TESSALY_API unsigned char *CreateImageFromNISTType8UncompressedBinaryField(
    const unsigned char *data, int length, int width, int height);
TESSALY_API unsigned char *CreateImageFromNISTType8CompressedBinaryField(
    const unsigned char *data, int length, int width, int height);
/* The Type-6 uncompressed result is padded: (width rounded up to 8) x height
 * bytes, the image in its first width x height. */
TESSALY_API unsigned char *CreateImageFromNISTType6UncompressedBinaryField(
    const unsigned char *data, int length, int width, int height);
TESSALY_API unsigned char *CreateImageFromNISTType6CompressedBinaryField(
    const unsigned char *data, int length, int width, int height);
/* Writers: grey image (pixels above 128 are white) to Type-8 image data in a
 * malloc'ed *output of *output_length bytes, which the caller frees. A
 * non-NULL *output passed in is freed first. Return 1, or 0 with *output NULL
 * and *output_length 0 when the arguments are refused or memory is short. */
TESSALY_API int CreateNISTType8UncompressedBinaryFieldfromImage(const unsigned char *image,
                                                                 int width, int height,
                                                                 unsigned char **output,
                                                                 int *output_length);
TESSALY_API int CreateNISTType8CompressedBinaryFieldfromImage(const unsigned char *image,
                                                               int width, int height,
                                                               unsigned char **output,
                                                               int *output_length);
/* Inversion switches (0 or 1) of the Type-8 uncompressed reader, uncompressed
 * writer, (unused) compressed input, and Group 4 writer and reader. */
TESSALY_API void SetNISTType8ImageColorInversion(int input_uncompressed,
                                                 int output_uncompressed,
                                                 int input_compressed,
                                                 int output_compressed);
/* Width, height and byte size recorded by the last Type-8 writer call (size 0
 * when it failed); the compression type reads 0. */
TESSALY_API int ReadType8DataCompressionType(void);
TESSALY_API int ReadType8DataWidth(void);
TESSALY_API int ReadType8DataHeight(void);
TESSALY_API int ReadSizeOfNISTType8BinaryField(void);

/* ---- JPEG 2000 streams -------------------------------------------------- */

/* Planar RGB to a JP2 ("jp2") or raw code stream ("jpc") in a new malloc'ed
 * buffer; rate is chosen from the image size. 0 done, -1 bad argument or
 * set-up failure (outputs untouched), -2 the encoder failed (outputs hold
 * what was written, to be freed all the same). */
TESSALY_API int JPEG2000_encode_stream(const unsigned char *planar, int width, int height,
                                       unsigned char **output, int *output_length,
                                       const char *format);
/* "jp2"/"jpc" stream to a new malloc'ed planar RGB buffer; a buffer already
 * held in *output is freed on success. 0 done, -1 on any failure (width and
 * height may be set; *output untouched). A stream that does not carry every
 * tile its header declares is refused before width and height are set. */
TESSALY_API int JPEG2000_decode_stream(const unsigned char *data, int length,
                                       unsigned char **output, int *width, int *height,
                                       const char *format);

/* ---- PBM / PGM / PPM streams -------------------------------------------- */

/* Raw P4 / P5 / P6 stream to a new malloc'ed planar RGB buffer (PBM: 0 black,
 * 255 white). The header's items are parted by runs of white space and '#'
 * comments, each ending at the first CR or LF; a '#' glued to an item ends it
 * and starts a comment too. Sizes are read whole however many leading zeros
 * they carry. One white-space byte follows the last item, then the pixels;
 * a comment glued to the last item stands for that byte, and the pixels
 * start after the CR or LF ending it. A buffer already held in *output is
 * freed on success. 0 done, also for an empty picture (*output still gets a
 * buffer to free): 0 x 0 when bytes follow the magic but no digit outside a
 * comment, and the sizes read when the width or height is 0 (a height item
 * not starting with a digit, sign aside, such as "x", reads as 0). -1 for
 * another form, a header cut after the width, a negative height (a '-'
 * before the width is skipped like any byte before it), a size above
 * INT_MAX, 3 x width x height above INT_MAX (P4 also: the width rounded up
 * to a multiple of 8, x height), a maximum value above 255 (two-byte
 * samples) or short pixel data, all found before any memory is taken
 * (outputs untouched). */
TESSALY_API int PBM_decode_stream(const unsigned char *data, int length,
                                  unsigned char **output, int *width, int *height);
TESSALY_API int PGM_decode_stream(const unsigned char *data, int length,
                                  unsigned char **output, int *width, int *height);
TESSALY_API int PPM_decode_stream(const unsigned char *data, int length,
                                  unsigned char **output, int *width, int *height);

/* ---- Image files -------------------------------------------------------- */
/* The format is chosen by the name's extension: the first three characters
 * after its last '.' (a '.' in a directory counts), upper-cased, so ".tiff"
 * is TIF and ".jpeg" JPE. Codes shared by both functions:
 *  -2, -3, -4  the file cannot be opened / positioned or memory is short /
 *              read whole (read); opened / written whole (save)
 *  -112  width or height not positive, or 3 x width x height above INT_MAX
 *        (the arguments of a save, a decoded picture, the stored Type-8 sizes)
 *  -113  memory for the planes or a work buffer is short
 *  -114  a NULL argument (none is optional), or a save path longer than
 *        4095 characters with its extension */

/* Reads WSQ, JP2, JPC, PBM, PGM, PPM, BIN (raw Type-8 data with the sizes and
 * compression of WriteType8CompressionWidthHeight), TIF, BMP, PNG, JPG, TGA,
 * RGB (SGI), GIF, PSD, IFF, PCX and CEL (also FLI/FLC content) files into
 * planar RGB; grey pictures fill all three planes, alpha is dropped. Returns
 * 1 with *width, *height and *data set. *data stays the library's: one buffer
 * per kind of file (WSQ; JP2; JPC; PBM; PGM; PPM; BIN; all others together),
 * valid until a later call reads the same kind; never free it. A WSQ read
 * stores the file's last comment before its first block (kept when it has
 * none) and its NISTCOM PPI (-1 without one) as the WSQ settings; a TIFF read
 * stores its compression, photometric interpretation, orientation and
 * predictor for the next TIFF save (orientation included). On failure
 * *width = *height = 0 and *data = NULL, except where noted:
 *   8     the name holds no '.' (outputs untouched)
 *   -2..-4, -112..-114  as above
 *   -1    the JPEG 2000 or PBM/PGM/PPM decoder refused the file
 *   WSQ decoder codes; a misplaced first marker's code (outputs untouched)
 *   -110  the raster reader refused the file, or no reader takes its
 *         extension
 *   -115  BIN: the stored compression is not 0 or 1, or the data does not
 *         decode at the stored sizes (Group 4 data decoding no whole row) */
TESSALY_API int ReadImageFromFile(const char *filename, int *width, int *height,
                                  unsigned char **data);

/* Saves planar RGB (3 x width x height bytes, only read) as format 1 WSQ,
 * 2 BMP, 3 TIFF, 4 PNG, 5 JPEG (quality 100), 6 SGI RGB, 7 TGA, 8 JP2, 9 JPC,
 * 10 PBM, 11 PGM or 12 PPM; ".wsq", ".bmp", ".tif", ".png", ".jpg", ".rgb",
 * ".tga", ".jp2", ".jpc", ".pbm", ".pgm" or ".ppm" is appended unless the
 * name's extension already names the format. WSQ, PBM and PGM store the
 * truncated mean of the planes; WSQ uses the WSQ settings (storing an empty
 * comment when none is stored), TIFF the stored TIFF options (a stored
 * compression that cannot code 8-bit samples is replaced by none for the
 * save). Returns 1 when written, or:
 *   0     format outside 1..12 (nothing written)
 *   -2, -3, -112..-114  as above
 *   a negative code of the WSQ or JPEG 2000 encoder (nothing written)
 *   -111  the raster writer failed (formats 2 to 7; a picture it cannot
 *         encode creates no file) */
TESSALY_API int SaveImageToFile(const char *filename, int format, int width, int height,
                                const unsigned char *planar);

#ifdef __cplusplus
}
#endif

#endif /* TESSALY_H */
