// Command-line fuzzer for occusim2.
//
// Generates argument vectors from a grammar, runs the program on each in a fresh directory
// with a wall-clock time limit and a file-size limit, and fails on any crash, sanitizer
// report, run without end or odd ending. Build the program with the asan preset for the
// sanitizer checks to mean anything:
//
//   build/asan/tools/fuzz_cli --count 100000 --seed 7 build/asan/occusim2
//
// Options: --seed S (default 1), --count N (lines, default 2000), --jobs J (parallel runs,
// default 2), --time-limit SECONDS (per run, default 20), --file-limit BYTES (RLIMIT_FSIZE
// of each run, default 8 MiB), --leak-every N (LeakSanitizer in every Nth run, default 8;
// 1 for all: its scan at exit costs more than most runs), --print (write the lines without
// running them). The sanitizers keep the caller's ASAN_OPTIONS and UBSAN_OPTIONS and are
// told to exit with status 86.
//
// Every line is generated from the seed and its own index only (a splitmix64 stream, no
// library distributions), so a seed gives the same lines on every platform and with any
// number of jobs.
//
// The grammar. A line is either "soup" (0 to 40 words drawn at random: numbers of every
// form strtod/strtoll accept or half-accept, option keywords with and without values,
// keywords inside other words, junk, repeats) or follows one model's positional layout
// (single season, multi-season, multi-method, SSOCC, SIMTYPE, 2SP, MULTISTATE, NSTATES=,
// LAMBDA=) with ordinary values, so that the models themselves are reached; a third of the
// layout lines is then mutated (one field replaced by a hostile number, values dropped,
// option words inserted or repeated). One line in twenty runs with an output fault set up in
// its directory (occusim.sdh, .inp or .tmp a link to /dev/full, or a directory): it must
// then not end with status 0 after a failed-file line.
//
// Magnitudes. A run the user asked to be huge is a legitimate run that is merely slow, so
// such lines are kept out of the round, while every hostile number is still tried in every
// field where it is refused or cheap. The cost of a run is driven by a few fields only:
//   - T (argument 1): a deterministic tree visits every node, 3^T (3^(M*T) multi-method),
//     4^T for 2SP, 9^T for MULTISTATE, S^(2T) for NSTATES=S. A T-field value is used only
//     when |T| <= 4, 25 <= |T| <= 31 (refused by every tree limit, cheap site by site), or
//     |T| > 10^7 (refused everywhere). Layout lines that pick T up to 12 themselves never
//     receive options that change the model.
//   - N (argument 2): site-by-site and count runs work per site (SIMTYPE with NCOVS fills
//     N values per covariate before writing a row; the count model allocates N counters),
//     and stochastic splits in the tails draw about N*p times. An N-field value is used
//     only when it is at most 1000, at least 2^31 (refused wherever N becomes a count, and
//     free in deterministic trees) or not finite (refused). So 2147483647 sites, which is
//     allowed, is never tried.
//   - METH=M: M <= 3 or M >= 25 (refused), so M*T stays within 12 when |T| <= 4.
//   - LAMBDA=x: the count model places N*x individuals before writing a byte: x <= 10, or
//     x >= 2^31 (refused for any N >= 1), or not finite, or <= 0 (no count model).
//   - NOBS, NSTATES, NCOVS, SEED and every probability take any value: NOBS rows are
//     written as they go (the file-size limit ends a huge run with SIGXFSZ, an accepted
//     end), NSTATES and NCOVS are bounded by the 40 words a line has, and probabilities
//     change no cost.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t kMaxWords = 40;
// Exit status the sanitizers are told to use, so a report is recognised by status too.
constexpr int kSanitizerStatus = 86;

// ---------------------------------------------------------------------------------------
// Random source: splitmix64, exact on every platform.

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // 0 to n - 1 (n > 0).
  size_t below(size_t n) { return static_cast<size_t>(next() % n); }
  // lo to hi, both included.
  int between(int lo, int hi) {
    return lo + static_cast<int>(below(static_cast<size_t>(hi - lo + 1)));
  }
  bool percent(int p) { return below(100) < static_cast<size_t>(p); }
  template <typename T, size_t N>
  const T& pick(const T (&items)[N]) {
    return items[below(N)];
  }

 private:
  uint64_t state_;
};

// ---------------------------------------------------------------------------------------
// Numbers: every form the program's conversions (strtoll base 10, strtod) accept, and
// forms they accept only in part or not at all.

const char* const kNumbers[] = {
    // integers, around the int and long long limits
    "0", "1", "-1", "2", "3", "4", "-4", "7", "10", "12", "18", "24", "25", "29", "30", "31", "100",
    "300", "301", "32767", "32768", "65536", "2147483646", "2147483647", "2147483648",
    "-2147483647", "-2147483648", "-2147483649", "4294967295", "4294967296", "9223372036854775807",
    "9223372036854775808", "-9223372036854775808", "-9223372036854775809",
    "99999999999999999999999999", "00012", "+3", "-0",
    // reals
    "0.5", "0.3", ".5", "5.", "-0.5", "1.0", "0.05", "0.95", "0.049", "0.951", "0.9", "1.5", "2.7",
    "10.5", "10.6", "300.5", "-0.0", "1e-300", "4.9e-324", "1e-400", "1e308", "-1e308",
    "1.7976931348623157e308", "1.8e308", "-1.8e308", "9.9e307", "2147483647.5", "2147483648.0",
    "-2147483648.5", "1e9", "1e10", "1e19", "3e-5", "1E5", "1e+2", "-1e-2", "2e31",
    "0.000000000000000000000000000001",
    "123456789012345678901234567890123456789012345678901234567890",
    // infinities and not-a-numbers
    "inf", "-inf", "+inf", "INF", "infinity", "-Infinity", "nan", "-nan", "NAN", "nan(123)", "NaN",
    // hexadecimal (strtod reads them, strtoll base 10 stops at the x)
    "0x10", "0x1p4", "-0x1p-1074", "0x7fffffff", "0x80000000", "0X1.8P1", "0xffffffffffffffff",
    "0x1p1023", "0x1p1024",
    // empty, blank, leading spaces, partial and no number
    "", " ", "   ", "  3", "\t5", " -2", "+-3", "-", "+", ".", "e5", "1e", "1e+", "3abc", "0.5.5",
    "1,5", "abc", "1_000", "0b101", "--5", "5-", " 0.5 ", "1e1"};

