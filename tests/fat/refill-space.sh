#!/bin/sh
# A refill into folders that exist: a -s all -d 1 fill leaves 30 folders on
# the card, the user deletes a third of its songs with rm, and a -s all -d 1
# -r refill puts new songs into those folders. Each song's entry fits into
# its folder's present cluster, so the refill must use at least 99.5 % of
# the free space, with no song failing for space. The first fill is a plain
# one: after a -r fill, the -r refill would remove the rest of the songs and
# the emptied folders before planning.
# fat-kinds: exfat-128k fat32-32k
# fat-mib: 112 fat32-32k:48
. "$FAT_LIB"

# 420 songs in 30 folders, a third of them large: the third the user
# deletes, the largest, frees most of the card, so that the card's last
# clusters weigh little. Sparse files: their bytes do not matter here, and
# they cost the guest no memory.
perl -e '
  my ($dir) = @ARGV;
  srand(20261210);
  for my $i (1 .. 420) {
    my $sub = sprintf("%s/Artist %02d", $dir, $i % 30);
    mkdir $sub;
    my $kib = rand() < 1 / 3 ? 1500 + rand(1000) : 100 + rand(160);
    my $path = sprintf("%s/song %04d.mp3", $sub, $i);
    open(my $f, ">", $path) or die "$path: $!";
    truncate($f, int($kib) * 1024 + 1 + int(rand(1023))) or die "$path: $!";
    close($f) or die "$path: $!";
  }' "$FAT_LIBRARY" || fail "cannot make the songs"

"$PLINKARD" -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s all -d 1 > fill.out 2>&1 \
  || fail "the fill exited with $?: $(tail -n 1 fill.out)"
remount_target
(cd "$FAT_TARGET" && find . -name '*.mp3' -type f -printf '%s %P\n') \
  | sort -n | cut -d ' ' -f 2- > songs.txt
awk -v n="$(wc -l < songs.txt)" 'NR > n - n / 3' songs.txt > deleted.txt
(cd "$FAT_TARGET" && while IFS= read -r song; do rm "$song" || exit 1; done) \
  < deleted.txt || fail "cannot delete the songs"
remount_target
folders=$(find "$FAT_TARGET" -mindepth 1 -type d | wc -l)
[ "$folders" -ge 20 ] || fail "only $folders folders on the card after the fill"
before=$(free_bytes "$FAT_TARGET")

"$PLINKARD" -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s all -d 1 -r > refill.out 2>&1 \
  || fail "the refill exited with $?: $(tail -n 1 refill.out)"
remount_target
after=$(free_bytes "$FAT_TARGET")
! grep -q "No space left" refill.out \
  || fail "$(grep -c 'No space left' refill.out) songs failed for space"
copied=$(sed -n 's/.* files were processed, \([0-9]*\) files werde copied\./\1/p' refill.out)
used=$(awk -v b="$before" -v a="$after" 'BEGIN { printf "%.2f", (b - a) * 100 / b }')
echo "$(wc -l < deleted.txt) of $(wc -l < songs.txt) songs deleted from $folders folders;" \
  "the refill copied $copied, $used % of $before free bytes used, $after left"
awk -v u="$used" 'BEGIN { exit !(u >= 99.5) }' || fail "only $used % of the free space used"
