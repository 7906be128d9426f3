#!/usr/bin/perl
# Ten refills of a player from one library with one used-songs list, as a
# user who fills the same player week after week does, and what the list
# blocks after each of them.
#
#   perl bench/refill/refill.pl PLINKARD WORKDIR [SONGS] [PLAYER_MB] [REFILLS] [RULE]
#
# The library (made once in WORKDIR/lib, sparse files) holds SONGS songs
# (20,000) of realistic MP3 sizes: a duration around 230 s (normal, sd 60 s,
# 60 to 720 s) at 128, 160, 192, 256 or 320 kbit/s, in albums of 8 to 14
# songs named "NN Title.mp3", titles drawn from a small vocabulary so that
# names repeat across albums as they do in real libraries. Each refill
# empties the player (WORKDIR/player) and fills PLAYER_MB (300) with -d 2.
# Per refill it prints the songs copied, and the songs the list blocks: all
# of them, those never copied, and of these the ones that share size in KiB
# and file name with a copied song (the only ones that may be blocked when
# a line names a song by size and name). RULE says how the program reads
# the list, "name" (by size and name; the default) or "size" (by size alone,
# as earlier builds did), for the blocked columns.
use strict;
use warnings;

my ($plinkard, $work, $songs, $mb, $refills) = @ARGV;
die "usage: $0 PLINKARD WORKDIR [SONGS] [PLAYER_MB] [REFILLS]\n"
  unless defined $work;
$songs //= 20000;
$mb //= 300;
$refills //= 10;
my $lib = "$work/lib-$songs";
my $player = "$work/player";
my $list = "$work/used.txt";

my @words = qw(Love Night Blue Road Home Fire Rain Heart Dance Light Dream
  Time Song Sun Moon River Wind Gold Baby Girl Boy Summer Winter City Song);

sub normal {
  my $u = 1 - rand();
  my $v = rand();
  return sqrt(-2 * log($u)) * cos(6.283185307 * $v);
}

# The library: path and size in bytes of every song.
my @library;
srand(20261209);
my $album = 0;
while (@library < $songs) {
  ++$album;
  my $folder = sprintf("Artist %04d/Album %02d", int($album / 8), $album % 8);
  my $tracks = 8 + int(rand(7));
  my $rate = (128, 160, 192, 256, 320)[int(rand(5))];
  for my $t (1 .. $tracks) {
    last if @library >= $songs;
    my $title = $t == 1 && rand() < 0.2 ? "Intro"
      : join(" ", map { $words[int(rand(@words))] } 1 .. 1 + int(rand(2)));
    my $seconds = 230 + 60 * normal();
    $seconds = 60 if $seconds < 60;
    $seconds = 720 if $seconds > 720;
    my $bytes = int($seconds * $rate * 125) + 417;
    push @library, [sprintf("%s/%02d %s.mp3", $folder, $t, $title), $bytes];
  }
}
if (!-e "$lib/.made") {
  system("rm", "-rf", $lib) == 0 or die;
  for my $song (@library) {
    my ($path, $bytes) = @$song;
    my ($dir) = $path =~ m{^(.*)/};
    system("mkdir", "-p", "$lib/$dir") == 0 or die unless -d "$lib/$dir";
    open(my $f, ">", "$lib/$path") or die "$lib/$path: $!";
    truncate($f, $bytes) or die;
    close($f);
  }
  open(my $m, ">", "$lib/.made") or die;
  close($m);
}

my %sizes;
$sizes{int($_->[1] / 1024)} = 1 for @library;
my %byTarget;  # the player's name of a song (-d 2) to its place in @library
for my $i (0 .. $#library) {
  (my $target = $library[$i][0]) =~ s{/}{-}g;
  $byTarget{$target} = $i;
}

# The songs a list blocks: by size alone (RULE "size"), or by size and name,
# and by size alone for a line without a name (RULE "name").
sub blocked {
  my ($rule) = @_;
  my (%bySize, %byName);
  open(my $l, "<", $list) or die "$list: $!";
  while (my $line = <$l>) {
    next unless $line =~ /^\s*(\d+)\s*(.)(.*?)\r?\n?$/s;
    if ($rule eq "size" || $3 eq "") { $bySize{$1} = 1 } else { $byName{"$1\0$3"} = 1 }
  }
  close($l);
  my %blocked;
  for my $i (0 .. $#library) {
    my $kib = int($library[$i][1] / 1024);
    my ($name) = $library[$i][0] =~ m{([^/]+)$};
    $blocked{$i} = 1 if $bySize{$kib} || $byName{"$kib\0$name"};
  }
  return %blocked;
}

my $rule = @ARGV > 5 ? $ARGV[5] : "name";
printf "%d songs, %d distinct sizes in KiB; player %d MB, -d 2; list read by %s\n",
  scalar(@library), scalar(keys %sizes), $mb, $rule eq "name" ? "size and name" : "size alone";
printf "%6s %8s %7s %7s %8s %9s %10s\n", "refill", "removed", "copied",
  "copied", "blocked", "blocked,", "of these,";
printf "%6s %8s %7s %7s %8s %9s %10s\n", "", "on read", "", "in all",
  "after", "never", "size+name";
printf "%6s %8s %7s %7s %8s %9s %10s\n", "", "", "", "", "", "copied", "of a copy";

unlink($list);
my %copied;  # places in @library of every song copied so far
for my $refill (1 .. $refills) {
  system("rm -rf '$player' && mkdir -p '$player'") == 0 or die;
  my $out = `'$plinkard' -i '$lib' -o '$player' -s $mb -d 2 -l '$list'`;
  my ($removed) = $out =~ /^Done\. (\d+) entries were removed/m;
  opendir(my $d, $player) or die;
  my $now = 0;
  for my $target (readdir($d)) {
    next if $target =~ /^\./;
    defined(my $i = $byTarget{$target}) or die "unknown target $target";
    $copied{$i} = 1;
    ++$now;
  }
  closedir($d);
  my %blocked = blocked($rule);
  my %copiedKeys;
  for my $i (keys %copied) {
    my ($name) = $library[$i][0] =~ m{([^/]+)$};
    $copiedKeys{int($library[$i][1] / 1024) . "\0$name"} = 1;
  }
  my ($never, $twins) = (0, 0);
  for my $i (keys %blocked) {
    next if $copied{$i};
    ++$never;
    my ($name) = $library[$i][0] =~ m{([^/]+)$};
    ++$twins if $copiedKeys{int($library[$i][1] / 1024) . "\0$name"};
  }
  printf "%6d %8s %7d %7d %8d %9d %10d\n", $refill, $removed // "-", $now,
    scalar(keys %copied), scalar(keys %blocked), $never, $twins;
}
