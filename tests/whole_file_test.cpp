#include "api/whole_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <tuple>

#include "support/test_support.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using tsltest::Bytes;

TEST(WholeFile, ReadAndWriteWithTheirFailureCodesAndMessages) {
  tsltest::TempDir dir;
  const std::string path = dir.File("a.bin"), missing = dir.File("no/a.wsq"), huge = dir.File("h");
  const unsigned char text[] = "a longer first content";
  ASSERT_EQ(tsl::write_raw_from_memsize(path.c_str(), text, sizeof text - 1), 0);
  for (int length : {2, 0}) {  // writing replaces the content; an empty file reads too
    ASSERT_EQ(tsl::write_raw_from_memsize(path.c_str(), text, length), 0);
    unsigned char *data = nullptr;
    int got = -1;
    ASSERT_EQ(tsl::read_raw_from_filesize(path.c_str(), &data, &got), 0);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(Bytes(data, data + got), Bytes(text, text + length));
    std::free(data);
  }
  // A sparse file of 4 GiB + 5 bytes would read as 5 bytes if its size were
  // taken modulo 2^32.
  tsltest::WriteFile(huge, Bytes{});
  ASSERT_EQ(truncate(huge.c_str(), (off_t{1} << 32) + 5), 0);
  for (const auto &[file, rc, tail] :
       {std::make_tuple(missing, -2, " could not be opened\n"),
        std::make_tuple(huge, -4, " is larger than 2147483647 bytes\n")}) {
    unsigned char *data = nullptr;
    int length = 77;
    CaptureStderr();
    EXPECT_EQ(tsl::read_raw_from_filesize(file.c_str(), &data, &length), rc);
    EXPECT_EQ(GetCapturedStderr(), "ERROR : filesize : file " + file + tail);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(length, 77);
  }
  CaptureStderr();
  EXPECT_EQ(tsl::write_raw_from_memsize(missing.c_str(), text, 4), -2);
  EXPECT_EQ(GetCapturedStderr(), "ERROR: write_raw_from_memsize : fopen : " + missing + "\n");
  if (access("/dev/full", W_OK) != 0) return;
  Bytes many(1 << 16, 7);
  CaptureStderr();
  EXPECT_EQ(tsl::write_raw_from_memsize("/dev/full", many.data(), 1 << 16), -3);
  const std::string err = GetCapturedStderr();
  EXPECT_EQ(err.rfind("ERROR: write_raw_from_memsize : fwrite : only ", 0), 0u) << err;
  EXPECT_NE(err.find(" of 65536 bytes written from file /dev/full\n"), std::string::npos) << err;
}

// Failures whose messages must say what went wrong, not another failure's
// words: a directory has no size to tell, and a full device takes the bytes
// into the stream's buffer and refuses them only when they are flushed.
TEST(WholeFile, DirectoryAndFailedFlushAreReportedAsWhatHappened) {
  tsltest::TempDir dir;
  const std::string folder = dir.File("folder");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  unsigned char *data = nullptr;
  int length = 77;
  CaptureStderr();
  EXPECT_EQ(tsl::read_raw_from_filesize(folder.c_str(), &data, &length), -4);
  EXPECT_EQ(GetCapturedStderr(),
            "ERROR : filesize : " + folder + " is a directory, not a regular file\n");
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(length, 77);

  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  const unsigned char two[] = {1, 2};
  CaptureStderr();
  EXPECT_EQ(tsl::write_raw_from_memsize("/dev/full", two, 2), -3);
  EXPECT_EQ(GetCapturedStderr(),
            "ERROR: write_raw_from_memsize : fflush : flushing 2 bytes to file /dev/full failed\n");
}
