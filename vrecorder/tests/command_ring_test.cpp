#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "vrecorder/command_ring.h"
#include "vrecorder/drive_handler.h"
#include "vrecorder/tcmu_layout.h"

namespace fornax::vrec {
namespace {

// A mapped region laid out as the kernel lays it out: the mailbox, the
// command ring, then the data area the entries' buffers point into.
class FakeRing {
 public:
  static constexpr uint32_t kRingAt = 4096, kRingSize = 4096, kDataAt = kRingAt + kRingSize;

  FakeRing() : Region(kDataAt + 65536, 0) {
    Put<uint16_t>(FORNAX_TCMU_MAILBOX_FLAGS, FORNAX_TCMU_FLAG_READ_LEN);
    Put<uint32_t>(FORNAX_TCMU_MAILBOX_RING_OFFSET, kRingAt);
    Put<uint32_t>(FORNAX_TCMU_MAILBOX_RING_SIZE, kRingSize);
  }
  template <typename T>
  void Put(size_t at, T value) { std::memcpy(Region.data() + at, &value, sizeof value); }
  template <typename T>
  T Get(size_t at) const {
    T value;
    std::memcpy(&value, Region.data() + at, sizeof value);
    return value;
  }
  uint32_t Head() const { return Get<uint32_t>(FORNAX_TCMU_MAILBOX_HEAD); }
  uint32_t Tail() const { return Get<uint32_t>(FORNAX_TCMU_MAILBOX_TAIL); }

  // Queues a command whose one buffer of `length` bytes lies at `dataAt`, as
  // the kernel does: an entry with room for the response and the buffer
  // table, then the command block, 8-aligned. Returns where its entry starts.
  size_t Queue(std::vector<uint8_t> cdb, uint64_t dataAt, uint64_t length) {
    const uint32_t at = Head();
    const size_t entry = kRingAt + at;
    const size_t header = FORNAX_TCMU_ENTRY_BYTES + FORNAX_TCMU_IOV_BYTES;
    const size_t size = (header + cdb.size() + 7) / 8 * 8;
    std::memset(Region.data() + entry, 0, size);
    Put<uint32_t>(entry + FORNAX_TCMU_ENTRY_LEN_OP, static_cast<uint32_t>(size) | FORNAX_TCMU_OP_CMD);
    Put<uint32_t>(entry + FORNAX_TCMU_REQ_IOV_COUNT, 1);
    Put<uint64_t>(entry + FORNAX_TCMU_REQ_CDB_OFFSET, entry + header);
    Put<uint64_t>(entry + FORNAX_TCMU_REQ_IOV, dataAt);
    Put<uint64_t>(entry + FORNAX_TCMU_REQ_IOV + 8, length);
    std::memcpy(Region.data() + entry + header, cdb.data(), cdb.size());
    Put<uint32_t>(FORNAX_TCMU_MAILBOX_HEAD, static_cast<uint32_t>((at + size) % kRingSize));
    return entry;
  }
  // Padding up to the end of the ring, as the kernel writes it before a
  // command that would not fit.
  void Pad() {
    const uint32_t at = Head();
    Put<uint32_t>(kRingAt + at + FORNAX_TCMU_ENTRY_LEN_OP, (kRingSize - at) | FORNAX_TCMU_OP_PAD);
    Put<uint32_t>(FORNAX_TCMU_MAILBOX_HEAD, 0);
  }
  uint8_t Status(size_t entry) const { return Region[entry + FORNAX_TCMU_RSP_STATUS]; }
  uint32_t ReadLength(size_t entry) const { return Get<uint32_t>(entry + FORNAX_TCMU_RSP_READ_LEN); }
  uint8_t Sense(size_t entry, size_t i) const { return Region[entry + FORNAX_TCMU_RSP_SENSE + i]; }
  uint8_t Flags(size_t entry) const { return Region[entry + FORNAX_TCMU_ENTRY_UFLAGS]; }

  std::vector<uint8_t> Region;
};

TEST(CommandRing, AnswersInPlaceAndMovesTheTailOnPastPadding) {
  FakeRing fake;
  std::vector<std::vector<uint8_t>> seen;
  const TRingHandler handler = [&](const TRingCommand& c) {
    seen.emplace_back(c.Cdb.begin(), c.Cdb.end());
    TRingAnswer answer;
    if (c.Cdb[0] == 0x12) {  // INQUIRY: 36 bytes into a 96-byte buffer
      std::memset(c.Buffers.at(0).data(), 0x05, 36);
      answer.Transferred = 36;
    } else {
      answer.Status = 2;
      answer.Sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0};
    }
    return answer;
  };
  const size_t first = fake.Queue({0x12, 0, 0, 0, 96, 0}, FakeRing::kDataAt, 96);
  const size_t second = fake.Queue({0xEE, 0, 0, 0, 0, 0, 0, 0, 0, 0}, FakeRing::kDataAt + 4096, 0);
  TCommandRing ring(fake.Region.data(), fake.Region.size());
  EXPECT_EQ(ring.Drain(handler), 2);
  EXPECT_EQ(fake.Tail(), fake.Head());
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].size(), 6u) << "group 0: a six-byte block";
  EXPECT_EQ(seen[1].size(), 10u) << "group 7 (vendor): the usual ten bytes";

  EXPECT_EQ(fake.Status(first), 0);
  EXPECT_EQ(fake.ReadLength(first), 36u) << "the residual of a short answer";
  EXPECT_TRUE(fake.Flags(first) & FORNAX_TCMU_UFLAG_READ_LEN);
  EXPECT_EQ(fake.Region[FakeRing::kDataAt + 35], 0x05);
  EXPECT_EQ(fake.Status(second), 2);
  EXPECT_EQ(fake.Sense(second, 12), 0x20);

  // The next command would not fit before the end: padding, then the ring's start.
  fake.Pad();
  const size_t third = fake.Queue({0x00, 0, 0, 0, 0, 0}, FakeRing::kDataAt, 0);
  EXPECT_EQ(third, size_t{FakeRing::kRingAt});
  EXPECT_EQ(ring.Drain(handler), 1);
  EXPECT_EQ(fake.Tail(), fake.Head());
  EXPECT_EQ(ring.Drain(handler), 0) << "nothing new";
}

TEST(CommandRing, ABufferOutsideTheRegionIsNeverFollowed) {
  FakeRing fake;
  bool called = false;
  const size_t at = fake.Queue({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, fake.Region.size() - 100, 2048);
  TCommandRing ring(fake.Region.data(), fake.Region.size());
  EXPECT_EQ(ring.Drain([&](const TRingCommand&) {
              called = true;
              return TRingAnswer{};
            }),
            1);
  EXPECT_FALSE(called);
  EXPECT_EQ(fake.Status(at), 2);
  EXPECT_EQ(fake.Sense(at, 2), 0x05);
  EXPECT_EQ(fake.Sense(at, 12), 0x24);
}

TEST(DataDirection, OnlyTheCommandsThatSendDataSendIt) {
  EXPECT_EQ(DataDirection(0x2A, 65536), TDirection::Out);   // WRITE (10)
  EXPECT_EQ(DataDirection(0x5D, 32), TDirection::Out);      // SEND CUE SHEET
  EXPECT_EQ(DataDirection(0x15, 12), TDirection::Out);      // MODE SELECT (6) with a block descriptor
  EXPECT_EQ(DataDirection(0x43, 12), TDirection::In);       // READ TOC
  EXPECT_EQ(DataDirection(0x2A, 0), TDirection::None);      // a write of no blocks moves nothing
}

}  // namespace
}  // namespace fornax::vrec
