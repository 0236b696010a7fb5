#!/usr/bin/env bash
# Whole-command timings: zrbase against the sqlite3 command line doing the same work from its
# own database file, on 1,000,000 generated cards (bench/card_data.h). Run by hand:
#   bench/zrbase_vs_sqlite.sh [ROWS]
# Needs hyperfine and sqlite3 (apt-get install hyperfine sqlite3). Informs, never gates.
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${1:-1000000}
work=build/bench-zrbase
mkdir -p "$work"

cmake -S . -B build/release-zrbase -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DZELVO_BUILD_TESTS=OFF -DZELVO_BUILD_BENCH=OFF >/dev/null
cmake --build build/release-zrbase --target zrbase -j2 >/dev/null
zrbase=build/release-zrbase/tools/zrbase/zrbase
g++ -std=c++20 -O2 -Iengine -Ibench bench/zrbase_cards_tsv.cpp -o "$work/cards_tsv"

tsv="$work/cards_$rows.tsv"
base="$work/cards_$rows.zrBase"
db="$work/cards_$rows.db"
if [ ! -f "$base" ] || [ ! -f "$db" ]; then
  "$work/cards_tsv" "$rows" >"$tsv"
  rm -f "$base" "$db"
  "$zrbase" create "$base" --field Name:string:40 --field Color:string:3 --field ColorID:integer \
    --field Cost:string:20 --field Mana:integer --field Type:string:40 --field TypeIndex:integer \
    --field Power:string:4 --field Toughness:string:4 --field Text:memo --field Version:string:10 \
    --rows "$tsv"
  sqlite3 "$db" <<SQL
CREATE TABLE cards(Name TEXT, Color TEXT, ColorID INTEGER, Cost TEXT, Mana INTEGER, Type TEXT,
                   TypeIndex INTEGER, Power TEXT, Toughness TEXT, Text TEXT, Version TEXT);
.mode tabs
.import --skip 1 $tsv cards
SQL
fi
ls -l "$base" "$db"
echo "zrbase count: $("$zrbase" count "$base" --filter "(Name='Plains')or(Mana>8)")" \
     " sqlite3 count: $(sqlite3 "$db" "SELECT count(*) FROM cards WHERE Name='Plains' OR Mana>8")"

hyperfine --warmup 1 --runs 5 --export-markdown "$work/results.md" \
  -n "zrbase count --filter" \
  "$zrbase count $base --filter \"(Name='Plains')or(Mana>8)\"" \
  -n "sqlite3 count WHERE" \
  "sqlite3 $db \"SELECT count(*) FROM cards WHERE Name='Plains' OR Mana>8\"" \
  -n "zrbase dump --sort Name --sort-case-insensitive" \
  "$zrbase dump $base --sort Name --sort-case-insensitive >/dev/null" \
  -n "sqlite3 SELECT * ORDER BY Name COLLATE NOCASE" \
  "sqlite3 -tabs -header $db \"SELECT * FROM cards ORDER BY Name COLLATE NOCASE\" >/dev/null"
cat "$work/results.md"
