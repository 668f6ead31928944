#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "engine/base/bytes.h"
#include "engine/image/stream_ex.h"
#include "support/recorder_fixture.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

class QuickSave : public test::RecorderTest {
 protected:
  QuickSave() {
    Rec.OnWriteDone = [this](TObject*, const std::string& error) {
      ++Done;
      LastError = error;
    };
  }
  std::string Add(const std::string& name, const std::string& content) {
    const std::string path = Tmp.Write(name, content);
    EXPECT_TRUE(Rec.AddFileEntry("\\", path, false));
    return path;
  }
  std::string Build() {
    const std::string image = Tmp.Path("out.iso");
    Rec.BuildISOFile(image, true);
    return test::TTempFolder::Read(image);
  }
  static std::string SectorOf(const std::string& image, int64_t n, size_t count = 2048) {
    return image.substr(static_cast<size_t>(n * 2048), count);
  }

  test::TTempFolder Tmp;
  int Done = 0;
  std::string LastError;
};

TEST_F(QuickSave, OneSmallFileGivesOneHundredFiftyOneSectors) {
  Add("one.bin", std::string(1000, 'x'));
  const std::string image = Build();
  ASSERT_EQ(image.size(), 151u * 2048);
  EXPECT_EQ(SectorOf(image, 150), std::string(1000, 'x') + std::string(1048, '\0'));
  EXPECT_EQ(Done, 1);
  EXPECT_EQ(LastError, "");
  EXPECT_EQ(Rec.BytesWritten(), 151 * 2048);
  EXPECT_EQ(Rec.ISOFileName, "") << "quick save leaves the property alone";
}

TEST_F(QuickSave, EmptyFilesOnlyEndAfterTheHeader) {
  Add("a.txt", "");
  Add("b.txt", "");
  EXPECT_EQ(Build().size(), 150u * 2048);
}

TEST_F(QuickSave, FilesLandAtTheirPlannedSectorsEvenWhenSourcesChange) {
  const std::string shrinking = Add("a.bin", std::string(5000, 'a'));
  const std::string growing = Add("b.bin", std::string(3000, 'b'));
  Add("c.bin", std::string(10, 'c'));
  Tmp.Write("a.bin", std::string(100, 'A'));
  Tmp.Write("b.bin", std::string(9000, 'B'));
  const std::string image = Build();
  ASSERT_EQ(image.size(), (150u + 3 + 2 + 1) * 2048);
  EXPECT_EQ(SectorOf(image, 150, 100), std::string(100, 'A'));
  EXPECT_EQ(SectorOf(image, 150, 3 * 2048).substr(100), std::string(3 * 2048 - 100, '\0'));
  EXPECT_EQ(SectorOf(image, 153, 4096), std::string(3000, 'B') + std::string(1096, '\0'));
  EXPECT_EQ(SectorOf(image, 155, 10), std::string(10, 'c'));
  EXPECT_FALSE(LoggedContaining("INTERNAL ERROR 0004", 4));
  EXPECT_TRUE(LoggedContaining(shrinking, 4));
  EXPECT_TRUE(LoggedContaining(growing, 4));
  EXPECT_EQ(Done, 1);
  EXPECT_NE(LastError.find(shrinking), std::string::npos) << "the build reports failure, naming the file";
}

TEST_F(QuickSave, BootImageIsPaddedToWholeSectors) {
  Rec.Bootable = true;
  Rec.BootImageFile = Tmp.Write("boot.img", std::string(5000, '\x7F'));
  Add("one.bin", "1");
  const std::string image = Build();
  const TImageLayout& p = Rec.Layout();
  EXPECT_EQ(p.BootImageSectors, 3);
  EXPECT_EQ(p.BootImageLocation, 147);
  EXPECT_EQ(SectorOf(image, 149), std::string(904, '\x7F') + std::string(1144, '\0'));
  EXPECT_EQ(GetLe32(reinterpret_cast<const uint8_t*>(image.data()) + p.BootCatalogLocation * 2048 + 40), 147u);
  EXPECT_EQ(SectorOf(image, 150, 1), "1");
}

TEST_F(QuickSave, AMissingSourceFailsAndLeavesNoImage) {
  const std::string gone = Add("gone.bin", "data");
  ::unlink(gone.c_str());
  EXPECT_THROW(Build(), EStreamError);
  struct stat st {};
  EXPECT_NE(::stat(Tmp.Path("out.iso").c_str(), &st), 0);
  EXPECT_EQ(Done, 0);
}

TEST_F(QuickSave, AnImageCannotHoldItself) {
  const std::string image = Tmp.Path("out.iso");
  Tmp.Write("out.iso", std::string(4096, 'o'));
  ASSERT_TRUE(Rec.AddFileEntry("\\", image, false));
  EXPECT_THROW(Rec.BuildISOFile(image, true), EStreamError);
}

TEST_F(QuickSave, HolesOfSparseSourcesReadBackAsZeros) {
  const std::string path = Tmp.Path("sparse.bin");
  {
    TFileStreamEx file(path, fmCreate);
    file.SetSize(3 * 1024 * 1024);
    file.Seek(1024 * 1024, soFromBeginning);
    ASSERT_EQ(file.Write("middle", 6), 6);
  }
  ASSERT_TRUE(Rec.AddFileEntry("\\", path, false));
  Add("after.txt", "tail");
  const std::string image = Build();
  ASSERT_EQ(image.size(), (150u + 1536 + 1) * 2048);
  const std::string data = image.substr(150 * 2048, 3 * 1024 * 1024);
  EXPECT_EQ(data.substr(1024 * 1024, 6), "middle");
  EXPECT_EQ(data.find_first_not_of('\0'), 1024u * 1024);
  EXPECT_EQ(data.find_last_not_of('\0'), 1024u * 1024 + 5);
  EXPECT_EQ(SectorOf(image, 150 + 1536, 4), "tail");
}

TEST(StreamEx, SixtyFourBitPositionsAndSizes) {
  test::TTempFolder tmp;
  const std::string path = tmp.Path("big");
  TFileStreamEx file(path, fmCreate);
  const int64_t beyond = 5LL * 1024 * 1024 * 1024;
  file.SetSize(beyond);
  EXPECT_EQ(file.Size(), beyond);
  EXPECT_EQ(file.Seek(-2, soFromEnd), beyond - 2);
  EXPECT_EQ(file.Write("xy", 2), 2);
  EXPECT_EQ(file.Seek(beyond - 2, soFromBeginning), beyond - 2);
  char back[3] = {};
  EXPECT_EQ(file.Read(back, 3), 2) << "a read at the end returns what there is";
  EXPECT_STREQ(back, "xy");
  EXPECT_THROW(TFileStreamEx(tmp.Path("no/such/file"), fmOpenRead), EStreamError);
  try {
    TFileStreamEx missing(tmp.Path("missing"), fmOpenRead | fmShareDenyNone);
  } catch (const EStreamError& error) {
    EXPECT_NE(std::string(error.what()).find("missing"), std::string::npos);
  }
}

}  // namespace
}  // namespace fornax
