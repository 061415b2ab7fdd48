#include "decoder/stream.h"

#include <algorithm>
#include <cstring>

#include "decoder/bit_reader.h"
#include "decoder/container_probe.h"
#include "decoder/damage.h"
#include "decoder/frame_body.h"
#include "decoder/frame_header.h"
#include "decoder/frame_list.h"
#include "decoder/synthesis.h"
#include "decoder/wav_writer.h"
#include "platform/progress_scale.h"

namespace {

const char* const mode_names[4] = {"stereo", "jstereo", "dualch", "mono"};

// A header can be matched once its ID bit and rate index are in: 3 bytes.
constexpr int kMatchBytes = 3;
constexpr int kTagHeaderBytes = 10;
// The first free-format header finds the next one at most this far on.
constexpr int kFreeFormatReach = 4096;
// The longest run of 0xFF stuffing a confirmation looks past.
constexpr int kStuffingReach = 64;

static_assert(kFreeFormatReach + 1 + kHeaderBytes <= kLongestFrameRead,
              "the look-ahead before a frame also holds the longest frame and the next header");
static_assert(kLongestFrameRead <= kInputBufferSize, "a topped-up buffer holds the look-ahead");

// The input's bytes read: a container's, where the stream is a track of one.
int64_t input_bytes_read(const DecoderContext& ctx) {
  return ctx.from_container ? ctx.demux.container_bytes : ctx.bytes_read;
}

void report_progress(DecoderContext& ctx) {
  ctx.progress_threshold =
      progress_report(ctx.bar, static_cast<uint32_t>(input_bytes_read(ctx) >> ctx.progress_shift),
                      scaled_for_progress(ctx.file_size, ctx.progress_shift));
}

void note_bytes_read(DecoderContext& ctx, uint32_t got) {
  ctx.bytes_read += got;
  if (ctx.bar == nullptr) return;
  if ((input_bytes_read(ctx) >> ctx.progress_shift) > ctx.progress_threshold) report_progress(ctx);
}

// The listing's reads, served from large reads of the input: the same bytes
// as reading it directly, in far fewer system calls. Where the input is
// held, each read goes behind the last, until the room is full; elsewhere
// the runner's threads read its blocks ahead of the listing.
bool read_ahead(DecoderContext& ctx, uint8_t* buffer, uint32_t wanted, uint32_t* got) {
  const ChunkRunner& runner = *ctx.listing;
  if (ctx.ahead_next == ctx.ahead_end && runner.held_room == 0) {
    if (ctx.ahead_block >= 0) runner.release_block(runner.self, ctx.ahead_block);
    ++ctx.ahead_block;
    uint32_t n = 0;
    ctx.ahead_bytes = runner.read_block(runner.self, ctx.ahead_block, &n);
    if (ctx.ahead_bytes == nullptr) return false;
    ctx.ahead_next = 0;
    ctx.ahead_end = n;
  } else if (ctx.ahead_next == ctx.ahead_end) {
    uint32_t room = runner.read_ahead_bytes;
    if (runner.held_room - ctx.ahead_end < room) room = runner.held_room - ctx.ahead_end;
    uint32_t n = 0;
    if (!file_read(ctx.input, runner.read_ahead + ctx.ahead_end, room, &n)) return false;
    ctx.ahead_end += n;
    ctx.ahead_bytes = runner.read_ahead;
  }
  const uint32_t n = wanted < ctx.ahead_end - ctx.ahead_next ? wanted : ctx.ahead_end - ctx.ahead_next;
  memcpy(buffer, ctx.ahead_bytes + ctx.ahead_next, n);
  ctx.ahead_next += n;
  *got = n;
  return true;
}

// Reads the stream: the input's bytes, or its track's from the container.
// The packets a container lost are kept for the frames they fall in.
bool read_input(DecoderContext& ctx, uint8_t* buffer, uint32_t wanted, uint32_t* got) {
  // A file is converted as long as it was when its conversion began, though
  // a logger may still be recording into it: the listing and the chunks
  // then see the same end, and so does every number of threads.
  if (ctx.file_size > 0 && !ctx.from_container) {
    const int64_t left = ctx.file_size - ctx.bytes_read;
    if (left <= 0) {
      *got = 0;
      return true;
    }
    if (wanted > left) wanted = static_cast<uint32_t>(left);
  }
  if (ctx.listing != nullptr) return read_ahead(ctx, buffer, wanted, got);
  if (!ctx.from_container) return file_read(ctx.input, buffer, wanted, got);
  const int32_t n = read_track(ctx.demux, buffer, static_cast<int32_t>(wanted));
  TrackGap gap;
  while (take_gap(ctx.demux, &gap)) queue_track_gap(ctx, gap);
  *got = n > 0 ? static_cast<uint32_t>(n) : 0;
  return n >= 0 && !(n == 0 && ctx.demux.read_failed);
}

// The end of the input: one last report, so the bar ends full even when its
// last threshold was the total itself.
void final_progress_report(DecoderContext& ctx) {
  if (ctx.bar != nullptr) report_progress(ctx);
}

// Reads into the buffer behind `kept` bytes until it is full or a read brings
// nothing: a short read from a pipe is not the end of the input. After a
// failed read nothing more is read.
uint32_t fill_behind(DecoderContext& ctx, int kept) {
  uint32_t total = 0;
  while (!ctx.read_failed && kept + static_cast<int>(total) < kInputBufferSize) {
    uint32_t got = 0;
    if (!read_input(ctx, ctx.input_buffer + kept + total, kInputBufferSize - kept - total, &got)) {
      ctx.read_error = last_error();
      ctx.read_failed = true;
      got = 0;
    }
    note_bytes_read(ctx, got);
    if (got == 0) {
      ctx.input_ended = true;
      break;
    }
    total += got;
  }
  return total;
}

// Moves what remains to the front of the buffer and tops it up.
void top_up(DecoderContext& ctx) {
  int remaining = ctx.data_end - ctx.cursor;
  memmove(ctx.input_buffer, ctx.input_buffer + ctx.cursor, static_cast<size_t>(remaining));
  ctx.cursor = 0;
  ctx.data_end = remaining + static_cast<int>(fill_behind(ctx, remaining));
}

int bytes_ahead(const DecoderContext& ctx) { return ctx.data_end - ctx.cursor; }

// The cursor's offset in the input.
int64_t input_position(const DecoderContext& ctx) { return ctx.bytes_read - bytes_ahead(ctx); }

void refill_input(DecoderContext& ctx) {
  if (bytes_ahead(ctx) < kRefillMargin && !ctx.input_ended) top_up(ctx);
}

// Buffers `wanted` bytes from the cursor on, or all the input still has.
void look_ahead(DecoderContext& ctx, int wanted) {
  if (bytes_ahead(ctx) < wanted && !ctx.input_ended) top_up(ctx);
}

// Passes over `count` bytes from the cursor, reading through what the buffer
// can't hold: a tag of megabytes never has to fit.
void skip_input(DecoderContext& ctx, int64_t count) {
  while (count > bytes_ahead(ctx) && !ctx.input_ended) {
    count -= bytes_ahead(ctx);
    ctx.cursor = ctx.data_end;
    top_up(ctx);
  }
  ctx.cursor += count < bytes_ahead(ctx) ? static_cast<int>(count) : bytes_ahead(ctx);
  refill_input(ctx);
}

bool sync_pair_at(const uint8_t* p) {
  // FF, then FC/FD (ID 1, Layer II) or F4/F5 (ID 0, Layer II), either protection bit.
  return p[0] == 0xFF && (p[1] & 0xF6) == 0xF4;
}

// The first three header bytes at p: the same version and sampling frequency.
bool matches(const FrameHeader& frame, const uint8_t* p) {
  return sync_pair_at(p) && ((p[1] >> 3) & 1) == frame.version && ((p[2] >> 2) & 3) == frame.rate_index;
}

// An ID3v2 tag at p (10 bytes buffered): its size with header and footer, else 0.
int64_t tag_size_at(const uint8_t* p) {
  if (p[0] != 'I' || p[1] != 'D' || p[2] != '3') return 0;
  if (p[3] < 2 || p[3] > 4 || p[4] == 0xFF) return 0;
  if (((p[6] | p[7] | p[8] | p[9]) & 0x80) != 0) return 0;
  const int64_t size = static_cast<int64_t>(p[6]) << 21 | p[7] << 14 | p[8] << 7 | p[9];
  return size + ((p[5] & 0x10) != 0 ? 20 : 10);
}

uint32_t le32_at(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// The bytes the search passed over since the last frame or tag.
struct PassedRun {
  int64_t start = 0;
  int64_t length = 0;
  bool all_ff = true;
};

constexpr int kId3v1Size = 128;
constexpr int kApeFrameSize = 32;  // an APE tag's header or footer
constexpr uint32_t kApeIsHeader = 1u << 29;

// The tag at the cursor: ID3v2 anywhere, an APE tag's header or footer, an
// ID3v1 block that ends the input. Its size from the cursor on, else 0. An
// APE footer comes after the tag's items, which the search has passed over
// already: they leave `run` for the tags.
int64_t tag_at_cursor(DecoderContext& ctx, PassedRun& run) {
  const int ahead = bytes_ahead(ctx);
  const uint8_t* p = ctx.input_buffer + ctx.cursor;
  if (ahead >= kTagHeaderBytes) {
    const int64_t size = tag_size_at(p);
    if (size != 0) return size;
  }
  if (ahead >= kApeFrameSize && memcmp(p, "APETAGEX", 8) == 0) {
    const int64_t size = le32_at(p + 12);  // items and footer
    if ((le32_at(p + 20) & kApeIsHeader) != 0) return kApeFrameSize + size;
    const int64_t items = size - kApeFrameSize;
    if (items >= 0 && items <= run.length) {
      run.length -= items;
      ctx.outcome.bytes.tags += items;
    }
    return kApeFrameSize;
  }
  if (ahead == kId3v1Size && ctx.input_ended && memcmp(p, "TAG", 3) == 0) return kId3v1Size;
  return 0;
}

// Ends the run the search passed over, as stuffing or a gap.
void close_run(DecoderContext& ctx, PassedRun& run) {
  note_passed_over(ctx, run.start, run.length, run.all_ff);
  run = PassedRun{};
}

bool skip_tag_at_cursor(DecoderContext& ctx, PassedRun& run) {
  const int64_t size = tag_at_cursor(ctx, run);
  if (size == 0) return false;
  close_run(ctx, run);
  const int64_t from = input_position(ctx);
  skip_input(ctx, size);
  ctx.outcome.bytes.tags += input_position(ctx) - from;
  return true;
}

// Layer I and III frames, found where no Layer II frame is: a file given by
// mistake is named for what it is. Bit rates in kbit/s by layer (1 or 3),
// MPEG-1 or not, and bitrate index.
const int32_t OtherLayerBitrates[2][2][16] = {
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0}},
    {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
};
// By version bits: MPEG-2.5, reserved, MPEG-2, MPEG-1.
const int32_t OtherLayerRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

// The length of the Layer I or III frame whose header is at p, else 0.
int other_layer_length(const uint8_t* p) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
  const int version = (p[1] >> 3) & 3;
  const int layer_bits = (p[1] >> 1) & 3;  // 3: Layer I, 1: Layer III
  const int rate_index = (p[2] >> 2) & 3;
  if (version == 1 || rate_index == 3 || (layer_bits != 1 && layer_bits != 3)) return 0;
  const bool mpeg1 = version == 3;
  const int32_t bitrate = OtherLayerBitrates[layer_bits == 1][mpeg1][p[2] >> 4];
  const int32_t rate = OtherLayerRates[version][rate_index];
  const int padding = (p[2] >> 1) & 1;
  if (bitrate == 0) return 0;
  if (layer_bits == 3) return (12000 * bitrate / rate + padding) * 4;
  return (mpeg1 ? 144000 : 72000) * bitrate / rate + padding;
}

