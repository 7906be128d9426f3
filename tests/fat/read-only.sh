#!/bin/sh
# The card turns read-only mid-run (as errors=remount-ro does after an I/O
# error): at most one song fails, one line says why the transfer stops,
# exit status 2, and the songs before it stay listed.
# fat-kinds: fat32-512 exfat-4k
. "$FAT_LIB"

make_songs "$FAT_LIBRARY" 400 60 120
# Every file the program opens takes 20 ms longer (strace delays the call),
# so that the copies last some seconds and the card surely turns read-only
# in their middle: alone in a fast guest the program otherwise copies every
# song before the remount below finds it between two of them.
strace -f -qq -o /dev/null -e trace=openat -e inject=openat:delay_exit=20000 \
  "$PLINKARD" -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s 60 -l "$FAT_WORK/used.txt" \
  > run.out 2>&1 &
tracer=$!
wait_for_files "$FAT_TARGET" 5
pid=$(cat /proc/"$tracer"/task/*/children 2>/dev/null | awk '{ print $1; exit }')
[ -n "$pid" ] || fail "cannot find the program below strace"
# The kernel refuses the remount while a file is open for writing. So the
# program is stopped again and again, without a process per try, until it
# stands between two songs; then the card is remounted under it.
perl -e '
  my ($pid, $target) = @ARGV;
  my ($source, $type) = ("none", "none");
  for my $try (1 .. 20000) {
    kill "STOP", $pid or exit 1;
    my $writing = 0;
    for my $fd (glob "/proc/$pid/fd/*") {
      my $path = readlink($fd) // "";
      $writing = 1 if index($path, $target) == 0 && $path ne $target;
    }
    # mount(2) with MS_REMOUNT | MS_RDONLY
    my $done = !$writing && syscall(165, $source, $target, $type, 33, 0) == 0;
    kill "CONT", $pid;
    exit 0 if $done;
    select(undef, undef, undef, 0.003);
  }
  exit 1;' "$pid" "$FAT_TARGET" || fail "cannot remount the card read-only"
wait "$tracer"
st=$?
[ "$st" = 2 ] || fail "exit status $st, wanted 2"
grep -qx "The output directory $FAT_TARGET can't be written any more (Read-only file system); no further song is tried." \
  run.out || fail "no line saying the card is read-only"
failed=$(grep -c "could not be copied!$" run.out)
[ "$failed" -le 1 ] || fail "$failed songs failed one by one"
[ "$(wc -l < "$FAT_WORK/used.txt")" = "$(count_files "$FAT_TARGET")" ] \
  || fail "the list does not name the songs on the card"
mount -o remount,rw "$FAT_TARGET" || fail "cannot remount the card read-write"
