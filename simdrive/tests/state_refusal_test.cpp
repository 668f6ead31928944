// A stored state that no drive reaches, written into the folder by hand: the
// drive refuses it with its reason, sets it aside and starts afresh, and never
// acts on it. The control interface sets only states the drive takes back.

#include <filesystem>
#include <fstream>
#include <functional>

#include "drive_fixture.h"
#include "simdrive/simdrive.h"
#include "simdrive/state_check.h"

namespace fornax::sim::test {
namespace {

namespace fs = std::filesystem;

// The sectors the refused state claimed, which must not be lost with it.
const std::string kSectors(4096, 'S');

class StateRefusal : public DriveTest {
 protected:
  // A folder holding `lines` as its state (the plain format a person edits).
  std::string FolderWithState(const std::string& name, const std::string& lines) {
    const std::string folder = dir_ + "/" + name;
    fs::create_directories(folder);
    std::ofstream(folder + "/state") << "fornax-simdrive-state 1\n" << lines;
    std::ofstream(folder + "/disc.data") << kSectors;
    return folder;
  }
  static std::string Describe() {
    std::vector<char> text(1 << 16);
    EXPECT_EQ(fornax_sim_describe(text.data(), text.size()), 0) << fornax_sim_last_error();
    return text.data();
  }
  // The drive, now reading its state anew as another process would.
  void Reload(const std::string& folder) { ASSERT_EQ(fornax_sim_set_state_dir(folder.c_str()), 0); }
};

// Two stored states the drive once took, each with the command that went wrong on
// it: the full TOC looped for ever under the drive's lock, and the session
// info (the kernel's multisession probe, old format field 40h) read past the
// end of the TOC.
TEST_F(StateRefusal, AnUnreachableStateIsSetAsideWithItsReasonAndNeverAnswered) {
  const struct {
    const char* name;
    const char* lines;
    std::vector<uint8_t> cdb;
    const char* reason;
  } rows[] = {
      {"full-toc",
       "medium cd-r\ndisc.open 11702 0 4\ndisc.closed-sessions 65535\ntrack 0 302 300 1 0 1 4\n",
       {0x43, 0x02, 0x02, 0, 0, 0, 0, 0x0F, 0xFF, 0},
       "disc.closed-sessions: 65535, but session 2 holds no track"},
      {"session-info",
       "medium cd-r\ndisc.open 11702 0 4\ndisc.closed-sessions 3\ntrack 0 302 300 1 0 1 4\n",
       {0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0x40},
       "disc.closed-sessions: 3, but session 2 holds no track"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string folder = FolderWithState(row.name, row.lines);
    Reload(folder);
    std::vector<uint8_t> answer(4095, 0xEE), sense(18, 0);
    uint32_t transferred = 0;
    testing::internal::CaptureStderr();
    const int status =
        fornax_sim_execute(row.cdb.data(), row.cdb.size(), 1, answer.data(), static_cast<uint32_t>(answer.size()),
                           &transferred, sense.data(), sense.size());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 2) << "a fresh blank DVD+R has no TOC";
    EXPECT_EQ(SenseText(sense[2] & 0x0F, sense[12], sense[13]), SenseText(5, 0x24, 0));
    EXPECT_EQ(transferred, 0u);
    const std::string refusal =
        std::string("the stored drive state was refused: ") + row.reason +
        "; set aside as state.corrupt, its sectors as disc.data.corrupt";
    EXPECT_NE(said.find(refusal), std::string::npos) << said;
    EXPECT_NE(Describe().find(refusal + "\n"), std::string::npos) << Describe();
    EXPECT_TRUE(fs::exists(folder + "/state.corrupt"));
    std::ifstream kept(folder + "/disc.data.corrupt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), kSectors) << "the disc's bytes are kept";
    EXPECT_EQ(Send(cdb::GetConfiguration(2, 0), 8).Be16(6), 0x001B) << "a blank DVD+R in its place";
    Reload(folder);
    EXPECT_NE(Describe().find(refusal), std::string::npos) << "stored with the fresh state, for every process";
    ASSERT_EQ(fornax_sim_reset(), 0);
    EXPECT_EQ(Describe().find("refused"), std::string::npos) << "a reset forgets it";
  }
}

// What a user writes into the state reaches no terminal as it is.
TEST_F(StateRefusal, TheReasonIsOnePrintableLineHoweverTheStateIsWritten) {
  const std::string folder =
      FolderWithState("control", "identity.vendor \x1b[2Jgone\ntrack 1 2 \x1b]0;" + std::string(500, 'x') + "\n");
  Reload(folder);
  testing::internal::CaptureStderr();
  EXPECT_GOOD(Send(cdb::TestUnitReady()));
  const std::string said = testing::internal::GetCapturedStderr();
  const std::string described = Describe();
  const size_t at = described.find("the stored drive state was refused: line 3 of the state is malformed");
  ASSERT_NE(at, std::string::npos) << described;
  const std::string line = described.substr(at, described.find('\n', at) - at);
  EXPECT_TRUE(IsPlainText(line, kMaxNoteBytes)) << line;
  EXPECT_EQ(said.find('\x1b'), std::string::npos);
  EXPECT_LE(said.size(), kMaxNoteBytes + dir_.size() + 64);
}

TEST_F(StateRefusal, TheControlInterfaceSetsOnlyStatesTheDriveTakesBack) {
  const std::string long_field(kMaxIdentityBytes + 1, 'V');
  const struct {
    const char* what;
    std::function<int()> call;
    bool accepted;
  } rows[] = {
      {"identity at its limit", [&] { return fornax_sim_set_identity(long_field.c_str() + 1, "P", "R"); }, true},
      {"identity beyond its limit", [&] { return fornax_sim_set_identity("V", long_field.c_str(), "R"); }, false},
      {"identity with a control character", [] { return fornax_sim_set_identity("V", "P", "1\n2"); }, false},
      {"border gap of a whole DVD-R", [] { return fornax_sim_set_border_gap(kMaxBorderGap); }, true},
      {"border gap beyond it", [] { return fornax_sim_set_border_gap(kMaxBorderGap + 1); }, false},
  };
  for (const auto& row : rows) EXPECT_EQ(row.call() == 0, row.accepted) << row.what << ": " << fornax_sim_last_error();
  for (size_t i = 0; i < kMaxFaultEntries; ++i) {
    ASSERT_EQ(fornax_sim_fault_write_error(static_cast<uint32_t>(i), 3, 0x0C, 0), 0);
    ASSERT_EQ(fornax_sim_fault_read_error(static_cast<uint32_t>(i), 1, 0), 0);
  }
  EXPECT_NE(fornax_sim_fault_write_error(9999, 3, 0x0C, 0), 0) << "one write fault too many";
  EXPECT_NE(fornax_sim_fault_write_error_count(9999, 3, 0x0C, 0, 2), 0);
  EXPECT_NE(fornax_sim_fault_read_error(9999, 1, 0), 0) << "one read fault too many";
  Reload(dir_);
  EXPECT_EQ(Describe().find("refused"), std::string::npos) << Describe();
  EXPECT_FALSE(fs::exists(dir_ + "/state.corrupt"));
}

}  // namespace
}  // namespace fornax::sim::test
