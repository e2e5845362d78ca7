// History text and the single-species writer pass: the globals are set directly, the pass
// writes into temporary files, and the bytes are compared with the line forms of both files.
#include "output.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "settings.h"
#include "support.h"

namespace {

using occusim::base3rep;
using occusim::binrep;

TEST(HistoryText, BinaryCodesPositionOneFirst) {
  struct Case {
    long long code;
    int positions;
    const char* text;
  };
  const Case cases[] = {
      {0, 1, "0"},
      {1, 1, "1"},
      {5, 3, "101"},
      {1, 4, "0001"},
      {8, 4, "1000"},
      {11, 4, "1011"},
      {9, 3, "001"},  // only the low bits belong to the history
      {(1 << 24) - 2, 24, "111111111111111111111110"},
  };
  occusim::reset_settings();
  for (const Case& c : cases) {
    std::string text = "left over from before";
    binrep(c.code, c.positions, text);
    EXPECT_EQ(text, c.text) << c.code;
  }
}

TEST(HistoryText, P0MissMarksPositionsWithoutDetection) {
  occusim::reset_settings();
  occusim::pa = {0.3, 0.0, 0.5, -0.1};
  std::string text;
  binrep(15, 4, text);
  EXPECT_EQ(text, "1111");  // P0MISS not set: the bits alone
  occusim::P0MISS = 1;
  for (long long code : {0LL, 15LL, 4LL, 1LL}) {
    binrep(code, 4, text);
    std::string expected = {code & 8 ? '1' : '0', '.', code & 2 ? '1' : '0', '.'};
    EXPECT_EQ(text, expected) << code;
  }
  occusim::reset_settings();
}

TEST(HistoryText, TwoSpeciesDigitsPerOccasion) {
  occusim::reset_settings();
  occusim::P0MISS = 1;  // never applies to two-species text
  occusim::pa = {0, 0, 0};
  struct Case {
    long long code;
    int occasions;
    const char* text;
  };
  const Case cases[] = {
      {0b011011, 3, "123"}, {0b111001, 3, "321"}, {0, 2, "00"}, {0b10, 1, "2"}, {0b1101, 3, "031"},
  };
  for (const Case& c : cases) {
    std::string text = "xxxxxxxx";
    base3rep(c.code, c.occasions, text);
    EXPECT_EQ(text, c.text) << c.code;
  }
  occusim::reset_settings();
}

// The writer pass over a table set by the test, into files of a fresh directory.
class WriterPass : public ::testing::Test {
 protected:
  void SetUp() override {
    occusim::reset_settings();
    char pattern[] = "/tmp/occusim2-output-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    occusim::reset_settings();
    std::filesystem::remove_all(dir_);
  }

  // Runs the pass over 'counts' with 'positions' positions; the LIST echo lands in echo_.
  void run_pass(const std::vector<double>& counts, int positions, bool stochastic,
                bool list = false) {
    occusim::nper = positions;
    occusim::determ = stochastic ? 0 : 1;
    occusim::LIST = list ? 1 : 0;
    occusim::nx = counts;
    if (occusim::pa.empty()) occusim::pa.assign(static_cast<size_t>(positions), 0.5);
    occusim::fp = std::fopen((dir_ + "/occusim.inp").c_str(), "w");
    occusim::fp2 = std::fopen((dir_ + "/occusim.sdh").c_str(), "w");
    ASSERT_NE(occusim::fp, nullptr);
    ASSERT_NE(occusim::fp2, nullptr);
    ::testing::internal::CaptureStderr();
    occusim::single_species_pass();
    echo_ = ::testing::internal::GetCapturedStderr();
    std::fclose(occusim::fp);
    std::fclose(occusim::fp2);
    occusim::fp = occusim::fp2 = nullptr;
    inp_ = occusim::testing::read_file(dir_ + "/occusim.inp");
    sdh_ = occusim::testing::read_file(dir_ + "/occusim.sdh");
  }

  static std::string times(const std::string& row, long long n) {
    std::string text;
    for (long long i = 0; i < n; ++i) text += row;
    return text;
  }

