#include "convert/convert.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "decoder/container_probe.h"

#include "decoder/stream.h"
#include "decoder/wav_writer.h"
#include "platform/progress_scale.h"

namespace {

bool equals_ignoring_case(const char* text, const char* lower) {
  for (; *lower != '\0'; ++text, ++lower) {
    char c = *text;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != *lower) return false;
  }
  return *text == '\0';
}

}  // namespace

const char kStandardStream[] = "-";

int convert_file(const char* source, const ConversionSetup& setup, StreamOutcome* outcome) {
  if (outcome != nullptr) *outcome = StreamOutcome{};
  char destination[kDestinationPathSize];
  if (derive_wav_path(source, destination, setup.log) != 0) return -1;
  return convert_pair(source, destination, setup, outcome);
}

int derive_wav_path(const char* path, char (&destination)[kDestinationPathSize], LogPane log) {
  // Measure without reading past the buffer's worth: longer paths are refused.
  const size_t length = strnlen(path, kDestinationPathSize);
  if (length >= static_cast<size_t>(kDestinationPathSize)) {
    log_line(log, "ERR: source path is longer than %d characters\r\n", kDestinationPathSize - 1);
    return -1;
  }
  memcpy(destination, path, length + 1);

  char* dot = nullptr;
  for (char* p = destination + length; p > destination; --p) {
    if (is_path_separator(p[-1])) break;
    if (p[-1] == '.') {
      dot = p - 1;
      break;
    }
  }
  if (dot == nullptr) {
    log_line(log, "ERR: source file has no '.'\r\n");
    return -1;
  }
  // Its own destination: creating the .wav file would empty the source first.
  if (equals_ignoring_case(dot, ".wav")) {
    log_line(log, "ERR: source file is already a .wav file: %s\r\n", path);
    return -1;
  }
  if (dot - destination + 5 > kDestinationPathSize) {
    log_line(log, "ERR: destination path is longer than %d characters\r\n", kDestinationPathSize - 1);
    return -1;
  }
  memcpy(dot, ".wav", 5);
  return 0;
}

