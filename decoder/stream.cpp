#include "decoder/stream.h"

#include <cstring>

#include "decoder/bit_reader.h"
#include "decoder/frame_body.h"
#include "decoder/synthesis.h"
#include "decoder/wav_writer.h"
#include "platform/progress_scale.h"

namespace {

// Layer II bit rates in kbit/s; free format (0) and the forbidden index 15 give 0.
const int32_t BitrateTable[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
const int32_t SampleRateTable[4] = {44100, 48000, 32000, 0};
const char* const mode_names[4] = {"stereo", "jstereo", "dualch", "mono"};

constexpr int kModeSingleChannel = 3;

void report_progress(DecoderContext& ctx) {
  ctx.progress_threshold = progress_report(ctx.bar, static_cast<uint32_t>(ctx.bytes_read >> ctx.progress_shift),
                                           scaled_for_progress(ctx.file_size, ctx.progress_shift));
}

void note_bytes_read(DecoderContext& ctx, uint32_t got) {
  if (ctx.bar == nullptr) return;
  ctx.bytes_read += got;
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
    if (got == 0) break;
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

void refill_input(DecoderContext& ctx) {
  if (ctx.data_end - ctx.cursor < kRefillMargin) top_up(ctx);
}

// The first two-channel frame follows mono frames already written. The
// output can't be read back, so the input is decoded once more from its start
// with two_channel_seen set: the mono frames come out as two identical
// channels, the rest exactly as before. The first frame's table and stream
// line stay. Returns true to go on scanning from the start of the input.
bool decode_again_with_two_channels(DecoderContext& ctx, int* result) {
  ctx.frame_count -= 1;
  if (!wav_data_can_restart(ctx)) {
    *result = abandon_with_mono_part_sent(ctx, ctx.frame_count + 1);
    return false;
  }
  if (!file_seek(ctx.input, 0)) {
    *result = abandon_before_two_channels(ctx, ctx.frame_count + 1);
    return false;
  }
  if (!rewind_wav_data(ctx)) {
    *result = abandon_after_write_failure(ctx);
    return false;
  }
  ctx.two_channel_seen = true;
  ctx.frame_count = 0;
  ctx.sync = SyncState::Seeking;
  ctx.sample_rate = 0;
  ctx.last_valid_sample_rate = 0;
  ctx.channel_count = 1;
  reset_synthesis(ctx);
  ctx.read_failed = false;
  ctx.read_error = 0;
  ctx.bytes_read = 0;
  ctx.cursor = 0;
  ctx.data_end = static_cast<int>(fill_behind(ctx, 0));
  return true;
}

// Reads the header after the sync pair at the cursor, decodes the frame and
// moves the cursor past what the body read. Returns true to go on scanning.
bool decode_frame(DecoderContext& ctx, int* result) {
  ctx.frame_count += 1;
  // The body reads straight out of the buffer: make sure the whole frame is in
  // it while input remains, however long the frame is.
  if (ctx.data_end - ctx.cursor < kLongestFrameRead) top_up(ctx);
  const uint8_t* second_byte = ctx.input_buffer + ctx.cursor;
  set_bit_limit(ctx.input_buffer + ctx.data_end);
  restart_bits(second_byte + 1);

  int32_t bitrate = BitrateTable[read_bits(4)];
  const int32_t sample_rate = SampleRateTable[read_bits(2)];
  read_bits(2);  // padding and private bits
  int mode = static_cast<int>(read_bits(2));
  const int mode_extension = static_cast<int>(read_bits(2));
  read_bits(4);  // copyright, original and emphasis
  if ((*second_byte & 1) == 0) read_bits(16);  // CRC word, not verified

  // Mono PCM already in the file has one channel where the header will say
  // two: decode again from the start, writing every frame with two channels.
  // Checked before this frame's fields are kept: should that fail, the header
  // describes the mono frames, rate included.
  if (mode != kModeSingleChannel && !ctx.two_channel_seen && pcm_bytes_produced(ctx) > 0) {
    return decode_again_with_two_channels(ctx, result);
  }
  ctx.sample_rate = sample_rate;
  if (ctx.sample_rate != 0) ctx.last_valid_sample_rate = ctx.sample_rate;
  ctx.mode_extension = mode_extension;

  if (ctx.table_id == -1) {
    log_line(ctx.log, "%d %dk %s\r\n", ctx.sample_rate, bitrate, mode_names[mode]);
    choose_alloc_table(ctx, bitrate, mode);
    choose_wav_layout(ctx, bitrate);
  }
  if (mode == kModeSingleChannel) {
    ctx.channel_count = 1;
  } else {
    ctx.two_channel_seen = true;
    ctx.channel_count = 2;
  }

  switch (decode_frame_body(ctx, mode, ctx.mode_extension)) {
    case FrameResult::Written:
      break;
    case FrameResult::CutShort:
      // The input ended inside this frame: it is not written and not counted.
      ctx.frame_count -= 1;
      ctx.cursor = ctx.data_end;
      final_progress_report(ctx);
      *result = finish_stream(ctx);
      return false;
    case FrameResult::WriteFailed:
      *result = abandon_after_write_failure(ctx);
      return false;
    case FrameResult::WavFull:
      ctx.frame_count -= 1;
      *result = abandon_at_wav_limit(ctx);
      return false;
  }
  ctx.cursor = static_cast<int>(bit_position() - ctx.input_buffer);
  ctx.sync = SyncState::Seeking;
  return true;
}

}  // namespace

const int32_t BoundTable[4] = {4, 8, 12, 16};

void choose_alloc_table(DecoderContext& ctx, int32_t bitrate_kbps, int mode) {
  int channels = mode == kModeSingleChannel ? 1 : 2;
  int32_t per_channel = bitrate_kbps / channels;
  const AllocTable* table;
  if (per_channel > 48) {
    table = &alloc_high;
    if (ctx.sample_rate == 48000 || per_channel <= 80) {
      ctx.table_id = 0;
      ctx.sblimit = 27;
    } else {
      ctx.table_id = 1;
      ctx.sblimit = 30;
    }
  } else {
    table = &alloc_low;
    if (ctx.sample_rate == 32000) {
      ctx.table_id = 3;
      ctx.sblimit = 12;
    } else {
      ctx.table_id = 2;
      ctx.sblimit = 8;
    }
  }
  ctx.nbal = table->nbal;
  memcpy(ctx.levels, table->levels, sizeof(ctx.levels[0]) * static_cast<size_t>(ctx.sblimit));
}

int decode_stream(LogPane log, FileHandle output, FileHandle input, ProgressBar bar) {
  DecoderContext ctx;
  ctx.log = log;
  ctx.bar = bar;
  ctx.input = input;
  ctx.output = output;
  ctx.read_failed = false;
  ctx.read_error = 0;

  uint32_t got = 0;
  if (!file_read(input, ctx.input_buffer, kInputBufferSize, &got) || got == 0) {
    log_line(log, "ERROR %d reading input\r\n", last_error());
    return -1;
  }
  ctx.bytes_read = 0;
  ctx.progress_threshold = 0;
  ctx.progress_shift = 0;
  if (bar != nullptr) {
    ctx.file_size = file_size(input);
    if (ctx.file_size < 0) ctx.file_size = 0;
    ctx.progress_shift = progress_shift_for(ctx.file_size);
    ctx.bytes_read = got;
    report_progress(ctx);
  }
  reserve_wav_header(ctx);

  ctx.cursor = 0;
  ctx.data_end = static_cast<int>(got);
  ctx.frame_count = 0;
  ctx.bytes_written = 0;
  ctx.write_error = 0;
  ctx.sync = SyncState::Seeking;
  ctx.table_id = -1;
  ctx.sblimit = 0;
  ctx.sample_rate = 0;
  ctx.last_valid_sample_rate = 0;
  ctx.mode_extension = 0;
  ctx.channel_count = 1;
  ctx.two_channel_seen = false;
  reset_synthesis(ctx);
  build_cos_matrix(ctx);
  ctx.start_tick = tick_count();

  for (;;) {
    uint8_t b = ctx.input_buffer[ctx.cursor];
    if (ctx.sync == SyncState::Seeking) {
      if (b == 0xFF) ctx.sync = SyncState::SawFF;
      ctx.cursor += 1;
    } else if ((b & 0xFE) == 0xFC) {
      int result = 0;
      if (!decode_frame(ctx, &result)) return result;
    } else {
      // FF FF FC: the second FF ends the attempt and is not a new first byte.
      ctx.sync = SyncState::Seeking;
      ctx.cursor += 1;
    }
    refill_input(ctx);
    if (ctx.cursor >= ctx.data_end) break;
  }
  final_progress_report(ctx);
  return finish_stream(ctx);
}
