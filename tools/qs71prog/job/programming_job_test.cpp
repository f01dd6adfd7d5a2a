#include "job/programming_job.h"

#include <gtest/gtest.h>

namespace qs71prog {
namespace {

TEST(AccessHint, OnlyForAProgrammerThisUserMayNotOpen) {
  EXPECT_EQ(AccessHint({}), "");
  EXPECT_EQ(AccessHint({{"/dev/hidraw2", true}}), "");
  const std::string hint = AccessHint({{"/dev/hidraw2", true}, {"/dev/hidraw5", false}});
  EXPECT_NE(hint.find("attached at /dev/hidraw5"), std::string::npos) << hint;
  EXPECT_NE(hint.find("70-qs71-programmer.rules"), std::string::npos) << hint;
  EXPECT_NE(hint.find("udevadm trigger"), std::string::npos) << hint;
}

}  // namespace
}  // namespace qs71prog
