// Copying a source into its extent of an image file, by the kernel's copy or
// from windows mapped from the source a step ahead: either way the bytes land
// where the layout put them whatever the offsets, and a source cut short or a
// cancel ends the copy as it should.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <string>

#include "engine/base/sector.h"
#include "engine/image/extent_copy.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

std::string RandomBytes(size_t length, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(length, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

class ExtentCopy : public ::testing::TestWithParam<bool> {
 protected:
  // Copies `source` to offset `at` of a new image of `before` bytes of 'x';
  // returns what CopyExtent said and the image's bytes.
  TExtentCopy Copy(const std::string& sourcePath, int64_t sourceSize, int64_t plannedBytes, int64_t at,
                   std::string& image, std::atomic<int64_t>& progress, const std::atomic<bool>* cancel = nullptr) {
    const std::string imagePath = Tmp.Path("image.iso");
    Tmp.Write("image.iso", std::string(static_cast<size_t>(at), 'x'));
    const int source = ::open(sourcePath.c_str(), O_RDONLY);
    const int target = ::open(imagePath.c_str(), O_WRONLY);
    EXPECT_GE(source, 0);
    EXPECT_GE(target, 0);
    const TExtentCopy copy = CopyExtent(source, sourceSize, target, at, plannedBytes, false, &progress, cancel,
                                        GetParam());
    ::close(source);
    ::close(target);
    image = test::TTempFolder::Read(imagePath);
    return copy;
  }
  test::TTempFolder Tmp;
};

TEST_P(ExtentCopy, LargeSourcesLandWhereTheLayoutPutThemAtAnyOffset) {
  // Over two mapping windows, ending inside a page, at offsets on and off
  // the image's 1 MiB boundaries.
  const std::string bytes = RandomBytes((size_t{33} << 20) + 1234, 7);
  const std::string path = Tmp.Write("large.bin", bytes);
  for (const int64_t at : {int64_t{0}, int64_t{2048}, int64_t{(1 << 20) - 2048}, int64_t{7 * 2048}}) {
    SCOPED_TRACE(at);
    std::string image;
    std::atomic<int64_t> progress{0};
    const TExtentCopy copy =
        Copy(path, static_cast<int64_t>(bytes.size()), static_cast<int64_t>(bytes.size()), at, image, progress);
    EXPECT_FALSE(copy.Shrunk || copy.Grown || copy.Cancelled);
    const int64_t extent = RoundUpToSector(static_cast<int64_t>(bytes.size()));
    ASSERT_EQ(static_cast<int64_t>(image.size()), at + extent);
    EXPECT_EQ(image.substr(0, static_cast<size_t>(at)), std::string(static_cast<size_t>(at), 'x'));
    EXPECT_TRUE(image.compare(static_cast<size_t>(at), bytes.size(), bytes) == 0) << "the copied bytes differ";
    EXPECT_EQ(image.substr(static_cast<size_t>(at) + bytes.size()), std::string(extent - bytes.size(), '\0'));
    EXPECT_EQ(progress.load(), extent);
  }
}

TEST_P(ExtentCopy, ASourceCutShortAfterItWasOpenedEndsInZerosAndIsSaidToHaveShrunk) {
  // The planned length is beyond the file's end: the mapping's pages past it
  // cannot be read, which must end the copy as a shrunk source, not a crash
  // or a read error.
  const std::string bytes = RandomBytes(size_t{9} << 20, 8);
  const std::string path = Tmp.Write("cut.bin", bytes);
  const int64_t planned = int64_t{20} << 20;
  const size_t kept = (size_t{5} << 20) + 100;
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(kept)), 0);
  std::string image;
  std::atomic<int64_t> progress{0};
  const TExtentCopy copy = Copy(path, static_cast<int64_t>(bytes.size()), planned, 4096, image, progress);
  EXPECT_TRUE(copy.Shrunk);
  ASSERT_EQ(image.size(), size_t{4096} + static_cast<size_t>(planned));
  EXPECT_TRUE(image.compare(4096, kept, bytes, 0, kept) == 0) << "the bytes before the cut differ";
  EXPECT_EQ(image.find_first_not_of('\0', 4096 + kept), std::string::npos) << "the cut off part is not zeros";
  EXPECT_EQ(progress.load(), planned);
}

TEST_P(ExtentCopy, ACancelStopsALargeCopyBetweenWrites) {
  const std::string bytes = RandomBytes(size_t{24} << 20, 9);
  const std::string path = Tmp.Write("cancelled.bin", bytes);
  std::string image;
  std::atomic<int64_t> progress{0};
  const std::atomic<bool> cancel{true};
  const TExtentCopy copy =
      Copy(path, static_cast<int64_t>(bytes.size()), static_cast<int64_t>(bytes.size()), 0, image, progress, &cancel);
  EXPECT_TRUE(copy.Cancelled);
  EXPECT_EQ(progress.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(KernelCopyOrMapped, ExtentCopy, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "mapped_ahead" : "kernel_copy"; });

}  // namespace
}  // namespace fornax
