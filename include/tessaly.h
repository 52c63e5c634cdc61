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
 * *odata a malloc'ed buffer (caller frees) holding *olen bytes, or a negative code with
 * *odata and *olen left as they were. A non-NULL *odata is overwritten, not freed.
 * comment_text may be NULL; a text beginning with "NIST_COM" is taken as NISTCOM text and
 * merged into the stream's own NISTCOM comment (a decoder then hands back the merged
 * text), any other is written as a comment of its own.
 * The rate is a target and must be positive and finite as a float, about 1.4e-45 to
 * 3.4e38. Smooth images whose bin widths at the rate asked would be too fine for 16-bit
 * values are coded with the finest widths whose values fit, below that rate. Below about
 * 0.005 the rate control can drop every subband and code at the fixed scale 1: a stream
 * far above the rate. Codes (-17, -14, -15 and -16 are checked before any work):
 *  arguments  -17 NULL data, odata or olen.
 *  sizes and rate
 *             -14 a side below 65; -15 a side above 65535; -16 a rate of 0, negative,
 *             infinite, not a number, or one that rounds to 0 or past the float range;
 *             -10 width x height above 536,870,911 (its float copy would pass 2 GiB).
 *             -32 or -33: the stream would be longer than width x height bytes: -32 when
 *             the room ends at a single byte (inside a comment's text, as a 5,000-byte
 *             comment on 65x65 does, or at a one-byte field of a table or header), -33
 *             at a run of bytes, coded data included (rates near 8 on busy pictures, or
 *             such a tiny rate on a small noisy one).
 *  comment text
 *             -5 NISTCOM text with a name or value longer than 511 characters; -34 a
 *             comment, or NISTCOM text as merged, of 65,534 bytes or more (one segment
 *             holds 65,533).
 *  tables and coded data, not expected from 8-bit pixels
 *             -86/-87 a subband's bin or zero-bin width beyond the quantization table's
 *             range while one of its values lies outside its zero bin (with all inside,
 *             it is left uncoded); -18 a quantized value that does not fit in 16 bits.
 *  memory     -10 (the float image), -90 (the quantized values), -94 (the wavelet step's
 *             work rows and line plans), -12 (the stream), -13 (the coded blocks), -48,
 *             -2 and -3 (the Huffman tables), -2, -3 and -4 (the NISTCOM text). */
TESSALY_API int WSQ_encode_stream(const unsigned char *data, int width, int height,
                                  double bitrate, int ppi, const char *comment_text,
                                  unsigned char **odata, int *olen);