// What the program reads from a word: strtoll saturated to int, or strtod.
long long as_int(const std::string& word) {
  const long long v = std::strtoll(word.c_str(), nullptr, 10);
  return std::clamp<long long>(v, INT_MIN, INT_MAX);
}
double as_real(const std::string& word) {
  return std::strtod(word.c_str(), nullptr);
}

// Kinds of field; each has its filter of cheap-or-refused values (see the magnitudes above).
// TreeOccasions and TreeSites are T and N of a deterministic tree line, which stays one.
enum class Field {
  Occasions,
  Sites,
  TreeOccasions,
  TreeSites,
  Prob,
  Methods,
  Count,
  States,
  Lambda,
  Seed,
  Covs,
  Text
};

bool allowed(Field kind, const std::string& word) {
  switch (kind) {
    case Field::Occasions: {
      const long long v = as_int(word);
      const long long a = v == INT_MIN ? INT_MAX : std::llabs(v);
      return a <= 4 || (a >= 25 && a <= 31) || a > 10000000;
    }
    case Field::Sites: {
      const double v = as_real(word);
      return !std::isfinite(v) || v <= 1000.0 || v >= 2147483648.0;
    }
    case Field::TreeOccasions:
      return as_int(word) >= 0 && allowed(Field::Occasions, word);
    case Field::Methods: {
      const long long v = as_int(word);
      return v <= 3 || v >= 25;
    }
    case Field::Lambda: {
      const double v = as_real(word);
      return !(v > 0.0) || !std::isfinite(v) || v <= 10.0 || v >= 2147483648.0;
    }
    default:
      return true;
  }
}

// A number built on the spot, in one of the forms the table above holds.
std::string synthesized_number(Rng& rng) {
  std::string text;
  char buffer[64];
  // Now and then a long run of digits: a whole number beyond every range, or a long fraction.
  if (rng.percent(4)) {
    const size_t digits = static_cast<size_t>(rng.between(300, 5000));
    return rng.percent(50) ? "1" + std::string(digits, '0') : "0." + std::string(digits, '0') + "1";
  }
  switch (rng.below(4)) {
    case 0:
      std::snprintf(buffer, sizeof buffer, "%d", rng.between(-40, 40));
      text = buffer;
      break;
    case 1:
      std::snprintf(buffer, sizeof buffer, "%s%d.%03d", rng.percent(20) ? "-" : "",
                    rng.between(0, 2), rng.between(0, 999));
      text = buffer;
      break;
    case 2:
      std::snprintf(buffer, sizeof buffer, "%d.%de%s%d", rng.between(1, 9), rng.between(0, 99),
                    rng.percent(50) ? "-" : "+", rng.between(0, 400));
      text = buffer;
      break;
    default:
      std::snprintf(buffer, sizeof buffer, "0x%llx%s",
                    static_cast<unsigned long long>(rng.next() >> rng.between(0, 63)),
                    rng.percent(30) ? "p-3" : "");
      text = buffer;
      break;
  }
  if (rng.percent(10)) text = std::string(static_cast<size_t>(rng.between(1, 3)), ' ') + text;
  if (rng.percent(10)) text += rng.percent(50) ? "x" : "e";
  return text;
}

// A hostile number for a field of this kind.
std::string hostile(Rng& rng, Field kind) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::string word = rng.percent(75) ? std::string(rng.pick(kNumbers)) : synthesized_number(rng);
    if (allowed(kind, word)) return word;
  }
  return "0";
}

// Ordinary values, the ones a user types.
std::string ordinary_prob(Rng& rng) {
  static const char* const kProbs[] = {"0",    "1",     "0.5",   "0.3", "0.25", "0.8", "0.05",
                                       "0.95", "0.049", "0.951", "0.9", "0.1",  "0.6", "0.4"};
  if (rng.percent(40)) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0.%03d", rng.between(0, 999));
    return buffer;
  }
  return rng.pick(kProbs);
}

std::string ordinary_sites(Rng& rng) {
  static const char* const kSites[] = {"0",    "1",    "2",   "5",     "10",   "100", "2.7",
                                       "10.5", "10.6", "300", "300.5", "1000", "0.4", "20"};
  if (rng.percent(30)) return std::to_string(rng.between(0, 200));
  return rng.pick(kSites);
}

// ---------------------------------------------------------------------------------------
// Words and lines.

struct Word {
  std::string text;
  Field kind = Field::Text;  // kind of the number the word holds (Text: none)
  std::string prefix;        // text before the number (an option's keyword and separator)
  bool option = false;       // an option word (never dropped by a mutation)
};

struct Line {
  std::string family;
  std::vector<Word> words;          // arguments 1 and up
  int occasions = 0;                // T the layout was built for (soup: 0)
  int fault = -1;                   // index into kFaults of the output fault set up for the run
  bool deterministic_tree = false;  // never made stochastic, so any N is cheap
};

