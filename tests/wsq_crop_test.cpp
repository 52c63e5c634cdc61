// Coefficient-domain crop of WSQ streams, the frame-header peek and comment
// insertion and removal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "wsq/codec.h"
#include "wsq/crop.h"
#include "wsq/stream_edit.h"
#include "wsq/stream_io.h"

using namespace tsl;
using tsltest::Bytes;

namespace {

Bytes Encode(int w, int h, const char *comment = nullptr) {
  const Bytes px = tsltest::RidgeImage(w, h);
  uint8_t *out = nullptr;
  int len = 0;
  EXPECT_EQ(wsq_encode_mem(&out, &len, 0.75f, px.data(), w, h, 8, 500, comment), 0);
  Bytes s(out, out + len);
  std::free(out);
  return s;
}

struct Image {
  int code = 0, w = 0, h = 0;
  Bytes px;
};

Image Decode(const Bytes &s) {
  Image d;
  uint8_t *out = nullptr;
  int depth, ppi, lossy, encoder, software;
  d.code = wsq_decode_mem(&out, &d.w, &d.h, &depth, &ppi, &lossy, &encoder, &software,
                          s.data(), static_cast<int>(s.size()));
  if (d.code == 0) d.px.assign(out, out + static_cast<size_t>(d.w) * d.h);
  std::free(out);
  return d;
}

// The caller's side of a series of crops from one stream.
struct Cropper {
  explicit Cropper(const Bytes &s) : stream(s) {}
  ~Cropper() {
    std::free(out);
    std::free(qdata);
  }
  int Crop(int x1, int y1, int x2, int y2) {
    return wsq_cropcoeff_mem(&out, &olen, &cropw, &croph, x1, y1, x2, y2, &width, &height,
                             stream.data(), static_cast<int>(stream.size()), &qdata,
                             &frmsize_pos, &hdr_len);
  }
  Bytes Result() const { return Bytes(out, out + olen); }
  Bytes stream;
  uint8_t *out = nullptr;
  int16_t *qdata = nullptr;
  int olen = -7, cropw = 0, croph = 0, width = 0, height = 0, frmsize_pos = 0, hdr_len = 0;
};

struct Coefficients {
  int code = 0, w = 0, h = 0;
  std::vector<int16_t> q;
};

// End of the first comment segment, which follows SOI.
size_t FirstCommentEnd(const Bytes &s) { return 4 + ((s[4] << 8) | s[5]); }

Coefficients Dehuff(const Bytes &s) {
  Coefficients c;
  int16_t *q = nullptr;
  double r_scale, m_shift;
  int pos, hdr;
  c.code = wsq_dehuff_mem(&q, &c.w, &c.h, &r_scale, &m_shift, &pos, &hdr, s.data(),
                          static_cast<int>(s.size()));
  if (c.code == 0) {
    c.q.assign(q, q + static_cast<size_t>(c.w) * c.h);
    free_wsq_decoder_resources();
  }
  std::free(q);
  return c;
}

TEST(WsqCrop, FullImageBoxReproducesTheEncodersStream) {
  const Bytes s = Encode(300, 260, "operator 7");
  Cropper c(s);
  ASSERT_EQ(c.Crop(0, 0, 300, 260), 0);
  EXPECT_EQ(c.Result(), s);
  ASSERT_EQ(c.Crop(-40, -3, 5000, 9000), 0) << "a box past the image is cut to it";
  EXPECT_EQ(c.Result(), s);
}

TEST(WsqCrop, InteriorOfACropDecodesAsTheFullImageDoes) {
  const int w = 1024, h = 960;
  const Bytes s = Encode(w, h);
  const Image full = Decode(s);
  ASSERT_EQ(full.code, 0);
  Cropper c(s);
  const int x1 = 288, y1 = 256, x2 = 992, y2 = 900;
  ASSERT_EQ(c.Crop(x1, y1, x2, y2), 0);
  const Image part = Decode(c.Result());
  ASSERT_EQ(part.code, 0);
  ASSERT_EQ(part.w, x2 - x1);
  ASSERT_EQ(part.h, y2 - y1);
  // The symmetric extension at the crop's edges reaches this far in.
  const int margin = 160;
  for (int y = margin; y < part.h - margin; ++y) {
    const auto row = part.px.begin() + static_cast<ptrdiff_t>(y) * part.w;
    const auto full_row = full.px.begin() + static_cast<ptrdiff_t>(y + y1) * w + x1;
    ASSERT_EQ(Bytes(row + margin, row + part.w - margin),
              Bytes(full_row + margin, full_row + part.w - margin))
        << "row " << y;
  }
}

TEST(WsqCrop, CroppedStreamCarriesTheBoxesCoefficients) {
  const Bytes s = Encode(400, 330);
  const Coefficients full = Dehuff(s);
  ASSERT_EQ(full.code, 0);
  std::vector<int16_t> expected(static_cast<size_t>(352 - 64) * (300 - 96));
  ASSERT_EQ(wsq_crop_qdata(&dqt_table, q_tree, q_tree2, q_tree3, full.q.data(), 64, 96,
                           352 - 64, 300 - 96, expected.data()),
            0);
  Cropper c(s);
  ASSERT_EQ(c.Crop(64, 96, 352, 300), 0);
  const Coefficients part = Dehuff(c.Result());
  ASSERT_EQ(part.code, 0);
  EXPECT_EQ(part.w, 352 - 64);
  EXPECT_EQ(part.h, 300 - 96);
  EXPECT_EQ(part.q, expected);
}

TEST(WsqCrop, BoxCornersAreMovedOntoTheGridAndClamped) {
  Cropper c(Encode(300, 260));
  ASSERT_EQ(c.Crop(40, 70, 250, 200), 0);
  EXPECT_EQ(c.cropw, 250 - 32);
  EXPECT_EQ(c.croph, 200 - 64);
  ASSERT_EQ(c.Crop(-10, -20, 100, 100), 0);
  EXPECT_EQ(c.cropw, 100);
  EXPECT_EQ(c.croph, 100);
}

// After a good crop, an empty box and a box outside the image: the previous
// crop must not pass for either.
TEST(WsqCrop, EmptyOrOutsideBoxGivesNoCropAndNoLength) {
  const struct {
    int x1, y1, x2, y2;
    const char *warning;
  } boxes[] = {
      {50, 10, 50, 90, "WARNING : wsq_cropcoeff_mem : invalid box UL(50,10), LR(50,90)\n"},
      {-10, 5, 0, 10,
       "WARNING : wsq_cropcoeff_mem : box outside image\n"
       "        UL(-10,5), LR(0,10)  Image width 300 height 260\n"},
  };
  Cropper c(Encode(300, 260));
  for (const auto &b : boxes) {
    ASSERT_EQ(c.Crop(0, 0, 100, 100), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.Crop(b.x1, b.y1, b.x2, b.y2), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), b.warning);
    EXPECT_EQ(c.olen, 0) << b.warning;
    EXPECT_EQ(c.cropw, -1) << b.warning;
    EXPECT_EQ(c.croph, -1) << b.warning;
  }
}

