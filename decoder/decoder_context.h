// All state of one decode_stream call, grouped by the file that owns it.
// One exists per call; it lives on the caller's stack and is never allocated.
#pragma once

#include <atomic>
#include <cstdint>

#include "decoder/bit_reader.h"
#include "decoder/demux.h"
#include "decoder/layer2_tables.h"
#include "decoder/stream_outcome.h"
#include "platform/platform.h"

constexpr int kInputBufferSize = 8192;
constexpr int kSubbands = 32;
constexpr int kMaxChannels = 2;
constexpr int kSlotsPerGranule = 3;
constexpr int kGranulesPerFrame = 12;
// Granules that share each of a subband's three scale factors.
constexpr int kGranulesPerScalePart = 4;
constexpr int kMatrixRows = 64;
// The 16 blocks of 64 the window reads, and room for a granule's newer ones.
constexpr int kRingLength = 2048;
constexpr int kWindowLength = 512;
constexpr int kWavHeaderSize = 44;

// How the WAV file is laid out; wav_writer.h says when each is chosen.
enum class WavLayout {
  Undecided,  // a file that can seek, before the first frame: nothing written yet
  Canonical,  // the 44-byte header, written last; the file stops short of 4 GiB
  Rf64,       // the 80-byte RF64 header with 64-bit sizes, written last
  Stream,     // an output that can't seek: 44 bytes of unknown sizes, written first
};

enum class FrameResult {
  Written,      // the frame's PCM is in the file
  WriteFailed,  // the file system refused the PCM
  WavFull,      // the PCM would push a 44-byte-header WAV past its 4 GiB limit
};

struct SynthesisKernel;
struct ChunkRunner;
struct FrameSink;

// The values of a granule, in the order the synthesis reads them: [sb][ch][j].
constexpr int kGranuleValues = kSubbands * kMaxChannels * kSlotsPerGranule;

// The synthesis filterbank's state: matrixing, the three histories, where
// they are, and the kernel that computes them.
struct SynthesisState {
  const SynthesisKernel* kernel;
  double cos_matrix[kMatrixRows][kSubbands];
  // The rows the fast paths compute, column by column: for each subband k the
  // coefficients of those rows side by side, so vector lanes carry rows.
  alignas(64) double matrix_columns[kSubbands][kMatrixRows];
  int computed_rows;  // 32 when the matrix has its symmetries exactly, else 64
  alignas(64) double mono_ring[kRingLength];
  alignas(64) double channel_rings[kMaxChannels][kRingLength];
  int v_offset;
  int active_body_channels;  // the body whose rings the last frame wrote: 1, 2, or 0 before any
};

// The PCM on its way to the output, written in batches: storage the caller
// hands in, as it is too large for a thread's stack.
constexpr uint32_t kPcmBatchBytes = 224 * 4608;
struct PcmBatch {
  // Room for a whole batch and the frame that would overflow it.
  alignas(64) int16_t values[(kPcmBatchBytes + 4608) / 2];
};

// Where the demultiplexer reads a container: what the first read took, for
// an input that can't go back to its start, then the input itself.
struct ContainerSource {
  FileHandle input;
  const uint8_t* prefix;
  uint32_t prefix_left;
};

constexpr int kContainerProbeBytes = 64 * 1024;

// Container losses waiting for the frame or run they fall in.
constexpr int kPendingTrackGaps = 64;

