#include <gtest/gtest.h>

#include <string>

#include "support/pipeline_fixture.h"

namespace fornax {
namespace {

// Discs with sessions written by the engine's own burns, read back through
// the drive.
class SessionImport : public test::PipelineTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void BurnSession(const std::string& name, bool joliet) {
    Rec.JolietFileSystem = joliet;
    Fill(Folder(name, 1, 10));
    WriteDone = 0;
    ASSERT_TRUE(Rec.BurnCompilation());
    ASSERT_TRUE(WaitForEnd());
    ASSERT_EQ(Result, "");
  }
  std::string OnlyFile() const {
    const TFEntry* e = Rec.RootDirectory()->FirstEntry;
    return e && !e->Next ? e->LongName : "(not one file)";
  }
};

TEST_P(SessionImport, TheLastSessionOrAnyBeyondIt) {
  Open(GetParam());
  BurnSession("one", true);
  BurnSession("two", true);
  BurnSession("three", false);  // the last session carries no Joliet tree
  ASSERT_EQ(Rec.SessionCount(), 3);
  for (const int asked : {255, 7, 3}) {
    Rec.ClearCompilation(65535, 8191);
    Log.clear();
    ASSERT_TRUE(Rec.ImportDiscSession(asked, nullptr)) << asked;
    EXPECT_EQ(OnlyFile(), "FILE0.BIN") << "session 3, through its primary descriptor";
    ASSERT_EQ(Log.size(), 1u) << Log.back();
    EXPECT_EQ(Log[0], ">>> IMPORTING SESSION # 3");
  }
  Rec.ClearCompilation(65535, 8191);
  ASSERT_TRUE(Rec.ImportDiscSession(2, nullptr));
  EXPECT_EQ(OnlyFile(), "file0.bin") << "session 2 through its Joliet tree";
  const TFEntry* file = Rec.RootDirectory()->FirstEntry;
  EXPECT_TRUE(file->Imported);
  EXPECT_EQ(file->ISOSize, 10 * 1024);
  EXPECT_FALSE(Rec.ImportDiscSession(0, nullptr));
}

TEST_P(SessionImport, ABlankDiscHasNothingToImportAndSaysNothing) {
  Open(GetParam());
  Log.clear();
  EXPECT_FALSE(Rec.ImportDiscSession(255, nullptr));
  EXPECT_TRUE(Log.empty());
}

INSTANTIATE_TEST_SUITE_P(SimulatedRecorder, SessionImport, ::testing::Values("cd-r", "dvd+r"),
                         [](const auto& info) { return std::string(info.param[3] == 'r' ? "cd_r" : "dvd_plus_r"); });

}  // namespace
}  // namespace fornax
