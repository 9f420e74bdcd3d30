#!/bin/sh
# Every shell example in README.md and in the manual pages' EXAMPLES runs as written: it parses
# in sh and in bash, and a ";" that ends a framerelay word list (-1 ... ; -2 ... ;) is quoted,
# since a bare one ends the shell command instead (the line would still parse).
# Usage: doc_examples_test.sh SOURCE_DIR
set -u
cd "$1" || exit 1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
checked=0

check() { # $1: where, $2: the example line
  checked=$((checked + 1))
  printf '%s\n' "$2" >"$work/line"
  for shell in sh bash; do
    if ! $shell -n "$work/line" 2>"$work/why"; then
      echo "FAIL: $1: $shell cannot parse: $2"; cat "$work/why"; status=1
    fi
  done
  case "$2" in
  *framerelay*" -1"* | *framerelay*" -2"*)
    if printf '%s\n' "$2" | grep -qE '(^|[[:space:]]);([[:space:]]|$)'; then
      echo "FAIL: $1: a bare ';' ends the shell command, not the word list: $2"; status=1
    fi ;;
  esac
}

# README: indented code lines (not the message formats, which begin with "..."), and the
# commands in the option tables' example column.
grep -n '^    [^ .|]' README.md | sed 's/^\([0-9]*\):    /\1 /' >"$work/readme"
grep -no '`\(watchdog\|framerelay\|examples/[a-z-]*\.sh\) [^`]*`' README.md | sed 's/^\([0-9]*\):`\(.*\)`$/\1 \2/' >>"$work/readme"
while IFS= read -r entry; do
  check "README.md:${entry%% *}" "${entry#* }"
done <"$work/readme"

# Manual pages: the .B lines of EXAMPLES, with troff's escapes turned back into characters.
for page in man/*.1; do
  sed -n '/^\.SH EXAMPLES/,/^\.SH [^E]/p' "$page" | grep '^\.B ' | sed -e 's/^\.B //' -e 's/\\-/-/g' \
    -e "s/\\\\(aq/'/g" -e 's/\\e/\\/g' -e 's/\\f[BIRP]//g' >"$work/page"
  while IFS= read -r line; do
    check "$page" "$line"
  done <"$work/page"
done

[ "$checked" -ge 20 ] || { echo "FAIL: only $checked examples found; the extraction is broken"; status=1; }
[ $status -eq 0 ] && echo "ok: $checked example lines"
exit $status
