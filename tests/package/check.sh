#!/usr/bin/env bash
# The Debian package made from a build folder: it builds, holds the programs, manual pages, desktop
# entry, icons, help, the README's pictures and the line's service unit (verified by
# systemd-analyze) with its maintainer scripts, depends on the Debian packages of every library the
# programs link, passes lintian, and an extracted copy runs.
# Usage: check.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

deb=$(VEXA_BUILD_DIR=$build "$root/scripts/package" | tail -1)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ "$(basename "$deb")" = "vexa_${version}_$(dpkg --print-architecture).deb" ] || fail "package name $deb"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "control Version $(dpkg-deb -f "$deb" Version)"

contents=$(dpkg-deb --contents "$deb" | awk '{print $NF}')
for path in ./usr/bin/vexa ./usr/bin/vexa-cli ./usr/bin/vexa-sim \
  ./usr/share/applications/vexa.desktop \
  ./usr/share/icons/hicolor/32x32/apps/vexa.png ./usr/share/icons/hicolor/48x48/apps/vexa.png \
  ./usr/share/man/man1/vexa.1.gz ./usr/share/man/man1/vexa-cli.1.gz ./usr/share/man/man1/vexa-sim.1.gz \
  ./usr/share/doc/vexa/README.md ./usr/share/doc/vexa/help/index.html ./usr/share/doc/vexa/help/setup.html \
  $(grep -oE 'docs/[A-Za-z0-9_.-]+\.png' "$root/README.md" | sort -u | sed 's|^|./usr/share/doc/vexa/|') \
  ./lib/systemd/system/vexa-line@.service; do
  grep -qxF "$path" <<<"$contents" || fail "the package does not hold $path"
done
# Nothing of the build or the tests.
if grep -E 'test_|vexa-demo|\.a$|/include/' <<<"$contents"; then fail "the package holds build files"; fi

# Every library the programs link directly belongs to a Debian package the package depends on.
depends=$(dpkg-deb -f "$deb" Depends)
depends_names=$(sed 's/ *([^)]*)//g; s/ *[,|] */\n/g' <<<"$depends")
owner_of() {  # the package owning a library, by its path as linked or as resolved (merged /usr)
  for p in "$1" "$(readlink -f "$1")" "${1#/usr}" "/usr${1}"; do
    o=$(dpkg -S "$p" 2>/dev/null | head -1 | cut -d: -f1)
    [ -n "$o" ] && { echo "$o"; return; }
  done
}
for program in vexa vexa-cli vexa-sim; do
  linked=$(ldd "$build/$program")
  for name in $(objdump -p "$build/$program" | awk '$1 == "NEEDED" {print $2}'); do
    # "name => path (address)", or the dynamic loader's own line, "path (address)".
    lib=$(awk -v n="$name" '$1 == n && $3 ~ /^\// {print $3} $1 ~ "/" n "$" {print $1}' <<<"$linked" | head -1)
    [ -n "$lib" ] || { fail "$program: $name not found by ldd"; continue; }
    owner=$(owner_of "$lib")
    [ -n "$owner" ] || { fail "no package owns $lib"; continue; }
    grep -qxF "$owner" <<<"$depends_names" || fail "$program links $lib of $owner, not in Depends: $depends"
  done
done

# The alarm journal's SQLite driver, a plug-in no program links.
grep -qxF libqt6sql6-sqlite <<<"$depends_names" || fail "libqt6sql6-sqlite not in Depends: $depends"

# An extracted copy, as installed under its own root.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/root"
bin=$scratch/root/usr/bin
mkdir "$scratch/work"
cd "$scratch/work"
for program in vexa vexa-cli vexa-sim; do
  got=$("$bin/$program" --version) || fail "$program --version failed"
  [ "$got" = "$program $version" ] || fail "$program --version said: $got"
  "$bin/$program" --help | grep -q "^Usage: $program" || fail "$program --help has no usage line"
done
got=$("$bin/vexa-cli" --demo read D001C000R005) || fail "vexa-cli --demo read failed"
[ "$got" = "250" ] || fail "vexa-cli --demo read D001C000R005 said: $got"
desktop-file-validate "$scratch/root/usr/share/applications/vexa.desktop" || fail "desktop entry refused"