// Output faults set up in the run's directory before it starts: a file name taken by a link
// to a full device or by a directory.
struct OutputFault {
  const char* name;
  bool full_device;  // else a directory
  const char* shell;
};
const OutputFault kFaults[] = {{"occusim.sdh", true, "ln -s /dev/full occusim.sdh"},
                               {"occusim.inp", true, "ln -s /dev/full occusim.inp"},
                               {"occusim.tmp", true, "ln -s /dev/full occusim.tmp"},
                               {"occusim.sdh", false, "mkdir occusim.sdh"},
                               {"occusim.inp", false, "mkdir occusim.inp"},
                               {"occusim.tmp", false, "mkdir occusim.tmp"}};

struct Keyword {
  const char* text;
  Field value;  // Field::Text: the keyword carries no value
};

const Keyword kKeywords[] = {
    {"2SP", Field::Text},         {"STOCH", Field::Text},     {"STOCHASTIC", Field::Text},
    {"QUIET", Field::Text},       {"LIST", Field::Text},      {"HIST", Field::Text},
    {"P0MISS", Field::Text},      {"METH", Field::Methods},   {"SSOCC", Field::Text},
    {"NOBS", Field::Count},       {"NSTATES", Field::States}, {"MULTISTATE", Field::Text},
    {"MULTISEASON", Field::Text}, {"SIMTYPE", Field::Text},   {"SDHF", Field::Text},
    {"K=", Field::Text},          {"LAMBDA=", Field::Lambda}, {"SEED", Field::Seed},
    {"seed", Field::Seed},        {"NCOVS", Field::Covs}};

// Words that match no keyword, or match one by accident.
const char* const kJunk[] = {
    "NOMARK",   "quiet",   "quietly", "stoch", "Stoch", "meth=2", "lambda=3", "nstates=4", "LAMBDA",
    "LAMBDA 5", "NSTATE",  "MULTI",   "SIM",   "2S P",  "K",      "seeds",    "SEEDLING",  "METHOD",
    "HISTORY",  "LISTING", "-",       "=",     "abc",   "",       " ",        "x",         "%s%n"};

// Letters only: a prefix of them shifts a keyword's value onto non-digits, so no embedded
// keyword reads a number.
const char kLetters[] = "xyzabQ._-";

std::string letters(Rng& rng, int lo, int hi) {
  std::string text;
  const int n = rng.between(lo, hi);
  for (int i = 0; i < n; ++i) text += kLetters[rng.below(sizeof kLetters - 1)];
  return text;
}

// One option word: a keyword alone, with a separator and a value, or with "=" and nothing.
Word option_word(Rng& rng, const Keyword& keyword) {
  Word word;
  word.option = true;
  const std::string key = keyword.text;
  if (keyword.value == Field::Text) {
    word.text = key;
    if (rng.percent(20)) word.text += "=" + hostile(rng, Field::Prob);
    return word;
  }
  const size_t roll = rng.below(10);
  if (roll == 0) {
    word.text = key;  // no value: reads as an empty value, 0
    return word;
  }
  const bool carries_equals = key.back() == '=';
  word.prefix = key;
  if (!carries_equals) word.prefix += roll == 1 ? ":" : (roll == 2 ? "_" : "=");
  word.kind = keyword.value;
  const std::string value = rng.percent(50) ? hostile(rng, keyword.value) : [&] {
    switch (keyword.value) {
      case Field::Methods:
        return std::to_string(rng.between(-1, 3));
      case Field::Count:
        return std::to_string(rng.between(-1, 5));
      case Field::States:
        return std::to_string(rng.between(0, 11));
      case Field::Lambda:
        return std::string(rng.percent(50) ? "2.55" : "0.5");
      case Field::Covs:
        return std::to_string(rng.between(-1, 4));
      default:
        return std::to_string(rng.next() % 100000);
    }
  }();
  word.text = word.prefix + value;
  return word;
}

Word any_option_word(Rng& rng) {
  return option_word(rng, rng.pick(kKeywords));
}

// Options that leave the model and its cost alone.
Word harmless_option(Rng& rng, bool stochastic) {
  static const char* const kHarmless[] = {"QUIET", "quiet", "LIST", "HIST",  "P0MISS",    "NOMARK",
                                          "K=",    "SEED",  "seed", "STOCH", "STOCHASTIC"};
  // The last two switch to stochastic mode.
  const std::string key = kHarmless[rng.below(std::size(kHarmless) - (stochastic ? 0 : 2))];
  for (const Keyword& keyword : kKeywords) {
    if (key == keyword.text) return option_word(rng, keyword);
  }
  Word word;
  word.text = key;
  word.option = true;
  return word;
}

// A keyword inside another word: letters around it, sometimes a second keyword.
Word embedded_word(Rng& rng) {
  Word word;
  word.option = true;
  word.text = letters(rng, 1, 3) + rng.pick(kKeywords).text;
  if (rng.percent(30)) word.text += rng.pick(kKeywords).text;
  if (rng.percent(40)) word.text += "=" + hostile(rng, Field::Prob);
  word.text += letters(rng, 0, 3);
  return word;
}

Word number_word(Rng& rng, Field kind) {
  Word word;
  word.kind = kind;
  word.text = hostile(rng, kind);
  return word;
}

Word junk_word(Rng& rng) {
  Word word;
  word.text = rng.percent(3) ? letters(rng, 1000, 5000) : rng.pick(kJunk);
  return word;
}

