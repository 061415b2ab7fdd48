#include "cli/job_list.h"

#include <map>
#include <utility>

#include "platform/folders.h"
#include "platform/platform.h"
#include "platform/report_sinks.h"
#include "convert/convert.h"

namespace {

// Collects the one line a failed derivation logs.
struct LineCatcher {
  std::string line;
  static void append(void* context, const char* text) {
    std::string& line = static_cast<LineCatcher*>(context)->line;
    line = text;
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) line.resize(line.size() - 2);
  }
};

std::string joined(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string last_name(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct Lister {
  const Options& options;
  std::vector<Job> jobs;
  // Beside each job: the name its shard is drawn from, and whether it is a file.
  std::vector<std::string> names;
  std::vector<bool> files;

  // `relative` is where the source lands under the output folder.
  void add_file(const std::string& source, const std::string& relative, const std::string& name) {
    Job job;
    job.source = source;
    if (options.test_only) {
      // Nothing is written, so no destination can be wrong.
    } else if (options.to_stdout) {
      job.destination = kStandardStream;
    } else if (source == kStandardStream) {
      job.destination = joined(options.output_dir, "stdin.wav");
    } else {
      const std::string like = options.output_dir.empty() ? source : joined(options.output_dir, relative);
      char destination[kDestinationPathSize];
      LineCatcher catcher;
      LogPaneWindow pane{LineCatcher::append, &catcher};
      if (derive_wav_path(like.c_str(), destination, &pane) == 0) {
        job.destination = destination;
      } else {
        job.early_line = catcher.line;
      }
    }
    jobs.push_back(job);
    names.push_back(name);
    files.push_back(true);
  }

  void add_folder(const std::string& folder, const std::string& relative) {
    std::vector<FolderEntry> entries;
    if (!list_folder(folder.c_str(), &entries)) {
      Job job;
      job.source = folder;
      job.early_line = "ERR " + std::to_string(last_error()) + " reading folder " + folder;
      jobs.push_back(job);
      names.push_back(relative.empty() ? folder : relative);
      files.push_back(false);
      return;
    }
    for (const FolderEntry& entry : entries) {
      const std::string path = joined(folder, entry.name);
      const std::string below = joined(relative, entry.name);
      if (entry.kind == FolderEntry::kFolder) {
        add_folder(path, below);
      } else if (entry.kind == FolderEntry::kFile && has_mp2_extension(entry.name)) {
        add_file(path, below, below);
      }
    }
  }
};

}  // namespace

bool has_mp2_extension(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return false;
  std::string extension = name.substr(dot + 1);
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (const char* taken : {"mp2", "mpa", "m2a", "mpeg", "mpg", "vob", "ts", "m2ts", "mts"}) {
    if (extension == taken) return true;
  }
  return false;
}

int shard_of(const std::string& name, int count) {
  uint64_t hash = 0xcbf29ce484222325u;
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3u;
  }
  // The low bits of FNV-1a barely mix (the lowest is the parity of the odd
  // bytes), so the shard comes from the upper half.
  return static_cast<int>((hash >> 32) % static_cast<uint64_t>(count)) + 1;
}

void split_source_list(const std::string& bytes, bool null_separated, std::vector<std::string>* sources) {
  const char end = null_separated ? '\0' : '\n';
  size_t start = 0;
  while (start < bytes.size()) {
    size_t stop = bytes.find(end, start);
    if (stop == std::string::npos) stop = bytes.size();
    // A list written on Windows ends its lines in CR LF; no name ends in CR.
    size_t length = stop - start;
    if (!null_separated && length > 0 && bytes[stop - 1] == '\r') --length;
    if (length > 0) sources->push_back(bytes.substr(start, length));
    start = stop + 1;
  }
}

std::vector<Job> list_jobs(const Options& options) {
  Lister lister{options, {}, {}, {}};
  for (const std::string& source : options.sources) {
    if (source != kStandardStream && is_folder(source.c_str())) {
      lister.add_folder(source, "");
    } else {
      lister.add_file(source, last_name(source), source);
    }
  }

  // Settled in list order over every shard, so the first source of a
  // destination keeps it whichever shard converts it.
  std::map<std::string, size_t> first_for;
  for (size_t i = 0; i < lister.jobs.size(); ++i) {
    Job& job = lister.jobs[i];
    if (!job.early_line.empty() || job.destination.empty() || job.destination == kStandardStream) continue;
    const auto taken = first_for.emplace(job.destination, i);
    if (!taken.second) {
      job.early_line = "ERR: " + job.destination + " is already the destination of " +
                       lister.jobs[taken.first->second].source;
    }
  }

  // Only this shard's files are looked at on the disk.
  std::vector<Job> jobs;
  for (size_t i = 0; i < lister.jobs.size(); ++i) {
    if (options.shard_count > 0 && shard_of(lister.names[i], options.shard_count) != options.shard) continue;
    Job& job = lister.jobs[i];
    if (lister.files[i] && job.source != kStandardStream) {
      FileHandle file = kNoFile;
      if (file_open_read(job.source.c_str(), &file)) {
        job.size = file_size(file);
        if (job.size < 0) job.size = 0;
        file_close(file);
      }
    }
    if (options.skip_existing && job.early_line.empty() && !job.destination.empty() &&
        job.destination != kStandardStream && path_exists(job.destination.c_str())) {
      job.skipped = true;
      job.early_line = job.destination + " exists; skipped";
    }
    jobs.push_back(std::move(job));
  }
  return jobs;
}
