#!/bin/sh
# A move flushes each song to the card before its source goes, and the card
# as a whole before the list is written, so the card can be pulled the
# moment the program ends; a moved song keeps its modification time.
# fat-kinds: fat32-512 exfat-4k
. "$FAT_LIB"

make_songs "$FAT_LIBRARY" 20 30 60
touch -d '2001-02-03 04:05:06' "$FAT_LIBRARY"/*.mp3
strace -f -o trace -e trace=openat,fdatasync,syncfs,unlinkat,unlink \
  "$PLINKARD" -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s 10 -m -l "$FAT_WORK/used.txt" \
  > run.out 2>&1 || fail "exit status $?: $(tail -n 1 run.out)"
# Every removal of a source follows a flush of its own copy, and the card
# is flushed after the last removal and before the list opens.
awk -v lib="$FAT_LIBRARY/" -v list="$FAT_WORK/used.txt" '
  function quoted(line) { sub(/^[^"]*"/, "", line); sub(/".*/, "", line); return line }
  function base(path, parts) { return parts[split(path, parts, "/")] }
  /openat\(/ && /O_CREAT/ && !index($0, list) { copy[$NF] = base(quoted($0)) }
  /fdatasync\(/ { fd = $0; sub(/.*fdatasync\(/, "", fd); sub(/\).*/, "", fd)
                  if (fd in copy) synced[copy[fd]] = 1 }
  /unlinkat?\(/ && index($0, lib) {
    removed++
    if (!synced[base(quoted($0))]) { print "source removed before its copy was flushed: " $0; bad = 1 }
    volume = 0
  }
  /syncfs\(/ { volume = 1 }
  /openat\(/ && index($0, list) && !volume { print "list written before the card was flushed"; bad = 1 }
  END { if (removed != 20) { print removed " sources removed, wanted 20"; bad = 1 } exit bad }
' trace > order.out || fail "$(head -n 1 order.out)"
remount_target
want=$(date -d '2001-02-03 04:05:06' +%s)
for song in "$FAT_TARGET"/*.mp3; do
  got=$(stat -c %Y "$song")
  [ $((got - want)) -ge -2 ] && [ $((got - want)) -le 2 ] \
    || fail "$(basename "$song") has the time $(date -d "@$got"), not the source's"
done