Line soup(Rng& rng) {
  Line line;
  line.family = "soup";
  const size_t length = rng.below(kMaxWords + 1);
  for (size_t i = 0; i < length; ++i) {
    Word word;
    if (i < 2) {
      // T and N: numbers that are cheap or refused, else words that convert to 0 or 2.
      const Field kind = i == 0 ? Field::Occasions : Field::Sites;
      if (rng.percent(85)) {
        word = number_word(rng, kind);
      } else {
        word = rng.percent(50) ? any_option_word(rng) : junk_word(rng);
        if (!allowed(kind, word.text)) word = number_word(rng, kind);
      }
    } else if (i > 2 && rng.percent(10)) {
      word = line.words[2 + rng.below(i - 2)];
    } else {
      const size_t roll = rng.below(100);
      if (roll < 45) {
        word = number_word(rng, Field::Prob);
      } else if (roll < 80) {
        word = any_option_word(rng);
      } else if (roll < 90) {
        word = embedded_word(rng);
      } else {
        word = junk_word(rng);
      }
    }
    line.words.push_back(word);
  }
  return line;
}

// Layout lines ---------------------------------------------------------------------------

class Builder {
 public:
  Builder(Rng& rng, const char* family, int T) : rng_(rng) {
    line_.family = family;
    line_.occasions = T;
    // Stochastic mode by a negative T now and then, else by STOCH among the options.
    Word t;
    t.kind = Field::Occasions;
    t.text = std::to_string(rng_.percent(15) ? -T : T);
    line_.words.push_back(t);
    Word n;
    n.kind = Field::Sites;
    n.text = rng_.percent(85) ? ordinary_sites(rng_) : hostile(rng_, Field::Sites);
    line_.words.push_back(n);
  }
  void probs(long long count) {
    for (long long i = 0; i < count; ++i) {
      Word w;
      w.kind = Field::Prob;
      w.text = rng_.percent(90) ? ordinary_prob(rng_) : hostile(rng_, Field::Prob);
      line_.words.push_back(w);
    }
  }
  void option(const std::string& text) {
    Word w;
    w.text = text;
    w.option = true;
    line_.words.push_back(w);
  }
  void option(const std::string& prefix, const std::string& value, Field kind) {
    Word w;
    w.prefix = prefix;
    w.text = prefix + value;
    w.kind = kind;
    w.option = true;
    line_.words.push_back(w);
  }
  // The options every model reads, as many as the 40 words leave room for.
  void common_options() {
    const auto room = [&] { return line_.words.size() < kMaxWords; };
    if (room() && rng_.percent(35)) option(rng_.percent(50) ? "STOCH" : "STOCHASTIC");
    if (room() && rng_.percent(15)) option(rng_.percent(50) ? "QUIET" : "quiet");
    if (room() && rng_.percent(20)) option("LIST");
    if (room() && rng_.percent(10)) option("P0MISS");
    if (room() && rng_.percent(30)) {
      option(rng_.percent(50) ? "SEED=" : "seed=", std::to_string(rng_.next() % 100000),
             Field::Seed);
    }
    if (room() && rng_.percent(5)) option("NOMARK");
  }
  size_t size() const { return line_.words.size(); }
  Line take() { return std::move(line_); }

 private:
  Rng& rng_;
  Line line_;
};

std::string small_int(int value) {
  return std::to_string(value);
}

Line single_season(Rng& rng) {
  const int T = rng.between(0, 10);
  Builder b(rng, "single", T);
  b.probs(1 + T);
  b.common_options();
  return b.take();
}

Line multi_season(Rng& rng) {
  const int T = rng.between(1, 12);
  Builder b(rng, "multiseason", T);
  b.probs(1 + T + 2LL * (T - 1));
  b.common_options();
  return b.take();
}

Line multi_method(Rng& rng) {
  const int M = rng.between(1, 3);
  const int T = rng.between(1, 4);
  Builder b(rng, "multimethod", T);
  b.probs(1 + static_cast<long long>(M) * T + (M >= 2 ? T : 0));
  b.option("METH=", small_int(M), Field::Methods);
  b.common_options();
  return b.take();
}

Line correlated(Rng& rng) {
  const int T = rng.between(0, 10);
  Builder b(rng, "ssocc", T);
  b.probs(3 + T);
  b.option(rng.percent(50) ? "SSOCC" : "SSOCC=1");
  b.common_options();
  return b.take();
}

Line site_by_site(Rng& rng) {
  const int T = rng.between(0, 30);
  Builder b(rng, "simtype", T);
  const size_t variant = rng.below(4);
  if (variant == 1) b.probs(2);  // SSOCC: ssPsi1 and ssPsi2 before the p values
  b.probs(1 + T);
  if (variant == 0 && 3 + 3LL * T <= 32) b.probs(2LL * (T > 0 ? T - 1 : 0));
  b.option(rng.percent(50) ? "SIMTYPE" : "SIMTYPE=2");
  if (variant == 1) b.option("SSOCC");
  if (variant == 2) b.option("METH=", "1", Field::Methods);
  if (b.size() + 2 < kMaxWords && rng.percent(40)) {
    b.option("NOBS=", rng.percent(70) ? small_int(rng.between(0, 4)) : hostile(rng, Field::Count),
             Field::Count);
  }
  const int covariates =
      std::min<int>(rng.between(0, 3), static_cast<int>(kMaxWords - b.size()) - 1);
  if (covariates >= 0 && rng.percent(50)) {
    b.option("NCOVS=", small_int(covariates), Field::Covs);
    b.probs(covariates);
  }
  b.common_options();
  return b.take();
}

Line two_species(Rng& rng) {
  const int T = rng.between(0, 6);
  Builder b(rng, "twosp", T);
  b.probs(3 + 5LL * T);
  b.option("2SP");
  if (rng.percent(10)) b.option("METH=", "1", Field::Methods);
  b.common_options();
  return b.take();
}