struct DecoderContext {
  // stream: the caller's handles, input buffering, scanning and the stream's fields.
  LogPane log;
  ProgressBar bar;
  FileHandle input;
  FileHandle output;
  const std::atomic<bool>* stop;  // set by the caller to stop after the current frame
  const char* output_name;        // for messages: the WAV file's name
  const char* input_name;         // for messages: the source's name
  bool discard_output;            // check only: nothing goes to the output
  std::atomic<int32_t>* stream_kbps;
  const ChunkRunner* runner;  // null: one pass
  const ChunkRunner* listing;  // while the frames are listed, not decoded
  uint32_t ahead_next;        // the listing's next byte in its runner's read_ahead
  uint32_t ahead_end;         // and the end of what is there
  int64_t ahead_start;        // the input's offset of read_ahead's first byte, when it is held
  int64_t ahead_block;        // else the block of the input being listed; -1 before the first
  const uint8_t* ahead_bytes;  // where ahead_next and ahead_end count from
  int64_t listed_passed;      // tags, gaps and gap count as last noted to the listing's runner
  bool mono_part_only;        // the pass stops where the stream turns stereo: the chunks write it from there
  StreamOutcome outcome;
  BitReader bits;

  // container: the track's stream, when the input is a transport or program stream.
  bool from_container;
  int32_t track_id;  // the track to take; -1: the track_number'th MPEG audio track
  int track_number;
  ContainerFormat container_format;
  ContainerSource container_source;
  // A pipe's first bytes, which also show its tracks: enough for a table
  // and the first packet of each track in most captures.
  uint8_t container_prefix[kContainerProbeBytes];
  Demuxer demux;
  LateTracks* late_tracks;
  TrackGap pending_gaps[kPendingTrackGaps];
  int pending_gap_first;
  int pending_gap_count;
  int64_t damaged_frame_end;  // where the last frame a loss fell in ends; -1: none
  uint8_t input_buffer[kInputBufferSize];
  int cursor;
  int data_end;
  bool input_ended;  // a read brought nothing: what is buffered is all there is
  bool read_failed;  // a read after the first failed: the input ends there
  int read_error;    // the system's number for that failure
  int32_t free_format_length;  // bytes of an unpadded free-format frame; 0 until found
  bool stream_line_logged;
  int64_t other_layer_frames[4];  // Layer I (3) and III (1) frames met while no Layer II frame was
  int64_t frame_count;  // frames written
  int32_t sample_rate;  // of the frames written; 0 before the first
  int channel_count;
  bool two_channel_seen;
  int sblimit;
  const int32_t* nbal;
  const int32_t (*levels)[16];
  const QuantClass* const (*level_classes)[16];
  int64_t file_size;
  int64_t bytes_read;
  int32_t progress_threshold;
  int progress_shift;  // sizes past 2 GiB are reported in units of 2^shift bytes
  uint32_t start_tick;

  // frame_body: side information, the frame's codes and its values.
  int bound;
  uint32_t alloc[kMaxChannels][kSubbands];
  const QuantClass* quant[kMaxChannels][kSubbands];
  uint8_t scfsi[kMaxChannels][kSubbands];
  uint8_t scf[kMaxChannels][kSubbands][3];
  // A whole frame's codes, granule by granule, read before any is
  // dequantized: the vector loads of a granule's codes then find them in the
  // cache, not in a queue of small stores not yet written. Codes of silent
  // subbands are left as they were (their steps ignore them).
  alignas(64) uint32_t frame_codes[kGranulesPerFrame][kGranuleValues];
  // The frame's dequantized values, granule by granule, for the synthesis.
  alignas(64) double frame_samples[kGranulesPerFrame][kGranuleValues];
  int frame_values_top;  // frame_samples past this are zero in every granule

  // synthesis, and the frame's PCM.
  SynthesisState synthesis;
  int pcm_count;  // PCM values of the frame so far, at frame_pcm (wav_writer.h)

  // wav_writer: the layout, the PCM waiting in the batch and what has gone
  // into the output file.
  WavLayout wav_layout;
  bool stream_header_sent;  // Stream only: the header went out
  uint32_t batch_bytes;     // PCM in the batch, not yet written
  uint32_t batch_limit;     // a frame that would take the batch past this writes it first
  PcmBatch* batch;
  // The batch's PCM where decoded chunks hold it, one frame behind another,
  // so it is written from there without a copy; null: in `batch`.
  const int16_t* batch_in_place;
  int64_t bytes_written;    // the sum of what the PCM writes reported
  int write_error;
};
