#include "decoder/container_probe.h"

#include <cstring>

namespace {

constexpr uint8_t kSyncByte = 0x47;
constexpr size_t kPacketsToMatch = 5;
constexpr size_t kFewestPackets = 2;

struct PacketLayout {
  int32_t size;
  int32_t sync_offset;
};
// Plain packets, M2TS's 4-byte time code before each, 16 bytes of FEC after each.
const PacketLayout kPacketLayouts[] = {{188, 0}, {192, 4}, {204, 0}};

bool syncs_every_packet(const uint8_t* bytes, size_t size, size_t first_sync, size_t packet_size) {
  size_t packets = 0;
  for (size_t at = first_sync; at < size && packets < kPacketsToMatch; at += packet_size, ++packets) {
    if (bytes[at] != kSyncByte) return false;
  }
  return packets >= kFewestPackets;
}

// A pack header at `at` whose length leads to the next start code: MPEG-2
// (14 bytes and its stuffing) or MPEG-1 (12 bytes).
bool pack_header_at(const uint8_t* bytes, size_t size, size_t at) {
  if (at + 14 > size || bytes[at] != 0 || bytes[at + 1] != 0 || bytes[at + 2] != 1 || bytes[at + 3] != 0xBA) {
    return false;
  }
  size_t length = 0;
  if ((bytes[at + 4] & 0xC4) == 0x44) {
    length = 14 + (bytes[at + 13] & 7);
  } else if ((bytes[at + 4] & 0xF1) == 0x21) {
    length = 12;
  } else {
    return false;
  }
  const size_t next = at + length;
  return next + 3 <= size && bytes[next] == 0 && bytes[next + 1] == 0 && bytes[next + 2] == 1;
}

// How far into a program stream cut anywhere its first pack is looked for.
constexpr size_t kPackReach = 64 * 1024;

}  // namespace

ContainerFormat probe_container(const uint8_t* bytes, size_t size) {
  ContainerFormat format{ContainerKind::Elementary, 0, 0, 0};
  for (const PacketLayout& layout : kPacketLayouts) {
    const size_t packet_size = static_cast<size_t>(layout.size);
    for (size_t sync = 0; sync < packet_size && sync < size; ++sync) {
      if (!syncs_every_packet(bytes, size, sync, packet_size)) continue;
      // A sync byte before its time code's room marks a packet cut short: the next is the first whole one.
      const size_t offset = static_cast<size_t>(layout.sync_offset);
      const size_t start = sync >= offset ? sync - offset : sync + packet_size - offset;
      return ContainerFormat{ContainerKind::Transport, layout.size, layout.sync_offset, static_cast<int32_t>(start)};
    }
  }
  if (size >= 5 && bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1) {
    const bool mpeg2_pack = (bytes[4] & 0xC4) == 0x44;
    const bool mpeg1_pack = (bytes[4] & 0xF1) == 0x21;
    if (bytes[3] == 0xBA && (mpeg2_pack || mpeg1_pack)) format.kind = ContainerKind::Program;
    if (bytes[3] >= 0xC0 && bytes[3] <= 0xDF) format.kind = ContainerKind::Pes;
    if (format.kind != ContainerKind::Elementary) return format;
  }
  // A program stream cut inside a pack: from the first whole pack on.
  for (size_t at = 1; at < kPackReach && at + 14 <= size; ++at) {
    if (bytes[at] == 0 && pack_header_at(bytes, size, at)) {
      return ContainerFormat{ContainerKind::Program, 0, 0, static_cast<int32_t>(at)};
    }
  }
  return format;
}

const char* foreign_format_name(const uint8_t* bytes, size_t size) {
  if (size >= 12 && (memcmp(bytes, "RIFF", 4) == 0 || memcmp(bytes, "RF64", 4) == 0) &&
      memcmp(bytes + 8, "WAVE", 4) == 0) {
    // A WAV file that carries MPEG audio (format 0x0050, as broadcast
    // archives keep it) is not foreign: its frames are found as in any file.
    for (size_t at = 12; at + 10 <= size && at < 256; ++at) {
      if (memcmp(bytes + at, "fmt ", 4) == 0) return (bytes[at + 8] | bytes[at + 9] << 8) == 0x0050 ? nullptr : "WAV";
    }
    return "WAV";
  }
  if (size >= 4 && memcmp(bytes, "fLaC", 4) == 0) return "FLAC";
  if (size >= 4 && memcmp(bytes, "OggS", 4) == 0) return "Ogg";
  if (size >= 8 && memcmp(bytes + 4, "ftyp", 4) == 0) return "MP4";
  return nullptr;
}
