// The demultiplexer over containers ffmpeg makes at test time from twolame
// and ffmpeg audio: each MPEG audio track comes out byte for byte as
// `ffmpeg -c copy` copies it out; lost, repeated and damaged packets are gaps
// or not; a capture cut short; tracks that are not MPEG audio; a scrambled PID.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>

#include "decoder/container_probe.h"
#include "decoder/demux.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes command_output(const std::string& command) {
  Bytes out;
  FILE* pipe = popen(command.c_str(), "r");
  uint8_t buffer[65536];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.insert(out.end(), buffer, buffer + n);
  pclose(pipe);
  return out;
}

bool have_tools() { return system("command -v ffmpeg >/dev/null && command -v twolame >/dev/null") == 0; }

// The streams the tests read, each made when first asked for: 20 s of
// twolame stereo at 384 kbit/s (over 5000 packets) alone in a transport
// stream; 3 s of it beside video and two ffmpeg tracks (44.1 and 32 kHz) in a
// transport stream, M2TS and VOB; alone in an MPEG-1 program stream; AC-3 and AAC.
const char kThree[] = "-f lavfi -i testsrc=size=160x120:rate=25 -i long.mp2 "
    "-f lavfi -i sine=frequency=660:sample_rate=44100 -f lavfi -i sine=frequency=880:sample_rate=32000 "
    "-map 0:v -map 1:a -map 2:a -map 3:a -t 3 -c:v mpeg2video -b:v 300k -c:a:0 copy -c:a:1 mp2 -c:a:2 mp2 "
    "-metadata:s:a:0 language=eng -metadata:s:a:1 language=deu";
const char kTone[] = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=2";
const std::map<std::string, std::string> kFfmpegArguments = {
    {"one.ts", "-i long.mp2 -c copy"},
    {"one.mpg", "-i long.mp2 -t 3 -c copy -f mpeg"},
    {"three.ts", std::string(kThree) + " -f mpegts"},
    {"three.m2ts", std::string(kThree) + " -f mpegts -mpegts_m2ts_mode 1"},
    {"three.vob", std::string(kThree) + " -f vob"},
    {"ac3.ts", std::string(kTone) + " -c:a ac3 -f mpegts"},
    {"aac.ts", std::string(kTone) + " -c:a aac -f mpegts"},
    {"ac3.vob", std::string(kTone) + " -c:a ac3 -f vob"},
    {"mixed.ts", std::string(kTone) + " -i long.mp2 -t 2 -map 1:a -map 0:a -map 0:a -c:a:0 copy -c:a:1 ac3 "
                                      "-c:a:2 aac -f mpegts"},
};

struct Streams {
  ScratchDir dir;
  std::string path(const std::string& name) const { return dir.path() + "/" + name; }
  Streams() {
    const std::string ff = "cd '" + dir.path() + "' && ffmpeg -nostdin -v error -y ";
    if (system((ff + "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=20 -ac 2 long.wav && "
                     "twolame --quiet -b 384 long.wav long.mp2").c_str()) != 0) {
      throw std::runtime_error("ffmpeg or twolame failed");
    }
  }
  Bytes operator[](const std::string& name) const {
    const auto arguments = kFfmpegArguments.find(name);
    if (arguments != kFfmpegArguments.end() && !file_exists(path(name)) &&
        system(("cd '" + dir.path() + "' && ffmpeg -nostdin -v error " + arguments->second + " " + name).c_str()) != 0) {
      throw std::runtime_error("ffmpeg failed to make " + name);
    }
    return read_file(path(name));
  }
};

const Streams& streams() {
  static const Streams made;
  return made;
}

// A source that hands out uneven pieces, as a pipe does, and fails at fail_at.
struct MemorySource {
  const Bytes* bytes;
  size_t at;
  uint32_t piece;
  size_t fail_at;
};

bool read_memory(void* context, uint8_t* buffer, uint32_t wanted, uint32_t* got) {
  MemorySource* source = static_cast<MemorySource*>(context);
  if (source->at >= source->fail_at) return false;
  size_t count = std::min<size_t>({wanted, source->piece, source->bytes->size() - source->at});
  memcpy(buffer, source->bytes->data() + source->at, count);
  source->at += count;
  source->piece = source->piece * 7 % 30011 + 1;
  *got = static_cast<uint32_t>(count);
  return true;
}

struct Extracted {
  Bytes stream;
  std::vector<TrackGap> gaps;
  int64_t gap_count;
  int64_t scrambled_packets;
  int32_t last_result;
};

