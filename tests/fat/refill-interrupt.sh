#!/bin/sh
# Ctrl-C in the middle of -r's removals and in the middle of the copies
# that follow them: each time the record on the card still names exactly
# the songs there, with their sizes and times.
# fat-kinds: fat32-512 exfat-4k
# fat-mib: 32
. "$FAT_LIB"

# interrupt_after PREFIX COUNT OUT ARGS...: runs ARGS with its output into a
# pipe of one page, reads it into OUT until COUNT lines began with PREFIX,
# lets the program fill the pipe and wait there, in the middle of the work
# those lines tell, sends SIGINT and reads the rest. Exits with its status.
interrupt_after() {
  perl -e '
    my ($prefix, $count, $out, @command) = @ARGV;
    pipe(my $from, my $to) or die "pipe: $!";
    fcntl($to, 1031, 4096);  # F_SETPIPE_SZ
    my $pid = fork;
    if ($pid == 0) {
      open(STDOUT, ">&", $to) and open(STDERR, ">&", $to) and exec @command;
      die "exec: $!";
    }
    close $to;
    open(my $log, ">", $out) or die "$out: $!";
    my $seen = 0;
    while (<$from>) {
      print $log $_;
      last if index($_, $prefix) == 0 && ++$seen == $count;
    }
    select(undef, undef, undef, 1);
    kill "INT", $pid;
    print $log $_ while <$from>;
    waitpid($pid, 0);
    exit($? >> 8);
  ' "$@"
}

make_songs "$FAT_LIBRARY" 1000 1 3
# The automounter's "flush" makes every close wait a tenth of a second;
# nothing checked here depends on it.
umount "$FAT_TARGET" && mount -t "$FAT_FS" -o "$(echo "$FAT_MOUNT_OPTIONS" | sed 's/,flush//')" \
  "$FAT_LOOP" "$FAT_TARGET" || fail "cannot mount the card again"
run_plinkard -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s 1 -r
check_record filled
recorded=$(grep -c '^song' "$FAT_TARGET/.plinkard-record")

interrupt_after "Removed " 20 removing.out "$PLINKARD" -i "$FAT_LIBRARY" \
  -o "$FAT_TARGET" -s 1 -r
st=$?
[ "$st" = 130 ] || fail "removing: exit status $st, wanted 130"
grep -q '^Interrupted!$' removing.out || fail "removing: not interrupted"
removed=$(grep -c '^Removed ' removing.out)
[ "$removed" -lt "$recorded" ] || fail "removing: all $recorded songs went before the interrupt"
remount_target
check_record removing
[ "$(grep -c '^song' "$FAT_TARGET/.plinkard-record")" = $((recorded - removed)) ] \
  || fail "removing: the record does not name the $((recorded - removed)) songs left"

interrupt_after "Copying file " 20 copying.out "$PLINKARD" -i "$FAT_LIBRARY" \
  -o "$FAT_TARGET" -s 1 -r
st=$?
[ "$st" = 130 ] || fail "copying: exit status $st, wanted 130"
copied=$(sed -n 's/.* files were processed, \([0-9]*\) files werde copied\./\1/p' copying.out)
[ "$copied" -ge 20 ] && ! grep -q "^Copying file $((copied + 2)) " copying.out \
  || fail "copying: not interrupted in the middle of the copies ($copied copied)"
remount_target
check_record copying
[ "$(grep -c '^song' "$FAT_TARGET/.plinkard-record")" = "$copied" ] \
  || fail "copying: the record does not name the $copied songs copied"
