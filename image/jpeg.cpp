// JPEG files through libjpeg: grey and RGB only, one scan line at a time,
// with libjpeg's defaults.
//
// libjpeg reports errors through an exit hook that long-jumps back to the
// call's jump point: the functions between that point and libjpeg hold no
// object with a destructor, and what must outlive a jump lives in the
// caller's frame.
#include "image/jpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

#include "image/raster_io.h"

namespace tsl {

namespace {

// Sequential Huffman data fills at most about 700 samples per byte (two
// bits per block of 64 samples, some upsampled), and runs out with a
// warning; arithmetic-coded data may end early without one. A picture that
// would need far more than that from the file is refused before anything
// is decoded, except small ones, which arithmetic coding may legitimately
// pack tighter.
constexpr uint64_t kMaxSamplesPerByte = 4096;
constexpr uint64_t kAlwaysPlausibleSamples = uint64_t{1} << 24;

constexpr size_t kSinkBytes = 16384;

// libjpeg's error manager followed by the call's jump point.
struct JpegErrors {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

// Back to the call's jump point with 1, saying nothing: for the sink's
// own failures, which are no libjpeg message.
[[noreturn]] void JumpBack(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegErrors *>(cinfo->err)->jump, 1);
}

// libjpeg's error exit, also taken by the warnings that refuse a file:
// libjpeg's own line on the standard error stream says why ("Not a JPEG
// file: starts with 0x89 0x50"), then back to the call's jump point.
[[noreturn]] void win_jpeg_error_exit(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  JumpBack(cinfo);
}

// Warnings and trace messages pass silently, except the warnings that the
// data ended before the picture did (the file, or a scan cut short before
// its marker): libjpeg would carry on and fill the rest of the picture with
// grey.
void JpegEmitMessage(j_common_ptr cinfo, int level) {
  const int code = cinfo->err->msg_code;
  if (level < 0 && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER)) win_jpeg_error_exit(cinfo);
}

// libjpeg's standard manager, whose output entry prints a message as one
// line on the standard error stream.
jpeg_error_mgr *InstallErrors(JpegErrors *errors) {
  jpeg_std_error(&errors->mgr);
  errors->mgr.error_exit = win_jpeg_error_exit;
  errors->mgr.emit_message = JpegEmitMessage;
  return &errors->mgr;
}

uint8_t *RecordRowBytes(const RasterImage &image, uint32_t file_row) {
  return image.bits + size_t{RecordRow(image.height, file_row, true)} * image.scan_width;
}

// What a read works with. Trivially destructible: libjpeg's long jumps skip
// the frames that use it.
struct JpegRead {
  jpeg_decompress_struct cinfo;
  JpegErrors errors;
};

RasterError DecodeJpegSteps(JpegRead *job, ByteReader in, RasterImage *image) {
  jpeg_decompress_struct &c = job->cinfo;
  jpeg_create_decompress(&c);
  jpeg_mem_src(&c, in.pos, static_cast<unsigned long>(in.Left()));
  jpeg_read_header(&c, TRUE);
  if (c.out_color_space != JCS_GRAYSCALE && c.out_color_space != JCS_RGB)
    return RASTER_ERR_UNSUPPORTED_OPTION;
  const bool grey = c.out_color_space == JCS_GRAYSCALE;
  const unsigned channels = grey ? 1 : 3;
  const uint64_t samples = uint64_t{c.image_width} * c.image_height * channels;
  if (samples > kAlwaysPlausibleSamples && samples / kMaxSamplesPerByte > in.Left())
    return RASTER_ERR_INVALID_FORMAT;
  RasterError code = AllocateForRead(image, c.image_width, c.image_height, 8 * channels, 0, 0);
  if (code != RASTER_OK) return code;
  for (unsigned i = 0; grey && i < image->palette_size; ++i)
    std::memset(image->palette + size_t{i} * image->bytes_per_palette_entry, static_cast<int>(i), 3);

  // libjpeg-turbo gives colour blue first, as the record keeps it, so
  // every line goes straight into its record row.
  if (!grey) c.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&c);
  if (c.output_width != image->width || c.output_height != image->height ||
      c.output_components != static_cast<int>(channels))
    return RASTER_ERR_INVALID_FORMAT;
  while (c.output_scanline < c.output_height) {
    JSAMPROW row = RecordRowBytes(*image, c.output_scanline);
    if (jpeg_read_scanlines(&c, &row, 1) != 1) return RASTER_ERR_INVALID_FORMAT;
  }
  jpeg_finish_decompress(&c);
  return RASTER_OK;
}

RasterError GuardedDecode(JpegRead *job, ByteReader in, RasterImage *image) {
  if (setjmp(job->errors.jump)) return RASTER_ERR_INVALID_FORMAT;
  return DecodeJpegSteps(job, in, image);
}

