#!/usr/bin/env bash
# The manual pages of a build folder as man shows them in a UTF-8 locale: each has its sections, its
# Russian text reads as Russian (not "?" in place of every letter, nor UTF-8 read as Latin-1), and
# groff has nothing to say about it.
set -euo pipefail
build=${1:?usage: check.sh BUILD_DIR}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
export LC_ALL=C.UTF-8 MANWIDTH=100
unset LANGUAGE
# page, sections it must have, a Russian phrase of its own (from its --help or its include file)
cases=(
  "vexa-cli.1|NAME SYNOPSIS DESCRIPTION EXIT.STATUS ENVIRONMENT FILES SEE.ALSO|относительные пути к файлам"
  "vexa-cli.1||Командная строка не понята"
  "vexa.5|NAME DESCRIPTION FILES SERVICE SEE.ALSO|Замок папки"
  "vexa.5||Папка программы линии"
)
[ -x "$build/vexa" ] && cases+=("vexa.1|NAME SYNOPSIS DESCRIPTION EXIT.STATUS ENVIRONMENT FILES SEE.ALSO|операторская оболочка")
[ -x "$build/vexa-sim" ] && cases+=("vexa-sim.1|NAME SYNOPSIS DESCRIPTION EXIT.STATUS ENVIRONMENT FILES SEE.ALSO|Имитатор сети регуляторов")
checked=0
for c in "${cases[@]}"; do
  IFS='|' read -r page sections phrase <<<"$c"
  file="$build/man/$page.gz"
  [ -f "$file" ] || fail "$file is not built"
  said=$(man --warnings -l "$file" 2>&1 >/dev/null || true)
  [ -z "$said" ] || fail "$page: $said"
  text=$(man -l "$file")
  for section in $sections; do
    grep -qx "${section//./ }" <<<"$text" || fail "$page has no section ${section//./ }"
  done
  # A phrase is joined over the lines man broke it into.
  flat=$(tr -s ' \n' '  ' <<<"$text")
  grep -qF "$phrase" <<<"$flat" || fail "$page does not say \"$phrase\""
  if grep -nE '\?{2,}' <<<"$text"; then fail "$page shows a run of '?'"; fi
  if grep -nE 'Ð|Ñ' <<<"$text"; then fail "$page shows UTF-8 read as Latin-1"; fi
  # The Cyrillic letters of the page's source reach the screen as such (hyphenation aside).
  written=$(zcat "$file" | grep -oP '\p{Cyrillic}' | wc -l)
  shown=$(grep -oP '\p{Cyrillic}' <<<"$text" | wc -l)
  [ "$written" -gt 0 ] || fail "$page has no Russian text"
  [ "$shown" -ge $((written * 9 / 10)) ] || fail "$page shows $shown of its $written Cyrillic letters"
  checked=$((checked + 1))
done
echo "manual pages: $checked checks of $(ls "$build"/man/*.gz | wc -l) pages passed"
