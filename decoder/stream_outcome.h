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
  OtherLayer,       // no Layer II frame, but Layer I or III frames: `other_layer` says which
  ForeignFormat,    // another format's file (WAV, FLAC, Ogg, MP4): `foreign_format` names it
  NoAudioTrack,     // a transport or program stream without an MPEG audio track
  Scrambled,        // the track's packets are scrambled
  RateChanged,      // the sample rate changed; the part before is kept
  WriteFailed,      // writing the WAV file failed
  WavFull,          // the WAV file reached its 4 GiB limit
  MonoPartSent,     // turned stereo after mono PCM went out to a pipe
  CantDecodeAgain,  // turned stereo, and the input can't be read again
  Interrupted,
};

// Where every byte of the input went; the parts add up to the bytes read.
struct ByteAccounts {
  int64_t frames = 0;         // frames decoded, with their ancillary data and padding
  int64_t tags = 0;           // ID3v2, a trailing ID3v1 and APE tags
  int64_t stuffing = 0;       // short runs of 0xFF between frames
  int64_t gaps = 0;           // everything else the frame search passed over
  int64_t cut_frame = 0;      // a last frame the end of the input cuts short
  int64_t not_converted = 0;  // from a change of sample rate to the end; all of a source refused
};

// A run of bytes the frame search passed over that is neither a tag nor
// stuffing, or packets a container lost from the track.
struct Gap {
  int64_t offset = 0;  // of its first byte in the input (in the track's stream, for a container)
  int64_t length = 0;  // bytes passed over
  int64_t sample = 0;  // sample frames written before it
  int32_t packets = 0; // container packets lost there
  int64_t frame = 0;   // the frame the loss fell in, decoded all the same; 0: none
};

// A frame whose CRC word doesn't match its protected bits; it is decoded all the same.
struct CrcError {
  int64_t frame = 0;   // 1 for the first frame written
  int64_t sample = 0;  // sample frames written before it
};

// The gaps and CRC errors kept in full; the rest are only counted.
constexpr int kListedDamage = 20;

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
  int other_layer = 0;       // OtherLayer: 1 or 3
  const char* foreign_format = nullptr;  // ForeignFormat: "WAV", "FLAC", "Ogg", "MP4"
  int64_t input_size = -1;   // the input's size, -1 when it can't be told (a pipe)

  // What the frames were: each bit rate met (kbit/s, in order of first
  // appearance) and each mode met (bit m for mode m).
  int32_t bitrates_met[16] = {};
  int bitrate_count = 0;
  unsigned modes_met = 0;

  ByteAccounts bytes;
  int64_t gap_count = 0;
  Gap gaps[kListedDamage];
  int64_t crc_error_count = 0;
  CrcError crc_errors[kListedDamage];
};

// Gaps or CRC errors: the file converted, but its source was damaged.
inline bool outcome_damaged(const StreamOutcome& outcome) {
  return outcome.gap_count > 0 || outcome.crc_error_count > 0;
}

// Audio seconds the outcome's frames hold.
inline double outcome_seconds(const StreamOutcome& outcome) {
  return outcome.sample_rate > 0 ? static_cast<double>(outcome.samples) / outcome.sample_rate : 0.0;
}
