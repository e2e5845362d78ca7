// Helpers shared by the tests: running the real binary in a fresh directory, and running
// the driver in-process with argument vectors built from strings.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace occusim::testing {

struct Outcome {
  int status = -1;                                          // exit status, or 128 + signal number
  std::string out;                                          // standard output
  std::string err;                                          // standard error
  std::map<std::string, std::optional<std::string>> files;  // occusim.sdh/.inp/.tmp, if present
  const std::string& file(const std::string& name) const;   // fails the test when absent
  bool has(const std::string& name) const { return files.at(name).has_value(); }
};

// Runs the occusim2 binary with 'args' (words after the program name) in a new empty
// directory; 'prepare' may create files there first (for instance links to /dev/full).
Outcome run_binary(const std::vector<std::string>& args,
                   const std::string& prepare_shell = std::string());

// Runs occusim::run in this process after reset_settings(), in a new empty directory,
// returning the status; the files are read back into 'files'. Console text is not captured.
Outcome run_inprocess(const std::vector<std::string>& args);

// Splits a command line on blanks.
std::vector<std::string> words(const std::string& line);

std::string read_file(const std::string& path);

// printf into a string of any length.
std::string format(const char* form, ...) __attribute__((format(printf, 1, 2)));

// The argument echo the program prints for 'args': "ARG[k]:word" per word, from k = 1.
std::string argument_echo(const std::vector<std::string>& args);

}  // namespace occusim::testing
