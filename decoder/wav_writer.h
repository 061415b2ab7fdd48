// The WAV file: its three layouts, the batched PCM writes, the closing
// statistics and the output's failure paths.
//
// Which layout a conversion gets:
// - an output that can't seek (a pipe) gets a 44-byte header with the sizes
//   readers take as unknown (0xFFFFFFFF), written once before the first PCM,
//   and has no size limit;
// - otherwise the first frame decides, from the estimate below: under 4 GiB
//   the canonical 44-byte header, else RF64 (EBU Tech 3306) with an 80-byte
//   header whose ds64 chunk holds the 64-bit sizes. Both are written last,
//   over the room left for them, from what the file holds.
// A canonical file that grows past 4 GiB all the same (a source of unknown
// size) stops there with a header for what fits.
#pragma once

#include <cstdint>

#include "decoder/decoder_context.h"

// A RIFF size field is 32 bits: no canonical WAV file grows past this many bytes.
constexpr int64_t kLargestWavFile = 0xFFFFFFFFll;
constexpr int kRf64HeaderSize = 80;
// The most PCM one frame gives: 1152 sample frames of two channels.
constexpr uint32_t kMostFramePcmBytes = 4608;

struct WavFields {
  uint32_t riff_size;
  uint16_t channels;
  uint32_t sample_rate;
  uint32_t data_size;
};

// The canonical header's 44 bytes, little-endian.
void encode_wav_header(const WavFields& fields, uint8_t out[kWavHeaderSize]);

struct Rf64Fields {
  uint16_t channels;
  uint32_t sample_rate;
  uint64_t data_size;
};

// The RF64 header's 80 bytes: "RF64", 0xFFFFFFFF, "WAVE"; "ds64" of 28 bytes
// (RIFF size, data size, sample frames, no table); "fmt " as in the canonical
// header; "data" of size 0xFFFFFFFF.
void encode_rf64_header(const Rf64Fields& fields, uint8_t out[kRf64HeaderSize]);

// The output file's size the first frame implies, or -1 when it can't be
// told (a source of unknown size, a free-format frame):
// the whole input taken as frames of the first frame's length without its
// padding byte, plus one, each of kMostFramePcmBytes. It errs high only: by
// the padding (under 0.3% from 128 kbit/s up, 1% at the shortest frames), by
// the one frame and by what of the input is not frames. A mono stream's
// estimate counts it stereo, as it may turn stereo and be decoded again.
int64_t estimated_wav_size(int64_t input_size, int32_t bitrate_kbps, int32_t sample_rate);

// Setup, before the first frame: an output that can't seek gets the Stream
// layout at once; one that can gets room for the canonical header.
void reserve_wav_header(DecoderContext& ctx);
// At the first frame, before any PCM: canonical or RF64, from the estimate.
void choose_wav_layout(DecoderContext& ctx, int32_t bitrate_kbps);

// Where a frame's PCM is made: right behind the batch, so that adding it to
// the batch copies nothing. pcm_count values of the frame from here on.
int16_t* frame_pcm(const DecoderContext& ctx);

// Adds the frame's PCM to the batch, writing the batch first when the frame
// would not fit in it. WriteFailed when that write failed; WavFull when a
// canonical file would pass 4 GiB. bytes_written counts what each write reported.
// The frame is at frame_pcm, or, with `in_place`, there, in storage that
// stays put until the batch is written or taken home: a batch of frames
// that lie one behind another there is written from where they lie.
FrameResult write_frame_pcm(DecoderContext& ctx, const int16_t* in_place = nullptr);
// A batch that lies in place moves into the context's own storage.
void take_batch_home(DecoderContext& ctx);
// PCM of this pass, written or still in the batch.
int64_t pcm_bytes_produced(const DecoderContext& ctx);

// End of input: the batch, the header from the file's real size, then the
// closing lines. Returns 0, or -1 when a write fails or a read had failed.
int finish_stream(DecoderContext& ctx);
// The input ended without a single frame: the closing lines of an empty
// file, then says so; returns -1.
int finish_without_frames(DecoderContext& ctx);
// A frame of another sampling frequency follows: closes the file with the
// frames written, says where the rate changes, returns -1.
int finish_at_rate_change(DecoderContext& ctx, int32_t next_rate);
// A PCM write failed: says so, leaves a header that matches what the file
// holds, returns -1.
int abandon_after_write_failure(DecoderContext& ctx);
// The next frame would not fit in a canonical WAV file: says so, keeps what
// fits, returns -1.
int abandon_at_wav_limit(DecoderContext& ctx);
// The stream turned stereo at `first_two_channel_frame` and the mono part could
// not be made stereo: keeps the mono part, with a one-channel header, says
// why and returns -1.
int abandon_before_two_channels(DecoderContext& ctx, int64_t first_two_channel_frame);
// False once PCM has gone out to an output that can't seek: a second
// decoding pass can't take it back.
bool wav_data_can_restart(const DecoderContext& ctx);
// The stream turned stereo at `first_two_channel_frame` after its mono part
// went out to a pipe: says so, sends the rest of the mono part, returns -1.
int abandon_with_mono_part_sent(DecoderContext& ctx, int64_t first_two_channel_frame);
// Starts the PCM again right behind the header, for a second decoding pass.
bool rewind_wav_data(DecoderContext& ctx);

// Ends the conversion after the frames converted so far, called between two
// frames: writes them and a header for them (a pipe's header went out
// first), logs "ERR: interrupted after N frames; NAME holds the part before"
// (NAME: the request's output name, or "the WAV file")
// and returns -1. A write that fails gives the write-failure line instead.
int finish_interrupted(DecoderContext& ctx);
