// The 44-byte WAV header, the closing statistics and the output's failure paths.
#pragma once

#include <cstdint>

#include "decoder/decoder_context.h"

// A RIFF size field is 32 bits: no WAV file grows past this many bytes.
constexpr int64_t kLargestWavFile = 0xFFFFFFFFll;

struct WavFields {
  uint32_t riff_size;
  uint16_t channels;
  uint32_t sample_rate;
  uint32_t data_size;
};

// The header's 44 bytes, little-endian.
void encode_wav_header(const WavFields& fields, uint8_t out[kWavHeaderSize]);

// Leaves room for the header; PCM goes in behind it.
void reserve_wav_header(DecoderContext& ctx);
bool wav_has_room_for(const DecoderContext& ctx, uint32_t more_bytes);

// End of input: header from the file's real size, then the closing lines.
// Returns 0, or -1 when the header can't be written or a read had failed.
int finish_stream(DecoderContext& ctx);
// The input ended without a single frame: the closing lines of an empty
// file, then says so; returns -1.
int finish_without_frames(DecoderContext& ctx);
// A frame of another sampling frequency follows: closes the file with the
// frames written, says where the rate changes, returns -1.
int finish_at_rate_change(DecoderContext& ctx, int32_t next_rate);
// A frame's PCM write failed: says so, leaves a header that matches what the
// file holds, returns -1.
int abandon_after_write_failure(DecoderContext& ctx);
// The next frame would not fit in a WAV file: says so, keeps what fits, returns -1.
int abandon_at_wav_limit(DecoderContext& ctx);
// The stream turned stereo at `first_two_channel_frame` and the mono part could
// not be made stereo: keeps the mono part, with a one-channel header, says
// why and returns -1.
int abandon_before_two_channels(DecoderContext& ctx, int64_t first_two_channel_frame);
// Starts the PCM again right behind the header, for a second decoding pass.
bool rewind_wav_data(DecoderContext& ctx);
