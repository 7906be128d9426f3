#!/bin/sh
# Names the target refuses or changes: the characters FAT forbids, control
# characters, bytes that are no UTF-8, trailing dots and blanks of folder
# names (-d 1), and a dashed name (-d 2) longer than 255 characters. Every
# song must land under its mapped name, byte for byte; a second run must
# find each one there again (pruning sees the same names); two songs whose
# names differ only in case are one name to the target: the second is
# reported as already there.
# fat-kinds: all
. "$FAT_LIB"

lib=$FAT_LIBRARY/lib
i=0
for n in 'a?b' 'c:d' 'e*f' 'g"h' 'i<j' 'k>l' 'm|n' 'o\p' "$(printf 'q\377r')" \
         "$(printf 's\001t')" 'Ünïcödé'; do
  i=$((i + 1))
  make_song "$lib/$n.mp3" "$i"
done
make_song "$lib/Best Of./dot.mp3" 20
make_song "$lib/Live /blank.mp3" 21
long_folder=$(printf 'L%.0s' $(seq 1 200))
long_file=$(printf 'B%.0s' $(seq 1 100))
make_song "$lib/$long_folder/$long_file.mp3" 22

"$PLINKARD" -i "$lib/" -o "$FAT_TARGET" -s 10 -d 1 -l "$FAT_TARGET/used.txt" \
  > mirrored.out 2>&1 || fail "-d 1 exited with $?: $(tail -n 1 mirrored.out)"
mkdir "$FAT_TARGET/dashed"
"$PLINKARD" -i "$lib/" -o "$FAT_TARGET/dashed" -s 10 -d 2 \
  > dashed.out 2>&1 || fail "-d 2 exited with $?: $(tail -n 1 dashed.out)"
remount_target

for pair in 'a?b|a_b' 'c:d|c_d' 'e*f|e_f' 'g"h|g_h' 'i<j|i_j' 'k>l|k_l' 'm|n|m_n' \
            'o\p|o_p' "$(printf 'q\377r')|q_r" "$(printf 's\001t')|s_t" \
            'Ünïcödé|Ünïcödé'; do
  from=${pair%|*} to=${pair##*|}
  same_file "$lib/$from.mp3" "$FAT_TARGET/$to.mp3"
  same_file "$lib/$from.mp3" "$FAT_TARGET/dashed/$to.mp3"
done
same_file "$lib/Best Of./dot.mp3" "$FAT_TARGET/Best Of/dot.mp3"
same_file "$lib/Live /blank.mp3" "$FAT_TARGET/Live/blank.mp3"
same_file "$lib/$long_folder/$long_file.mp3" "$FAT_TARGET/$long_folder/$long_file.mp3"
same_file "$lib/Best Of./dot.mp3" "$FAT_TARGET/dashed/Best Of.-dot.mp3"
same_file "$lib/Live /blank.mp3" "$FAT_TARGET/dashed/Live -blank.mp3"
short=$(printf '%s-%s' "$long_folder" "$long_file" | cut -c 1-251).mp3
same_file "$lib/$long_folder/$long_file.mp3" "$FAT_TARGET/dashed/$short"
[ "$(count_files "$FAT_TARGET")" = 29 ] \
  || fail "$(count_files "$FAT_TARGET") files on the target, wanted 28 songs and the list"
[ "$(wc -l < "$FAT_TARGET/used.txt")" = 14 ] || fail "the list does not hold 14 songs"

# Everything is there already: a second run prunes every song, silently.
"$PLINKARD" -i "$lib/" -o "$FAT_TARGET" -s 10 -d 1 > again.out 2>&1 \
  || fail "the second run exited with $?"
grep -q "^14 files found!$" again.out || fail "the second run did not find 14 songs"
grep -q "^There are no songs to copy!" again.out \
  || fail "the second run did not prune every song: $(grep -c 'Copying file' again.out) copied"
! grep -q "Can't" again.out || fail "$(grep "Can't" again.out | head -n 1)"

# A.mp3 and a.mp3 are one name on FAT.
make_song "$FAT_LIBRARY/case/One/Song.mp3" 30
make_song "$FAT_LIBRARY/case/Two/song.mp3" 31
mkdir "$FAT_TARGET/case"
"$PLINKARD" -i "$FAT_LIBRARY/case" -o "$FAT_TARGET/case" -s 10 > case.out 2>&1
st=$?
[ "$st" = 2 ] || fail "two names of one letter case: exit $st, wanted 2"
grep -q "already exists!$" case.out || fail "no 'already exists!' for the second name"
[ "$(count_files "$FAT_TARGET/case")" = 1 ] || fail "both case variants landed"
# A later run finds the name taken in the other case too, and prunes both.
"$PLINKARD" -i "$FAT_LIBRARY/case" -o "$FAT_TARGET/case" -s 10 > case-again.out 2>&1 \
  || fail "the second run on case variants exited with $?"
grep -q "^There are no songs to copy!" case-again.out \
  || fail "a name taken in the other case was not pruned"
