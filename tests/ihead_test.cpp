// IHead headers of the special databases to NISTCOM lists, on hand-built
// headers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"
#include "wsq/ihead.h"

using namespace tsl;
using tsltest::Entries;

namespace {

// On the heap at its exact size, so a read past any field shows under the
// sanitizer build.
std::unique_ptr<IHead> Head(const std::string &id, const std::string &parent = "",
                            const std::string &density = "") {
  auto h = std::make_unique<IHead>();
  std::memset(h.get(), 0, sizeof(IHead));
  std::memcpy(h->id, id.data(), std::min(id.size(), sizeof h->id));
  std::memcpy(h->parent, parent.data(), std::min(parent.size(), sizeof h->parent));
  std::memcpy(h->density, density.data(), std::min(density.size(), sizeof h->density));
  return h;
}

struct Result {
  int code;
  Entries entries;
  bool list_left;  // the out pointer was written
};

Result Convert(const IHead &h, int sd_id) {
  FET *fet = reinterpret_cast<FET *>(0x1);
  Result r{sd_ihead_to_nistcom(&fet, &h, sd_id), {}, fet != reinterpret_cast<FET *>(0x1)};
  if (r.code == 0) {
    r.entries = tsltest::FetEntries(fet);
    freefet(fet);
  }
  return r;
}

TEST(IheadToNistcom, UnknownDatabaseIsRefusedWithNoList) {
  const auto h = Head("f0001_01.pct W  M");
  for (int id : {5, 11, 19}) {
    FET *fet = reinterpret_cast<FET *>(0x1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(sd_ihead_to_nistcom(&fet, h.get(), id), -2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR : sd_ihead_to_nistcom : invalid database id = " + std::to_string(id) +
                  "\n        expecting SD 4,9,10,14, or 18\n");
    EXPECT_EQ(fet, nullptr);
  }
}

TEST(IheadToNistcom, Database4TakesOneOrTwoClassCharacters) {
  EXPECT_EQ(Convert(*Head("f0001_01.pct W  M", "sd04/f1.pct"), 4).entries,
            (Entries{{"NIST_COM", "5"},
                     {"SD_ID", "4"},
                     {"HISTORY", "f0001_01.pct W sd04/f1.pct"},
                     {"FING_CLASS", "W"},
                     {"SEX", "M"}}));
  const Result two = Convert(*Head("f0002_05.pct TA F", "p"), 4);
  ASSERT_EQ(two.code, 0);
  EXPECT_EQ(two.entries[2].second, "f0002_05.pct TA p");
}

TEST(IheadToNistcom, Database9ShowsBlanksOfTheTailAsUnderscores) {
  EXPECT_EQ(Convert(*Head("s0012301.pct F I ac2aa  x", "orig"), 9).entries,
            (Entries{{"NIST_COM", "6"},
                     {"SD_ID", "9"},
                     {"HISTORY", "s0012301.pct ac2aa__x orig"},
                     {"FING_CLASS", "A"},
                     {"SEX", "F"},
                     {"SCAN_TYPE", "I"}}));
}

TEST(IheadToNistcom, Database10SkipsTwoCharactersBeforeTheSequenceNumber) {
  const Result r = Convert(*Head("fs012303.pct M R 62"), 10);
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(r.entries[3], (std::pair<std::string, std::string>{"FING_CLASS", "L"}));
}

TEST(IheadToNistcom, Database18ReadsSexAgeAndFacePosition) {
  EXPECT_EQ(Convert(*Head("ABCDEFGHIJKL F 42"), 18).entries,
            (Entries{{"NIST_COM", "6"},
                     {"SD_ID", "18"},
                     {"HISTORY", "ABCDEFGHIJKL"},
                     {"SEX", "F"},
                     {"AGE", "42"},
                     {"FACE_POS", "A"}}));
}

// The identifier ends at its terminator: whatever the header holds after
// it stays out of the fields read at fixed positions.
TEST(IheadToNistcom, BytesAfterTheIdentifiersEndAreNotRead) {
  const Result r = Convert(*Head(std::string("abc") + '\0' + std::string(76, 'Z')), 18);
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(r.entries, (Entries{{"NIST_COM", "6"},
                                {"SD_ID", "18"},
                                {"HISTORY", "abc"},
                                {"SEX", ""},
                                {"AGE", ""},
                                {"FACE_POS", "a"}}));
}

// Database 14 puts the pixels per inch second; every field is read within
// its own size.
TEST(IheadToNistcom, FieldsAreReadWithinTheirOwnSizes) {
  const std::string full_parent(80, 'p'), full_density(8, '9');
  const Result r = Convert(*Head("s0012305.pct M R 12", full_parent, full_density), 14);
  ASSERT_EQ(r.code, 0);
  ASSERT_EQ(r.entries.size(), 7u);
  EXPECT_EQ(r.entries[1], (std::pair<std::string, std::string>{"PPI", full_density}));
  EXPECT_EQ(r.entries[3].second, "s0012305.pct 12 " + full_parent);
  EXPECT_EQ(r.entries[4].second, "R");
  testing::internal::CaptureStderr();
  for (int sd : {4, 9, 18}) {
    const Result unterminated = Convert(*Head(std::string(80, 'f')), sd);
    EXPECT_EQ(unterminated.code, kIheadIdNotTerminated) << sd;
    EXPECT_FALSE(unterminated.list_left) << sd;
  }
  testing::internal::GetCapturedStderr();
}

TEST(IheadToNistcom, UnreadableClassFieldsAreRefused) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(Convert(*Head("f0001_01.pct"), 4).code, -2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR : get_sd_class : getting classletter for Special Database 4\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(Convert(*Head("fs012303.pct M R"), 10).code, -3);
  EXPECT_EQ(Convert(*Head("s99999999999999999999.pct F I aa"), 14).code, -4)
      << "a sequence number beyond int";
  testing::internal::GetCapturedStderr();
}

TEST(NcicClass, LettersRidgeCountsAndRefusals) {
  struct {
    const char *ncic;
    int seqnum;
    int code;
    char letter;
  } cases[] = {{"acXaa", 1, 0, 'A'}, {"sr", 1, 0, 'S'},  {"tt", 1, 0, 'T'},  {"xyz", 1, 0, 'W'},
               {"12", 13, 0, 'R'},   {"62", 13, 0, 'L'}, {"12", 17, 0, 'L'}, {"62", 20, 0, 'R'},
               {"49", 13, 0, 'R'},   {"50", 13, 0, 'L'}, {"49", 20, 0, 'L'}, {"50", 20, 0, 'R'},
               {"1", 13, 0, 'R'},    {"99", 13, 0, 'L'},
               {"0", 1, -2, '?'},    {"100", 1, -2, '?'}, {"99999999999999999999", 1, -2, '?'},
               {"ac", 1, -3, '?'}};
  testing::internal::CaptureStderr();
  for (const auto &k : cases) {
    char letter = '?';
    EXPECT_EQ(get_class_from_ncic_class_string(k.ncic, k.seqnum, &letter), k.code) << k.ncic;
    EXPECT_EQ(letter, k.letter) << k.ncic << " " << k.seqnum;
  }
  EXPECT_NE(testing::internal::GetCapturedStderr().find(
                "ERROR : get_class_from_ncic_class_string : "
                "invalid ridge count (0) from ncic string\n"),
            std::string::npos);
}

}  // namespace
