#include "decoder/transport_stream.h"

#include <cstring>

#include "decoder/pes_packet.h"

namespace {

constexpr int32_t kTsPacketSize = 188;
constexpr uint8_t kSyncByte = 0x47;
constexpr uint16_t kPatPid = 0;
constexpr uint8_t kPatTableId = 0x00;
constexpr uint8_t kPmtTableId = 0x02;
constexpr int32_t kLongestSection = 1024;
constexpr int32_t kSectionHeader = 3;  // table id and the 12-bit length
constexpr int32_t kCrcSize = 4;
constexpr int kMostPrograms = 32;

struct TsPacket {
  uint16_t pid;
  bool error;
  bool unit_start;
  bool discontinuity;
  uint8_t scrambling;
  uint8_t cc;
  int32_t payload;       // where the payload starts in the packet
  int32_t payload_size;  // 0 when the packet carries none
};

TsPacket read_ts_packet(const uint8_t* p) {
  TsPacket t;
  t.error = (p[1] & 0x80) != 0;
  t.unit_start = (p[1] & 0x40) != 0;
  t.pid = static_cast<uint16_t>((p[1] & 0x1F) << 8 | p[2]);
  t.scrambling = p[3] >> 6;
  t.cc = p[3] & 0x0F;
  const int control = p[3] >> 4 & 3;
  t.payload = 4;
  t.discontinuity = false;
  if (control & 2) {
    t.discontinuity = p[4] > 0 && (p[5] & 0x80) != 0;
    t.payload = 5 + p[4];
  }
  t.payload_size = (control & 1) && t.payload < kTsPacketSize ? kTsPacketSize - t.payload : 0;
  return t;
}

// Calls visit(packet) for each packet in memory until it returns false; after
// a byte that is no sync byte, the next one that is.
template <class Visit>
void for_each_packet(const ContainerFormat& format, const uint8_t* bytes, size_t size, Visit visit) {
  size_t at = static_cast<size_t>(format.start);
  while (at + static_cast<size_t>(format.packet_size) <= size) {
    const uint8_t* packet = bytes + at + format.sync_offset;
    if (packet[0] != kSyncByte) {
      at += 1;
      continue;
    }
    if (!visit(packet)) return;
    at += static_cast<size_t>(format.packet_size);
  }
}

// The CRC of PSI sections: polynomial 0x04C11DB7, no reflection, zero over a
// whole section with its CRC field. Bit by bit: sections are few.
bool section_crc_holds(const uint8_t* section, int32_t length) {
  uint32_t crc = 0xFFFFFFFF;
  for (int32_t i = 0; i < length; ++i) {
    crc ^= static_cast<uint32_t>(section[i]) << 24;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
  }
  return crc == 0;
}

struct SectionGather {
  uint8_t bytes[kLongestSection];
  int32_t have;
  bool open;
};

// The section's full length once its header is in, else the header's.
int32_t section_length(const SectionGather& s) {
  if (s.have < kSectionHeader) return kSectionHeader;
  return kSectionHeader + ((s.bytes[1] & 0x0F) << 8 | s.bytes[2]);
}

// Adds of data[*at, end) what the open section still needs; true when it is
// whole. A length past the longest section closes it.
bool add_to_section(SectionGather& s, const uint8_t* data, int32_t* at, int32_t end) {
  for (;;) {
    const int32_t length = section_length(s);
    if (length > kLongestSection) {
      s.open = false;
      return false;
    }
    if (s.have == length) return true;
    if (*at == end) return false;
    int32_t take = length - s.have;
    if (take > end - *at) take = end - *at;
    memcpy(s.bytes + s.have, data + *at, static_cast<size_t>(take));
    s.have += take;
    *at += take;
  }
}

// Calls take(section, length) for each whole section of `pid` whose CRC
// holds, until it returns true.
template <class Take>
void scan_sections(const ContainerFormat& format, const uint8_t* bytes, size_t size, uint16_t pid, Take take) {
  SectionGather s;
  s.open = false;
  s.have = 0;
  auto deliver = [&]() {
    s.open = false;
    const int32_t length = section_length(s);
    return length >= 8 + kCrcSize && section_crc_holds(s.bytes, length) && take(s.bytes, length);
  };
  for_each_packet(format, bytes, size, [&](const uint8_t* packet) {
    const TsPacket t = read_ts_packet(packet);
    if (t.pid != pid || t.error || t.payload_size == 0) return true;
    const uint8_t* data = packet + t.payload;
    const int32_t end = t.payload_size;
    int32_t at = 0;
    if (t.unit_start) {
      // The pointer field: the bytes before the first new section end the open one.
      const int32_t first = 1 + data[0];
      if (first > end) {
        s.open = false;
        return true;
      }
      at = 1;
      if (s.open && add_to_section(s, data, &at, first) && deliver()) return false;
      s.open = false;
      at = first;
    } else if (!s.open) {
      return true;
    }
    for (;;) {
      if (!s.open) {
        // Sections may follow one another in a packet up to stuffing.
        if (!t.unit_start || at >= end || data[at] == 0xFF) return true;
        s.open = true;
        s.have = 0;
      }
      if (!add_to_section(s, data, &at, end)) return true;
      if (deliver()) return false;
    }
  });
}

// Audio by stream type: ISO/IEC 13818-1 (MPEG-1 and -2 audio, AAC in ADTS
// and LATM) and ATSC A/52 (AC-3, E-AC-3).
bool codec_of_stream_type(uint8_t type, TrackCodec* codec) {
  switch (type) {
    case 0x03: case 0x04: *codec = TrackCodec::MpegAudio; return true;
    case 0x0F: case 0x11: *codec = TrackCodec::Aac; return true;
    case 0x81: *codec = TrackCodec::Ac3; return true;
    case 0x87: *codec = TrackCodec::EnhancedAc3; return true;
    default: return false;
  }
}

// Audio in private PES (type 0x06), by DVB descriptor (EN 300 468: 0x6A
// AC-3, 0x7A E-AC-3, 0x7B DTS, 0x7C AAC) or registration descriptor (0x05).
bool codec_of_descriptor(uint8_t tag, const uint8_t* body, int32_t length, TrackCodec* codec) {
  switch (tag) {
    case 0x6A: *codec = TrackCodec::Ac3; return true;
    case 0x7A: *codec = TrackCodec::EnhancedAc3; return true;
    case 0x7B: *codec = TrackCodec::Dts; return true;
    case 0x7C: *codec = TrackCodec::Aac; return true;
    default: break;
  }
  if (tag != 0x05 || length < 4) return false;
  struct Registration {
    char id[5];
    TrackCodec codec;
  };
  static const Registration kRegistrations[] = {{"AC-3", TrackCodec::Ac3},  {"EAC3", TrackCodec::EnhancedAc3},
                                                {"DTS1", TrackCodec::Dts},  {"DTS2", TrackCodec::Dts},
                                                {"DTS3", TrackCodec::Dts},  {"Opus", TrackCodec::Opus}};
  for (const Registration& r : kRegistrations) {
    if (memcmp(body, r.id, 4) == 0) {
      *codec = r.codec;
      return true;
    }
  }
  return false;
}

// False when the PID is listed already or the list is full.
bool add_track(TrackList* list, const TrackInfo& track) {
  for (int32_t i = 0; i < list->count; ++i) {
    if (list->tracks[i].id == track.id) return false;
  }
  if (list->count == kMostTracks) return false;
  list->tracks[list->count++] = track;
  return true;
}

bool is_letter(uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// One elementary stream entry of a PMT: the track when it is audio, or may be.
enum class Entry { NotAudio, Audio, AudioIfMpegStreamId };
Entry describe_track(uint8_t type, const uint8_t* descriptors, int32_t length, TrackInfo* track) {
  bool audio = codec_of_stream_type(type, &track->codec);
  for (int32_t at = 0; at + 2 <= length;) {
    const uint8_t tag = descriptors[at];
    const int32_t size = descriptors[at + 1];
    const uint8_t* body = descriptors + at + 2;
    if (at + 2 + size > length) break;
    if (tag == 0x0A && size >= 3 && is_letter(body[0]) && is_letter(body[1]) && is_letter(body[2])) {
      memcpy(track->language, body, 3);
      track->language[3] = '\0';
    }
    if (!audio && type == 0x06) audio = codec_of_descriptor(tag, body, size, &track->codec);
    at += 2 + size;
  }
  if (audio) return Entry::Audio;
  // M2TS files carry MPEG audio as private data with nothing to say so but
  // the PES packets' stream id.
  return type == 0x06 ? Entry::AudioIfMpegStreamId : Entry::NotAudio;
}

// Tracks whose PES stream id decides whether they are MPEG audio.
struct Undecided {
  bool by_stream_id[kMostTracks];
  bool mpeg_stream_id[kMostTracks];
};

void add_pmt_tracks(const uint8_t* section, int32_t length, TrackList* list, Undecided* undecided) {
  const uint16_t program = static_cast<uint16_t>(section[3] << 8 | section[4]);
  const int32_t end = length - kCrcSize;
  int32_t at = 12 + ((section[10] & 0x0F) << 8 | section[11]);
  while (at + 5 <= end) {
    const uint8_t type = section[at];
    const uint16_t pid = static_cast<uint16_t>((section[at + 1] & 0x1F) << 8 | section[at + 2]);
    const int32_t info_length = (section[at + 3] & 0x0F) << 8 | section[at + 4];
    if (at + 5 + info_length > end) return;
    TrackInfo track{};
    track.id = pid;
    track.program = program;
    track.stream_type = type;
    track.codec = TrackCodec::MpegAudio;
    const Entry entry = describe_track(type, section + at + 5, info_length, &track);
    if (entry != Entry::NotAudio && add_track(list, track)) {
      undecided->by_stream_id[list->count - 1] = entry == Entry::AudioIfMpegStreamId;
    }
    at += 5 + info_length;
  }
}

struct Program {
  uint16_t number;
  uint16_t pmt_pid;
};

// A PES packet starts in the clear here.
bool starts_clear_pes(const TsPacket& t, const uint8_t* packet) {
  const uint8_t* data = packet + t.payload;
  return t.unit_start && !t.error && t.scrambling == 0 && t.payload_size >= 4 && data[0] == 0 && data[1] == 0 &&
         data[2] == 1;
}

bool starts_mpeg_audio_pes(const TsPacket& t, const uint8_t* packet) {
  const uint8_t* data = packet + t.payload;
  return starts_clear_pes(t, packet) && data[3] >= 0xC0 && data[3] <= 0xDF;
}

// Marks scrambled tracks; settles the undecided by their stream ids; without
// a PMT, lists the PIDs whose PES packets are MPEG audio. A track is
// scrambled when its packets are and none of its PES packets starts in the
// clear: a damaged capture whose scrambling bits a bit error set here and
// there is still converted, the damaged packets left out.
void check_track_packets(const ContainerFormat& format, const uint8_t* bytes, size_t size, bool pmt_found,
                         int32_t min_packets, TrackList* list, Undecided* undecided) {
  bool scrambled[kMostTracks] = {};
  bool clear[kMostTracks] = {};
  int32_t audio_starts[kMostTracks] = {};
  for_each_packet(format, bytes, size, [&](const uint8_t* packet) {
    const TsPacket t = read_ts_packet(packet);
    if (!pmt_found && starts_mpeg_audio_pes(t, packet)) {
      TrackInfo track{};
      track.id = t.pid;
      track.codec = TrackCodec::MpegAudio;
      add_track(list, track);
    }
    for (int32_t i = 0; i < list->count; ++i) {
      if (list->tracks[i].id != t.pid || t.error) continue;
      if (t.scrambling != 0) scrambled[i] = true;
      if (starts_clear_pes(t, packet)) clear[i] = true;
      if (starts_mpeg_audio_pes(t, packet)) {
        undecided->mpeg_stream_id[i] = true;
        audio_starts[i] += 1;
      }
    }
    return true;
  });
  for (int32_t i = 0; i < list->count; ++i) list->tracks[i].scrambled = scrambled[i] && !clear[i];
  int32_t kept = 0;
  for (int32_t i = 0; i < list->count; ++i) {
    const bool kept_by_pmt = pmt_found && (!undecided->by_stream_id[i] || undecided->mpeg_stream_id[i]);
    if (kept_by_pmt || (!pmt_found && audio_starts[i] >= min_packets)) list->tracks[kept++] = list->tracks[i];
  }
  list->count = kept;
}

bool next_sync_follows(Demuxer& d) {
  // Where the input ends before the next packet, this one goes on its own sync byte.
  if (!fill_input(d, 2 * d.format.packet_size)) return true;
  return d.input[d.cursor + d.format.packet_size + d.format.sync_offset] == kSyncByte;
}

uint32_t payload_sum(const uint8_t* p, int32_t size) {
  uint32_t sum = 2166136261u;  // FNV-1a
  for (int32_t i = 0; i < size; ++i) sum = (sum ^ p[i]) * 16777619u;
  return sum;
}

void lose_packets(Demuxer& d, int32_t lost) {
  if (d.unit_started) note_gap(d, lost);
  // A header cut short is no use; payload after a lost unit start is still
  // the track's, but the lost packet's length no longer tells where it ends.
  if (d.pes.stage == PesStage::Header) {
    d.pes.stage = PesStage::Waiting;
  } else if (d.unit_started) {
    d.pes.stage = PesStage::Payload;
  }
  d.pes.left = -1;
}

// True when the packet at input[at] gave the track payload.
bool take_transport_packet(Demuxer& d, int32_t at) {
  const uint8_t* p = d.input + at;
  const TsPacket t = read_ts_packet(p);
  // A damaged packet may carry any PID: it is left out, and the continuity
  // counter of the next says whether it was the track's.
  if (t.pid != d.track_id && d.late != nullptr && starts_mpeg_audio_pes(t, p)) {
    note_audio_start(d, t.pid, at - d.format.sync_offset);
  }
  if (t.error || t.pid != d.track_id || t.payload_size == 0) return false;
  const uint32_t sum = payload_sum(p + t.payload, t.payload_size);
  if (d.last_cc >= 0 && !t.discontinuity) {
    const int32_t lost = (t.cc - d.last_cc - 1) & 15;
    if (lost == 15 && sum == d.last_payload_sum) return false;  // a repeated packet
    if (lost > 0) lose_packets(d, lost);
  }
  d.last_cc = t.cc;
  d.last_payload_sum = sum;
  if (t.scrambling != 0) {
    d.scrambled_packets += 1;
    // A track that gave clear audio loses the payload as if the packet were
    // lost (a bit error, or the end of a clear broadcast).
    if (d.unit_started) {
      lose_packets(d, 1);
    } else {
      d.pes.stage = PesStage::Waiting;
    }
    return false;
  }
  if (t.unit_start) start_pes(d.pes);
  take_pes_bytes(d, at + t.payload, t.payload_size);
  return d.ready_end > d.ready_begin;
}

}  // namespace

void list_transport_tracks(const ContainerFormat& format, const uint8_t* bytes, size_t size, int32_t min_packets,
                           TrackList* list) {
  Program programs[kMostPrograms];
  int program_count = 0;
  scan_sections(format, bytes, size, kPatPid, [&](const uint8_t* s, int32_t length) {
    if (s[0] != kPatTableId) return false;
    for (int32_t at = 8; at + 4 <= length - kCrcSize; at += 4) {
      const Program found{static_cast<uint16_t>(s[at] << 8 | s[at + 1]),
                          static_cast<uint16_t>((s[at + 2] & 0x1F) << 8 | s[at + 3])};
      // Program 0 points at the network table. A program whose PMT moves (a
      // second recording joined on) is looked for on both PIDs.
      bool known = found.number == 0;
      for (int i = 0; i < program_count; ++i) {
        known = known || (programs[i].number == found.number && programs[i].pmt_pid == found.pmt_pid);
      }
      if (!known && program_count < kMostPrograms) programs[program_count++] = found;
    }
    return false;  // a long PAT has more sections, a changed one new programs
  });

  bool pmt_found = false;
  Undecided undecided{};
  for (int i = 0; i < program_count; ++i) {
    scan_sections(format, bytes, size, programs[i].pmt_pid, [&](const uint8_t* s, int32_t length) {
      if (s[0] != kPmtTableId || (s[3] << 8 | s[4]) != programs[i].number || length < 12 + kCrcSize) return false;
      add_pmt_tracks(s, length, list, &undecided);
      pmt_found = true;
      return false;  // a new version may add tracks
    });
  }
  check_track_packets(format, bytes, size, pmt_found, min_packets, list, &undecided);
}

bool next_transport_payload(Demuxer& d) {
  const int32_t size = d.format.packet_size;
  for (;;) {
    if (!skip_input(d) || !fill_input(d, size)) return false;
    if (d.input[d.cursor + d.format.sync_offset] != kSyncByte || (d.lost_sync && !next_sync_follows(d))) {
      d.cursor += 1;
      d.lost_sync = true;
      continue;
    }
    d.lost_sync = false;
    const int32_t at = d.cursor + d.format.sync_offset;
    d.cursor += size;
    if (take_transport_packet(d, at)) return true;
  }
}
