// One chunk of a listed stream, decoded as the one pass decodes it.
#include <cstring>
#include <new>

#include "decoder/damage.h"
#include "decoder/frame_body.h"
#include "decoder/frame_header.h"
#include "decoder/frame_list.h"
#include "decoder/stream.h"

namespace {

static_assert(kChunkWindowBytes >= 2 * kLongestFrameRead, "a window holds a frame's reach, and more");

// Bytes of the input at a time, read where the frames are, or those the
// listing holds.
struct InputWindow {
  FileHandle input;
  int64_t input_size;
  int64_t last_reach;  // the reach of the chunk's last frame: no read goes past it
  int64_t start = -1;
  int64_t end = -1;
  const uint8_t* bytes;  // the input's bytes from start to end
  uint8_t* room;         // kChunkWindowBytes to read into
  const uint8_t* held;
  int64_t held_start;
  int64_t held_end;

  // The bytes from `offset` to its reach, or to the end of the input.
  bool hold(int64_t offset, int* error) {
    int64_t reach = offset + kLongestFrameRead;
    if (reach > input_size) reach = input_size;
    if (offset >= start && reach <= end) return true;
    if (held != nullptr && offset >= held_start && reach <= held_end) {
      bytes = held;
      start = held_start;
      end = held_end;
      return true;
    }
    int64_t wanted = (last_reach > reach ? last_reach : reach) - offset;
    if (wanted > kChunkWindowBytes) wanted = kChunkWindowBytes;
    if (wanted < 0) wanted = 0;  // past the input's end: the body runs out at once
    uint32_t have = 0;
    // A file that shrank: what is there is all there is.
    if (!read_at_fully(input, offset, room, static_cast<uint32_t>(wanted), &have)) {
      *error = last_error();
      if (*error == 0) *error = -1;
      return false;
    }
    bytes = room;
    start = offset;
    end = offset + have;
    return true;
  }
};

// v_offset before the frame at `index`: it starts at 64 and moves a block
// down per slot, 36 slots a frame.
int v_offset_before(int64_t index) {
  return static_cast<int>((64 - 64 * 36 * (index % (kRingLength / 64))) & (kRingLength - 1));
}

// Decodes the listed frame at `index` into `pcm`; its flags.
uint8_t decode_listed_frame(DecoderContext& ctx, const ChunkSource& source, int64_t index, InputWindow& window,
                            int16_t* pcm, int* error) {
  const int64_t offset = source.frames.offset(index);
  uint8_t bytes[4];
  source.frames.header(index, bytes);
  const FrameHeader header = read_header(source.free_format_length, bytes);
  if (!window.hold(offset, error)) return 0;
  ctx.sample_rate = header.sample_rate;
  use_alloc_table(ctx, header.bitrate, header.mode);
  ctx.channel_count = header.mode == kModeSingleChannel ? 1 : 2;
  const uint8_t* frame = window.bytes + (offset - window.start);
  set_bit_limit(ctx.bits, window.bytes + (window.end - window.start));
  restart_bits(ctx.bits, frame + kHeaderBytes + (header.crc ? 2 : 0));
  read_frame_body(ctx, header.mode, header.mode_extension);
  if (source.check_only) {
    ctx.pcm_count = ctx.channel_count == 2 ? kFramePcmValues : kFramePcmValues / 2;
  } else {
    synthesize_frame(ctx, pcm);
  }
  if (bits_ran_out(ctx.bits)) return kRanOut;
  return header.crc && !crc_matches(frame, crc_protected_bits(ctx)) ? kCrcError : 0;
}

}  // namespace

bool read_at_fully(FileHandle input, int64_t offset, uint8_t* into, uint32_t wanted, uint32_t* have) {
  *have = 0;
  while (*have < wanted) {
    uint32_t got = 0;
    if (!file_read_at(input, offset + *have, into + *have, wanted - *have, &got)) return false;
    if (got == 0) break;
    *have += got;
  }
  return true;
}

int decode_chunk(const ChunkSource& source, int64_t first, int64_t count, ChunkOutput& out, ChunkScratch& scratch) {
  DecoderContext& ctx = *new (&scratch.ctx) DecoderContext{};
  if (source.matrix != nullptr) {
    start_synthesis_like(ctx.synthesis, *source.matrix);
  } else {
    start_synthesis(ctx.synthesis, source.path);
  }
  // Whether the stream has two channels is known once every frame is
  // listed, which a chunk need not wait for.
  ctx.two_channel_seen = false;
  InputWindow window;
  window.room = scratch.window;
  window.held = source.held;
  window.held_start = source.held_start;
  window.held_end = source.held_end;
  window.input = source.input;
  window.input_size = source.input_size;
  // Small chunks would otherwise read much of the input twice.
  window.last_reach = count > 0 ? source.frames.offset(first + count - 1) + kLongestFrameRead : 0;
  if (window.last_reach > source.input_size) window.last_reach = source.input_size;
  int error = 0;

  // The frame before the chunk and the last one of the other body before
  // that, oldest first, each at its own v_offset: the rings are then the one
  // pass's. An idle body's rings are laid out as the one pass lays them when
  // the other body starts.
  int64_t warm[2];
  int warm_count = 0;
  if (first > 0) {
    const int64_t other_back = source.frames.other_back(first - 1);
    if (other_back != 0) warm[warm_count++] = first - 1 - other_back;
    warm[warm_count++] = first - 1;
  }
  int16_t discarded[kFramePcmValues];
  for (int w = 0; w < warm_count; ++w) {
    uint8_t bytes[4];
    source.frames.header(warm[w], bytes);
    const int channels = body_of(bytes) == 0 ? 1 : 2;
    switch_body(ctx.synthesis, channels);
    ctx.synthesis.v_offset = v_offset_before(warm[w]);
    decode_listed_frame(ctx, source, warm[w], window, discarded, &error);
    if (error != 0) break;
  }
  for (int64_t i = 0; i < count && error == 0; ++i) {
    out.flags[i] = decode_listed_frame(ctx, source, first + i, window, out.pcm + i * kFramePcmValues, &error);
    out.values[i] = static_cast<uint16_t>(ctx.pcm_count);
  }
  out.read_error = error;
  return error == 0 ? 0 : -1;
}
