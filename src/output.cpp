// Line forms of the output files and the console, and the writer passes of the tree models.
#include "output.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstring>

#include "settings.h"

namespace occusim {

namespace {

// Block size for repeated rows: large enough that a row written millions of times costs a
// few hundred fwrite calls per megabyte.
constexpr size_t kBlockBytes = 1 << 16;

void perror_line(const char* name, int error) {
  std::fprintf(stderr, "%s: %s\n", name, std::strerror(error != 0 ? error : EIO));
}

}  // namespace

void binrep(long long code, int positions, std::string& text) {
  text.assign(positions > 0 ? static_cast<size_t>(positions) : 0, '0');
  for (int k = 1; k <= positions; ++k) {
    if (P0MISS != 0 && pa[k - 1] <= 0.0) {
      text[k - 1] = '.';
    } else if ((code >> (positions - k)) & 1) {
      text[k - 1] = '1';
    }
  }
}

void base3rep(long long code, int occasions, std::string& text) {
  text.assign(occasions > 0 ? static_cast<size_t>(occasions) : 0, '0');
  for (int k = 1; k <= occasions; ++k) {
    text[k - 1] = static_cast<char>('0' + ((code >> (2 * (occasions - k))) & 3));
  }
}

long long rounded(double count) {
  const double whole = std::floor(count + 0.5);
  if (std::isnan(whole)) return 0;
  if (whole >= 0x1p62) return 1LL << 62;
  if (whole <= -0x1p62) return -(1LL << 62);
  return static_cast<long long>(whole);
}

FILE* open_output(const char* name, const char* mode) {
  FILE* stream = std::fopen(name, mode);
  if (stream == nullptr) {
    std::perror(name);
    output_failed = 1;
  }
  return stream;
}

bool close_output(FILE*& stream, const char* name) {
  if (stream == nullptr) return true;
  errno = 0;
  bool ok = std::fflush(stream) == 0 && std::ferror(stream) == 0;
  int error = errno;
  if (std::fclose(stream) != 0 && ok) {
    ok = false;
    error = errno;
  }
  stream = nullptr;
  if (!ok) {
    perror_line(name, error);
    output_failed = 1;
  }
  return ok;
}

void put(FILE* stream, const char* format, ...) {
  if (stream == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(stream, format, args);
  va_end(args);
}

void write_repeated(FILE* stream, const std::string& row, long long count) {
  if (stream == nullptr || count <= 0 || row.empty()) return;
  const size_t per_block = row.size() >= kBlockBytes ? 1 : kBlockBytes / row.size();
  if (static_cast<unsigned long long>(count) <= per_block) {
    std::string block;
    block.reserve(row.size() * static_cast<size_t>(count));
    for (long long i = 0; i < count; ++i) block += row;
    std::fwrite(block.data(), 1, block.size(), stream);
    return;
  }
  std::string block;
  block.reserve(row.size() * per_block);
  for (size_t i = 0; i < per_block; ++i) block += row;
  long long left = count;
  while (left >= static_cast<long long>(per_block)) {
    if (std::fwrite(block.data(), 1, block.size(), stream) != block.size()) return;
    left -= static_cast<long long>(per_block);
  }
  std::fwrite(block.data(), 1, row.size() * static_cast<size_t>(left), stream);
}

void header_line(FILE* stream, long long rows, int positions) {
  put(stream, "%lld%c%d\n", rows, '\t', positions);
}

void history_row(std::string& row, const std::string& text, bool with_count, double count) {
  row.clear();
  for (char c : text) {
    row += c;
    row += '\t';
  }
  if (with_count) {
    char number[400];
    std::snprintf(number, sizeof number, "%f", count);
    row += number;
  }
  row += '\n';
}

namespace {

// The data rows of one history: in deterministic mode one row carrying the count, in
// stochastic mode 'rows' identical rows without it. 'row' is scratch space.
void write_history_rows(std::string& row, const std::string& text, double count, long long rows) {
  if (determ != 0) {
    history_row(row, text, true, count);
    write_repeated(fp2, row, 1);
  } else {
    history_row(row, text, false, 0.0);
    write_repeated(fp2, row, rows);
  }
}

}  // namespace

void closing_lines(FILE* stream) {
  put(stream, "0\n0\n");
}

void single_species_pass() {
  const long long codes = 1LL << nper;
  long long distinct = 0;
  long long total = 0;
  for (long long code = 0; code < codes; ++code) {
    if (determ == 0) total += rounded(nx[code]);
    if (nx[code] > 0) ++distinct;
  }
  header_line(fp2, determ != 0 ? distinct : total, nper);
  std::string text;
  std::string row;
  for (long long code = 0; code < codes; ++code) {
    const double count = nx[code];
    if (!(count > 0)) continue;
    binrep(code, nper, text);
    put(fp, "%s %lf;\n", text.c_str(), count);
    if (LIST != 0) std::fprintf(stderr, ">%s %lf;\n", text.c_str(), count);
    write_history_rows(row, text, count, rounded(count));
  }
  closing_lines(fp2);
}

void two_species_pass() {
  const long long codes = 1LL << (2 * nper);
  long long distinct = 0;
  long long total = 0;
  for (long long code = 0; code < codes; ++code) {
    nx2[code] = std::floor(nx[code] + 0.5);
    if (determ == 0) total += rounded(nx[code]);
    if (nx[code] > 0) ++distinct;
  }
  header_line(fp2, determ != 0 ? distinct : total, nper);
  std::string text;
  std::string row;
  for (long long code = 0; code < codes; ++code) {
    const double count = nx[code];
    if (!(count > 0)) continue;
    base3rep(code, nper, text);
    put(fp, "%s %f\n", text.c_str(), count);
    write_history_rows(row, text, count, rounded(nx2[code]));
  }
  closing_lines(fp2);
}

int refuse(const char* format, ...) {
  std::fputs("occusim2: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  return 1;
}

}  // namespace occusim