// Counts a Layer I or III frame at the cursor when the next one follows it.
void note_other_layer(DecoderContext& ctx) {
  const uint8_t* p = ctx.input_buffer + ctx.cursor;
  if (bytes_ahead(ctx) < kHeaderBytes || p[0] != 0xFF) return;
  const int length = other_layer_length(p);
  if (length == 0) return;
  look_ahead(ctx, length + kHeaderBytes);
  if (bytes_ahead(ctx) < length + kHeaderBytes) return;
  p = ctx.input_buffer + ctx.cursor;
  const uint8_t* next = p + length;
  if (next[0] == 0xFF && (next[1] & 0xFE) == (p[1] & 0xFE) && ((next[2] ^ p[2]) & 0x0C) == 0) {
    ctx.other_layer_frames[(p[1] >> 1) & 3] += 1;
  }
}

// The first free-format candidate measures the stream's frame length: the
// distance to the next free-format header of its version and rate, less its
// own padding. That length then holds for the rest of the stream.
bool measure_free_format(DecoderContext& ctx, FrameHeader& header) {
  look_ahead(ctx, kFreeFormatReach + kHeaderBytes);
  const uint8_t* q = ctx.input_buffer + ctx.cursor;
  const int ahead = bytes_ahead(ctx);
  for (int distance = kHeaderBytes; distance <= kFreeFormatReach && distance + kMatchBytes <= ahead; ++distance) {
    const uint8_t* p = q + distance;
    if (matches(header, p) && (p[2] >> 4) == kFreeFormat) {
      ctx.free_format_length = distance - header.padding;
      header = read_header(ctx.free_format_length, q);
      return true;
    }
  }
  return false;
}