namespace {

// Where a conversion that writes through a part file leaves it.
enum class PartEnding { kFinished, kPartial, kNothing };

// The stream's own endings give a finished file: all of it, the part
// before a change of sample rate, the part that fits in 4 GiB.
PartEnding part_ending(int result, const StreamOutcome& outcome) {
  if (result == 0) return PartEnding::kFinished;
  // Another layer's file whose few Layer II look-alikes made some noise.
  if (outcome.failure == StreamFailure::OtherLayer) return PartEnding::kNothing;
  if (outcome.failure == StreamFailure::RateChanged || outcome.failure == StreamFailure::WavFull) {
    return PartEnding::kFinished;
  }
  return outcome.samples > 0 ? PartEnding::kPartial : PartEnding::kNothing;
}

bool with_suffix(const char* path, const char* suffix, char (&out)[kDestinationPathSize + 16]) {
  const size_t length = strlen(path);
  const size_t extra = strlen(suffix);
  if (length + extra >= sizeof out) return false;
  memcpy(out, path, length);
  memcpy(out + length, suffix, extra + 1);
  return true;
}

// NAME.wav becomes NAME.partial.wav.
bool partial_name(const char* destination, char (&out)[kDestinationPathSize + 16]) {
  const size_t length = strlen(destination);
  if (length < 4 || length + 8 >= sizeof out) return false;
  memcpy(out, destination, length - 4);
  memcpy(out + length - 4, ".partial", 8);
  memcpy(out + length + 4, destination + length - 4, 5);
  return true;
}

// NAME.wav for the first track, NAME.N.wav for track N.
bool track_destination(const char* destination, int track, char (&out)[kDestinationPathSize + 16]) {
  if (track == 1) return with_suffix(destination, "", out);
  const size_t length = strlen(destination);
  char number[16];
  snprintf(number, sizeof number, ".%d", track);
  if (length < 4 || length + strlen(number) >= sizeof out) return false;
  memcpy(out, destination, length - 4);
  snprintf(out + length - 4, sizeof out - (length - 4), "%s%s", number, destination + length - 4);
  return true;
}

// How a track is named in lines: its PID in a transport stream, its stream id in a program stream.
void describe_track(const TrackInfo& track, bool transport, char (&out)[48]) {
  if (transport) {
    snprintf(out, sizeof out, "PID 0x%04X", track.id);
  } else {
    snprintf(out, sizeof out, "stream 0x%02X", track.id);
  }
}

// The first bytes of a container the tracks are listed from.
constexpr uint32_t kTableBytes = 4 << 20;

// The MPEG audio tracks of a transport or program stream at `source`, from
// its first megabytes; false for any other input (or one that can't be read).
bool list_source_tracks(const char* source, ContainerFormat* format, TrackList* tracks, int64_t* listed_bytes) {
  FileHandle input = kNoFile;
  if (!file_open_read(source, &input)) return false;
  // Enough to know a container; only one is read further, for its tables.
  constexpr uint32_t kProbeBytes = 64 * 1024;
  std::vector<uint8_t> head;
  uint32_t have = 0;
  for (uint32_t wanted = kProbeBytes; have < wanted;) {
    head.resize(wanted);
    uint32_t got = 0;
    if (!file_read(input, head.data() + have, wanted - have, &got) || got == 0) break;
    have += got;
    if (have == kProbeBytes) {
      *format = probe_container(head.data(), have);
      if (format->kind == ContainerKind::Elementary) break;
      wanted = kTableBytes;
    }
  }
  file_close(input);
  *format = probe_container(head.data(), have);
  if (format->kind == ContainerKind::Elementary) return false;
  list_tracks(*format, head.data(), have, tracks, 2);
  *listed_bytes = have;
  return true;
}

bool stop_asked(const ConversionSetup& setup) { return setup.stop != nullptr && setup.stop->load(); }

// A source read for its late tracks alone, the bar moving as for a conversion.
struct TrackScan {
  FileHandle input;
  const ConversionSetup* setup;
  int64_t done;
  int32_t total;  // scaled, as the bar takes it
  int shift;
  int32_t threshold;
};

bool read_for_tracks(void* source, uint8_t* buffer, uint32_t wanted, uint32_t* got) {
  TrackScan& scan = *static_cast<TrackScan*>(source);
  // A stop ends the scan as a failed read would: not every track is known.
  if (stop_asked(*scan.setup) || !file_read(scan.input, buffer, wanted, got)) return false;
  scan.done += *got;
  if (scan.setup->bar != nullptr && (scan.done >> scan.shift) > scan.threshold) {
    scan.threshold = progress_report(scan.setup->bar, static_cast<uint32_t>(scan.done >> scan.shift), scan.total);
  }
  return true;
}

// Reads all of `source` for late tracks, unless a conversion has already.
void find_late_tracks(const char* source, const ContainerFormat& format, const ConversionSetup& setup,
                      LateTracks* late) {
  TrackScan scan{kNoFile, &setup, 0, 0, 0, -1};
  if (late->complete || !file_open_read(source, &scan.input)) return;
  const int64_t size = file_size(scan.input);
  scan.shift = progress_shift_for(size);
  scan.total = scaled_for_progress(size, scan.shift);
  scan_for_late_tracks(format, read_for_tracks, &scan, late);
  file_close(scan.input);
}

int count_late_tracks(const LateTracks& late) {
  int count = 0;
  for (int32_t i = 0; i < late.count; ++i) count += is_late(late.seen[i]);
  return count;
}

}  // namespace

