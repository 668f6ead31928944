#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/pipeline/burn_record.h"
#include "engine/pipeline/cache_thread.h"
#include "support/recorder_fixture.h"
#include "support/temp_folder.h"

namespace fornax {
namespace {

// Runs a cache to its end and keeps every chunk it handed out.
struct TDrained {
  std::vector<int> Lengths;
  std::string Bytes;
  std::string Error, Deferred;
};

TDrained Drain(TCacheThread& cache) {
  TDrained out;
  std::vector<uint8_t> buffer(65540);
  for (int guard = 0; guard < 1000000; ++guard) {
    const int n = cache.TakeChunk(buffer.data());
    if (n == 0) break;
    if (n < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    out.Lengths.push_back(n);
    out.Bytes.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
  }
  cache.WaitForEnd();
  out.Error = cache.ErrorText();
  out.Deferred = cache.DeferredError();
  return out;
}

class CacheThread : public test::RecorderTest {
 protected:
  TCacheInput Input(int64_t totalBytes, int chunk = kChunkSizeCd) {
    TCacheInput in;
    in.CacheBytes = 2097152;
    in.HeaderStream = &Header;
    in.Compilation = &Rec.Compilation();
    in.TotalBytes = totalBytes;
    in.ChunkSize = chunk;
    in.CacheLock = &Lock;
    return in;
  }
  void Add(const std::string& name, const std::string& content) {
    ASSERT_TRUE(Rec.AddFileEntry("\\", Tmp.Write(name, content), false));
  }
  std::vector<uint8_t> Header;
  std::recursive_mutex Lock;
  test::TTempFolder Tmp;
};

TEST_F(CacheThread, StreamIsHeaderThenFilesInWholeSectorsCutIntoFullChunks) {
  Header.assign(150 * 2048, 'H');
  Add("a.bin", std::string(30000, 'a'));
  Add("empty.bin", "");
  Add("b.bin", std::string(1, 'b'));
  TCacheInput in = Input((150 + 15 + 1) * 2048);
  in.WritePostGap = false;
  TCacheThread cache(in);
  const TDrained d = Drain(cache);
  EXPECT_EQ(d.Error, "");
  EXPECT_EQ(d.Deferred, "");
  std::string expected = std::string(150 * 2048, 'H') + std::string(30000, 'a') + std::string(720, '\0') + "b" +
                         std::string(2047, '\0');
  EXPECT_EQ(d.Bytes, expected);
  for (size_t i = 0; i + 1 < d.Lengths.size(); ++i) EXPECT_EQ(d.Lengths[i], kChunkSizeCd) << i;
  EXPECT_TRUE(Header.empty()) << "the header is let go once queued";
}

TEST_F(CacheThread, ShortTracksArePaddedToThreeHundredSectors) {
  Header.assign(150 * 2048, 'H');
  Add("a.bin", "a");
  TCacheThread cache(Input(151 * 2048, kChunkSizeDvd));
  const TDrained d = Drain(cache);
  ASSERT_EQ(d.Bytes.size(), 614400u);
  EXPECT_EQ(d.Bytes.find_first_not_of('\0', 151 * 2048), std::string::npos);
}

TEST_F(CacheThread, ChangedSourcesKeepTheirPlaceAndAreReported) {
  Header.assign(150 * 2048, 'H');
  Add("shrinks.bin", std::string(5000, 's'));
  Add("grows.bin", std::string(3000, 'g'));
  Add("after.bin", "z");
  Tmp.Write("shrinks.bin", std::string(100, 'S'));
  Tmp.Write("grows.bin", std::string(9000, 'G'));
  TCacheInput in = Input((150 + 3 + 2 + 1) * 2048);
  in.WritePostGap = false;
  TCacheThread cache(in);
  const TDrained d = Drain(cache);
  EXPECT_EQ(d.Error, "");
  EXPECT_NE(d.Deferred.find("shrinks.bin"), std::string::npos);
  const size_t files = 150 * 2048;
  EXPECT_EQ(d.Bytes.substr(files, 100), std::string(100, 'S'));
  EXPECT_EQ(d.Bytes.substr(files + 100, 3 * 2048 - 100), std::string(3 * 2048 - 100, '\0'))
      << "zeros, never stale bytes, where the file fell short";
  EXPECT_EQ(d.Bytes.substr(files + 3 * 2048, 4096), std::string(3000, 'G') + std::string(1096, '\0'));
  EXPECT_EQ(d.Bytes.substr(files + 5 * 2048, 1), "z");
}

TEST_F(CacheThread, TheBurnRecordHashesWhatTheStreamCarriedForEachFile) {
  Header.assign(150 * 2048, 'H');
  Add("shrinks.bin", std::string(5000, 's'));
  Add("grows.bin", std::string(3000, 'g'));
  Add("same.bin", "z");
  Tmp.Write("shrinks.bin", std::string(100, 'S'));
  Tmp.Write("grows.bin", std::string(9000, 'G'));
  TBurnRecord record;
  record.Plan(Rec.Compilation(), 0);
  TCacheInput in = Input((150 + 3 + 2 + 1) * 2048);
  in.WritePostGap = false;
  in.Record = &record;
  TCacheThread cache(in);
  Drain(cache);
  const auto hashOf = [](const std::string& bytes) {
    return HashBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  };
  ASSERT_EQ(record.Files().size(), 3u);
  std::map<std::string, const TSentFile*> byPath;
  for (const TSentFile& f : record.Files()) byPath[f.DiscPath] = &f;
  EXPECT_EQ(byPath.at("/shrinks.bin")->Hash, hashOf(std::string(100, 'S') + std::string(4900, '\0')));
  EXPECT_EQ(byPath.at("/grows.bin")->Hash, hashOf(std::string(3000, 'G')));
  EXPECT_EQ(byPath.at("/same.bin")->Hash, hashOf("z"));
  EXPECT_TRUE(byPath.at("/shrinks.bin")->ChangedWhileRead);
  EXPECT_TRUE(byPath.at("/grows.bin")->ChangedWhileRead);
  EXPECT_FALSE(byPath.at("/same.bin")->ChangedWhileRead);
  EXPECT_TRUE(record.Chunks().empty()) << "chunks are kept for image files only";
}

TEST_F(CacheThread, AMissingSourceEndsTheCacheWithItsName) {
  Header.assign(150 * 2048, 'H');
  Add("gone.bin", "data");
  std::remove(Tmp.Path("gone.bin").c_str());
  TCacheThread cache(Input(151 * 2048));
  const TDrained d = Drain(cache);
  EXPECT_EQ(d.Error, "CAN'T OPEN FILE \"" + Tmp.Path("gone.bin") + "\" OR FILE IS IN USES BY OTHER SOFTWARE");
  EXPECT_EQ(cache.CurrentFile(), Tmp.Path("gone.bin"));
}

TEST_F(CacheThread, AnAbortDrainsTheQueueAndKeepsAnEarlierText) {
  Header.assign(4 * 1024 * 1024, 'H');  // more than the cache holds: it fills and waits
  TCacheThread first(Input(static_cast<int64_t>(Header.size())));
  while (!first.Primed()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_GT(first.CachedBytes(), 1000000);
  first.RequestAbort();
  first.WaitForEnd();
  EXPECT_EQ(first.ErrorText(), "OPERATION ABORTED BY USER");
  std::vector<uint8_t> buffer(65540);
  EXPECT_EQ(first.TakeChunk(buffer.data()), 0);

  Header.assign(4 * 1024 * 1024, 'H');
  TCacheThread second(Input(static_cast<int64_t>(Header.size())));
  while (!second.Primed()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  second.SetErrorText("WRITER ERROR [X]");
  second.RequestAbort();
  second.WaitForEnd();
  EXPECT_EQ(second.ErrorText(), "WRITER ERROR [X]");
}

TEST_F(CacheThread, AnImageFileIsStreamedAsItIs) {
  const std::string image = Tmp.Write("disc.iso", std::string(513 * 2048 + 100, 'i'));
  TCacheInput in = Input(514 * 2048);
  in.ImageFileName = image;
  in.ImageFileBytes = 513 * 2048 + 100;
  TCacheThread cache(in);
  const TDrained d = Drain(cache);
  EXPECT_EQ(d.Bytes, std::string(513 * 2048 + 100, 'i') + std::string(1948, '\0'));
  EXPECT_EQ(d.Deferred, "");
}

}  // namespace
}  // namespace fornax
