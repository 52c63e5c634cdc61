#include "api/whole_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/test_support.h"

using tsltest::Bytes;
using tsltest::TempDir;

namespace {

std::string StderrOf(int *result, int (*call)(const std::string &), const std::string &arg) {
  testing::internal::CaptureStderr();
  *result = call(arg);
  return testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(WholeFile, ReadsExactBytesAndEmptyFile) {
  TempDir dir;
  Bytes bytes = {0, 1, 2, 255, 0, 13, 10, 26};
  tsltest::WriteFile(dir.File("a.bin"), bytes);
  unsigned char *data = nullptr;
  int length = -1;
  ASSERT_EQ(tsl::read_raw_from_filesize(dir.File("a.bin").c_str(), &data, &length), 0);
  EXPECT_EQ(Bytes(data, data + length), bytes);
  std::free(data);

  tsltest::WriteFile(dir.File("empty"), Bytes{});
  EXPECT_EQ(tsl::filesize(dir.File("empty").c_str()), 0);
  data = nullptr;
  ASSERT_EQ(tsl::read_raw_from_filesize(dir.File("empty").c_str(), &data, &length), 0);
  EXPECT_EQ(length, 0);
  EXPECT_NE(data, nullptr);
  std::free(data);
}

TEST(WholeFile, MissingFileIsMinusTwoWithOneMessage) {
  TempDir dir;
  std::string path = dir.File("missing.wsq");
  int rc = 0;
  std::string err = StderrOf(&rc, [](const std::string &p) { return tsl::filesize(p.c_str()); }, path);
  EXPECT_EQ(rc, -2);
  EXPECT_EQ(err, "ERROR : filesize : file " + path + " could not be opened\n");

  unsigned char *data = reinterpret_cast<unsigned char *>(&rc);
  int length = 77;
  testing::internal::CaptureStderr();
  EXPECT_EQ(tsl::read_raw_from_filesize(path.c_str(), &data, &length), -2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR : filesize : file " + path + " could not be opened\n");
  EXPECT_EQ(data, reinterpret_cast<unsigned char *>(&rc));
  EXPECT_EQ(length, 77);
}

TEST(WholeFile, FileBeyondIntRangeIsRefusedNotWrapped) {
  TempDir dir;
  std::string path = dir.File("huge.bin");
  // A sparse file of 4 GiB + 5 bytes would read as 5 bytes if its size were
  // taken modulo 2^32.
  {
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (ftruncate(fileno(f), (off_t{1} << 32) + 5) != 0) {
      std::fclose(f);
      GTEST_SKIP() << "no sparse files here";
    }
    std::fclose(f);
  }
  unsigned char *data = nullptr;
  int length = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(tsl::read_raw_from_filesize(path.c_str(), &data, &length), -4);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR : filesize : file " + path + " is larger than 2147483647 bytes\n");
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(tsl::filesize(path.c_str()), -4);
}

TEST(WholeFile, WriteCreatesReplacesAndWritesEmpty) {
  TempDir dir;
  std::string path = dir.File("out.pgm");
  const unsigned char big[] = "a longer first content";
  ASSERT_EQ(tsl::write_raw_from_memsize(path.c_str(), big, sizeof big - 1), 0);
  const unsigned char small[] = "xy";
  ASSERT_EQ(tsl::write_raw_from_memsize(path.c_str(), small, 2), 0);
  EXPECT_EQ(tsltest::ReadFile(path), (Bytes{'x', 'y'}));
  ASSERT_EQ(tsl::write_raw_from_memsize(path.c_str(), small, 0), 0);
  EXPECT_TRUE(tsltest::ReadFile(path).empty());
}

TEST(WholeFile, WriteFailuresCarryTheirCodesAndMessages) {
  TempDir dir;
  std::string path = dir.File("no/such/dir/out.jp2");
  const unsigned char bytes[4] = {1, 2, 3, 4};
  testing::internal::CaptureStderr();
  EXPECT_EQ(tsl::write_raw_from_memsize(path.c_str(), bytes, 4), -2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: write_raw_from_memsize : fopen : " + path + "\n");

  if (access("/dev/full", W_OK) == 0) {
    Bytes many(1 << 16, 7);
    testing::internal::CaptureStderr();
    EXPECT_EQ(tsl::write_raw_from_memsize("/dev/full", many.data(), static_cast<int>(many.size())),
              -3);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("ERROR: write_raw_from_memsize : fwrite : only ", 0), 0u) << err;
    EXPECT_NE(err.find(" of 65536 bytes written from file /dev/full\n"), std::string::npos) << err;
  }
}
