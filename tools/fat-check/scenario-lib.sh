# Helpers for the FAT scenarios in tests/fat/, sourced as . "$FAT_LIB".
# A scenario runs in the guest with these set:
#   PLINKARD     the built program (the host's build folder, over 9p)
#   FAT_TARGET   the freshly made file system, mounted and empty
#   FAT_KIND     fat32-512, fat32-32k, exfat-4k, exfat-128k
#   FAT_FS       vfat or exfat; FAT_CLUSTER: the cluster size in bytes
#   FAT_LIBRARY  an empty folder for the songs (guest tmpfs)
#   FAT_WORK     an empty folder for anything else, the current folder
#   FAT_RESULTS  the run's folder on the host, for files worth keeping
#   FAT_MOUNT_OPTIONS, FAT_LOOP, FAT_IMAGE: how the target is mounted
# It passes by exiting 0; `fail REASON` ends it with that one-line reason.

fail() {
  printf '%s\n' "$*" > "$FAT_REASON"
  printf 'FAIL: %s\n' "$*" >&2
  exit 1
}

# make_song FILE KIB: random bytes, KIB KiB and a little more, so that the
# size is no whole number of KiB nor of clusters. Every song a scenario
# makes must differ in KiB, since the used-songs list knows songs by that.
make_song() {
  mkdir -p "$(dirname "$1")"
  head -c $(($2 * 1024 + 333)) /dev/urandom > "$1" || fail "cannot write $1"
}

# run_plinkard ARGS...: runs the program, its output in plinkard.out;
# fails unless it exits 0.
run_plinkard() {
  "$PLINKARD" "$@" > "$FAT_WORK/plinkard.out" 2>&1
  st=$?
  cp "$FAT_WORK/plinkard.out" "$FAT_RESULTS/plinkard.out" 2>/dev/null
  [ "$st" = 0 ] || fail "plinkard exited with $st: $(tail -n 1 "$FAT_WORK/plinkard.out")"
}

# same_file A B: fails unless both exist and hold the same bytes.
same_file() {
  [ -f "$2" ] || fail "missing: $2"
  cmp -s "$1" "$2" || fail "differs from its source: $2"
}

# count_files DIR: the number of regular files below DIR.
count_files() { find "$1" -type f | wc -l | tr -d ' '; }

# Unmounts and mounts the target again, so that what the checks read next
# comes from the image (directory entries, FAT, data) and not from caches
# filled by the copy.
remount_target() {
  cd "$FAT_WORK" || fail "cannot enter $FAT_WORK"
  umount "$FAT_TARGET" 2>"$FAT_WORK/umount.err" \
    || fail "umount $FAT_TARGET failed: $(head -n 1 "$FAT_WORK/umount.err")"
  mount -t "$FAT_FS" -o "$FAT_MOUNT_OPTIONS" "$FAT_LOOP" "$FAT_TARGET" 2>"$FAT_WORK/mount.err" \
    || fail "mounting $FAT_LOOP again failed: $(head -n 1 "$FAT_WORK/mount.err")"
}

# Perl that defines write_song(FILE, BYTES): each KiB of the song is a
# random block of that song behind its own number, so that a copy that
# lands wrong cannot match. Scenarios that lay out songs of their own put
# it before their Perl.
WRITE_SONG_PERL='
  sub write_song {
    my ($path, $size) = @_;
    my $block = pack("N*", map { int(rand(4294967296)) } 1 .. 255);
    open(my $f, ">", $path) or die "$!";
    for (my $k = 0; $k * 1024 < $size; ++$k) {
      my $piece = pack("N", $k) . $block;
      my $left = $size - $k * 1024;
      print $f ($left < 1024 ? substr($piece, 0, $left) : $piece);
    }
    close($f) or die "$!";
  }'

# make_songs DIR COUNT MINKIB MAXKIB [FOLDERS]: COUNT songs in one process
# (a process costs about 0.07 s in the guest), of MINKIB to MAXKIB KiB and
# a few bytes more, their sizes drawn from a fixed seed; spread over FOLDERS
# subfolders when given.
make_songs() {
  perl -e "$WRITE_SONG_PERL"'
    my ($dir, $count, $min, $max, $folders) = @ARGV;
    srand(20261208);
    for my $i (1 .. $count) {
      my $sub = $folders ? sprintf("/Artist %03d", $i % $folders) : "";
      mkdir "$dir$sub";
      my $size = int($min + rand($max - $min + 1)) * 1024 + 1 + int(rand(1023));
      write_song(sprintf("%s%s/song %05d.mp3", $dir, $sub, $i), $size);
    }' "$@" || fail "cannot make $2 songs in $1"
}

# free_bytes DIR: the bytes the file system holding DIR has left for us.
free_bytes() { stat -f -c '%a %S' "$1" | awk '{ printf "%.0f\n", $1 * $2 }'; }

# wait_for_files DIR N: waits until DIR holds at least N regular files, at
# most two minutes.
wait_for_files() {
  for _ in $(seq 1 1200); do
    [ "$(count_files "$1")" -ge "$2" ] && return 0
    sleep 0.1
  done
  fail "fewer than $2 files appeared in $1"
}
