#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>
#include <mutex>
#include <string>
#include <thread>
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
  std::vector<uint8_t> buffer;
  for (int guard = 0; guard < 1000000; ++guard) {
    const int n = cache.TakeChunk(buffer, 1000);
    if (n == 0) break;
    if (n < 0) continue;
    EXPECT_GE(buffer.size(), 65536u) << "room to pad a whole DVD unit";
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
    in.Header = [this](const THeaderSink& sink) { sink(Header.data(), Header.size()); };
    in.Compilation = &Rec.Compilation();
    in.TotalBytes = totalBytes;
    in.ChunkSize = chunk;
    in.CacheLock = &Lock;
    return in;
  }
  void Add(const std::string& name, const std::string& content) {
    ASSERT_TRUE(Rec.AddFileEntry("\\", Tmp.Write(name, content), false));
  }
  // The compilation as the queued stream hands it out, without a post-gap.
  std::string Stream(int64_t total) {
    TCacheInput in = Input(total);
    in.WritePostGap = false;
    TCacheThread cache(in);
    const TDrained d = Drain(cache);
    EXPECT_EQ(d.Error, "");
    return d.Bytes;
  }
  // Writes the compilation straight into a new image file, as an image is
  // made, and returns the file's bytes.
  // headerBytes: the header's length as the layout gives it (0: unknown);
  // header: one other than the fixture's, which sends Header whole.
  std::string WriteDirect(int64_t total, std::string& error, int64_t headerBytes = 0,
                          const THeaderSource& header = nullptr) {
    const std::string target = Tmp.Path("direct.iso");
    const int fd = ::open(target.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    TCacheInput direct = Input(total);
    direct.WritePostGap = false;
    direct.DirectTarget = fd;
    direct.DirectTargetName = target;
    direct.HeaderBytes = headerBytes;
    if (header) direct.Header = header;
    TCacheThread cache(direct);
    cache.WaitForEnd();
    EXPECT_EQ(::ftruncate(fd, cache.DirectLength()), 0);
    ::close(fd);
    error = cache.ErrorText();
    EXPECT_EQ(cache.DeferredError(), "");
    if (error.empty()) {
      EXPECT_EQ(cache.DirectProgress(), total);
      EXPECT_EQ(cache.DirectLength(), total);
    }
    return test::TTempFolder::Read(target);
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
  while (!first.WaitPrimed(1000)) {
  }
  EXPECT_GT(first.CachedBytes(), 1000000);
  first.RequestAbort();
  first.WaitForEnd();
  EXPECT_EQ(first.ErrorText(), "OPERATION ABORTED BY USER");
  std::vector<uint8_t> buffer;
  EXPECT_EQ(first.TakeChunk(buffer), 0);

  Header.assign(4 * 1024 * 1024, 'H');
  TCacheThread second(Input(static_cast<int64_t>(Header.size())));
  while (!second.WaitPrimed(1000)) {
  }
  second.SetErrorText("WRITER ERROR [X]");
  second.RequestAbort();
  second.WaitForEnd();
  EXPECT_EQ(second.ErrorText(), "WRITER ERROR [X]");
}

// The writer and the cache trade buffers: however long the stream, no more
// buffers exist than the cache holds, and no chunk is copied on the way.
TEST_F(CacheThread, ChunksChangeHandsWithoutNewBuffers) {
  Header.assign(16 * 2048, 'H');
  Add("big.bin", std::string(3 * 1024 * 1024, 'b'));
  TCacheInput in = Input(16 * 2048 + 3 * 1024 * 1024, kChunkSizeDvd);
  in.CacheBytes = 4 * kChunkSizeDvd;
  TCacheThread cache(in);
  std::vector<uint8_t> buffer;
  std::set<const uint8_t*> seen;
  std::string bytes;
  for (int n; (n = cache.TakeChunk(buffer, 1000)) != 0;) {
    if (n < 0) continue;
    seen.insert(buffer.data());
    bytes.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
  }
  EXPECT_EQ(cache.ErrorText(), "");
  EXPECT_EQ(bytes, std::string(16 * 2048, 'H') + std::string(3 * 1024 * 1024, 'b'));
  EXPECT_LE(seen.size(), 6u) << "four queued, one being filled, one with the writer";
}

// A full queue waits for a quarter of it to be free before it is refilled;
// the smallest queues (two and three chunks) have no quarter and must still
// be woken, or the stream stops.
TEST_F(CacheThread, QueuesOfEverySizeAreRefilledToTheEnd) {
  Add("big.bin", std::string(1024 * 1024 + 5, 'b'));
  const std::string expected = std::string(1024 * 1024 + 5, 'b') + std::string(2048 - 5, '\0');
  for (const int chunks : {2, 3, 4, 5, 8, 64}) {
    TCacheInput in = Input(static_cast<int64_t>(expected.size()), kChunkSizeDvd);
    in.Header = nullptr;
    in.CacheBytes = chunks * kChunkSizeDvd;
    TCacheThread cache(in);
    std::vector<uint8_t> buffer;
    std::string bytes;
    int idle = 0;
    for (int n; (n = cache.TakeChunk(buffer, 1000)) != 0 && idle < 10;) {
      if (n < 0) {
        ++idle;
        continue;
      }
      idle = 0;
      bytes.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
    }
    EXPECT_LT(idle, 10) << chunks << " chunks: the producer was never woken";
    EXPECT_EQ(bytes.size(), expected.size()) << chunks << " chunks";
    EXPECT_TRUE(bytes == expected) << chunks << " chunks";
    cache.RequestAbort();
  }
}

// A regular image file is written by the cache itself: the same bytes as the
// stream, sources that changed named, and an abort that stops it.
TEST_F(CacheThread, ARegularImageFileIsWrittenInPlaceWithTheStreamsBytes) {
  Header.assign(150 * 2048, 'H');
  Add("a.bin", std::string(30000, 'a'));
  Add("empty.bin", "");
  Add("shrinks.bin", std::string(5000, 's'));
  Add("b.bin", std::string(1, 'b'));
  Tmp.Write("shrinks.bin", std::string(100, 'S'));
  const int64_t total = (150 + 15 + 3 + 1) * 2048;
  const std::vector<uint8_t> header = Header;
  TCacheInput streamed = Input(total);
  streamed.WritePostGap = false;
  TCacheThread first(streamed);
  const TDrained d = Drain(first);

  Header = header;
  const std::string target = Tmp.Path("out.iso");
  const int fd = ::open(target.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  TCacheInput direct = Input(total);
  direct.WritePostGap = false;
  direct.DirectTarget = fd;
  direct.DirectTargetName = target;
  TCacheThread second(direct);
  EXPECT_TRUE(second.WaitPrimed(1000)) << "nothing to prime";
  while (!second.WaitFinished(1000)) {
  }
  second.WaitForEnd();
  ASSERT_EQ(::ftruncate(fd, second.DirectLength()), 0);
  ::close(fd);
  EXPECT_EQ(second.ErrorText(), "");
  EXPECT_EQ(second.DirectLength(), total);
  EXPECT_EQ(second.DirectProgress(), total);
  EXPECT_EQ(test::TTempFolder::Read(target), d.Bytes);
  EXPECT_NE(second.DeferredError().find("shrinks.bin"), std::string::npos);

  // An abort ends it short of its length, with its own text.
  Header = header;
  Add("large.bin", std::string(64 * 1024 * 1024, 'L'));
  const int again = ::open(target.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  TCacheInput large = Input(total + 64 * 1024 * 1024);
  large.DirectTarget = again;
  large.DirectTargetName = target;
  TCacheThread third(large);
  third.RequestAbort();
  third.WaitForEnd();
  ::close(again);
  EXPECT_EQ(third.ErrorText(), "OPERATION ABORTED BY USER");
  EXPECT_LT(third.DirectProgress(), total + 64 * 1024 * 1024);
}

// Many files of mixed sizes, copied by more than one copier out of order,
// land exactly where the stream puts them; a source that is gone stops the
// write with its name.
TEST_F(CacheThread, ADirectWriteOfManyFilesMatchesTheStreamAndStopsAtAMissingSource) {
  Header.assign(20 * 2048, 'H');
  int64_t sectors = 20;
  uint32_t seed = 7;
  for (int i = 0; i < 400; ++i) {
    seed = seed * 1103515245u + 12345u;
    const size_t size = i == 123 ? 5 * 1024 * 1024 + 17 : (seed >> 8) % (i % 10 == 0 ? 300000 : 3000);
    std::string content(size, '\0');
    for (size_t b = 0; b < size; b += 97) content[b] = static_cast<char>('a' + (i + b) % 26);
    Add("f" + std::to_string(i) + ".bin", content);
    sectors += static_cast<int64_t>((size + 2047) / 2048);
  }
  const int64_t total = sectors * 2048;
  const std::string stream = Stream(total);
  ASSERT_EQ(static_cast<int64_t>(stream.size()), total);

  std::string error;
  EXPECT_TRUE(WriteDirect(total, error) == stream) << "the direct image differs from the stream";
  EXPECT_EQ(error, "");

  // A header of known length is made while the files are copied behind it;
  // here it comes in pieces, slowly enough for the copier to be ahead.
  const std::vector<uint8_t> header = Header;
  for (size_t b = 0; b < Header.size(); b += 7) Header[b] = static_cast<uint8_t>(b / 2048);
  const std::string withHeader = Stream(total);
  const auto inPieces = [this](const THeaderSink& sink) {
    for (size_t at = 0; at < Header.size(); at += 2048) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      sink(Header.data() + at, 2048);
    }
  };
  EXPECT_TRUE(WriteDirect(total, error, static_cast<int64_t>(Header.size()), inPieces) == withHeader)
      << "the header and files made together differ";
  EXPECT_EQ(error, "");
  // A header whose length is not the one planned never passes: the files
  // behind it were placed for the planned one.
  EXPECT_TRUE(WriteDirect(total, error, static_cast<int64_t>(Header.size())) == withHeader);
  EXPECT_EQ(error, "");
  WriteDirect(total, error, static_cast<int64_t>(Header.size()) + 2048);
  EXPECT_NE(error, "") << "a header shorter than its layout";
  Header = header;

  ASSERT_EQ(::unlink(Tmp.Path("f300.bin").c_str()), 0);
  WriteDirect(total, error);
  EXPECT_NE(error.find("f300.bin"), std::string::npos) << error;
}

// A few large files go by one copier from mappings read in a step ahead,
// ending inside pages and sectors, at offsets off the image's large pages.
TEST_F(CacheThread, AFewLargeFilesWrittenDirectMatchTheStream) {
  Header.assign(19 * 2048, 'H');
  int64_t sectors = 19;
  for (const size_t size : {(size_t{6} << 20) + 5, size_t{4} << 20, (size_t{17} << 20) + 2049}) {
    std::string content(size, '\0');
    for (size_t b = 0; b < size; b += 89) content[b] = static_cast<char>('A' + (size + b) % 26);
    Add("large" + std::to_string(sectors) + ".bin", content);
    sectors += static_cast<int64_t>((size + 2047) / 2048);
  }
  const int64_t total = sectors * 2048;
  const std::string stream = Stream(total);
  ASSERT_EQ(static_cast<int64_t>(stream.size()), total);
  std::string error;
  EXPECT_TRUE(WriteDirect(total, error) == stream) << "the direct image differs from the stream";
  EXPECT_EQ(error, "");
}

TEST_F(CacheThread, AnImageFileThatIsAlsoASourceIsRefused) {
  Header.assign(150 * 2048, 'H');
  Add("old.iso", std::string(4096, 'o'));
  const int fd = ::open(Tmp.Path("old.iso").c_str(), O_RDWR | O_TRUNC);
  ASSERT_GE(fd, 0);
  TCacheInput in = Input(152 * 2048);
  in.DirectTarget = fd;
  in.DirectTargetName = Tmp.Path("old.iso");
  TCacheThread cache(in);
  cache.WaitForEnd();
  ::close(fd);
  EXPECT_EQ(cache.ErrorText(), "The image file \"" + Tmp.Path("old.iso") + "\" is among its own sources");
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
