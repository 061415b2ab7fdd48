// The demultiplexer's pull interface: one audio track's elementary stream out
// of an MPEG transport or program stream, read through the caller's callback
// into fixed buffers, with the gaps the container shows.
//
// The steps: probe_container (container_probe.h) on the first bytes, then
// list_tracks on the first few MB, then start_demux with the chosen track and
// read_track until it gives 0.
#pragma once

#include <cstddef>
#include <cstdint>

enum class ContainerKind : uint8_t {
  Elementary,  // no container: the bytes are the stream
  Transport,   // 188-byte packets, or 192 (M2TS) or 204 (with FEC)
  Program,     // packs of PES packets
  Pes,         // PES packets back to back, without packs
};

struct ContainerFormat {
  ContainerKind kind;
  int32_t packet_size;  // transport: 188, 192 or 204; 0 otherwise
  int32_t sync_offset;  // transport: where 0x47 sits in a packet, 4 behind an M2TS time code
  int32_t start;        // transport: the first whole packet, when the input starts mid-packet
};

enum class TrackCodec : uint8_t { MpegAudio, Ac3, EnhancedAc3, Aac, Dts, Lpcm, Opus };

struct TrackInfo {
  // The PID in a transport stream; the stream id in a program stream, or
  // 0xBD00 + the sub-stream id for private stream 1.
  uint16_t id;
  uint16_t program;     // transport: the program number; 0 otherwise
  uint8_t stream_type;  // transport: as the PMT gives it; 0 otherwise
  TrackCodec codec;
  char language[4];     // ISO 639 code from the PMT, "" when none
  bool scrambled;       // its packets are scrambled, and none of those looked at is clear
};

constexpr int kMostTracks = 32;

// Audio tracks only, MPEG or not: in PMT order, programs in PAT order; in a
// program stream, in order of first appearance.
struct TrackList {
  int32_t count;
  TrackInfo tracks[kMostTracks];
};

// Fills `list` from the first bytes of a container (whole, from byte 0).
// Returns the number of tracks, at most kMostTracks. A track known by its
// PES packets alone (in a program stream, or a transport stream without a
// PMT) needs min_packets of them to start in the bytes: where the bytes are
// megabytes, 2, so that one packet's damaged stream id or PID makes no track.
int32_t list_tracks(const ContainerFormat& format, const uint8_t* bytes, size_t size, TrackList* list,
                    int32_t min_packets = 1);
// "MPEG audio", "AC-3" ... for messages.
const char* track_codec_name(TrackCodec codec);

// MPEG audio tracks that turn up only after the part of the input the
// tracks were listed from (a second recording joined on, a programme that
// adds a language), found while any track is demultiplexed: PIDs (stream
// ids) not listed on which clear MPEG audio PES packets start.
struct LateTracks {
  const TrackList* listed;
  int64_t listed_bytes;  // the input's first bytes, which the listing looked at
  struct Seen {
    uint16_t id;
    int32_t early_starts;  // within listed_bytes: with two, the listing passed it over on purpose
    int32_t starts;        // PES packets seen starting, each once however often it is read
    int64_t first_at;      // the container offset of its first
    int64_t last_at;
  };
  int32_t count;
  Seen seen[kMostTracks];
  bool complete;  // the input has been read to its end: every late track is known
};
// A late track: two PES packets at least (one packet's damaged PID or
// stream id makes no track), not both within the listed bytes.
inline bool is_late(const LateTracks::Seen& s) { return s.early_starts < 2 && s.starts >= 2; }

// Reads up to `wanted` bytes into `buffer`: false on a read error, *got = 0 at the end.
using ReadContainer = bool (*)(void* source, uint8_t* buffer, uint32_t wanted, uint32_t* got);

// A break in the track: `at` is the offset in the elementary stream where the
// missing bytes belong; packets_lost is -1 when the container can't tell.
struct TrackGap {
  int64_t at;
  int32_t packets_lost;
};

// The container bytes buffered at once: a read's size, and room for the
// longest PES header and two transport packets.
constexpr int32_t kDemuxInputSize = 16384;
// Gaps not yet taken; past this the oldest are overwritten (gap_count still counts them).
constexpr int32_t kGapQueueLength = 16;
// 6 bytes of start code and length, 3 of flags, up to 255 of header data.
constexpr int32_t kLongestPesHeader = 264;

enum class PesStage : uint8_t {
  Waiting,  // before the track's next unit start: bytes are dropped
  Header,
  Payload,
};

// The selected track's PES packet in hand.
struct PesAssembly {
  PesStage stage;
  uint8_t header[kLongestPesHeader];
  int32_t have;  // header bytes so far
  int64_t left;  // payload bytes still to come; -1 when the packet has no length
};

struct Demuxer {
  // demux: the caller's source, input buffering, the payload ready to hand
  // out, the counts and the gap queue.
  ContainerFormat format;
  uint16_t track_id;
  ReadContainer read;
  void* source;
  uint8_t input[kDemuxInputSize];
  int32_t cursor;
  int32_t data_end;
  bool input_ended;
  bool read_failed;
  int32_t ready_begin;  // payload in input[] not yet handed out
  int32_t ready_end;
  int64_t skip_left;    // container bytes to pass over before the next packet
  int64_t container_bytes;  // read from the source
  int64_t track_bytes;      // elementary stream handed out
  TrackGap gaps[kGapQueueLength];
  int32_t gap_first;
  int32_t gaps_queued;
  int64_t gap_count;

  // pes_assembly
  PesAssembly pes;
  bool unit_started;  // a unit start of the track has been seen

  // transport_stream: the track's continuity.
  int32_t last_cc;  // -1 before the track's first packet
  uint32_t last_payload_sum;
  bool lost_sync;
  int64_t scrambled_packets;  // dropped: their payload is not audio

  // Where tracks that start late are noted; null: nowhere.
  LateTracks* late;

  // program_stream
  int64_t packet_left;  // bytes of the track's PES packet still in the container
  bool between_packs;   // after junk only a pack header is taken as a start
};

// Sets `d` up to extract track `track_id` (TrackInfo::id) of `format`. An
// Elementary format passes the bytes through. Only the MPEG audio tracks of
// a program stream can be taken, not private stream 1's sub-streams.
void start_demux(Demuxer& d, const ContainerFormat& format, uint16_t track_id, ReadContainer read, void* source);
// Copies up to `wanted` (> 0) bytes of the track's elementary stream into
// `buffer`: fewer only at the end. Returns the count, 0 at the end, or -1 when a read
// failed before any byte.
int32_t read_track(Demuxer& d, uint8_t* buffer, int32_t wanted);
// Reads the whole container for late tracks alone, from its start.
void scan_for_late_tracks(const ContainerFormat& format, ReadContainer read, void* source, LateTracks* late);
// Takes the oldest gap not yet taken; false when there is none.
bool take_gap(Demuxer& d, TrackGap* gap);

// For the container readers.
// Makes sure `want` bytes are buffered from the cursor; false when the input
// ends (or fails) before. May move the buffered bytes to the front.
bool fill_input(Demuxer& d, int32_t want);
// Passes over skip_left bytes; false when the input ends first.
bool skip_input(Demuxer& d);
void note_gap(Demuxer& d, int32_t packets_lost);
// A clear MPEG audio PES packet of another track than d's starts at input[at].
void note_audio_start(Demuxer& d, uint16_t id, int32_t at);