// Under the sanitizer build a leak of any replaced buffer fails here.
TEST(WsqCrop, RepeatedDecodingCallsReleaseWhatTheyReplace) {
  const Bytes s = Encode(200, 180);
  Cropper c(s);
  testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(c.Crop(500, 500, 600, 600), 0);  // outside: decodes, keeps no output
    EXPECT_EQ(c.out, nullptr);
  }
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(c.Crop(0, 0, 100, 100), 0);
  std::free(c.qdata);
  c.qdata = nullptr;  // a new decode with the old output buffer still held
  ASSERT_EQ(c.Crop(0, 0, 120, 100), 0);
  EXPECT_EQ(c.cropw, 120);
}

// Every cut of a stream is refused by the crop and by the comment removal.
TEST(WsqCrop, CutStreamsAreRefused) {
  const Bytes s = Encode(160, 140);
  testing::internal::CaptureStderr();
  for (size_t n = 0; n < s.size(); ++n) {
    const Bytes cut(s.begin(), s.begin() + static_cast<ptrdiff_t>(n));
    Cropper c(cut);
    EXPECT_LT(c.Crop(0, 0, 100, 100), 0) << n;
    uint8_t *out = nullptr;
    int len = 0;
    EXPECT_LT(delete_comments_wsq(&out, &len, cut.data(), static_cast<int>(n)), 0) << n;
    EXPECT_EQ(out, nullptr) << n;
  }
  testing::internal::GetCapturedStderr();
}

TEST(WsqCrop, OffGridBoxPastTheSubbandsIsRefused) {
  const Bytes s = Encode(200, 180);
  const Coefficients full = Dehuff(s);
  ASSERT_EQ(full.code, 0);
  std::vector<int16_t> dst(200 * 180);
  testing::internal::CaptureStderr();
  EXPECT_EQ(wsq_crop_qdata(&dqt_table, q_tree, q_tree2, q_tree3, full.q.data(), 5, 0, 195, 180,
                           dst.data()),
            kCropBoxOutsideBand);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("SERIOUS WARNING"), std::string::npos);
}

