#!/bin/sh
# -s all on a card that the library would overfill, with the used-songs
# list on the card itself: no song may fail for lack of space, the card
# must end at least 99 % full, and the list must name every song that
# landed. The second half does the same with -d 1, where every new folder
# takes a cluster of its own.
# fat-kinds: all
# fat-mib: 32 exfat-128k:64
. "$FAT_LIB"

make_songs "$FAT_LIBRARY" 2000 20 200 100
check_fill() {
  out=$1 list=$2 before=$3
  after=$(free_bytes "$FAT_TARGET")
  ! grep -q "No space left" "$out" \
    || fail "$(grep -c 'No space left' "$out") songs failed for space"
  copied=$(sed -n 's/.* files were processed, \([0-9]*\) files werde copied\./\1/p' "$out")
  songs=$(find "$FAT_TARGET" -name '*.mp3' -type f | wc -l)
  [ "$copied" = "$songs" ] || fail "$songs songs on the card, the summary says $copied"
  [ "$(wc -l < "$list")" = "$songs" ] || fail "the list names $(wc -l < "$list") of $songs songs"
  used=$(awk -v b="$before" -v a="$after" 'BEGIN { printf "%.2f", (b - a) * 100 / b }')
  echo "$4: $songs songs, $used % of the free space used, $after bytes left"
  awk -v u="$used" 'BEGIN { exit !(u >= 99) }' || fail "$4: only $used % of the free space used"
}

before=$(free_bytes "$FAT_TARGET")
"$PLINKARD" -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s all -l "$FAT_TARGET/used.txt" \
  > flat.out 2>&1 || fail "-d 0 exited with $?: $(tail -n 1 flat.out)"
remount_target
check_fill flat.out "$FAT_TARGET/used.txt" "$before" "-d 0"

find "$FAT_TARGET" -mindepth 1 -delete
remount_target
before=$(free_bytes "$FAT_TARGET")
"$PLINKARD" -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s all -d 1 -l "$FAT_TARGET/used.txt" \
  > mirrored.out 2>&1 || fail "-d 1 exited with $?: $(tail -n 1 mirrored.out)"
remount_target
check_fill mirrored.out "$FAT_TARGET/used.txt" "$before" "-d 1"
