// The disc lives in the state directory: it survives reloading the library,
// is shared by processes, and exports as a flat image.

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "drive_fixture.h"
#include "simdrive/simdrive.h"

namespace fornax::sim::test {
namespace {

namespace fs = std::filesystem;

// A separate copy of the library: its own process-wide drive object.
struct LoadedLibrary {
  void* handle = nullptr;
  SendFn send = nullptr;
  int (*set_state_dir)(const char*) = nullptr;
  int (*insert)(const char*) = nullptr;

  explicit LoadedLibrary(const std::string& path) {
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return;
    send = reinterpret_cast<SendFn>(dlsym(handle, "SendASPI32Command"));
    set_state_dir = reinterpret_cast<int (*)(const char*)>(dlsym(handle, "fornax_sim_set_state_dir"));
    insert = reinterpret_cast<int (*)(const char*)>(dlsym(handle, "fornax_sim_insert"));
  }
  ~LoadedLibrary() {
    if (handle != nullptr) dlclose(handle);
  }
};

class Persistence : public DriveTest {
 protected:
  std::string CopyOfLibrary(const char* name) {
    const std::string path = dir_ + "/" + name;
    fs::copy_file(FORNAX_SIMDRIVE_LIBRARY, path, fs::copy_options::overwrite_existing);
    return path;
  }
  static std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
};

TEST_F(Persistence, DiscSurvivesReloadingTheLibrary) {
  {
    LoadedLibrary first(CopyOfLibrary("first.so"));
    ASSERT_NE(first.send, nullptr) << dlerror();
    ASSERT_EQ(first.set_state_dir(dir_.c_str()), 0);
    ASSERT_EQ(first.insert("cd-r"), 0);
    EXPECT_SENSE(Send(cdb::TestUnitReady(), 0, first.send), 6, 0x28, 0x00);
    EXPECT_GOOD(SendOut(cdb::Write10(0, 27), Pattern(0, 27, 0x3C), first.send));
  }
  LoadedLibrary second(CopyOfLibrary("second.so"));
  ASSERT_NE(second.send, nullptr) << dlerror();
  ASSERT_EQ(second.set_state_dir(dir_.c_str()), 0);
  const Outcome track = Send(cdb::TrackInformation(1), 40, second.send);
  EXPECT_EQ(track.Be32(12), 27u) << "the next writable address came through the files";
  EXPECT_EQ(Send(cdb::Read10(0, 27), 27 * 2048, second.send).data, Pattern(0, 27, 0x3C));
  EXPECT_EQ(NextWritable(1), 27u) << "and the linked drive sees it too";
}

TEST_F(Persistence, ProcessesTakeTurnsOnOneDrive) {
  Insert("dvd+r");
  constexpr int kChunksEach = 15;
  auto append = [&](uint8_t fill) {
    int done = 0;
    while (done < kChunksEach) {
      const uint32_t nwa = ReadTrack(1).Be32(12);
      const Outcome w = Write(nwa, 32, fill);
      if (w.Ok()) ++done;
      else if (!(w.Asc() == 0x21 && w.Ascq() == 0x02)) return false;  // the other one was faster
    }
    return true;
  };
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(append(0x11) ? 0 : 1);
  const bool parent_ok = append(0x22);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(parent_ok);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(NextWritable(1), 2u * kChunksEach * 32) << "no write lost between the processes";
  const Outcome all = Send(cdb::Read10(0, 2 * kChunksEach * 32), 2 * kChunksEach * 32 * 2048);
  for (uint32_t block = 0; block < 2 * kChunksEach * 32; ++block) {
    uint32_t named = 0;
    std::memcpy(&named, &all.data[size_t{block} * 2048], sizeof named);
    ASSERT_EQ(named, block) << "block " << block << " holds another block's data";
  }
}

TEST_F(Persistence, FreshDirectoryHoldsABlankDvdPlusRInAClosedTray) {
  const std::string fresh = dir_ + "/fresh/nested";
  ASSERT_EQ(fornax_sim_set_state_dir(fresh.c_str()), 0) << fornax_sim_last_error();
  EXPECT_GOOD(Send(cdb::TestUnitReady()));
  EXPECT_EQ(Send(cdb::GetConfiguration(2, 0), 8).Be16(6), 0x001B);
  EXPECT_EQ(DiscInfo().data[2] & 0x03, 0);
  for (const char* file : {"lock", "state", "disc.data"}) EXPECT_TRUE(fs::exists(fresh + "/" + file)) << file;
  const auto state = FileBytes(fresh + "/state");
  ASSERT_GE(state.size(), 8u);
  EXPECT_EQ(std::string(state.begin(), state.begin() + 8), "FXSIMST2") << "the header of the two slots";
  const std::string text(state.begin(), state.end());
  EXPECT_NE(text.find("fornax-simdrive-state 1\nidentity.vendor FORNAX\n"), std::string::npos)
      << "a slot holds the state as text";

  std::ofstream(fresh + "/state") << "something else\n";
  EXPECT_GOOD(Send(cdb::TestUnitReady())) << "an unreadable state gives a fresh drive";
  EXPECT_TRUE(fs::exists(fresh + "/state.corrupt"));
  ASSERT_EQ(fornax_sim_insert("cd-r"), 0);
  ASSERT_EQ(fornax_sim_reset(), 0);
  EXPECT_EQ(Send(cdb::GetConfiguration(2, 0), 8).Be16(6), 0x001B) << "reset gives the fresh drive";
}

TEST_F(Persistence, AStateOfTheFormatBeforeTheSlotsIsTakenOver) {
  const std::string old = dir_ + "/old";
  fs::create_directories(old);
  std::ofstream(old + "/state") << "fornax-simdrive-state 1\n"
                                   "tray closed\n"
                                   "medium cd-r\n"
                                   "disc.open 11702 0 4\n"
                                   "disc.closed-sessions 1\n"
                                   "track 0 302 300 1 0 1 4\n";
  ASSERT_EQ(fornax_sim_set_state_dir(old.c_str()), 0);
  EXPECT_EQ(NextWritable(2), 11702u) << "the disc of the old file";
  EXPECT_EQ(Send(cdb::ReadToc(0, false), 255).Be32(16), 302u);
  ASSERT_EQ(fornax_sim_set_write_speed(0), 0);
  const auto state = FileBytes(old + "/state");
  EXPECT_EQ(std::string(state.begin(), state.begin() + 8), "FXSIMST2") << "stored in the new form";
  EXPECT_FALSE(fs::exists(old + "/state.corrupt"));
}

TEST_F(Persistence, AFolderRemovedUnderTheProcessIsMadeAgain) {
  Insert("cd-r");
  ASSERT_GOOD(Write(0, 27));
  fs::remove_all(dir_);
  EXPECT_GOOD(Send(cdb::TestUnitReady())) << "a fresh drive";
  EXPECT_EQ(Send(cdb::GetConfiguration(2, 0), 8).Be16(6), 0x001B);
  EXPECT_TRUE(fs::exists(dir_ + "/state"));
}

TEST_F(Persistence, ExportIsTheFlatImageAndStaysSparse) {
  Insert("dvd-ram");
  ASSERT_GOOD(Write(0, 32, 0x01));
  ASSERT_GOOD(Write(2000000, 16, 0x02));
  struct stat data {};
  ASSERT_EQ(stat((dir_ + "/disc.data").c_str(), &data), 0);
  EXPECT_LT(data.st_blocks * 512, 4 << 20) << "only written sectors take space";

  const std::string image = dir_ + "/disc.iso";
  ASSERT_EQ(fornax_sim_export(image.c_str()), 0) << fornax_sim_last_error();
  struct stat st {};
  ASSERT_EQ(stat(image.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 2000016LL * 2048);
  EXPECT_LT(st.st_blocks * 512, 4 << 20);
  std::ifstream in(image, std::ios::binary);
  std::vector<uint8_t> head(32 * 2048), tail(16 * 2048), gap(2048);
  in.read(reinterpret_cast<char*>(head.data()), head.size());
  in.seekg(1000 * 2048);
  in.read(reinterpret_cast<char*>(gap.data()), gap.size());
  in.seekg(2000000LL * 2048);
  in.read(reinterpret_cast<char*>(tail.data()), tail.size());
  EXPECT_EQ(head, Pattern(0, 32, 0x01));
  EXPECT_EQ(gap, std::vector<uint8_t>(2048, 0));
  EXPECT_EQ(tail, Pattern(2000000, 16, 0x02));
}

// A burn's stream of writes has blocks reserved a step ahead of it: the data
// must read back as written, the file must end where the data ends, and the
// space taken stay within one step of what was written.
TEST_F(Persistence, AStreamOfWritesReadsBackAndTakesHardlyMoreThanItWrote) {
  Insert("dvd-ram");
  std::vector<uint8_t> expected;
  for (uint32_t i = 0; i < 80; ++i) {
    ASSERT_GOOD(Write(i * 32, 32, static_cast<uint8_t>(0x10 + i % 7)));
    const std::vector<uint8_t> piece = Pattern(i * 32, 32, static_cast<uint8_t>(0x10 + i % 7));
    expected.insert(expected.end(), piece.begin(), piece.end());
  }
  const std::string data = dir_ + "/disc.data";
  struct stat st {};
  ASSERT_EQ(stat(data.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 80 * 32 * 2048) << "the file ends where the data ends";
  EXPECT_LE(st.st_blocks * 512, 80 * 32 * 2048 + (2 << 20) + (64 << 10));
  EXPECT_TRUE(FileBytes(data) == expected) << "the sectors read back differ from those written";
}

TEST_F(Persistence, ExportOfACdIncludesTheRunOut) {
  Insert("cd-r");
  ASSERT_GOOD(Write(0, 300, 0x07));
  ASSERT_GOOD(Send(cdb::SyncCache(false)));
  const std::string image = dir_ + "/cd.iso";
  ASSERT_EQ(fornax_sim_export(image.c_str()), 0);
  const auto bytes = FileBytes(image);
  ASSERT_EQ(bytes.size(), 302u * 2048);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 300 * 2048), Pattern(0, 300, 0x07));
}

}  // namespace
}  // namespace fornax::sim::test