/* Decodes a WSQ stream; returns 1 with *odata a malloc'ed grey image (caller frees), or a
 * negative code with *odata NULL, *width and *height 0 and *ppi -1 (*comment untouched),
 * except -17, which writes nothing. A non-NULL *odata is overwritten, not freed. *ppi is
 * the "PPI" value of the first NISTCOM comment before the first block, -1 without such
 * a comment or with an empty value. The text of the last comment segment before the
 * first block replaces (frees) a non-null *comment; a stream without one leaves *comment
 * as passed. The search for it stops at a segment it cannot read and keeps what it
 * found: a damaged comment, which leaves *comment NULL, or a table or frame header whose
 * length field is wrong, which decoding does not read (where that lands on a value that
 * is no marker, an "ERROR" line is printed); memory short for the copy leaves *comment
 * NULL too. 1 is still returned. ppi and comment may be NULL.
 * ReadWSQ_implementation_number() reads 0 after every failure, -17 included. Codes:
 *  arguments  -17 NULL data, odata, width or height.
 *  sizes      -22 a frame of width or height 0, or of more than INT_MAX pixels (65535 x
 *             65535); -98 a side below 49 with the usual filters (and any frame that
 *             the stream's filters cannot walk); -91 a frame whose float image would
 *             pass 2 GiB (536,870,912 pixels and up), found once the coded data is read.
 *  comment text
 *             -42 a comment segment whose length field is below 2; -5 a
 *             NISTCOM name or value longer than 511 characters; -2 a NISTCOM comment
 *             with no "PPI" entry.
 *  markers and tables
 *             -88 no start-of-image marker; -89 a value other than a table, comment or
 *             frame header marker before the frame header; -90 one other than a table,
 *             comment or block header after it; -91 / -92 no marker / no WSQ marker where
 *             a segment's length field ends it, before the first NISTCOM comment or
 *             block (the "PPI" search walks those lengths), and -2 there a length below 2
 *             or reaching past the data; -2 a Huffman table segment shorter than its
 *             tables, or naming an id twice (this one prints no line); -4 a Huffman table
 *             of more than 257 codes; -99 a Huffman table id above 7; -98 a transform
 *             filter of 0 or more than 32 taps; -95 no transform table; -92 no
 *             quantization table; -51 a block naming a Huffman table not defined.
 *  coded data -39 or -40 a cut stream (it ends where one byte, or a run of bytes, is
 *             read), or -2 when the cut follows a segment between the frame header and
 *             the first block and no NISTCOM comment comes first; -41 an 0xFF not
 *             followed by 0 inside a value's extra bits; -52 bits that match no code, or
 *             a code for symbol 0 or 255; -93 a marker other than a table, comment, block
 *             header or end-of-image among the coded data; -51 more coefficients than the
 *             frame holds. -23 coded data that ends before it supplies every coefficient
 *             that the frame header and quantization table call for, in a stream that
 *             still ends with its end-of-image marker (refused before memory of the
 *             frame's size is taken); such a cut inside a block mostly gives -23, at
 *             some places -41 or -93, and a cut right after a Huffman table -90.
 *  memory     -2, -3, -4, -5 (tables, comment and NISTCOM text), -20 (the coefficients),
 *             -91 (the float image and the row flags), -21 (the image), -94 to -97 (the
 *             filters and the synthesis's rows and plans). */
TESSALY_API int WSQ_decode_stream(const unsigned char *data, int length,
                                  unsigned char **odata, int *width, int *height,
                                  int *ppi, char **comment);

/*
 * Reads only the headers of a WSQ stream: width and height from its frame
 * header, as stored, and the text of the last comment segment before the
 * first block. *ppi is set to -1 when width and height are written. When a
 * comment is found, a non-null *comment is freed and replaced by a new
 * malloc'ed text (the caller frees it); without one *comment keeps what was
 * passed. On the way to the frame header, a segment is passed over by its
 * length field, and a value that is no marker two bytes further on. The
 * search for the comment, run after, stops at such a value instead: it
 * prints an "ERROR" line, keeps the last comment before it (two stray bytes
 * between the NISTCOM segment and a caller's comment give the NISTCOM text)
 * and the call still returns 1. A damaged comment segment, or memory short
 * for the copy, leaves *comment NULL with 1. ppi and comment may be NULL.
 * Returns 1, or:
 *  -17  NULL width or height; nothing is written
 *  -40 or -39  the stream ends before its frame header does (NULL data or a
 *       length below 1 included); nothing is written
 *  -88  no start-of-image marker; -91 or -92 the value after it is no marker
 *       / no WSQ marker (width, height and *ppi already written, *comment
 *       untouched)
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
/* The stored comment itself (NULL until one is stored; a WSQ save with none
 * stored stores "" first); it stays the library's and is valid until the
 * next replacement. */
TESSALY_API char *ReadWSQ_comment(void);
/* Software implementation number of the last WSQ stream decoded by
 * WSQ_decode_stream or a ".wsq" ReadImageFromFile: 0 before any, and after a
 * decode that failed or was refused (-17 included); a ".wsq" file that
 * cannot be read whole leaves it as it was. */
