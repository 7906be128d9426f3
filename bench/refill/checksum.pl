#!/usr/bin/perl
# The cost of the checksum that -r compares before it removes a song: a
# refill with -r that removes SONGS songs of about 5 MB and copies as many,
# by the build NEW (which checks each song's checksum before removing it and
# computes it for each song it copies) and by the build OLD (which does
# neither), side by side, warm and with the page cache dropped before every
# run.
#
#   perl bench/refill/checksum.pl NEW OLD WORKDIR [SONGS] [RUNS]
#
# The library (made once in WORKDIR/lib-SONGS, real pseudo-random bytes, 4.5
# to 5.5 MB a song) is filled into WORKDIR/player-new and WORKDIR/player-old
# once; then each run is `BUILD -i LIB -o PLAYER -s 1000000 -r`, which takes
# every song of the earlier fill off the player and copies the whole library
# again. RUNS pairs (5) each way, alternating which build goes first; the
# cold runs need root (drop_caches). Prints the median wall times and the
# median of the pair-by-pair ratios NEW / OLD.
use strict;
use warnings;
use Time::HiRes qw(time);

my ($new, $old, $work, $songs, $runs) = @ARGV;
die "usage: $0 NEW OLD WORKDIR [SONGS] [RUNS]\n" unless defined $work;
$songs //= 1000;
$runs //= 5;
my $lib = "$work/lib-$songs";

sub make_library {
  return if -e "$lib/.made";
  system("rm", "-rf", $lib) == 0 or die;
  mkdir $work;
  mkdir $lib or die "$lib: $!";
  open(my $random, "<", "/dev/urandom") or die;
  srand(20261210);
  for my $i (1 .. $songs) {
    my $folder = sprintf("%s/Artist %03d", $lib, $i % 100);
    mkdir $folder;
    my $size = int(4_500_000 + rand(1_000_000));
    read($random, my $bytes, $size) == $size or die;
    open(my $song, ">", sprintf("%s/%04d Song.mp3", $folder, $i)) or die;
    print $song $bytes;
    close($song) or die;
  }
  open(my $done, ">", "$lib/.made") or die;
  close($done);
}

sub drop_caches {
  system("sync");
  open(my $drop, ">", "/proc/sys/vm/drop_caches") or die "drop_caches: $!";
  print $drop "3\n";
  close($drop);
}

sub refill {
  my ($build, $player, $cold) = @_;
  drop_caches() if $cold;
  my $start = time;
  my $pid = fork;
  if ($pid == 0) {
    open(STDOUT, ">", "/dev/null");
    open(STDIN, "<", "/dev/null");
    exec($build, "-i", $lib, "-o", $player, "-s", "1000000", "-r", "-d", "1");
    die "exec $build: $!";
  }
  waitpid($pid, 0);
  my $status = $? >> 8;
  die "$build exited with $status\n" if $status != 0;
  return time - $start;
}

sub median {
  my @s = sort { $a <=> $b } @_;
  return @s % 2 ? $s[$#s / 2] : ($s[@s / 2 - 1] + $s[@s / 2]) / 2;
}

make_library();
my %player = (new => "$work/player-new", old => "$work/player-old");
my %build = (new => $new, old => $old);
for my $which (qw(new old)) {
  system("rm", "-rf", $player{$which}) == 0 or die;
  mkdir $player{$which} or die;
  refill($build{$which}, $player{$which}, 0);
}
for my $cold (0, 1) {
  my (%times, @ratios);
  for my $run (1 .. $runs) {
    my @order = $run % 2 ? qw(new old) : qw(old new);
    my %t;
    $t{$_} = refill($build{$_}, $player{$_}, $cold) for @order;
    push @{$times{$_}}, $t{$_} for qw(new old);
    push @ratios, $t{new} / $t{old};
    printf "%s run %d: new %.2f s, old %.2f s\n", $cold ? "cold" : "warm",
      $run, $t{new}, $t{old};
  }
  printf "%s: new %.2f s, old %.2f s (medians), ratio %.3f (median of %d pairs)\n",
    $cold ? "cold" : "warm", median(@{$times{new}}), median(@{$times{old}}),
    median(@ratios), $runs;
}
