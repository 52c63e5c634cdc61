// Closing a file is where a network file system or a full quota may refuse
// bytes it took earlier. This executable runs with failing_close preloaded
// (see tests/CMakeLists.txt): fclose closes for real and then reports EIO
// for files under the folder TESSALY_FAIL_CLOSE_UNDER names.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "api/whole_file.h"
#include "image/raster_image.h"
#include "support/test_support.h"
#include "tessaly.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

class CloseFailure : public testing::Test {
 protected:
  void SetUp() override {
    char *real = realpath(dir_.path().c_str(), nullptr);
    ASSERT_NE(real, nullptr);
    folder_ = real;
    std::free(real);
    setenv("TESSALY_FAIL_CLOSE_UNDER", (folder_ + "/").c_str(), 1);
    FILE *probe = std::fopen(File("probe").c_str(), "wb");
    ASSERT_NE(probe, nullptr);
    ASSERT_EQ(std::fclose(probe), EOF) << "failing_close is not preloaded";
  }
  void TearDown() override { unsetenv("TESSALY_FAIL_CLOSE_UNDER"); }
  std::string File(const std::string &name) const { return folder_ + "/" + name; }

 private:
  tsltest::TempDir dir_;
  std::string folder_;
};

TEST_F(CloseFailure, WholeFileWriterReturnsMinus3WithItsMessage) {
  const std::string path = File("a.bin");
  const unsigned char text[] = {1, 2, 3, 4};
  CaptureStderr();
  EXPECT_EQ(tsl::write_raw_from_memsize(path.c_str(), text, 4), -3);
  EXPECT_EQ(GetCapturedStderr(),
            "ERROR: write_raw_from_memsize : fclose : closing file " + path + " failed\n");
}

// Formats saved through the whole-file writer (WSQ, JP2, JPC, PBM, PGM,
// PPM) return its -3; raster formats return -111 with the write error as
// the image layer's last error.
TEST_F(CloseFailure, EverySaveFormatReportsIt) {
  constexpr int kSide = 66;  // the WSQ encoder's smallest side is 65
  const tsltest::Bytes grey = tsltest::RidgeImage(kSide, kSide);
  std::vector<unsigned char> planar;
  for (int plane = 0; plane < 3; ++plane) planar.insert(planar.end(), grey.begin(), grey.end());
  for (int format = 1; format <= 12; ++format) {
    SCOPED_TRACE("format " + std::to_string(format));
    const bool raster = format >= 2 && format <= 7;
    const std::string name = File("saved");
    CaptureStderr();
    EXPECT_EQ(SaveImageToFile(name.c_str(), format, kSide, kSide, planar.data()),
              raster ? -111 : -3);
    const std::string err = GetCapturedStderr();
    if (raster) {
      EXPECT_EQ(tsl::GetLastRasterError(), tsl::RASTER_ERR_WRITE);
    } else {
      EXPECT_NE(err.find("ERROR: write_raw_from_memsize : fclose : closing file " + name + "."),
                std::string::npos)
          << err;
    }
  }
}

}  // namespace