// A sync pair at the cursor is a frame when its header has a length and a
// matching sync pair begins that far on, or the input ends exactly there.
// Stuffing may stand between frames: the matching pair may also begin after
// a run of 0xFF bytes there, or a stream stuffed before every frame would
// have none confirmed.
bool confirm_candidate(DecoderContext& ctx, FrameHeader& header) {
  header = read_header(ctx.free_format_length, ctx.input_buffer + ctx.cursor);
  if (header.length == 0) {
    const bool unmeasured = header.bitrate_index == kFreeFormat && header.rate_index != kReservedRate &&
                            ctx.free_format_length == 0;
    return unmeasured && measure_free_format(ctx, header);
  }
  look_ahead(ctx, header.length + kStuffingReach + kHeaderBytes);
  const int ahead = bytes_ahead(ctx);
  if (ahead == header.length) return ctx.input_ended;
  if (ahead < header.length + kMatchBytes) return false;
  const uint8_t* next = ctx.input_buffer + ctx.cursor + header.length;
  const uint8_t* const last_start = ctx.input_buffer + ctx.data_end - kMatchBytes;
  for (int run = 0; run < kStuffingReach && next < last_start && next[0] == 0xFF && next[1] == 0xFF; ++run) ++next;
  return matches(header, next);
}

// Searches byte by byte from the cursor, passing over tags, for the next
// confirmed frame; false at the end of the input. What it passes over is
// stuffing, tags or gaps.
bool search_frame(DecoderContext& ctx, FrameHeader& header) {
  PassedRun run;
  while (bytes_ahead(ctx) > 0) {
    if (skip_tag_at_cursor(ctx, run)) continue;
    // A 0xFF right after another still starts a pair: stuffing hides no frame.
    if (bytes_ahead(ctx) >= kHeaderBytes && sync_pair_at(ctx.input_buffer + ctx.cursor) &&
        confirm_candidate(ctx, header)) {
      close_run(ctx, run);
      return true;
    }
    note_other_layer(ctx);
    if (run.length == 0) run.start = input_position(ctx);
    run.all_ff = run.all_ff && ctx.input_buffer[ctx.cursor] == 0xFF;
    run.length += 1;
    ctx.cursor += 1;
    refill_input(ctx);
  }
  close_run(ctx, run);
  return false;
}

enum class FollowingFrame {
  Found,     // a frame of the same version and rate, wholly in the input
  Search,    // anything else: the search takes over here
  CutShort,  // a frame that the end of the input cuts: the stream ends
};

// With the cursor where the last frame ends: the next frame, which needs no
// confirmation when its header matches the last one.
FollowingFrame frame_at_cursor(DecoderContext& ctx, const FrameHeader& last, FrameHeader& header) {
  look_ahead(ctx, kLongestFrameRead);
  PassedRun none;
  if (skip_tag_at_cursor(ctx, none)) return FollowingFrame::Search;
  const uint8_t* p = ctx.input_buffer + ctx.cursor;
  // The input ends inside the next header: a frame cut short, not a gap.
  if (bytes_ahead(ctx) < kHeaderBytes) {
    return ctx.input_ended && bytes_ahead(ctx) > 0 && p[0] == 0xFF ? FollowingFrame::CutShort : FollowingFrame::Search;
  }
  if (!matches(last, p)) return FollowingFrame::Search;
  header = read_header(ctx.free_format_length, p);
  if (header.length == 0) return FollowingFrame::Search;
  return bytes_ahead(ctx) < header.length ? FollowingFrame::CutShort : FollowingFrame::Found;
}

// The container's bytes for the demultiplexer: what the first read took
// (when the input can't go back to its start), then the input's own.
bool read_container(void* source, uint8_t* buffer, uint32_t wanted, uint32_t* got) {
  ContainerSource& from = *static_cast<ContainerSource*>(source);
  if (from.prefix_left > 0) {
    const uint32_t n = wanted < from.prefix_left ? wanted : from.prefix_left;
    memcpy(buffer, from.prefix, n);
    from.prefix += n;
    from.prefix_left -= n;
    *got = n;
    return true;
  }
  return file_read(from.input, buffer, wanted, got);
}

// The demultiplexer from the container's start, for the first pass and
// the decode-again alike.
void restart_container(DecoderContext& ctx) {
  start_demux(ctx.demux, ctx.container_format, static_cast<uint16_t>(ctx.track_id), read_container,
              &ctx.container_source);
  ctx.demux.late = ctx.late_tracks;
  ctx.pending_gap_count = 0;
  ctx.damaged_frame_end = -1;
}

// Where every pass over the input starts, the first and the decode-again
// with two channels alike. The input buffer and the progress are the
// caller's.
void start_pass(DecoderContext& ctx, bool two_channels) {
  ctx.cursor = 0;
  ctx.data_end = 0;
  ctx.input_ended = false;
  ctx.read_failed = false;
  ctx.read_error = 0;
  ctx.free_format_length = 0;
  ctx.frame_count = 0;
  ctx.sample_rate = 0;
  ctx.channel_count = 1;
  ctx.two_channel_seen = two_channels;
  ctx.sblimit = 0;
  // A second pass accounts for the input again.
  ctx.outcome.bytes = ByteAccounts{};
  ctx.outcome.gap_count = 0;
  ctx.outcome.crc_error_count = 0;
  ctx.damaged_frame_end = -1;
  ctx.outcome.bitrate_count = 0;
  ctx.outcome.modes_met = 0;
  for (int64_t& count : ctx.other_layer_frames) count = 0;
  ctx.listed_passed = 0;
  reset_synthesis(ctx.synthesis);
}

