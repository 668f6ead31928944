#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/recorder.h"
#include "support/simulated_recorder.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

struct TMedium {
  const char* Kind;
  uint8_t Code;
};

constexpr TMedium kMedia[] = {
    {"cd-r", mtCDR},           {"cd-rw", mtCDRW},           {"dvd-r", mtDVDR},
    {"dvd-rw-ro", mtDVDRWRestricted}, {"dvd-rw-seq", mtDVDRWSequential}, {"dvd+r", mtDVDPlusR},
    {"dvd+rw", mtDVDPlusRW},   {"dvd-ram", mtDVDRAM},       {"dvd+r-dl", mtDVDPlusRDL}};

struct TFigures {
  uint8_t Medium;
  bool Erasable;
  int Sessions, Status;
  uint32_t Capacity, Used, Free;
  TDiscInfoRecord Info;
};

class SimulatedMedia : public ::testing::Test {
 protected:
  void Open(const char* kind) {
    Sim.Insert(kind);
    Rec.OnDebugMessage = [this](TObject*, const std::string& text, uint8_t) { Log += text + "\n"; };
    ASSERT_TRUE(Rec.InitTransport(false, FORNAX_SIMDRIVE_LIBRARY));
    ASSERT_FALSE(Rec.DeviceList().empty());
    ASSERT_TRUE(Rec.SelectDevice(Rec.DeviceList()[0]));
    ASSERT_TRUE(Rec.WaitReady(5000, 10));
  }

  TFigures Figures() {
    TFigures f;
    f.Medium = Rec.MediumType();
    TSCSIDevice::SetCurrentMediumCode(f.Medium);
    f.Erasable = Rec.IsErasable();
    f.Sessions = Rec.SessionCount();
    f.Status = Rec.DiscStatus();
    f.Capacity = Rec.CapacitySectors();
    f.Used = Rec.UsedSectors();
    f.Free = Rec.FreeSectors();
    Rec.DiscInfo(f.Info);
    return f;
  }

  // A small image made by the engine itself: volume descriptors at 16.
  std::vector<uint8_t> Image() {
    TQzRecorder maker;
    maker.AddFileEntry("\\", Tmp.Write("data.bin", std::string(100000, 'd')), false);
    maker.BuildISOFile(Tmp.Path("small.iso"), true);
    const std::string bytes = test::TTempFolder::Read(Tmp.Path("small.iso"));
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
  }

  // One session the way a recorder writes it: write parameters, data at the
  // next writable address, synchronise, close.
  void WriteSession(uint8_t code) {
    std::vector<uint8_t> image = Image();
    image.resize((image.size() / 65536 + 1) * 65536, 0);
    ASSERT_TRUE(Rec.SetWriteParameters(false, true, code, true)) << Rec.LastError();
    if (code == mtDVDPlusRW) {
      const uint8_t list[12] = {0x00, 0x82, 0x00, 0x08, 0x00, 0x23, 0x05, 0x40, 0x98, 0x00, 0x00, 0x00};
      ASSERT_TRUE(Rec.FormatUnit(0x11, list, sizeof list)) << Rec.LastError();
      ASSERT_TRUE(Rec.WaitReady(10000, 20));
    }
    const uint32_t chunk = code <= mtCDRW ? 27 * 2048 : 32 * 2048;
    for (uint32_t at = 0; at < image.size(); at += chunk) {
      const uint32_t bytes = std::min<uint32_t>(chunk, static_cast<uint32_t>(image.size()) - at);
      ASSERT_TRUE(Rec.Write10(at / 2048, static_cast<uint16_t>(bytes / 2048), image.data() + at, bytes))
          << Rec.LastError() << " at " << at / 2048;
    }
    ASSERT_TRUE(Rec.SynchronizeCache(false, 120000)) << Rec.LastError();
    ASSERT_TRUE(Rec.WaitReady(10000, 20));
    const auto close = [&](uint8_t function, uint8_t track) {
      EXPECT_TRUE(Rec.CloseTrackSessionFunction(false, function, 0, 0, track)) << Rec.LastError();
      EXPECT_TRUE(Rec.WaitReady(10000, 20));
    };
    switch (code) {
      case mtCDR: case mtCDRW: EXPECT_TRUE(Rec.CloseTrackSession(false, false, false)) << Rec.LastError(); break;
      case mtDVDR: case mtDVDRWSequential: close(1, 1); close(2, 0); break;
      case mtDVDRWRestricted: close(2, 0); break;
      case mtDVDPlusR: close(1, 1); close(2, 255); break;
      case mtDVDPlusRDL: close(1, 1); close(2, 0); break;
      case mtDVDPlusRW: close(3, 255); break;
      default: break;
    }
    ASSERT_TRUE(Rec.WaitReady(10000, 20));
  }

  test::TSimulatedRecorder Sim;
  test::TTempFolder Tmp;
  TQzRecorder Rec;
  std::string Log;
};

struct TExpected {
  const char* Kind;
  uint8_t Code;
  bool Erasable;
  // blank: sessions, status, capacity, used, free; then the same written
  int BlankSessions, BlankStatus;
  uint32_t BlankCapacity, BlankUsed, BlankFree;
  int Sessions, Status;
  uint32_t Capacity, Used, Free;
  uint32_t InfoUsed;  // what the information record calls used once written
};

