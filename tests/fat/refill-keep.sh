#!/bin/sh
# What -r must keep although a copy of it was recorded, on a card that
# ignores letter case: a song the user took off the card and moved back
# with a run without -r, a song rewritten in place with its size and time
# kept (as a tag editor does), and a song moved back as "A.mp3" over the
# place of the copied "a.mp3", which the record names twice.
# fat-kinds: fat32-512 exfat-4k
# fat-mib: 32
. "$FAT_LIB"

make_songs "$FAT_LIBRARY" 6 20 60 2
make_song "$FAT_LIBRARY/a.mp3" 70
run_plinkard -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s 1 -d 1 -r
moved="Artist 001/song 00001.mp3"
edited="Artist 000/song 00002.mp3"
[ -f "$FAT_TARGET/$moved" ] && [ -f "$FAT_TARGET/$edited" ] && [ -f "$FAT_TARGET/a.mp3" ] \
  || fail "the first fill did not copy the songs: $(ls -R "$FAT_TARGET")"

# Off the card and back with plain moves; the library's copies are gone.
mkdir -p rescue/1/"Artist 001" rescue/2
mv "$FAT_TARGET/$moved" "rescue/1/$moved" && rm "$FAT_LIBRARY/$moved" || fail "cannot move $moved"
mv "$FAT_TARGET/a.mp3" rescue/2/A.mp3 && rm "$FAT_LIBRARY/a.mp3" || fail "cannot move a.mp3"
cp "rescue/1/$moved" moved.mp3 && cp rescue/2/A.mp3 a.mp3
run_plinkard -i rescue/1 -o "$FAT_TARGET" -s 1 -d 1 -m
run_plinkard -i rescue/2 -o "$FAT_TARGET" -s 1 -d 1 -m
[ -f "$FAT_TARGET/A.mp3" ] || fail "A.mp3 did not land: $(ls "$FAT_TARGET")"

# Rewritten in place, same size, time kept.
perl -e 'my ($f) = @ARGV; my @s = stat $f or die; open(my $h, "+<", $f) or die;
  print $h "rewritten tags"; close $h or die; utime $s[8], $s[9], $f or die' \
  "$FAT_TARGET/$edited" || fail "cannot rewrite $edited"
cp "$FAT_TARGET/$edited" edited.mp3
remount_target

mkdir empty
run_plinkard -i empty -o "$FAT_TARGET" -s 1 -r
cp "$FAT_WORK/plinkard.out" refill.out
for line in "Kept $FAT_TARGET/$moved: moved here, it is the only copy" \
    "Kept $FAT_TARGET/A.mp3: moved here, it is the only copy" \
    "Kept $FAT_TARGET/$edited: its contents changed since it was copied"; do
  grep -qxF "$line" refill.out || fail "no line: $line"
done
grep -q '^Removed .*a\.mp3$' refill.out && fail "a.mp3 removed: $(grep '^Removed' refill.out)"
grep -qx 'Songs of earlier fills: 4 removed, 3 kept, 0 could not be removed.' refill.out \
  || fail "$(grep '^Songs of earlier' refill.out)"
remount_target
same_file moved.mp3 "$FAT_TARGET/$moved"
same_file a.mp3 "$FAT_TARGET/A.mp3"
same_file edited.mp3 "$FAT_TARGET/$edited"
