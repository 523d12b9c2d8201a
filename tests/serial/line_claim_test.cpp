#include "serial/com_line_claim.h"

#include <gtest/gtest.h>

namespace {

TEST(LineClaim, OneDeviceUnderAnyOfItsNamesIsClaimedOnce) {
  LineClaim first("COM33");
  ASSERT_TRUE(first.held());
  EXPECT_FALSE(LineClaim("\\\\.\\com33").held());
  EXPECT_TRUE(LineClaim("COM34").held());
  first.release();
  EXPECT_TRUE(LineClaim("\\\\.\\COM33").held());
}

}  // namespace
