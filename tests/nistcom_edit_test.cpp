// Editing NISTCOM lists, resizing them, and the list routines that end the
// process on failure (death tests: status, exact message, standard output
// flushed first).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"
#define TESSALY_PROCESS_EXIT_ALLOWED
#include "wsq/fet_exit.h"
#include "wsq/nistcom_edit.h"

using namespace tsl;

namespace {

using tsltest::Entries;
const auto Of = tsltest::FetEntries;

struct List {  // owns a list for the duration of a test
  FET *fet = nullptr;
  explicit List(const char *text) { EXPECT_EQ(string2fet(&fet, text), 0); }
  ~List() { freefet(fet); }
};

TEST(NistcomEdit, DeletingKeepsTheOthersInOrder) {
  List l("A 1\nB 2\nC 3");
  ASSERT_EQ(deletefet_ret("B", l.fet), 0);
  EXPECT_EQ(Of(l.fet), (Entries{{"A", "1"}, {"C", "3"}}));
  testing::internal::CaptureStderr();
  EXPECT_EQ(deletefet_ret("B", l.fet), -2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR : deletefet_ret : feature B not found\n");
}

TEST(NistcomEdit, MethodFieldsGoAndTheCountFollows) {
  List l("NIST_COM 4\nPPI 500\nCOMPRESSION JPEGL\nJPEGL_PREDICT 3");
  ASSERT_EQ(del_jpegl_nistcom(l.fet), 0);
  EXPECT_EQ(Of(l.fet), (Entries{{"NIST_COM", "2"}, {"PPI", "500"}}));

  List partial("NIST_COM 3\nCOMPRESSION WSQ\nPPI 500");
  testing::internal::CaptureStderr();
  EXPECT_EQ(del_wsq_nistcom(partial.fet), -2);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(Of(partial.fet), (Entries{{"NIST_COM", "3"}, {"PPI", "500"}}))
      << "the removal done stays, the count is not set";
}

TEST(NistcomEdit, BaselineFieldsByColourSpace) {
  FET *fet = nullptr;
  ASSERT_EQ(combine_jpegb_nistcom(&fet, 64, 48, 8, 500, 1, "GRAY", 1, 0, 75), 0);
  EXPECT_EQ(Of(fet), (Entries{{"NIST_COM", "9"}, {"PIX_WIDTH", "64"}, {"PIX_HEIGHT", "48"},
                              {"PIX_DEPTH", "8"}, {"PPI", "500"}, {"LOSSY", "1"},
                              {"COLORSPACE", "GRAY"}, {"COMPRESSION", "JPEGB"},
                              {"JPEGB_QUALITY", "75"}}));
  freefet(fet);
  fet = nullptr;
  ASSERT_EQ(combine_jpegb_nistcom(&fet, 64, 48, 24, 500, 1, "YCbCr", 3, 1, 75), 0);
  EXPECT_EQ(Of(fet)[8], (std::pair<std::string, std::string>{"HV_FACTORS", "2,2:1,1:1,1"}));
  freefet(fet);
}

// Four components are the most the lossless fields describe; a fifth is
// refused and the list made for the call is gone.
TEST(NistcomEdit, LosslessFieldsForUpToFourComponents) {
  const int hor[5] = {2, 1, 1, 1, 1}, vrt[5] = {2, 1, 1, 1, 1};
  FET *fet = nullptr;
  ASSERT_EQ(combine_jpegl_nistcom(&fet, 64, 48, 8, 500, 0, 4, hor, vrt, 1, 6), 0);
  EXPECT_EQ(Of(fet), (Entries{{"NIST_COM", "11"}, {"PIX_WIDTH", "64"}, {"PIX_HEIGHT", "48"},
                              {"PIX_DEPTH", "8"}, {"PPI", "500"}, {"LOSSY", "0"},
                              {"NUM_COMPONENTS", "4"}, {"HV_FACTORS", "2,2:1,1:1,1:1,1"},
                              {"INTERLEAVE", "1"}, {"COMPRESSION", "JPEGL"},
                              {"JPEGL_PREDICT", "6"}}));
  freefet(fet);
  fet = nullptr;
  testing::internal::CaptureStderr();
  EXPECT_EQ(combine_jpegl_nistcom(&fet, 64, 48, 8, 500, 0, 5, hor, vrt, 1, 6), -13);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(fet, nullptr);
}

TEST(NistcomEdit, UnknownOrMissingColourSpaceLeavesNoList) {
  for (const char *space : {"CMYK", static_cast<const char *>(nullptr)}) {
    FET *fet = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(combine_jpegb_nistcom(&fet, 64, 48, 24, 500, 1, space, 3, 1, 75), -2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("ERROR : combine_jpegb_nistcom : unknown/unsupported colorspace = ") +
                  (space ? space : "(null)") + "\n");
    EXPECT_EQ(fet, nullptr) << "the list made for the call is gone, and so is the pointer";
  }
}

TEST(FetResize, CapacityBelowTheEntriesIsRefusedAndAnEmptyListGrowsInPlace) {
  List l("A 1\nB 2\nC 3");
  testing::internal::CaptureStderr();
  EXPECT_EQ(reallocfet_ret(&l.fet, 2), -4);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(Of(l.fet).size(), 3u);
  EXPECT_EQ(l.fet->capacity, 100);
  FET *fet = allocfet(0);
  FET *same = fet;
  ASSERT_EQ(reallocfet_ret(&fet, 4), 0);
  EXPECT_EQ(fet, same);
  EXPECT_EQ(reallocfet(fet, 8), same);
  updatefet("A", nullptr, fet);
  EXPECT_EQ(fet->capacity, 8);
  freefet(fet);
}

TEST(FetExit, FullListsGrowByATenthOrAtLeastTen) {
  for (auto [capacity, grown] : {std::pair<int, int>{30, 40}, {200, 220}, {0, 10}}) {
    FET *fet = allocfet(capacity);
    for (int i = 0; i <= capacity; ++i) updatefet(std::to_string(i).c_str(), "v", fet);
    EXPECT_EQ(fet->capacity, grown) << capacity;
    updatefet("last", nullptr, fet);
    EXPECT_EQ(fet->values[fet->count - 1], nullptr) << "a grown slot reads as no value";
    freefet(fet);
  }
}

TEST(FetExit, ExtractingAnEntryWithoutValueGivesNone) {
  List l("B 2\nA");
  EXPECT_EQ(extractfet("A", l.fet), nullptr);
  char *b = extractfet("B", l.fet);
  EXPECT_STREQ(b, "2");
  std::free(b);
}

using testing::Eq;
using testing::ExitedWithCode;

TEST(FetExitDeathTest, AbsentNamesEndTheProcessWithStatus1) {
  List l("A 1");
  EXPECT_EXIT(extractfet("PPI", l.fet), ExitedWithCode(1),
              Eq("ERROR: extractfet: PPI: not found\n"));
  EXPECT_EXIT(deletefet("Z", l.fet), ExitedWithCode(1),
              Eq("ERROR: deletefet: Z: Feature not found\n"));
  EXPECT_EXIT(reallocfet(l.fet, 0), ExitedWithCode(1),
              Eq("ERROR: reallocfet: new capacity: below entry count\n"));
}

TEST(FetExitDeathTest, ReportersPrintTheirTextsAndStatus) {
  EXPECT_EXIT(fatalerr("one", nullptr, "ignored"), ExitedWithCode(1), Eq("ERROR: one\n"));
  EXPECT_EXIT(fatalerr("one", "two", nullptr), ExitedWithCode(1), Eq("ERROR: one: two\n"));
  EXPECT_EXIT(syserr("f", "malloc", "fet"), ExitedWithCode(255), Eq("ERROR: f: malloc: fet\n"));
  EXPECT_EXIT(syserr("f", "malloc", nullptr), ExitedWithCode(255), Eq("ERROR: f: malloc\n"));
}

TEST(FetExitDeathTest, PendingStandardOutputComesFirst) {
  tsltest::TempDir dir;
  const std::string path = dir.File("both.txt");
  std::fflush(stdout);
  EXPECT_EXIT(
      {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        dup2(fd, 2);
        std::printf("pending");  // held in the buffer: no line end
        fatalerr("a", "b", "c");
      },
      ExitedWithCode(1), "");
  const tsltest::Bytes both = tsltest::ReadFile(path);
  EXPECT_EQ(std::string(both.begin(), both.end()), "pendingERROR: a: b: c\n");
}

}  // namespace
