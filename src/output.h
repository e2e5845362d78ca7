// History text and every line form of the data file (occusim.sdh), the list file
// (occusim.inp) and the console, each written in one place; the two writer passes of the
// tree models; opening and closing of the output files; the one form of a refusal.
#pragma once

#include <cstdio>
#include <string>

namespace occusim {

// Binary history text of 'code' over 'positions' positions, position 1 first ('.' for a
// position with detection probability <= 0 when P0MISS is set).
void binrep(long long code, int positions, std::string& text);
// Two-species history text: one digit 0..3 per occasion, occasion 1 first.
void base3rep(long long code, int occasions, std::string& text);

// Nearest whole number of a count (floor(count + 0.5)), saturated instead of overflowing.
long long rounded(double count);

// Opens 'name' for writing (or reading with mode "r"); on failure prints the perror-form line,
// marks the run as failed and returns nullptr.
FILE* open_output(const char* name, const char* mode = "w");
// Flushes and closes 'stream' (nullptr is left alone); a failed write or close prints the
// perror-form line for 'name', marks the run as failed and returns false.
bool close_output(FILE*& stream, const char* name);

// printf into a stream that may have failed to open (nullptr: nothing is written).
void put(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Writes 'row' 'count' times through large blocks.
void write_repeated(FILE* stream, const std::string& row, long long count);

// Header line "%d\t%d\n": number of rows, number of positions (or occasions).
void header_line(FILE* stream, long long rows, int positions);
// History row: every text character followed by a tab; in deterministic mode the count.
void history_row(std::string& row, const std::string& text, bool with_count, double count);
// Closing lines of every data file with a header: "0\n0\n".
void closing_lines(FILE* stream);

// Writer pass of the single-species trees: both files from nx over nper positions.
void single_species_pass();
// Writer pass of the two-species tree: both files from nx over nper occasions; fills nx2.
void two_species_pass();

// Largest number of sites, rows or individuals a run may turn into an integer count.
constexpr double kMaxCount = 2147483647.0;

// The one form of a refusal: "occusim2: " and the message on the standard error stream.
// Returns the exit status of a refused run, 1.
int refuse(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace occusim