Line breeding(Rng& rng) {
  const size_t variant = rng.below(3);
  if (variant == 0) {
    const int T = rng.between(0, 4);
    Builder b(rng, "multistate", T);
    b.probs(2 + 3LL * T);
    b.option("MULTISTATE");
    b.common_options();
    return b.take();
  }
  if (variant == 1) {
    const int T = rng.between(1, 4);
    Builder b(rng, "multistate", T);
    b.probs(2 + 6LL * (T - 1) + 3LL * T);
    b.option("MULTISTATE");
    b.option("MULTISEASON");
    b.common_options();
    return b.take();
  }
  const int T = rng.between(0, 11);
  Builder b(rng, "multistate", T);
  b.probs(2 + 3LL * T);
  b.option("MULTISTATE");
  b.option("SIMTYPE");
  if (rng.percent(40)) b.option("SDHF");
  b.common_options();
  return b.take();
}

long long nstates_values(long long S, long long T) {
  return 2 + (S - 1) + S * (S - 1) * (T > 1 ? T - 1 : 0) + (S - 1) * S * T;
}

Line general_multistate(Rng& rng) {
  // Longest T per number of states: the layout fits 37 words and S^(2T) stays small.
  static const int kLongest[] = {0, 18, 7, 3, 1, 1, 1};
  const int S = rng.between(1, 6);
  const int T = rng.between(0, kLongest[S]);
  Builder b(rng, "nstates", T);
  b.probs(nstates_values(S, T) - 2);
  b.option("NSTATES=", small_int(S), Field::States);
  if (rng.percent(30)) b.option("MULTISTATE");
  b.common_options();
  return b.take();
}

Line counts(Rng& rng) {
  const int T = rng.percent(90) ? rng.between(0, 12) : rng.between(25, 29);
  Builder b(rng, "lambda", T);
  b.probs(1);
  static const char* const kLambdas[] = {"2.55", "0.5", "1", "3", "10", "0", "-1", "0.01"};
  b.option(
      "LAMBDA=", rng.percent(80) ? std::string(rng.pick(kLambdas)) : hostile(rng, Field::Lambda),
      Field::Lambda);
  b.common_options();
  return b.take();
}

// Mutations of a layout line: a hostile number in one field, values dropped (a short
// layout), option words inserted or repeated. T and N (words 1 and 2) keep their place.
void mutate(Rng& rng, Line& line) {
  std::vector<Word>& w = line.words;
  const int rounds = rng.between(1, 2);
  for (int round = 0; round < rounds; ++round) {
    switch (rng.below(4)) {
      case 0: {
        std::vector<size_t> numeric;
        for (size_t i = 0; i < w.size(); ++i) {
          if (w[i].kind != Field::Text) numeric.push_back(i);
        }
        if (numeric.empty()) break;
        Word& target = w[numeric[rng.below(numeric.size())]];
        target.text = target.prefix + hostile(rng, target.kind);
        break;
      }
      case 1: {
        std::vector<size_t> values;
        for (size_t i = 2; i < w.size(); ++i) {
          if (!w[i].option) values.push_back(i);
        }
        if (values.empty()) break;
        const size_t drop = std::min<size_t>(values.size(), static_cast<size_t>(rng.between(1, 3)));
        // Drop the last values of the layout, or ones in the middle.
        const bool tail = rng.percent(60);
        for (size_t k = 0; k < drop; ++k) {
          const size_t pos = tail ? values.size() - 1 : rng.below(values.size());
          const size_t at = values[pos];
          w.erase(w.begin() + static_cast<std::ptrdiff_t>(at));
          values.erase(values.begin() + static_cast<std::ptrdiff_t>(pos));
          for (size_t& v : values) {
            if (v > at) --v;
          }
        }
        break;
      }
      case 2: {
        if (w.size() >= kMaxWords || w.size() < 2) break;
        // Options that change the model only where T is small enough for every model, and
        // never stochastic mode in a deterministic tree line.
        const Word word = line.deterministic_tree                  ? harmless_option(rng, false)
                          : line.occasions <= 4 && rng.percent(60) ? any_option_word(rng)
                                                                   : harmless_option(rng, true);
        w.insert(w.begin() + static_cast<std::ptrdiff_t>(2 + rng.below(w.size() - 1)), word);
        break;
      }
      default: {
        if (w.size() >= kMaxWords || w.size() < 3) break;
        const Word copy = w[2 + rng.below(w.size() - 2)];
        w.insert(w.begin() + static_cast<std::ptrdiff_t>(2 + rng.below(w.size() - 1)), copy);
        break;
      }
    }
  }
}

// Makes a tree line deterministic for good (no STOCH, T not negative) and gives it an N from
// the whole hostile table: a deterministic tree costs the same whatever N is.
void make_deterministic_tree(Rng& rng, Line& line) {
  std::vector<Word>& w = line.words;
  w.erase(std::remove_if(
              w.begin() + 2, w.end(),
              [](const Word& word) { return word.text == "STOCH" || word.text == "STOCHASTIC"; }),
          w.end());
  w[0].text = std::to_string(line.occasions);
  w[0].kind = Field::TreeOccasions;
  w[1].text = hostile(rng, Field::TreeSites);
  w[1].kind = Field::TreeSites;
  line.deterministic_tree = true;
}

bool tree_family(const Line& line) {
  static const char* const kTrees[] = {"single", "multiseason", "multimethod", "ssocc",
                                       "twosp",  "multistate",  "nstates"};
  const bool tree = std::find_if(std::begin(kTrees), std::end(kTrees), [&](const char* name) {
                      return line.family == name;
                    }) != std::end(kTrees);
  return tree && std::none_of(line.words.begin(), line.words.end(),
                              [](const Word& word) { return word.text == "SIMTYPE"; });
}