TESSALY_API int ReadWSQ_implementation_number(void);
/* TIFF save compression: 0 none (the default), 1 Deflate, 2 PackBits (other
 * values: none). 1 also stores predictor 2, but files are written without a
 * predictor. ReadTIFFcompression gives 1 or 2 for a stored Deflate or
 * PackBits, 0 for anything else. */
TESSALY_API void WriteTIFFcompression(int compression);
TESSALY_API int ReadTIFFcompression(void);
/* The stored compression in the library's own numbering, not the TIFF tag
 * value: 0 none, 1 CCITT RLE, 2 Group 3, 3 Group 4, 4 LZW, 5 old-style JPEG,
 * 6 JPEG, 7 NeXT, 8 CCITT RLEW, 9 PackBits, 10 ThunderScan, 11 Pixar film,
 * 12 Pixar log, 13 Deflate (tag 32946), 14 Kodak DCS, 15 JBIG. So 13 after
 * WriteTIFFcompression(1), 9 after WriteTIFFcompression(2), 4 after reading
 * an LZW file (tag 5) and 3 after a Group 4 file (tag 4). A TIFF read stores
 * 0 for a compression outside this list: an Adobe Deflate file (tag 8, as
 * tiffcp -c zip, ImageMagick and Pillow write it) leaves the next save
 * uncompressed. */
TESSALY_API int ReadTIFFcompression_internal(void);
/* A stored value (default 2) that ReadTIFFpredictor returns, kept to its low
 * 16 bits (70000 reads back as 4464, -1 as 65535); no save writes it. A TIFF
 * read stores the file's predictor for an LZW file (2 when it has none) and
 * 0 after any other file, a Deflate file with predictor 2 included. */
TESSALY_API void WriteTIFFpredictor(int predictor);
TESSALY_API int ReadTIFFpredictor(void);
/* Size and compression (0 none, 1 Group 4) of raw Type-8 ".BIN" files; by
 * default 0 x 0 with compression 0, so a ".bin" read before they are set
 * gives -112. */
TESSALY_API void WriteType8CompressionWidthHeight(int width, int height,
                                                  int compression);
/* Kept for compatibility; they have no effect. */
TESSALY_API void SetShowFilePropertiesDialog(int show);
TESSALY_API void ShowFileConverter(void);

/* ---- ANSI/NIST Type-6 and Type-8 binary image data ---------------------- */

/* Readers: bi-level image data (1 bit per pixel, most significant bit first,
 * or Group 4 coded) to a grey image of width x height bytes, 0 or 255 each.
 * The result stays the library's: valid until the next call of either Type-8
 * reader (or either Type-6 reader); never free it. ReadImageFromFile on a
 * ".bin" name counts as a call of a Type-8 reader: copy the result before
 * it. NULL when the arguments are refused (no data, negative length, width
 * or height not positive or too large) or memory is short. Damaged or short
 * Group 4 data, an end-of-block before the last row included, gives the rows
 * decoded, with a warning on the standard error stream. */
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
/* Writers: grey image (pixels above 128 are white, so 128 is black; the PBM
 * save takes 128 as white) to Type-8 image data in a malloc'ed *output of
 * *output_length bytes, which the caller frees. Return 1, or 0 when an
 * argument is refused or memory is short: with output or output_length NULL
 * nothing is touched; otherwise a non-NULL *output passed in is freed first,
 * and on 0 *output is NULL and *output_length 0. */
TESSALY_API int CreateNISTType8UncompressedBinaryFieldfromImage(const unsigned char *image,
                                                                 int width, int height,
                                                                 unsigned char **output,
                                                                 int *output_length);
TESSALY_API int CreateNISTType8CompressedBinaryFieldfromImage(const unsigned char *image,
                                                               int width, int height,
                                                               unsigned char **output,
                                                               int *output_length);
