#include "decoder/wav_writer.h"

#include <cstring>

#include "decoder/damage.h"
#include "platform/log_text.h"

namespace {

constexpr uint32_t kBytesPerFrameChannel = 1152 * 2;
constexpr uint32_t kUnknownSize = 0xFFFFFFFF;

// Whole stereo frames, which are whole mono frames too, so a batch fills up
// exactly. A file gets writes of about 1 MiB; a pipe smaller ones, so that
// its reader hears the stream about every third of a second rather than in
// bursts of seconds.
constexpr uint32_t kFileBatchBytes = kPcmBatchBytes;
constexpr uint32_t kPipeBatchBytes = 14 * kMostFramePcmBytes;
static_assert(kFileBatchBytes % kMostFramePcmBytes == 0, "a batch holds whole frames");
static_assert(sizeof(PcmBatch::values) == kFileBatchBytes + kMostFramePcmBytes, "room behind the batch for a frame");

// Ends the conversion as a failure for `why`; returns -1.
int failed(DecoderContext& ctx, StreamFailure why, int error = 0) {
  ctx.outcome.ending = why == StreamFailure::Interrupted ? StreamEnding::Interrupted : StreamEnding::Failed;
  ctx.outcome.failure = why;
  ctx.outcome.error = error;
  return -1;
}

void put16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* at, uint32_t value) {
  put16(at, value & 0xFFFF);
  put16(at + 2, value >> 16);
}

void put64(uint8_t* at, uint64_t value) {
  put32(at, static_cast<uint32_t>(value));
  put32(at + 4, static_cast<uint32_t>(value >> 32));
}

// "fmt " and its 16-byte body, the same in every layout.
void encode_format_chunk(uint16_t channels, uint32_t sample_rate, uint8_t out[24]) {
  memcpy(out, "fmt ", 4);
  put32(out + 4, 16);
  put16(out + 8, 1);
  put16(out + 10, channels);
  put32(out + 12, sample_rate);
  put32(out + 16, sample_rate * channels * 2);
  put16(out + 20, static_cast<uint32_t>(channels) * 2);
  put16(out + 22, 16);
}

int header_channels(const DecoderContext& ctx) { return ctx.two_channel_seen ? 2 : 1; }

// The rate of the frames written, or 44100 without any.
uint32_t header_sample_rate(const DecoderContext& ctx) {
  return ctx.sample_rate != 0 ? static_cast<uint32_t>(ctx.sample_rate) : 44100;
}

int header_size(const DecoderContext& ctx) {
  return ctx.wav_layout == WavLayout::Rf64 ? kRf64HeaderSize : kWavHeaderSize;
}

bool write_at_start(DecoderContext& ctx, const uint8_t* bytes, uint32_t count) {
  uint32_t written = 0;
  const bool ok = file_seek(ctx.output, 0) && file_write(ctx.output, bytes, count, &written);
  if (!ok) ctx.write_error = last_error();
  return ok;
}

// The canonical header at offset 0 for `data_size` PCM bytes, in the four
// writes of its parts.
bool write_canonical_header(DecoderContext& ctx, int64_t data_size) {
  WavFields fields;
  fields.channels = static_cast<uint16_t>(header_channels(ctx));
  fields.sample_rate = header_sample_rate(ctx);
  fields.data_size = static_cast<uint32_t>(data_size);
  fields.riff_size = static_cast<uint32_t>(data_size + kWavHeaderSize - 8);
  uint8_t header[kWavHeaderSize];
  encode_wav_header(fields, header);

  bool ok = file_seek(ctx.output, 0);
  static const int parts[4][2] = {{0, 12}, {12, 8}, {20, 16}, {36, 8}};
  for (const auto& part : parts) {
    uint32_t written = 0;
    if (!ok) break;
    ok = file_write(ctx.output, header + part[0], static_cast<uint32_t>(part[1]), &written);
  }
  if (!ok) ctx.write_error = last_error();
  return ok;
}

bool write_rf64_header(DecoderContext& ctx, int64_t data_size) {
  Rf64Fields fields;
  fields.channels = static_cast<uint16_t>(header_channels(ctx));
  fields.sample_rate = header_sample_rate(ctx);
  fields.data_size = static_cast<uint64_t>(data_size);
  uint8_t header[kRf64HeaderSize];
  encode_rf64_header(fields, header);
  return write_at_start(ctx, header, kRf64HeaderSize);
}

