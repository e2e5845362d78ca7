// End-to-end cases of the run driver: usage text, options, layouts, reports and refusals.
#include <gtest/gtest.h>

#include "support.h"

using occusim::testing::Outcome;
using occusim::testing::run_binary;
using occusim::testing::words;

TEST(Driver, TypicalRun) {
  const Outcome r = run_binary(words("3 100 0.5 0.3 0.4 0.5 0.1 0.2 0.05 0.1"));
  EXPECT_EQ(r.status, 0);
}
