#include "shell/worker.h"

#include <cstdint>
#include <memory>
#include <thread>

#include "convert/chunk_pool.h"
#include "convert/convert.h"
#include "platform/progress_scale.h"
#include "platform/window_messages.h"
#include "shell/command_line_split.h"
#include "shell/full_path.h"
#include "shell/progress_bar.h"
#include "shell/shell_state.h"

namespace {

// Where every conversion of the run reports, and its storage: one file is
// converted at a time.
ConversionSetup setup;

// A long file is decoded on every processor: the worker lists its frames
// and writes them, threads beside it decode its chunks. Null with one
// processor.
ChunkPool* chunk_pool = nullptr;

void convert_path(const char* path) {
  if (chunk_pool == nullptr) {
    convert_file(path, setup);
    return;
  }
  ChunkedStream chunked(*chunk_pool, chunk_sizes_in_use());
  ConversionSetup in_chunks = setup;
  in_chunks.runner = &chunked.runner();
  convert_file(path, in_chunks);
}

// Announces one entry of a list, shows its full path and converts it. A path
// that doesn't fit the buffer is refused and the list goes on.
void convert_entry(const char* folder, const char* name) {
  log_line(current_log_pane, "Converting %s\r\n", name);
  char path[kFullPathSize];
  if (!build_full_path(path, folder, name)) {
    log_line(current_log_pane, "ERR: full path is longer than %d characters\r\n", kFullPathSize - 1);
    return;
  }
  SetWindowTextA(status_line, path);
  convert_path(path);
}

// Splitting a list at a time: the text may name more files than one list holds.
void convert_command_line() {
  CommandLineSplit split = start_command_line_split(command_line_text);
  char* names[kFileListLimit];
  for (int count; (count = split_command_line(split, names, kFileListLimit)) > 0;) {
    for (int i = 0; i < count; ++i) convert_entry(nullptr, names[i]);
  }
}

// The size in the bar's 32-bit total, scaled as the decoder will scale it.
int32_t size_for_report(const WIN32_FIND_DATAA& found) {
  const int64_t size = static_cast<int64_t>((static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
  return scaled_for_progress(size, progress_shift_for(size));
}

void convert_one_chosen_file(const char* path) {
  SetWindowTextA(status_line, path);
  log_line(current_log_pane, "Converting %s\r\n", path);
  int32_t size = 0;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search != INVALID_HANDLE_VALUE) {
    size = size_for_report(found);
    FindClose(search);
  }
  // Back to the start before the file is opened.
  progress_report(current_progress_bar, 0, size);
  convert_path(path);
}

void convert_selection() {
  SelectionScan scan;
  switch (start_selection_scan(selection_buffer, kSelectionBufferSize, &scan)) {
    case SelectionShape::kEmpty:
      break;
    case SelectionShape::kOneFile:
      convert_one_chosen_file(selection_buffer);
      break;
    case SelectionShape::kFolderAndNames: {
      const char* names[kFileListLimit];
      for (int count; (count = next_selection_names(scan, names, kFileListLimit)) > 0;) {
        for (int i = 0; i < count; ++i) convert_entry(selection_buffer, names[i]);
      }
      break;
    }
  }
  if (scan.cut_short) {
    log_line(current_log_pane, "ERR: the selection did not fit in %d bytes, the names cut off were not converted\r\n",
             kSelectionBufferSize);
  }
}

}  // namespace

DWORD WINAPI conversion_worker(LPVOID main_window) {
  std::unique_ptr<PcmBatch> batch(new PcmBatch);
  setup.log = current_log_pane;
  setup.bar = current_progress_bar;
  setup.batch = batch.get();
  const unsigned processors = std::thread::hardware_concurrency();
  std::unique_ptr<ChunkPool> pool;
  std::unique_ptr<ChunkHelpers> helpers;
  if (processors > 1) {
    pool.reset(new ChunkPool(static_cast<int>(processors)));
    helpers.reset(new ChunkHelpers(*pool, static_cast<int>(processors) - 1));
    chunk_pool = pool.get();
  }
  if (command_line_text != nullptr && command_line_text[0] != '\0') {
    convert_command_line();
  } else {
    convert_selection();
  }
  helpers.reset();
  chunk_pool = nullptr;
  SendMessageA(static_cast<HWND>(main_window), kConversionFinished, 0, 0);
  return 0;
}
