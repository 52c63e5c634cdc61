// NISTCOM comment text: parsing and joining, writing it into a stream, and
// finding the pixels per inch of a stream.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"
#include "tessaly.h"
#include "wsq/nistcom.h"

namespace {

using tsl::FET;
using tsltest::Bytes;
using tsltest::Entries;

struct FetHolder {  // owns a list for the duration of a test
  FET *fet = nullptr;
  ~FetHolder() { tsl::freefet(fet); }
};

TEST(FetText, ParsesJoinsAndRefuses) {
  const std::string n511(511, 'n'), v511(511, 'v'), longest = "N " + v511 + "\n" + n511 + " x";
  struct Case {
    std::string text;
    Entries entries;
    std::string joined;  // one line per entry, a space even before no value
  } good[] = {
      {"NIST_COM 4\nTITLE  a b\tc \r\nLONE\nNEXT 7\nLAST",
       {{"NIST_COM", "4"}, {"TITLE", "a b\tc \r"}, {"LONE\nNEXT", "7"}, {"LAST", "<none>"}},
       "NIST_COM 4\nTITLE a b\tc \r\nLONE\nNEXT 7\nLAST "},
      {"A 1\n\n\nB 2\nA 3\n", {{"A", "3"}, {"B", "2"}}, "A 3\nB 2"},
      {longest, {{"N", v511}, {n511, "x"}}, longest}};
  for (const Case &k : good) {
    FetHolder h;
    char *text = nullptr;
    ASSERT_EQ(tsl::string2fet(&h.fet, k.text.c_str()), 0) << k.text;
    EXPECT_EQ(tsltest::FetEntries(h.fet), k.entries);
    ASSERT_EQ(tsl::fet2string(&text, h.fet), 0);
    EXPECT_EQ(std::string(text), k.joined);
    std::free(text);
  }
  FET *fet = reinterpret_cast<FET *>(0x1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(tsl::string2fet(&fet, " A 1"), -2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR : string2fet : empty name string found\n");
  EXPECT_EQ(tsl::string2fet(&fet, ("N " + v511 + "v").c_str()), -5);
  EXPECT_EQ(tsl::string2fet(&fet, (n511 + "n v").c_str()), -5);
  EXPECT_EQ(fet, reinterpret_cast<FET *>(0x1)) << "nothing stored on failure";
}

// A stored "LOSSY" other than "0" outlives a lossy flag of 0, with a
// warning; a stored "0", or any stored value against a flag of 1, gives way
// to the flag without one.
TEST(NistcomCombine, StoredLossyIsKeptOnlyWhenNotZero) {
  const struct {
    const char *stored;
    int flag;
    const char *lossy, *warning;
  } cases[] = {{"0", 0, "0", ""},
               {"1", 0, "1", "WARNING : combine_nistcom : request to unset lossy flag ignored\n"},
               {"0", 1, "1", ""},
               {"2", 1, "1", ""}};
  for (const auto &k : cases) {
    FetHolder h;
    ASSERT_EQ(tsl::string2fet(&h.fet, (std::string("LOSSY ") + k.stored).c_str()), 0);
    testing::internal::CaptureStderr();
    ASSERT_EQ(tsl::combine_nistcom(&h.fet, 64, 48, 8, 500, k.flag), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), k.warning) << k.stored << " " << k.flag;
    EXPECT_EQ(tsltest::FetEntries(h.fet)[0],
              (std::pair<std::string, std::string>{"LOSSY", k.lossy}))
        << k.stored << " " << k.flag;
  }
}

// A stream head: SOI, then the given segments (marker, payload), then an SOB.
Bytes Stream(const std::vector<std::pair<uint16_t, std::string>> &segments) {
  Bytes s = {0xFF, 0xA0};
  for (const auto &[marker, text] : segments) {
    size_t n = text.size() + 2;
    s.insert(s.end(), {uint8_t(marker >> 8), uint8_t(marker), uint8_t(n >> 8), uint8_t(n)});
    s.insert(s.end(), text.begin(), text.end());
  }
  s.insert(s.end(), {0xFF, 0xA3, 0x00, 0x03, 0x00, 0x12, 0x34});
  return s;
}

// The PPI of a stream whose search succeeds (-1 for none).
int Ppi(const Bytes &s) {
  int ppi = -12345;
  EXPECT_EQ(tsl::getc_ppi_wsq(&ppi, s.data(), static_cast<int>(s.size())), 0);
  return ppi;
}

TEST(NistcomRead, FirstNistcomBeforeTheFirstBlockGivesThePpi) {
  for (auto [value, ppi] : {std::pair<const char *, int>{" 300dpi", 300}, {" dpi", 0},
                            {"", -1}, {" 99999999999999", INT_MAX}})
    EXPECT_EQ(Ppi(Stream({{0xFFA8, std::string("NIST_COM 2\nPPI") + value}})), ppi) << value;
  EXPECT_EQ(Ppi(Stream({{0xFFA8, "hello"}, {0xFFA4, "xyz"}, {0xFFA8, "NIST_COM 2\nPPI 600"},
                        {0xFFA8, "NIST_COM 2\nPPI 700"}})),
            600);
  EXPECT_EQ(Ppi(Stream({{0xFFA8, "nist_com 2\nPPI 600"}})), -1) << "no NISTCOM comment";
  Bytes after = Stream({{0xFFA8, "plain"}});
  for (char ch : std::string("\xFF\xA8\x00\x0CNIST_COM 1", 14)) after.push_back(uint8_t(ch));
  EXPECT_EQ(Ppi(after), -1) << "a NISTCOM after the first block is not looked at";
  const Bytes no_ppi = Stream({{0xFFA8, "NIST_COM 1"}});
  int ppi = -12345;
  testing::internal::CaptureStderr();
  EXPECT_EQ(tsl::getc_ppi_wsq(&ppi, no_ppi.data(), static_cast<int>(no_ppi.size())), -2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR : extractfet_ret : feature PPI not found\n");
  EXPECT_EQ(ppi, -12345);
}

// The tag is compared only inside the buffer: a NISTCOM comment that ends
// the stream is found; one byte shorter, the tag is not compared with the
// byte past the end, and the segment fails as one too long to step over.
TEST(NistcomRead, CommentEndingTheStreamIsFound) {
  const Bytes s = {0xFF, 0xA0, 0xFF, 0xA8, 0x00, 0x0A, 'N', 'I', 'S', 'T', '_', 'C', 'O', 'M'};
  FetHolder h;
  ASSERT_EQ(tsl::getc_nistcom_wsq(&h.fet, s.data(), static_cast<int>(s.size())), 0);
  EXPECT_EQ(tsltest::FetEntries(h.fet), (Entries{{"NIST_COM", "<none>"}}));
  FET *none = nullptr;
  testing::internal::CaptureStderr();
  EXPECT_EQ(tsl::getc_nistcom_wsq(&none, s.data(), static_cast<int>(s.size()) - 1), -2);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(none, nullptr);
}

// Only "NIST_COM" marks NISTCOM text: a caller comment that merely begins
// with "NIST" follows our NISTCOM segment as a segment of its own, and the
// pixels per inch are found in the NISTCOM.
TEST(NistcomWrite, CommentBeginningWithNistIsPlainText) {
  const Bytes px = tsltest::RidgeImage(96, 80);
  const std::string mine = "NIST scanner at desk 4";
  unsigned char *out = nullptr;
  int len = 0;
  ASSERT_EQ(WSQ_encode_stream(px.data(), 96, 80, 0.75, 612, mine.c_str(), &out, &len), 1);
  const Bytes s(out, out + len);
  std::free(out);

  // SOI, then the two comment segments.
  auto segment = [&](size_t at) {
    const size_t n = at + 4 <= s.size() ? size_t(s[at + 2] << 8 | s[at + 3]) : 0;
    if (n < 2 || at + 2 + n > s.size() || s[at] != 0xFF || s[at + 1] != 0xA8) {
      ADD_FAILURE() << "no comment segment at " << at;
      return std::string();
    }
    return std::string(s.begin() + long(at) + 4, s.begin() + long(at + 2 + n));
  };
  const std::string nistcom = segment(2);
  EXPECT_EQ(nistcom.substr(0, 9), "NIST_COM ");
  EXPECT_NE(nistcom.find("\nPPI 612\n"), std::string::npos) << nistcom;
  EXPECT_EQ(nistcom.find("scanner"), std::string::npos) << nistcom;
  EXPECT_EQ(segment(2 + 4 + nistcom.size()), mine);

  unsigned char *img = nullptr;
  char *comment = nullptr;
  int w = 0, h = 0, ppi = 0;
  ASSERT_EQ(WSQ_decode_stream(s.data(), int(s.size()), &img, &w, &h, &ppi, &comment), 1);
  std::free(img);
  EXPECT_EQ(ppi, 612);
  ASSERT_NE(comment, nullptr);
  EXPECT_EQ(std::string(comment), mine);
  std::free(comment);
}

}  // namespace
