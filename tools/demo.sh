#!/bin/sh
# Runs Plinkard on a generated sample library: fills a "player" folder twice
# with a used-songs list, so that the second run picks other songs.
#
# Usage: tools/demo.sh [build folder]   (POSIX sh and coreutils only)
set -eu

build=${1:-build}
plinkard=$build/plinkard
demo=$build/demo
library=$demo/library
player=$demo/player
list=$demo/used.txt

if [ ! -x "$plinkard" ]; then
  echo "No program at $plinkard; build it first (make build)." >&2
  exit 1
fi

# A small linear congruential generator, so that the library comes out the
# same on every machine: next_random sets $random to a value below 2^31.
random=20240501
next_random() {
  random=$(( (random * 1103515245 + 12345) % 2147483648 ))
}

# Writes a file of $2 KiB plus a few bytes, so sizes are not all whole KiB.
make_file() {
  next_random
  head -c $(( $2 * 1024 + random % 1024 )) /dev/zero > "$1"
}

# 12 artists with 3 albums of 8 songs each, a cover picture and a playlist
# per album: 288 songs and 72 other files. Every song has its own size in KiB
# (20 to 400; 131 and 381 have no common factor), as the used-songs list
# knows songs by that size. Made once; a library left half-made by an
# interrupted run is made again.
make_library() {
  rm -rf "$library"
  song=0
  artist=1
  while [ $artist -le 12 ]; do
    album=1
    while [ $album -le 3 ]; do
      folder=$(printf '%s/Artist %02d/Album %d' "$library" $artist $album)
      mkdir -p "$folder"
      : > "$folder/playlist.m3u"
      track=1
      while [ $track -le 8 ]; do
        song=$(( song + 1 ))
        name=$(printf "%02d Song %d.mp3" $track $song)
        make_file "$folder/$name" $(( 20 + song * 131 % 381 ))
        echo "$name" >> "$folder/playlist.m3u"
        track=$(( track + 1 ))
      done
      next_random
      make_file "$folder/cover.jpg" $(( 30 + random % 50 ))
      album=$(( album + 1 ))
    done
    artist=$(( artist + 1 ))
  done
  : > "$library/.complete"
}

if [ -f "$library/.complete" ]; then
  echo "Using the sample library in $library"
else
  echo "Making a sample library in $library ..."
  make_library
fi
echo "It holds $(find "$library" -name '*.mp3' | wc -l) songs" \
     "and $(find "$library" -type f ! -name '*.mp3' ! -name .complete | wc -l)" \
     "other files ($(du -sk "$library" | cut -f1) KiB)."

# Start fresh: an empty player and no used-songs list.
rm -rf "$player" "$list"
mkdir -p "$player"

run=1
while [ $run -le 2 ]; do
  echo
  echo "=== Run $run: $plinkard -i $library/ -o $player -s 6 -d 2 -l $list"
  "$plinkard" -i "$library/" -o "$player" -s 6 -d 2 -l "$list"
  run=$(( run + 1 ))
done

echo
echo "=== The player now holds $(ls "$player" | wc -l) songs" \
     "($(du -sk "$player" | cut -f1) KiB); the first ten:"
ls "$player" | head -n 10
echo
echo "=== $list has $(wc -l < "$list") lines; the first five:"
head -n 5 "$list"
