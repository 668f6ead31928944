// Rock Ridge modes and device numbers of an imported session: a mode that
// names no file type, or one its record cannot be, is taken with the
// record's type; devices keep their numbers into the new session's PN
// entries, or are left out; setuid and setgid bits go unless kept.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "crafted_disc.h"
#include "engine/disc/rock_ridge_reader.h"
#include "engine/disc/session_import.h"
#include "engine/image/rock_ridge.h"
#include "support/recorder_fixture.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

using test::TCraftedDisc;

TEST(RockRidgeModes, AModeIsCheckedAgainstTheRecordItCameWith) {
  struct TRow {
    uint32_t Mode;
    bool DirectoryRecord;
    uint64_t Size;
    bool Link, Device;
    TModeCheck Check;
  };
  const TRow rows[] = {
      {S_IFREG | 0644, false, 10, false, false, TModeCheck::Fits},
      {S_IFDIR | 0755, true, 0, false, false, TModeCheck::Fits},
      {S_IFLNK | 0777, false, 0, true, false, TModeCheck::Fits},
      {S_IFCHR | 0600, false, 0, false, true, TModeCheck::Fits},
      {S_IFBLK | 0660, false, 0, false, true, TModeCheck::Fits},
      {S_IFIFO | 0644, false, 0, false, false, TModeCheck::Fits},
      {S_IFSOCK | 0755, false, 0, false, false, TModeCheck::Fits},
      {0177777, false, 10, false, false, TModeCheck::NoFileType},
      {0177777, true, 0, false, false, TModeCheck::NoFileType},
      {0000644, false, 10, false, false, TModeCheck::NoFileType},
      {0030644, false, 10, false, false, TModeCheck::NoFileType},
      {0150644, false, 10, false, false, TModeCheck::NoFileType},
      {S_IFDIR | 0755, false, 10, false, false, TModeCheck::Contradicts},
      {S_IFREG | 0644, true, 0, false, false, TModeCheck::Contradicts},
      {S_IFLNK | 0777, false, 0, false, false, TModeCheck::Contradicts},  // no SL
      {S_IFLNK | 0777, true, 0, true, false, TModeCheck::Contradicts},
      {S_IFIFO | 0644, false, 10, false, false, TModeCheck::Contradicts},  // data in a FIFO
      {S_IFCHR | 0600, false, 10, false, true, TModeCheck::Contradicts},
      {S_IFCHR | 0600, true, 0, false, true, TModeCheck::Contradicts},
      {S_IFCHR | 0600, false, 0, false, false, TModeCheck::DeviceWithoutNumber},
      {S_IFBLK | 0600, false, 0, false, false, TModeCheck::DeviceWithoutNumber},
  };
  for (const TRow& row : rows) {
    TRockRidgeFields fields;
    fields.HasAttributes = true;
    fields.Mode = row.Mode;
    fields.HasLink = row.Link;
    if (row.Link) fields.LinkTarget = "there";
    fields.HasDevice = row.Device;
    EXPECT_EQ(CheckMode(fields, row.DirectoryRecord, row.Size), row.Check)
        << std::oct << row.Mode << (row.DirectoryRecord ? " on a directory" : " on a file");
  }
  EXPECT_EQ(ModeOfRecord(0177777, false), 0107777u);
  EXPECT_EQ(ModeOfRecord(0177777, true), 047777u);
  EXPECT_EQ(ModeOfRecord(S_IFDIR | 0750, false), S_IFREG | 0750u);
}

TEST(RockRidgeModes, DeviceNumbersOfBothFormsComeBackAsMajorAndMinor) {
  struct TRow {
    uint32_t High, Low, Major, Minor;
  };
  const TRow rows[] = {
      {8, 1, 8, 1},              // major and minor in their own words
      {259, 0x40000, 259, 0x40000},
      {4095, 255, 4095, 255},    // the largest that every reader unpacks alike
      {0, 0x0801, 8, 1},         // a 16-bit number in the low word
      {0, 0x100305, 3, 0x105},   // Linux's 32-bit packing, minor above 255
      {0, 5, 0, 5},
  };
  for (const TRow& row : rows) {
    EXPECT_EQ(DeviceNumberOf(row.High, row.Low), (TDeviceNumber{row.Major, row.Minor})) << row.High << " " << row.Low;
    if (!PnTellsDevice(row.Major, row.Minor)) continue;
    // Written as the new session writes it, the same numbers come back.
    TRockRidgeFields fields;
    const TSystemUseEntry pn = PnEntry(row.Major, row.Minor);
    ASSERT_EQ(pn.size(), 20u);
    ReadSystemUseEntries(pn.data(), pn.size(), fields);
    ASSERT_TRUE(fields.HasDevice);
    EXPECT_EQ(DeviceNumberOf(fields.DeviceHigh, fields.DeviceLow), (TDeviceNumber{row.Major, row.Minor}));
  }
  for (const auto& [major, minor] : {std::pair{0u, 0x105u}, {4096u, 1u}, {8u, 256u}})
    EXPECT_FALSE(PnTellsDevice(major, minor)) << major << "," << minor << ": readers would unpack it apart";
  EXPECT_EQ(PnEntry(8, 1), (TSystemUseEntry{'P', 'N', 20, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 8, 0, 0, 0, 0, 8, 1}));
}

