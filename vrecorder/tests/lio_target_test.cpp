#include <gtest/gtest.h>

#include "vrecorder/lio_target.h"

namespace fornax::vrec {
namespace {

TEST(LioTarget, NamesAndControlTextAsTheKernelTakesThem) {
  EXPECT_EQ(BackStoreControl("/var/lib/disc", 8ULL << 30),
            "dev_config=fornax//var/lib/disc,dev_size=8589934592,hw_block_size=2048");
  EXPECT_EQ(BackStoreControl("/tmp/a,cmd_ring_size_mb=1\nhw_max_sectors=8", 2048),
            "dev_config=fornax//tmp/a_cmd_ring_size_mb=1_hw_max_sectors=8,dev_size=2048,hw_block_size=2048")
      << "a folder's name adds no option";
  EXPECT_EQ(NaaName(0x5001405f0a000000ULL), "naa.5001405f0a000000");
  EXPECT_TRUE(UioNameMatches("tcm-user/0/fornax/fornax//var/lib/disc", "user_0", "fornax"));
  EXPECT_FALSE(UioNameMatches("tcm-user/0/fornax2/fornax/x", "user_0", "fornax"));
  EXPECT_FALSE(UioNameMatches("tcm-user/1/fornax/fornax/x", "user_0", "fornax"));
  EXPECT_FALSE(UioNameMatches("tcm-user/0/fornax/other/x", "user_0", "fornax"));
}

}  // namespace
}  // namespace fornax::vrec
