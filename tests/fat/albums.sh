#!/bin/sh
# -s all -a -d 1 on a card that the library's albums of 10 to 20 songs
# would overfill, with the used-songs list on the card: no song may fail
# for lack of space, the card must end at least 98 % full, every album on
# it must be whole, the songs must have been copied album by album in track
# order, and the summary must show the planner's share.
# fat-kinds: fat32-32k exfat-128k
# fat-mib: 32 exfat-128k:128
. "$FAT_LIB"

# 100 albums "Artist NN/Album NNN" of 10 to 20 songs "NNN-TT Song.mp3"
# (album, track), each album's songs of a size range of its own, so that
# small albums are left to fill the last gap.
perl -e "$WRITE_SONG_PERL"'
  my ($dir) = @ARGV;
  srand(20261209);
  for my $a (1 .. 100) {
    my $album = sprintf("%s/Artist %02d/Album %03d", $dir, $a % 20, $a);
    system("mkdir", "-p", $album) == 0 or die "mkdir";
    my $max = 4 + int(rand(76));
    for my $t (1 .. 10 + int(rand(11))) {
      write_song(sprintf("%s/%03d-%02d Song.mp3", $album, $a, $t),
                 int($max / 3 + rand($max * 2 / 3)) * 1024 + 1 + int(rand(1023)));
    }
  }' "$FAT_LIBRARY" || fail "cannot make the albums"

before=$(free_bytes "$FAT_TARGET")
"$PLINKARD" -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s all -a -d 1 \
  -l "$FAT_TARGET/used.txt" > albums.out 2>&1 \
  || fail "exited with $?: $(tail -n 1 albums.out)"
cp albums.out "$FAT_RESULTS/plinkard.out"
remount_target
after=$(free_bytes "$FAT_TARGET")

! grep -q "No space left" albums.out \
  || fail "$(grep -c 'No space left' albums.out) songs failed for space"
songs=$(find "$FAT_TARGET" -name '*.mp3' -type f | wc -l)
[ "$(wc -l < "$FAT_TARGET/used.txt")" = "$songs" ] \
  || fail "the list names $(wc -l < "$FAT_TARGET/used.txt") of $songs songs"
# Whole albums, byte for byte: the card's songs are those of its albums.
(cd "$FAT_TARGET" && find Artist* -name '*.mp3' -exec md5sum {} +) \
  | LC_ALL=C sort -k 2 > card.sums
albums=$(sed 's|^[0-9a-f]*  \(.*\)/[^/]*$|\1|' card.sums | sort -u)
(cd "$FAT_LIBRARY" && printf '%s\n' "$albums" | while read -r album; do
  find "$album" -name '*.mp3' -exec md5sum {} +; done) \
  | LC_ALL=C sort -k 2 > library.sums
cmp -s card.sums library.sums || fail "the card holds no whole albums: $(diff card.sums library.sums | head -n 2 | tr '\n' ' ')"
# Each album's tracks one after another from its first, every album whole.
sed -n 's/^Copying file [0-9]* \/ [0-9]*: \([0-9]*\)-\([0-9]*\) .*/\1 \2/p' albums.out \
  | awk '{ if ($1 != album && $2 != 1 || $1 == album && $2 != track + 1) bad = 1;
           album = $1; track = $2 } END { exit bad }' \
  || fail "songs not copied album by album in track order"
# The summary shows the plan as the planner counted it.
share=$(sed -n 's/^Most efficient combination: //p' albums.out | awk '{ printf "%g", $1 * 100 }')
grep -q "^This configuration uses .*  MB (${share}%)\.$" albums.out \
  || fail "the summary does not show the planner's ${share} %: $(grep '^This conf' albums.out)"
used=$(awk -v b="$before" -v a="$after" 'BEGIN { printf "%.2f", (b - a) * 100 / b }')
echo "$songs songs in $(printf '%s\n' "$albums" | wc -l) albums, $used % of the free space used"
awk -v u="$used" 'BEGIN { exit !(u >= 98) }' || fail "only $used % of the free space used"