// The first two-channel frame follows mono frames already written. The
// output can't be read back, so the input is decoded once more from its start
// with two_channel_seen set: the mono frames come out as two identical
// channels, the rest exactly as before. Returns 0 to go on scanning from the
// start of the input, -1 when the file was closed instead.
int decode_again_with_two_channels(DecoderContext& ctx) {
  if (!wav_data_can_restart(ctx) || !file_seek(ctx.input, 0)) {
    // Stopped part-way: what counts as read ends with the mono part, as the
    // accounts do, and not with what the input buffer holds beyond it.
    ctx.bytes_read = input_position(ctx);
    const int64_t first_stereo = ctx.frame_count + 1;
    return wav_data_can_restart(ctx) ? abandon_before_two_channels(ctx, first_stereo)
                                     : abandon_with_mono_part_sent(ctx, first_stereo);
  }
  if (!rewind_wav_data(ctx)) return abandon_after_write_failure(ctx);
  if (ctx.mono_part_only) return 0;
  start_pass(ctx, true);
  if (ctx.from_container) restart_container(ctx);
  ctx.bytes_read = 0;
  ctx.data_end = static_cast<int>(fill_behind(ctx, 0));
  return 0;
}


// The bit rates and modes the frames have.
void note_frame_kind(StreamOutcome& outcome, const FrameHeader& header) {
  outcome.modes_met |= 1u << header.mode;
  for (int i = 0; i < outcome.bitrate_count; ++i) {
    if (outcome.bitrates_met[i] == header.bitrate) return;
  }
  if (outcome.bitrate_count < 16) outcome.bitrates_met[outcome.bitrate_count++] = header.bitrate;
}

// The fields a frame sets before its PCM is written, and the stream line at
// the first: the same for a frame decoded here and one decoded in a chunk.
void take_frame_fields(DecoderContext& ctx, const FrameHeader& header) {
  ctx.sample_rate = header.sample_rate;
  if (!ctx.stream_line_logged) {
    log_line(ctx.log, "%d %dk %s\r\n", ctx.sample_rate, header.bitrate, mode_names[header.mode]);
    ctx.stream_line_logged = true;
    ctx.outcome.first_bitrate = header.bitrate;
    ctx.outcome.first_mode = header.mode;
    if (ctx.stream_kbps != nullptr) ctx.stream_kbps->store(header.bitrate, std::memory_order_relaxed);
    // A measured free-format rate may be rounded up: no estimate, which must only err high.
    choose_wav_layout(ctx, header.bitrate_index == kFreeFormat ? 0 : header.bitrate);
  }
}

enum class FrameStep {
  Written,               // the frame's PCM is in the file
  NotWritten,            // the body wanted bits past the end of the input
  RateChanged,           // the frame has another sampling frequency than those written
  TwoChannelsFromHere,   // a two-channel frame after mono ones: decode again
  WriteFailed,
  WavFull,
  ListFull,              // the listing has no room for the frame
};

// Decodes the frame whose sync pair is at the cursor; the cursor stays there.
FrameStep decode_frame(DecoderContext& ctx, const FrameHeader& header) {
  // Only a frame the search found can differ; a WAV file has one rate.
  if (ctx.sample_rate != 0 && header.sample_rate != ctx.sample_rate) return FrameStep::RateChanged;
  // Mono PCM already in the file has one channel where the header will say
  // two: decode again from the start, writing every frame with two channels.
  // Checked before this frame's fields are kept: should that fail, the header
  // describes the mono frames, rate included.
  if (header.mode != kModeSingleChannel && !ctx.two_channel_seen && pcm_bytes_produced(ctx) > 0) {
    return FrameStep::TwoChannelsFromHere;
  }
  // The body reads straight out of the buffer: even a damaged one that reads
  // past the frame's length finds the input's own bytes there.
  look_ahead(ctx, kLongestFrameRead);

  take_frame_fields(ctx, header);
  use_alloc_table(ctx, header.bitrate, header.mode);
  if (header.mode == kModeSingleChannel) {
    ctx.channel_count = 1;
  } else {
    ctx.two_channel_seen = true;
    ctx.channel_count = 2;
  }

  const uint8_t* frame = ctx.input_buffer + ctx.cursor;
  set_bit_limit(ctx.bits, ctx.input_buffer + ctx.data_end);
  restart_bits(ctx.bits, frame + kHeaderBytes + (header.crc ? 2 : 0));  // the CRC word is not verified
  read_frame_body(ctx, header.mode, header.mode_extension);
  // A check writes no PCM, so it needs none: the frame is read whole all the same.
  if (ctx.discard_output) {
    ctx.pcm_count = ctx.channel_count == 2 || ctx.two_channel_seen ? 2304 : 1152;
  } else {
    synthesize_frame(ctx, frame_pcm(ctx));
  }
  // Zero bits past the end of the input are no frame: don't write what they made.
  if (bits_ran_out(ctx.bits)) return FrameStep::NotWritten;
  // Checked, not acted on: the frame is decoded all the same.
  if (header.crc && !crc_matches(frame, crc_protected_bits(ctx))) note_crc_error(ctx);
  note_frame_kind(ctx.outcome, header);
  switch (write_frame_pcm(ctx)) {
    case FrameResult::Written:
      ctx.frame_count += 1;
      return FrameStep::Written;
    case FrameResult::WriteFailed:
      return FrameStep::WriteFailed;
    case FrameResult::WavFull:
      break;
  }
  return FrameStep::WavFull;
}

