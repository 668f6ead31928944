#include <gtest/gtest.h>

#include <thread>

#include "support/recorder_fixture.h"

namespace fornax {
namespace {

TEST(Recorder, DefaultsAfterCreation) {
  TQzRecorder rec;
  EXPECT_FALSE(rec.ASPIInitialized());
  EXPECT_EQ(rec.DeviceMaxWriteSpeed(), 0);
  EXPECT_EQ(rec.DeviceBufferSize, 0u);
  EXPECT_TRUE(rec.UnderrunProtection);
  EXPECT_FALSE(rec.DoDebug);
  EXPECT_FALSE(rec.Erasing());
  EXPECT_FALSE(rec.FinalizeDisc);
  EXPECT_FALSE(rec.TestWrite);
  EXPECT_FALSE(rec.ReplaceFile);
  EXPECT_TRUE(rec.FinalizeTrack);
  EXPECT_FALSE(rec.PerformOPC);
  EXPECT_EQ(rec.CacheSize(), 4194304);
  EXPECT_TRUE(rec.JolietFileSystem);
  EXPECT_TRUE(rec.WritePostGap);
  EXPECT_EQ(rec.Version(), "1.23");
  EXPECT_EQ(rec.SessionToImport, 0);
  EXPECT_FALSE(rec.Bootable);
  EXPECT_EQ(rec.CompilationBytes(), 0);
  EXPECT_DOUBLE_EQ(rec.DateCreation, 0.0);
}

TEST(Recorder, SettersKeepTheirRules) {
  TQzRecorder rec;
  rec.SetCacheSize(1000000);
  EXPECT_EQ(rec.CacheSize(), 2097152);
  rec.SetCacheSize(5000000);
  EXPECT_EQ(rec.CacheSize(), 4999168);
  rec.SetVersion("9.99");
  EXPECT_EQ(rec.Version(), "1.23");
}

TEST(Recorder, LogReachesTheHandlerUnchangedOrNowhere) {
  TQzRecorder rec;
  rec.Log("dropped", 0);  // no handler: nothing happens
  std::vector<test::TLogLine> lines;
  TObject* sender = nullptr;
  rec.OnDebugMessage = [&](TObject* s, const std::string& text, uint8_t type) {
    sender = s;
    lines.push_back({text, type});
  };
  rec.Log(">>> LIMIT", 3);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Text, ">>> LIMIT");
  EXPECT_EQ(lines[0].Type, 3);
  EXPECT_EQ(sender, &rec);
}

TEST(Recorder, CacheLockIsReentrantAcrossThreads) {
  TQzRecorder rec;
  rec.Lock();
  rec.Lock();  // the write thread takes it again inside a take
  bool taken = true;
  std::thread other([&] { taken = rec.CacheLock().try_lock(); });
  other.join();
  EXPECT_FALSE(taken);
  rec.Unlock();
  rec.Unlock();
  std::thread after([&] {
    taken = rec.CacheLock().try_lock();
    if (taken) rec.CacheLock().unlock();
  });
  after.join();
  EXPECT_TRUE(taken);
}

}  // namespace
}  // namespace fornax
