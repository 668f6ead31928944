#include <gtest/gtest.h>

#include <sys/stat.h>

#include "engine/platform/read_access.h"

namespace fornax {
namespace {

// The kernel checks one class only: the owner's bits for the owner even when
// the group or the others may read, the group's bits for a member.
TEST(ReadAccess, PermissionBitsOfTheOneClassThatAppliesDecide) {
  const TCredentials owner{1000, 100, {}};
  const TCredentials member{1001, 200, {100}};
  const TCredentials stranger{1002, 300, {301}};
  constexpr uint32_t file = S_IFREG;

  EXPECT_TRUE(PermissionBitsGrantRead(file | 0400, 1000, 100, owner));
  EXPECT_FALSE(PermissionBitsGrantRead(file | 0044, 1000, 100, owner));

  EXPECT_TRUE(PermissionBitsGrantRead(file | 0040, 1000, 100, member)) << "a supplementary group counts";
  EXPECT_TRUE(PermissionBitsGrantRead(file | 0040, 1000, 200, member)) << "so does the effective group";
  EXPECT_FALSE(PermissionBitsGrantRead(file | 0404, 1000, 100, member));

  EXPECT_TRUE(PermissionBitsGrantRead(file | 0004, 1000, 100, stranger));
  EXPECT_FALSE(PermissionBitsGrantRead(file | 0440, 1000, 100, stranger));
}

}  // namespace
}  // namespace fornax
