// Compares our WAV output with a reference decoder's, sample by sample.
//
//   pcm_compare OURS.wav REFERENCE.wav MAX_SHIFT TOLERANCE
//
// References may start a few samples (a decoder delay) or whole frames (frames
// they drop) apart from us, so the reference is aligned by the shift, within
// +-MAX_SHIFT sample frames, that fits best. Every overlapping sample is then
// compared, except the first 512 of a reference that starts late. Prints one
// line: the shift, the largest and the RMS difference in LSB, and how many
// samples each side has. Exits 0 when the largest difference is at most
// TOLERANCE and only the shift leaves samples of either side unpaired, 1 when
// not, 2 when a file can't be read.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/little_endian.h"

namespace {

// The synthesis window reaches this many slots of 32 samples back.
constexpr long kWindowSlots = 16;

struct Pcm {
  int channels = 0;
  int sample_rate = 0;
  std::vector<int16_t> samples;  // interleaved
  long frames() const { return channels ? static_cast<long>(samples.size()) / channels : 0; }
};

// Walks the RIFF chunks: other writers put LIST chunks before "data".
bool read_wav(const char* path, Pcm& pcm) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 12 || memcmp(bytes.data(), "RIFF", 4) != 0 || memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    fprintf(stderr, "%s: not a WAV file\n", path);
    return false;
  }
  size_t at = 12;
  bool have_format = false;
  while (at + 8 <= bytes.size()) {
    const uint8_t* chunk = bytes.data() + at;
    size_t size = le32(chunk + 4);
    size_t body = at + 8;
    if (memcmp(chunk, "fmt ", 4) == 0 && size >= 16 && body + 16 <= bytes.size()) {
      if (le16(chunk + 8) != 1 || le16(chunk + 22) != 16) {
        fprintf(stderr, "%s: not 16-bit PCM\n", path);
        return false;
      }
      pcm.channels = le16(chunk + 10);
      pcm.sample_rate = static_cast<int>(le32(chunk + 12));
      have_format = true;
    } else if (memcmp(chunk, "data", 4) == 0 && have_format) {
      size = std::min(size, bytes.size() - body);
      pcm.samples.resize(size / 2);
      for (size_t i = 0; i < pcm.samples.size(); ++i) pcm.samples[i] = static_cast<int16_t>(le16(&bytes[body + 2 * i]));
      return pcm.channels > 0;
    }
    at = body + size + (size & 1);
  }
  fprintf(stderr, "%s: no format or data chunk\n", path);
  return false;
}

struct Difference {
  long compared = 0;
  int largest = 0;
  double sum_of_squares = 0.0;
};

// Reference frame f + shift against our frame f, over `frames` frames from `first`.
Difference compare(const Pcm& ours, const Pcm& reference, long shift, long first, long frames) {
  Difference result;
  const int ch = ours.channels;
  for (long f = first; f < first + frames; ++f) {
    const long r = f + shift;
    if (f < 0 || f >= ours.frames() || r < 0 || r >= reference.frames()) continue;
    for (int c = 0; c < ch; ++c) {
      const int d = std::abs(ours.samples[f * ch + c] - reference.samples[r * ch + c]);
      if (d > result.largest) result.largest = d;
      result.sum_of_squares += static_cast<double>(d) * d;
      ++result.compared;
    }
  }
  return result;
}

// The shift that fits a stretch of signal best: smallest sum of squares, ties
// to the smaller shift. The stretch starts at our first loud sample, so
// leading silence can't make every shift look equal.
long best_shift(const Pcm& ours, const Pcm& reference, long max_shift) {
  long start = 0;
  while (start < ours.frames() && std::abs(ours.samples[start * ours.channels]) < 64) ++start;
  const long stretch = 4096;
  long best = 0;
  double best_error = -1;
  for (long s = 0; s <= max_shift; ++s) {
    for (long shift : {s, -s}) {
      Difference d = compare(ours, reference, shift, start, stretch);
      if (d.compared < stretch / 2) continue;
      const double error = d.sum_of_squares / static_cast<double>(d.compared);
      if (best_error < 0 || error < best_error) {
        best_error = error;
        best = shift;
      }
      if (s == 0) break;
    }
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: %s OURS.wav REFERENCE.wav MAX_SHIFT TOLERANCE\n", argv[0]);
    return 2;
  }
  Pcm ours;
  Pcm reference;
  if (!read_wav(argv[1], ours) || !read_wav(argv[2], reference)) return 2;
  const long max_shift = atol(argv[3]);
  const int tolerance = atoi(argv[4]);
  if (ours.channels != reference.channels || ours.sample_rate != reference.sample_rate) {
    printf("format differs: ours %d Hz x %d, reference %d Hz x %d\n", ours.sample_rate, ours.channels,
           reference.sample_rate, reference.channels);
    return 1;
  }
  const long shift = best_shift(ours, reference, max_shift);
  // A reference that starts late skipped our first frames and began decoding
  // with an empty filter history: until the window's sixteen slots have
  // passed, its output can't be ours.
  const long late = shift < 0 ? -shift : 0;
  const long settling = late > 0 ? kWindowSlots * 32 : 0;
  const Difference d = compare(ours, reference, shift, late + settling, ours.frames());
  const double rms = d.compared ? std::sqrt(d.sum_of_squares / static_cast<double>(d.compared)) : 0.0;
  printf("shift %ld max %d rms %.4f compared %ld ours %ld reference %ld", shift, d.largest, rms, d.compared,
         ours.frames(), reference.frames());
  if (settling > 0) printf(" (the reference starts %ld late; its first %ld not compared)", late, settling);
  printf("\n");
  // Only the shift may leave samples unpaired, on either side: more means one
  // decoder wrote frames the other did not.
  const long paired_frames = ours.frames() - std::labs(shift) - settling;
  if (d.compared == 0 || d.compared < paired_frames * ours.channels || reference.frames() != ours.frames() + shift) {
    printf("lengths differ by more than the shift: %ld of our samples have a partner\n", d.compared);
    return 1;
  }
  return d.largest <= tolerance ? 0 : 1;
}
