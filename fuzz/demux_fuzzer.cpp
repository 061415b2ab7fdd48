// The demultiplexer over any bytes, in memory: probing, track listing and
// extraction stay inside their buffers, and the counts add up. The last
// byte may force a container on the bytes, so extraction sees packets the
// probe would turn away; the reads come in uneven pieces.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "decoder/container_probe.h"
#include "decoder/demux.h"

namespace {

void check(bool holds) {
  if (!holds) __builtin_trap();
}

struct Source {
  const uint8_t* data;
  size_t size;
  size_t at;
  uint32_t piece;
};

bool read_memory(void* context, uint8_t* buffer, uint32_t wanted, uint32_t* got) {
  Source* source = static_cast<Source*>(context);
  size_t count = source->size - source->at;
  if (count > wanted) count = wanted;
  if (count > source->piece) count = source->piece;
  memcpy(buffer, source->data + source->at, count);
  source->at += count;
  source->piece = source->piece * 13 % 9001 + 1;
  *got = static_cast<uint32_t>(count);
  return true;
}

ContainerFormat forced_format(uint8_t cue) {
  static const int32_t kSizes[] = {188, 192, 204};
  switch (cue & 3) {
    case 1: {
      const int32_t size = kSizes[(cue >> 2) % 3];
      return ContainerFormat{ContainerKind::Transport, size, size == 192 ? 4 : 0, (cue >> 4) & 7};
    }
    case 2:
      return ContainerFormat{ContainerKind::Program, 0, 0, 0};
    case 3:
      return ContainerFormat{ContainerKind::Pes, 0, 0, 0};
    default:
      return ContainerFormat{ContainerKind::Elementary, 0, 0, 0};
  }
}

void extract(const ContainerFormat& format, uint16_t id, const uint8_t* data, size_t size, const TrackList& list) {
  Source source{data, size, 0, 1};
  Demuxer d;
  start_demux(d, format, id, read_memory, &source);
  // Tracks that start in the second half count as late.
  LateTracks late{};
  late.listed = &list;
  late.listed_bytes = static_cast<int64_t>(size / 2);
  d.late = &late;
  uint8_t buffer[3000];
  int64_t produced = 0;
  int64_t last_gap = 0;
  for (int32_t wanted = 1;; wanted = wanted * 7 % 2999 + 1) {
    const int32_t got = read_track(d, buffer, wanted);
    check(got >= 0 && got <= wanted);
    if (got == 0) break;
    produced += got;
    for (TrackGap gap; take_gap(d, &gap);) {
      check(gap.at >= last_gap && gap.at <= produced && (gap.packets_lost == -1 || gap.packets_lost > 0));
      last_gap = gap.at;
    }
  }
  check(d.track_bytes == produced && d.container_bytes == static_cast<int64_t>(size));
  check(late.complete && late.count >= 0 && late.count <= kMostTracks);
  for (int32_t i = 0; i < late.count; ++i) {
    const LateTracks::Seen& seen = late.seen[i];
    check(seen.id != id && seen.first_at >= 0 && seen.first_at <= seen.last_at &&
          seen.last_at < static_cast<int64_t>(size) && seen.starts >= 1);
    for (int32_t j = 0; j < list.count; ++j) check(list.tracks[j].id != seen.id);
  }
  if (format.kind == ContainerKind::Elementary) check(produced == static_cast<int64_t>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* name = foreign_format_name(data, size);
  check(name == nullptr || strlen(name) <= 4);
  const uint8_t cue = size > 0 ? data[size - 1] : 0;
  ContainerFormat format = probe_container(data, size);
  if (format.kind == ContainerKind::Elementary) format = forced_format(cue);
  if (format.kind == ContainerKind::Transport) check(format.start >= 0 && format.start < format.packet_size);

  TrackList list;
  const int32_t count = list_tracks(format, data, size, &list);
  check(count == list.count && count >= 0 && count <= kMostTracks);
  for (int32_t i = 0; i < count; ++i) check(strlen(list.tracks[i].language) <= 3);

  for (int32_t i = 0; i < count && i < 3; ++i) extract(format, list.tracks[i].id, data, size, list);
  // A track the tables don't name: the first packet's PID, or the first MPEG audio stream id.
  uint16_t guess = 0xC0;
  const size_t first = static_cast<size_t>(format.start + format.sync_offset);
  if (format.kind == ContainerKind::Transport && first + 3 <= size) {
    guess = static_cast<uint16_t>((data[first + 1] & 0x1F) << 8 | data[first + 2]);
  }
  extract(format, guess, data, size, list);
  return 0;
}
