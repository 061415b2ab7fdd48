#include "decoder/stream.h"

#include <cstring>

#include "decoder/bit_reader.h"
#include "decoder/damage.h"
#include "decoder/frame_body.h"
#include "decoder/synthesis.h"
#include "decoder/wav_writer.h"
#include "platform/progress_scale.h"

namespace {

// Layer II bit rates in kbit/s and sampling frequencies in Hz, by the header's
// ID bit: 0 for the half rates of ISO/IEC 13818-3, 1 for ISO/IEC 11172-3.
// Bitrate index 0 is free format; index 15 and rate index 3 have no value.
const int32_t BitrateTable[2][16] = {
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
};
const int32_t SampleRateTable[2][4] = {{22050, 24000, 16000, 0}, {44100, 48000, 32000, 0}};
const char* const mode_names[4] = {"stereo", "jstereo", "dualch", "mono"};

constexpr int kModeSingleChannel = 3;
constexpr int kFreeFormat = 0;
constexpr int kForbiddenBitrate = 15;
constexpr int kReservedRate = 3;
constexpr int kHeaderBytes = 4;
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

struct FrameHeader {
  int version;  // the ID bit: 1 for ISO/IEC 11172-3, 0 for the half rates
  int bitrate_index;
  int rate_index;
  int padding;
  int mode;
  int mode_extension;
  bool crc;
  int32_t sample_rate;
  int32_t bitrate;  // kbit/s; in free format derived from the stream's frame length
  int length;       // bytes from the sync pair to the next frame; 0: none, never a frame
};

void report_progress(DecoderContext& ctx) {
  ctx.progress_threshold = progress_report(ctx.bar, static_cast<uint32_t>(ctx.bytes_read >> ctx.progress_shift),
                                           scaled_for_progress(ctx.file_size, ctx.progress_shift));
}

void note_bytes_read(DecoderContext& ctx, uint32_t got) {
  ctx.bytes_read += got;
  if (ctx.bar == nullptr) return;
  if ((ctx.bytes_read >> ctx.progress_shift) > ctx.progress_threshold) report_progress(ctx);
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
    if (!file_read(ctx.input, ctx.input_buffer + kept + total, kInputBufferSize - kept - total, &got)) {
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

int32_t free_format_bitrate(int32_t length, int32_t sample_rate) {
  return static_cast<int32_t>((static_cast<int64_t>(length) * sample_rate + 72000) / 144000);
}

// The header whose sync pair is at p; its 4 bytes are buffered.
FrameHeader read_header(const DecoderContext& ctx, const uint8_t* p) {
  FrameHeader h;
  h.version = (p[1] >> 3) & 1;
  h.crc = (p[1] & 1) == 0;
  h.bitrate_index = p[2] >> 4;
  h.rate_index = (p[2] >> 2) & 3;
  h.padding = (p[2] >> 1) & 1;
  h.mode = p[3] >> 6;
  h.mode_extension = (p[3] >> 4) & 3;
  h.sample_rate = SampleRateTable[h.version][h.rate_index];
  h.bitrate = BitrateTable[h.version][h.bitrate_index];
  h.length = 0;
  if (h.rate_index == kReservedRate || h.bitrate_index == kForbiddenBitrate) return h;
  if (h.bitrate_index != kFreeFormat) {
    h.length = 144000 * h.bitrate / h.sample_rate + h.padding;
  } else if (ctx.free_format_length != 0) {
    h.length = ctx.free_format_length + h.padding;
    h.bitrate = free_format_bitrate(ctx.free_format_length, h.sample_rate);
  }
  return h;
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
constexpr int kOtherLayerConfirmations = 3;

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
      header = read_header(ctx, q);
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
  header = read_header(ctx, ctx.input_buffer + ctx.cursor);
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
    if (ctx.frame_count == 0 && ctx.other_layer_frames[1] + ctx.other_layer_frames[3] < kOtherLayerConfirmations) {
      note_other_layer(ctx);
    }
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
  if (bytes_ahead(ctx) < kHeaderBytes || !matches(last, p)) return FollowingFrame::Search;
  header = read_header(ctx, p);
  if (header.length == 0) return FollowingFrame::Search;
  return bytes_ahead(ctx) < header.length ? FollowingFrame::CutShort : FollowingFrame::Found;
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
  ctx.outcome.bitrate_count = 0;
  ctx.outcome.modes_met = 0;
  for (int64_t& count : ctx.other_layer_frames) count = 0;
  reset_synthesis(ctx.synthesis);
}

// The first two-channel frame follows mono frames already written. The
// output can't be read back, so the input is decoded once more from its start
// with two_channel_seen set: the mono frames come out as two identical
// channels, the rest exactly as before. Returns 0 to go on scanning from the
// start of the input, -1 when the file was closed instead.
int decode_again_with_two_channels(DecoderContext& ctx) {
  if (!wav_data_can_restart(ctx)) return abandon_with_mono_part_sent(ctx, ctx.frame_count + 1);
  if (!file_seek(ctx.input, 0)) return abandon_before_two_channels(ctx, ctx.frame_count + 1);
  if (!rewind_wav_data(ctx)) return abandon_after_write_failure(ctx);
  start_pass(ctx, true);
  ctx.bytes_read = 0;
  ctx.data_end = static_cast<int>(fill_behind(ctx, 0));
  return 0;
}

void use_alloc_table(DecoderContext& ctx, int32_t bitrate_kbps, int mode) {
  const AllocChoice choice = choose_alloc_table(ctx.sample_rate, bitrate_kbps, mode);
  ctx.sblimit = choice.sblimit;
  ctx.nbal = choice.table->nbal;
  ctx.levels = choice.table->levels;
  ctx.level_classes = choice.table->classes;
}

// The bit rates and modes the frames have.
void note_frame_kind(StreamOutcome& outcome, const FrameHeader& header) {
  outcome.modes_met |= 1u << header.mode;
  for (int i = 0; i < outcome.bitrate_count; ++i) {
    if (outcome.bitrates_met[i] == header.bitrate) return;
  }
  if (outcome.bitrate_count < 16) outcome.bitrates_met[outcome.bitrate_count++] = header.bitrate;
}

enum class FrameStep {
  Written,               // the frame's PCM is in the file
  NotWritten,            // the body wanted bits past the end of the input
  RateChanged,           // the frame has another sampling frequency than those written
  TwoChannelsFromHere,   // a two-channel frame after mono ones: decode again
  WriteFailed,
  WavFull,
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
  synthesize_frame(ctx);
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

int finish_at_end_of_input(DecoderContext& ctx) {
  final_progress_report(ctx);
  return ctx.frame_count == 0 ? finish_without_frames(ctx) : finish_stream(ctx);
}

// Finds and decodes every frame of the input: by search, and from each frame
// on at the place its length gives.
int convert_frames(DecoderContext& ctx) {
  FrameHeader header;
  while (search_frame(ctx, header)) {
    FrameStep step;
    for (;;) {
      step = decode_frame(ctx, header);
      if (step != FrameStep::Written && step != FrameStep::NotWritten) break;
      if (ctx.stop != nullptr && ctx.stop->load(std::memory_order_relaxed)) return finish_interrupted(ctx);
      // Ancillary data, padding and whatever the body left unread lie before
      // the next frame; they are passed over whole.
      const FrameHeader last = header;
      if (step == FrameStep::Written) {
        ctx.outcome.bytes.frames += last.length;
      } else {
        ctx.outcome.bytes.cut_frame += last.length < bytes_ahead(ctx) ? last.length : bytes_ahead(ctx);
      }
      ctx.cursor += last.length;
      const FollowingFrame next = frame_at_cursor(ctx, last, header);
      if (next == FollowingFrame::Search) break;
      if (next == FollowingFrame::CutShort) {
        // Not decoded: its header changes none of the stream's fields.
        ctx.outcome.bytes.cut_frame += bytes_ahead(ctx);
        final_progress_report(ctx);
        return finish_stream(ctx);
      }
    }
    switch (step) {
      case FrameStep::Written:
      case FrameStep::NotWritten:
        break;  // the search goes on where the last frame ends
      case FrameStep::RateChanged:
        // The rest is not read: it counts by the input's size, where known.
        ctx.outcome.bytes.not_converted =
            ctx.file_size > 0 ? ctx.file_size - input_position(ctx) : bytes_ahead(ctx);
        final_progress_report(ctx);
        return finish_at_rate_change(ctx, header.sample_rate);
      case FrameStep::TwoChannelsFromHere:
        if (decode_again_with_two_channels(ctx) != 0) return -1;
        break;
      case FrameStep::WriteFailed:
        return abandon_after_write_failure(ctx);
      case FrameStep::WavFull:
        return abandon_at_wav_limit(ctx);
    }
  }
  return finish_at_end_of_input(ctx);
}

// The file formats given by mistake most often, known by their first bytes:
// "a FLAC" and so on, or null. A WAV file that carries MPEG audio (format
// 0x0050, as broadcast archives keep it) is not foreign: its frames are
// found as in any other file.
const char* foreign_format_at(const uint8_t* p, int count) {
  if (count >= 12 && memcmp(p, "RIFF", 4) == 0 && memcmp(p + 8, "WAVE", 4) == 0) {
    for (int at = 12; at + 10 <= count && at < 256; ++at) {
      if (memcmp(p + at, "fmt ", 4) == 0) return (p[at + 8] | p[at + 9] << 8) == 0x0050 ? nullptr : "a WAV";
    }
    return "a WAV";
  }
  if (count >= 4 && memcmp(p, "fLaC", 4) == 0) return "a FLAC";
  if (count >= 4 && memcmp(p, "OggS", 4) == 0) return "an Ogg";
  if (count >= 8 && memcmp(p + 4, "ftyp", 4) == 0) return "an MP4";
  return nullptr;
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
  ctx.outcome.input_size = ctx.file_size;
  if (ctx.file_size < 0) ctx.file_size = 0;
  const char* foreign = foreign_format_at(ctx.input_buffer, static_cast<int>(got));
  if (foreign != nullptr) {
    log_line(ctx.log, "ERR: %s is %s file, not MPEG audio\r\n", ctx.input_name, foreign);
    ctx.outcome.failure = StreamFailure::ForeignFormat;
    ctx.outcome.foreign_format = foreign + (foreign[1] == 'n' ? 3 : 2);
    return -1;
  }
  if (ctx.bar != nullptr) {
    ctx.progress_shift = progress_shift_for(ctx.file_size);
    report_progress(ctx);
  }
  reserve_wav_header(ctx);

  start_pass(ctx, false);
  ctx.data_end = static_cast<int>(got);
  start_synthesis(ctx.synthesis, path);
  ctx.start_tick = tick_count();
  return convert_frames(ctx);
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
  ctx.batch = request.batch;
  const int result = start_stream(ctx, request.path);
  if (outcome != nullptr) *outcome = close_outcome(ctx);
  return result;
}
