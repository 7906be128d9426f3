#!/bin/sh
# -d 1 keeps the library's folders: checks that the program creates them on
# the target, nested two and three deep, with each song byte for byte in
# its folder and no other folder or file made.
# fat-kinds: all
. "$FAT_LIB"

make_song "$FAT_LIBRARY/Artist One/Album A/01 Intro.mp3" 30
make_song "$FAT_LIBRARY/Artist One/Album B/02 Song.mp3" 70
make_song "$FAT_LIBRARY/Band_Two/Live/03 Encore.mp3" 110
make_song "$FAT_LIBRARY/Band_Two/Live/Disc 2/04 Deep.mp3" 150
make_song "$FAT_LIBRARY/Band_Two/notes.txt" 3

run_plinkard -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s 1 -d 1
remount_target

(cd "$FAT_TARGET" && find . -mindepth 1 -type d | sed 's|^\./||' | sort) > "$FAT_WORK/dirs"
printf '%s\n' "Artist One" "Artist One/Album A" "Artist One/Album B" \
  "Band_Two" "Band_Two/Live" "Band_Two/Live/Disc 2" | sort > "$FAT_WORK/want-dirs"
cmp -s "$FAT_WORK/dirs" "$FAT_WORK/want-dirs" \
  || fail "folders on the target: [$(tr '\n' ',' < "$FAT_WORK/dirs")]"
for song in "Artist One/Album A/01 Intro.mp3" "Artist One/Album B/02 Song.mp3" \
            "Band_Two/Live/03 Encore.mp3" "Band_Two/Live/Disc 2/04 Deep.mp3"; do
  same_file "$FAT_LIBRARY/$song" "$FAT_TARGET/$song"
done
n=$(count_files "$FAT_TARGET")
[ "$n" = 4 ] || fail "$n files on the target, wanted 4"
