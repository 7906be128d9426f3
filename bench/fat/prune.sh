#!/bin/sh
# What pruning costs against a FAT folder that holds 10,000 songs, for a
# library of 200,000: a run into that folder against a run into an empty
# folder on tmpfs, beside the time find takes to list the library. The card
# is mounted afresh before every run into it, as a player just plugged in.
# --none-taken names the card's songs so that none is a target of the
# library; otherwise about 1 % of the library's targets are on the card.
# Run in the FAT guest (a run takes about 6 minutes under emulation, more
# than a scenario may):
#   FAT_RUN_TIMEOUT=3000 FAT_CHECK_TIMEOUT=3600 \
#   FAT_CHECK_MEMORY=4096 FAT_IMAGE_MIB=512 \
#     tools/fat-check/guest-run fat32-32k bench/fat/prune.sh \
#       [--none-taken] [ROUNDS] [OTHER]
# OTHER is a second program to time the same way (an earlier build).
. "$FAT_LIB"
word=Song
if [ "${1:-}" = --none-taken ]; then
  word=Track
  shift
fi
rounds=${1:-3}
other=${2:-}
songs=200000
held=10000

# The library: sparse songs of 2 to 12 MiB (none fits into -s 1, so nothing
# is copied) named as a library names them, 10 to an album.
perl -e '
  my ($dir, $count) = @ARGV;
  srand(7);
  for my $i (0 .. $count - 1) {
    my $artist = sprintf("%s/Artist%05d", $dir, $i / 100);
    my $album = sprintf("%s/Album%02d", $artist, $i / 10 % 10);
    if ($i % 10 == 0) { mkdir $artist; mkdir $album or die "$album: $!"; }
    my $name = sprintf("%s/%02d Song %d.mp3", $album, $i % 10 + 1, int(rand(100000)));
    open(my $f, ">", $name) or die "$name: $!";
    truncate($f, (2 + int(rand(10))) * 1048576 + int(rand(1000)));
    close($f);
  }' "$FAT_LIBRARY" "$songs" || fail "cannot make the library"
# The player's songs, named the same way: some of the library's targets are
# taken, most are not. Made without the flush option, which waits a tenth
# of a second at every close.
umount "$FAT_TARGET" && mount -t "$FAT_FS" -o "$(echo "$FAT_MOUNT_OPTIONS" | sed 's/,flush//')" \
  "$FAT_LOOP" "$FAT_TARGET" || fail "cannot mount the card without flush"
perl -e '
  my ($dir, $count, $word) = @ARGV;
  srand(11);
  my %made;
  while (keys %made < $count) {
    my $name = sprintf("%02d %s %d.mp3", 1 + int(rand(10)), $word, int(rand(100000)));
    next if $made{lc $name}++;
    open(my $f, ">", "$dir/$name") or die "$name: $!";
    close($f);
  }' "$FAT_TARGET" "$held" "$word" \
  || fail "cannot fill the card"
remount_target
mkdir -p "$FAT_WORK/empty"

now() { date +%s.%N; }
timed() {
  name=$1
  shift
  t0=$(now)
  "$@" > "$FAT_WORK/$name.out" 2>&1 || fail "$name failed"
  t1=$(now)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", b - a }' >> "$FAT_WORK/$name.times"
  echo "$name $(tail -n 1 "$FAT_WORK/$name.times") s"
}
for round in $(seq 1 "$rounds"); do
  timed find find "$FAT_LIBRARY" -type f -name '*.mp3' -printf '%s\n'
  timed into-empty "$PLINKARD" -i "$FAT_LIBRARY" -o "$FAT_WORK/empty" -s 1
  remount_target
  timed into-card "$PLINKARD" -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s 1
  if [ -n "$other" ]; then
    timed other-into-empty "$other" -i "$FAT_LIBRARY" -o "$FAT_WORK/empty" -s 1
    remount_target
    timed other-into-card "$other" -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s 1
  fi
done
for f in "$FAT_WORK"/*.times; do
  printf '%s median %s s\n' "$(basename "$f" .times)" \
    "$(sort -n "$f" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')"
done
grep -h "files found\|processed" "$FAT_WORK/into-card.out"
