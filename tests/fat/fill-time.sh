#!/bin/sh
# -t -s all: a fill by playing time on a card, first where the time is the
# tighter limit, then on a card left with too little room for that time.
# Both times the summary's playing time must be that of the songs on the
# card, within the minutes asked for; no song may fail for lack of space,
# and the second fill must use at least 95 % of the space left.
# fat-kinds: fat32-512 exfat-4k
# fat-mib: 34
. "$FAT_LIB"

# 60 tagged WAV songs of 1.0 to 3.9 seconds (8 kHz mono, 16,000 bytes a
# second), made by one ffmpeg; songs.ms lists each name with its time.
set --
for i in $(seq 1 60); do
  ms=$((1000 + i * 37 % 30 * 100))
  name=$(printf 'song %02d.wav' "$i")
  printf '%s\t%s\n' "$name" "$ms" >> songs.ms
  set -- "$@" -t "$ms"ms -ac 1 -metadata "title=Song $i" \
    -metadata "artist=Artist $((i % 7))" "$FAT_LIBRARY/$name"
done
ffmpeg -nostdin -loglevel error -f lavfi \
  -i sine=frequency=440:sample_rate=8000:duration=5 "$@" \
  || fail "ffmpeg could not make the songs"

# check_fill OUT LABEL MINUTES: the card's songs against the summary.
check_fill() {
  ! grep -q "No space left" "$1" \
    || fail "$2: $(grep -c 'No space left' "$1") songs failed for space"
  line=$(sed -n 's/^Playing time: \(.*\) of \(.*\) (.*)$/\1 \2/p' "$1")
  [ -n "$line" ] || fail "$2: no playing time line: $(tail -n 2 "$1" | head -n 1)"
  (cd "$FAT_TARGET" && find . -name '*.wav' -type f | sed 's|.*/||') \
    | sort > card.names
  card_ms=$(sort songs.ms | join -t "$(printf '\t')" card.names - \
    | awk -F '\t' '{ s += $2 } END { print s + 0 }')
  echo "$2: $(wc -l < card.names) songs, $card_ms ms on the card; $line"
  awk -v ms="$card_ms" -v line="$line" -v limit="$3" 'BEGIN {
    split(line, t, "[: ]");
    shown = t[1] * 3600 + t[2] * 60 + t[3];
    asked = t[4] * 3600 + t[5] * 60 + t[6];
    exit !(ms <= limit * 60000 && asked == limit * 60 &&
           shown >= int(ms / 1000) && shown <= int(ms / 1000) + 1) }' \
    || fail "$2: $card_ms ms on the card, the summary says $line"
}

# The time binds: a minute of the 2.5 on the card.
run_plinkard -i "$FAT_LIBRARY" -o "$FAT_TARGET" -f wav -s all -t 1
cp plinkard.out time.out
remount_target
check_fill time.out "time" 1
share=$(sed -n 's/^Playing time: .* (\(.*\)%)$/\1/p' time.out)
# The planner's best of its choices: 98.8 % at the worst of 2,000 seeds.
awk -v s="$share" 'BEGIN { exit !(s >= 98.5) }' \
  || fail "time: only $share % of the minute filled"

# The space binds: 400 KiB left (25 seconds) for two minutes.
find "$FAT_TARGET" -mindepth 1 -delete
free=$(free_bytes "$FAT_TARGET")
head -c $((free - 400 * 1024)) /dev/zero > "$FAT_TARGET/filler" \
  || fail "cannot fill the card"
remount_target
before=$(free_bytes "$FAT_TARGET")
run_plinkard -i "$FAT_LIBRARY" -o "$FAT_TARGET" -f wav -s all -t 2
cp plinkard.out space.out
remount_target
check_fill space.out "space" 2
after=$(free_bytes "$FAT_TARGET")
used=$(awk -v b="$before" -v a="$after" 'BEGIN { printf "%.1f", (b - a) * 100 / b }')
echo "space: $used % of $before bytes used"
awk -v u="$used" 'BEGIN { exit !(u >= 95) }' || fail "space: only $used % used"