// A frame the listing pass found: handed to the sink, not decoded. Written
// stands for taken.
FrameStep list_frame(DecoderContext& ctx, const FrameHeader& header) {
  if (ctx.sample_rate != 0 && header.sample_rate != ctx.sample_rate) return FrameStep::RateChanged;
  ctx.sample_rate = header.sample_rate;
  if (header.mode != kModeSingleChannel) ctx.two_channel_seen = true;
  FrameEntry entry;
  entry.offset = input_position(ctx);
  entry.length = header.length;
  memcpy(entry.header, ctx.input_buffer + ctx.cursor, kHeaderBytes);
  const ByteAccounts& bytes = ctx.outcome.bytes;
  const int64_t passed = bytes.tags + bytes.gaps + ctx.outcome.gap_count;
  if (passed != ctx.listed_passed) {
    ctx.listed_passed = passed;
    const PassedBytes so_far{ctx.frame_count, bytes.tags, bytes.gaps, ctx.outcome.gap_count};
    if (!ctx.listing->passed(ctx.listing->self, so_far)) return FrameStep::ListFull;
  }
  const int64_t held_end = ctx.listing->held_room != 0 ? ctx.ahead_start + ctx.ahead_end : 0;
  if (!ctx.listing->append(ctx.listing->self, entry, ctx.free_format_length, held_end)) return FrameStep::ListFull;
  // Counted as written: gaps take their times from it.
  ctx.frame_count += 1;
  return FrameStep::Written;
}

// How a pass over the input ends.
enum class PassEnd { EndOfInput, CutShort, RateChanged, Interrupted, WriteFailed, WavFull, ListFull, Closed, TwoChannels };

// Finds every frame of the input, by search and from each frame on at the
// place its length gives, and decodes it (or lists it, when listing).
// `header` is then the last frame's, or at a change of rate the next one's.
PassEnd run_pass(DecoderContext& ctx, FrameHeader& header) {
  const bool listing = ctx.listing != nullptr;
  while (search_frame(ctx, header)) {
    FrameStep step;
    for (;;) {
      step = listing ? list_frame(ctx, header) : decode_frame(ctx, header);
      if (step != FrameStep::Written && step != FrameStep::NotWritten) break;
      // Ancillary data, padding and whatever the body left unread lie before
      // the next frame; they are passed over whole.
      const FrameHeader last = header;
      int64_t taken = last.length;
      if (step == FrameStep::Written) {
        ctx.outcome.bytes.frames += last.length;
        if (ctx.pending_gap_count > 0) note_frame_track_gaps(ctx, input_position(ctx), last.length);
      } else {
        taken = last.length < bytes_ahead(ctx) ? last.length : bytes_ahead(ctx);
        ctx.outcome.bytes.cut_frame += taken;
      }
      // The listing stops too: on a slow share it is most of the time taken.
      // What counts as read ends with this frame: the accounts add up to it.
      if (ctx.stop != nullptr && ctx.stop->load(std::memory_order_relaxed)) {
        ctx.bytes_read = input_position(ctx) + taken;
        return PassEnd::Interrupted;
      }
      ctx.cursor += last.length;
      const FollowingFrame next = frame_at_cursor(ctx, last, header);
      if (next == FollowingFrame::Search) break;
      if (next == FollowingFrame::CutShort) {
        // Not decoded: its header changes none of the stream's fields.
        ctx.outcome.bytes.cut_frame += bytes_ahead(ctx);
        return PassEnd::CutShort;
      }
    }
    switch (step) {
      case FrameStep::Written:
      case FrameStep::NotWritten:
        break;  // the search goes on where the last frame ends
      case FrameStep::RateChanged:
        // The rest is not decoded: it counts by the input's size, where known.
        // A track's size isn't: its bytes come out of the container as read.
        ctx.outcome.bytes.not_converted = ctx.file_size > 0 && !ctx.from_container
                                              ? ctx.file_size - input_position(ctx)
                                              : bytes_ahead(ctx);
        // And it counts as read, as in every other ending: the accounts add
        // up to the bytes read.
        ctx.bytes_read = input_position(ctx) + ctx.outcome.bytes.not_converted;
        return PassEnd::RateChanged;
      case FrameStep::TwoChannelsFromHere:
        if (decode_again_with_two_channels(ctx) != 0) return PassEnd::Closed;
        if (ctx.mono_part_only) return PassEnd::TwoChannels;
        break;
      case FrameStep::WriteFailed:
        // Read up to the frame not written, as far as the accounts go.
        ctx.bytes_read = input_position(ctx);
        return PassEnd::WriteFailed;
      case FrameStep::WavFull:
        ctx.bytes_read = input_position(ctx);
        return PassEnd::WavFull;
      case FrameStep::ListFull:
        return PassEnd::ListFull;
    }
  }
  return PassEnd::EndOfInput;
}

// A Layer III (or I) file in which a few Layer II headers happened to
// confirm each other: the search met its own layer's frames far more often.
bool mostly_other_layer(const DecoderContext& ctx) {
  const int64_t other = ctx.other_layer_frames[1] + ctx.other_layer_frames[3];
  return other >= 8 && other > 4 * ctx.frame_count;
}

// Closes the WAV file the way the pass ended.
int finish_pass(DecoderContext& ctx, PassEnd end, int32_t next_rate) {
  // Packets a container lost after the last frame, or in the one the end
  // cut, are a gap at the end.
  if (end == PassEnd::EndOfInput || end == PassEnd::CutShort) note_passed_over(ctx, ctx.bytes_read, 0, false);
  switch (end) {
    case PassEnd::EndOfInput:
      final_progress_report(ctx);
      return ctx.frame_count == 0 || mostly_other_layer(ctx) ? finish_without_frames(ctx) : finish_stream(ctx);
    case PassEnd::CutShort:
      final_progress_report(ctx);
      return finish_stream(ctx);
    case PassEnd::RateChanged:
      final_progress_report(ctx);
      return finish_at_rate_change(ctx, next_rate);
    case PassEnd::Interrupted:
      return finish_interrupted(ctx);
    case PassEnd::WriteFailed:
      return abandon_after_write_failure(ctx);
    case PassEnd::WavFull:
      return abandon_at_wav_limit(ctx);
    case PassEnd::ListFull:
    case PassEnd::Closed:
    case PassEnd::TwoChannels:
      break;
  }
  return -1;
}

