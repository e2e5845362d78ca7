// Helpers of the benchmarks: a scratch working directory, and whole runs of the program in
// this process.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "occusim2.h"
#include "settings.h"

namespace occusim::bench {

// A fresh directory under the system's temporary directory, made the working directory for
// the object's lifetime and removed afterwards.
class ScratchDir {
 public:
  ScratchDir() : before_(std::filesystem::current_path()) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "occusim2-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    std::filesystem::current_path(path_);
  }
  ~ScratchDir() {
    std::filesystem::current_path(before_);
    std::filesystem::remove_all(path_);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path before_;
  std::filesystem::path path_;
};

// One whole run of the program over the blank-separated 'line', in the working directory.
inline int run_line(const std::string& line) {
  std::vector<std::string> words = {"occusim2"};
  std::istringstream in(line);
  for (std::string w; in >> w;) words.push_back(w);
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  reset_settings();
  return run(static_cast<int>(words.size()), argv.data());
}

}  // namespace occusim::bench