# Debian's own checks of a package: no error, no warning, and the programs hardened as Debian
# builds its own (the notes lintian gives of a missing hardening count too).
if command -v lintian >/dev/null; then
  said=$(lintian --no-tag-display-limit --display-info "$deb" 2>&1) || true
  complaints=$(grep -E '^[EW]:|hardening' <<<"$said" || true)
  [ -z "$complaints" ] || fail "lintian: $complaints"
  grep '^I:' <<<"$said" >&2 || true
else
  echo "lintian not found: the package was not checked by it" >&2
fi
for path in ./usr/share/doc/vexa/copyright ./usr/share/doc/vexa/changelog.gz; do
  grep -qxF "$path" <<<"$contents" || fail "the package does not hold $path"
done

# The maintainer scripts, as debhelper writes them for a template unit: systemd reloaded on
# install and removal, the running lines stopped on removal and restarted on an upgrade, nothing
# enabled or started. Run against stand-ins for systemctl and deb-systemd-invoke that note what
# they are asked, on a system running systemd (/run/systemd/system in a mount namespace of its own).
control=$scratch/control
dpkg-deb -e "$deb" "$control"
for script in postinst prerm postrm; do
  [ -x "$control/$script" ] || fail "the package has no executable $script"
done
if unshare --mount true 2>/dev/null; then
  mkdir "$scratch/stubs"
  for tool in systemctl deb-systemd-invoke deb-systemd-helper; do
    printf '#!/bin/sh\necho "%s $*" >>"$VEXA_CALLS"\n' "$tool" >"$scratch/stubs/$tool"
    chmod +x "$scratch/stubs/$tool"
  done
  maintainer_script() {  # SCRIPT ARGUMENT... EXPECTED: the calls it made, one a line
    local expected=${*: -1} script=$1
    set -- "${@:2:$#-2}"
    : >"$scratch/calls"
    unshare --mount sh -c 'mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/system && exec "$@"' sh \
      env PATH="$scratch/stubs:$PATH" VEXA_CALLS="$scratch/calls" "$control/$script" "$@" ||
      fail "$script $* failed"
    [ "$(cat "$scratch/calls")" = "$expected" ] ||
      fail "$script $*: called \"$(cat "$scratch/calls")\", not \"$expected\""
  }
  reload='systemctl --system daemon-reload'
  maintainer_script postinst configure '' "$reload"
  maintainer_script postinst configure 0.9.0 "$reload"$'\n''deb-systemd-invoke try-restart vexa-line@*.service'
  maintainer_script prerm remove 'deb-systemd-invoke stop vexa-line@*.service'
  maintainer_script prerm upgrade "$version" ''
  maintainer_script postrm remove "$reload"
  maintainer_script postrm purge ''
  maintainer_script postrm upgrade "$version" ''
else
  echo "no mount namespace here: the maintainer scripts were not run" >&2
fi

# The line's service unit as systemd reads it: an instance of the template, its program the
# extracted vexa-cli; any warning counts (systemd-analyze only warns of an unknown key).
if command -v systemd-analyze >/dev/null; then
  mkdir "$scratch/units"
  unit=$scratch/units/vexa-line@boiler-house.service
  sed "s|/usr/bin/vexa-cli|$bin/vexa-cli|" "$scratch/root/lib/systemd/system/vexa-line@.service" >"$unit"
  said=$(systemd-analyze verify --man=no "$unit" 2>&1) || fail "systemd-analyze verify: $said"
  [ -z "$said" ] || fail "systemd-analyze verify warned: $said"
else
  echo "systemd-analyze not found: the service unit was not verified" >&2
fi

# The manual pages say what --help says: every option of it is in the page.
for program in vexa vexa-cli vexa-sim; do
  page=$(zcat "$scratch/root/usr/share/man/man1/$program.1.gz" | sed 's/\\-/-/g')
  grep -q "^\.TH \"\?${program^^}\"\? \"\?1\"\?" <<<"$page" || fail "$program.1 has no title line"
  for option in $("$bin/$program" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "$option" <<<"$page" || fail "$program.1 does not mention $option"
  done
done

if [ "$failures" -ne 0 ]; then
  echo "0 passed, $failures failed" >&2
  exit 1
fi
echo "package $deb: contents, dependencies, extracted programs, desktop entry and manual pages checked"
