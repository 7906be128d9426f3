#!/bin/sh
# FAT32 holds no file of 4 GiB or more: such a song is dropped before the
# plan with a line naming it, and the others are copied as usual.
# fat-kinds: fat32-512 fat32-32k
. "$FAT_LIB"

truncate -s 4G "$FAT_LIBRARY/huge.mp3" || fail "cannot make a sparse 4 GiB song"
make_song "$FAT_LIBRARY/small.mp3" 10
run_plinkard -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s 8000
grep -qx "Skipping $FAT_LIBRARY/huge.mp3: the target's file system holds no file of 4 GiB or more" \
  "$FAT_WORK/plinkard.out" || fail "no line for the 4 GiB song"
grep -q "^1 files were processed, 1 files werde copied\.$" "$FAT_WORK/plinkard.out" \
  || fail "$(tail -n 1 "$FAT_WORK/plinkard.out")"
remount_target
same_file "$FAT_LIBRARY/small.mp3" "$FAT_TARGET/small.mp3"
[ ! -e "$FAT_TARGET/huge.mp3" ] || fail "the 4 GiB song was written"