/* Inversion switches; any value other than 0 counts as 1.
 *  input_uncompressed   Type-8 uncompressed reader. Default 0: 1 bits read as
 *                       white (255); 1: as black (0).
 *  output_uncompressed  Type-8 uncompressed writer. Default 0: white pixels
 *                       pack as 1 bits; 1: as 0 bits.
 *  input_compressed     stored, read by nothing.
 *  output_compressed    Group 4 writer and Type-8 Group 4 reader. Default 1:
 *                       1 bits are black, and pixels past the decoded rows
 *                       white; 0: 1 bits white, pixels past them black.
 * The Type-6 readers take 1 bits as black, uncompressed and Group 4 alike. */
TESSALY_API void SetNISTType8ImageColorInversion(int input_uncompressed,
                                                 int output_uncompressed,
                                                 int input_compressed,
                                                 int output_compressed);
/* Width and height passed to the last Type-8 writer call, also when it
 * failed, and the byte size it wrote (0 when it failed); the compression type
 * reads 0. */
TESSALY_API int ReadType8DataCompressionType(void);
TESSALY_API int ReadType8DataWidth(void);
TESSALY_API int ReadType8DataHeight(void);
TESSALY_API int ReadSizeOfNISTType8BinaryField(void);

/* ---- JPEG 2000 streams -------------------------------------------------- */

/* Planar RGB to a JP2 ("jp2") or raw code stream ("jpc"; the names in lower
 * case only, "JP2" gives -1) in a new malloc'ed buffer; a non-NULL *output
 * is overwritten, not freed. The rate comes from the image size: 2500 pixels
 * or fewer are coded losslessly, larger pictures to a target of
 * 4/3 x width x height + 278 bytes (about 10.7 bits per pixel), losslessly
 * when the lossless code fits in that. 0 done, -1 bad argument, set-up
 * failure or memory short (outputs untouched), -2 the encoder failed
 * (outputs hold what was written, to be freed all the same). */
TESSALY_API int JPEG2000_encode_stream(const unsigned char *planar, int width, int height,
                                       unsigned char **output, int *output_length,
                                       const char *format);
/* "jp2"/"jpc" (lower case only) stream to a new malloc'ed planar RGB buffer;
 * a buffer already held in *output is freed on success. 0 done, -1 on any
 * failure (width and height may be set; *output untouched). A stream that
 * does not carry every tile its header declares is refused before width and
 * height are set. */
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
 * (outputs untouched); -1 also when memory is short. */
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
 *  -2, -3, -4  read: the file cannot be opened / positioned or memory is
 *              short / read whole, for WSQ, JP2, JPC, PBM, PGM, PPM and BIN
 *              files, which are read whole first (a raster file that cannot
 *              be opened gives -110). Save, formats 1 and 8 to 12: the file
 *              cannot be opened / written whole (formats 2 to 7 give -111).
 *  -112  width or height not positive, or 3 x width x height above INT_MAX
 *        (the arguments of a save, a decoded picture, the stored Type-8 sizes,
 *        which are checked before the file is opened)
 *  -113  memory for the planes, a work buffer or the save path is short
 *        (the JPEG 2000 and PBM/PGM/PPM codecs give their -1 instead, the WSQ
 *        codec its own codes, and a raster reader -110, a raster writer -111)
 *  -114  a NULL argument (none is optional; nothing is written), or a save
 *        path longer than 4095 characters with its extension */

