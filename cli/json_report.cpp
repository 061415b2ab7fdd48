#include "cli/json_report.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::ordered_json;

// Seconds to the millisecond, as the lines show them.
double seconds_at(int64_t sample, int32_t sample_rate) {
  if (sample_rate <= 0) return 0.0;
  return std::round(static_cast<double>(sample) * 1000.0 / sample_rate) / 1000.0;
}

Json text_or_null(const std::string& text) { return text.empty() ? Json() : Json(text); }

}  // namespace

const char* outcome_word(bool skipped, bool succeeded, bool test_only, const StreamOutcome& stream) {
  if (skipped) return "skipped";
  if (succeeded) return test_only ? "checked" : "converted";
  return stream.ending == StreamEnding::Interrupted ? "interrupted" : "failed";
}

const char* failure_word(bool skipped, bool succeeded, const StreamOutcome& stream) {
  if (skipped || succeeded) return nullptr;
  if (stream.ending == StreamEnding::Interrupted) return "interrupted";
  switch (stream.failure) {
    case StreamFailure::None:
      // A stream decoded to its end whose file couldn't be given its name.
      return stream.ending == StreamEnding::Converted ? "write_failed" : "not_started";
    case StreamFailure::ReadFailed: return "read_failed";
    case StreamFailure::NoFrames: return "no_frames";
    case StreamFailure::OtherLayer: return "other_layer";
    case StreamFailure::ForeignFormat: return "foreign_format";
    case StreamFailure::RateChanged: return "rate_changed";
    case StreamFailure::WriteFailed: return "write_failed";
    case StreamFailure::WavFull: return "wav_full";
    case StreamFailure::MonoPartSent: return "mono_part_sent";
    case StreamFailure::CantDecodeAgain: return "cant_decode_again";
    case StreamFailure::Interrupted: return "interrupted";
    case StreamFailure::NoAudioTrack: return "no_audio_track";
    case StreamFailure::Scrambled: return "scrambled";
  }
  return "failed";
}

std::string report_line(const FileRecord& record) {
  static const char* const kModes[4] = {"stereo", "jstereo", "dualch", "mono"};
  const StreamOutcome& stream = record.stream;
  Json line;
  line["source"] = record.source;
  line["destination"] = text_or_null(record.destination);
  line["outcome"] = record.outcome;
  line["failure"] = record.failure != nullptr ? Json(record.failure) : Json();
  line["message"] = text_or_null(record.message);
  line["damaged"] = outcome_damaged(stream);
  line["sample_rate"] = stream.sample_rate;
  Json bitrates = Json::array();
  for (int i = 0; i < stream.bitrate_count && i < 16; ++i) bitrates.push_back(stream.bitrates_met[i]);
  line["bitrates"] = bitrates;
  Json modes = Json::array();
  for (int mode = 0; mode < 4; ++mode) {
    if (stream.modes_met & (1u << mode)) modes.push_back(kModes[mode]);
  }
  line["modes"] = modes;
  line["frames"] = stream.frames;
  line["samples"] = stream.samples;
  line["duration"] = seconds_at(stream.samples, stream.sample_rate);
  line["bytes"] = {{"read", stream.bytes_read},
                   {"frames", stream.bytes.frames},
                   {"tags", stream.bytes.tags},
                   {"stuffing", stream.bytes.stuffing},
                   {"gaps", stream.bytes.gaps},
                   {"cut_frame", stream.bytes.cut_frame},
                   {"not_converted", stream.bytes.not_converted}};
  line["input_size"] = stream.input_size >= 0 ? Json(stream.input_size) : Json();
  Json gaps = Json::array();
  for (int64_t i = 0; i < stream.gap_count && i < kListedDamage; ++i) {
    const Gap& gap = stream.gaps[i];
    const double time = seconds_at(gap.sample, stream.sample_rate);
    gaps.push_back({{"offset", gap.offset}, {"length", gap.length}, {"time", time}});
  }
  line["gaps"] = gaps;
  line["gap_count"] = stream.gap_count;
  Json crc_errors = Json::array();
  for (int64_t i = 0; i < stream.crc_error_count && i < kListedDamage; ++i) {
    const CrcError& error = stream.crc_errors[i];
    crc_errors.push_back({{"frame", error.frame}, {"time", seconds_at(error.sample, stream.sample_rate)}});
  }
  line["crc_errors"] = crc_errors;
  line["crc_error_count"] = stream.crc_error_count;
  line["sha256"] = text_or_null(record.sha256);
  // File names need not be UTF-8; their odd bytes become U+FFFD.
  return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}