// Frame i of a decoded chunk, for the batch. Returns where a two-channel
// frame lies in the chunk: it is written from there, which saves the writer
// a copy of every frame. A mono frame is copied behind
// the batch, into the batch's own storage (null): where the file has two
// channels, each value twice, as the one pass writes it.
const int16_t* take_chunk_pcm(DecoderContext& ctx, const FrameList& list, const ChunkOutput& out, int64_t i) {
  const int16_t* pcm = out.pcm + i * kFramePcmValues;
  const int values = out.values[i];
  const bool doubled = list.two_channels && values != kFramePcmValues;
  ctx.pcm_count = doubled ? 2 * values : values;
  if (ctx.discard_output) return nullptr;
  if (values == kFramePcmValues) return pcm;
  take_batch_home(ctx);
  int16_t* to = frame_pcm(ctx);
  if (!doubled) {
    memcpy(to, pcm, values * sizeof(int16_t));
  } else {
    for (int v = 0; v < values; ++v) to[2 * v] = to[2 * v + 1] = pcm[v];
  }
  return nullptr;
}

// Where writing the listed frames stands; the thread that writes the next
// chunk takes it from the one that wrote the last.
struct ChunkWriting {
  DecoderContext* ctx;
  const FrameList* list;
  int64_t per_chunk;
  int64_t slots;
  int64_t index;        // the next frame to write
  int64_t released;     // the chunks before this one are given back
  int64_t batch_chunk;  // where the batch starts, while it lies in the chunks
  PassEnd end;          // once the writing ends
  int64_t cut;          // bytes of frames whose bodies ran out, so far
  bool early;           // the writing ended at frame `index`, not after the last
  bool index_taken;     // and that frame counts as read
};

// Writes chunk k's frames with every check and ending of the one pass.
// false, with the end set, when the writing ends.
bool write_chunk_frames(ChunkWriting& w, int64_t chunk, const ChunkOutput& out) {
  DecoderContext& ctx = *w.ctx;
  const FrameList& list = *w.list;
  if (out.read_error != 0) {
    ctx.read_failed = true;
    ctx.read_error = out.read_error;
    w.end = PassEnd::CutShort;
    w.early = true;
    return false;
  }
  for (int64_t i = 0; i < w.per_chunk && w.index < list.count; ++i, ++w.index) {
    const FrameEntry entry = list.frames.at(w.index);
    const FrameHeader header = read_header(list.free_format_length, entry.header);
    take_frame_fields(ctx, header);
    if ((out.flags[i] & kRanOut) != 0) {
      const int64_t left = ctx.file_size - entry.offset;
      note_frame_not_written(ctx);
      const int64_t cut = entry.length < left ? entry.length : left;
      ctx.outcome.bytes.frames -= entry.length;
      ctx.outcome.bytes.cut_frame += cut;
      w.cut += cut;
    } else {
      if ((out.flags[i] & kCrcError) != 0) note_crc_error(ctx);
      note_frame_kind(ctx.outcome, header);
      const int16_t* in_place = take_chunk_pcm(ctx, list, out, i);
      switch (write_frame_pcm(ctx, in_place)) {
        case FrameResult::Written:
          ctx.frame_count += 1;
          if (in_place != nullptr && ctx.batch_in_place == in_place) w.batch_chunk = chunk;
          break;
        case FrameResult::WriteFailed:
          w.end = PassEnd::WriteFailed;
          w.early = true;
          return false;
        case FrameResult::WavFull:
          w.end = PassEnd::WavFull;
          w.early = true;
          return false;
      }
    }
    ctx.bytes_read = entry.offset + entry.length;
    if (ctx.bar != nullptr && (ctx.bytes_read >> ctx.progress_shift) > ctx.progress_threshold) report_progress(ctx);
    if (ctx.stop != nullptr && ctx.stop->load(std::memory_order_relaxed)) {
      w.end = PassEnd::Interrupted;
      w.early = w.index_taken = true;
      return false;
    }
  }
  return w.index < list.count;
}

// How the writing ends once every listed frame is written.
PassEnd end_of_list(DecoderContext& ctx, const FrameList& list) {
  ctx.bytes_read = ctx.file_size;
  switch (list.end) {
    case ListEnd::EndOfInput:
      break;
    case ListEnd::CutShort:
      return PassEnd::CutShort;
    case ListEnd::RateChanged:
      return PassEnd::RateChanged;
    case ListEnd::Interrupted:
      return PassEnd::Interrupted;
  }
  return PassEnd::EndOfInput;
}

// The runner's sink. A chunk is given back once the batch no longer lies in
// it, and the batch leaves the chunks when the next one would find no slot.
bool write_chunk(void* self, int64_t chunk, const ChunkOutput& out, int64_t* releasable) {
  ChunkWriting& w = *static_cast<ChunkWriting*>(self);
  const bool more = write_chunk_frames(w, chunk, out);
  if (!more && w.index == w.list->count) w.end = end_of_list(*w.ctx, *w.list);
  if (more && chunk + 1 >= w.released + w.slots) {
    take_batch_home(*w.ctx);
    w.released = chunk + 1;
  } else {
    const int64_t done = w.ctx->batch_in_place != nullptr ? w.batch_chunk : chunk + 1;
    if (done > w.released) w.released = done;
  }
  *releasable = w.released;
  return more;
}

// The writing ended at a frame before the last: the byte accounts become
// those of the one pass ended there, not the listing's of the whole input,
// and so do the gaps the lines tell of.
void account_up_to(DecoderContext& ctx, const FrameList& list, const ChunkWriting& w, const ChunkRunner& runner) {
  const FrameEntry at = list.frames.at(w.index);
  int64_t end = at.offset;
  if (w.index_taken) end = at.offset + at.length < ctx.file_size ? at.offset + at.length : ctx.file_size;
  int64_t frames = 0;  // the frames' bytes before it, ancillary data and all
  for (int64_t i = 0; i < w.index; ++i) frames += list.frames.at(i).length;
  int64_t count = 0;
  const PassedBytes* passed = runner.passed_stored(runner.self, &count);
  // The last noted at or before the frame.
  const PassedBytes* last =
      std::upper_bound(passed, passed + count, w.index,
                       [](int64_t frame, const PassedBytes& noted) { return frame < noted.before_frame; });
  const PassedBytes before = last != passed ? last[-1] : PassedBytes{};
  ByteAccounts& bytes = ctx.outcome.bytes;
  bytes = ByteAccounts{};
  bytes.tags = before.tags;
  bytes.gaps = before.gaps;
  bytes.stuffing = at.offset - frames - before.tags - before.gaps;
  bytes.cut_frame = w.cut;
  bytes.frames = end - bytes.stuffing - before.tags - before.gaps - w.cut;
  ctx.outcome.gap_count = before.gap_count;
  ctx.bytes_read = end;
}

