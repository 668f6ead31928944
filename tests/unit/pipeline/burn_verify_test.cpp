#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "support/pipeline_fixture.h"

namespace fornax {
namespace {

// The hashes the cache keeps while it reads the sources, and the verify of
// the written session through the simulated recorder.
class BurnVerify : public test::PipelineTest {
 protected:
  void Burn(const char* kind, bool record = true) {
    Open(kind);
    Rec.RecordForVerify = record;
    Tmp.Write("src/notes.txt", "some notes\n");
    Tmp.Write("src/empty.txt", "");
    Tmp.Write("src/sub/big.bin", std::string(300 * 2048 + 5, 'x'));
    Tmp.Write("src/sub/small.bin", std::string(3000, 'y'));
    Fill(Tmp.Path("src") + "/");
    ASSERT_TRUE(Rec.BurnCompilation());
    ASSERT_TRUE(WaitForEnd());
    ASSERT_EQ(Result, "");
  }
  const TSentFile& Sent(const std::string& path) {
    const auto& files = Rec.LastBurn().Files();
    const auto found = std::find_if(files.begin(), files.end(), [&](const TSentFile& f) { return f.DiscPath == path; });
    EXPECT_NE(found, files.end()) << path;
    return *found;
  }
};

TEST_F(BurnVerify, TheCacheKeepsTheHashOfEveryFileByItsExtentAndPath) {
  Burn("dvd+r");
  const auto& files = Rec.LastBurn().Files();
  ASSERT_EQ(files.size(), 4u);
  const TSentFile& big = Sent("/sub/big.bin");
  const std::string bytes(300 * 2048 + 5, 'x');
  EXPECT_EQ(big.Hash, HashBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  EXPECT_TRUE(big.Sent);
  EXPECT_FALSE(big.ChangedWhileRead);
  EXPECT_EQ(big.SourcePath, Tmp.Path("src/sub/big.bin"));
  EXPECT_GT(big.Extent, static_cast<uint32_t>(Rec.SessionStart()));
  EXPECT_EQ(Sent("/empty.txt").Hash, HashBytes(nullptr, 0));
}

TEST_F(BurnVerify, ASoundSessionVerifiesOnACd) {
  Burn("cd-r");
  const TVerifyReport report = Rec.VerifyLastBurn();
  EXPECT_TRUE(report.Passed()) << VerifySummary(report);
  EXPECT_EQ(report.FilesChecked, 4);
  EXPECT_EQ(report.FilesMatching, 4);
}

TEST_F(BurnVerify, ASoundSessionVerifiesOnAnOverwritableDvd) {
  Burn("dvd+rw");
  const TVerifyReport report = Rec.VerifyLastBurn();
  EXPECT_TRUE(report.Passed()) << VerifySummary(report);
  EXPECT_EQ(report.FilesMatching, 4);
}

TEST_F(BurnVerify, ACorruptSectorIsNamedWithItsFileAndTheOthersStillMatch) {
  Burn("dvd+r");
  const uint32_t bad = Sent("/sub/big.bin").Extent + 250;
  ASSERT_EQ(Sim.Call("fornax_sim_fault_corrupt", bad, 1u), 0);
  const TVerifyReport report = Rec.VerifyLastBurn();
  ASSERT_TRUE(report.Ran) << report.Error;
  ASSERT_EQ(report.Problems.size(), 1u) << VerifySummary(report);
  EXPECT_EQ(report.Problems[0].Path, "/sub/big.bin");
  EXPECT_EQ(report.Problems[0].Kind, TVerifyProblem::Differs);
  EXPECT_EQ(report.Problems[0].Sectors, (std::vector<TSectorRange>{{bad, 1}}));
  EXPECT_EQ(report.FilesMatching, 3);
}

TEST_F(BurnVerify, ASourceChangedAfterItWasSentIsNamedAndATouchAloneIsNot) {
  Burn("dvd+r");
  Tmp.Write("src/notes.txt", "other notes\n");  // same size, other bytes
  // Same bytes written again: only the modification time moves.
  Tmp.Write("src/sub/small.bin", std::string(3000, 'y'));
  const TVerifyReport report = Rec.VerifyLastBurn();
  ASSERT_EQ(report.Problems.size(), 1u) << VerifySummary(report);
  EXPECT_EQ(report.Problems[0].Path, "/notes.txt");
  EXPECT_EQ(report.Problems[0].Kind, TVerifyProblem::ChangedDuringBurn);
}

TEST_F(BurnVerify, AnImageBurnKeepsChunkHashesAndNamesCorruptSectors) {
  Open("cd-r");
  std::string image(500 * 2048, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 / 2048 + i);
  const std::string path = Tmp.Write("in.iso", image);
  ASSERT_TRUE(Rec.BurnISOFile(path));
  ASSERT_TRUE(WaitForEnd());
  ASSERT_EQ(Result, "");
  ASSERT_TRUE(Rec.LastBurn().ForImage());
  EXPECT_EQ(Rec.LastBurn().Chunks().size(), (500u + 26) / 27) << "chunks of 27 sectors on a CD";
  EXPECT_TRUE(Rec.VerifyLastBurn().Passed());
  ASSERT_EQ(Sim.Call("fornax_sim_fault_corrupt", 60u, 3u), 0);
  ASSERT_EQ(Sim.Call("fornax_sim_fault_corrupt", 499u, 1u), 0);
  const TVerifyReport report = Rec.VerifyLastBurn();
  EXPECT_EQ(report.FailedSectors, (std::vector<TSectorRange>{{60, 3}, {499, 1}}));
}

TEST_F(BurnVerify, ABurnThatKeptNothingNeverPassesAVerify) {
  // Hashing every byte costs a burn its speed when no verify follows; a
  // verify asked afterwards must then fail, not pass over an empty record.
  Burn("dvd+r", false);
  EXPECT_TRUE(Rec.LastBurn().Files().empty());
  const TVerifyReport report = Rec.VerifyLastBurn();
  EXPECT_FALSE(report.Passed());
  EXPECT_NE(VerifySummary(report).find("a verify was not asked for"), std::string::npos) << VerifySummary(report);

  Open("cd-r");
  const std::string path = Tmp.Write("in.iso", std::string(100 * 2048, 'z'));
  WriteDone = 0;
  Result = "(none)";
  ASSERT_TRUE(Rec.BurnISOFile(path));
  ASSERT_TRUE(WaitForEnd());
  ASSERT_EQ(Result, "");
  EXPECT_TRUE(Rec.LastBurn().Chunks().empty());
  EXPECT_FALSE(Rec.VerifyLastBurn().Passed());
}

}  // namespace
}  // namespace fornax
