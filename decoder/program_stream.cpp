#include "decoder/program_stream.h"

#include "decoder/pes_packet.h"

namespace {

constexpr uint8_t kPackStart = 0xBA;
constexpr uint8_t kEndCode = 0xB9;
constexpr uint8_t kSystemHeader = 0xBB;  // the first code with a length field
constexpr uint8_t kPrivateStream1 = 0xBD;
constexpr int32_t kMpeg1PackHeader = 12;
constexpr int32_t kMpeg2PackHeader = 14;  // and up to 7 bytes of stuffing
constexpr int32_t kPesPrefix = 6;

bool is_start_code(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 1; }

bool is_mpeg_audio(uint8_t stream_id) { return stream_id >= 0xC0 && stream_id <= 0xDF; }

// Private stream 1's sub-streams as DVD-Video numbers them; subpictures
// (0x20-0x3F) and the rest are no audio.
bool codec_of_substream(uint8_t substream, TrackCodec* codec) {
  if (substream >= 0x80 && substream <= 0x87) {
    *codec = TrackCodec::Ac3;
  } else if (substream >= 0x88 && substream <= 0x8F) {
    *codec = TrackCodec::Dts;
  } else if (substream >= 0xA0 && substream <= 0xA7) {
    *codec = TrackCodec::Lpcm;
  } else {
    return false;
  }
  return true;
}

// The size of the pack header at `p` (of `have` bytes, at least 5), 0 when it
// is cut short; an MPEG-1 header's marker bits are '0010', MPEG-2's '01'.
int32_t pack_header_size(const uint8_t* p, size_t have) {
  if ((p[4] & 0xC0) == 0x40) return have >= kMpeg2PackHeader ? kMpeg2PackHeader + (p[13] & 7) : 0;
  if ((p[4] & 0xF0) == 0x20) return kMpeg1PackHeader;
  return 4;  // no pack header after all: go past its start code only
}

// The track's place in the list, added if new; -1 when the list is full.
int32_t add_track(TrackList* list, uint16_t id, TrackCodec codec) {
  for (int32_t i = 0; i < list->count; ++i) {
    if (list->tracks[i].id == id) return i;
  }
  if (list->count == kMostTracks) return -1;
  TrackInfo& track = list->tracks[list->count++];
  track = TrackInfo{};
  track.id = id;
  track.codec = codec;
  return list->count - 1;
}

}  // namespace

void list_program_tracks(const uint8_t* bytes, size_t size, int32_t min_packets, TrackList* list) {
  // A track is scrambled when its PES packets are and none is clear: a bit
  // error in one header does not cost the whole recording.
  bool scrambled[kMostTracks] = {};
  bool clear[kMostTracks] = {};
  int32_t packets[kMostTracks] = {};
  const auto note = [&](int32_t i, bool packet_scrambled) {
    if (i < 0) return;
    packets[i] += 1;
    (packet_scrambled ? scrambled : clear)[i] = true;
    list->tracks[i].scrambled = scrambled[i] && !clear[i];
  };
  size_t at = 0;
  while (at + kPesPrefix <= size) {
    const uint8_t* p = bytes + at;
    if (!is_start_code(p)) {
      at += 1;
      continue;
    }
    const uint8_t code = p[3];
    if (code == kPackStart) {
      const int32_t pack = pack_header_size(p, size - at);
      if (pack == 0) break;
      at += static_cast<size_t>(pack);
      continue;
    }
    if (code < kSystemHeader) {
      at += code == kEndCode ? 4 : 3;
      continue;
    }
    const int32_t length = p[4] << 8 | p[5];
    const size_t packet_end = at + kPesPrefix + static_cast<size_t>(length);
    const int32_t have = static_cast<int32_t>((packet_end < size ? packet_end : size) - at);
    const int32_t header = pes_header_size(p, have);
    // MPEG-2 PES headers carry the scrambling bits.
    const bool scrambled = have > kPesPrefix && header > kPesPrefix && (p[6] & 0xC0) == 0x80 && (p[6] & 0x30) != 0;
    TrackCodec codec;
    if (is_mpeg_audio(code)) {
      note(add_track(list, code, TrackCodec::MpegAudio), scrambled);
    } else if (code == kPrivateStream1 && header > 0 && header < have && codec_of_substream(p[header], &codec)) {
      note(add_track(list, static_cast<uint16_t>(kPrivateStream1 << 8 | p[header]), codec), scrambled);
    }
    at = packet_end;
  }
  int32_t kept = 0;
  for (int32_t i = 0; i < list->count; ++i) {
    if (packets[i] >= min_packets) list->tracks[kept++] = list->tracks[i];
  }
  list->count = kept;
}

bool next_program_payload(Demuxer& d) {
  for (;;) {
    if (!skip_input(d)) return false;
    if (d.packet_left > 0) {
      if (!fill_input(d, 1)) return false;
      const int64_t here = d.data_end - d.cursor;
      const int32_t count = static_cast<int32_t>(here < d.packet_left ? here : d.packet_left);
      const int32_t used = take_pes_bytes(d, d.cursor, count);
      d.cursor += used;
      d.packet_left -= used;
      if (d.ready_end > d.ready_begin) return true;
      if (d.pes.stage == PesStage::Waiting) {
        d.skip_left = d.packet_left;
        d.packet_left = 0;
      }
      continue;
    }
    if (!fill_input(d, kPesPrefix)) return false;
    const uint8_t* p = d.input + d.cursor;
    const uint8_t code = p[3];
    // After bytes that are no packet, audio may hold what looks like a start
    // code: only a pack header puts a program stream back in step.
    if (!is_start_code(p) || (d.between_packs && code != kPackStart && d.format.kind == ContainerKind::Program)) {
      d.cursor += 1;
      d.between_packs = true;
      continue;
    }
    d.between_packs = false;
    if (code == kPackStart) {
      if (!fill_input(d, kMpeg2PackHeader)) return false;
      d.skip_left = pack_header_size(d.input + d.cursor, kMpeg2PackHeader);
    } else if (code < kSystemHeader) {
      d.skip_left = code == kEndCode ? 4 : 3;
    } else {
      const int32_t length = p[4] << 8 | p[5];
      if (code == d.track_id && length > 0) {
        start_pes(d.pes);
        d.packet_left = kPesPrefix + length;
      } else {
        // MPEG-2 headers carry the scrambling bits; MPEG-1 ones don't.
        if (is_mpeg_audio(code) && code != d.track_id && d.late != nullptr && d.data_end - d.cursor > kPesPrefix &&
            ((p[6] & 0xC0) != 0x80 || (p[6] & 0x30) == 0)) {
          note_audio_start(d, code, d.cursor);
        }
        d.skip_left = kPesPrefix + length;
      }
    }
  }
}
