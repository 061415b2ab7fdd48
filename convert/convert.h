// The per-file entry, shared by the Windows program and the command line:
// derive the .wav path, open both files, decode, close.
#pragma once

#include <atomic>

#include "decoder/frame_list.h"
#include "decoder/stream.h"
#include "platform/platform.h"

// The destination path buffer holds at most this many characters and a terminator.
constexpr int kDestinationPathSize = 1028;

// As a source, standard input; as a destination, standard output.
extern const char kStandardStream[];

// What becomes of a destination that exists already.
enum class ExistingDestination { kReplace, kRefuse };

// What the conversions of one front end share: where they report, their
// storage, when to stop and what to do with an existing destination.
struct ConversionSetup {
  LogPane log = nullptr;
  ProgressBar bar = nullptr;
  PcmBatch* batch = nullptr;  // one conversion at a time may use it
  const std::atomic<bool>* stop = nullptr;
  ExistingDestination existing = ExistingDestination::kReplace;
  std::atomic<int32_t>* stream_kbps = nullptr;  // as in DecodeRequest
  // A file is written as NAME.wav.part and renamed to NAME.wav when the
  // conversion ends as the stream does (to NAME.partial.wav when it was
  // interrupted or failed after some PCM); the Windows program writes
  // NAME.wav directly.
  bool through_part_file = false;
  bool test_only = false;  // decode and check, write nothing
  const ChunkRunner* runner = nullptr;  // as in DecodeRequest: a long file on several threads
  // Of a transport or program stream: the MPEG audio track to convert,
  // from 1; 0: every one, the first into NAME.wav, track N into NAME.N.wav.
  int track = 0;
};

// Converts `source` into the .wav file beside it. 0 on success, -1 after one
// log line on any failure. The outcome, when given, says the same.
int convert_file(const char* source, const ConversionSetup& setup, StreamOutcome* outcome = nullptr);
// The same into `destination`; either name may be kStandardStream. Each
// MPEG audio track of a transport or program stream gets a line and a WAV
// file of its own (see ConversionSetup::track). With
// kRefuse an existing destination is refused ("ERR: NAME exists; --force
// replaces it").
int convert_pair(const char* source, const char* destination, const ConversionSetup& setup,
                 StreamOutcome* outcome = nullptr);

// `path` with its file name's extension replaced by ".wav", into `destination`.
// 0, or -1 after one log line when there is no extension, it is ".wav" already
// or the result doesn't fit.
int derive_wav_path(const char* path, char (&destination)[kDestinationPathSize], LogPane log);