Line generate(uint64_t seed, uint64_t index) {
  Rng rng(seed * 0x100000001b3ULL ^ (index + 1) * 0x9e3779b97f4a7c15ULL);
  rng.next();
  static Line (*const kFamilies[])(Rng&) = {single_season, multi_season,       multi_method,
                                            correlated,    site_by_site,       two_species,
                                            breeding,      general_multistate, counts};
  Line line;
  if (rng.percent(30)) {
    line = soup(rng);
  } else {
    line = kFamilies[rng.below(std::size(kFamilies))](rng);
    if (tree_family(line) && rng.percent(25)) make_deterministic_tree(rng, line);
    if (rng.percent(35)) mutate(rng, line);
  }
  if (rng.percent(5)) line.fault = static_cast<int>(rng.below(std::size(kFaults)));
  if (line.words.size() > kMaxWords) line.words.resize(kMaxWords);
  return line;
}

std::string shell_quoted(const std::vector<Word>& words) {
  std::string text = "occusim2";
  for (const Word& w : words) {
    text += ' ';
    const bool plain = !w.text.empty() && w.text.find_first_not_of(
                                              "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOP"
                                              "QRSTUVWXYZ0123456789._=+-:,/@") == std::string::npos;
    if (plain) {
      text += w.text;
      continue;
    }
    text += '\'';
    for (char c : w.text) {
      if (c == '\'') {
        text += "'\\''";
      } else {
        text += c;
      }
    }
    text += '\'';
  }
  return text;
}

// ---------------------------------------------------------------------------------------
// Running.

struct Settings {
  uint64_t seed = 1;
  uint64_t count = 2000;
  size_t jobs = 2;
  double time_limit = 20.0;
  rlim_t file_limit = 8u << 20;
  uint64_t leak_every = 8;
  bool print_only = false;
  std::string program;
};

enum class End { Success, Refused, FileLimit, Crash, Sanitizer, Timeout, Odd };

struct Result {
  End end = End::Success;
  std::string detail;
};

const char* const kSanitizerMarks[] = {"runtime error:",  "AddressSanitizer",
                                       "LeakSanitizer",   "UndefinedBehaviorSanitizer",
                                       "ThreadSanitizer", "MemorySanitizer"};

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The first lines of the text from 'from' on, for the report.
std::string excerpt(const std::string& text, size_t from, int lines) {
  size_t end = from;
  for (int i = 0; i < lines && end != std::string::npos && end < text.size(); ++i) {
    end = text.find('\n', end);
    if (end != std::string::npos) ++end;
  }
  std::string part = text.substr(from, end == std::string::npos ? std::string::npos : end - from);
  if (part.size() > 600) part = part.substr(0, 600) + "...";
  return part;
}

// True when the run left its directory as it found it: empty, or holding only the fault that
// was set up (the link still a link, the directory still empty).
bool untouched(const fs::path& dir, int fault) {
  std::error_code ec;
  size_t entries = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec)) {
    ++entries;
    if (fault < 0 || entry.path().filename() != kFaults[fault].name) return false;
    const fs::file_status status = fs::symlink_status(entry.path(), ec);
    if (kFaults[fault].full_device ? !fs::is_symlink(status)
                                   : !fs::is_directory(status) || !fs::is_empty(entry.path(), ec)) {
      return false;
    }
  }
  return !ec && entries == (fault < 0 ? 0u : 1u);
}

// True when the text holds a failed-file line "occusim.xxx: reason".
bool reports_a_file(const std::string& err) {
  for (const char* name : {"occusim.sdh: ", "occusim.inp: ", "occusim.tmp: "}) {
    const size_t at = err.find(name);
    if (at != std::string::npos && (at == 0 || err[at - 1] == '\n')) return true;
  }
  return false;
}

// How a finished run ended; 'killed' when it hit the time limit.
Result classify(int wstatus, bool killed, const fs::path& work, int fault, const std::string& err) {
  Result r;
  if (killed) {
    r.end = End::Timeout;
    r.detail = "no end within the time limit";
    return r;
  }
  for (const char* mark : kSanitizerMarks) {
    const size_t at = err.find(mark);
    if (at != std::string::npos) {
      const size_t line_start = err.rfind('\n', at);
      r.end = End::Sanitizer;
      r.detail = excerpt(err, line_start == std::string::npos ? 0 : line_start + 1, 4);
      return r;
    }
  }
  if (WIFSIGNALED(wstatus)) {
    const int sig = WTERMSIG(wstatus);
    if (sig == SIGXFSZ) {
      r.end = End::FileLimit;
      return r;
    }
    r.end = End::Crash;
    r.detail = std::string("signal ") + std::to_string(sig) + " (" + strsignal(sig) + ")";
    return r;
  }
  const int status = WEXITSTATUS(wstatus);
  if (status == kSanitizerStatus) {
    r.end = End::Sanitizer;
    r.detail = "sanitizer exit status " + std::to_string(status);
    return r;
  }
  // A refusal is one line "occusim2: ...", status 1, before any file is touched; only the
  // allocation failures come after the files are open.
  const bool refusal = err.rfind("occusim2: ", 0) == 0;
  const bool one_line = !err.empty() && err.find('\n') == err.size() - 1;
  r.end = status == 0 ? End::Success : End::Refused;
  if (status != 0 && status != 1) {
    r.end = End::Odd;
    r.detail = "exit status " + std::to_string(status);
  } else if (status == 1 && err.empty()) {
    r.end = End::Odd;
    r.detail = "exit status 1 with nothing on the standard error stream";
  } else if (refusal && status == 0) {
    r.end = End::Odd;
    r.detail = "a refusal with exit status 0: " + excerpt(err, 0, 1);
  } else if (refusal && !one_line) {
    r.end = End::Odd;
    r.detail = "a refusal of more than one line: " + excerpt(err, 0, 3);
  } else if (status == 0 && reports_a_file(err)) {
    r.end = End::Odd;
    r.detail = "exit status 0 over a file that failed: " + excerpt(err, 0, 2);
  } else if (refusal && err.find("allocate") == std::string::npos && !untouched(work, fault)) {
    r.end = End::Odd;
    r.detail = "a refusal after output files were touched: " + excerpt(err, 0, 1);
  }
  return r;
}

