#!/bin/sh
# A FAT32 folder holds 65,536 directory entries; a name of 255 characters
# takes 21 of them, one of 200 characters 17. The card's folder is given
# 3,000 songs of 255 characters (63,000 entries), written straight into the
# image, since thousands of creates in one folder take minutes in the
# guest. The planner must plan only what the 2,536 entries left hold, so
# that no song fails: -s all -a takes 3 albums of 40 (a 4th would not fit),
# -s N then the 29 songs that still fit, a last -s all none; then the folder
# takes no more.
# fat-kinds: fat32-512
# fat-mib: 32
. "$FAT_LIB"

umount "$FAT_TARGET" || fail "cannot unmount the target"
perl -e '
  my ($device, $files) = @ARGV;
  open(my $d, "+<", $device) or die "$device: $!";
  binmode $d;
  sub readAt { my ($at, $n) = @_; seek($d, $at, 0); read($d, my $b, $n); $b }
  sub writeAt { seek($d, $_[0], 0); print $d $_[1] or die "$!" }
  my ($sector, $perCluster, $reserved, $fats) =
      unpack("v C v C", readAt(11, 6));
  my ($fatSectors, $root, $info) = unpack("V x4 V v", readAt(36, 14));
  my $cluster = $sector * $perCluster;
  my $data = ($reserved + $fats * $fatSectors) * $sector;
  # What mkfs put there (the volume label) stays first.
  my $first = readAt($data + ($root - 2) * $cluster, $cluster);
  my $entries = "";
  $entries .= substr($first, length($entries), 32)
      while substr($first, length($entries), 1) ne "\0";
  for my $i (1 .. $files) {
    my $short = sprintf("P%07dMP3", $i);
    my $sum = 0;
    $sum = ((($sum & 1) << 7) + ($sum >> 1) + ord($_)) & 255 for split //, $short;
    my @units = (map(ord, split //, ("P" x 248) . sprintf("%07d", $i)), 0);
    push @units, (0xFFFF) x (260 - @units);
    for my $slot (reverse 1 .. 20) {
      my @u = @units[($slot - 1) * 13 .. $slot * 13 - 1];
      $entries .= pack("C v5 C C C v6 v v2", $slot | ($slot == 20 ? 64 : 0),
                       @u[0 .. 4], 15, 0, $sum, @u[5 .. 10], 0, @u[11, 12]);
    }
    $entries .= pack("a11 C x10 v v x6", $short, 32, 0, 0x5C21);
  }
  my $count = int((length($entries) + $cluster - 1) / $cluster);
  for my $fat (0 .. $fats - 1) {
    my $at = ($reserved + $fat * $fatSectors) * $sector;
    writeAt($at + ($root + $_) * 4, pack("V", $root + $_ + 1)) for 0 .. $count - 2;
    writeAt($at + ($root + $count - 1) * 4, pack("V", 0x0FFFFFFF));
  }
  writeAt($data + ($root - 2) * $cluster, $entries);
  my $free = unpack("V", readAt($info * $sector + 488, 4));
  writeAt($info * $sector + 488, pack("V V", $free - $count + 1, $root + $count));
  close($d) or die "$!";' "$FAT_LOOP" 3000 || fail "cannot fill the folder"
mount -t vfat -o "$FAT_MOUNT_OPTIONS" "$FAT_LOOP" "$FAT_TARGET" \
  || fail "cannot mount the filled target"

# 4 albums of 40 songs of about 1 KiB, named with 200 characters.
perl -e '
  my ($dir) = @ARGV;
  for my $i (1 .. 160) {
    my $album = sprintf("%s/Album %d", $dir, ($i - 1) / 40);
    mkdir $album;
    open(my $f, ">", sprintf("%s/%s%05d.mp3", $album, "L" x 191, $i)) or die "$!";
    print $f pack("N", $i) x (256 + $i);
    close($f) or die "$!";
  }' "$FAT_LIBRARY" || fail "cannot make the songs"

# fill NAME SONGS ARGS...: a run that must exit 0 with no song failing and
# leave SONGS songs of the library on the card.
fill() {
  name=$1 want=$2
  shift 2
  "$PLINKARD" -i "$FAT_LIBRARY" -o "$FAT_TARGET" "$@" > "$name.out" 2>&1 \
    || fail "$name exited with $?: $(tail -n 1 "$name.out")"
  cp "$name.out" "$FAT_RESULTS/$name.out"
  ! grep -q "could not be copied" "$name.out" \
    || fail "$name: $(grep -m 1 -B 1 'could not be copied' "$name.out" | head -n 1)"
  songs=$(find "$FAT_TARGET" -name '*.mp3' | wc -l)
  echo "$name: $songs songs"
  [ "$songs" = "$want" ] || fail "$name: $songs songs on the card, wanted $want"
}

fill albums 120 -s all -a
fill size 149 -s 30
fill full 149 -s all
grep -q '^Most efficient combination: 0$' full.out || fail "a full folder got songs"
remount_target
[ "$(find "$FAT_TARGET" -name '*.mp3' | wc -l)" = 149 ] || fail "songs lost after a remount"
! touch "$FAT_TARGET/$(printf '%0200d' 0)" 2>/dev/null \
  || fail "the folder took one more song: the limit is not where it was planned"
