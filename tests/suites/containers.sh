#!/usr/bin/env bash
# Containers as ffmpeg muxes them: MP2 of every sampling rate and mode in
# transport streams (188- and 192-byte packets) and program streams (VOB and
# MPEG-1), alone and as three tracks beside a video. Every track's WAV must
# be, byte for byte, the WAV of the stream muxed and the WAV of what ffmpeg
# takes back out. Then transport packets dropped at random (one gap line
# each, at the byte the loss begins), a capture with its start cut off, AC-3
# and AAC alone, scrambled tracks and a transport stream on standard input.
#
#   containers.sh SONDRIK
#
# Exits 77 when a tool is missing.
set -u
sondrik=$(realpath "$1")
for tool in twolame ffmpeg sox python3 cmp; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
source "$(dirname "${BASH_SOURCE[0]}")/scratch.sh"

seconds=2
containers=(ts m2ts vob mpeg)
mux_options() {  # container
  case $1 in
    ts) echo -f mpegts ;;
    m2ts) echo -f mpegts -mpegts_m2ts_mode 1 ;;
    vob) echo -f vob ;;
    mpeg) echo -f mpeg ;;
  esac
}

# Left pink noise, right the same noise with a sweep: joint stereo has
# something to join, the other modes two different channels. -R: the same
# bytes every run.
signal() {  # rate
  sox -q -R -n -r "$1" -c 1 -b 16 n.wav synth $seconds pinknoise gain -6 &&
    sox -q -R -n -r "$1" -c 1 -b 16 t.wav synth $seconds sine 300-6000 gain -8 &&
    sox -q -m n.wav t.wav mono_$1.wav && sox -q -M n.wav mono_$1.wav stereo_$1.wav && rm -f n.wav t.wav
}

# Every rate in every mode: name rate mode kbit/s.
streams=()
for rate in 48000 44100 32000 24000 22050 16000; do
  signal $rate || { fail "sox could not make the $rate Hz signal"; continue; }
  for mode in s j d m; do
    if [ $rate -ge 32000 ]; then
      case $mode in j) kbps=128 ;; m) kbps=96 ;; *) kbps=192 ;; esac
    else
      case $mode in m) kbps=48 ;; *) kbps=96 ;; esac
    fi
    streams+=("$mode$((rate / 1000)) $rate $mode $kbps")
  done
done

# ffmpeg starts a raw stream at the first frame whose header the next ones
# agree with (twolame's first joint-stereo frame may not be), so the stream
# each container holds is ffmpeg's own copy, written in the same run.
for entry in "${streams[@]}"; do
  read -r name rate mode kbps <<<"$entry"
  input=stereo_$rate.wav; [ $mode = m ] && input=mono_$rate.wav
  twolame --quiet -m $mode -b $kbps $input raw_$name.mp2 || { fail "$name: twolame failed"; continue; }
  outputs=(-map 0 -c copy -f mp2 $name.mp2)
  for c in "${containers[@]}"; do outputs+=(-map 0 -c copy $(mux_options $c) ${name}_$c.mp2); done
  ffmpeg -v error -y -i raw_$name.mp2 "${outputs[@]}" || fail "$name: ffmpeg could not mux"
done
names=("${streams[@]%% *}")
"$sondrik" -q -f -j 2 "${names[@]/%/.mp2}" >/dev/null 2>&1 || fail "the elementary streams did not convert"

