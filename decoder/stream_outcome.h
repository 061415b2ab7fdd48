// What became of one conversion, for the front ends: the lines say the same
// to people.
#pragma once

#include <cstdint>

enum class StreamEnding {
  Converted,    // the WAV file is complete
  Failed,       // something went wrong; `failure` says what
  Interrupted,  // stopped on request; the WAV file holds the frames before
};

enum class StreamFailure {
  None,
  ReadFailed,       // reading the input failed (at its start: nothing written)
  NoFrames,         // no Layer II frame anywhere in the input
  RateChanged,      // the sample rate changed; the part before is kept
  WriteFailed,      // writing the WAV file failed
  WavFull,          // the WAV file reached its 4 GiB limit
  MonoPartSent,     // turned stereo after mono PCM went out to a pipe
  CantDecodeAgain,  // turned stereo, and the input can't be read again
  Interrupted,
};

struct StreamOutcome {
  StreamEnding ending = StreamEnding::Failed;
  StreamFailure failure = StreamFailure::None;
  int error = 0;             // the system's number for a read or write failure
  int32_t sample_rate = 0;   // of the frames written; 0 without any
  int32_t first_bitrate = 0; // kbit/s of the first frame (measured in free format)
  int first_mode = -1;       // the first frame's mode: 0 stereo .. 3 single channel
  int channels = 0;          // in the WAV file
  int64_t frames = 0;        // frames written
  int64_t samples = 0;       // sample frames written (per channel)
  int64_t bytes_read = 0;    // of the input, both passes counted once
  int64_t next_rate = 0;     // RateChanged: the rate the stream changes to
};

// Audio seconds the outcome's frames hold.
inline double outcome_seconds(const StreamOutcome& outcome) {
  return outcome.sample_rate > 0 ? static_cast<double>(outcome.samples) / outcome.sample_rate : 0.0;
}
