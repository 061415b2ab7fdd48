#include "cli/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "cli/json_report.h"
#include "convert/large_page_block.h"
#include "cli/sha256.h"
#include "convert/chunk_pool.h"
#include "cli/terminal_reports.h"
#include "convert/convert.h"
#include "platform/folders.h"
#include "platform/log_text.h"
#include "platform/platform.h"
#include "platform/report_sinks.h"
#include "platform/stop_signals.h"

namespace {

struct JobState {
  enum Phase { kWaiting, kRunning, kDone, kPrinted };
  Phase phase = kWaiting;  // under the pool's lock
  std::vector<std::string> lines;  // the conversion's alone until kDone, on whichever thread writes its chunks
  StreamOutcome outcome;
  bool succeeded = false;
  std::string wav_left;  // the WAV file the conversion left, if any
  std::string sha256;    // its digest, for the report
  std::atomic<bool> stop{false};
  // Progress, read by the main thread while the file runs.
  std::atomic<uint32_t> done{0};
  std::atomic<int32_t> total{0};
  std::atomic<int32_t> kbps{0};
};

void keep_line(void* context, const char* line) {
  size_t length = strlen(line);
  if (length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n') length -= 2;
  static_cast<JobState*>(context)->lines.emplace_back(line, length);
}

// About two hundred reports per file are plenty for a bar redrawn ten times a second.
int32_t keep_progress(void* context, uint32_t bytes_done, int32_t total_bytes) {
  JobState& state = *static_cast<JobState*>(context);
  state.done.store(bytes_done, std::memory_order_relaxed);
  state.total.store(total_bytes, std::memory_order_relaxed);
  const uint32_t step = total_bytes > 0 ? static_cast<uint32_t>(total_bytes) / 200 + 1 : 1u << 16;
  const uint64_t next = static_cast<uint64_t>(bytes_done) + step;
  return next > INT32_MAX ? INT32_MAX : static_cast<int32_t>(next);
}

std::string folder_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string file_name_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// NAME.partial.wav for NAME.wav: where an unfinished conversion is left.
std::string partial_name(const std::string& destination) {
  return destination.substr(0, destination.size() - 4) + ".partial" + destination.substr(destination.size() - 4);
}

// The WAV file a conversion left: NAME.wav when it finished (as the stream
// did, or at a change of rate or the 4 GiB limit), NAME.partial.wav after a
// stop or a failure part-way, or none.
std::string wav_left(const Job& job, const JobState& state) {
  const StreamOutcome& outcome = state.outcome;
  const bool decoded = outcome.ending != StreamEnding::Failed || outcome.failure != StreamFailure::None;
  if (!decoded || job.destination.empty()) return std::string();
  if (job.destination == kStandardStream) return job.destination;
  const bool finished = state.succeeded || outcome.failure == StreamFailure::RateChanged ||
                        outcome.failure == StreamFailure::WavFull;
  if (finished) return path_exists(job.destination.c_str()) ? job.destination : std::string();
  if (job.destination.size() < 4) return std::string();
  const std::string partial = partial_name(job.destination);
  return path_exists(partial.c_str()) ? partial : std::string();
}

// Converts one job on the calling thread, its lines and outcome into its state.
void convert_job(const Job& job, JobState& state, const PoolSettings& settings, bool reports, PcmBatch* batch,
                 ChunkPool& chunks) {
  LogPaneWindow pane{keep_line, &state};
  ProgressBarWindow bar{keep_progress, &state};
  if (settings.make_folders && !settings.test_only && job.destination != kStandardStream) {
    const std::string folder = folder_of(job.destination);
    if (!folder.empty() && !make_folders(folder.c_str())) {
      log_line(&pane, "ERR %d creating folder %s\r\n", last_error(), folder.c_str());
      return;
    }
  }
  ConversionSetup setup;
  setup.log = &pane;
  setup.bar = reports ? &bar : nullptr;
  setup.batch = batch;
  setup.stop = &state.stop;
  setup.existing = settings.force ? ExistingDestination::kReplace : ExistingDestination::kRefuse;
  setup.stream_kbps = &state.kbps;
  // Only a finished file ever has the final name, so --skip-existing can trust it.
  setup.through_part_file = true;
  setup.test_only = settings.test_only;
  setup.track = settings.track;
  // With threads to spare, a long file is decoded in chunks on all of them.
  ChunkedStream chunked(chunks, settings.chunks);
  if (settings.jobs > 1) setup.runner = &chunked.runner();
  watch_conversion(&state.stop);
  state.succeeded = convert_pair(job.source.c_str(), job.destination.c_str(), setup, &state.outcome) == 0;
  stop_watching(&state.stop);
  if (settings.test_only) return;
  state.wav_left = wav_left(job, state);
  // A finished file only, read back from the disk so the digest is of what
  // is there; a pipe can't be read back.
  if (settings.report != nullptr && state.wav_left == job.destination && job.destination != kStandardStream &&
      !path_is_special(job.destination.c_str())) {
    state.sha256 = sha256_hex_of_file(state.wav_left);
  }
}

std::string first_error_line(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (is_error_line(line)) return line;
  }
  return std::string();
}

// The audio a file's conversion gives: what its closing lines count.
double audio_seconds_of(const StreamOutcome& outcome) {
  const bool counted = outcome.ending != StreamEnding::Failed || outcome.failure == StreamFailure::RateChanged;
  return counted ? outcome_seconds(outcome) : 0.0;
}

// Everything the threads share, under one lock.
class Pool {
 public:
  Pool(const std::vector<Job>& jobs, const PoolSettings& settings)
      : jobs_(jobs), settings_(settings), states_(jobs.size()) {}

