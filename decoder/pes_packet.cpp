#include "decoder/pes_packet.h"

#include <cstring>

namespace {

constexpr int32_t kPesPrefix = 6;  // start code, stream id and packet length
constexpr int32_t kMpeg1MostStuffing = 16;

// Streams whose payload follows the packet length at once (ISO/IEC 13818-1):
// stream map, padding, private stream 2, ECM, EMM, DSM-CC, H.222.1 type E
// and the directory.
bool has_no_header_fields(uint8_t stream_id) {
  switch (stream_id) {
    case 0xBC: case 0xBE: case 0xBF: case 0xF0: case 0xF1: case 0xF2: case 0xF8: case 0xFF:
      return true;
    default:
      return false;
  }
}

}  // namespace

int32_t pes_header_size(const uint8_t* h, int32_t have) {
  if (have < kPesPrefix) return kPesPrefix;
  if (h[0] != 0 || h[1] != 0 || h[2] != 1) return -1;
  if (has_no_header_fields(h[3])) return kPesPrefix;
  if (have <= kPesPrefix) return kPesPrefix + 1;
  if ((h[6] & 0xC0) == 0x80) {
    if (have < 9) return 9;
    return 9 + h[8];
  }
  // MPEG-1: stuffing, then the STD buffer fields ('01'), then PTS ('0010'),
  // PTS and DTS ('0011') or 0x0F.
  int32_t at = kPesPrefix;
  while (at < have && h[at] == 0xFF) {
    if (++at > kPesPrefix + kMpeg1MostStuffing) return -1;
  }
  if (at == have) return have + 1;
  if ((h[at] & 0xC0) == 0x40) {
    at += 2;
    if (at >= have) return at + 1;
  }
  switch (h[at] >> 4) {
    case 2:
      return at + 5;
    case 3:
      return at + 10;
    default:
      return h[at] == 0x0F ? at + 1 : -1;
  }
}

void start_pes(PesAssembly& pes) {
  pes.stage = PesStage::Header;
  pes.have = 0;
  pes.left = -1;
}

int32_t take_pes_bytes(Demuxer& d, int32_t begin, int32_t count) {
  PesAssembly& pes = d.pes;
  int32_t used = 0;
  if (pes.stage == PesStage::Header) {
    int32_t size = pes_header_size(pes.header, pes.have);
    while (size > pes.have && used < count) {
      int32_t take = size - pes.have;
      if (take > count - used) take = count - used;
      memcpy(pes.header + pes.have, d.input + begin + used, static_cast<size_t>(take));
      pes.have += take;
      used += take;
      size = pes_header_size(pes.header, pes.have);
    }
    if (size < 0) {
      pes.stage = PesStage::Waiting;
      return count;
    }
    if (size > pes.have) return used;
    const int32_t length = pes.header[4] << 8 | pes.header[5];
    pes.left = length == 0 ? -1 : kPesPrefix + length - size;
    pes.stage = pes.left < 0 && length != 0 ? PesStage::Waiting : PesStage::Payload;
    d.unit_started = true;
  }
  if (pes.stage != PesStage::Payload) return count;
  int32_t payload = count - used;
  if (pes.left >= 0 && payload > pes.left) payload = static_cast<int32_t>(pes.left);
  if (pes.left >= 0) {
    pes.left -= payload;
    if (pes.left == 0) pes.stage = PesStage::Waiting;
  }
  d.ready_begin = begin + used;
  d.ready_end = begin + used + payload;
  return used + payload;
}
