#!/usr/bin/env bash
# Builds the Debian package as the README says, checks its control fields and file list, runs
# lintian when it is installed (no errors allowed), installs the package into a scratch root
# with dpkg and runs the installed programs on the installed demo files.
# Usage: scripts/test_package.sh [BUILD_FOLDER]   (default build-package, a Release build)
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C.UTF-8   # the Cyrillic checks below read UTF-8
build=${1:-build-package}
failures=0
checks=0
pass() { checks=$((checks + 1)); }
fail() { checks=$((checks + 1)); failures=$((failures + 1)); echo "FAIL: $*" >&2; }
same() {   # what expected got
  if [ "$2" == "$3" ]; then pass; else fail "$1"$'\n'"--- expected"$'\n'"$2"$'\n'"--- got"$'\n'"$3"; fi
}

version=$(sed -n 's/^project(kalder VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
[ -n "$version" ] || { echo "no version in project() of CMakeLists.txt" >&2; exit 1; }

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKALDER_TESTS=OFF >/dev/null
rm -f "$build"/kalder_*.deb
cmake --build "$build" --target package >"$build/package-build.txt" 2>&1 ||
  { cat "$build/package-build.txt" >&2; exit 1; }
deb="$build/kalder_${version}_${arch}.deb"
[ -f "$deb" ] || { echo "no package $deb; made: $(ls "$build"/*.deb 2>/dev/null)" >&2; exit 1; }

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
same "Package" kalder "$(field Package)"
same "Version from project()" "$version" "$(field Version)"
same "Architecture" "$arch" "$(field Architecture)"
same "Section" utils "$(field Section)"
same "Priority" optional "$(field Priority)"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] && pass || fail "Maintainer: $(field Maintainer)"
[ "$(dpkg-deb -f "$deb" Description | wc -l)" -gt 3 ] && pass || fail "Description without a long text"
# The libraries found by dpkg-shlibdeps, and the plugins Qt loads that it cannot find.
depends=$(field Depends)
for dep in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6sql6 libgsf-1-114 libqt6sql6-sqlite qt6-qpa-plugins; do
  [[ ", $depends," == *", $dep "* || ", $depends," == *", $dep,"* ]] && pass || fail "Depends lacks $dep: $depends"
done

# The file list, with owners and modes: exactly these, nothing else.
expected_files="drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/bin/
-rwxr-xr-x root/root ./usr/bin/kalder
-rwxr-xr-x root/root ./usr/bin/kalder-cells
-rwxr-xr-x root/root ./usr/bin/kalder-load
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/applications/
-rw-r--r-- root/root ./usr/share/applications/kalder.desktop
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/kalder/
-rw-r--r-- root/root ./usr/share/doc/kalder/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/kalder/copyright
drwxr-xr-x root/root ./usr/share/icons/
drwxr-xr-x root/root ./usr/share/icons/hicolor/
drwxr-xr-x root/root ./usr/share/icons/hicolor/scalable/
drwxr-xr-x root/root ./usr/share/icons/hicolor/scalable/apps/
-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/kalder.svg
drwxr-xr-x root/root ./usr/share/kalder/
drwxr-xr-x root/root ./usr/share/kalder/demo/
-rw-r--r-- root/root ./usr/share/kalder/demo/demo.db
-rw-r--r-- root/root ./usr/share/kalder/demo/demo.xls
drwxr-xr-x root/root ./usr/share/man/
drwxr-xr-x root/root ./usr/share/man/man1/
-rw-r--r-- root/root ./usr/share/man/man1/kalder-cells.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/kalder-load.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/kalder.1.gz"
same "file list" "$expected_files" "$(dpkg-deb -c "$deb" | awk '{print $1, $2, $6}' | sort -k3)"

if command -v lintian >/dev/null; then
  root_flag=()
  [ "$(id -u)" -eq 0 ] && root_flag=(--allow-root)
  if lintian "${root_flag[@]}" --fail-on error --tag-display-limit 0 "$deb" >"$build/lintian.txt" 2>&1; then
    pass
  else
    fail "lintian found errors:"$'\n'"$(cat "$build/lintian.txt")"
  fi
  grep -E '^[EW]: ' "$build/lintian.txt" || true   # warnings are shown, errors fail
else
  echo "lintian not installed: the package is not checked by it"
