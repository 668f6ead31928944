#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/recorder.h"
#include "support/fake_drive.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

using test::TFakeDrive;
using test::TReadOnlyDrive;

// A disc the engine made, in a drive that only reads (each of QEMU's models:
// the READ TOC format from byte 2, or from byte 9 alone): its session is
// found through the table of contents, listed and extracted byte for byte.
class ReadOnlyImport : public ::testing::TestWithParam<bool> {
 protected:
  ReadOnlyImport() {
    Payload = std::string(150000, 'p');
    for (size_t i = 0; i < Payload.size(); i += 997) Payload[i] = static_cast<char>('a' + i % 26);
    {
      TQzRecorder maker;
      maker.ForceDirectoryPath("\\docs");
      EXPECT_TRUE(maker.AddFileEntry("\\docs", Tmp.Write("source/payload.bin", Payload), false));
      maker.BuildISOFile(Tmp.Path("disc.iso"), true);
    }
    const std::string image = test::TTempFolder::Read(Tmp.Path("disc.iso"));
    Drive.Disc.assign(image.begin(), image.end());
    Drive.LeadOut = static_cast<uint32_t>(image.size() / 2048);
    Drive.IgnoresTocFormat = Drive.UntoldTrack = GetParam();
    Fake.Respond = [this](SRB_ExecSCSICmd& srb) { Drive.Answer(srb); };
    Rec.OnDebugMessage = [this](TObject*, const std::string& text, uint8_t) { Log.push_back(text); };
    EXPECT_TRUE(Rec.SelectDevice("0:0:0"));
  }

  test::TTempFolder Tmp;
  std::string Payload;
  TReadOnlyDrive Drive;
  TFakeDrive Fake;
  TQzRecorder Rec;
  std::vector<std::string> Log;
};

TEST_P(ReadOnlyImport, TheLastSessionIsListedAndExtracted) {
  ASSERT_EQ(Rec.SessionCount(), 1);
  EXPECT_FALSE(Rec.SessionCutShort(1)) << "a drive without track information cuts nothing short";
  ASSERT_TRUE(Rec.ImportDiscSession(255, nullptr));
  for (const std::string& line : Log) EXPECT_EQ(line.find("ERROR"), std::string::npos) << line;
  const TFEntry* docs = Rec.FindEntry(Rec.RootDirectory(), "docs");
  ASSERT_NE(docs, nullptr);
  ASSERT_TRUE(docs->IsDirectory());
  const TFEntry* file = Rec.FindEntry(docs->Directory, "payload.bin");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->ISOSize, static_cast<int64_t>(Payload.size()));
  ASSERT_TRUE(Rec.ExtractFile(file, Tmp.Path("out.bin"))) << Rec.ExtractError();
  EXPECT_EQ(test::TTempFolder::Read(Tmp.Path("out.bin")), Payload);
}

TEST_P(ReadOnlyImport, AnEmptyDriveHasNothingToImport) {
  Drive.Empty = true;
  EXPECT_FALSE(Rec.ImportDiscSession(255, nullptr));
  EXPECT_TRUE(Rec.NoMedium());
}

INSTANTIATE_TEST_SUITE_P(QemuModels, ReadOnlyImport, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "IdeCd" : "ScsiCd"); });

}  // namespace
}  // namespace fornax