// A PN entry with these two words, as any writer may put them.
TSystemUseEntry RawPn(uint32_t high, uint32_t low) {
  TSystemUseEntry pn{'P', 'N', 20, 1};
  pn.resize(20);
  PutBoth32(&pn[4], high);
  PutBoth32(&pn[12], low);
  return pn;
}

// One session's entries with hand-made Rock Ridge entries.
class RockRidgeModeImport : public test::RecorderTest {
 protected:
  static std::vector<uint8_t> Entries(uint32_t mode, const std::string& name,
                                      std::vector<TSystemUseEntry> more = {}) {
    std::vector<uint8_t> use;
    more.insert(more.begin(), PxEntry(mode, 1, 0, 0));
    for (const TSystemUseEntry& entry : NmEntries(name)) more.push_back(entry);
    for (const TSystemUseEntry& entry : more) use.insert(use.end(), entry.begin(), entry.end());
    return use;
  }
  // The session: its root at 20, data at 40, a folder of setuid tools at 21.
  static std::vector<uint8_t> Disc() {
    TCraftedDisc disc(64);
    disc.Descriptor(16, 1, 20);
    disc.Descriptor(17, 255);
    const TSystemUseEntry sp = SpEntry();
    disc.Dots(20, 20, std::vector<uint8_t>(sp.begin(), sp.end()));
    const auto add = [&](const char* id, uint32_t extent, uint32_t size, uint8_t flags, uint32_t mode,
                         const char* name, std::vector<TSystemUseEntry> more = {}) {
      disc.Record(20, id, extent, size, flags, Entries(mode, name, std::move(more)));
    };
    add("CHR", 0, 0, 0, S_IFCHR | 0620, "tty1", {RawPn(4, 1)});
    add("BLK", 0, 0, 0, S_IFBLK | 0660, "sda3", {RawPn(0, 0x0803)});
    add("NOPN", 0, 0, 0, S_IFCHR | 0600, "no-number");
    add("MAJOR0", 0, 0, 0, S_IFCHR | 0600, "minor-only", {RawPn(0, 0x10002C)});
    add("FIFO", 0, 0, 0, S_IFIFO | 0644, "pipe");
    add("SOCK", 0, 0, 0, S_IFSOCK | 0755, "socket");
    add("LINK", 0, 0, 0, S_IFLNK | 0777, "link", SlEntries("tty1"));
    add("NOSL", 40, 5, 0, S_IFLNK | 0777, "link-without-target");
    add("JUNK", 40, 5, 0, 0177777, "junk");
    add("DIRMODE", 40, 5, 0, S_IFDIR | 0750, "file-with-folder-mode");
    add("SUID", 40, 5, 0, S_IFREG | 04755, "suid");
    add("SGID", 40, 5, 0, S_IFREG | 02755, "sgid");
    add("FARSUID", 5000, 5, 0, S_IFREG | 04755, "far-suid");  // left out, so not among the cleared
    add("SHARED", 22, 2048, 2, S_IFDIR | 02775, "shared");
    disc.Dots(22, 20);
    add("TOOLS", 21, 2048, 2, S_IFDIR | 0755, "tools");
    disc.Dots(21, 20);
    for (int i = 0; i < 8; ++i) {
      const std::string name = "tool" + std::to_string(i);
      disc.Record(21, "T" + std::to_string(i), 40, 5, 0, Entries(S_IFREG | 04711, name));
    }
    disc.Fill(40, 'x', 5);
    return disc.Bytes();
  }
  void Import() {
    TMemorySource source(Disc());
    Lines.clear();
    ASSERT_TRUE(ImportSession(source, Rec.Compilation(), 255, nullptr,
                              [this](const std::string& m, uint8_t t) { Lines.push_back({m, t}); }));
  }
  uint32_t ModeOf(const std::string& path) const {
    const size_t slash = path.rfind('\\');
    const TDEntry* dir = slash == std::string::npos ? Rec.RootDirectory() : Rec.FindDirectory(path.substr(0, slash));
    const TFEntry* entry = Rec.FindEntry(dir, slash == std::string::npos ? path : path.substr(slash + 1));
    return entry ? entry->Posix.Mode : 0;
  }
  const TFEntry* Entry(const std::string& name) const { return Rec.FindEntry(Rec.RootDirectory(), name); }
};

