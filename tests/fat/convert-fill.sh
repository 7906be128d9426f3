#!/bin/sh
# -c mp3:64 -s all from a FLAC library of short songs that would overfill
# the card: no song may fail for lack of space, the card must end within
# 1.2 % of the share the plan counted, no temporary file may stay, and every
# converted song must be whole: it decodes to its source's playing time.
# fat-kinds: fat32-512
# fat-mib: 4
. "$FAT_LIB"

# 30 songs of 2 to 40 s (about 630 s; the card holds about 490 s at 64
# kbit/s), each named with its playing time in ms, made by one ffmpeg for
# each 15 of them. A small card: the guest may be emulated.
awk -v dir="$FAT_LIBRARY" 'BEGIN {
  srand(20261210)
  for (i = 1; i <= 30; i++) {
    ms = 2000 + int(rand() * 38000)
    printf "%s-t %.3f %s/s-%03d-%05d.flac", (i % 15 == 1 ? "\n" : " "), ms / 1000, dir, i, ms
  }
  print ""
}' | while read -r outputs; do
  [ -n "$outputs" ] || continue
  # shellcheck disable=SC2086
  ffmpeg -v error -nostdin -f lavfi -i "sine=frequency=440:duration=40" \
    $outputs || exit 1
done || fail "cannot make the songs"

before=$(free_bytes "$FAT_TARGET")
"$PLINKARD" -i "$FAT_LIBRARY" -o "$FAT_TARGET" -s all -f flac -c mp3:64 \
  > convert.out 2>&1 || fail "the fill exited with $?: $(tail -n 1 convert.out)"
remount_target
after=$(free_bytes "$FAT_TARGET")
! grep -q "No space left" convert.out \
  || fail "$(grep -c 'No space left' convert.out) songs failed for space"
! grep -q "could not be converted" convert.out \
  || fail "$(grep 'could not be converted' convert.out | head -n 1)"
[ -z "$(find "$FAT_TARGET" -name '.plinkard-convert.*')" ] \
  || fail "temporary files left: $(find "$FAT_TARGET" -name '.plinkard-convert.*' | head -n 1)"
copied=$(sed -n 's/.* files were processed, \([0-9]*\) files werde copied\./\1/p' convert.out)
songs=$(find "$FAT_TARGET" -name '*.mp3' -type f | wc -l)
[ "$copied" = "$songs" ] || fail "$songs songs on the card, the summary says $copied"
held=$(grep -c "not written" convert.out)

# Each song decodes to its end, and that end is its source's playing time
# within 0.15 s.
for song in "$FAT_TARGET"/*.mp3; do
  name=${song##*/}
  ms=${name%.mp3}
  ms=${ms##*-}
  us=$(ffmpeg -v error -nostdin -xerror -progress pipe:1 -i "$song" -f null - \
    | awk -F= '$1 == "out_time_us" { t = $2 } END { print t }')
  [ -n "$us" ] || fail "$name does not decode"
  awk -v us="$us" -v ms="$ms" 'BEGIN { d = us / 1000 - ms; exit !(d < 150 && d > -150) }' \
    || fail "$name decodes to $us us, its source plays $ms ms"
done

# The songs take what the plan counted for them, less the estimates' margin
# (1/256) and the rest of each song's last KiB: 0.8 % at most in 60 seeded
# runs. The plan's own share is the planner's best of its choices, which
# with 30 songs falls to 98 % for about one seed in a thousand.
used=$(awk -v b="$before" -v a="$after" 'BEGIN { printf "%.2f", (b - a) * 100 / b }')
planned=$(sed -n 's/^This configuration uses .* MB (\(.*\)%)\.$/\1/p' convert.out)
[ -n "$planned" ] || fail "no plan line: $(grep '^This conf' convert.out)"
echo "$songs songs converted, $held held back, $used % of $before free bytes used, $after left; the plan counted $planned %"
awk -v p="$planned" 'BEGIN { exit !(p >= 97.5) }' || fail "the plan uses only $planned %"
awk -v u="$used" -v p="$planned" 'BEGIN { exit !(u >= p - 1.2) }' \
  || fail "only $used % of the free space used, the plan counted $planned %"