// Writes the listed frames as the runner's threads decode them, then
// finishes the file from the batch in its own storage: the chunks' may be
// reused or freed once the runner ends.
PassEnd write_listed_frames(DecoderContext& ctx, const FrameList& list, const ChunkRunner& runner) {
  if (list.count == 0) return end_of_list(ctx, list);
  ChunkWriting writing{&ctx, &list, runner.chunk_frames, runner.slots, 0, 0, 0, PassEnd::EndOfInput, 0, false, false};
  runner.write_in_order(runner.self, ChunkSink{write_chunk, &writing});
  take_batch_home(ctx);
  if (writing.early) account_up_to(ctx, list, writing, runner);
  return writing.end;
}

// Back to the input's start for a pass that decodes; false, after the
// line, when the input can't go back.
bool start_decoding_again(DecoderContext& ctx) {
  if (!file_seek(ctx.input, 0)) {
    log_line(ctx.log, "ERROR %d reading input\r\n", last_error());
    return false;
  }
  start_pass(ctx, false);
  ctx.bytes_read = 0;
  ctx.data_end = static_cast<int>(fill_behind(ctx, 0));
  return true;
}

// A stream that starts in mono and turns stereo: the one pass writes its
// mono part first, then the file again from its start with two channels. A
// full disk, the 4 GiB stop or Ctrl-C may end it in that mono part, so the
// mono part is written here as the one pass writes it, before the chunks
// write the file again. TwoChannels, with the file rewound for them, or
// how the mono part ended.
PassEnd write_mono_part(DecoderContext& ctx, FrameHeader& header) {
  // The listing's accounts stand for the file the chunks write.
  const StreamOutcome listed = ctx.outcome;
  int64_t other_layer_frames[4];
  memcpy(other_layer_frames, ctx.other_layer_frames, sizeof other_layer_frames);
  if (!start_decoding_again(ctx)) return PassEnd::Closed;
  ctx.mono_part_only = true;
  const PassEnd end = run_pass(ctx, header);
  ctx.mono_part_only = false;
  if (end != PassEnd::TwoChannels) return end;
  // As the one pass starts its second pass; the chunks note the frames' kinds and CRC errors again.
  ctx.outcome.bytes = listed.bytes;
  ctx.outcome.gap_count = listed.gap_count;
  memcpy(ctx.outcome.gaps, listed.gaps, sizeof ctx.outcome.gaps);
  ctx.outcome.crc_error_count = 0;
  ctx.outcome.bitrate_count = 0;
  ctx.outcome.modes_met = 0;
  memcpy(ctx.other_layer_frames, other_layer_frames, sizeof other_layer_frames);
  ctx.two_channel_seen = true;
  return PassEnd::TwoChannels;
}

// Lists the frames of the whole input, then has them decoded in chunks and
// writes them. Returns false, with nothing written, when the one pass must
// do it instead: the listing met a failing read or ran out of room.
bool convert_in_chunks(DecoderContext& ctx, const ChunkRunner& runner, SynthesisPath path, int* result) {
  // The threads decode each chunk as soon as its frames are listed.
  ChunkSource source{};
  source.input = ctx.input;
  source.input_size = ctx.file_size;
  source.path = path;
  source.matrix = &ctx.synthesis;
  source.check_only = ctx.discard_output;
  // What the one pass read before is not held.
  source.held_start = ctx.bytes_read;
  runner.begin(runner.self, source);
  const ProgressBar bar = ctx.bar;
  ctx.bar = nullptr;  // the bar follows the frames written, not the listing
  ctx.listing = &runner;
  ctx.ahead_next = ctx.ahead_end = 0;
  ctx.ahead_start = source.held_start;
  ctx.ahead_block = -1;
  FrameHeader header;
  const PassEnd listed = run_pass(ctx, header);
  ctx.listing = nullptr;
  ctx.bar = bar;
  if (ctx.read_failed || (listed != PassEnd::EndOfInput && listed != PassEnd::CutShort &&
                          listed != PassEnd::RateChanged && listed != PassEnd::Interrupted)) {
    runner.end(runner.self);
    return false;
  }
  FrameList list;
  list.frames = runner.stored(runner.self);
  list.count = ctx.frame_count;
  list.free_format_length = ctx.free_format_length;
  list.two_channels = ctx.two_channel_seen;
  // Stopped while listing, the writing stops after the first frame, as the
  // one pass does when asked to stop before it.
  list.end = listed == PassEnd::CutShort      ? ListEnd::CutShort
             : listed == PassEnd::RateChanged ? ListEnd::RateChanged
             : listed == PassEnd::Interrupted ? ListEnd::Interrupted
                                              : ListEnd::EndOfInput;
  list.next_rate = header.sample_rate;
  runner.listed(runner.self, list.count, list.free_format_length);
  if (list.two_channels && !ctx.discard_output && list.count > 0 &&
      read_header(list.free_format_length, list.frames.at(0).header).mode == kModeSingleChannel) {
    const PassEnd mono = write_mono_part(ctx, header);
    if (mono != PassEnd::TwoChannels) {
      runner.end(runner.self);
      *result = finish_pass(ctx, mono, header.sample_rate);
      return true;
    }
  }

  // Written from the start as the one pass writes its last pass; the
  // listing's byte accounts stand.
  ctx.frame_count = 0;
  ctx.sample_rate = 0;
  ctx.bytes_read = 0;
  const PassEnd written = write_listed_frames(ctx, list, runner);
  runner.end(runner.self);
  *result = finish_pass(ctx, written, list.next_rate);
  return true;
}

