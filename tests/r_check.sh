#!/usr/bin/env bash
# Runs the code of docs/r.md with a real R: its sh blocks make the example data with the
# program, its r blocks (exactly as the page has them, in order) read and fit it. Then the
# estimates must recover the psi and p that made the data, the readers must agree with what
# the files hold, and R's output must be what the page shows.
#   r_check.sh SOURCE_DIR OCCUSIM2_BINARY
set -euo pipefail
src=$1 bin=$2
page=$src/docs/r.md

fail() {
  echo "r_check: $*" >&2
  exit 1
}
command -v Rscript >/dev/null 2>&1 ||
  fail "R is not installed (Debian package r-base-core; ./scripts/check installs it)"
command -v parallel >/dev/null 2>&1 ||
  fail "GNU parallel is not installed (Debian package parallel; ./scripts/check installs it)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The blocks of one kind, in page order (fences of every kind are tracked, so no block's
# content is taken for a fence).
blocks() {
  awk -v want="$1" '/^```/ { if (open) { open = 0; next } open = 1; kind = substr($0, 4); next }
                   open && kind == want' "$page"
}
blocks sh >"$work/page.sh"
blocks r >"$work/page.R"
awk '/^<!-- r-output -->$/ { marker = 1; next }
     marker && /^```/ { if (open) exit; open = 1; next }
     open' "$page" >"$work/shown-output.txt"
[[ -s $work/page.sh && -s $work/page.R && -s $work/shown-output.txt ]] ||
  fail "docs/r.md has no sh block, r block or r-output block"

# The study whose psi and p the estimates must recover.
grep -q '^(cd stochastic && occusim2 -5 3000 0.6 0.3 0.3 0.3 0.3 0.3 SEED=2024 QUIET)$' \
  "$work/page.sh" || fail "the page's stochastic study is not the one this test checks"

mkdir "$work/run"
cd "$work/run"
PATH="$(dirname "$bin"):$src/scripts:$PATH" bash -euo pipefail "$work/page.sh" ||
  fail "the page's sh block failed"

# What the files hold, counted without the page's code.
ones=$(awk 'NR > 1 && NR <= 3001' stochastic/occusim.sdh | tr -cd 1 | wc -c)
count_total=$(tr '\t' '\n' <counts/occusim.sdh | awk '{ s += $1 } END { print s }')
sed -n '/^cov1$/,$p' by-site/occusim.sdh | sed '1d;$d' >"$work/cov1.txt"

cat >"$work/check.R" <<EOF
source("$work/page.R")
check <- function(ok, what) if (!isTRUE(ok)) stop(what, call. = FALSE)
within_3se <- function(fit, row, truth) abs(fit[row, "estimate"] - truth) < 3 * fit[row, "se"]

# The estimates recover psi = 0.6 and p = 0.3 within three standard errors.
check(within_3se(fit_stochastic, "psi", 0.6), "psi is not recovered")
check(within_3se(fit_stochastic, "p", 0.3), "p is not recovered")
# Expected frequencies are the data of an infinitely repeated study: their fit is exact, and
# its standard errors are the asymptotic ones that the random study's are close to.
check(all(abs(fit_expected\$estimate - c(0.6, 0.3)) < 1e-4), "the expected fit is not exact")
check(all(abs(fit_stochastic\$se / fit_expected\$se - 1) < 0.25), "implausible standard errors")
check(all(fit_expected\$se > 0.001 & fit_expected\$se < 0.05), "implausible standard errors")
# Intercept 1 (fixed by the program) and slope 0.8 of the site covariate.
check(within_3se(fit_covariate, "intercept", 1), "the intercept is not recovered")
check(within_3se(fit_covariate, "cov1", 0.8), "the slope is not recovered")
check(within_3se(fit_covariate, "p", 0.3), "p of the site-by-site study is not recovered")

# The readers agree with the files.
y <- detection_matrix(stochastic)
check(identical(dim(y), c(3000L, 5L)) && all(y %in% 0:1), "wrong detection matrix")
check(sum(y) == $ones, "the detection matrix does not hold the file's detections")
listed <- read.table("stochastic/occusim.inp", colClasses = "character")
listed_freq <- as.numeric(sub(";", "", listed[[2]], fixed = TRUE))
table_stochastic <- history_table(stochastic)
check(identical(table_stochastic\$history, listed[[1]]) &&
      all(table_stochastic\$freq == listed_freq), "history_table disagrees with occusim.inp")
# Expected frequency of a history with d detections: 3000 * 0.6 * 0.3^d * 0.7^(5 - d), and
# the 1200 empty sites on top for the history of no detection.
table_expected <- history_table(expected)
d <- nchar(gsub("0", "", table_expected\$history))
model <- 3000 * 0.6 * 0.3^d * 0.7^(5 - d) + 1200 * (d == 0)
check(nrow(table_expected) == 32 && all(abs(table_expected\$freq - model) < 1e-5),
      "history_table of the expected file does not hold the model's frequencies")
check(identical(dim(detection_matrix(by_site)), c(2000L, 4L)), "wrong site-by-site matrix")
check(identical(names(by_site\$covariates), "cov1") &&
      identical(by_site\$covariates\$cov1, scan("$work/cov1.txt", quiet = TRUE)),
      "the covariate values are not the file's")
check(identical(dim(counts), c(50L, 3L)) && sum(counts) == $count_total, "wrong count matrix")
check(length(psi_hat) == 20 && all(abs(psi_hat - 0.4) < 0.3), "the replicate fits are wrong")
png_head <- readBin("r-history-frequencies.png", "raw", 8)
check(identical(png_head, as.raw(c(0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a))),
      "no PNG plot")
EOF
Rscript "$work/check.R" >"$work/r-output.txt" 2>"$work/r-errors.txt" ||
  fail "$(cat "$work/r-errors.txt")"
diff -u "$work/shown-output.txt" "$work/r-output.txt" ||
  fail "R prints something else than the output that docs/r.md shows"
echo "r_check: the code of docs/r.md recovers psi and p, reads the files right and prints what the page shows"
