#!/bin/sh
# -m moves: from the guest's tmpfs to the FAT target is a move across file
# systems, a copy and a removal. Checks that every song landed byte for byte
# (against a copy kept aside), that its source is gone, and that the files
# that were not songs stay in the library.
# fat-kinds: all
. "$FAT_LIB"

make_song "$FAT_LIBRARY/Rock/first.mp3" 25
make_song "$FAT_LIBRARY/Rock/Second Song.mp3" 120
make_song "$FAT_LIBRARY/Jazz/third_song.mp3" 64
make_song "$FAT_LIBRARY/Jazz/FOURTH.mp3" 200
make_song "$FAT_LIBRARY/Jazz/cover.jpg" 9
cp -R "$FAT_LIBRARY" "$FAT_WORK/kept" || fail "cannot keep a copy of the library"

run_plinkard -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s 1 -m
remount_target

for song in Rock/first.mp3 "Rock/Second Song.mp3" Jazz/third_song.mp3 Jazz/FOURTH.mp3; do
  same_file "$FAT_WORK/kept/$song" "$FAT_TARGET/$(basename "$song")"
  [ ! -e "$FAT_LIBRARY/$song" ] || fail "source still there after the move: $song"
done
n=$(count_files "$FAT_TARGET")
[ "$n" = 4 ] || fail "$n files on the target, wanted 4"
same_file "$FAT_WORK/kept/Jazz/cover.jpg" "$FAT_LIBRARY/Jazz/cover.jpg"
