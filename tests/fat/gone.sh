#!/bin/sh
# The player goes away mid-run, as an eject does (umount -l), during a move
# that keeps its used-songs list on the card: the transfer stops with one
# line and exit status 2, nothing lands in the bare mount point, the list
# included, and no song is lost: every song is either on the card, byte for
# byte, or still in the library. Then the same with the list beside the
# library and the mount point removed, as automounters do: it must not come
# back, and the list names every song on the card.
# fat-kinds: fat32-512 exfat-4k
. "$FAT_LIB"

# Moves songs, listing them in LIST, until `wait_for_files` saw some land,
# then runs "$@" to take the target away; leaves the program's output in
# $run.out. Every file the program opens takes 50 ms longer (strace delays
# the call), so the moves last about 20 s and the target surely goes in
# their middle, not after the last song: alone in a fast guest the program
# otherwise moves all 200 songs before the shell sees five of them land.
interrupted_move() {
  run=$1
  list=$2
  shift 2
  rm -rf "$FAT_LIBRARY"/* kept
  make_songs "$FAT_LIBRARY" 200 60 120
  cp -R "$FAT_LIBRARY" kept || fail "cannot keep a copy of the library"
  strace -f -qq -o /dev/null -e trace=openat -e inject=openat:delay_exit=50000 \
    "$PLINKARD" -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s 60 -m -l "$list" \
    > "$run.out" 2>&1 &
  pid=$!
  wait_for_files "$FAT_TARGET" 5
  "$@"
  wait "$pid"
  st=$?
  [ "$st" = 2 ] || fail "$run: exit status $st, wanted 2"
  grep -qx "The output directory $FAT_TARGET is gone (unmounted or replaced); no further song is tried." \
    "$run.out" || fail "$run: no line saying the target is gone"
}

# check_songs RUN [LIST]: every song is on the card or still in the
# library, and LIST, when given, names those on the card.
check_songs() {
  mkdir -p again
  mount -t "$FAT_FS" -o "$FAT_MOUNT_OPTIONS" "$FAT_LOOP" again || fail "cannot mount the card again"
  on_card=$(count_files again)
  left=$(count_files "$FAT_LIBRARY")
  [ "$((on_card + left))" = 200 ] || fail "$1: $on_card songs on the card and $left in the library"
  if [ -n "${2:-}" ]; then
    [ "$(wc -l < "$2")" = "$on_card" ] || fail "$1: the list does not name the $on_card songs"
  fi
  for song in again/*.mp3; do
    same_file "kept/$(basename "$song")" "$song"
    [ ! -e "$FAT_LIBRARY/$(basename "$song")" ] || fail "$1: moved but still in the library: $song"
  done
  umount again
}

interrupted_move detached "$FAT_TARGET/used.txt" umount -l "$FAT_TARGET"
[ "$(count_files "$FAT_TARGET")" = 0 ] || fail "songs or the list went into the bare mount point"
grep -qx "Can't write the used-list $FAT_TARGET/used.txt: the output directory is gone" \
  detached.out || fail "detached: no line saying the list could not be written"
check_songs detached

# Mounted again and emptied; now the mount point goes as well.
mount -t "$FAT_FS" -o "$FAT_MOUNT_OPTIONS" "$FAT_LOOP" "$FAT_TARGET" || fail "cannot mount the card"
find "$FAT_TARGET" -mindepth 1 -delete
interrupted_move removed "$FAT_WORK/removed.list" sh -c "umount -l '$FAT_TARGET' && rmdir '$FAT_TARGET'"
[ ! -e "$FAT_TARGET" ] || fail "the removed mount point was made again"
check_songs removed "$FAT_WORK/removed.list"
mkdir "$FAT_TARGET"
