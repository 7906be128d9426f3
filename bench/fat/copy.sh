#!/bin/sh
# Copying and moving 1000 MiB to a FAT target, against cp and mv, each
# followed by sync. Run in the FAT guest with room for the library and the
# image in memory:
#   FAT_CHECK_MEMORY=4096 FAT_IMAGE_IN_RAM=1 FAT_IMAGE_MIB=1300 \
#     tools/fat-check/guest-run fat32-32k bench/fat/copy.sh [ROUNDS] [OTHER]
# OTHER is a second program to time the same way (an earlier build).
# Prints one line per timing and the medians.
. "$FAT_LIB"
rounds=${1:-3}
other=${2:-}
make_songs "$FAT_LIBRARY" 100 10240 10240
mkdir -p "$FAT_WORK/move"

now() { date +%s.%N; }
# timed NAME COMMAND...: runs it on an empty target after a sync, and
# records its seconds in NAME.times.
timed() {
  name=$1
  shift
  find "$FAT_TARGET" -mindepth 1 -delete
  sync
  t0=$(now)
  "$@" > /dev/null 2>&1 || fail "$name failed"
  t1=$(now)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", b - a }' >> "$FAT_WORK/$name.times"
  echo "$name $(tail -n 1 "$FAT_WORK/$name.times") s"
}
# A fresh source for a move, outside the timing.
restock() { rm -rf "$FAT_WORK/move"; cp -R "$FAT_LIBRARY" "$FAT_WORK/move"; }

for round in $(seq 1 "$rounds"); do
  timed plinkard-copy "$PLINKARD" -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s 1024
  timed cp-sync sh -c 'cp "$0"/*.mp3 "$1"/ && sync' "$FAT_LIBRARY" "$FAT_TARGET"
  restock
  timed plinkard-move "$PLINKARD" -i "$FAT_WORK/move" -o "$FAT_TARGET" -s 1024 -m
  restock
  timed mv-sync sh -c 'mv "$0"/*.mp3 "$1"/ && sync' "$FAT_WORK/move" "$FAT_TARGET"
  if [ -n "$other" ]; then
    timed other-copy "$other" -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s 1024
    restock
    timed other-move "$other" -i "$FAT_WORK/move" -o "$FAT_TARGET" -s 1024 -m
  fi
done
for f in "$FAT_WORK"/*.times; do
  printf '%s median %s s\n' "$(basename "$f" .times)" \
    "$(sort -n "$f" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')"
done