// The small image takes 199 sectors, written as 224 (whole 64 KiB units).
// CD: a track under 300 sectors is padded to 300, plus 2 run-out sectors; the
// next session starts 11,400 sectors after it. DVD-R/-RW: the next border
// 28,688 after the track. DVD+R: the next session 2,048 after it.
// Overwritable media count what their file system holds.
constexpr TExpected kExpected[] = {
    {"cd-r", mtCDR, false, 0, 0, 359849, 0, 359849, 1, 1, 359849, 11702, 348147, 11702},
    {"cd-rw", mtCDRW, true, 0, 0, 359849, 0, 359849, 1, 1, 359849, 11702, 348147, 11702},
    {"dvd-r", mtDVDR, false, 0, 0, 2298496, 0, 2298496, 1, 1, 2297888, 28912, 2268976, 224},
    {"dvd-rw-ro", mtDVDRWRestricted, true, 1, 2, 2297888, 0, 2297888, 1, 2, 2297888, 199, 2297689, 2297888},
    {"dvd-rw-seq", mtDVDRWSequential, true, 0, 0, 2297888, 0, 2297888, 1, 1, 2297888, 28912, 2268976, 224},
    {"dvd+r", mtDVDPlusR, false, 0, 0, 2295104, 0, 2295104, 1, 1, 2295104, 2272, 2292832, 224},
    {"dvd+rw", mtDVDPlusRW, true, 0, 0, 2295104, 0, 2295104, 1, 2, 2295104, 199, 2294905, 2295104},
    {"dvd-ram", mtDVDRAM, true, 1, 3, 2236704, 0, 2236704, 1, 3, 2236704, 199, 2236505, 2236704},
    {"dvd+r-dl", mtDVDPlusRDL, false, 0, 0, 4173824, 0, 4173824, 1, 1, 4173824, 2272, 4171552, 224},
};

class EveryMedium : public SimulatedMedia, public ::testing::WithParamInterface<TExpected> {};

TEST_P(EveryMedium, BlankAndWithOneSession) {
  const TExpected& e = GetParam();
  Open(e.Kind);
  TFigures f = Figures();
  EXPECT_EQ(f.Medium, e.Code);
  EXPECT_EQ(f.Erasable, e.Erasable);
  EXPECT_EQ(f.Sessions, e.BlankSessions);
  EXPECT_EQ(f.Status, e.BlankStatus);
  EXPECT_EQ(f.Capacity, e.BlankCapacity);
  EXPECT_EQ(f.Used, e.BlankUsed);
  EXPECT_EQ(f.Free, e.BlankFree);
  EXPECT_EQ(f.Info.Ready, 1);
  EXPECT_EQ(f.Info.MediumName, MediumNames[e.Code] == std::string("DVD-RW") ? f.Info.MediumName : MediumNames[e.Code]);
  EXPECT_EQ(f.Info.Erasable, e.Erasable ? 1 : 0);
  EXPECT_EQ(f.Info.Capacity, e.BlankCapacity);

  WriteSession(e.Code);
  f = Figures();
  EXPECT_EQ(f.Medium, e.Code);
  EXPECT_EQ(f.Erasable, e.Erasable);
  EXPECT_EQ(f.Sessions, e.Sessions);
  EXPECT_EQ(f.Status, e.Status);
  EXPECT_EQ(f.Capacity, e.Capacity);
  EXPECT_EQ(f.Used, e.Used);
  EXPECT_EQ(f.Free, e.Free);
  EXPECT_EQ(f.Info.DiscStatus, e.Status);
  EXPECT_EQ(f.Info.LastSession, e.Sessions);
  EXPECT_EQ(f.Info.Used, e.InfoUsed);
  EXPECT_EQ(f.Info.Capacity, e.Capacity);
  EXPECT_EQ(f.Info.BlockSize, 2048u);
}

INSTANTIATE_TEST_SUITE_P(SimulatedRecorder, EveryMedium, ::testing::ValuesIn(kExpected),
                         [](const auto& info) {
                           std::string name = info.param.Kind;
                           for (char& c : name) if (c == '-' || c == '+') c = c == '+' ? 'P' : '_';
                           return name;
                         });

TEST_F(SimulatedMedia, TheSimulatedDriveCanDoEverything) {
  Open("dvd+r");
  EXPECT_EQ(Rec.Capabilities(), 0x0017FFFFu) << "every bit but 19, and underrun protection";
  EXPECT_GT(Rec.DeviceMaxWriteSpeed(), 0);
  EXPECT_GT(Rec.DeviceMaxReadSpeed(), 0);
  EXPECT_EQ(Rec.DeviceList()[0].substr(0, 9), "0:0:0,?: ");
  EXPECT_NE(Rec.DeviceDescription().find("VIRTUAL"), std::string::npos);
}

TEST_F(SimulatedMedia, ADiscJustInsertedAnswersTheFirstQuestion) {
  Open("dvd+r");
  Sim.Insert("cd-rw");  // the drive now refuses one command with a unit attention
  EXPECT_TRUE(Rec.IsErasable());
  Sim.Insert("cd-r");
  EXPECT_EQ(Rec.DiscStatus(), 0);
  Sim.Insert("dvd-rw-seq");
  EXPECT_EQ(Rec.SessionCount(), 0);
  EXPECT_TRUE(Rec.IsErasable());
}

}  // namespace
}  // namespace fornax
