#!/usr/bin/env bash
# Makes the demultiplexer fuzzer's seeds in fuzz/seeds/demux/ with ffmpeg
# and byte surgery in perl: a fifth of a second of each container, under
# 20 KB. README.md there says what each exercises.
set -euo pipefail
out="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/seeds/demux"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

ff() { ffmpeg -nostdin -v error -y "$@"; }
tone() { echo "-f lavfi -i sine=frequency=$1:sample_rate=$2:duration=0.2"; }
video="-f lavfi -i testsrc=size=32x32:rate=5:duration=0.2"
# shellcheck disable=SC2046
{
  ff $(tone 440 48000) -c:a mp2 -b:a 64k -f mpegts "$out/ts_one_track.ts"
  ff $video $(tone 440 48000) $(tone 660 32000) -map 0 -map 1 -map 2 -c:v mpeg2video -c:a mp2 -b:a 64k \
    -metadata:s:a:0 language=eng -f mpegts ts_video_two_tracks.ts
  ff $video $(tone 440 48000) -map 0 -map 1 -c:v mpeg2video -c:a mp2 -b:a 64k -f mpegts -mpegts_m2ts_mode 1 \
    "$out/m2ts_video_track.m2ts"
  ff $(tone 440 48000) $(tone 660 48000) $(tone 880 48000) -map 0 -map 1 -map 2 -c:a:0 mp2 -c:a:1 ac3 \
    -c:a:2 aac -b:a 64k -f mpegts "$out/ts_mp2_ac3_aac.ts"
  ff $(tone 440 48000) -c:a mp2 -b:a 64k -f mpeg mpeg1.mpg
  ff $video $(tone 440 48000) $(tone 660 48000) -map 0 -map 1 -map 2 -c:v mpeg2video -c:a:0 mp2 -c:a:1 ac3 \
    -b:a 64k -f vob "$out/vob_mp2_ac3.vob"
}
cp ts_video_two_tracks.ts mpeg1.mpg "$out/"
# 16 bytes of FEC behind each packet.
perl -0777 -ne 'print map { $_ . ("\x47" x 16) } unpack("(a188)*", $_)' ts_video_two_tracks.ts >"$out/ts_fec_204.ts"
# The first audio PID's packets scrambled, and a repeat, a loss and an error flag among them.
perl -0777 -ne '
  my @p = unpack("(a188)*", $_); my ($n, @o) = (0);
  for my $p (@p) {
    my $pid = (ord(substr($p, 1, 1)) & 0x1F) << 8 | ord(substr($p, 2, 1));
    if ($pid == 0x101) {
      $n++;
      next if $n == 4;
      substr($p, 1, 1) = chr(ord(substr($p, 1, 1)) | 0x80) if $n == 6;
      substr($p, 3, 1) = chr(ord(substr($p, 3, 1)) | 0x80) if $n >= 8;
      push @o, $p if $n == 2;
    }
    push @o, $p;
  }
  print @o' ts_video_two_tracks.ts >"$out/ts_repeat_loss_error_scrambled.ts"
tail -c +1000 ts_video_two_tracks.ts >"$out/ts_cut_mid_packet.ts"
# PES packets without packs: from the MPEG-1 program stream's first audio packet on.
perl -0777 -ne 'print substr($_, index($_, "\x00\x00\x01\xC0"))' mpeg1.mpg >"$out/pes_packets.bin"
ls -l "$out"