Extracted extract(const Bytes& container, uint16_t id, size_t fail_at = SIZE_MAX) {
  const ContainerFormat format = probe_container(container.data(), container.size());
  MemorySource source{&container, 0, 1, fail_at};
  Demuxer d;
  start_demux(d, format, id, read_memory, &source);
  Extracted out;
  uint8_t piece[5000];
  for (int32_t wanted = 1;; wanted = wanted * 5 % 4999 + 1) {
    out.last_result = read_track(d, piece, wanted);
    if (out.last_result <= 0) break;
    out.stream.insert(out.stream.end(), piece, piece + out.last_result);
    for (TrackGap gap; take_gap(d, &gap);) out.gaps.push_back(gap);
  }
  EXPECT_EQ(d.track_bytes, static_cast<int64_t>(out.stream.size()));
  if (fail_at == SIZE_MAX) {
    EXPECT_EQ(d.container_bytes, static_cast<int64_t>(container.size()));
  }
  out.gap_count = d.gap_count;
  out.scrambled_packets = d.scrambled_packets;
  return out;
}

TrackList tracks_of(const Bytes& container) {
  TrackList list;
  list_tracks(probe_container(container.data(), container.size()), container.data(), container.size(), &list);
  return list;
}

std::vector<uint16_t> mpeg_audio_ids(const Bytes& container) {
  const TrackList list = tracks_of(container);
  std::vector<uint16_t> ids;
  for (int32_t i = 0; i < list.count; ++i) {
    if (list.tracks[i].codec == TrackCodec::MpegAudio) ids.push_back(list.tracks[i].id);
  }
  return ids;
}

// Each 188-byte packet of a transport stream with 16 bytes after it, sync bytes among them.
Bytes with_fec_bytes(const Bytes& ts) {
  Bytes out;
  for (size_t at = 0; at + 188 <= ts.size(); at += 188) {
    out.insert(out.end(), ts.begin() + at, ts.begin() + at + 188);
    out.insert(out.end(), 16, 0x47);
  }
  return out;
}

Bytes from(const Bytes& bytes, size_t offset) { return Bytes(bytes.begin() + offset, bytes.end()); }

uint16_t pid_of(const uint8_t* packet) { return static_cast<uint16_t>((packet[1] & 0x1F) << 8 | packet[2]); }

// The elementary bytes a transport packet carries: its payload after any PES header.
size_t elementary_bytes(const uint8_t* packet) {
  size_t at = (packet[3] & 0x20) ? 5 + packet[4] : 4;
  if (packet[1] & 0x40) at += 9 + packet[at + 8];
  return 188 - at;
}

