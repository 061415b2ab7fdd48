#include "decoder/demux.h"

#include <cstring>

#include "decoder/program_stream.h"
#include "decoder/transport_stream.h"

namespace {

// The three layouts probe_container gives; readers of any other would step
// through the input by nonsense sizes.
bool holds_transport_layout(const ContainerFormat& format) {
  const bool layout = (format.packet_size == 188 && format.sync_offset == 0) ||
                      (format.packet_size == 192 && format.sync_offset == 4) ||
                      (format.packet_size == 204 && format.sync_offset == 0);
  return layout && format.start >= 0 && format.start < format.packet_size;
}

// Elementary input goes out as it comes.
bool next_elementary_payload(Demuxer& d) {
  if (!fill_input(d, 1)) return false;
  d.ready_begin = d.cursor;
  d.ready_end = d.data_end;
  d.cursor = d.data_end;
  return true;
}

bool next_payload(Demuxer& d) {
  switch (d.format.kind) {
    case ContainerKind::Transport:
      return next_transport_payload(d);
    case ContainerKind::Program:
    case ContainerKind::Pes:
      return next_program_payload(d);
    case ContainerKind::Elementary:
      break;
  }
  return next_elementary_payload(d);
}

}  // namespace

int32_t list_tracks(const ContainerFormat& format, const uint8_t* bytes, size_t size, TrackList* list,
                    int32_t min_packets) {
  list->count = 0;
  switch (format.kind) {
    case ContainerKind::Transport:
      if (holds_transport_layout(format)) list_transport_tracks(format, bytes, size, min_packets, list);
      break;
    case ContainerKind::Program:
    case ContainerKind::Pes:
      list_program_tracks(bytes, size, min_packets, list);
      break;
    case ContainerKind::Elementary:
      break;
  }
  return list->count;
}

const char* track_codec_name(TrackCodec codec) {
  switch (codec) {
    case TrackCodec::MpegAudio:
      return "MPEG audio";
    case TrackCodec::Ac3:
      return "AC-3";
    case TrackCodec::EnhancedAc3:
      return "E-AC-3";
    case TrackCodec::Aac:
      return "AAC";
    case TrackCodec::Dts:
      return "DTS";
    case TrackCodec::Lpcm:
      return "LPCM";
    case TrackCodec::Opus:
      return "Opus";
  }
  return "audio";
}

void start_demux(Demuxer& d, const ContainerFormat& format, uint16_t track_id, ReadContainer read, void* source) {
  memset(&d, 0, sizeof d);
  d.format = format;
  d.track_id = track_id;
  d.read = read;
  d.source = source;
  d.skip_left = format.kind == ContainerKind::Transport || format.kind == ContainerKind::Program ? format.start : 0;
  d.pes.stage = PesStage::Waiting;
  d.last_cc = -1;
  d.input_ended = format.kind == ContainerKind::Transport && !holds_transport_layout(format);
}

int32_t read_track(Demuxer& d, uint8_t* buffer, int32_t wanted) {
  int32_t done = 0;
  while (done < wanted) {
    if (d.ready_begin == d.ready_end && !next_payload(d)) break;
    int32_t count = d.ready_end - d.ready_begin;
    if (count > wanted - done) count = wanted - done;
    memcpy(buffer + done, d.input + d.ready_begin, static_cast<size_t>(count));
    d.ready_begin += count;
    done += count;
    // Gaps found while filling the next payload are placed by this count.
    d.track_bytes += count;
  }
  if (done == 0 && d.read_failed) return -1;
  return done;
}

bool take_gap(Demuxer& d, TrackGap* gap) {
  if (d.gaps_queued == 0) return false;
  *gap = d.gaps[d.gap_first];
  d.gap_first = (d.gap_first + 1) % kGapQueueLength;
  d.gaps_queued -= 1;
  return true;
}

void note_gap(Demuxer& d, int32_t packets_lost) {
  // Losses with no payload between them are one gap: a run of scrambled
  // packets, say.
  if (d.gaps_queued > 0) {
    TrackGap& last = d.gaps[(d.gap_first + d.gaps_queued - 1) % kGapQueueLength];
    if (last.at == d.track_bytes && last.packets_lost > 0 && packets_lost > 0) {
      last.packets_lost += packets_lost;
      return;
    }
  }
  if (d.gaps_queued == kGapQueueLength) {
    d.gap_first = (d.gap_first + 1) % kGapQueueLength;
    d.gaps_queued -= 1;
  }
  d.gaps[(d.gap_first + d.gaps_queued) % kGapQueueLength] = TrackGap{d.track_bytes, packets_lost};
  d.gaps_queued += 1;
  d.gap_count += 1;
}

void scan_for_late_tracks(const ContainerFormat& format, ReadContainer read, void* source, LateTracks* late) {
  Demuxer d;
  // No PID or stream id is 0xFFFF: no payload is ever ready.
  start_demux(d, format, 0xFFFF, read, source);
  d.late = late;
  uint8_t none[1];
  while (read_track(d, none, 1) > 0) {
  }
}

void note_audio_start(Demuxer& d, uint16_t id, int32_t at) {
  LateTracks* late = d.late;
  if (late == nullptr) return;
  for (int32_t i = 0; i < late->listed->count; ++i) {
    if (late->listed->tracks[i].id == id) return;
  }
  const int64_t offset = d.container_bytes - d.data_end + at;
  int32_t i = 0;
  while (i < late->count && late->seen[i].id != id) ++i;
  if (i == late->count) {
    if (late->count == kMostTracks) return;
    late->count += 1;
    late->seen[i] = LateTracks::Seen{id, 0, 0, offset, -1};
  }
  LateTracks::Seen& s = late->seen[i];
  // A decode-again reads the input once more.
  if (offset <= s.last_at) return;
  s.last_at = offset;
  s.starts += 1;
  if (offset < late->listed_bytes) s.early_starts += 1;
}

bool fill_input(Demuxer& d, int32_t want) {
  if (d.data_end - d.cursor >= want) return true;
  if (d.input_ended) return false;
  memmove(d.input, d.input + d.cursor, static_cast<size_t>(d.data_end - d.cursor));
  d.data_end -= d.cursor;
  d.ready_begin = d.ready_end = d.cursor = 0;
  while (d.data_end < want) {
    const uint32_t room = static_cast<uint32_t>(kDemuxInputSize - d.data_end);
    uint32_t got = 0;
    if (!d.read(d.source, d.input + d.data_end, room, &got)) {
      d.read_failed = true;
      got = 0;
    }
    if (got == 0) {
      d.input_ended = true;
      if (d.late != nullptr && !d.read_failed) d.late->complete = true;
      return false;
    }
    if (got > room) got = room;  // a source that claims more than it was asked for
    d.data_end += static_cast<int32_t>(got);
    d.container_bytes += got;
  }
  return true;
}

bool skip_input(Demuxer& d) {
  while (d.skip_left > 0) {
    if (!fill_input(d, 1)) return false;
    const int64_t here = d.data_end - d.cursor;
    const int32_t count = static_cast<int32_t>(here < d.skip_left ? here : d.skip_left);
    d.cursor += count;
    d.skip_left -= count;
  }
  return true;
}
