#!/bin/sh
# Copies a few songs with plain ASCII names (short and long, upper and lower
# case, one smaller than a cluster) and checks, after mounting the target
# again, that exactly these names landed, each byte for byte, and that the
# used-songs list has one line per song.
# fat-kinds: all
. "$FAT_LIB"

expected=$FAT_WORK/expected
: > "$expected"
while read -r kib name; do
  make_song "$FAT_LIBRARY/Some Artist/$name" "$kib"
  echo "$name" >> "$expected"
done <<'SONGS'
7 intro.mp3
95 Track 02.mp3
180 SONG3.mp3
260 a_rather_long_song_name_number_four.mp3
40 Five-5.mp3
SONGS
make_song "$FAT_LIBRARY/Some Artist/cover.jpg" 12

run_plinkard -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s 1 -l "$FAT_WORK/used.txt"
remount_target

sort "$expected" > "$expected.sorted"
(cd "$FAT_TARGET" && find . -type f | sed 's|^\./||' | sort) > "$FAT_WORK/landed"
cmp -s "$expected.sorted" "$FAT_WORK/landed" \
  || fail "target holds [$(tr '\n' ' ' < "$FAT_WORK/landed")], wanted [$(tr '\n' ' ' < "$expected.sorted")]"
while IFS= read -r name; do
  same_file "$FAT_LIBRARY/Some Artist/$name" "$FAT_TARGET/$name"
done < "$expected"

[ -f "$FAT_WORK/used.txt" ] || fail "no used-songs list written"
lines=$(wc -l < "$FAT_WORK/used.txt" | tr -d ' ')
[ "$lines" = 5 ] || fail "used-songs list has $lines lines, wanted 5"
while IFS= read -r name; do
  grep -qF "\"$name" "$FAT_WORK/used.txt" || fail "used-songs list lacks $name"
done < "$expected"