# Three tracks of three streams each beside a video, the second marked German.
groups=()
for ((i = 0; i + 2 < ${#streams[@]}; i += 3)); do
  members=()
  for entry in "${streams[@]:i:3}"; do members+=("${entry%% *}"); done
  group=g$((i / 3 + 1))_$(IFS=_; echo "${members[*]}")
  groups+=("$group ${members[*]}")
  outputs=()
  for c in "${containers[@]}"; do
    outputs+=(-map 0:v -map 1:a -map 2:a -map 3:a -c:v mpeg2video -c:a copy -metadata:s:a:1 language=deu
              $(mux_options $c) ${group}_$c.mp2)
  done
  ffmpeg -v error -y -t $seconds -f lavfi -i testsrc=size=160x120:rate=25 \
    -i ${members[0]}.mp2 -i ${members[1]}.mp2 -i ${members[2]}.mp2 "${outputs[@]}" || fail "$group: ffmpeg could not mux"
done

# What ffmpeg takes back out, every track of every container in one run per
# stream or group; its log names each track's PID or stream id and language.
extract() {  # name tracks
  local name=$1 tracks=$2 inputs=() outputs=() k=0 c t
  for c in "${containers[@]}"; do
    inputs+=(-i ${name}_$c.mp2)
    for ((t = 0; t < tracks; t++)); do
      outputs+=(-map $k:a:$t -c copy -f mp2 ${name}_$c.extracted$((t + 1)).mp2)
    done
    k=$((k + 1))
  done
  ffmpeg -hide_banner -nostdin -y "${inputs[@]}" "${outputs[@]}" 2>&1 |
    sed -n -E 's/^  Stream #([0-9]+):[0-9]+\[0x([0-9a-f]+)\](\(([a-z]+)\))?: Audio.*/\1 \2 \4/p' >ids_$name.txt
  [ "${PIPESTATUS[0]}" -eq 0 ] || fail "$name: ffmpeg could not extract"
}
for entry in "${streams[@]}"; do extract "${entry%% *}" 1; done
for entry in "${groups[@]}"; do extract "${entry%% *}" 3; done
"$sondrik" -q -f -j 2 *.extracted?.mp2 >/dev/null 2>&1 || fail "the extracted streams did not convert"

# Each container: its lines, and each track's WAV against its stream's and
# against the extracted one's.
tracks_compared=0
check_container() {  # name container members...
  local name=$1 c=$2 members=("${@:3}") k log t wav expected id lang
  k=0; for x in "${containers[@]}"; do [ $x = $c ] && break; k=$((k + 1)); done
  log=$("$sondrik" -f ${name}_$c.mp2 2>&1) || { fail "${name}_$c: exit $?"; echo "$log"; return; }
  mapfile -t ids < <(sed -n "s/^$k //p" ids_$name.txt)
  [ ${#ids[@]} -eq ${#members[@]} ] || fail "${name}_$c: ffmpeg lists ${#ids[@]} audio tracks, wanted ${#members[@]}"
  for ((t = 1; t <= ${#members[@]}; t++)); do
    read -r id lang <<<"${ids[t - 1]:-0}"
    case $c in
      ts | m2ts) expected=$(printf 'PID 0x%04X' $((16#$id))) ;;
      *) expected=$(printf 'stream 0x%02X' $((16#$id & 0xff))) ;;
    esac
    [ -n "$lang" ] && expected+=" ($lang)"
    grep -qxF "track $t of ${#members[@]}: $expected" <<<"$log" ||
      fail "${name}_$c: no line 'track $t of ${#members[@]}: $expected'"
    wav=${name}_$c.wav; [ $t -gt 1 ] && wav=${name}_$c.$t.wav
    cmp -s $wav ${members[t - 1]}.wav || fail "${name}_$c: track $t differs from ${members[t - 1]}.wav"
    cmp -s $wav ${name}_$c.extracted$t.wav || fail "${name}_$c: track $t differs from what ffmpeg extracts"
    tracks_compared=$((tracks_compared + 1))
  done
  [ -e ${name}_$c.$((${#members[@]} + 1)).wav ] && fail "${name}_$c: a WAV beyond the last track"
}
for entry in "${streams[@]}"; do
  for c in "${containers[@]}"; do check_container "${entry%% *}" $c "${entry%% *}"; done
done
for entry in "${groups[@]}"; do
  read -r group members <<<"$entry"
  for c in "${containers[@]}"; do check_container $group $c $members; done
done

# -t: a container checks as any file does.
for c in "${containers[@]}"; do
  name=${groups[0]%% *}_$c
  out=$("$sondrik" -t $name.mp2 2>&1) || fail "-t $name: exit $?: $(grep ERR <<<"$out")"
done

# Standard input takes the first track, into a file or onto standard output.
for c in "${containers[@]}"; do
  name=${groups[0]%% *}_$c
  rm -f stdin.wav
  "$sondrik" -q - <$name.mp2 >/dev/null 2>err.txt && cmp -s stdin.wav $name.wav ||
    fail "$name on standard input: stdin.wav is not track 1's WAV: $(grep ERR err.txt)"
  cat $name.mp2 | "$sondrik" -c - 2>err.txt >pipe.wav
  [ "$(head -c 4 pipe.wav)" = RIFF ] && cmp -s <(tail -c +45 pipe.wav) <(tail -c +45 $name.wav) ||
    fail "$name through a pipe: standard output is not track 1's samples: $(grep ERR err.txt)"
done

# Byte surgery on 188- or 192-byte packets. drop: each payload packet of PID
# but the first and last goes with probability 1/ONE_IN, never two within
# eight of the PID's packets (losses in one frame make one gap); prints the
# number dropped, then where each loss begins among the track's bytes that
# arrive. scramble: sets the scrambling bits of PID's packets; of its middle
# payload packet only (scramble-one), or of those from there on
# (scramble-rest); drop-one drops that middle packet.
surgery() {  # drop|scramble|scramble-one|scramble-rest|drop-one SOURCE DEST PACKET_SIZE PID [ONE_IN SEED]
  python3 - "$@" <<'PY'
import random, sys
what, source, dest, size, pid = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5], 0)
data = open(source, 'rb').read()
head = size - 188
packets = [bytearray(data[i:i + size]) for i in range(0, len(data), size)]
ours = lambda p: ((p[head + 1] & 0x1f) << 8 | p[head + 2]) == pid
if what != 'drop':
    carrying = [i for i, p in enumerate(packets) if ours(p) and p[head + 3] & 0x10]
    middle = carrying[len(carrying) // 2]
    chosen = {'scramble': carrying, 'scramble-one': [middle], 'drop-one': [middle],
              'scramble-rest': carrying[len(carrying) // 2:]}[what]
    for i in chosen:
        packets[i][head + 3] |= 0xc0
    if what == 'drop-one':
        del packets[middle]
    open(dest, 'wb').write(b''.join(packets))
    sys.exit()
one_in, rng = int(sys.argv[6]), random.Random(int(sys.argv[7]))
carrying = [i for i, p in enumerate(packets) if ours(p) and p[head + 3] & 0x10]
order = {i: n for n, i in enumerate(carrying)}
kept, starts, arrived, previous = [], [], 0, -2
for i, p in enumerate(packets):
    n = order.get(i)
    if n is not None and 0 < n < len(carrying) - 1 and n - previous > 8 and rng.randrange(one_in) == 0:
        starts.append(arrived)
        previous = n
        continue
    kept.append(p)
    if n is not None:
        t = p[head:]
        payload = t[5 + t[4]:] if t[3] & 0x20 else t[4:]
        if t[1] & 0x40:
            payload = payload[9 + payload[8]:]
        arrived += len(payload)
open(dest, 'wb').write(b''.join(kept))
print(len(starts), *starts)
PY
}

# A minute at 48 kHz, 192 kbit/s: enough packets for losses one in a thousand.
seconds=60
signal 48000 && twolame --quiet -b 192 stereo_48000.wav raw_long.mp2 &&
  ffmpeg -v error -y -i raw_long.mp2 -map 0 -c copy -f mp2 long.mp2 \
    -map 0 -c copy $(mux_options ts) long_ts.mp2 -map 0 -c copy $(mux_options m2ts) long_m2ts.mp2 \
    -map 0 -c copy $(mux_options vob) long_vob.mp2 || fail "could not make the minute's stream"
"$sondrik" -q -f long.mp2 >/dev/null 2>&1 || fail "the minute's stream did not convert"

# Lost packets: one gap line each, up to 20, at the byte the loss begins,
# then the count of the rest; the source counts as one with gaps.
gaps_compared=""
while read -r source size pid one_in seed; do
  name=lossy_${source}_$one_in
  read -r dropped starts < <(surgery drop $source.mp2 $name.mp2 $size $pid $one_in $seed)
  log=$("$sondrik" -f $name.mp2 2>&1) || fail "$name: exit $?"
  listed=$(grep -c '^gap: 1 packets lost at [0-9:.]* (byte [0-9]* of the track)' <<<"$log")
  more=$(sed -n -E 's/^gap: and ([0-9]+) more gaps \([0-9]+ bytes\)$/\1/p' <<<"$log")
  [ $((listed + ${more:-0})) -eq "$dropped" ] ||
    fail "$name: $listed gap lines and ${more:-no} more for $dropped packets dropped"
  others=$(grep '^gap:' <<<"$log" | grep -v -e '^gap: 1 packets lost at' -e '^gap: and')
  [ -z "$others" ] || fail "$name: other gap lines: $others"
  read -ra lost_at <<<"$starts"
  [ "$(sed -n -E 's/^gap: 1 packets lost at .* \(byte ([0-9]+) of the track\).*/\1/p' <<<"$log" | xargs)" = \
    "${lost_at[*]:0:20}" ] || fail "$name: the gap lines are not at the bytes lost"
  grep -q '^sondrik finished: 1 converted (1 with gaps or CRC errors)' <<<"$log" || fail "$name: summary"
  gaps_compared+=" $((listed + ${more:-0}))/$dropped"
done <<'TABLE'
long_ts 188 0x0100 1000 1
long_m2ts 192 0x1100 100 2
TABLE

# Losses in the second of three tracks count the source as one with gaps too.
name=${groups[0]%% *}
read -r dropped starts < <(surgery drop ${name}_ts.mp2 lossy_track2.mp2 188 0x0102 40 3)
log=$("$sondrik" -f lossy_track2.mp2 2>&1)
listed=$(grep -c '^gap: 1 packets lost' <<<"$log")
[ "$listed" -eq "$dropped" ] || fail "lossy_track2: $listed gap lines for $dropped packets dropped"
grep -q '^sondrik finished: 1 converted (1 with gaps or CRC errors)' <<<"$log" ||
  fail "lossy_track2: '$(grep '^sondrik finished' <<<"$log")' after $dropped packets lost in track 2"
gaps_compared+=" $listed/$dropped"

# A capture joined late: the first 100 kB gone, mid-packet and mid-pack
# (and at a pack: 100 KiB). It converts from its first whole frame, and every
# sample after that frame's is the full stream's.
frame_bytes=$((1152 * 4))
for cut in long_ts:100000 long_m2ts:100000 long_vob:100000 long_vob:102400; do
  source=${cut%:*} cut=${cut#*:}
  name=${source#long_}_cut_$cut
  tail -c +$((cut + 1)) $source.mp2 >$name.mp2
  "$sondrik" -q -f $name.mp2 >/dev/null 2>&1 || fail "$name: exit $?"
  samples=$(($(stat -c %s $name.wav) - 44))
  if [ $((samples % frame_bytes)) -ne 0 ] || [ $samples -lt $((2000 * frame_bytes)) ] ||
    ! cmp -s <(tail -c $((samples - frame_bytes)) $name.wav) <(tail -c $((samples - frame_bytes)) long.wav); then
    fail "$name: $samples bytes of samples, not the end of the full stream's"
  fi
done

# No MPEG audio: one line and no WAV.
ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 \
  -c:a ac3 $(mux_options ts) ac3_ts.mp2 -c:a aac $(mux_options ts) aac_ts.mp2 -c:a ac3 $(mux_options vob) ac3_vob.mp2 ||
  fail "ffmpeg could not make AC-3 and AAC"
while read -r name line; do
  out=$("$sondrik" $name.mp2 2>&1) && fail "$name: exit 0"
  grep -qF "ERR: $name.mp2 holds no MPEG audio track ($line" <<<"$out" || fail "$name: $(grep ERR <<<"$out")"
  [ -e $name.wav ] && fail "$name: a WAV file"
done <<'TABLE'
ac3_ts AC-3 on PID 0x0100)
aac_ts AAC on PID 0x0100)
ac3_vob AC-3 on stream 0x
TABLE

# Scrambled: the track's line and no WAV; the other tracks still convert.
surgery scramble s48_ts.mp2 scrambled.mp2 188 0x0100
out=$("$sondrik" scrambled.mp2 2>&1) && fail "scrambled: exit 0"
grep -qx 'ERR: track 1 (PID 0x0100) is scrambled; not converted' <<<"$out" || fail "scrambled: $(grep ERR <<<"$out")"
[ -e scrambled.wav ] && fail "scrambled: a WAV file"
out=$(cat scrambled.mp2 | "$sondrik" -c - 2>&1 >/dev/null) && fail "scrambled on standard input: exit 0"
grep -q '^ERR: .*is scrambled; not converted$' <<<"$out" ||
  fail "scrambled on standard input: $(grep ERR <<<"$out")"
read -r name first second third <<<"${groups[0]}"
surgery scramble ${name}_ts.mp2 scrambled3.mp2 188 0x0102
out=$("$sondrik" scrambled3.mp2 2>&1) && fail "scrambled3: exit 0"
grep -qx 'ERR: track 2 (PID 0x0102) is scrambled; not converted' <<<"$out" || fail "scrambled3: $(grep ERR <<<"$out")"
[ -e scrambled3.2.wav ] && fail "scrambled3: a WAV file for track 2"
cmp -s scrambled3.wav $first.wav && cmp -s scrambled3.3.wav $third.wav || fail "scrambled3: tracks 1 and 3"

# A bit error that sets one packet's scrambling bits costs that packet, as a
# lost one does, and not the whole track; a broadcast scrambled from the
# middle on keeps the part before, with the rest as a gap at its end.
surgery scramble-one s48_ts.mp2 flipped.mp2 188 0x0100
surgery drop-one s48_ts.mp2 dropped.mp2 188 0x0100
flipped=$("$sondrik" -f flipped.mp2 2>&1) || fail "one packet scrambled: exit $?"
dropped=$("$sondrik" -f dropped.mp2 2>&1)
grep -q '^gap: 1 packets lost at ' <<<"$flipped" && cmp -s flipped.wav dropped.wav &&
  [ "$(grep -v -e Converting -e 'wav file written' <<<"$flipped")" = \
    "$(grep -v -e Converting -e 'wav file written' <<<"$dropped")" ] ||
  { fail "one packet scrambled is not one packet lost"; echo "$flipped"; }
surgery scramble-rest s48_ts.mp2 rest.mp2 188 0x0100
out=$("$sondrik" -f rest.mp2 2>&1) || fail "scrambled from the middle: exit $?"
grep -Eq '^gap: [0-9]{2,} packets lost at [0-9:.]+ \(byte [0-9,]+ of the track\)$' <<<"$out" &&
  [ "$(stat -c %s rest.wav)" -lt "$(stat -c %s s48.wav)" ] || { fail "scrambled from the middle"; echo "$out"; }
# A program stream's PES header with its scrambling bits set by a bit error:
# its payload is as clear as the others'.
python3 - s48_vob.mp2 flipped_vob.mp2 <<'PY'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
starts = [i for i in range(len(data) - 7) if data[i:i + 4] == b'\x00\x00\x01\xc0' and data[i + 6] & 0xc0 == 0x80]
data[starts[len(starts) // 2] + 6] |= 0x30
open(sys.argv[2], 'wb').write(data)
PY
"$sondrik" -q -f s48_vob.mp2 flipped_vob.mp2 >/dev/null 2>&1 && cmp -s flipped_vob.wav s48_vob.wav ||
  fail "a program stream with one PES header's scrambling bits set"

# A second recording joined on, with its audio on another PID or stream id
# and the same program number: a track of its own. Past the first 4 MiB
# (with and without the tables, after a recording with no MPEG audio), from
# the byte it starts at. Its WAV is that recording's alone; one PES packet's
# PID or stream id damaged into another makes no track.
late=(-f lavfi -i sine=frequency=440:sample_rate=48000:duration=200)
ffmpeg -v error -y "${late[@]}" -ac 2 -c:a mp2 -b:a 192k $(mux_options ts) first_ts.mp2 \
  -ac 2 -c:a ac3 $(mux_options ts) first_ac3.mp2 -ac 2 -c:a mp2 -b:a 192k $(mux_options vob) first_vob.mp2 &&
  ffmpeg -v error -y -i s48.mp2 -c copy $(mux_options ts) -mpegts_pmt_start_pid 0x1100 -mpegts_start_pid 0x0200 \
    second_ts.mp2 -c copy $(mux_options vob) second_vob.mp2 || fail "ffmpeg could not make the joined recordings"
python3 - <<'PY'
def packets(name):
    data = open(name, 'rb').read()
    return [data[i:i + 188] for i in range(0, len(data), 188)]
def pid(p): return (p[1] & 0x1F) << 8 | p[2]
def read(name): return open(name, 'rb').read()
first, second = read('first_ts.mp2'), read('second_ts.mp2')
open('joined_ts.mp2', 'wb').write(first + second)
open('joined_short.mp2', 'wb').write(read('s48_ts.mp2') + second)
open('joined_ac3.mp2', 'wb').write(read('first_ac3.mp2') + second)
bare = [p for p in packets('first_ts.mp2') if pid(p) == 0x100]
open('first_bare.mp2', 'wb').write(b''.join(bare))
open('joined_bare.mp2', 'wb').write(b''.join(bare + [p for p in packets('second_ts.mp2') if pid(p) == 0x200]))
vob = read('second_vob.mp2').replace(b'\x00\x00\x01\xc0', b'\x00\x00\x01\xc1')
open('joined_vob.mp2', 'wb').write(read('first_vob.mp2') + vob)
# One PES packet's PID or stream id damaged, past the first 4 MiB or within.
for source, dest in (('first_ts.mp2', 'damaged_pid'), ('first_bare.mp2', 'damaged_bare')):
    damaged = bytearray(read(source))
    at = next(i for i in range(len(damaged) // 376 * 188 if dest == 'damaged_pid' else 0, len(damaged), 188)
              if damaged[i + 1] & 0x40 and pid(damaged[i:]) == 0x100)
    damaged[at + 2] = 0x01
    open(dest + '.mp2', 'wb').write(damaged)
vob = bytearray(read('first_vob.mp2'))
vob[vob.index(b'\x00\x00\x01\xc0', 100000) + 3] = 0xce
open('damaged_vob.mp2', 'wb').write(vob)
PY
"$sondrik" -q -f first_ts.mp2 first_vob.mp2 second_ts.mp2 second_vob.mp2 >/dev/null 2>&1 ||
  fail "the recordings to join did not convert"
while read -r name first number line; do
  out=$("$sondrik" -f $name.mp2 2>&1) || fail "$name: exit $?"
  grep -qx "track $number of $number: $line" <<<"$out" || { fail "$name: lines"; echo "$out"; }
  wav=$name.wav; [ $number = 2 ] && { cmp -s $name.wav $first.wav || fail "$name: track 1"; wav=$name.2.wav; }
  cmp -s $wav second_${first#*_}.wav || fail "$name: the recording joined on"
  "$sondrik" -q -f --track $number -o alone $name.mp2 >/dev/null 2>&1 && cmp -s alone/$name.wav $wav ||
    fail "$name: --track $number"
done <<'TABLE'
joined_ts first_ts 2 PID 0x0200, from byte [0-9]*
joined_short s48_ts 2 PID 0x0200
joined_bare first_ts 2 PID 0x0200, from byte [0-9]*
joined_vob first_vob 2 stream 0xC1, from byte [0-9]*
joined_ac3 first_ts 1 PID 0x0200, from byte [0-9]*
TABLE
for name in damaged_pid damaged_bare damaged_vob; do
  out=$("$sondrik" -f $name.mp2 2>&1)
  grep -q '^track [0-9]* of 3' <<<"$out" || grep -q '^track 2 of 2' <<<"$out" && fail "$name: $(grep '^track' <<<"$out")"
done

echo "$tracks_compared tracks compared; gap lines / packets dropped:$gaps_compared"
echo "$failures failures"
[ $failures -eq 0 ]