// One conversion of `source` (its track `track_id` when a container's, -1
// otherwise) into `destination`.
int convert_one(const char* source, const char* destination, const ConversionSetup& setup, int32_t track_id,
                StreamOutcome* outcome, LateTracks* late_tracks = nullptr) {
  StreamOutcome own;
  if (outcome == nullptr) outcome = &own;
  // A failure before decoding leaves the outcome failed, with nothing read.
  *outcome = StreamOutcome{};
  const LogPane log = setup.log;
  const bool from_stdin = strcmp(source, kStandardStream) == 0;
  const bool to_stdout = strcmp(destination, kStandardStream) == 0;
  const bool writes = !setup.test_only;
  FileHandle input = standard_input();
  if (!from_stdin && !file_open_read(source, &input)) {
    log_line(log, "ERR %d opening %s\r\n", last_error(), source);
    return -1;
  }
  // A destination that is the source under another name (a link) would be
  // emptied before it is read.
  if (writes && !from_stdin && !to_stdout && file_is_same(input, destination)) {
    log_line(log, "ERR: %s is the source file itself\r\n", destination);
    file_close(input);
    return -1;
  }
  // A pipe or device is written as it is; a file through NAME.wav.part when
  // the front end asks, so that nothing unfinished ever has the final name.
  const bool to_file = writes && !to_stdout && !path_is_special(destination);
  const bool through_part = to_file && setup.through_part_file;
  char part[kDestinationPathSize + 16];
  char partial[kDestinationPathSize + 16];
  if (through_part && (!with_suffix(destination, ".part", part) || !partial_name(destination, partial))) {
    log_line(log, "ERR: destination path is longer than %d characters\r\n", kDestinationPathSize - 1);
    if (!from_stdin) file_close(input);
    return -1;
  }
  FileHandle output = to_stdout ? standard_output() : kNoFile;
  if (writes && !to_stdout) {
    bool opened;
    if (through_part) {
      // A part left by a crash is never a finished file: it is replaced.
      opened = !(setup.existing == ExistingDestination::kRefuse && path_exists(destination)) &&
               file_create_write(part, &output);
    } else {
      opened = setup.existing == ExistingDestination::kReplace ? file_create_write(destination, &output)
                                                               : file_create_new(destination, &output);
    }
    if (!opened) {
      const int error = last_error();
      if (setup.existing == ExistingDestination::kRefuse && path_exists(destination)) {
        log_line(log, "ERR: %s exists; --force replaces it\r\n", destination);
      } else {
        log_line(log, "ERR %d opening %s\r\n", error, destination);
      }
      if (!from_stdin) file_close(input);
      return -1;
    }
  }
  DecodeRequest request;
  request.input = input;
  request.output = output;
  request.log = log;
  request.bar = setup.bar;
  request.batch = setup.batch;
  request.stop = setup.stop;
  request.stream_kbps = setup.stream_kbps;
  request.discard_output = !writes;
  request.input_name = from_stdin ? "standard input" : source;
  request.track_id = track_id;
  request.late_tracks = late_tracks;
  request.runner = setup.runner;
  request.track_number = setup.track;
  request.output_name = to_stdout ? "standard output" : through_part ? partial : destination;
  const int result = decode_stream(request, outcome);
  if (!from_stdin) file_close(input);
  if (!writes) return result;
  if (!to_stdout) file_close(output);
  if (!to_file) return result;

  // A failure before the first sample (an empty, unreadable or foreign
  // source, one without frames) leaves no WAV file to be mistaken for a
  // conversion.
  const char* written = through_part ? part : destination;
  switch (part_ending(result, *outcome)) {
    case PartEnding::kNothing:
      file_remove(written);
      break;
    case PartEnding::kPartial:
      if (through_part && !file_rename(part, partial)) log_line(log, "ERR %d renaming %s\r\n", last_error(), part);
      break;
    case PartEnding::kFinished:
      if (!through_part) break;
      if (!file_rename(part, destination)) {
        log_line(log, "ERR %d renaming %s\r\n", last_error(), part);
        return -1;
      }
      // What an interrupted run left is done with now.
      file_remove(partial);
      break;
  }
  return result;
}