// A pipe's header goes out once, before its first PCM, with the frames'
// rate and channels so far and sizes that say "unknown".
bool send_stream_header(DecoderContext& ctx) {
  if (ctx.stream_header_sent) return true;
  WavFields fields;
  fields.channels = static_cast<uint16_t>(header_channels(ctx));
  fields.sample_rate = header_sample_rate(ctx);
  fields.data_size = kUnknownSize;
  fields.riff_size = kUnknownSize;
  uint8_t header[kWavHeaderSize];
  encode_wav_header(fields, header);
  uint32_t written = 0;
  ctx.stream_header_sent = true;
  if (file_write(ctx.output, header, kWavHeaderSize, &written)) return true;
  ctx.write_error = last_error();
  return false;
}

// The header for `data_size` PCM bytes, in the file's layout. True when every
// write succeeded.
bool write_wav_header(DecoderContext& ctx, int64_t data_size) {
  if (ctx.discard_output) return true;
  switch (ctx.wav_layout) {
    case WavLayout::Stream:
      return send_stream_header(ctx);
    case WavLayout::Rf64:
      return write_rf64_header(ctx, data_size);
    case WavLayout::Undecided:
    case WavLayout::Canonical:
      break;
  }
  return write_canonical_header(ctx, data_size);
}

// Writes the batch behind what the file holds and counts what the write
// reported. A pipe's header goes first.
bool write_batch(DecoderContext& ctx) {
  if (ctx.batch_bytes == 0) return true;
  const int16_t* values = ctx.batch_in_place != nullptr ? ctx.batch_in_place : ctx.batch->values;
  ctx.batch_in_place = nullptr;
  if (ctx.discard_output) {
    ctx.bytes_written += ctx.batch_bytes;
    ctx.batch_bytes = 0;
    return true;
  }
  if (ctx.wav_layout == WavLayout::Stream && !send_stream_header(ctx)) {
    ctx.batch_bytes = 0;
    return false;
  }
  uint32_t written = 0;
  const bool ok = file_write(ctx.output, values, ctx.batch_bytes, &written);
  if (!ok) ctx.write_error = last_error();
  ctx.bytes_written += written;
  ctx.batch_bytes = 0;
  return ok;
}

// The PCM bytes in the file: its size less the header, none if it is shorter.
// Bytes past what this pass wrote are left from a first pass that was
// decoded again with two channels (stream.cpp); they are not data. A pipe
// holds what its writes reported.
int64_t pcm_in_file(const DecoderContext& ctx) {
  if (ctx.wav_layout == WavLayout::Stream) return ctx.bytes_written;
  int64_t size = file_size(ctx.output);
  if (size < header_size(ctx)) return 0;
  const int64_t pcm = size - header_size(ctx);
  return pcm > ctx.bytes_written ? ctx.bytes_written : pcm;
}

// What a header may declare of a file that stopped early: whole sample frames.
int64_t whole_sample_frames(const DecoderContext& ctx, int64_t bytes) {
  const int block_align = header_channels(ctx) * 2;
  return bytes - bytes % block_align;
}

bool has_room_for(const DecoderContext& ctx, uint32_t more_bytes) {
  if (ctx.wav_layout == WavLayout::Rf64 || ctx.wav_layout == WavLayout::Stream) return true;
  return kWavHeaderSize + pcm_bytes_produced(ctx) + more_bytes <= kLargestWavFile;
}

}  // namespace

void encode_wav_header(const WavFields& fields, uint8_t out[kWavHeaderSize]) {
  memcpy(out, "RIFF", 4);
  put32(out + 4, fields.riff_size);
  memcpy(out + 8, "WAVE", 4);
  encode_format_chunk(fields.channels, fields.sample_rate, out + 12);
  memcpy(out + 36, "data", 4);
  put32(out + 40, fields.data_size);
}

void encode_rf64_header(const Rf64Fields& fields, uint8_t out[kRf64HeaderSize]) {
  memcpy(out, "RF64", 4);
  put32(out + 4, kUnknownSize);
  memcpy(out + 8, "WAVE", 4);
  memcpy(out + 12, "ds64", 4);
  put32(out + 16, 28);
  put64(out + 20, fields.data_size + kRf64HeaderSize - 8);
  put64(out + 28, fields.data_size);
  put64(out + 36, fields.data_size / (static_cast<uint64_t>(fields.channels) * 2));
  put32(out + 44, 0);
  encode_format_chunk(fields.channels, fields.sample_rate, out + 48);
  memcpy(out + 72, "data", 4);
  put32(out + 76, kUnknownSize);
}

int64_t estimated_wav_size(int64_t input_size, int32_t bitrate_kbps, int32_t sample_rate) {
  if (input_size <= 0 || bitrate_kbps <= 0 || sample_rate <= 0) return -1;
  const int64_t frame_length = 144000ll * bitrate_kbps / sample_rate;
  const int64_t frames = input_size / frame_length + 1;
  return kWavHeaderSize + frames * kMostFramePcmBytes;
}