struct Running {
  pid_t pid = -1;
  uint64_t index = 0;
  Line line;
  fs::path dir;
  Clock::time_point deadline;
  bool killed = false;
};

// Environment of the runs: the sanitizers keep the caller's options and report with their
// own exit status. LeakSanitizer's scan at exit costs more than most runs, so it is left on
// only in the runs that 'leaks' says.
std::vector<std::string> child_environment(bool leaks) {
  std::vector<std::string> env;
  bool asan = false;
  bool ubsan = false;
  const std::string tail = ":exitcode=" + std::to_string(kSanitizerStatus);
  const std::string asan_tail = tail + (leaks ? "" : ":detect_leaks=0");
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    if (entry.rfind("ASAN_OPTIONS=", 0) == 0) {
      entry += asan_tail;
      asan = true;
    } else if (entry.rfind("UBSAN_OPTIONS=", 0) == 0) {
      entry += tail;
      ubsan = true;
    }
    env.push_back(entry);
  }
  if (!asan) env.push_back("ASAN_OPTIONS=detect_leaks=1" + asan_tail);
  if (!ubsan) env.push_back("UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1" + tail);
  return env;
}

class Fuzzer {
 public:
  explicit Fuzzer(const Settings& s)
      : s_(s), env_{child_environment(false), child_environment(true)} {
    for (int leaks = 0; leaks < 2; ++leaks) {
      for (std::string& e : env_[leaks]) envp_[leaks].push_back(e.data());
      envp_[leaks].push_back(nullptr);
    }
  }

  int run() {
    std::string pattern = (fs::temp_directory_path() / "fuzz_cli-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("fuzz_cli: mkdtemp");
      return 2;
    }
    base_ = pattern;
    sigset_t chld;
    sigemptyset(&chld);
    sigaddset(&chld, SIGCHLD);
    sigprocmask(SIG_BLOCK, &chld, &old_mask_);
    // The runs inherit these: a file-size limit (SIGXFSZ then ends a run) and no core files.
    const rlimit fsize{s_.file_limit, s_.file_limit};
    const rlimit no_core{0, 0};
    if (setrlimit(RLIMIT_FSIZE, &fsize) != 0 || setrlimit(RLIMIT_CORE, &no_core) != 0) {
      std::perror("fuzz_cli: setrlimit");
      return 2;
    }
    signal(SIGXFSZ, SIG_IGN);
    const Clock::time_point start = Clock::now();
    uint64_t next = 0;
    while (next < s_.count || !running_.empty()) {
      while (running_.size() < s_.jobs && next < s_.count) {
        if (!launch(next++)) return finish_early();
      }
      wait_some(chld);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    sigprocmask(SIG_SETMASK, &old_mask_, nullptr);
    std::error_code ec;
    fs::remove_all(base_, ec);
    return summary(seconds);
  }

 private:
  bool launch(uint64_t index) {
    Running r;
    r.index = index;
    r.line = generate(s_.seed, index);
    r.dir = base_ / std::to_string(index);
    const fs::path work = r.dir / "work";
    std::error_code ec;
    fs::create_directories(work, ec);
    if (ec) {
      std::fprintf(stderr, "fuzz_cli: cannot create %s: %s\n", work.c_str(), ec.message().c_str());
      return false;
    }
    if (r.line.fault >= 0) {
      const fs::path target = work / kFaults[r.line.fault].name;
      if (kFaults[r.line.fault].full_device) {
        fs::create_symlink("/dev/full", target, ec);
      } else {
        fs::create_directory(target, ec);
      }
      if (ec) {
        std::fprintf(stderr, "fuzz_cli: cannot set up %s: %s\n", kFaults[r.line.fault].shell,
                     ec.message().c_str());
        return false;
      }
    }
    std::vector<std::string> args = {s_.program};
    for (const Word& w : r.line.words) args.push_back(w.text);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string err_path = (r.dir / "stderr").string();
    const std::string work_path = work.string();
    const bool leaks = s_.leak_every > 0 && index % s_.leak_every == 0;
    // posix_spawn, not fork: no copy of this process's (sanitizer-sized) page tables. The
    // limits were set on this process and are inherited.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addchdir_np(&actions, work_path.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &old_mask_);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int error =
        posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp_[leaks ? 1 : 0].data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
      std::fprintf(stderr, "fuzz_cli: cannot run %s: %s\n", argv[0], std::strerror(error));
      return false;
    }
    r.pid = pid;
    r.deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(s_.time_limit));
    running_.push_back(std::move(r));
    return true;
  }

  void wait_some(const sigset_t& chld) {
    Clock::time_point nearest = Clock::time_point::max();
    for (const Running& r : running_) nearest = std::min(nearest, r.deadline);
    auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(nearest - Clock::now());
    wait = std::clamp(wait, std::chrono::nanoseconds(0), std::chrono::nanoseconds(100000000));
    timespec ts{0, static_cast<long>(wait.count())};
    sigtimedwait(&chld, nullptr, &ts);
    int wstatus = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &wstatus, WNOHANG)) > 0) {
      auto it = std::find_if(running_.begin(), running_.end(),
                             [&](const Running& r) { return r.pid == pid; });
      if (it == running_.end()) continue;
      done(*it, wstatus);
      running_.erase(it);
    }
    const Clock::time_point now = Clock::now();
    for (Running& r : running_) {
      if (!r.killed && now >= r.deadline) {
        kill(r.pid, SIGKILL);
        r.killed = true;
      }
    }
  }

  void done(const Running& r, int wstatus) {
    const std::string err = read_text(r.dir / "stderr");
    if (WIFEXITED(wstatus) && (WEXITSTATUS(wstatus) == 125 || WEXITSTATUS(wstatus) == 127) &&
        err.empty()) {
      ++setup_failures_;
    }
    const Result result = classify(wstatus, r.killed, r.dir / "work", r.line.fault, err);
    ++ends_[result.end];
    Family& f = families_[r.line.family];
    ++f.lines;
    if (result.end == End::Success) ++f.success;
    if (result.end == End::Refused) ++f.refused;
    if (result.end == End::FileLimit) ++f.file_limit;
    if (result.end >= End::Crash) {
      std::string command = shell_quoted(r.line.words);
      if (r.line.fault >= 0)
        command = std::string("(") + kFaults[r.line.fault].shell + ") " + command;
      failures_.push_back({r.index, command, result});
    }
    std::error_code ec;
    fs::remove_all(r.dir, ec);
  }

  int finish_early() {
    for (Running& r : running_) kill(r.pid, SIGKILL);
    while (!running_.empty()) {
      waitpid(running_.back().pid, nullptr, 0);
      running_.pop_back();
    }
    std::error_code ec;
    fs::remove_all(base_, ec);
    return 2;
  }

  int summary(double seconds) {
    std::printf("fuzz_cli: seed %llu, %llu lines, %zu jobs, %.1f s, program %s\n",
                static_cast<unsigned long long>(s_.seed), static_cast<unsigned long long>(s_.count),
                s_.jobs, seconds, s_.program.c_str());
    std::printf("  ends: exit 0 %llu, exit 1 %llu, file-size limit %llu\n", count(End::Success),
                count(End::Refused), count(End::FileLimit));
    std::printf("  by family (lines, exit 0, exit 1, file-size limit):\n");
    for (const auto& [name, f] : families_) {
      std::printf("    %-12s %6llu %6llu %6llu %6llu\n", name.c_str(), f.lines, f.success,
                  f.refused, f.file_limit);
    }
    std::printf("  crashes %llu, sanitizer reports %llu, runs without end %llu, odd ends %llu\n",
                count(End::Crash), count(End::Sanitizer), count(End::Timeout), count(End::Odd));
    if (setup_failures_ > 0) {
      std::printf("  %llu runs could not start the program\n", setup_failures_);
    }
    static const char* const kNames[] = {"",       "",       "", "crash", "sanitizer report",
                                         "no end", "odd end"};
    for (const Failure& f : failures_) {
      std::printf("FAIL [%s] line %llu: %s\n", kNames[static_cast<int>(f.result.end)],
                  static_cast<unsigned long long>(f.index), f.command.c_str());
      if (!f.result.detail.empty()) {
        std::string detail = f.result.detail;
        if (!detail.empty() && detail.back() == '\n') detail.pop_back();
        std::printf("    %s\n", detail.c_str());
      }
    }
    return failures_.empty() && setup_failures_ == 0 ? 0 : 1;
  }

  unsigned long long count(End e) const {
    const auto it = ends_.find(e);
    return it == ends_.end() ? 0 : it->second;
  }

  struct Family {
    unsigned long long lines = 0, success = 0, refused = 0, file_limit = 0;
  };
  struct Failure {
    uint64_t index;
    std::string command;
    Result result;
  };

  Settings s_;
  std::vector<std::string> env_[2];
  std::vector<char*> envp_[2];
  fs::path base_;
  sigset_t old_mask_{};
  std::vector<Running> running_;
  std::map<End, unsigned long long> ends_;
  std::map<std::string, Family> families_;
  std::vector<Failure> failures_;
  unsigned long long setup_failures_ = 0;
};

