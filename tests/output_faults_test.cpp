// Output faults, end to end: a data, list or temporary file on a full device (a link to
// /dev/full) or in the way of a directory of the same name. Every model then ends with the
// perror-form line for that file, "<name>: <reason>", and exit status 1, and every other
// file holds exactly what the same run writes without the fault.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <string>

#include "support.h"

namespace {

using occusim::testing::Outcome;
using occusim::testing::run_binary;
using occusim::testing::words;

const char* const kFiles[] = {"occusim.inp", "occusim.tmp", "occusim.sdh"};

struct Model {
  const char* name;
  const char* line;
  bool multistate;  // writes occusim.tmp and builds the data file from it
  bool empty_list;  // writes nothing into occusim.inp
};

// QUIET keeps the run report off the standard error stream; the multistate models print
// only on the standard output stream.
const Model kModels[] = {
    {"single season", "3 100 0.5 0.3 0.4 0.5 QUIET", false, false},
    {"multi-season", "3 100 0.5 0.3 0.4 0.5 0.1 0.2 0.05 0.1 QUIET", false, false},
    {"multi-method", "1 100 0.5 0.5 0.5 0.6 METH=2 QUIET", false, false},
    // About 2 MB of rows: the device refuses many writes before the file is closed.
    {"stochastic, large", "-10 100000 0.5 0.3 0.4 0.5 SEED=3 QUIET", false, false},
    {"SSOCC", "3 100 0.5 0.2 0.8 0.3 0.4 0.5 SSOCC QUIET", false, false},
    {"SIMTYPE", "3 5 0.5 0.3 0.4 0.5 NCOVS=1 0.5 SIMTYPE QUIET", false, false},
    {"2SP", "1 100 0.5 0.4 0.2 0.6 0.5 0.8 0.9 0.3 2SP QUIET", false, false},
    {"MULTISTATE tree", "1 100 0.5 0.4 0.5 0.6 0.8 MULTISTATE", true, false},
    {"MULTISTATE SIMTYPE", "2 5 0.5 0.4 0.5 0.5 0.6 0.6 0.8 0.8 MULTISTATE SIMTYPE", true, true},
    {"NSTATES=", "1 100 0.6 0 0.5 NSTATES=2", true, false},
    {"LAMBDA=", "3 10 0.5 LAMBDA=2.55 SEED=5 QUIET", false, true},
};

struct Fault {
  const char* file;
  const char* prepare;
  int error;
};

const Fault kFaults[] = {
    {"occusim.sdh", "ln -s /dev/full occusim.sdh", ENOSPC},
    {"occusim.inp", "ln -s /dev/full occusim.inp", ENOSPC},
    {"occusim.tmp", "ln -s /dev/full occusim.tmp", ENOSPC},
    {"occusim.sdh", "mkdir occusim.sdh", EISDIR},
    {"occusim.inp", "mkdir occusim.inp", EISDIR},
    {"occusim.tmp", "mkdir occusim.tmp", EISDIR},
};

// The runs inherit a file-size limit: one that writes without end (a temporary file read
// back from /dev/full yields zeros for ever) dies of SIGXFSZ instead of filling the disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit = saved_;
    limit.rlim_cur = std::min(bytes, saved_.rlim_max);
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

 private:
  rlimit saved_{};
};

TEST(OutputFaults, EveryModelReportsTheFileAndFails) {
  const FileSizeLimit limit(64u << 20);
  for (const Model& model : kModels) {
    SCOPED_TRACE(model.name);
    const auto args = words(model.line);
    const Outcome clean = run_binary(args);
    ASSERT_EQ(clean.status, 0);
    ASSERT_EQ(clean.err, "");
    ASSERT_TRUE(clean.has("occusim.sdh") && clean.has("occusim.inp"));
    ASSERT_EQ(clean.has("occusim.tmp"), model.multistate);
    for (const Fault& fault : kFaults) {
      const std::string name = fault.file;
      // The other models never touch the temporary file.
      if (name == "occusim.tmp" && !model.multistate) continue;
      SCOPED_TRACE(fault.prepare);
      const Outcome r = run_binary(args, fault.prepare);
      EXPECT_FALSE(r.has(name));
      EXPECT_EQ(r.out, clean.out);
      if (name == "occusim.inp" && model.empty_list && fault.error == ENOSPC) {
        // Nothing is written to the list file, so nothing is lost on a full device.
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
      } else {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, name + ": " + std::strerror(fault.error) + "\n");
      }
      for (const char* other : kFiles) {
        if (name == other) continue;
        std::optional<std::string> expected = clean.files.at(other);
        // Without the rows of the temporary file the data file is a header line of 0 rows
        // and the closing lines.
        if (name == "occusim.tmp" && std::string(other) == "occusim.sdh") {
          const std::string& sdh = *clean.files.at(other);
          const size_t tab = sdh.find('\t');
          std::string empty = "0";
          empty.append(sdh, tab, sdh.find('\n') + 1 - tab);
          empty.append("0\n0\n");
          expected = empty;
        }
        EXPECT_EQ(r.files.at(other), expected) << other;
      }
    }
  }
}

}  // namespace
