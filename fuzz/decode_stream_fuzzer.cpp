// decode_stream over any bytes, with files in memory. Whatever the input, the
// decoder stays inside its buffers (the sanitizers see to that), ends with
// one result, and every WAV it completes has a header that matches its data.
// The input's last byte also picks a failure to stage: a disk that is full
// from the start or fills up, a read that fails half-way, or an input that
// can't be rewound. Two decoders take the input at once, on two threads that
// take turns read by read, each with the other staging.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>

#include "decoder/stream.h"
#include "platform/report_sinks.h"
#include "tests/support/little_endian.h"
#include "tests/support/memory_files.h"
#include "tests/support/turns.h"

namespace {

void check(bool holds) {
  if (!holds) __builtin_trap();
}

struct LineCheck {
  int lines = 0;
  int failures = 0;
};

void count_line(void* context, const char* line) {
  LineCheck* seen = static_cast<LineCheck*>(context);
  const size_t length = strlen(line);
  check(length >= 2 && strcmp(line + length - 2, "\r\n") == 0);
  if (strncmp(line, "ERR", 3) == 0) seen->failures += 1;
  seen->lines += 1;
}

int32_t next_byte(void*, uint32_t done, int32_t total) {
  check(total >= 0);
  return static_cast<int32_t>(done);
}

// One decoder's conversion of the input, with the failure `cue` stages.
struct Run {
  MemoryInput input;
  MemoryOutput output;
  LineCheck seen;
  PcmBatch batch;
  uint8_t cue = 0;
  int result = -1;
  Turns* turns = nullptr;
  int side = 0;

  void stage(const uint8_t* data, size_t size) {
    input.pattern = data;
    input.pattern_length = size;
    input.size = size;
    input.most_per_read = 1024 + 512 * (cue & 3);
    input.after_read = [](void* run) { static_cast<Run*>(run)->turns->pass(static_cast<Run*>(run)->side); };
    input.after_read_context = this;
    output.keep = 44;
    switch (cue & 7) {
      case 4:
        output.fail_write_at = 0;  // not even the header can be written
        break;
      case 5:
        output.fail_write_at = 44 + (cue >> 3) * 1500;
        break;
      case 6:
        input.fail_read_at = static_cast<int64_t>(size / 2);
        break;
      case 7:
        input.seekable = false;
        break;
      default:
        break;
    }
  }

  void decode() {
    turns->wait_for(side);
    LogPaneWindow log{count_line, &seen};
    ProgressBarWindow bar{next_byte, nullptr};
    DecodeRequest request;
    request.input = memory_handle(&input);
    request.output = memory_handle(&output);
    request.log = &log;
    request.bar = (cue & 8) ? &bar : nullptr;
    request.batch = &batch;
    result = decode_stream(request, nullptr);
    turns->finish(side);
  }

  void check_result() const {
    check(result == 0 || result == -1);
    if (result == 0) {
      // The stream line when there was a frame, the gap and CRC lines (each
      // kind listed up to its limit, then counted), the time and the statistics.
      check(seen.failures == 0 && seen.lines >= 2 && seen.lines <= 3 + 2 * (kListedDamage + 1));
    } else {
      check(seen.failures == 1);
    }
    if (output.size >= 44) {
      const uint8_t* h = output.head.data();
      const uint32_t data_size = le32(h + 40);
      const uint32_t channels = h[22];
      const uint32_t rate = le32(h + 24);
      check(memcmp(h, "RIFF", 4) == 0 && le32(h + 4) == data_size + 36);
      check(channels == 1 || channels == 2);
      check(rate == 32000 || rate == 44100 || rate == 48000 || rate == 16000 || rate == 22050 || rate == 24000);
      check(data_size % (2 * channels) == 0 && data_size <= output.size - 44);
      if (result == 0) check(data_size == output.size - 44);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t cue = size > 0 ? data[size - 1] : 0;
  Turns turns;
  // Not value-initialized: the batches need no zeros, and 2 MiB of them per input would dominate.
  std::unique_ptr<Run> runs[2] = {std::unique_ptr<Run>(new Run), std::unique_ptr<Run>(new Run)};
  for (int side = 0; side < 2; ++side) {
    runs[side]->cue = static_cast<uint8_t>(side == 0 ? cue : cue ^ 0x0B);
    runs[side]->turns = &turns;
    runs[side]->side = side;
    runs[side]->stage(data, size);
  }
  std::thread other(&Run::decode, runs[1].get());
  runs[0]->decode();
  other.join();
  for (const auto& run : runs) run->check_result();
  return 0;
}

