// Test helpers: fresh temporary directories, the binary run with fork/exec, in-process runs.
#include "support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "occusim2.h"
#include "settings.h"

namespace fs = std::filesystem;

namespace occusim::testing {

namespace {

const char* const kFiles[] = {"occusim.sdh", "occusim.inp", "occusim.tmp"};

fs::path fresh_directory() {
  std::string pattern = (fs::temp_directory_path() / "occusim2-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

void collect_files(const fs::path& dir, Outcome& outcome) {
  for (const char* name : kFiles) {
    const fs::path path = dir / name;
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) {
      outcome.files[name] = read_file(path.string());
    } else {
      outcome.files[name] = std::nullopt;
    }
  }
}

}  // namespace

const std::string& Outcome::file(const std::string& name) const {
  const auto& entry = files.at(name);
  if (!entry.has_value()) {
    ADD_FAILURE() << name << " was not written";
    static const std::string empty;
    return empty;
  }
  return *entry;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string format(const char* form, ...) {
  va_list args;
  va_start(args, form);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, form, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  std::vsnprintf(text.data(), text.size() + 1, form, again);
  va_end(again);
  return text;
}

std::string argument_echo(const std::vector<std::string>& args) {
  std::string text;
  for (size_t k = 0; k < args.size(); ++k) text += format("ARG[%zu]:%s\n", k + 1, args[k].c_str());
  return text;
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> result;
  std::string word;
  while (in >> word) result.push_back(word);
  return result;
}

Outcome run_binary(const std::vector<std::string>& args, const std::string& prepare_shell) {
  const fs::path work = fresh_directory();
  const fs::path console = fresh_directory();
  if (!prepare_shell.empty()) {
    const std::string command = "cd '" + work.string() + "' && " + prepare_shell;
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << "prepare failed: " << prepare_shell;
  }
  const std::string out_path = (console / "stdout").string();
  const std::string err_path = (console / "stderr").string();
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(work.c_str()) != 0) _exit(126);
    if (!freopen(out_path.c_str(), "w", stdout) || !freopen(err_path.c_str(), "w", stderr)) {
      _exit(126);
    }
    std::vector<char*> argv;
    static char program[] = "occusim2";
    argv.push_back(program);
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(OCCUSIM2_BIN, argv.data());
    _exit(127);
  }
  int wstatus = 0;
  waitpid(child, &wstatus, 0);
  Outcome outcome;
  outcome.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  outcome.out = read_file(out_path);
  outcome.err = read_file(err_path);
  collect_files(work, outcome);
  fs::remove_all(work);
  fs::remove_all(console);
  return outcome;
}

Outcome run_inprocess(const std::vector<std::string>& args) {
  const fs::path work = fresh_directory();
  const fs::path before = fs::current_path();
  fs::current_path(work);
  std::vector<std::string> storage = {"occusim2"};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  Outcome outcome;
  occusim::reset_settings();
  std::fflush(stdout);
  outcome.status = occusim::run(static_cast<int>(storage.size()), argv.data());
  std::fflush(stdout);
  std::fflush(stderr);
  collect_files(work, outcome);
  fs::current_path(before);
  fs::remove_all(work);
  return outcome;
}

}  // namespace occusim::testing
