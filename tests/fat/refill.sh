#!/bin/sh
# A weekly refill: -s all -r -l -p fills the card; the record and the
# playlist name what landed, in the order copied. A week later, the card
# read in another time zone and one song replaced by the user, the same
# command removes the other songs of the first run and fills the card
# again; both times at least 99 % full, no song failing for space. Last,
# Ctrl-C during the removals and during the copies: the record still names
# exactly the songs on the card.
# fat-kinds: fat32-512 exfat-4k
# fat-mib: 32
. "$FAT_LIB"

# check_record LABEL [PATH]: the record names exactly the songs on the card
# (but PATH), each with its size and its time, within two seconds or
# shifted by whole hours.
check_record() {
  (cd "$FAT_TARGET" && find . -name '*.mp3' -type f -printf '%P\t%s\t%T@\n') > card.txt
  awk -F '\t' -v spare="${2:-}" '
    NR == FNR { size[$1] = $2; time[$1] = $3; next }
    FNR == 1 && $0 != "plinkard-record 2" { bad = "no record"; exit }
    $1 != "song" { next }
    !($NF in size) { bad = "recorded but not on the card: " $NF; exit }
    size[$NF] != $2 { bad = "another size than recorded: " $NF; exit }
    { d = time[$NF] - $3; h = int((d < 0 ? d - 1800 : d + 1800) / 3600) }
    d - h * 3600 > 2 || d - h * 3600 < -2 { bad = "another time than recorded: " $NF; exit }
    { seen[$NF] = 1 }
    END {
      for (p in size) if (!bad && !(p in seen) && p != spare) bad = "not recorded: " p
      if (bad) { print bad; exit 1 }
    }' card.txt "$FAT_TARGET/.plinkard-record" > check.txt || fail "$1: $(cat check.txt)"
}

make_songs "$FAT_LIBRARY" 360 40 500 30
empty=$(free_bytes "$FAT_TARGET")
playlist="Week_ 1_.m3u8"  # what "Week: 1?.m3u8" is named on the card

refill() {
  "$PLINKARD" -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s all -r -d 1 \
    -l "$FAT_WORK/used.txt" -p "Week: 1?.m3u8" > "$1.out" 2>&1 \
    || fail "$1: exit status $?: $(tail -n 1 "$1.out")"
  ! grep -q "No space left" "$1.out" \
    || fail "$1: $(grep -c 'No space left' "$1.out") songs failed for space"
  awk -v e="$empty" -v l="$(free_bytes "$FAT_TARGET")" 'BEGIN {
    printf "the card is %.2f %% full, %d bytes left\n", (e - l) * 100 / e, l
    exit (e - l) * 100 / e < 99 }' > full.txt || fail "$1: $(cat full.txt)"
  echo "$1: $(cat full.txt)"
  remount_target
  check_record "$1" "$2"
  # The playlist lists the recorded songs in the record's order.
  { echo '#EXTM3U'; awk -F '\t' '$1 == "song" { print $NF }' "$FAT_TARGET/.plinkard-record"; } \
    | cmp -s - "$FAT_TARGET/$playlist" || fail "$1: the playlist is not the record's songs"
}

refill first
# The record holds the songs in the order they were copied.
sed -n 's/^Copying file [0-9]* \/ [0-9]*: //p' first.out > copied.txt
awk -F '\t' '$1 == "song" { sub(/.*\//, "", $NF); print $NF }' "$FAT_TARGET/.plinkard-record" \
  | cmp -s - copied.txt || fail "the record is not in the order of the copies"
songs=$(wc -l < copied.txt)

# The user puts another song of the same size in place of the third one.
mine=$(awk -F '\t' '$1 == "song" && ++n == 3 { print $NF }' "$FAT_TARGET/.plinkard-record")
head -c "$(stat -c %s "$FAT_TARGET/$mine")" /dev/urandom > mine.mp3
cp mine.mp3 "$FAT_TARGET/$mine" && touch -d '2020-01-01 12:00' "$FAT_TARGET/$mine" \
  || fail "cannot replace $mine"
umount "$FAT_TARGET" || fail "cannot unmount the card"
if [ "$FAT_FS" = vfat ]; then
  # FAT keeps local time: read two hours west of where it was written.
  mount -t vfat -o "$FAT_MOUNT_OPTIONS,time_offset=120" "$FAT_LOOP" "$FAT_TARGET"
else
  # exFAT keeps the zone with each time, so only a device that leaves it out
  # shows the shift: move every time by an hour.
  mount -t exfat -o "$FAT_MOUNT_OPTIONS" "$FAT_LOOP" "$FAT_TARGET"
  find "$FAT_TARGET" -type f -exec perl -e \
    'for (@ARGV) { my @s = stat; utime $s[8], $s[9] + 3600, $_ or die }' {} +
fi || fail "cannot mount the card again"

refill second "$mine"
grep -qx "Kept $FAT_TARGET/$mine: it was modified since it was copied" second.out \
  || fail "no line keeps the replaced song"
grep -qx "Songs of earlier fills: $((songs - 1)) removed, 1 kept, 0 could not be removed." \
  second.out || fail "$(grep '^Songs of earlier' second.out)"
cmp -s mine.mp3 "$FAT_TARGET/$mine" || fail "the replaced song changed"

# interrupt PREFIX OUT: runs the refill without the list, its output into a
# pipe of one page, so that it cannot run far ahead of what was read, and
# sends SIGINT once 20 lines began with PREFIX. Ends with its status.
interrupt() {
  perl -e '
    my ($prefix, $out, @command) = @ARGV;
    pipe(my $from, my $to) or die "pipe: $!";
    fcntl($to, 1031, 4096);  # F_SETPIPE_SZ
    my $pid = fork;
    if ($pid == 0) { open(STDOUT, ">&", $to); exec @command; die "exec: $!" }
    close $to;
    open(my $log, ">", $out) or die "$out: $!";
    my $seen = 0;
    while (<$from>) { print $log $_; kill "INT", $pid if /^\Q$prefix/ && ++$seen == 20 }
    waitpid($pid, 0);
    exit($? >> 8);
  ' "$1" "$2" "$PLINKARD" -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s all -r -d 1
}

recorded=$(grep -c '^song' "$FAT_TARGET/.plinkard-record")
interrupt "Removed " removing.out
[ $? = 130 ] || fail "removing: not ended by the interrupt: $(tail -n 1 removing.out)"
removed=$(grep -c '^Removed ' removing.out)
[ "$removed" -lt "$recorded" ] || fail "removing: all $recorded songs went before the interrupt"
remount_target
check_record removing "$mine"
[ "$(grep -c '^song' "$FAT_TARGET/.plinkard-record")" = $((recorded - removed)) ] \
  || fail "removing: the record does not name the $((recorded - removed)) songs left"

interrupt "Copying file " copying.out
[ $? = 130 ] || fail "copying: not ended by the interrupt: $(tail -n 1 copying.out)"
planned=$(sed -n 's/^Copying file 1 \/ \([0-9]*\):.*/\1/p' copying.out)
copied=$(sed -n 's/.* files were processed, \([0-9]*\) files werde copied\./\1/p' copying.out)
[ "$copied" -ge 19 ] && [ "$copied" -lt "$planned" ] \
  || fail "copying: $copied of $planned songs copied, not interrupted in the middle"
remount_target
check_record copying "$mine"
[ "$(grep -c '^song' "$FAT_TARGET/.plinkard-record")" = "$copied" ] \
  || fail "copying: the record does not name the $copied songs copied"