/* Reads WSQ, JP2, JPC, PBM, PGM, PPM, BIN (raw Type-8 data with the sizes and
 * compression of WriteType8CompressionWidthHeight), TIF, BMP, PNG, JPG, TGA,
 * RGB (SGI), GIF, PSD, IFF, PCX and CEL (also FLI/FLC content) files into
 * planar RGB; grey pictures fill all three planes, alpha is dropped. Returns
 * 1 with *width, *height and *data set. *data stays the library's: one buffer
 * per kind of file (WSQ; JP2; JPC; PBM; PGM; PPM; BIN; all others together),
 * valid until a later call reads the same kind; never free it. A BIN read
 * goes through the Type-8 readers and so also ends the result that either
 * of them handed out before (copy it first). A WSQ read stores the file's
 * last comment before its first block (kept when it has none) and its
 * NISTCOM PPI (-1 without a NISTCOM comment or with an empty value; one
 * without a "PPI" entry is refused with -2) as the WSQ settings; a TIFF read
 * stores its compression, photometric interpretation, orientation and
 * predictor for the next TIFF save (orientation included). On failure
 * *width = *height = 0 and *data = NULL, except where noted:
 *   8     the name holds no '.' (outputs untouched)
 *   -2..-4, -112, -113  as above; -114 as above (outputs untouched)
 *   -1    the JPEG 2000 or PBM/PGM/PPM decoder refused the file
 *   a code of WSQ_decode_stream (all but -17), met only once the file was
 *         read whole. Its -2 and -4 are the file's when the file cannot be
 *         opened or read whole, which prints a line naming "filesize" or
 *         "read_raw_from_filesize"; the decoder's print their own lines (but
 *         -2 for a Huffman table id given twice). To tell them apart without
 *         the line, read the file and call WSQ_decode_stream on its bytes.
 *   -110  the raster reader refused the file (memory short for it
 *         included), it cannot be opened, or no reader takes its extension
 *   -115  BIN: the stored compression is not 0 or 1, or the data holds no
 *         whole row at the stored sizes (uncompressed data shorter than one
 *         row, an empty file included; Group 4 data decoding no whole row).
 *         Data cut later reads with a warning, the rest black (uncompressed)
 *         or the fill value (Group 4). */
TESSALY_API int ReadImageFromFile(const char *filename, int *width, int *height,
                                  unsigned char **data);

/* Saves planar RGB (3 x width x height bytes, only read) as format 1 WSQ,
 * 2 BMP, 3 TIFF, 4 PNG, 5 JPEG (quality 100), 6 SGI RGB, 7 TGA, 8 JP2, 9 JPC,
 * 10 PBM, 11 PGM or 12 PPM; ".wsq", ".bmp", ".tif", ".png", ".jpg", ".rgb",
 * ".tga", ".jp2", ".jpc", ".pbm", ".pgm" or ".ppm" is appended unless the
 * name's extension already names the format. WSQ, PBM and PGM store the
 * truncated mean of the planes (PBM: black below 128); WSQ uses the WSQ
 * settings (storing an empty comment when none is stored), TIFF the stored
 * TIFF options (a stored compression that cannot code 8-bit samples is
 * replaced by none for the save, which returns 1). Returns 1 when written,
 * or:
 *   0     format outside 1..12 (nothing written)
 *   -2, -3  formats 1 and 8 to 12: the file cannot be opened / written whole
 *         (each prints a "write_raw_from_memsize" line)
 *   -112..-114  as above (-112 also for formats 2 to 7 when the rows, padded
 *         to 4 bytes, pass INT_MAX bytes: 1 x 715,827,882)
 *   a code of the format's encoder, with nothing written:
 *     format 1: those of WSQ_encode_stream but -17, memory codes included
 *         (its -2 and -3 are memory short, with the encoder's own line)
 *     formats 8, 9: -1 a picture above 71,582,788 pixels (the codec's 1 GiB
 *         bound), a set-up failure or memory short; -2 the encoder failed
 *     formats 10 to 12: -1 memory short, or a stream that would pass INT_MAX
 *         bytes
 *   -111  formats 2 to 7: the raster writer failed (memory short for it
 *         included), or the file cannot be opened or written whole (a
 *         picture it cannot encode creates no file)
 * A save that fails after it created its file (-3, -111) removes that file;
 * a file that already stood under the name is not removed, and is left as
 * the failed write left it (emptied, or holding the start of the new file). */
TESSALY_API int SaveImageToFile(const char *filename, int format, int width, int height,
                                const unsigned char *planar);

#ifdef __cplusplus
}
#endif

#endif /* TESSALY_H */