void reserve_wav_header(DecoderContext& ctx) {
  ctx.stream_header_sent = false;
  ctx.batch_bytes = 0;
  ctx.batch_in_place = nullptr;
  if (ctx.discard_output) {
    // Nothing is written, so nothing limits the size.
    ctx.wav_layout = WavLayout::Stream;
    ctx.batch_limit = kFileBatchBytes;
  } else if (file_can_seek(ctx.output)) {
    ctx.wav_layout = WavLayout::Undecided;
    ctx.batch_limit = kFileBatchBytes;
    file_seek(ctx.output, kWavHeaderSize);
  } else {
    ctx.wav_layout = WavLayout::Stream;
    ctx.batch_limit = kPipeBatchBytes;
  }
}

void choose_wav_layout(DecoderContext& ctx, int32_t bitrate_kbps) {
  if (ctx.wav_layout != WavLayout::Undecided) return;
  ctx.wav_layout = WavLayout::Canonical;
  const int64_t estimate = estimated_wav_size(file_size(ctx.input), bitrate_kbps, ctx.sample_rate);
  // Should the move fail, the PCM starts at 44 and the canonical header fits.
  if (estimate > kLargestWavFile && file_seek(ctx.output, kRf64HeaderSize)) ctx.wav_layout = WavLayout::Rf64;
}

FrameResult write_frame_pcm(DecoderContext& ctx, const int16_t* in_place) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "PCM is written in the host's byte order");
  const uint32_t bytes = static_cast<uint32_t>(ctx.pcm_count) * 2;
  if (!has_room_for(ctx, bytes)) return FrameResult::WavFull;
  if (ctx.batch_bytes + bytes > ctx.batch_limit) {
    // The frame lies behind the batch: the batch goes out, the frame moves to its start.
    const uint32_t frame_at = ctx.batch_bytes;
    if (!write_batch(ctx)) return FrameResult::WriteFailed;
    if (in_place == nullptr) memmove(ctx.batch->values, ctx.batch->values + frame_at / 2, bytes);
  }
  if (in_place != nullptr) {
    if (ctx.batch_bytes == 0) {
      ctx.batch_in_place = in_place;
    } else if (ctx.batch_in_place == nullptr || ctx.batch_in_place + ctx.batch_bytes / 2 != in_place) {
      take_batch_home(ctx);
      memcpy(ctx.batch->values + ctx.batch_bytes / 2, in_place, bytes);
    }
  }
  ctx.batch_bytes += bytes;
  return FrameResult::Written;
}

void take_batch_home(DecoderContext& ctx) {
  if (ctx.batch_in_place == nullptr) return;
  memcpy(ctx.batch->values, ctx.batch_in_place, ctx.batch_bytes);
  ctx.batch_in_place = nullptr;
}

int16_t* frame_pcm(const DecoderContext& ctx) { return ctx.batch->values + ctx.batch_bytes / 2; }

int64_t pcm_bytes_produced(const DecoderContext& ctx) { return ctx.bytes_written + ctx.batch_bytes; }

int finish_stream(DecoderContext& ctx) {
  if (!write_batch(ctx)) return abandon_after_write_failure(ctx);
  log_damage(ctx);
  const int64_t data_size = pcm_in_file(ctx);
  if (!write_wav_header(ctx, data_size)) {
    log_line(ctx.log, "ERR %d writing output wav file\r\n", ctx.write_error);
    return failed(ctx, StreamFailure::WriteFailed, ctx.write_error);
  }
  if (ctx.read_failed) {
    // What was decoded is a playable file, but the input was not read to its end.
    log_line(ctx.log, "ERROR %d reading input\r\n", ctx.read_error);
    return failed(ctx, StreamFailure::ReadFailed, ctx.read_error);
  }
  const int32_t elapsed = static_cast<int32_t>(tick_count() - ctx.start_tick);
  log_line(ctx.log, "wav file written, %d.%03d sec\r\n", elapsed / 1000, elapsed % 1000);

  char frames[24], estimate[24], written[24], declared[24];
  const int64_t estimated_bytes = header_channels(ctx) * ctx.frame_count * kBytesPerFrameChannel;
  log_line(ctx.log, "%s frames est %s,  %s written %s datasize\r\n", format_count(ctx.frame_count, frames),
           format_count(estimated_bytes, estimate), format_count(ctx.bytes_written, written),
           format_count(data_size, declared));
  ctx.outcome.ending = StreamEnding::Converted;
  return 0;
}