  std::string dir_;
  std::string inp_, sdh_, echo_;
};

TEST_F(WriterPass, DeterministicRowsCarryTheirCounts) {
  run_pass({62, 18, 8, 12}, 2, false);
  EXPECT_EQ(inp_, "00 62.000000;\n01 18.000000;\n10 8.000000;\n11 12.000000;\n");
  EXPECT_EQ(sdh_,
            "4\t2\n0\t0\t62.000000\n0\t1\t18.000000\n1\t0\t8.000000\n1\t1\t12.000000\n0\n0\n");
  EXPECT_EQ(echo_, "");
}

TEST_F(WriterPass, DeterministicHeaderCountsPositiveHistoriesOnly) {
  // Zero and negative counts are skipped; a tiny positive one is a history like any other.
  run_pass({0, 0.000001, 5, -2}, 2, false, true);
  EXPECT_EQ(inp_, "01 0.000001;\n10 5.000000;\n");
  EXPECT_EQ(sdh_, "2\t2\n0\t1\t0.000001\n1\t0\t5.000000\n0\n0\n");
  EXPECT_EQ(echo_, ">01 0.000001;\n>10 5.000000;\n");
}

TEST_F(WriterPass, StochasticRowsRepeatWithoutCounts) {
  run_pass({62, 18, 8, 12}, 2, true);
  EXPECT_EQ(inp_, "00 62.000000;\n01 18.000000;\n10 8.000000;\n11 12.000000;\n");
  EXPECT_EQ(sdh_, "100\t2\n" + times("0\t0\t\n", 62) + times("0\t1\t\n", 18) +
                      times("1\t0\t\n", 8) + times("1\t1\t\n", 12) + "0\n0\n");
}

TEST_F(WriterPass, StochasticFractionalAndNegativeCounts) {
  // 0.4 rounds to no row but keeps its list line; 2.5 rounds to three rows; the header sums the
  // rounded counts of every code, a negative one (a normal approximation overshoot) included.
  run_pass({0.4, 2.5, -3, 1, 0.000001, 0, 7.49, 0}, 3, true, true);
  EXPECT_EQ(inp_, "000 0.400000;\n001 2.500000;\n011 1.000000;\n100 0.000001;\n110 7.490000;\n");
  EXPECT_EQ(echo_,
            ">000 0.400000;\n>001 2.500000;\n>011 1.000000;\n>100 0.000001;\n"
            ">110 7.490000;\n");
  EXPECT_EQ(sdh_, "8\t3\n" + times("0\t0\t1\t\n", 3) + "0\t1\t1\t\n" + times("1\t1\t0\t\n", 7) +
                      "0\n0\n");
}

TEST_F(WriterPass, P0MissTextInBothFilesAndTheEcho) {
  occusim::P0MISS = 1;
  occusim::pa = {0.3, 0.0, 0.5};
  run_pass({35, 15, 0, 0, 35, 15, 0, 0}, 3, false, true);
  EXPECT_EQ(inp_, "0.0 35.000000;\n0.1 15.000000;\n1.0 35.000000;\n1.1 15.000000;\n");
  EXPECT_EQ(echo_, ">0.0 35.000000;\n>0.1 15.000000;\n>1.0 35.000000;\n>1.1 15.000000;\n");
  EXPECT_EQ(sdh_,
            "4\t3\n0\t.\t0\t35.000000\n0\t.\t1\t15.000000\n1\t.\t0\t35.000000\n"
            "1\t.\t1\t15.000000\n0\n0\n");
}

TEST_F(WriterPass, ManyRepeatedRowsAreWrittenWhole) {
  // Counts around multiples of any block size a writer may use, each history its own row.
  for (long long n : {1LL, 9362LL, 9363LL, 18724LL, 65536LL, 65537LL, 1000003LL}) {
    SCOPED_TRACE(n);
    run_pass({0, 0, 0, static_cast<double>(n), 0, 0, 0, 2}, 3, true);
    const std::string rows = times("0\t1\t1\t\n", n);
    ASSERT_EQ(sdh_.size(), std::to_string(n + 2).size() + 3 + rows.size() + 14 + 4);
    EXPECT_TRUE(sdh_ == std::to_string(n + 2) + "\t3\n" + rows + "1\t1\t1\t\n1\t1\t1\t\n0\n0\n");
  }
}

}  // namespace