RasterError DecodeJpeg(ByteReader in, RasterImage *image) {
  JpegRead job{};
  job.cinfo.err = InstallErrors(&job.errors);
  const RasterError code = GuardedDecode(&job, in, image);
  jpeg_destroy_decompress(&job.cinfo);
  return code;
}

// libjpeg's output gathered in a fixed buffer and appended to the file as
// it fills.
struct JpegSink {
  jpeg_destination_mgr pub;
  EncodedFile *out;
  RasterError failure;  // why the sink raised a libjpeg error
  JOCTET buffer[kSinkBytes];
};

JpegSink *SinkOf(j_compress_ptr cinfo) { return reinterpret_cast<JpegSink *>(cinfo->dest); }

void SinkStart(j_compress_ptr cinfo) {
  JpegSink *s = SinkOf(cinfo);
  s->pub.next_output_byte = s->buffer;
  s->pub.free_in_buffer = kSinkBytes;
}

void SinkFlush(j_compress_ptr cinfo, size_t n) {
  JpegSink *s = SinkOf(cinfo);
  s->failure = AppendEncoded(s->out, s->buffer, n);
  if (s->failure != RASTER_OK) JumpBack(reinterpret_cast<j_common_ptr>(cinfo));
  SinkStart(cinfo);
}

boolean SinkFull(j_compress_ptr cinfo) {
  SinkFlush(cinfo, kSinkBytes);
  return TRUE;
}

void SinkEnd(j_compress_ptr cinfo) { SinkFlush(cinfo, kSinkBytes - cinfo->dest->free_in_buffer); }

struct JpegWrite {
  jpeg_compress_struct cinfo;
  JpegErrors errors;
  JpegSink sink;
};

RasterError EncodeJpegSteps(JpegWrite *job, const RasterImage &image, int quality) {
  jpeg_compress_struct &c = job->cinfo;
  jpeg_create_compress(&c);
  c.dest = &job->sink.pub;
  // Grey samples are the pixels themselves only when the palette is the
  // identity ramp; any other palette goes out through its colours. Direct
  // colour goes in blue first, as the record keeps it (libjpeg-turbo skips
  // the fourth byte of 32-bit pixels).
  const unsigned bpp = image.bits_per_pixel;
  const bool grey = bpp == 8 && IsGreyRamp(image);
  c.image_width = image.width;
  c.image_height = image.height;
  c.input_components = grey ? 1 : bpp == 8 ? 3 : static_cast<int>(bpp / 8);
  c.in_color_space = grey ? JCS_GRAYSCALE : bpp == 8 ? JCS_RGB : bpp == 24 ? JCS_EXT_BGR : JCS_EXT_BGRX;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  jpeg_start_compress(&c, TRUE);
  const bool lookup = bpp == 8 && !grey;
  JSAMPARRAY line = lookup ? (*c.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&c),
                                                    JPOOL_IMAGE, c.image_width * 3, 1)
                           : nullptr;
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = RecordRowBytes(image, c.next_scanline);
    for (uint32_t x = 0; lookup && x < image.width; ++x) {
      const uint8_t *bgr = PaletteEntry(image, row[x]);
      line[0][3 * x] = bgr[2], line[0][3 * x + 1] = bgr[1], line[0][3 * x + 2] = bgr[0];
    }
    if (lookup) row = line[0];
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  return RASTER_OK;
}

RasterError GuardedEncode(JpegWrite *job, const RasterImage &image, int quality) {
  if (setjmp(job->errors.jump))
    return job->sink.failure != RASTER_OK ? job->sink.failure : RASTER_ERR_INVALID_FORMAT;
  return EncodeJpegSteps(job, image, quality);
}

RasterError EncodeJpeg(const RasterImage &image, int quality, EncodedFile *out) {
  if (image.bits_per_pixel < 8) return RASTER_ERR_INVALID_BPP;
  OwnedRecord wide;
  const RasterImage *source;
  RasterError code = WithoutWords555(image, &wide, &source);
  if (code != RASTER_OK) return code;
  JpegWrite job{};
  job.cinfo.err = InstallErrors(&job.errors);
  job.sink.pub.init_destination = SinkStart;
  job.sink.pub.empty_output_buffer = SinkFull;
  job.sink.pub.term_destination = SinkEnd;
  job.sink.out = out;
  code = GuardedEncode(&job, *source, quality);
  jpeg_destroy_compress(&job.cinfo);
  return code;
}

}  // namespace

RasterError ReadJPEG(const char *filename, RasterImage *image) {
  return ReadRasterFile(filename, image, DecodeJpeg);
}

RasterError ReadJPEGMemory(const uint8_t *data, size_t size, RasterImage *image) {
  return ReadRasterMemory(data, size, image, DecodeJpeg);
}

RasterError WriteJPEG(const char *filename, RasterImage image, int quality) {
  return WriteRasterFile(filename, image, [quality](const RasterImage &img, const char *, EncodedFile *out) {
    return EncodeJpeg(img, quality, out);
  });
}

}  // namespace tsl
