// The state folder may be another's (a drive run as root on a user's
// folder): whatever is put in the place of its files, links to files
// outside, hard links, FIFOs, nothing outside the folder is read, written,
// truncated or made, and a file that cannot be used is named in the error.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "drive_fixture.h"
#include "simdrive/simdrive.h"

namespace fornax::sim::test {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

bool Contains(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

enum class Planted { kLinkToAFile, kLinkToNothing, kHardLink, kFifo };

struct Case {
  std::string name;
  Planted what;
  const char* refusal;  // the error naming the file; nullptr: the file is replaced, the call succeeds
};

std::vector<Case> Cases() {
  const std::string temp = "state.tmp." + std::to_string(getpid());
  std::vector<Case> cases;
  for (const char* name : {"lock", "state", "disc.data"}) {
    cases.push_back({name, Planted::kLinkToAFile, "is a symbolic link: refused"});
    cases.push_back({name, Planted::kLinkToNothing, "is a symbolic link: refused"});
    cases.push_back({name, Planted::kHardLink, "has another name (a hard link): refused"});
    cases.push_back({name, Planted::kFifo, "is not a regular file: refused"});
  }
  for (const std::string& name : {temp, std::string("state.corrupt")})
    for (const Planted what : {Planted::kLinkToAFile, Planted::kLinkToNothing, Planted::kHardLink, Planted::kFifo})
      cases.push_back({name, what, nullptr});
  return cases;
}

class StateFolder : public DriveTest {};

// Each file's name in turn holds something planted, with a disc whose
// sectors are recorded: a read, a write, a new medium (which empties the
// sector file) and the fresh state made when "state" is missing or
// unreadable reach nothing outside.
TEST_F(StateFolder, WhatIsPlantedInTheFolderReachesNothingOutsideIt) {
  const std::vector<uint8_t> secret = Pattern(900, 32, 0x5A);
  const std::vector<uint8_t> secret_start(secret.begin() + 4, secret.begin() + 2048);
  int number = 0;
  for (const Case& c : Cases()) {
    const std::string label = c.name + " #" + std::to_string(static_cast<int>(c.what));
    SCOPED_TRACE(label);
    const std::string folder = dir_ + "/drive" + std::to_string(number);
    const std::string outside = dir_ + "/outside" + std::to_string(number++);
    fs::create_directories(outside);
    WriteFile(outside + "/secret", secret);
    ASSERT_EQ(fornax_sim_set_state_dir(folder.c_str()), 0) << fornax_sim_last_error();
    Insert("cd-r");
    ASSERT_GOOD(Write(0, 16, 0x3C));
    ASSERT_EQ(fornax_sim_set_state_dir(dir_.c_str()), 0);  // the drive lets go of the folder's files

    const std::string path = folder + "/" + c.name;
    if (c.name == "state.corrupt") WriteFile(folder + "/state", {'b', 'a', 'd', '\n'});
    else if (c.name.rfind("state.tmp.", 0) == 0) fs::remove(folder + "/state");
    else fs::remove(path);
    switch (c.what) {
      case Planted::kLinkToAFile: fs::create_symlink(outside + "/secret", path); break;
      case Planted::kLinkToNothing: fs::create_symlink(outside + "/made", path); break;
      case Planted::kHardLink: fs::create_hard_link(outside + "/secret", path); break;
      case Planted::kFifo: ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); break;
    }

    ASSERT_EQ(fornax_sim_set_state_dir(folder.c_str()), 0) << fornax_sim_last_error();
    const Outcome read = Send(cdb::Read10(0, 16), 16 * 2048);
    const Outcome write = Write(16, 16, 0x77);
    const int inserted = fornax_sim_insert("cd-r");
    const std::string error = fornax_sim_last_error();
    const Outcome ready = Send(cdb::TestUnitReady());

    EXPECT_EQ(FileBytes(outside + "/secret"), secret) << "the file outside was written or truncated";
    EXPECT_EQ(Names(outside), std::vector<std::string>{"secret"}) << "a file was made outside";
    EXPECT_FALSE(Contains(read.data, secret_start)) << "the file outside was read as the disc";
    if (c.refusal != nullptr) {
      EXPECT_NE(inserted, 0);
      EXPECT_NE(error.find(path + " " + c.refusal), std::string::npos) << error;
      for (const Outcome* o : {&read, &write, &ready}) EXPECT_SENSE(*o, 4, 0x44, 0x00);
    } else {
      EXPECT_EQ(inserted, 0) << error;
      const auto status = fs::symlink_status(path);
      if (c.name == "state.corrupt") {
        EXPECT_TRUE(fs::is_regular_file(status) && FileBytes(path).size() == 4) << "the unreadable state is kept";
      } else {
        EXPECT_FALSE(fs::exists(status)) << "what was under the temporary name is gone";
      }
    }
  }
}

// The folder is opened once, never through a link: a folder that is a link
// is refused, and a folder moved away and replaced by a link to another
// stays the drive's folder.
TEST_F(StateFolder, IsOpenedOnceAndNeverThroughALink) {
  const std::string real = dir_ + "/real", link = dir_ + "/link";
  fs::create_directories(real);
  fs::create_directory_symlink(real, link);
  ASSERT_EQ(fornax_sim_set_state_dir((link + "/").c_str()), 0);
  EXPECT_NE(fornax_sim_insert("cd-r"), 0);
  EXPECT_NE(std::string(fornax_sim_last_error()).find(link + " is a symbolic link: refused"), std::string::npos)
      << fornax_sim_last_error();
  EXPECT_TRUE(fs::is_empty(real));

  const std::string drive = dir_ + "/drive", moved = dir_ + "/moved", other = dir_ + "/other";
  fs::create_directories(other);
  ASSERT_EQ(fornax_sim_set_state_dir(drive.c_str()), 0);
  Insert("cd-r");
  ASSERT_GOOD(Write(0, 16, 0x3C));
  fs::rename(drive, moved);
  fs::create_directory_symlink(other, drive);
  ASSERT_GOOD(Write(16, 16, 0x3D));
  EXPECT_EQ(Send(cdb::Read10(16, 1), 2048).data, Pattern(16, 1, 0x3D));
  EXPECT_TRUE(fs::is_empty(other)) << "nothing reached the folder the path leads to now";
  EXPECT_EQ(fs::file_size(moved + "/disc.data"), 32u * 2048);
}

}  // namespace
}  // namespace fornax::sim::test