// The crop's size goes into the four bytes at the frame-size position, which
// must lie within the copied header: its first and last four bytes are
// taken, a position one before or one past them refused.
TEST(WsqCrop, FrameSizePositionMustLieInTheHeader) {
  const Bytes s = Encode(160, 140);
  int16_t *q = nullptr;
  int w, h, pos, hdr_len = 0;
  double r_scale, m_shift;
  ASSERT_EQ(wsq_dehuff_mem(&q, &w, &h, &r_scale, &m_shift, &pos, &hdr_len, s.data(),
                           static_cast<int>(s.size())),
            0);
  free_wsq_decoder_resources();
  std::vector<int16_t> box(160 * 140);
  const int cut = wsq_crop_qdata(&dqt_table, q_tree, q_tree2, q_tree3, q, 0, 0, 160, 140,
                                 box.data());
  std::free(q);
  ASSERT_EQ(cut, 0);
  auto code = [&](int at, Bytes *out, int *len) {
    out->assign(s.size(), 0);
    testing::internal::CaptureStderr();
    const int ret = wsq_huffcode_mem(out->data(), len, box.data(), 160, 140, s.data(),
                                     static_cast<int>(out->size()), at, hdr_len);
    testing::internal::GetCapturedStderr();
    return ret;
  };
  const Bytes size = {0x00, 0x8C, 0x00, 0xA0};  // height 140, width 160
  for (int at : {0, hdr_len - 4}) {
    Bytes out;
    int len = -7;
    ASSERT_EQ(code(at, &out, &len), 0) << at;
    EXPECT_EQ(Bytes(out.begin() + at, out.begin() + at + 4), size) << at;
    EXPECT_EQ(len, static_cast<int>(s.size())) << at;
  }
  for (int at : {-1, hdr_len - 3}) {
    Bytes out;
    int len = -7;
    EXPECT_EQ(code(at, &out, &len), kCropBadFramePosition) << at;
    EXPECT_EQ(len, -7) << at;
  }
}

TEST(WsqFrameHeaderPeek, ReadsPastOtherSegmentsAndStopsAtTheEnd) {
  Bytes s(64);
  int len = 0;
  ASSERT_EQ(putc_ushort(SOI_WSQ, s.data(), 64, &len), 0);
  ASSERT_EQ(putc_comment(COM_WSQ, reinterpret_cast<const uint8_t *>("ABC"), 3, s.data(), 64, &len),
            0);
  ASSERT_EQ(putc_frame_header_wsq(384, 512, 127.5f, 1.25f, s.data(), 64, &len), 0);
  int w = 0, h = 0;
  double first = 0, second = 0;
  ASSERT_EQ(read_wsq_frame_header(s.data(), len, &w, &h, &first, &second), 0);
  EXPECT_EQ(w, 384);
  EXPECT_EQ(h, 512);
  EXPECT_EQ(first, 1.25) << "r_scale comes first";
  EXPECT_EQ(second, 127.5);
  const Bytes past = {0xFF, 0xA0, 0xFF, 0xA4, 0xFF, 0xF0, 0x00};
  const Bytes too_short = {0xFF, 0xA0, 0xFF, 0xA4, 0x00, 0x01, 0xFF, 0xA2};
  testing::internal::CaptureStderr();
  EXPECT_EQ(read_wsq_frame_header(past.data(), 7, &w, &h, &first, &second), -40);
  EXPECT_EQ(read_wsq_frame_header(too_short.data(), 8, &w, &h, &first, &second), -2);
  testing::internal::GetCapturedStderr();
}

// The new comment follows every comment after SOI; one holding a NUL is
// copied whole.
TEST(WsqComments, AddedCommentFollowsTheLeadingComments) {
  const Bytes s = Encode(120, 100);
  const size_t com_end = FirstCommentEnd(s);
  Bytes in(s.begin(), s.begin() + com_end);
  in.insert(in.end(), {0xFF, 0xA8, 0x00, 0x05, 'x', 0, 'y'});
  in.insert(in.end(), s.begin() + com_end, s.end());
  uint8_t *out = nullptr;
  int len = 0;
  ASSERT_EQ(add_comment_wsq(&out, &len, in.data(), static_cast<int>(in.size()), "abc"), 0);
  const Bytes added(out, out + len);
  std::free(out);
  Bytes expected(in.begin(), in.begin() + com_end + 7);
  expected.insert(expected.end(), {0xFF, 0xA8, 0x00, 0x05, 'a', 'b', 'c'});
  expected.insert(expected.end(), in.begin() + com_end + 7, in.end());
  EXPECT_EQ(added, expected);
}

TEST(WsqComments, DeletingRemovesEveryCommentAndKeepsThePixels) {
  const Bytes s = Encode(300, 260, "second comment");
  uint8_t *out = nullptr;
  int len = 0;
  ASSERT_EQ(delete_comments_wsq(&out, &len, s.data(), static_cast<int>(s.size())), 0);
  const Bytes bare(out, out + len);
  std::free(out);
  size_t at = 2;  // past SOI, then the NISTCOM and the caller's comment
  for (int k = 0; k < 2; ++k) {
    const size_t length = (s[at + 2] << 8) | s[at + 3];
    at += 2 + length;
  }
  Bytes expected = {0xFF, 0xA0};
  expected.insert(expected.end(), s.begin() + at, s.end());
  EXPECT_EQ(bare, expected);

  ASSERT_EQ(add_comment_wsq(&out, &len, bare.data(), static_cast<int>(bare.size()), "abc"), 0);
  const Bytes readded(out, out + len);
  std::free(out);
  ASSERT_EQ(delete_comments_wsq(&out, &len, readded.data(), static_cast<int>(readded.size())), 0);
  EXPECT_EQ(Bytes(out, out + len), bare) << "add then delete";
  std::free(out);

  const Image before = Decode(s), after = Decode(bare);
  ASSERT_EQ(after.code, 0);
  EXPECT_EQ(after.px, before.px);
}

}  // namespace