// The input is a transport or program stream whose first `got` bytes are in
// the buffer: the stream to decode is the request's track, or else the first
// MPEG audio track these bytes show. 0, or -1 after one line.
int start_container(DecoderContext& ctx, const ContainerFormat& format, uint32_t got) {
  // The tracks these bytes show, and more of the input's when they show none.
  memcpy(ctx.container_prefix, ctx.input_buffer, got);
  uint32_t have = got;
  TrackList tracks;
  const TrackInfo* chosen = nullptr;
  for (;;) {
    list_tracks(format, ctx.container_prefix, have, &tracks);
    int number = 0;
    for (int i = 0; i < tracks.count && chosen == nullptr; ++i) {
      const TrackInfo& track = tracks.tracks[i];
      if (track.codec != TrackCodec::MpegAudio) continue;
      ++number;
      if (ctx.track_id >= 0 ? track.id == ctx.track_id : number == ctx.track_number) chosen = &track;
    }
    uint32_t more = 0;
    if (chosen != nullptr || ctx.track_id >= 0 || have == kContainerProbeBytes ||
        !file_read(ctx.input, ctx.container_prefix + have, kContainerProbeBytes - have, &more) || more == 0) {
      break;
    }
    have += more;
  }
  const bool no_track = chosen == nullptr && ctx.track_id < 0;
  if (no_track || (chosen != nullptr && chosen->scrambled)) {
    if (no_track) {
      log_line(ctx.log, "ERR: %s holds no MPEG audio track\r\n", ctx.input_name);
      ctx.outcome.failure = StreamFailure::NoAudioTrack;
    } else {
      log_line(ctx.log, "ERR: track %d (%s 0x%04X) is scrambled; not converted\r\n", ctx.track_number,
               format.kind == ContainerKind::Transport ? "PID" : "stream", chosen->id);
      ctx.outcome.failure = StreamFailure::Scrambled;
    }
    // What was read is accounted, as not converted.
    ctx.bytes_read = have;
    ctx.outcome.bytes.not_converted = have;
    return -1;
  }
  ctx.container_format = format;
  ctx.container_source.input = ctx.input;
  ctx.container_source.prefix_left = 0;
  // Read from the start again where the input can; a pipe's first bytes
  // are kept and handed over first.
  if (!file_seek(ctx.input, 0)) {
    ctx.container_source.prefix = ctx.container_prefix;
    ctx.container_source.prefix_left = have;
  }
  if (chosen != nullptr) ctx.track_id = chosen->id;
  ctx.from_container = true;
  restart_container(ctx);
  return 0;
}

// Reads the start of the input and converts it all.
int start_stream(DecoderContext& ctx, SynthesisPath path) {
  uint32_t got = 0;
  if (!file_read(ctx.input, ctx.input_buffer, kInputBufferSize, &got) || got == 0) {
    const int error = last_error();
    log_line(ctx.log, "ERROR %d reading input\r\n", error);
    ctx.outcome.failure = StreamFailure::ReadFailed;
    ctx.outcome.error = error;
    return -1;
  }
  ctx.bytes_read = got;
  ctx.file_size = file_size(ctx.input);
  // A pipe has no size to tell; an input that can be read at any place has.
  uint8_t probe = 0;
  uint32_t probed = 0;
  const bool rereadable = file_read_at(ctx.input, 0, &probe, 1, &probed) && probed == 1;
  if (ctx.file_size < 0 || !rereadable) ctx.file_size = 0;
  ctx.outcome.input_size = rereadable ? ctx.file_size : -1;
  const char* foreign = foreign_format_name(ctx.input_buffer, got);
  if (foreign != nullptr) {
    log_line(ctx.log, "ERR: %s is %s %s file, not MPEG audio\r\n", ctx.input_name, foreign[0] == 'O' || foreign[0] == 'M' ? "an" : "a",
             foreign);
    ctx.outcome.failure = StreamFailure::ForeignFormat;
    ctx.outcome.foreign_format = foreign;
    ctx.outcome.bytes.not_converted = ctx.bytes_read;
    return -1;
  }
  const ContainerFormat format = probe_container(ctx.input_buffer, got);
  if (format.kind != ContainerKind::Elementary && start_container(ctx, format, got) != 0) return -1;
  if (ctx.bar != nullptr) {
    ctx.progress_shift = progress_shift_for(ctx.file_size);
    report_progress(ctx);
  }
  reserve_wav_header(ctx);

  start_pass(ctx, false);
  ctx.data_end = static_cast<int>(got);
  if (ctx.from_container) {
    ctx.bytes_read = 0;
    ctx.data_end = static_cast<int>(fill_behind(ctx, 0));
  }
  start_synthesis(ctx.synthesis, path);
  ctx.start_tick = tick_count();

  // A long file that can be read again at any place, into an output that
  // takes its header last (or none), is decoded on every core.
  const ChunkRunner* runner = ctx.runner;
  if (runner != nullptr && !ctx.from_container && rereadable && ctx.file_size >= runner->min_input_bytes &&
      (ctx.wav_layout != WavLayout::Stream || ctx.discard_output)) {
    int result = -1;
    if (convert_in_chunks(ctx, *runner, path, &result)) return result;
    // Back to the start for the one pass; nothing was written.
    if (!start_decoding_again(ctx)) return -1;
  }
  FrameHeader header;
  const PassEnd end = run_pass(ctx, header);
  return finish_pass(ctx, end, header.sample_rate);
}

StreamOutcome close_outcome(const DecoderContext& ctx) {
  StreamOutcome outcome = ctx.outcome;
  outcome.sample_rate = ctx.sample_rate;
  outcome.frames = ctx.frame_count;
  outcome.channels = ctx.two_channel_seen ? 2 : 1;
  outcome.samples = ctx.bytes_written / (2 * outcome.channels);
  outcome.bytes_read = ctx.bytes_read;
  return outcome;
}

}  // namespace

int decode_stream(const DecodeRequest& request, StreamOutcome* outcome) {
  // Its rings and buffers are too large for a small thread stack many times
  // over, but not once: the context is the conversion's, on its stack.
  DecoderContext ctx{};
  ctx.log = request.log;
  ctx.bar = request.bar;
  ctx.input = request.input;
  ctx.output = request.output;
  ctx.stop = request.stop;
  ctx.output_name = request.output_name;
  ctx.input_name = request.input_name != nullptr ? request.input_name : "the input";
  ctx.discard_output = request.discard_output;
  ctx.stream_kbps = request.stream_kbps;
  ctx.track_id = request.track_id;
  ctx.track_number = request.track_number > 0 ? request.track_number : 1;
  ctx.late_tracks = request.late_tracks;
  ctx.runner = request.runner;
  ctx.batch = request.batch;
  const int result = start_stream(ctx, request.path);
  if (outcome != nullptr) *outcome = close_outcome(ctx);
  return result;
}
