#include "decoder/wav_writer.h"

#include <cstring>

#include "platform/log_text.h"

namespace {

constexpr uint32_t kBytesPerFrameChannel = 1152 * 2;

void put16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* at, uint32_t value) {
  put16(at, value & 0xFFFF);
  put16(at + 2, value >> 16);
}

int header_channels(const DecoderContext& ctx) { return ctx.two_channel_seen ? 2 : 1; }

// The rate of the frames written, or 44100 without any.
uint32_t header_sample_rate(const DecoderContext& ctx) {
  return ctx.sample_rate != 0 ? static_cast<uint32_t>(ctx.sample_rate) : 44100;
}

// Rewrites the header at offset 0 for `data_size` PCM bytes, in the four
// writes of its parts. True when every write succeeded.
bool write_wav_header(DecoderContext& ctx, int64_t data_size) {
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

// The PCM bytes in the file: its size less the header, none if it is shorter.
// Bytes past what this pass wrote are left from a first pass that was
// decoded again with two channels (stream.cpp); they are not data.
int64_t pcm_in_file(const DecoderContext& ctx) {
  int64_t size = file_size(ctx.output);
  if (size < kWavHeaderSize) return 0;
  const int64_t pcm = size - kWavHeaderSize;
  return pcm > ctx.bytes_written ? ctx.bytes_written : pcm;
}

// What a header may declare of a file that stopped early: whole sample frames.
int64_t whole_sample_frames(const DecoderContext& ctx, int64_t bytes) {
  const int block_align = header_channels(ctx) * 2;
  return bytes - bytes % block_align;
}

}  // namespace

void encode_wav_header(const WavFields& fields, uint8_t out[kWavHeaderSize]) {
  memcpy(out, "RIFF", 4);
  put32(out + 4, fields.riff_size);
  memcpy(out + 8, "WAVE", 4);
  memcpy(out + 12, "fmt ", 4);
  put32(out + 16, 16);
  put16(out + 20, 1);
  put16(out + 22, fields.channels);
  put32(out + 24, fields.sample_rate);
  put32(out + 28, fields.sample_rate * fields.channels * 2);
  put16(out + 32, static_cast<uint32_t>(fields.channels) * 2);
  put16(out + 34, 16);
  memcpy(out + 36, "data", 4);
  put32(out + 40, fields.data_size);
}

void reserve_wav_header(DecoderContext& ctx) { file_seek(ctx.output, kWavHeaderSize); }

bool wav_has_room_for(const DecoderContext& ctx, uint32_t more_bytes) {
  return kWavHeaderSize + ctx.bytes_written + more_bytes <= kLargestWavFile;
}

int finish_stream(DecoderContext& ctx) {
  const int64_t data_size = pcm_in_file(ctx);
  if (!write_wav_header(ctx, data_size)) {
    log_line(ctx.log, "ERR %d writing output wav file\r\n", ctx.write_error);
    return -1;
  }
  if (ctx.read_failed) {
    // What was decoded is a playable file, but the input was not read to its end.
    log_line(ctx.log, "ERROR %d reading input\r\n", ctx.read_error);
    return -1;
  }
  const int32_t elapsed = static_cast<int32_t>(tick_count() - ctx.start_tick);
  log_line(ctx.log, "wav file written, %d.%03d sec\r\n", elapsed / 1000, elapsed % 1000);

  char frames[24], estimate[24], written[24], declared[24];
  const int64_t estimated_bytes = header_channels(ctx) * ctx.frame_count * kBytesPerFrameChannel;
  log_line(ctx.log, "%s frames est %s,  %s written %s datasize\r\n", format_count(ctx.frame_count, frames),
           format_count(estimated_bytes, estimate), format_count(ctx.bytes_written, written),
           format_count(data_size, declared));
  return 0;
}

int abandon_after_write_failure(DecoderContext& ctx) {
  log_line(ctx.log, "ERR %d writing output wav file\r\n", ctx.write_error);
  // Keep what was converted playable: the header describes the PCM that made it.
  write_wav_header(ctx, whole_sample_frames(ctx, pcm_in_file(ctx)));
  return -1;
}

int abandon_at_wav_limit(DecoderContext& ctx) {
  char frames[24];
  log_line(ctx.log, "ERR: wav file full at 4 GiB, stopped after %s frames\r\n", format_count(ctx.frame_count, frames));
  write_wav_header(ctx, pcm_in_file(ctx));
  return -1;
}

int abandon_before_two_channels(DecoderContext& ctx, int64_t first_two_channel_frame) {
  // One line: when the header can't be written the mono part isn't playable
  // either, and that is what the user has to know.
  if (!write_wav_header(ctx, pcm_in_file(ctx))) {
    log_line(ctx.log, "ERR %d writing output wav file\r\n", ctx.write_error);
    return -1;
  }
  char frames[24];
  log_line(ctx.log, "ERR: stereo from frame %s on, and the input can't be read again to make the mono part stereo\r\n",
           format_count(first_two_channel_frame, frames));
  return -1;
}

bool rewind_wav_data(DecoderContext& ctx) {
  ctx.bytes_written = 0;
  if (file_seek(ctx.output, kWavHeaderSize)) return true;
  ctx.write_error = last_error();
  return false;
}

int finish_without_frames(DecoderContext& ctx) {
  if (finish_stream(ctx) != 0) return -1;
  log_line(ctx.log, "ERR: no MPEG audio frames found\r\n");
  return -1;
}

int finish_at_rate_change(DecoderContext& ctx, int32_t next_rate) {
  if (finish_stream(ctx) != 0) return -1;
  char frame[24];
  log_line(ctx.log, "ERR: sample rate changes from %d to %d Hz at frame %s; the rest is not converted\r\n",
           ctx.sample_rate, next_rate, format_count(ctx.frame_count + 1, frame));
  return -1;
}