int convert_pair(const char* source, const char* destination, const ConversionSetup& setup, StreamOutcome* outcome) {
  const bool from_stdin = strcmp(source, kStandardStream) == 0;
  const bool to_stdout = strcmp(destination, kStandardStream) == 0;
  ContainerFormat format;
  TrackList tracks;
  int64_t listed_bytes = 0;
  // Standard input is read once: its decoder takes the track from what it reads first.
  if (from_stdin || !list_source_tracks(source, &format, &tracks, &listed_bytes)) {
    return convert_one(source, destination, setup, -1, outcome);
  }
  StreamOutcome own;
  if (outcome == nullptr) outcome = &own;
  *outcome = StreamOutcome{};
  const bool transport = format.kind == ContainerKind::Transport;
  int audio_tracks = 0;
  for (int i = 0; i < tracks.count; ++i) audio_tracks += tracks.tracks[i].codec == TrackCodec::MpegAudio;
  // Tracks that start further on are noted by the conversions, which read
  // the whole input anyway; only where none does is it read for them alone.
  LateTracks late{};
  late.listed = &tracks;
  late.listed_bytes = listed_bytes;
  late.complete = listed_bytes < static_cast<int64_t>(kTableBytes);
  const int wanted = setup.track != 0 ? setup.track : 1;
  if (audio_tracks < wanted) {
    find_late_tracks(source, format, setup, &late);
    if (stop_asked(setup)) {
      log_line(setup.log, "ERR: interrupted after 0 frames; nothing written\r\n");
      outcome->ending = StreamEnding::Interrupted;
      outcome->failure = StreamFailure::Interrupted;
      return -1;
    }
  }
  const int known_tracks = audio_tracks + count_late_tracks(late);
  if (known_tracks == 0) {
    char others[400] = "";
    size_t used = 0;
    for (int i = 0; i < tracks.count && used + 48 < sizeof others; ++i) {
      char name[48];
      describe_track(tracks.tracks[i], transport, name);
      used += snprintf(others + used, sizeof others - used, "%s%s on %s", used == 0 ? " (" : ", ",
                       track_codec_name(tracks.tracks[i].codec), name);
    }
    if (used > 0) snprintf(others + used, sizeof others - used, ")");
    log_line(setup.log, "ERR: %s holds no MPEG audio track%s\r\n", source, others);
    outcome->failure = StreamFailure::NoAudioTrack;
    return -1;
  }
  if (setup.track > known_tracks) {
    log_line(setup.log, "ERR: %s holds %d MPEG audio tracks, not %d\r\n", source, known_tracks, setup.track);
    outcome->failure = StreamFailure::NoAudioTrack;
    return -1;
  }
  int result = 0;
  bool outcome_taken = false;
  bool failure_taken = false;
  // Converts track `number` of `total`; `from` >= 0: a late track's first byte.
  const auto convert_track = [&](const TrackInfo& track, int number, int total, int64_t from) {
    char name[48];
    describe_track(track, transport, name);
    if (from >= 0) {
      log_line(setup.log, "track %d of %d: %s, from byte %" PRId64 "\r\n", number, total, name, from);
    } else if (track.language[0] != '\0') {
      log_line(setup.log, "track %d of %d: %s (%s)\r\n", number, total, name, track.language);
    } else {
      log_line(setup.log, "track %d of %d: %s\r\n", number, total, name);
    }
    StreamOutcome track_outcome;
    if (track.scrambled) {
      log_line(setup.log, "ERR: track %d (%s) is scrambled; not converted\r\n", number, name);
      track_outcome.failure = StreamFailure::Scrambled;
      result = -1;
    } else {
      char path[kDestinationPathSize + 16];
      // Standard output takes one track: the first, or the one asked for. A
      // check writes nothing: no names.
      const bool named = to_stdout || setup.test_only ||
                         track_destination(destination, setup.track != 0 ? 1 : number, path);
      if (!named) {
        log_line(setup.log, "ERR: destination path is longer than %d characters\r\n", kDestinationPathSize - 1);
        result = -1;
      } else if (convert_one(source, to_stdout || setup.test_only ? destination : path, setup, track.id,
                             &track_outcome, &late) != 0) {
        result = -1;
      }
    }
    // The first track's outcome, or the first failure's; the damage of every track counts.
    const bool track_failed = track_outcome.ending != StreamEnding::Converted;
    if (!outcome_taken || (track_failed && !failure_taken)) {
      const int64_t gaps = outcome_taken ? outcome->gap_count : 0;
      const int64_t crc_errors = outcome_taken ? outcome->crc_error_count : 0;
      *outcome = track_outcome;
      outcome->gap_count += gaps;
      outcome->crc_error_count += crc_errors;
    } else {
      outcome->gap_count += track_outcome.gap_count;
      outcome->crc_error_count += track_outcome.crc_error_count;
    }
    outcome_taken = true;
    failure_taken = failure_taken || track_failed;
  };
  int number = 0;
  for (int i = 0; i < tracks.count; ++i) {
    const TrackInfo& track = tracks.tracks[i];
    if (track.codec != TrackCodec::MpegAudio) continue;
    ++number;
    if (setup.track != 0 && number != setup.track) continue;
    convert_track(track, number, audio_tracks, -1);
    if (to_stdout) return result;
  }
  // Then the late tracks, in the order they start, once every listed one is
  // done (standard output has had its one track).
  if (setup.track == 0 || setup.track > audio_tracks) {
    if (setup.track == 0 && !stop_asked(setup)) find_late_tracks(source, format, setup, &late);
    const int total = audio_tracks + count_late_tracks(late);
    for (int32_t i = 0; i < late.count; ++i) {
      if (!is_late(late.seen[i])) continue;
      ++number;
      if (setup.track != 0 && number != setup.track) continue;
      if (stop_asked(setup)) break;
      TrackInfo track{};
      track.id = late.seen[i].id;
      track.codec = TrackCodec::MpegAudio;
      convert_track(track, number, total, late.seen[i].first_at);
      if (to_stdout) break;
    }
  }
  return result;
}