  RunCounts run();

 private:
  void work(bool reports);
  // The next job to start, or jobs_.size() when none may start.
  size_t take_job();
  // True while a file is converting or may still start.
  bool files_left();
  void print_finished(RunCounts& counts, bool& cleared);
  void draw_progress(ProgressLine& progress, uint32_t start_tick);

  const std::vector<Job>& jobs_;
  const PoolSettings& settings_;
  std::vector<JobState> states_;
  std::mutex lock_;
  std::condition_variable changed_;
  ChunkPool chunks_{settings_.jobs};
  size_t next_ = 0;
  size_t printed_ = 0;
  int64_t finished_bytes_ = 0;
  double finished_audio_ = 0;
};

size_t Pool::take_job() {
  std::lock_guard<std::mutex> guard(lock_);
  // Files not started after a stop are neither converted nor failed.
  while (next_ < jobs_.size() && stop_signal() == 0) {
    const size_t index = next_++;
    JobState& state = states_[index];
    const Job& job = jobs_[index];
    if (job.early_line.empty()) {
      state.phase = JobState::kRunning;
      return index;
    }
    // Early failures and skips need no conversion.
    state.lines.push_back(job.early_line);
    state.succeeded = job.skipped;
    state.phase = JobState::kDone;
    changed_.notify_all();
  }
  return jobs_.size();
}

bool Pool::files_left() {
  std::lock_guard<std::mutex> guard(lock_);
  if (next_ < jobs_.size() && stop_signal() == 0) return true;
  for (const JobState& state : states_) {
    if (state.phase == JobState::kRunning) return true;
  }
  return false;
}

// A thread takes the chunks of files being converted first, so that a long
// file is never left to one core at the end, then the next file.
void Pool::work(bool reports) {
  // The batch is this thread's, for one conversion after another; a thread
  // that only ever helps with chunks needs none.
  LargePageBlock batch_block;
  PcmBatch* batch = nullptr;
  for (;;) {
    if (chunks_.help_once()) continue;
    const size_t index = take_job();
    if (index < jobs_.size()) {
      if (batch == nullptr) {
        batch_block = large_page_block(sizeof(PcmBatch));
        batch = new (batch_block.get()) PcmBatch;
      }
      convert_job(jobs_[index], states_[index], settings_, reports, batch, chunks_);
      {
        std::lock_guard<std::mutex> guard(lock_);
        states_[index].phase = JobState::kDone;
        changed_.notify_all();
      }
      // The threads waiting for chunks see whether any file is left.
      chunks_.wake_all();
      continue;
    }
    if (!files_left()) break;
    chunks_.wait_for_work(20);
  }
}

void Pool::print_finished(RunCounts& counts, bool& cleared) {
  while (printed_ < jobs_.size() && states_[printed_].phase == JobState::kDone) {
    cleared = true;
    JobState& state = states_[printed_];
    const Job& job = jobs_[printed_];
    const bool damaged = state.succeeded && outcome_damaged(state.outcome);
    const bool strict_fails = damaged && settings_.strict && !settings_.test_only;
    if (settings_.report != nullptr) {
      FileRecord record;
      record.source = job.source;
      record.outcome = outcome_word(job.skipped, state.succeeded, settings_.test_only, state.outcome);
      record.failure = failure_word(job.skipped, state.succeeded, state.outcome);
      record.message = first_error_line(state.lines);
      record.destination = job.skipped ? job.destination : state.wav_left;
      record.stream = state.outcome;
      record.sha256 = state.sha256;
      fprintf(settings_.report, "%s\n", report_line(record).c_str());
      fflush(settings_.report);
    }
    if (settings_.test_only) {
      print_lines(settings_.routing, {verdict_line(job.source, state.succeeded, state.outcome, state.lines)});
    } else {
      if (strict_fails) state.lines.push_back(strict_line(job.source, state.outcome));
      print_file_lines(settings_.routing, job.source, state.lines);
    }
    if (job.skipped) {
      ++counts.skipped;
    } else if (state.succeeded && !strict_fails) {
      ++counts.converted;
      if (damaged) ++counts.damaged;
    } else {
      ++counts.failed;
    }
    if (job.early_line.empty()) {
      const double audio = audio_seconds_of(state.outcome);
      counts.audio_seconds += audio;
      finished_audio_ += audio;
      finished_bytes_ += job.size;
    }
    state.phase = JobState::kPrinted;
    ++printed_;
  }
}

void Pool::draw_progress(ProgressLine& progress, uint32_t start_tick) {
  int64_t total_bytes = 0;
  for (const Job& job : jobs_) {
    if (job.early_line.empty()) total_bytes += job.size;
  }
  double done = static_cast<double>(finished_bytes_);
  double audio = finished_audio_;
  std::string name;
  for (size_t i = printed_; i < states_.size(); ++i) {
    const JobState& state = states_[i];
    if (state.phase == JobState::kWaiting) break;
    const int32_t total = state.total.load(std::memory_order_relaxed);
    double bytes = static_cast<double>(jobs_[i].size);
    if (state.phase == JobState::kRunning) {
      bytes = total > 0 ? bytes * state.done.load(std::memory_order_relaxed) / total : 0;
      if (name.empty()) name = file_name_of(jobs_[i].source);
    } else if (!jobs_[i].early_line.empty()) {
      continue;
    }
    done += bytes;
    const int32_t kbps = state.kbps.load(std::memory_order_relaxed);
    if (kbps > 0) audio += bytes * 8 / (kbps * 1000.0);
  }
  if (name.empty()) return;
  const uint32_t now = tick_count();
  const double elapsed = (now - start_tick) / 1000.0;
  const double fraction = total_bytes > 0 ? done / static_cast<double>(total_bytes) : 0;
  const double speed = elapsed > 0.2 ? audio / elapsed : 0;
  const double left = done > 0 && elapsed > 0.5 ? (static_cast<double>(total_bytes) - done) * elapsed / done : 0;
  draw_progress_line(progress, name, fraction, speed, left);
}

RunCounts Pool::run() {
  RunCounts counts;
  ProgressLine progress = make_progress_line(settings_.progress);
  const uint32_t start_tick = tick_count();
  std::vector<std::thread> threads;
  // Every thread may help with another file's chunks: as many as -j asks,
  // but no more helpers than the processors can run.
  size_t wanted = static_cast<size_t>(settings_.jobs);
  const unsigned processors = std::thread::hardware_concurrency();
  const size_t useful = std::max(jobs_.size(), static_cast<size_t>(processors > 0 ? processors : settings_.jobs));
  if (wanted > useful) wanted = useful;
  // Without a progress line the conversions need not report their bytes.
  for (size_t i = 0; i < wanted; ++i) threads.emplace_back(&Pool::work, this, progress.enabled);

  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    bool cleared = false;
    // Printing under the lock keeps each file's lines together; the
    // threads only wait for it between files.
    if (printed_ < jobs_.size() && states_[printed_].phase == JobState::kDone) {
      clear_progress_line(progress);
      print_finished(counts, cleared);
    }
    const bool all_printed = printed_ == jobs_.size();
    const bool stopped_here = stop_signal() != 0 && (all_printed || states_[printed_].phase == JobState::kWaiting);
    if (all_printed || stopped_here) {
      bool any_running = false;
      for (const JobState& state : states_) any_running |= state.phase == JobState::kRunning;
      if (!any_running) break;
    }
    if (progress.enabled) draw_progress(progress, start_tick);
    changed_.wait_for(guard, std::chrono::milliseconds(100));
  }
  guard.unlock();
  for (std::thread& thread : threads) thread.join();
  clear_progress_line(progress);
  return counts;
}

}  // namespace

RunCounts run_jobs(const std::vector<Job>& jobs, const PoolSettings& settings) {
  Pool pool(jobs, settings);
  return pool.run();
}
