#include "cli/options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <getopt.h>

const char kUsage[] =
    "usage: sondrik [OPTION]... SOURCE...\n"
    "Converts MPEG-1 Layer II files, and the MPEG audio tracks of transport and\n"
    "program streams, into 16-bit PCM WAV files. A SOURCE is a file, a folder (every\n"
    ".mp2, .mpa, .m2a, .mpeg, .mpg, .vob, .ts, .m2ts and .mts file under it) or -\n"
    "(standard input).\n"
    "  -o, --output-dir DIR  write the WAV files into DIR, mirroring folders given\n"
    "  -j, --jobs N          convert up to N files at once (default: one per processor)\n"
    "  -f, --force           replace existing WAV files\n"
    "      --skip-existing   leave existing WAV files and count them as done\n"
    "  -c, --stdout          write the WAV to standard output (one source only)\n"
    "  -q, --quiet           print only errors and the closing summary\n"
    "  -t, --test            decode and check each file, write nothing: one verdict line\n"
    "      --strict          count a source with gaps or CRC errors as failed\n"
    "      --report FILE     write one JSON line per source into FILE\n"
    "      --track N         of a transport or program stream, convert only MPEG\n"
    "                        audio track N, into NAME.wav\n"
    "      --files-from FILE\n"
    "                        more sources, one a line, from FILE (-: standard input)\n"
    "      --null            the paths in that list end in NUL, not a newline\n"
    "      --shard K/N       convert only the files of shard K of N (1 <= K <= N),\n"
    "                        chosen by a hash of each file's name\n"
    "  -h, --help            show this text\n"
    "      --version         show the version\n"
    "Exit status: 0 when every file converted, 1 when any failed (with -t or --strict\n"
    "also when any was damaged), 2 for a usage error, 130 or 143 when interrupted.\n";

namespace {

constexpr char kStandardInput[] = "-";

enum LongOnly { kSkipExisting = 256, kVersion, kStrict, kReport, kTrack, kFilesFrom, kNull, kShard };

const option kLongOptions[] = {
    {"output-dir", required_argument, nullptr, 'o'},
    {"jobs", required_argument, nullptr, 'j'},
    {"force", no_argument, nullptr, 'f'},
    {"skip-existing", no_argument, nullptr, kSkipExisting},
    {"stdout", no_argument, nullptr, 'c'},
    {"quiet", no_argument, nullptr, 'q'},
    {"test", no_argument, nullptr, 't'},
    {"strict", no_argument, nullptr, kStrict},
    {"report", required_argument, nullptr, kReport},
    {"track", required_argument, nullptr, kTrack},
    {"files-from", required_argument, nullptr, kFilesFrom},
    {"null", no_argument, nullptr, kNull},
    {"shard", required_argument, nullptr, kShard},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

// A whole decimal number from 1 to INT_MAX at `text`, ending at `end` or,
// without `end`, at the terminator.
bool read_count(const char* text, int* value, const char** end = nullptr) {
  if (*text < '0' || *text > '9') return false;
  char* stop = nullptr;
  errno = 0;
  const long number = strtol(text, &stop, 10);
  if (errno != 0 || number < 1 || number > INT_MAX) return false;
  if (end != nullptr) {
    *end = stop;
  } else if (*stop != '\0') {
    return false;
  }
  *value = static_cast<int>(number);
  return true;
}

}  // namespace

OptionsVerdict read_options(int argc, char** argv, Options* options, std::string* complaint) {
  bool help = false, version = false;
  opterr = 0;
  optind = 1;
  for (;;) {
    int index = 0;
    const int c = getopt_long(argc, argv, ":o:j:fcqth", kLongOptions, &index);
    if (c == -1) break;
    switch (c) {
      case 'o':
        options->output_dir = optarg;
        if (options->output_dir.empty()) {
          *complaint = "-o needs a folder";
          return OptionsVerdict::kUsageError;
        }
        break;
      case 'j': {
        char* end = nullptr;
        const long jobs = strtol(optarg, &end, 10);
        if (*optarg == '\0' || *end != '\0' || jobs < 1 || jobs > 1024) {
          *complaint = std::string("-j wants a number of files from 1 to 1024, not '") + optarg + "'";
          return OptionsVerdict::kUsageError;
        }
        options->jobs = static_cast<int>(jobs);
        break;
      }
      case 'f': options->force = true; break;
      case kSkipExisting: options->skip_existing = true; break;
      case 'c': options->to_stdout = true; break;
      case 'q': options->quiet = true; break;
      case 't': options->test_only = true; break;
      case kStrict: options->strict = true; break;
      case kReport:
        options->report_path = optarg;
        // Standard output carries the lines already.
        if (options->report_path.empty() || options->report_path == "-") {
          *complaint = std::string("--report wants a file name, not '") + optarg + "'";
          return OptionsVerdict::kUsageError;
        }
        break;
      case kTrack:
        if (!read_count(optarg, &options->track)) {
          *complaint = std::string("--track wants a track number from 1, not '") + optarg + "'";
          return OptionsVerdict::kUsageError;
        }
        break;
      case kFilesFrom:
        options->files_from = optarg;
        if (options->files_from.empty()) {
          *complaint = "--files-from needs a file name, or - for standard input";
          return OptionsVerdict::kUsageError;
        }
        break;
      case kNull: options->null_separated = true; break;
      case kShard: {
        const char* slash = nullptr;
        if (!read_count(optarg, &options->shard, &slash) || *slash != '/' ||
            !read_count(slash + 1, &options->shard_count) || options->shard > options->shard_count) {
          *complaint = std::string("--shard wants K/N with 1 <= K <= N, not '") + optarg + "'";
          return OptionsVerdict::kUsageError;
        }
        break;
      }
      case 'h': help = true; break;
      case kVersion: version = true; break;
      case ':':
        *complaint = std::string("option ") + argv[optind - 1] + " needs a value";
        return OptionsVerdict::kUsageError;
      default:
        *complaint = optopt != 0 ? std::string("unknown option -") + static_cast<char>(optopt)
                                 : std::string("unknown option ") + argv[optind - 1];
        return OptionsVerdict::kUsageError;
    }
  }
  if (help) return OptionsVerdict::kHelp;
  if (version) return OptionsVerdict::kVersion;
  for (int i = optind; i < argc; ++i) options->sources.push_back(argv[i]);
  if (options->sources.empty() && options->files_from.empty()) {
    *complaint = "no source given";
    return OptionsVerdict::kUsageError;
  }
  if (options->null_separated && options->files_from.empty()) {
    *complaint = "--null says how a --files-from list is separated, but none is given";
    return OptionsVerdict::kUsageError;
  }
  // Standard input can be read only once.
  if (options->files_from == kStandardInput) {
    for (const std::string& source : options->sources) {
      if (source == kStandardInput) {
        *complaint = "--files-from - reads the list from standard input, so '-' can't be a source too";
        return OptionsVerdict::kUsageError;
      }
    }
  }
  if (options->force && options->skip_existing) {
    *complaint = "--force and --skip-existing contradict each other";
    return OptionsVerdict::kUsageError;
  }
  if (options->to_stdout && !options->output_dir.empty()) {
    *complaint = "-c writes to standard output, -o into a folder: choose one";
    return OptionsVerdict::kUsageError;
  }
  if (options->test_only && options->to_stdout) {
    *complaint = "-t writes nothing, -c writes to standard output: choose one";
    return OptionsVerdict::kUsageError;
  }
  return OptionsVerdict::kRun;
}
