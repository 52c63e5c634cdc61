// NISTCOM comment text: the list routines, parsing and joining, merging a
// caller's comment, the comment segments the encoder writes, and finding the
// pixels per inch of a stream.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"
#include "wsq/nistcom.h"
#include "wsq/stream_io.h"

namespace {

using tsl::FET;
using tsltest::Bytes;

// Owns a list for the duration of a test.
struct FetHolder {
  FET *fet = nullptr;
  ~FetHolder() { tsl::freefet(fet); }
};

std::vector<std::pair<std::string, std::string>> Entries(const FET *fet) {
  std::vector<std::pair<std::string, std::string>> out;
  for (int i = 0; i < fet->count; i++)
    out.emplace_back(fet->names[i], fet->values[i] ? fet->values[i] : "<none>");
  return out;
}

std::string Join(const FET *fet) {
  char *text = nullptr;
  EXPECT_EQ(tsl::fet2string(&text, fet), 0);
  std::string s = text ? text : "";
  std::free(text);
  return s;
}

// The texts of the comment segments in a buffer written by putc_nistcom_wsq.
std::vector<std::string> CommentTexts(const uint8_t *p, int len) {
  std::vector<std::string> texts;
  int i = 0;
  while (i + 4 <= len) {
    EXPECT_EQ(p[i], 0xFF);
    EXPECT_EQ(p[i + 1], 0xA8);
    int seglen = (p[i + 2] << 8) | p[i + 3];
    EXPECT_GE(seglen, 2);
    EXPECT_LE(i + 2 + seglen, len);
    texts.emplace_back(reinterpret_cast<const char *>(p + i + 4), seglen - 2);
    i += 2 + seglen;
  }
  EXPECT_EQ(i, len);
  return texts;
}

std::vector<std::string> EncodeComments(const char *comment, int width = 500, int height = 400,
                                        int ppi = 500, float rate = 0.75f) {
  std::vector<uint8_t> buf(4096);
  int len = 0;
  EXPECT_EQ(tsl::putc_nistcom_wsq(comment, width, height, 8, ppi, 1, rate, buf.data(),
                                  static_cast<int>(buf.size()), &len),
            0);
  return CommentTexts(buf.data(), len);
}

const char kNineLines[] =
    "NIST_COM 9\nPIX_WIDTH 500\nPIX_HEIGHT 400\nPIX_DEPTH 8\nPPI 500\nLOSSY 1\n"
    "COLORSPACE GRAY\nCOMPRESSION WSQ\nWSQ_BITRATE 0.750000";

// ---- the list ------------------------------------------------------------

TEST(FetList, CapacityGrowsByATenthButAtLeastTen) {
  FetHolder h;
  ASSERT_EQ(tsl::allocfet_ret(&h.fet, 6), 0);
  std::vector<int> caps;
  for (int i = 0; i < 17; i++) {
    ASSERT_EQ(tsl::updatefet_ret(("N" + std::to_string(i)).c_str(), "v", h.fet), 0);
    caps.push_back(h.fet->capacity);
  }
  EXPECT_EQ(caps[5], 6);
  EXPECT_EQ(caps[6], 16) << "seventh entry";
  EXPECT_EQ(caps[15], 16);
  EXPECT_EQ(caps[16], 26) << "seventeenth entry";

  FetHolder big;
  ASSERT_EQ(tsl::allocfet_ret(&big.fet, 100), 0);
  for (int i = 0; i < 111; i++)
    ASSERT_EQ(tsl::updatefet_ret(("K" + std::to_string(i)).c_str(), nullptr, big.fet), 0);
  EXPECT_EQ(big.fet->capacity, 121);
  EXPECT_EQ(big.fet->count, 111);
  EXPECT_STREQ(big.fet->names[110], "K110");
}

TEST(FetList, UpdateReplacesInPlaceAndLookupsCopy) {
  FetHolder h;
  ASSERT_EQ(tsl::allocfet_ret(&h.fet, 2), 0);
  ASSERT_EQ(tsl::updatefet_ret("A", "1", h.fet), 0);
  ASSERT_EQ(tsl::updatefet_ret("B", "2", h.fet), 0);
  ASSERT_EQ(tsl::updatefet_ret("A", "3", h.fet), 0);
  ASSERT_EQ(tsl::updatefet_ret("B", nullptr, h.fet), 0);
  EXPECT_EQ(Entries(h.fet), (decltype(Entries(h.fet)){{"A", "3"}, {"B", "<none>"}}));

  char *v = reinterpret_cast<char *>(0x1);
  EXPECT_EQ(tsl::lookupfet(&v, "a", h.fet), 0) << "names are case-sensitive";
  EXPECT_EQ(v, reinterpret_cast<char *>(0x1)) << "absent: output untouched";
  EXPECT_EQ(tsl::lookupfet(&v, "A", h.fet), 1);
  ASSERT_NE(v, nullptr);
  EXPECT_STREQ(v, "3");
  EXPECT_NE(v, h.fet->values[0]) << "a copy is handed out";
  std::free(v);
  EXPECT_EQ(tsl::lookupfet(&v, "B", h.fet), 1);
  EXPECT_EQ(v, nullptr);

  testing::internal::CaptureStderr();
  EXPECT_EQ(tsl::extractfet_ret(&v, "PPI", h.fet), -2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR : extractfet_ret : feature PPI not found\n");
  EXPECT_EQ(tsl::extractfet_ret(&v, "A", h.fet), 0);
  EXPECT_STREQ(v, "3");
  std::free(v);
}

TEST(FetList, ListsWithoutSlotsGrowInPlace) {
  FET *empty = nullptr;
  ASSERT_EQ(tsl::allocfet_ret(&empty, 0), 0);
  FET *same = empty;
  ASSERT_EQ(tsl::updatefet_ret("X", "y", empty), 0);
  EXPECT_EQ(empty, same) << "the holder's pointer must stay valid";
  EXPECT_EQ(empty->capacity, 10);
  ASSERT_EQ(tsl::reallocfet_ret(&empty, 0), 0);
  EXPECT_EQ(empty->capacity, 1) << "never shrinks below its entries";
  tsl::freefet(empty);
}

// ---- text <-> list -----------------------------------------------------

TEST(FetText, ParsesNamesValuesAndOddLines) {
  FetHolder h;
  ASSERT_EQ(tsl::string2fet(&h.fet, "NIST_COM 4\nTITLE  a b\tc \r\nLONE\nNEXT 7\nLAST"), 0);
  EXPECT_EQ(Entries(h.fet),
            (decltype(Entries(h.fet)){{"NIST_COM", "4"},
                                      {"TITLE", "a b\tc \r"},
                                      {"LONE\nNEXT", "7"},
                                      {"LAST", "<none>"}}));
  EXPECT_EQ(h.fet->capacity, 100);

  FetHolder rep;
  ASSERT_EQ(tsl::string2fet(&rep.fet, "A 1\n\n\nB 2\nA 3\n"), 0);
  EXPECT_EQ(Entries(rep.fet), (decltype(Entries(rep.fet)){{"A", "3"}, {"B", "2"}}));

  FetHolder none;
  ASSERT_EQ(tsl::string2fet(&none.fet, ""), 0);
  EXPECT_EQ(none.fet->count, 0);
  EXPECT_EQ(Join(none.fet), "");
}

TEST(FetText, RefusesEmptyNamesAndOverlongItems) {
  FET *fet = reinterpret_cast<FET *>(0x1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(tsl::string2fet(&fet, " A 1"), -2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR : string2fet : empty name string found\n");
  EXPECT_EQ(fet, reinterpret_cast<FET *>(0x1)) << "nothing stored on failure";

  std::string ok = "N " + std::string(511, 'v') + "\n" + std::string(511, 'n') + " x";
  FetHolder h;
  ASSERT_EQ(tsl::string2fet(&h.fet, ok.c_str()), 0);
  EXPECT_EQ(std::strlen(h.fet->values[0]), 511u);
  EXPECT_EQ(std::strlen(h.fet->names[1]), 511u);

  testing::internal::CaptureStderr();
  EXPECT_LT(tsl::string2fet(&fet, ("N " + std::string(512, 'v')).c_str()), 0);
  EXPECT_LT(tsl::string2fet(&fet, (std::string(512, 'n') + " v").c_str()), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(fet, reinterpret_cast<FET *>(0x1));
}

TEST(FetText, JoinWritesOneLinePerEntryAndParsesBack) {
  FetHolder h;
  ASSERT_EQ(tsl::allocfet_ret(&h.fet, 3), 0);
  ASSERT_EQ(tsl::updatefet_ret("NIST_COM", "3", h.fet), 0);
  ASSERT_EQ(tsl::updatefet_ret("EMPTY", nullptr, h.fet), 0);
  ASSERT_EQ(tsl::updatefet_ret("NOTE", "two words", h.fet), 0);
  std::string text = Join(h.fet);
  EXPECT_EQ(text, "NIST_COM 3\nEMPTY \nNOTE two words");
  FetHolder back;
  ASSERT_EQ(tsl::string2fet(&back.fet, text.c_str()), 0);
  EXPECT_EQ(Entries(back.fet), Entries(h.fet));
}

// ---- combining -----------------------------------------------------------

TEST(NistcomCombine, NewListHasNineEntriesInOrder) {
  FetHolder h;
  ASSERT_EQ(tsl::combine_wsq_nistcom(&h.fet, 500, 400, 8, 500, 1, 0.75f), 0);
  EXPECT_EQ(Join(h.fet), kNineLines);

  FetHolder img;
  ASSERT_EQ(tsl::combine_nistcom(&img.fet, 1, 2, 3, -4, 0), 0);
  EXPECT_EQ(Join(img.fet), "NIST_COM 6\nPIX_WIDTH 1\nPIX_HEIGHT 2\nPIX_DEPTH 3\nPPI -4\nLOSSY 0");
}

TEST(NistcomCombine, LossyFlagIsNeverCleared) {
  FetHolder h;
  ASSERT_EQ(tsl::string2fet(&h.fet, "NIST_COM 2\nLOSSY 1"), 0);
  testing::internal::CaptureStderr();
  ASSERT_EQ(tsl::combine_nistcom(&h.fet, 10, 20, 8, 500, 0), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING : combine_nistcom : request to unset lossy flag ignored\n");
  EXPECT_EQ(Join(h.fet),
            "NIST_COM 6\nLOSSY 1\nPIX_WIDTH 10\nPIX_HEIGHT 20\nPIX_DEPTH 8\nPPI 500");

  FetHolder zero;
  ASSERT_EQ(tsl::string2fet(&zero.fet, "NIST_COM 2\nLOSSY 0"), 0);
  testing::internal::CaptureStderr();
  ASSERT_EQ(tsl::combine_nistcom(&zero.fet, 10, 20, 8, 500, 1), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_STREQ(zero.fet->values[1], "1");

  // An entry without a value counts as absent.
  FetHolder bare;
  ASSERT_EQ(tsl::string2fet(&bare.fet, "NIST_COM 2\nLOSSY"), 0);
  testing::internal::CaptureStderr();
  ASSERT_EQ(tsl::combine_nistcom(&bare.fet, 10, 20, 8, 500, 0), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_STREQ(bare.fet->values[1], "0");
}

TEST(NistcomCombine, CountEntryIsAppendedWhenMissing) {
  FetHolder h;
  ASSERT_EQ(tsl::string2fet(&h.fet, "TITLE x"), 0);
  ASSERT_EQ(tsl::combine_nistcom(&h.fet, 1, 1, 8, 1, 1), 0);
  ASSERT_EQ(h.fet->count, 7);
  EXPECT_STREQ(h.fet->names[6], "NIST_COM");
  EXPECT_STREQ(h.fet->values[6], "6") << "counts the entries before it";
}

// ---- comment segments ----------------------------------------------------

TEST(NistcomSegments, WithoutCallerCommentOneSegmentOfNineLines) {
  std::vector<uint8_t> buf(512);
  int len = 0;
  ASSERT_EQ(tsl::putc_nistcom_wsq(nullptr, 500, 400, 8, 500, 1, 0.75f, buf.data(), 512, &len), 0);
  size_t n = std::strlen(kNineLines);
  ASSERT_EQ(len, static_cast<int>(n + 4));
  EXPECT_EQ(buf[0], 0xFF);
  EXPECT_EQ(buf[1], 0xA8);
  EXPECT_EQ((buf[2] << 8) | buf[3], static_cast<int>(n + 2));
  EXPECT_EQ(std::string(reinterpret_cast<char *>(&buf[4]), n), kNineLines);
}

TEST(NistcomSegments, PlainCallerCommentFollowsUnchanged) {
  EXPECT_EQ(EncodeComments("scanned at desk 3\nline two"),
            (std::vector<std::string>{kNineLines, "scanned at desk 3\nline two"}));
  EXPECT_EQ(EncodeComments(""), (std::vector<std::string>{kNineLines, ""}))
      << "an empty comment is a segment of length 2";
  EXPECT_EQ(EncodeComments("NIST_CO"), (std::vector<std::string>{kNineLines, "NIST_CO"}));
}

TEST(NistcomSegments, CallerNistcomIsMergedNotRepeated) {
  EXPECT_EQ(EncodeComments("NIST_COM 2\nPPI 300"),
            (std::vector<std::string>{
                "NIST_COM 9\nPPI 500\nPIX_WIDTH 500\nPIX_HEIGHT 400\nPIX_DEPTH 8\nLOSSY 1\n"
                "COLORSPACE GRAY\nCOMPRESSION WSQ\nWSQ_BITRATE 0.750000"}));
  EXPECT_EQ(EncodeComments("NIST_COM 3\nSID 17\nCOMPRESSION JPEGB", 70, 80, 1000, 2.25f),
            (std::vector<std::string>{
                "NIST_COM 10\nSID 17\nCOMPRESSION WSQ\nPIX_WIDTH 70\nPIX_HEIGHT 80\n"
                "PIX_DEPTH 8\nPPI 1000\nLOSSY 1\nCOLORSPACE GRAY\nWSQ_BITRATE 2.250000"}));
}

TEST(NistcomSegments, FailuresPassCodesUp) {
  std::vector<uint8_t> buf(64);
  int len = 0;
  testing::internal::CaptureStderr();
  std::string long_value = "NIST_COM 1\nTITLE " + std::string(600, 't');
  EXPECT_EQ(tsl::putc_nistcom_wsq(long_value.c_str(), 5, 5, 8, 5, 1, 1.0f, buf.data(), 64, &len),
            -5);
  EXPECT_EQ(len, 0) << "nothing written when the caller's text is refused";
  EXPECT_LT(tsl::putc_nistcom_wsq(nullptr, 500, 400, 8, 500, 1, 0.75f, buf.data(), 64, &len), 0);
  EXPECT_LE(len, 64);
  // A caller comment longer than one segment holds is refused, not wrapped.
  std::string huge(70000, 'x');
  std::vector<uint8_t> big(200000);
  int blen = 0;
  EXPECT_LT(tsl::putc_nistcom_wsq(huge.c_str(), 5, 5, 8, 5, 1, 1.0f, big.data(), 200000, &blen),
            0);
  testing::internal::GetCapturedStderr();
}

TEST(NistcomSegments, BitRateTextIgnoresTheCallersLocale) {
  // Generate a comma-decimal locale when the system has none installed.
  tsltest::TempDir dir;
  const char *old = std::setlocale(LC_ALL, nullptr);
  std::string saved = old ? old : "C";
  bool have = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  if (!have && tsltest::HaveTool("localedef")) {
    tsltest::Run("localedef -i de_DE -f UTF-8 " + dir.File("de_DE.UTF-8") +
                 " >/dev/null 2>&1");
    setenv("LOCPATH", dir.path().c_str(), 1);
    have = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    unsetenv("LOCPATH");
  }
  if (!have) GTEST_SKIP() << "no comma-decimal locale available";
  char probe[32];
  std::snprintf(probe, sizeof probe, "%f", 0.75);
  ASSERT_STREQ(probe, "0,750000") << "the locale must really use a comma";
  std::vector<std::string> texts = EncodeComments(nullptr, 500, 400, 500, 0.75f);
  std::setlocale(LC_ALL, saved.c_str());
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], kNineLines);
}

// ---- reading a stream's NISTCOM -----------------------------------------

// A stream head: SOI, then the given segments (marker, payload), then an SOB.
Bytes Stream(const std::vector<std::pair<uint16_t, std::string>> &segments) {
  Bytes s = {0xFF, 0xA0};
  for (const auto &seg : segments) {
    s.push_back(seg.first >> 8);
    s.push_back(seg.first & 0xFF);
    size_t n = seg.second.size() + 2;
    s.push_back(static_cast<uint8_t>(n >> 8));
    s.push_back(static_cast<uint8_t>(n));
    s.insert(s.end(), seg.second.begin(), seg.second.end());
  }
  const uint8_t sob[] = {0xFF, 0xA3, 0x00, 0x03, 0x00, 0x12, 0x34};
  s.insert(s.end(), sob, sob + sizeof sob);
  return s;
}

int Ppi(const Bytes &s) {
  int ppi = -12345;
  int ret = tsl::getc_ppi_wsq(&ppi, s.data(), static_cast<int>(s.size()));
  return ret ? ret * 1000000 : ppi;
}

TEST(NistcomRead, FirstNistcomBeforeTheFirstBlockCounts) {
  EXPECT_EQ(Ppi(Stream({{0xFFA8, "hello"}, {0xFFA4, "xyz"}, {0xFFA8, "NIST_COM 2\nPPI 600"},
                        {0xFFA8, "NIST_COM 2\nPPI 700"}})),
            600);
  EXPECT_EQ(Ppi(Stream({{0xFFA8, "nist_com 2\nPPI 600"}})), -1) << "no NISTCOM comment";
  Bytes after = Stream({{0xFFA8, "plain"}});
  const char late[] = "\xFF\xA8\x00\x0CNIST_COM 1";
  after.insert(after.end(), late, late + 14);
  EXPECT_EQ(Ppi(after), -1) << "a NISTCOM after the first block is not looked at";

  FetHolder h;
  Bytes s = Stream({{0xFFA8, "NIST_COM 3\nPPI 250\nX y z"}});
  ASSERT_EQ(tsl::getc_nistcom_wsq(&h.fet, s.data(), static_cast<int>(s.size())), 0);
  ASSERT_NE(h.fet, nullptr);
  EXPECT_EQ(Entries(h.fet), (decltype(Entries(h.fet)){{"NIST_COM", "3"}, {"PPI", "250"},
                                                      {"X", "y z"}}));
}

TEST(NistcomRead, PpiValueReadsItsLeadingInteger) {
  auto ppi_of = [](const std::string &value) {
    return Ppi(Stream({{0xFFA8, "NIST_COM 2\nPPI " + value}}));
  };
  EXPECT_EQ(ppi_of("500"), 500);
  EXPECT_EQ(ppi_of("300dpi"), 300);
  EXPECT_EQ(ppi_of("dpi"), 0);
  EXPECT_EQ(ppi_of("-75"), -75);
  EXPECT_EQ(ppi_of("99999999999999"), 2147483647) << "saturates instead of overflowing";
  EXPECT_EQ(Ppi(Stream({{0xFFA8, "NIST_COM 2\nPPI"}})), -1) << "entry without value";
  testing::internal::CaptureStderr();
  EXPECT_EQ(Ppi(Stream({{0xFFA8, "NIST_COM 1"}})), -2 * 1000000);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR : extractfet_ret : feature PPI not found\n");
}

TEST(NistcomRead, TruncatedOrCorruptStreamsFailCleanly) {
  Bytes s = Stream({{0xFFA8, "free text"}, {0xFFA8, "NIST_COM 2\nPPI 600"}});
  testing::internal::CaptureStderr();
  for (size_t n = 0; n < s.size(); n++) {
    // An exact-size copy lets the sanitizer catch any read past the end.
    std::vector<uint8_t> cut(s.begin(), s.begin() + n);
    int ppi = 0;
    int ret = tsl::getc_ppi_wsq(&ppi, cut.empty() ? nullptr : cut.data(), static_cast<int>(n));
    if (ret == 0) {
      EXPECT_EQ(ppi, 600) << n;
    }
  }
  tsltest::Rng rng(7);
  for (int i = 0; i < 2000; i++) {
    Bytes c = s;
    c[rng.Below(static_cast<uint32_t>(c.size()))] = static_cast<uint8_t>(rng.Next());
    int ppi = 0;
    (void)tsl::getc_ppi_wsq(&ppi, c.data(), static_cast<int>(c.size()));
  }
  testing::internal::GetCapturedStderr();
}

}  // namespace
