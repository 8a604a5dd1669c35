#!/usr/bin/env bash
# A picture of the window on a database of a PostgreSQL server, for docs/: a server of the
# script's own in a temporary folder (on a Unix socket there, no TCP port), the demo tables made
# in it, settings.cfg pointing at it by its URI, and the demo workbook loaded through three links
# (Код rule 1 to Code, Минимум rule 2 to MinValue, Максимум rule 3 to MaxValue). The same window
# manager, screen and locale as scripts/screenshot.sh.
#   scripts/screenshot_server.sh [OUTPUT_FOLDER]    (default: docs)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh xfwm4 xfconf dbus-x11 xdotool x11-utils
out=$(realpath -m "${1:-docs}")
mkdir -p "$out"
build=${KALDER_BUILD:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKALDER_TESTS=OFF >/dev/null
cmake --build "$build" --target kalder

pg=${KALDER_PG_BIN:-/usr/lib/postgresql/15/bin}
demo=$(mktemp -d /tmp/kdemo-XXXXXX)
chmod 755 "$demo"
as=()
if [ "$(id -u)" -eq 0 ]; then   # the server refuses to run as root
  chown postgres: "$demo"
  as=(setpriv --reuid=postgres --regid=postgres --clear-groups)
fi
"${as[@]}" "$pg/initdb" -D "$demo/data" -U kalder -A trust -E UTF8 --locale=C.UTF-8 >/dev/null
"${as[@]}" "$pg/pg_ctl" -D "$demo/data" -l "$demo/log" -w \
  -o "-c listen_addresses='' -c unix_socket_directories='$demo'" start >/dev/null
trap '"${as[@]}" "$pg/pg_ctl" -D "$demo/data" -m fast -w stop >/dev/null; rm -rf "$demo"' EXIT

cp "$build/kalder" "$demo/"
/usr/bin/python3 scripts/make_demo.py "$demo"
cp scripts/xdrive.sh "$demo/"
psql=("$pg/psql" -X -q -v ON_ERROR_STOP=1 -h "$demo" -U kalder)
"${psql[@]}" -d postgres -c 'CREATE DATABASE demo'
"${psql[@]}" -d demo <<SQL
CREATE TABLE "tblData" ("Code" text NOT NULL, "Name" text, "MinValue" double precision,
                        "MaxValue" double precision, "Note" text);
CREATE UNIQUE INDEX ON "tblData" ("Code");
CREATE TABLE "tblSettings" ("LastFileName" text, "StrNumWithCapt" integer, "StrNumMAX" integer);
INSERT INTO "tblData" ("Code", "Name", "MinValue", "MaxValue") VALUES ('A-001', 'Болт М5', 10, 20);
INSERT INTO "tblSettings" VALUES ('$demo/demo.xls', 1, 301);
SQL
printf 'PathToDB=postgresql://kalder@/demo?host=%s' "$demo" >"$demo/settings.cfg"

cat >"$demo/drive.sh" <<'DRIVE'
set -euo pipefail
out=$1
source ./xdrive.sh
# Presses a key n times.
keys() { local i; for i in $(seq "$2"); do xdotool key "$1"; sleep 0.2; done; }

click 152 542                                     # Анализ входного файла
dialog >/dev/null
xdotool key Return
sleep 1
# A link: the header that many rows below the first, its rule, the database field as far down.
link() {
  click 60 141; keys Down "$1"; xdotool key Return
  dialog >/dev/null; xdotool type "$2"; xdotool key Return; sleep 1
  click 600 141; keys Down "$1"; xdotool key Return; sleep 1
}
link 0 1                                          # Код -> Code
link 2 2                                          # Минимум -> MinValue
link 3 3                                          # Максимум -> MaxValue
click 410 542                                     # Загрузить данные в таблицу
dialog >/dev/null                                 # the journal is not kept on a server: said once
xdotool key Return
done=$(dialog)                                    # "Обработка данных успешно завершена"
import -window root "$screen"
xdotool key Return
sleep 1
shoot "$win" "$out/window-server.png"
kill "$app"
DRIVE

(cd "$demo" && xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" dbus-launch --exit-with-session \
  bash drive.sh "$out")
echo "records on the server: $("${psql[@]}" -d demo -Atc 'SELECT count(*) FROM "tblData"')"
echo "Picture saved: $out/window-server.png"
