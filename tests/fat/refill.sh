#!/bin/sh
# A weekly refill: -s all -r -l -p fills the card, and the record and the
# playlist on it name what landed, in the order copied. A week later the
# card is read with its times shifted by whole hours (another time zone)
# and the user has replaced one song: the same command removes every other
# song of the first run, keeps that one, and fills the card again to at
# least 99 % with no song failing for space.
# fat-kinds: fat32-512 exfat-4k
# fat-mib: 32
. "$FAT_LIB"

make_songs "$FAT_LIBRARY" 360 40 500 30
empty=$(free_bytes "$FAT_TARGET")
playlist="Week_ 1_.m3u8"  # what "Week: 1?.m3u8" is named on the card

refill() {
  "$PLINKARD" -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s all -r -d 1 \
    -l "$FAT_WORK/used.txt" -p "Week: 1?.m3u8" > "$1.out" 2>&1 \
    || fail "$1: exit status $?: $(tail -n 1 "$1.out")"
  ! grep -q "No space left" "$1.out" \
    || fail "$1: $(grep -c 'No space left' "$1.out") songs failed for space"
  left=$(free_bytes "$FAT_TARGET")
  full=$(awk -v e="$empty" -v l="$left" 'BEGIN { printf "%.2f", (e - l) * 100 / e }')
  echo "$1: the card is $full % full, $left bytes left"
  awk -v f="$full" 'BEGIN { exit !(f >= 99) }' || fail "$1: the card is only $full % full"
}

# The playlist lists the recorded songs in the record's order.
check_playlist() {
  { echo '#EXTM3U'; awk -F '\t' '$1 == "song" { print $5 }' "$FAT_TARGET/.plinkard-record"; } \
    | cmp -s - "$FAT_TARGET/$playlist" || fail "$1: the playlist is not the record's songs"
}

refill first
remount_target
check_record first
check_playlist first
# The record holds the songs in the order they were copied.
sed -n 's/^Copying file [0-9]* \/ [0-9]*: //p' first.out > copied.txt
awk -F '\t' '$1 == "song" { sub(/.*\//, "", $5); print $5 }' "$FAT_TARGET/.plinkard-record" \
  | cmp -s - copied.txt || fail "the record is not in the order of the copies"
songs=$(wc -l < copied.txt)

# The user puts another song of the same size in place of the third one.
mine=$(awk -F '\t' '$1 == "song" && ++n == 3 { print $5 }' "$FAT_TARGET/.plinkard-record")
head -c "$(stat -c %s "$FAT_TARGET/$mine")" /dev/urandom > mine.mp3
cp mine.mp3 "$FAT_TARGET/$mine" && touch -d '2020-01-01 12:00' "$FAT_TARGET/$mine" \
  || fail "cannot replace $mine"
umount "$FAT_TARGET" || fail "cannot unmount the card"
if [ "$FAT_FS" = vfat ]; then
  # FAT keeps local time: read two hours west of where it was written.
  mount -t vfat -o "$FAT_MOUNT_OPTIONS,time_offset=120" "$FAT_LOOP" "$FAT_TARGET"
else
  # exFAT keeps the zone with each time, so only a device that leaves it out
  # shows the shift: move every time by an hour.
  mount -t exfat -o "$FAT_MOUNT_OPTIONS" "$FAT_LOOP" "$FAT_TARGET"
  find "$FAT_TARGET" -type f -exec perl -e \
    'for (@ARGV) { my @s = stat; utime $s[8], $s[9] + 3600, $_ or die }' {} +
fi || fail "cannot mount the card again"

refill second
grep -qx "Kept $FAT_TARGET/$mine: it was modified since it was copied" second.out \
  || fail "no line keeps the replaced song"
grep -qx "Songs of earlier fills: $((songs - 1)) removed, 1 kept, 0 could not be removed." \
  second.out || fail "$(grep '^Songs of earlier' second.out)"
cmp -s mine.mp3 "$FAT_TARGET/$mine" || fail "the replaced song changed"
remount_target
check_record second "$mine"
check_playlist second