int usage() {
  std::fprintf(stderr,
               "usage: fuzz_cli [--seed S] [--count N] [--jobs J] [--time-limit SECONDS]\n"
               "                [--file-limit BYTES] [--leak-every N] [--print] PROGRAM\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    char* end = nullptr;
    if (arg == "--print") {
      s.print_only = true;
    } else if (arg == "--seed" || arg == "--count" || arg == "--jobs" || arg == "--file-limit" ||
               arg == "--leak-every") {
      if ((v = value()) == nullptr) return usage();
      const unsigned long long n = std::strtoull(v, &end, 10);
      if (*v == '\0' || *end != '\0') return usage();
      if (arg == "--seed") s.seed = n;
      if (arg == "--count") s.count = n;
      if (arg == "--jobs") s.jobs = std::max<size_t>(1, n);
      if (arg == "--file-limit") s.file_limit = static_cast<rlim_t>(n);
      if (arg == "--leak-every") s.leak_every = n;
    } else if (arg == "--time-limit") {
      if ((v = value()) == nullptr) return usage();
      s.time_limit = std::strtod(v, &end);
      if (*v == '\0' || *end != '\0' || !(s.time_limit > 0)) return usage();
    } else if (!arg.empty() && arg[0] == '-') {
      return usage();
    } else if (s.program.empty()) {
      s.program = arg;
    } else {
      return usage();
    }
  }
  if (s.print_only) {
    for (uint64_t i = 0; i < s.count; ++i) {
      const Line line = generate(s.seed, i);
      std::printf("%-12s %s%s%s%s\n", line.family.c_str(), line.fault >= 0 ? "(" : "",
                  line.fault >= 0 ? kFaults[line.fault].shell : "", line.fault >= 0 ? ") " : "",
                  shell_quoted(line.words).c_str());
    }
    return 0;
  }
  if (s.program.empty()) return usage();
  if (access(s.program.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "fuzz_cli: %s: %s\n", s.program.c_str(), std::strerror(errno));
    return 2;
  }
  s.program = fs::absolute(s.program).string();
  return Fuzzer(s).run();
}