TEST(Demux, RecognisesEachContainerFromItsFirstBytes) {
  if (!have_tools()) GTEST_SKIP() << "ffmpeg or twolame is not installed";
  const Streams& s = streams();
  const Bytes mpeg1 = s["one.mpg"];
  const Bytes ts = s["one.ts"];
  const uint8_t audio_pes[] = {0, 0, 1, 0xC0};
  const size_t first_pes = std::search(mpeg1.begin(), mpeg1.end(), audio_pes, audio_pes + 4) - mpeg1.begin();
  const struct {
    const char* name;
    Bytes bytes;
    ContainerKind kind;
    int32_t packet_size, sync_offset, start;
  } cases[] = {
      {"transport stream", ts, ContainerKind::Transport, 188, 0, 0},
      {"cut mid-packet", from(ts, 100003), ContainerKind::Transport, 188, 0, 188 - 100003 % 188},
      {"M2TS", s["three.m2ts"], ContainerKind::Transport, 192, 4, 0},
      {"M2TS cut inside a time code", from(s["three.m2ts"], 2), ContainerKind::Transport, 192, 4, 190},
      {"with FEC", with_fec_bytes(s["three.ts"]), ContainerKind::Transport, 204, 0, 0},
      {"MPEG-2 program stream", s["three.vob"], ContainerKind::Program, 0, 0, 0},
      {"MPEG-1 program stream", mpeg1, ContainerKind::Program, 0, 0, 0},
      {"PES packets", from(mpeg1, first_pes), ContainerKind::Pes, 0, 0, 0},
      {"MP2", s["long.mp2"], ContainerKind::Elementary, 0, 0, 0},
      {"188 bytes only", Bytes(ts.begin(), ts.begin() + 188), ContainerKind::Elementary, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ContainerFormat format = probe_container(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(format.kind, c.kind);
    EXPECT_EQ(format.packet_size, c.packet_size);
    EXPECT_EQ(format.sync_offset, c.sync_offset);
    EXPECT_EQ(format.start, c.start);
  }
}

TEST(Demux, NamesOtherFormatsByTheirMagicBytes) {
  if (!have_tools()) GTEST_SKIP() << "ffmpeg or twolame is not installed";
  const struct {
    const char* args;
    const char* name;
  } cases[] = {{"-f wav", "WAV"}, {"-c:a flac -f flac", "FLAC"}, {"-c:a flac -f ogg", "Ogg"},
               {"-c:a aac -f mp4 -movflags frag_keyframe+empty_moov", "MP4"}, {"-c:a mp2 -f mp2", nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Bytes file = command_output("ffmpeg -nostdin -v error -f lavfi -i sine=duration=0.1 " +
                                      std::string(c.args) + " -");
    ASSERT_GT(file.size(), 12u);
    const char* name = foreign_format_name(file.data(), file.size());
    EXPECT_STREQ(name, c.name);
  }
}

TEST(Demux, EachMpegAudioTrackComesOutAsFfmpegCopiesIt) {
  if (!have_tools()) GTEST_SKIP() << "ffmpeg or twolame is not installed";
  const Streams& s = streams();
  const struct {
    const char* file;
    Bytes bytes;
    size_t tracks;
  } cases[] = {
      {"one.ts", s["one.ts"], 1},       {"three.ts", s["three.ts"], 3},
      {"three.m2ts", s["three.m2ts"], 3}, {"three.ts", with_fec_bytes(s["three.ts"]), 3},
      {"three.vob", s["three.vob"], 3}, {"one.mpg", s["one.mpg"], 1},
  };
  for (const auto& c : cases) {
    const std::vector<uint16_t> ids = mpeg_audio_ids(c.bytes);
    ASSERT_EQ(ids.size(), c.tracks) << c.file;
    for (size_t n = 0; n < ids.size(); ++n) {
      SCOPED_TRACE(std::string(c.file) + " track " + std::to_string(n) + " of " + std::to_string(c.bytes.size()));
      const Bytes copied = command_output("ffmpeg -nostdin -v error -i '" + s.path(c.file) + "' -map 0:a:" +
                                          std::to_string(n) + " -c copy -f mp2 -");
      const Extracted ours = extract(c.bytes, ids[n]);
      ASSERT_GT(copied.size(), 10000u);
      EXPECT_TRUE(ours.stream == copied) << ours.stream.size() << " bytes against " << copied.size();
      EXPECT_EQ(ours.gap_count, 0);
    }
  }
  const TrackList three = tracks_of(s["three.ts"]);
  EXPECT_STREQ(three.tracks[0].language, "eng");
  EXPECT_STREQ(three.tracks[1].language, "deu");
  EXPECT_STREQ(three.tracks[2].language, "");
}

TEST(Demux, LostDamagedAndRepeatedPacketsOfTheTrack) {
  if (!have_tools()) GTEST_SKIP() << "ffmpeg or twolame is not installed";
  const Bytes ts = streams()["one.ts"];
  const uint16_t pid = mpeg_audio_ids(ts).at(0);
  const Bytes clean = extract(ts, pid).stream;
  enum Change { Drop, MarkDamaged, Repeat };
  const struct {
    const char* name;
    Change change;
  } cases[] = {{"one packet in 1000 dropped", Drop}, {"one in 1000 with the error flag", MarkDamaged},
               {"one in 1000 sent twice", Repeat}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes changed;
    std::vector<size_t> lost_bytes;
    size_t hits = 0;
    bool due = false;
    for (size_t at = 0, k = 0; at + 188 <= ts.size(); at += 188) {
      Bytes packet(ts.begin() + at, ts.begin() + at + 188);
      const bool ours = pid_of(packet.data()) == pid;
      if (ours && ++k % 1000 == 0) due = true;
      // Every other time the next packet that starts a PES packet, header and all.
      const bool hit = due && ours && (k / 1000 % 2 == 1 || (packet[1] & 0x40) != 0);
      due = due && !hit;
      hits += hit;
      if (hit && c.change != Repeat) lost_bytes.push_back(elementary_bytes(packet.data()));
      if (hit && c.change == MarkDamaged) packet[1] |= 0x80;
      if (!hit || c.change != Drop) changed.insert(changed.end(), packet.begin(), packet.end());
      if (hit && c.change == Repeat) changed.insert(changed.end(), packet.begin(), packet.end());
    }
    const Extracted ours = extract(changed, pid);
    ASSERT_EQ(ours.gaps.size(), lost_bytes.size());
    EXPECT_EQ(ours.gap_count, static_cast<int64_t>(lost_bytes.size()));
    EXPECT_GE(hits, 5u);
    // The clean stream with each lost packet's bytes cut out where its gap says.
    Bytes expected;
    size_t taken = 0;
    size_t removed = 0;
    for (size_t i = 0; i < ours.gaps.size(); ++i) {
      EXPECT_EQ(ours.gaps[i].packets_lost, 1);
      const size_t cut = static_cast<size_t>(ours.gaps[i].at) + removed;
      ASSERT_LE(cut, clean.size());
      expected.insert(expected.end(), clean.begin() + taken, clean.begin() + cut);
      taken = cut + lost_bytes[i];
      removed += lost_bytes[i];
    }
    expected.insert(expected.end(), clean.begin() + taken, clean.end());
    EXPECT_TRUE(ours.stream == expected) << ours.stream.size() << " bytes against " << expected.size();
  }
}

TEST(Demux, ACaptureCutShortStartsAtTheTracksNextUnitStart) {
  if (!have_tools()) GTEST_SKIP() << "ffmpeg or twolame is not installed";
  const struct {
    const char* file;
    size_t cut;
  } cases[] = {{"one.ts", 100003}, {"three.m2ts", 50001}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const Bytes whole = streams()[c.file];
    const uint16_t id = mpeg_audio_ids(whole).at(0);
    const Bytes clean = extract(whole, id).stream;
    const Extracted ours = extract(from(whole, c.cut), id);
    ASSERT_GT(ours.stream.size(), clean.size() / 2);
    EXPECT_TRUE(std::equal(ours.stream.begin(), ours.stream.end(), clean.end() - ours.stream.size()));
    EXPECT_TRUE(ours.stream[0] == 0xFF && (ours.stream[1] & 0xF0) == 0xF0);
    EXPECT_EQ(ours.gap_count, 0);
  }
}

TEST(Demux, ListsAudioTracksThatAreNotMpegAudio) {
  if (!have_tools()) GTEST_SKIP() << "ffmpeg or twolame is not installed";
  const struct {
    const char* file;
    std::vector<TrackCodec> codecs;
    std::vector<uint16_t> ids;
  } cases[] = {
      {"ac3.ts", {TrackCodec::Ac3}, {0x100}},
      {"aac.ts", {TrackCodec::Aac}, {0x100}},
      {"ac3.vob", {TrackCodec::Ac3}, {0xBD80}},
      {"mixed.ts", {TrackCodec::MpegAudio, TrackCodec::Ac3, TrackCodec::Aac}, {0x100, 0x101, 0x102}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const TrackList list = tracks_of(streams()[c.file]);
    ASSERT_EQ(static_cast<size_t>(list.count), c.codecs.size());
    for (size_t i = 0; i < c.codecs.size(); ++i) {
      EXPECT_EQ(list.tracks[i].codec, c.codecs[i]) << track_codec_name(list.tracks[i].codec);
      EXPECT_EQ(list.tracks[i].id, c.ids[i]);
      EXPECT_FALSE(list.tracks[i].scrambled);
    }
  }
}

TEST(Demux, AScrambledPidIsMarkedAndGivesNoBytes) {
  if (!have_tools()) GTEST_SKIP() << "ffmpeg or twolame is not installed";
  Bytes ts = streams()["three.ts"];
  const std::vector<uint16_t> ids = mpeg_audio_ids(ts);
  const Bytes second_clean = extract(ts, ids[1]).stream;
  int64_t scrambled = 0;
  for (size_t at = 0; at + 188 <= ts.size(); at += 188) {
    if (pid_of(&ts[at]) != ids[0]) continue;
    ts[at + 3] = static_cast<uint8_t>((ts[at + 3] & 0x3F) | 0x80);  // even key
    scrambled += 1;
  }
  const TrackList list = tracks_of(ts);
  for (int32_t i = 0; i < list.count; ++i) EXPECT_EQ(list.tracks[i].scrambled, list.tracks[i].id == ids[0]) << i;
  const Extracted first = extract(ts, ids[0]);
  EXPECT_TRUE(first.stream.empty());
  EXPECT_EQ(first.scrambled_packets, scrambled);
  EXPECT_TRUE(extract(ts, ids[1]).stream == second_clean);
}

TEST(Demux, AReadThatFailsEndsTheTrackWithMinusOne) {
  if (!have_tools()) GTEST_SKIP() << "ffmpeg or twolame is not installed";
  const Bytes ts = streams()["one.ts"];
  const Extracted ours = extract(ts, mpeg_audio_ids(ts).at(0), 50000);
  EXPECT_EQ(ours.last_result, -1);
  EXPECT_GT(ours.stream.size(), 40000u);
}

}  // namespace