int abandon_after_write_failure(DecoderContext& ctx) {
  log_damage(ctx);
  log_line(ctx.log, "ERR %d writing output wav file\r\n", ctx.write_error);
  // Keep what was converted playable: the header describes the PCM that made it.
  ctx.batch_bytes = 0;
  ctx.batch_in_place = nullptr;
  write_wav_header(ctx, whole_sample_frames(ctx, pcm_in_file(ctx)));
  return failed(ctx, StreamFailure::WriteFailed, ctx.write_error);
}

int abandon_at_wav_limit(DecoderContext& ctx) {
  if (!write_batch(ctx)) return abandon_after_write_failure(ctx);
  log_damage(ctx);
  char frames[24];
  log_line(ctx.log, "ERR: wav file full at 4 GiB, stopped after %s frames\r\n", format_count(ctx.frame_count, frames));
  write_wav_header(ctx, pcm_in_file(ctx));
  return failed(ctx, StreamFailure::WavFull);
}

int abandon_before_two_channels(DecoderContext& ctx, int64_t first_two_channel_frame) {
  if (!write_batch(ctx)) return abandon_after_write_failure(ctx);
  // One line: when the header can't be written the mono part isn't playable
  // either, and that is what the user has to know.
  if (!write_wav_header(ctx, pcm_in_file(ctx))) {
    log_line(ctx.log, "ERR %d writing output wav file\r\n", ctx.write_error);
    return failed(ctx, StreamFailure::WriteFailed, ctx.write_error);
  }
  char frames[24];
  log_line(ctx.log, "ERR: stereo from frame %s on, and the input can't be read again to make the mono part stereo\r\n",
           format_count(first_two_channel_frame, frames));
  return failed(ctx, StreamFailure::CantDecodeAgain);
}

bool wav_data_can_restart(const DecoderContext& ctx) {
  return ctx.wav_layout != WavLayout::Stream || !ctx.stream_header_sent;
}

int abandon_with_mono_part_sent(DecoderContext& ctx, int64_t first_two_channel_frame) {
  if (!write_batch(ctx)) return abandon_after_write_failure(ctx);
  char frames[24];
  log_line(ctx.log, "ERR: stereo from frame %s on, and the mono part before has gone out to a pipe already\r\n",
           format_count(first_two_channel_frame, frames));
  return failed(ctx, StreamFailure::MonoPartSent);
}

bool rewind_wav_data(DecoderContext& ctx) {
  ctx.bytes_written = 0;
  ctx.batch_bytes = 0;
  if (ctx.wav_layout == WavLayout::Stream) return true;  // nothing went out yet
  if (file_seek(ctx.output, header_size(ctx))) return true;
  ctx.write_error = last_error();
  return false;
}

int finish_interrupted(DecoderContext& ctx) {
  if (!write_batch(ctx)) return abandon_after_write_failure(ctx);
  log_damage(ctx);
  if (!write_wav_header(ctx, whole_sample_frames(ctx, pcm_in_file(ctx)))) {
    log_line(ctx.log, "ERR %d writing output wav file\r\n", ctx.write_error);
    return failed(ctx, StreamFailure::WriteFailed, ctx.write_error);
  }
  char frames[24];
  log_line(ctx.log, "ERR: interrupted after %s frames; %s holds the part before\r\n", format_count(ctx.frame_count, frames),
           ctx.output_name != nullptr ? ctx.output_name : "the WAV file");
  return failed(ctx, StreamFailure::Interrupted);
}

int finish_without_frames(DecoderContext& ctx) {
  if (finish_stream(ctx) != 0) return -1;
  ctx.outcome.ending = StreamEnding::Failed;
  // The most common mistake: an MP3 file (or a Layer I one) among the MP2 files.
  // Two confirmed frames at least: one may be chance.
  const int layer = ctx.other_layer_frames[1] >= 2 ? 3 : ctx.other_layer_frames[3] >= 2 ? 1 : 0;
  if (layer != 0) {
    log_line(ctx.log, "ERR: %s is an MPEG Layer %s stream; only Layer II is converted\r\n", ctx.input_name,
             layer == 3 ? "III (MP3)" : "I");
    ctx.outcome.other_layer = layer;
    return failed(ctx, StreamFailure::OtherLayer);
  }
  log_line(ctx.log, "ERR: no MPEG audio frames found\r\n");
  return failed(ctx, StreamFailure::NoFrames);
}

int finish_at_rate_change(DecoderContext& ctx, int32_t next_rate) {
  if (finish_stream(ctx) != 0) return -1;
  char frame[24];
  log_line(ctx.log, "ERR: sample rate changes from %d to %d Hz at frame %s; the rest is not converted\r\n",
           ctx.sample_rate, next_rate, format_count(ctx.frame_count + 1, frame));
  ctx.outcome.next_rate = next_rate;
  return failed(ctx, StreamFailure::RateChanged);
}
