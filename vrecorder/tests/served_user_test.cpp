// Whom the recorder serves and how it becomes that user: the serving
// process gives up root for good and refuses a folder the user does not own
// alone. The cases that change users need root (as CI runs them).

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "vrecorder/privileges.h"
#include "vrecorder/served_user.h"
#include "vrecorder/serving_process.h"

namespace fornax::vrec {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOther = 65534;  // the second user: "nobody" on Debian, by number

#define SKIP_UNLESS_ROOT() \
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to change users"

// Runs `body` in a child process and returns what it returned.
std::string InChild(const std::function<std::string()>& body) {
  int out[2];
  if (::pipe(out) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(out[0]);
    const std::string text = body();
    (void)!::write(out[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(out[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  ::close(out[0]);
  ::waitpid(pid, nullptr, 0);
  return text;
}

// The value of a line of /proc/self/status, blanks squeezed.
std::string StatusLine(const std::string& status, const std::string& field) {
  std::istringstream in(status);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(field + ":", 0) != 0) continue;
    std::istringstream words(line.substr(field.size() + 1));
    std::string word, value;
    while (words >> word) value += (value.empty() ? "" : " ") + word;
    return value;
  }
  return "(missing)";
}

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/fornax-vrecorder-test-XXXXXX";
    Path = ::mkdtemp(pattern);
    ::chmod(Path.c_str(), 0755);  // the second user walks through it
  }
  ~TempFolder() { fs::remove_all(Path); }
  std::string Path;
};

TEST(ServedUser, IdsAreDecimalDigitsBelowTheNoChangeValue) {
  const struct {
    const char* text;
    std::optional<uint32_t> id;
  } cases[] = {{"1000", 1000u}, {"0", 0u},           {"4294967294", 4294967294u}, {"4294967295", std::nullopt},
               {"", std::nullopt}, {nullptr, std::nullopt}, {"-1", std::nullopt}, {"+5", std::nullopt},
               {" 12", std::nullopt}, {"12a", std::nullopt}, {"99999999999", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(ParseId(c.text), c.id) << (c.text ? c.text : "(null)");

  TServedUser user;
  std::string error;
  ASSERT_TRUE(ResolveServedUser("", "1234", "567", user, error)) << error;
  EXPECT_EQ(user.Uid, 1234u);
  EXPECT_EQ(user.Gid, 567u);
  ASSERT_TRUE(ResolveServedUser("", nullptr, nullptr, user, error));
  EXPECT_EQ(user.Uid, 0u) << "no sudo: root";
  EXPECT_FALSE(ResolveServedUser("", "12x", "5", user, error));
  EXPECT_NE(error.find("SUDO_UID"), std::string::npos) << error;
  EXPECT_FALSE(ResolveServedUser("no-such-user-of-fornax", "1000", "1000", user, error));
  EXPECT_NE(error.find("no user named"), std::string::npos) << error;
}

// The folder the serving process is given: it starts (as the served user)
// only on a folder that user owns and alone may write, which it makes when
// missing; anything else is refused with the reason, before it is ready.
TEST(ServingProcess, StartsOnlyOnAFolderTheServedUserOwnsAlone) {
  SKIP_UNLESS_ROOT();
  TempFolder temp;
  const TServedUser served{kOther, kOther, "the second user"};
  const struct {
    const char* name;
    uid_t owner;
    mode_t mode;
    const char* refusal;  // nullptr: served
  } cases[] = {
      {"own", kOther, 0700, nullptr},
      {"own-readable", kOther, 0755, nullptr},
      {"root's", 0, 0700, "belongs to root, not to the second user"},
      {"root's-open", 0, 0777, "belongs to root"},
      {"others-write", kOther, 0757, "may be written by others (mode 0757)"},
      {"group-writes", kOther, 0770, "may be written by its group (mode 0770)"},
      {"sticky-shared", kOther, 01777, "may be written by others"},
  };
  for (const auto& c : cases) {
    const std::string folder = temp.Path + "/" + c.name;
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(::chown(folder.c_str(), c.owner, c.owner), 0);
    ASSERT_EQ(::chmod(folder.c_str(), c.mode), 0);
    TServingProcess server;
    std::string error;
    const bool started = server.Start(served, folder, error);
    if (c.refusal == nullptr) {
      EXPECT_TRUE(started) << c.name << ": " << error;
    } else {
      EXPECT_FALSE(started) << c.name;
      EXPECT_NE(error.find(c.refusal), std::string::npos) << c.name << ": " << error;
      EXPECT_NE(error.find(": refused"), std::string::npos) << error;
      EXPECT_TRUE(fs::is_empty(folder)) << c.name << ": nothing is made in a refused folder";
    }
  }

  // A link as the folder, even to the user's own, is refused, and so is a
  // folder with a link among its files, at once; a missing folder is made
  // by the user, with its files, in the user's name.
  const std::string link = temp.Path + "/link", hostile = temp.Path + "/hostile";
  const std::string made = temp.Path + "/own/new/simdrive", secret = temp.Path + "/secret";
  ASSERT_EQ(::symlink((temp.Path + "/own").c_str(), link.c_str()), 0);
  std::ofstream(secret) << "root's";
  ASSERT_EQ(::mkdir(hostile.c_str(), 0700), 0);
  ASSERT_EQ(::chown(hostile.c_str(), kOther, kOther), 0);
  ASSERT_EQ(::symlink(secret.c_str(), (hostile + "/disc.data").c_str()), 0);
  const std::pair<std::string, const char*> starts[] = {
      {link, "link is a symbolic link: refused"}, {hostile, "hostile/disc.data is a symbolic link: refused"},
      {made, nullptr}};
  for (const auto& [folder, refusal] : starts) {
    TServingProcess server;
    std::string error;
    const bool started = server.Start(served, folder, error);
    if (refusal != nullptr) {
      EXPECT_FALSE(started) << folder;
      EXPECT_NE(error.find(refusal), std::string::npos) << error;
      continue;
    }
    ASSERT_TRUE(started) << error;
    for (const std::string& path : {made, made + "/lock", made + "/state", made + "/disc.data"}) {
      struct stat st {};
      ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
      EXPECT_EQ(st.st_uid, kOther) << path;
      EXPECT_EQ(st.st_mode & 077, 0u) << path;
    }
  }
  std::ifstream in(secret);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "root's");
}

// What is left of root after giving it up: nothing, also when the served
// user is root itself (root without capabilities reaches only what root
// owns, and no program it runs regains one).
TEST(Privileges, NoCapabilityNoOtherIdAndNoWayBack) {
  SKIP_UNLESS_ROOT();
  TempFolder temp;
  const std::string others = temp.Path + "/others";
  std::ofstream(others) << "not root's";
  ASSERT_EQ(::chown(others.c_str(), kOther, kOther), 0);
  ASSERT_EQ(::chmod(others.c_str(), 0600), 0);
  const std::string roots = temp.Path + "/roots";
  std::ofstream(roots) << "root's";
  ASSERT_EQ(::chmod(roots.c_str(), 0600), 0);

  for (const uid_t id : {kOther, uid_t{0}}) {
    const std::string status = InChild([&] {
      std::string error;
      if (!DropPrivileges(id, id, error)) return "failed: " + error;
      std::ifstream in("/proc/self/status");
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const std::string foreign = id == 0 ? others : roots;
      text += std::string("Foreign: ") + (::access(foreign.c_str(), R_OK) == 0 ? "readable" : "refused") + "\n";
      text += std::string("Setuid0: ") + (::setuid(0) == 0 && id != 0 ? "regained" : "no") + "\n";
      return text;
    });
    ASSERT_EQ(status.rfind("failed", 0), std::string::npos) << status;
    const std::string ids = std::to_string(id) + " " + std::to_string(id) + " " + std::to_string(id) + " " +
                            std::to_string(id);
    EXPECT_EQ(StatusLine(status, "Uid"), ids) << id;
    EXPECT_EQ(StatusLine(status, "Gid"), ids) << id;
    EXPECT_EQ(StatusLine(status, "Groups"), "") << id;
    for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapBnd", "CapAmb"})
      EXPECT_EQ(StatusLine(status, set), "0000000000000000") << set << " of uid " << id;
    EXPECT_EQ(StatusLine(status, "NoNewPrivs"), "1") << id;
    EXPECT_EQ(StatusLine(status, "Foreign"), "refused") << id << ": another's file of mode 0600";
    EXPECT_EQ(StatusLine(status, "Setuid0"), "no") << id;
  }
}

}  // namespace
}  // namespace fornax::vrec