TEST_F(RockRidgeModeImport, ModesAreTakenAsReadersAcceptThemAndSetuidGoes) {
  Rec.RockRidge = true;
  Import();
  struct TRow {
    const char* Name;
    uint32_t Mode;  // 0: left out
  };
  const TRow rows[] = {
      {"tty1.", S_IFCHR | 0620},  // names without a dot get one, as every added file
      {"sda3.", S_IFBLK | 0660},
      {"no-number.", 0},
      {"minor-only.", 0},
      {"pipe.", S_IFIFO | 0644},
      {"socket.", S_IFSOCK | 0755},
      {"link.", S_IFLNK | 0777},
      {"link-without-target.", S_IFREG | 0777},
      {"junk.", S_IFREG | 01777},
      {"file-with-folder-mode.", S_IFREG | 0750},
      {"suid.", S_IFREG | 0755},
      {"sgid.", S_IFREG | 0755},
      {"far-suid.", 0},
      {"shared", S_IFDIR | 02775},  // setgid on a folder grants nothing
      {"\\tools\\tool7.", S_IFREG | 0711},
  };
  for (const TRow& row : rows) EXPECT_EQ(ModeOf(row.Name), row.Mode) << row.Name;
  EXPECT_EQ(Entry("tty1.")->Posix.DeviceMajor(), 4u);
  EXPECT_EQ(Entry("tty1.")->Posix.DeviceMinor(), 1u);
  EXPECT_EQ(Entry("sda3.")->Posix.DeviceMajor(), 8u);
  EXPECT_EQ(Entry("sda3.")->Posix.DeviceMinor(), 3u);
  EXPECT_EQ(Entry("junk.")->ISOLocation, 40) << "its data stays where it is";

  EXPECT_TRUE(Logged(">>> DEVICE \"/no-number\" HAS NO DEVICE NUMBER ON THE DISC, NOT IMPORTED", ltImageError));
  EXPECT_TRUE(LoggedContaining("DEVICE \"/minor-only\" HAS THE NUMBERS 0,300", ltImageError));
  for (const char* changed : {"\"/link-without-target\" HAS THE ROCK RIDGE MODE 120777",
                              "\"/junk\" HAS THE ROCK RIDGE MODE 177777, WHICH NAMES NO FILE TYPE ITS RECORD CAN "
                              "HAVE; TAKEN AS 107777",
                              "\"/file-with-folder-mode\" HAS THE ROCK RIDGE MODE 040750"})
    EXPECT_TRUE(LoggedContaining(changed, ltStatus)) << changed;
  EXPECT_TRUE(Logged(">>> SETUID/SETGID BITS CLEARED ON 11 IMPORTED FILES: \"/junk\", \"/suid\", \"/sgid\", "
                     "\"/tools/tool0\", \"/tools/tool1\" AND 6 MORE",
                     ltStatus));

  Rec.ClearCompilation(65535, 8191);
  Rec.KeepSetuid = true;
  Import();
  EXPECT_EQ(ModeOf("suid."), S_IFREG | 04755u);
  EXPECT_EQ(ModeOf("junk."), S_IFREG | 07777u);
  EXPECT_FALSE(LoggedContaining("SETUID", ltStatus));
}

// The devices, FIFOs and links of an imported session go into the next one
// as they came: a new image read back shows the same types and numbers.
TEST_F(RockRidgeModeImport, DevicesKeepTheirNumbersInTheNewSession) {
  Rec.RockRidge = true;
  Import();
  for (const char* data : {"link-without-target.", "junk.", "file-with-folder-mode.", "suid.", "sgid."})
    Rec.DeleteEntry(Rec.RootDirectory(), Rec.FindEntry(Rec.RootDirectory(), data));
  Rec.DeleteDirectory(Rec.FindDirectory("\\tools"));
  test::TTempFolder tmp;
  Rec.BuildISOFile(tmp.Path("next.iso"), true);

  TQzRecorder next;
  next.RockRidge = true;
  TImageFileSource image(tmp.Path("next.iso"));
  ASSERT_TRUE(ImportSession(image, next.Compilation(), 255, nullptr, nullptr));
  const std::vector<std::pair<const char*, uint32_t>> kept = {
      {"tty1.", S_IFCHR | 0620}, {"sda3.", S_IFBLK | 0660}, {"pipe.", S_IFIFO | 0644},
      {"socket.", S_IFSOCK | 0755}, {"link.", S_IFLNK | 0777}};
  for (const auto& [name, mode] : kept) {
    const TFEntry* entry = next.FindEntry(next.RootDirectory(), name);
    ASSERT_NE(entry, nullptr) << name;
    EXPECT_EQ(entry->Posix.Mode, mode) << name;
  }
  const TFEntry* sda = next.FindEntry(next.RootDirectory(), "sda3.");
  EXPECT_EQ(std::make_pair(sda->Posix.DeviceMajor(), sda->Posix.DeviceMinor()), std::make_pair(8u, 3u));
  EXPECT_EQ(next.FindEntry(next.RootDirectory(), "link.")->Posix.LinkTarget(), "tty1");
}

}  // namespace
}  // namespace fornax