fi

# Installed into a scratch root by dpkg itself; its dependencies are the running system's.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
# dpkg's complaint that the scratch root has none of the dependencies is expected; any other
# trouble fails the install.
dpkg --root="$root" --log=/dev/null --force-depends --force-not-root --force-bad-path -i "$deb" \
  >"$build/dpkg-install.txt" 2>&1 || { cat "$build/dpkg-install.txt" >&2; exit 1; }
same "dpkg lists the package installed" "install ok installed" \
  "$(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Status}' kalder)"
usr="$root/usr"

# The menu entry: Russian name and comment, in Office, starting the installed program.
desktop="$usr/share/applications/kalder.desktop"
for line in "Type=Application" "Exec=kalder" "Icon=kalder" "Terminal=false"; do
  grep -qx "$line" "$desktop" && pass || fail "kalder.desktop lacks $line"
done
grep -Eq '^Categories=(.*;)?Office;' "$desktop" && pass || fail "kalder.desktop not in Office"
for key in 'Name\[ru\]' 'Comment\[ru\]'; do
  grep -Pq "^$key=.*\p{Cyrillic}" "$desktop" && pass || fail "kalder.desktop has no Russian $key"
done
grep -q '<svg' "$usr/share/icons/hicolor/scalable/apps/kalder.svg" && pass || fail "the icon is no SVG"
same "copyright format" "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
  "$(head -n 1 "$usr/share/doc/kalder/copyright")"

# Every option a command's usage names has its entry in the manual page, and the page has the
# sections an operator looks for.
for cmd in kalder-load kalder-cells; do
  page=$(zcat "$usr/share/man/man1/$cmd.1.gz")
  usage=$("$usr/bin/$cmd" 2>&1 >/dev/null || true)
  for option in $(grep -o -- '--[a-z]*' <<<"$usage" | sort -u); do
    # an entry: ".BI \-\-option VALUE" for an option with a value, ".B \-\-option" for a flag
    grep -qE "^\.BI? \\\\-\\\\-${option#--}( |\$)" <<<"$page" && pass || fail "$cmd.1 has no entry for $option"
  done
  for section in OPTIONS "EXIT STATUS" EXAMPLES; do
    grep -qx "\.SH \"\?$section\"\?" <<<"$page" && pass || fail "$cmd.1 has no section $section"
  done
  grep -q "^\.TH ${cmd^^} 1 .*$version" <<<"$page" && pass || fail "$cmd.1 does not carry version $version"
done

# The installed programs on the installed demo files, as the manual page's example runs them.
demo="$usr/share/kalder/demo"
same "the demo database names the installed workbook" "/usr/share/kalder/demo/demo.xls|1|301" \
  "$(sqlite3 "$demo/demo.db" 'SELECT * FROM tblSettings')"
work=$(mktemp -d -p "$root")
cp "$demo/demo.db" "$work/demo.db"
load() {
  "$usr/bin/kalder-load" --locale C.UTF-8 --db "$work/demo.db" --workbook "$demo/demo.xls" --header 1 --last 301 \
    --link 1:1:Code --link 2:3:MinValue --link 3:4:MaxValue 2>/dev/null
}
ok=$'information\tKalder\tОбработка данных успешно завершена'
same "kalder-load on the demo" "$ok"$'\ncounts\t148\t147' "$(load)"
again=$(load)
same "kalder-load on the demo again asks first" "question" "$(printf '%s\n' "$again" | head -n 1 | cut -f 1)"
same "kalder-load on the demo again adds nothing" "$ok"$'\ncounts\t148\t0' "$(printf '%s\n' "$again" | grep -v '^question')"
# A-001 is stored as 10..20 before the load; its one row in the workbook holds 24.49..57.14.
same "the demo's record widened by the load" "A-001|10.0|57.14" \
  "$(sqlite3 "$work/demo.db" "SELECT Code, MinValue, MaxValue FROM tblData WHERE Code = 'A-001'")"
same "kalder-cells on the demo, Russian" $'Код,Наименование,Минимум,Максимум,Дата\r\nA-083,Винт М6,"47,45","67,19",25.01.2026\r' \
  "$("$usr/bin/kalder-cells" --locale ru_RU "$demo/demo.xls" | head -n 2)"

echo "package $(basename "$deb"): $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
