#include "cli/worker_pool.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/terminal_reports.h"
#include "platform/folders.h"
#include "platform/log_text.h"
#include "platform/platform.h"
#include "platform/report_sinks.h"
#include "platform/stop_signals.h"
#include "shell/convert.h"

namespace {

// A message from a worker: a log line, or progress (bytes done of total, both
// scaled down alike past 2 GiB).
struct MessageHead {
  char kind;  // 'L' or 'P'
  uint32_t done;
  uint32_t total;
  uint32_t length;  // of the line that follows
};

void send_message(int fd, const MessageHead& head, const char* text) {
  char buffer[sizeof(MessageHead) + kLongestLogLine + 1];
  memcpy(buffer, &head, sizeof head);
  memcpy(buffer + sizeof head, text, head.length);
  size_t left = sizeof head + head.length;
  const char* at = buffer;
  while (left > 0) {
    const ssize_t n = write(fd, at, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    at += n;
    left -= static_cast<size_t>(n);
  }
}

void send_line(void* context, const char* line) {
  size_t length = strlen(line);
  if (length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n') length -= 2;
  if (length > static_cast<size_t>(kLongestLogLine)) length = kLongestLogLine;
  send_message(*static_cast<int*>(context), MessageHead{'L', 0, 0, static_cast<uint32_t>(length)}, line);
}

// About two hundred reports per file are plenty for a bar redrawn ten times a second.
int32_t send_progress(void* context, uint32_t bytes_done, int32_t total_bytes) {
  send_message(*static_cast<int*>(context), MessageHead{'P', bytes_done, static_cast<uint32_t>(total_bytes), 0}, "");
  const uint32_t step = total_bytes > 0 ? static_cast<uint32_t>(total_bytes) / 200 + 1 : 1u << 16;
  const uint64_t next = static_cast<uint64_t>(bytes_done) + step;
  return next > INT32_MAX ? INT32_MAX : static_cast<int32_t>(next);
}

std::string folder_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

[[noreturn]] void run_worker(const Job& job, const PoolSettings& settings, bool reports, int fd) {
  watch_stop_signals();
  release_stop_signals();
  int context = fd;
  LogPaneWindow pane{send_line, &context};
  ProgressBarWindow bar{send_progress, &context};
  if (settings.make_folders && job.destination != kStandardStream) {
    const std::string folder = folder_of(job.destination);
    if (!folder.empty() && !make_folders(folder.c_str())) {
      log_line(&pane, "ERR %d creating folder %s\r\n", last_error(), folder.c_str());
      _exit(1);
    }
  }
  const int result =
      convert_into(reports ? &bar : nullptr, job.source.c_str(), job.destination.c_str(),
                    settings.force ? ExistingDestination::kReplace : ExistingDestination::kRefuse, &pane);
  _exit(result == 0 ? 0 : 1);
}

struct JobState {
  enum Phase { kWaiting, kRunning, kDone, kPrinted } phase = kWaiting;
  pid_t pid = -1;
  int fd = -1;
  std::string unread;  // bytes of a message not yet complete
  std::vector<std::string> lines;
  double fraction = 0;
  int kbps = 0;
  bool succeeded = false;
};

// Takes the complete messages out of what the worker sent.
void take_messages(JobState& state) {
  size_t at = 0;
  while (state.unread.size() - at >= sizeof(MessageHead)) {
    MessageHead head;
    memcpy(&head, state.unread.data() + at, sizeof head);
    if (state.unread.size() - at - sizeof head < head.length) break;
    if (head.kind == 'L') {
      state.lines.emplace_back(state.unread.data() + at + sizeof head, head.length);
      if (state.kbps == 0) state.kbps = stream_kbps(state.lines.back());
    } else if (head.total > 0) {
      state.fraction = static_cast<double>(head.done) / head.total;
    }
    at += sizeof head + head.length;
  }
  state.unread.erase(0, at);
}

bool start_worker(const Job& job, JobState& state, const PoolSettings& settings, bool reports) {
  int ends[2];
  if (pipe(ends) != 0) {
    state.lines.push_back("ERR " + std::to_string(errno) + " starting a worker");
    state.phase = JobState::kDone;
    return false;
  }
  hold_stop_signals();
  fflush(stdout);
  fflush(stderr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(ends[0]);
    // Its own process group: the terminal's Ctrl-C reaches the parent only,
    // which passes each signal on once.
    setpgid(0, 0);
    run_worker(job, settings, reports, ends[1]);
  }
  close(ends[1]);
  if (pid < 0) {
    close(ends[0]);
    release_stop_signals();
    state.lines.push_back("ERR " + std::to_string(errno) + " starting a worker");
    state.phase = JobState::kDone;
    return false;
  }
  forward_stop_signals_to(pid);
  release_stop_signals();
  state.pid = pid;
  state.fd = ends[0];
  state.phase = JobState::kRunning;
  return true;
}

void finish_worker(JobState& state) {
  close(state.fd);
  state.fd = -1;
  int status = 0;
  while (waitpid(state.pid, &status, 0) < 0 && errno == EINTR) {
  }
  stop_forwarding_to(state.pid);
  state.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (WIFSIGNALED(status)) {
    state.lines.push_back("ERR: the conversion ended by signal " + std::to_string(WTERMSIG(status)) +
                          "; its WAV file may be incomplete");
  }
  state.phase = JobState::kDone;
}

std::string file_name_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

RunCounts run_jobs(const std::vector<Job>& jobs, const PoolSettings& settings) {
  RunCounts counts;
  std::vector<JobState> states(jobs.size());
  ProgressLine progress = make_progress_line(settings.progress);
  int64_t total_bytes = 0;
  for (const Job& job : jobs) {
    if (job.early_line.empty()) total_bytes += job.size;
  }
  const uint32_t start_tick = tick_count();
  uint32_t drawn_tick = start_tick - 1000;
  int64_t finished_bytes = 0;
  double finished_audio = 0;
  size_t next = 0, printed = 0;
  int running = 0;

  while (printed < jobs.size()) {
    // Start what may start; early failures and skips need no worker.
    while (next < jobs.size() && running < settings.jobs && !stop_requested()) {
      const Job& job = jobs[next];
      JobState& state = states[next];
      ++next;
      if (!job.early_line.empty()) {
        state.lines.push_back(job.early_line);
        state.phase = JobState::kDone;
        state.succeeded = job.skipped;
        continue;
      }
      // Without a progress line the workers need not report their bytes.
      if (start_worker(job, state, settings, progress.enabled)) ++running;
    }
    std::vector<pollfd> watched;
    std::vector<size_t> owners;
    for (size_t i = 0; i < states.size(); ++i) {
      if (states[i].phase != JobState::kRunning) continue;
      watched.push_back(pollfd{states[i].fd, POLLIN, 0});
      owners.push_back(i);
    }
    if (!watched.empty() && poll(watched.data(), watched.size(), 100) > 0) {
      for (size_t k = 0; k < watched.size(); ++k) {
        if (watched[k].revents == 0) continue;
        JobState& state = states[owners[k]];
        char buffer[8192];
        const ssize_t n = read(state.fd, buffer, sizeof buffer);
        if (n > 0) {
          state.unread.append(buffer, static_cast<size_t>(n));
          take_messages(state);
        } else if (n == 0 || errno != EINTR) {
          finish_worker(state);
          --running;
          finished_bytes += jobs[owners[k]].size;
        }
      }
    }

    // Print every finished file whose turn it is.
    bool cleared = false;
    while (printed < jobs.size() && states[printed].phase == JobState::kDone) {
      if (!cleared) clear_progress_line(progress);
      cleared = true;
      JobState& state = states[printed];
      print_file_lines(settings.routing, jobs[printed].source, state.lines);
      if (jobs[printed].skipped) {
        ++counts.skipped;
      } else if (state.succeeded) {
        ++counts.converted;
      } else {
        ++counts.failed;
      }
      const double audio = audio_seconds_of(state.lines);
      counts.audio_seconds += audio;
      finished_audio += audio;
      state.phase = JobState::kPrinted;
      ++printed;
    }

    // Files not started after a stop are neither converted nor failed.
    if (stop_requested() && running == 0 && (printed == jobs.size() || states[printed].phase == JobState::kWaiting)) {
      break;
    }

    const uint32_t now = tick_count();
    if (progress.enabled && running > 0 && (cleared || now - drawn_tick >= 100)) {
      drawn_tick = now;
      double done = static_cast<double>(finished_bytes);
      double audio = finished_audio;
      std::string name;
      for (size_t i = 0; i < states.size(); ++i) {
        if (states[i].phase != JobState::kRunning) continue;
        const double bytes = states[i].fraction * static_cast<double>(jobs[i].size);
        done += bytes;
        if (states[i].kbps > 0) audio += bytes * 8 / (states[i].kbps * 1000.0);
        if (name.empty()) name = file_name_of(jobs[i].source);
      }
      const double elapsed = (now - start_tick) / 1000.0;
      const double fraction = total_bytes > 0 ? done / static_cast<double>(total_bytes) : 0;
      const double speed = elapsed > 0.2 ? audio / elapsed : 0;
      const double left = done > 0 && elapsed > 0.5 ? (static_cast<double>(total_bytes) - done) * elapsed / done : 0;
      draw_progress_line(progress, name, fraction, speed, left);
    }
  }
  clear_progress_line(progress);
  return counts;
}
