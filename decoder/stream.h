// The decoder's driver: input buffering, the sync search, frame headers and dispatch.
#pragma once

#include <cstdint>

#include "decoder/decoder_context.h"
#include "decoder/stream_outcome.h"
#include "decoder/synthesis.h"
#include "platform/platform.h"

// One conversion's orders: what to read and write, where to report, when to
// stop, and the storage it needs.
struct DecodeRequest {
  FileHandle input = kNoFile;   // open for reading
  FileHandle output = kNoFile;  // open for writing, empty
  LogPane log = nullptr;
  ProgressBar bar = nullptr;
  PcmBatch* batch = nullptr;  // required: the PCM on its way out
  // Asked after every frame; true stops the conversion there, with a WAV
  // file of the frames before. Null: never stops.
  const std::atomic<bool>* stop = nullptr;
  const char* output_name = nullptr;  // the WAV file's name for messages; null: "the WAV file"
  const char* input_name = nullptr;   // the source's name for messages; null: "the input"
  // Of a transport or program stream: the track to convert (a PID, or a
  // stream id); -1: the first MPEG audio track.
  int32_t track_id = -1;
  int track_number = 0;
  // Where MPEG audio tracks that start past the listed bytes are noted; null: nowhere.
  LateTracks* late_tracks = nullptr;  // with no id: the Nth MPEG audio track the first bytes show; 0 or 1: the first
  // Decode and check only: no PCM and no header go to the output, which may
  // be kNoFile; the lines and the outcome are those of a conversion.
  bool discard_output = false;
  // Given the first frame's bit rate as soon as it is found, for a running
  // estimate of the audio done. Null: not wanted.
  std::atomic<int32_t>* stream_kbps = nullptr;
  SynthesisPath path = synthesis_path_in_use();
  // Threads that may decode a long seekable input in chunks; null: one pass.
  const struct ChunkRunner* runner = nullptr;
};

// Converts the MP2 stream in the request's input into a complete WAV file in
// its output. Returns 0 when the WAV file is complete, -1 after logging one
// line on failure; the outcome (when given) says the same for the caller.
int decode_stream(const DecodeRequest& request, StreamOutcome* outcome);

// The most a frame body can ask of the bit reader, even when damage hands it
// nonsense allocations (30 subbands x 2 channels of 16-bit codes); buffered
// ahead of every frame while input remains.
constexpr int kLongestFrameRead = 4608;
// Below this many valid bytes ahead of the cursor the buffer is topped up.
constexpr int kRefillMargin = 800;
