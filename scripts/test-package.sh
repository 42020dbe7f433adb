#!/usr/bin/env bash
# Builds the Debian package, installs it as a user would (apt-get install ./cellverter_*.deb),
# checks the installed programs, the desktop files and the package, and removes it again,
# checking that nothing is left behind. Needs root or sudo; scripts/test.sh runs it in CI.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

fail() {
  echo "test-package: $*" >&2
  exit 1
}
step() { echo "== $*"; }

package_state() { dpkg-query -W -f='${db:Status-Status}' cellverter 2>/dev/null || true; }
if [[ -n $(package_state) && $(package_state) != not-installed ]]; then
  fail "a cellverter package is installed already; remove it first, or skip this test with" \
    "CELLVERTER_PACKAGE_TEST=0"
fi

work=$(mktemp -d)
chmod 755 "$work"  # apt reads the package as its own user
installed=no
cleanup() {
  if [[ $installed == yes ]]; then $sudo apt-get purge -y -qq cellverter >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

step "Building the package"
"$root/scripts/package.sh" "$work"
debs=("$work"/cellverter_*_amd64.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "expected one cellverter_<version>_amd64.deb"
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
[[ $(basename "$deb") == "cellverter_${version}_amd64.deb" ]] || fail "odd name $(basename "$deb")"

step "lintian"
# Every warning is fixed or overridden with its reason (packaging/lintian-overrides); infos
# and pedantic hints are shown, not fatal.
lintian --info --display-info --pedantic --fail-on error,warning "$deb"

# The names under the folders a package may touch, before and after; system caches that the
# desktop and icon triggers rebuild are no part of the package.
snapshot() {
  find /usr /etc /opt /var/lib -xdev 2>/dev/null |
    grep -v -e '^/usr/share/applications/mimeinfo\.cache$' \
      -e '^/usr/share/icons/hicolor/icon-theme\.cache$' -e '^/var/lib/apt/lists/' |
    LC_ALL=C sort
}
snapshot >"$work/before.txt"

step "Installing $(basename "$deb")"
(cd "$work" && $sudo apt-get install -y -qq "./$(basename "$deb")" >/dev/null)
installed=yes
id_desktop=$(dpkg -L cellverter | grep -E '^/usr/share/applications/[^/]+\.desktop$') ||
  fail "no desktop entry installed"
app_id=$(basename "$id_desktop" .desktop)

step "Installed files"
[[ $(command -v cellverter-cli) == /usr/bin/cellverter-cli ]] || fail "cellverter-cli not on PATH"
[[ $(command -v cellverter) == /usr/bin/cellverter ]] || fail "cellverter not on PATH"
for file in /usr/share/cellverter/license.txt /usr/share/cellverter/Languages/LanguageCodes.csv \
  /usr/share/doc/cellverter/copyright /usr/share/doc/cellverter/changelog.gz \
  "/usr/share/metainfo/$app_id.metainfo.xml" "/usr/share/icons/hicolor/scalable/apps/$app_id.svg" \
  "/usr/share/icons/hicolor/48x48/apps/$app_id.png" \
  /usr/share/bash-completion/completions/cellverter-cli; do
  [[ -f $file ]] || fail "missing $file"
done
grep -qx "Icon=$app_id" "$id_desktop" || fail "the desktop entry names another icon"
[[ $(cellverter-cli --version) == "cellverter-cli $version" ]] ||
  fail "cellverter-cli --version says \"$(cellverter-cli --version)\", not version $version"

step "Manual pages"
# Read from the package itself: a system may keep no manual pages (dpkg path-exclude).
dpkg-deb -x "$deb" "$work/unpacked"
for page in cellverter-cli cellverter; do
  file="$work/unpacked/usr/share/man/man1/$page.1.gz"
  [[ -f $file ]] || fail "no manual page $page.1.gz in the package"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$file" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "man $page: $warnings"
  if ! grep -qs 'path-exclude[= ]*/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
    [[ $(man -w "$page") == "/usr/share/man/man1/$page.1.gz" ]] || fail "man $page finds no page"
  fi
done

step "Desktop entry and AppStream metadata"
desktop-file-validate "$id_desktop"
appstreamcli validate --no-net --strict "/usr/share/metainfo/$app_id.metainfo.xml"

step "Bash completion"
completion() {  # completion WORD... : what the script offers for the last word
  (cd "$root/samples" && bash -c '
    source /usr/share/bash-completion/bash_completion
    source /usr/share/bash-completion/completions/cellverter-cli
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _cellverter_cli cellverter-cli "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
    printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | tr "\n" " "' completion "$@")
}
[[ $(completion cellverter-cli -e UTF) == "UTF16BEBOM UTF16LEBOM UTF8 UTF8BOM " ]] ||
  fail "encodings: $(completion cellverter-cli -e UTF)"
[[ $(completion cellverter-cli --ma) == "--max-cells " ]] || fail "options: $(completion cellverter-cli --ma)"
[[ $(completion cellverter-cli "") == "international.xlsx sales.xls sales.xlsx source " ]] ||
  fail "paths: $(completion cellverter-cli "")"
[[ $(completion cellverter-cli -d "") == "source " ]] || fail "folders: $(completion cellverter-cli -d "")"

step "Converting samples/ with the installed cellverter-cli"
mkdir "$work/installed" "$work/built"
(cd "$work" && cellverter-cli -d installed "$root/samples")
"$root/build/package/bin/cellverter-cli" -d "$work/built" "$root/samples" >/dev/null
written=("$work"/installed/*.csv)
[[ ${#written[@]} -eq 3 ]] || fail "expected 3 CSV files, not ${#written[@]}"
diff -r "$work/built" "$work/installed" || fail "the installed program writes other CSV files"

step "The installed Python package"
# The system's interpreter finds it; no byte code is written, which the purge would leave.
(cd "$work" && env -i PATH=/usr/bin:/bin LC_ALL=C.UTF-8 PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -c '
import sys, cellverter
assert cellverter.__file__.startswith("/usr/lib/python3/dist-packages/"), cellverter.__file__
assert cellverter.read(sys.argv[1])[0][0] == "Order date"
' "$root/samples/sales.xlsx") || fail "import cellverter fails"

step "Starting the installed cellverter (offscreen)"
# As an ordinary user, as on a desktop: the program keeps its settings in the user's config
# folder (it writes beside itself only where it may, which root may everywhere).
home="$work/home"
mkdir -p "$home/runtime"
chmod 700 "$home/runtime"
as_user=()
if [[ $(id -u) -eq 0 ]]; then
  chown -R nobody "$home"
  as_user=(runuser -u nobody --)
fi
"${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$home/runtime" LANG=C.UTF-8 \
  LANGUAGE=de QT_QPA_PLATFORM=offscreen cellverter >"$work/gui.log" 2>&1 &
gui=$!
sleep 5
if ! kill -0 "$gui" 2>/dev/null; then
  wait "$gui" || true
  cat "$work/gui.log" >&2
  fail "cellverter ended at start"
fi
[[ -f $home/.config/KORVANE/Cellverter/settings.ini ]] || fail "no settings in the user's folder"
[[ ! -e /usr/bin/settings.ini ]] || fail "settings written beside the installed program"
kill -TERM "$gui"
for _ in $(seq 100); do
  kill -0 "$gui" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$gui" 2>/dev/null && fail "cellverter did not close on SIGTERM"
wait "$gui" || true

step "Removing the package"
$sudo apt-get purge -y -qq cellverter >/dev/null
installed=no
[[ -z $(package_state) || $(package_state) == not-installed ]] || fail "cellverter is still there"
snapshot >"$work/after.txt"
if ! diff "$work/before.txt" "$work/after.txt"; then
  fail "the package left these behind (>) or took these away (<)"
fi
echo "The package installs, works and removes cleanly: $(basename "$deb")"
