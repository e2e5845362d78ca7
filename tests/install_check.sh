#!/usr/bin/env bash
# Installs the build into a temporary prefix, runs the installed program in an empty
# directory and renders the installed manual page, which must give no warning.
#   install_check.sh BUILD_DIR BINDIR MANDIR   (BINDIR and MANDIR as GNUInstallDirs sets them)
set -euo pipefail
build=$1 bindir=$2 mandir=$3

fail() {
  echo "install_check: $*" >&2
  exit 1
}
command -v groff >/dev/null 2>&1 ||
  fail "groff is not installed (Debian package groff-base; ./scripts/check installs it)"

prefix=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$prefix" "$work"' EXIT
under_prefix() { [[ $1 == /* ]] && echo "$1" || echo "$prefix/$1"; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" ||
  fail "cmake --install failed: $(cat "$work/install.log")"
program=$(under_prefix "$bindir")/occusim2
page=$(under_prefix "$mandir")/man1/occusim2.1
[[ -x $program ]] || fail "the program was not installed as $program"
[[ -f $page ]] || fail "the manual page was not installed as $page"

# The installed program runs on its own: a single-season study of 100 sites, psi 0.5, p 0.4
# and 0.6. Expected frequencies: 11 = 100*0.5*0.4*0.6 = 12, 10 = 100*0.5*0.4*0.4 = 8,
# 01 = 100*0.5*0.6*0.6 = 18, and 00 the other 62.
mkdir "$work/run"
(cd "$work/run" && "$program" 2 100 0.5 0.4 0.6 QUIET >../stdout 2>../stderr) ||
  fail "the installed program failed: $(cat "$work/stderr")"
printf '4\t2\n0\t0\t62.000000\n0\t1\t18.000000\n1\t0\t8.000000\n1\t1\t12.000000\n0\n0\n' \
  >"$work/expected.sdh"
printf '00 62.000000;\n01 18.000000;\n10 8.000000;\n11 12.000000;\n' >"$work/expected.inp"
cmp "$work/expected.sdh" "$work/run/occusim.sdh" || fail "wrong occusim.sdh from the installed program"
cmp "$work/expected.inp" "$work/run/occusim.inp" || fail "wrong occusim.inp from the installed program"
[[ ! -s $work/stdout && ! -s $work/stderr ]] || fail "QUIET run printed on the console"

# Too short a command line: the usage text, status 1.
status=0
(cd "$work/run" && "$program" 3 100 0.5 >/dev/null 2>../usage) || status=$?
[[ $status -eq 1 ]] || fail "the usage run ended with status $status, not 1"
grep -q '^usage occusim2 T N psi' "$work/usage" || fail "no usage text"

# The manual page renders without a warning, and has the sections a reader looks for.
warnings=$(groff -man -ww -z "$page" 2>&1) || fail "groff failed on the manual page: $warnings"
[[ -z $warnings ]] || fail "groff warns about the manual page: $warnings"
text=$(groff -man -Tascii -P-cbou -ww "$page" 2>&1)
for section in NAME SYNOPSIS DESCRIPTION OPTIONS FILES "EXIT STATUS" EXAMPLES; do
  grep -q "^$section\$" <<<"$text" || fail "the manual page has no $section section"
done
grep -q 'occusim2 - simulate detection-history data' <<<"$text" || fail "the NAME line is wrong"
echo "install_check: program and manual page installed under a temporary prefix, both work"
