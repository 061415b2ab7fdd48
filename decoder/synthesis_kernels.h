// The synthesis kernel, and the dequantization that feeds it, written once
// over a lane width. Each instruction set's unit defines a Lanes type (its
// vector, width and conversion to 16 bits) and instantiates
// SynthesisKernelFor<Lanes>. Lanes carry independent rows, outputs or values,
// so every value gets the same multiplications and additions in the same
// order as the plain sums, whatever the width.
//
// Everything here has internal linkage: each unit gets its own copy compiled
// for its own instruction set, and none can stand in for another's.
#pragma once

#include <cstdint>
#include <type_traits>

#include "decoder/decoder_context.h"
#include "decoder/synthesis.h"

namespace {

// With the symmetries, 32 rows are computed: rows 0..15 and 33..48, in that
// order in each matrix column. Row 16 is zero, rows 17..32 are rows 15..0
// negated and rows 49..63 copy rows 47..33.
constexpr int kComputedRowsSymmetric = 32;

// Start of the i-th run of 32 ring entries that the window reads (i = 0..15):
// the standard's U vector takes the first half of every other block of 64 and
// the second half of the blocks between them.
inline int window_run_start(int v_offset, int i) { return (v_offset + 64 * i + 32 * (i & 1)) & (kRingLength - 1); }

// A loaded vector kept in a register for all its `uses`. Left alone, the
// compiler loads it again for each use as a memory operand, and these loops
// run out of loads before they run out of arithmetic. A vector used once
// stays a memory operand.
template <int uses, class Vec>
inline Vec in_register(Vec x) {
  if (uses > 1) {
#if defined(__aarch64__)
    __asm__("" : "+w"(x));
#else
    __asm__("" : "+v"(x));
#endif
  }
  return x;
}

// Lanes must provide:
//   Vec, kWidth, kAccumulators (vector sums kept in registers at once);
//   zero, set1, load (aligned to the vector: the ring and its offsets are),
//   loadu, storeu, add, sub, mul,
//   reversed (lanes in the opposite order), shift_in(a, b) (the last lane of a,
//   then all lanes of b but its last);
//   store_pcm(scaled, out): kWidth values of floor(scaled), clipped, to out;
//   store_pcm_pairs(left, right, out): the same for two channels, interleaved;
//   from_codes(p): kWidth codes below 2^31 as doubles;
//   nonzero_of_six(p): bit j set for each of p[0..5] that is not +-0.0.
// and may provide sounding_subbands (below) where it has a faster way.
template <class L, class = void>
struct finds_sounding_subbands : std::false_type {};
template <class L>
struct finds_sounding_subbands<L, std::void_t<decltype(&L::sounding_subbands)>> : std::true_type {};

template <class L>
struct SynthesisKernelFor {
  using Vec = typename L::Vec;
  static constexpr int W = L::kWidth;

  // Rows (or outputs) per pass for C channels: as many as fit the registers.
  template <int C>
  static constexpr int per_pass() {
    return L::kAccumulators / C * W >= 32 ? 32 : L::kAccumulators / C * W;
  }

  // Rows first .. first + R - 1 of the laid-out columns into sums[c] for each
  // channel. Every sum starts at +0.0, as the plain sums do, so the ring gets
  // the same bits (a sum that starts at +0.0 is never -0.0).
  // Only the subbands whose bits are set in `summed` are summed.
  template <int C, int R>
  static void matrix_pass(const SynthesisState& state, const double* const* samples, int stride, uint32_t summed,
                          int first, double* const* sums) {
    constexpr int V = R / W;
    Vec acc[C][V];
#pragma GCC unroll 16
    for (int c = 0; c < C; ++c) {
#pragma GCC unroll 16
      for (int q = 0; q < V; ++q) acc[c][q] = L::zero();
    }
    for (uint32_t rest = summed; rest != 0; rest &= rest - 1) {
      const int k = __builtin_ctz(rest);
      const double* column = state.matrix_columns[k] + first;
      Vec s[C];
#pragma GCC unroll 2
      for (int c = 0; c < C; ++c) s[c] = L::set1(samples[c][k * stride]);
#pragma GCC unroll 16
      for (int q = 0; q < V; ++q) {
        // One load of the column serves both channels.
        const Vec n = in_register<C>(L::load(column + W * q));
#pragma GCC unroll 2
        for (int c = 0; c < C; ++c) acc[c][q] = L::add(acc[c][q], L::mul(n, s[c]));
      }
    }
#pragma GCC unroll 2
    for (int c = 0; c < C; ++c) {
#pragma GCC unroll 16
      for (int q = 0; q < V; ++q) L::storeu(sums[c] + W * q, acc[c][q]);
    }
  }

  // The 64 new ring entries at block, from the 32 computed rows in sums.
  // Every store is a whole vector at a vector boundary, where the window's
  // loads of the same entries will be: a load that straddles stores has to
  // wait for them to reach the cache instead of taking their data directly.
  static void unfold(const double* sums, double* block) {
    constexpr int Q = 16 / W;
    const Vec zero = L::zero();
    Vec low_rows[Q], high_rows[Q];
#pragma GCC unroll 16
    for (int q = 0; q < Q; ++q) {
      low_rows[q] = L::load(sums + W * q);         // rows Wq ..
      high_rows[q] = L::load(sums + 16 + W * q);   // rows 33 + Wq ..
      L::storeu(block + W * q, low_rows[q]);
    }
    // Entries 17..48: rows 15..0 negated (row 32 - i is row i negated; 0.0 - x
    // keeps a zero sum +0.0 as computed), then rows 33..48. Entry 16, row 16,
    // is zero. Each vector from 16 on takes the last lane of the one before.
    Vec previous = zero;
#pragma GCC unroll 16
    for (int t = 0; t < 2 * Q; ++t) {
      const Vec next = t < Q ? L::reversed(L::sub(zero, low_rows[Q - 1 - t])) : high_rows[t - Q];
      L::storeu(block + 16 + W * t, L::shift_in(previous, next));
      previous = next;
    }
    // Entries 48..63: rows 48 + j copy rows 48 - j.
#pragma GCC unroll 16
    for (int q = 0; q < Q; ++q) L::storeu(block + 48 + W * q, L::reversed(high_rows[Q - 1 - q]));
  }

  // The subbands below `subbands`, as bits.
  static uint32_t subbands_below(int subbands) { return static_cast<uint32_t>((uint64_t{1} << subbands) - 1); }

  // For each slot of a granule laid out as the decoder does (subband k's
  // samples at left[6 k + s], channel 1's three after channel 0's), the
  // subbands below `subbands` whose sample is not zero in one channel or the
  // other, as bits. A subband whose sample is zero in every channel adds
  // zeros to every row, which leaves each sum as it was: a sum that starts
  // at +0.0 is never -0.0, and x + +-0 = x for every other x. So matrixing
  // may leave it out; in typical stereo streams a quarter to a third of them
  // are silent in both channels.
  static void sounding_subbands(const double* granule, int subbands, uint32_t* sounding) {
    if constexpr (finds_sounding_subbands<L>::value) {
      L::sounding_subbands(granule, subbands, sounding);
      return;
    }
    uint32_t found[kSlotsPerGranule] = {};
    for (int k = 0; k < subbands; ++k) {
      const uint32_t nonzero = L::nonzero_of_six(granule + 6 * k);
      const uint32_t slots = (nonzero | nonzero >> 3) & 7;  // either channel, slot by slot
#pragma GCC unroll 3
      for (int s = 0; s < kSlotsPerGranule; ++s) found[s] |= (slots >> s & 1) << k;
    }
    for (int s = 0; s < kSlotsPerGranule; ++s) sounding[s] = found[s];
  }

  // Matrixing: the 64 new entries at blocks[c] from the channel's samples, the
  // sample of subband k at samples[c][k * stride], summing the subbands in
  // `summed` (all others are zero in every channel).
  template <int C>
  static void matrix(const SynthesisState& state, const double* const* samples, int stride, uint32_t summed,
                     double* const* blocks) {
    constexpr int R = per_pass<C>();
    if (state.computed_rows == kMatrixRows) {
      for (int first = 0; first < kMatrixRows; first += R) {
        double* sums[C];
        for (int c = 0; c < C; ++c) sums[c] = blocks[c] + first;
        matrix_pass<C, R>(state, samples, stride, summed, first, sums);
      }
      return;
    }
    alignas(64) double computed[C][kComputedRowsSymmetric];
    for (int first = 0; first < kComputedRowsSymmetric; first += R) {
      double* sums[C];
      for (int c = 0; c < C; ++c) sums[c] = computed[c] + first;
      matrix_pass<C, R>(state, samples, stride, summed, first, sums);
    }
    for (int c = 0; c < C; ++c) unfold(computed[c], blocks[c]);
  }

  // s * 32768 + 0.5, the value whose floor, clipped, is the PCM value.
  static Vec scaled(Vec sum) { return L::add(L::mul(sum, L::set1(32768.0)), L::set1(0.5)); }

  // Outputs per window pass for C channels and S slots: as many as fit the
  // registers, and at least a vector.
  template <int C, int S>
  static constexpr int window_pass() {
    int n = 32;
    while (n > W && S * C * (n / W) > L::kAccumulators) n /= 2;
    return n;
  }

  // A granule's slots are windowed together where the registers hold at
  // least two vectors of outputs for each slot and channel; with one, the
  // loop's own work outweighs the loads saved.
  template <int C>
  static constexpr bool windows_whole_granules() {
    return kSlotsPerGranule * C * 2 <= L::kAccumulators;
  }

  // Stores the PCM of one slot's sums for outputs base .. base + N - 1.
  template <int C, int V>
  static void store_slot_pcm(const Vec (&sums)[C][V], int base, bool twice, int16_t* out) {
#pragma GCC unroll 16
    for (int q = 0; q < V; ++q) {
      const int at = base + W * q;
      if (C == 2) {
        L::store_pcm_pairs(scaled(sums[0][q]), scaled(sums[C - 1][q]), out + 2 * at);
      } else if (twice) {
        const Vec scaled_sum = scaled(sums[0][q]);
        L::store_pcm_pairs(scaled_sum, scaled_sum, out + 2 * at);
      } else {
        L::store_pcm(scaled(sums[0][q]), out + at);
      }
    }
  }

  // Windowing and output of one slot: the 32 PCM values of each channel's
  // ring at v_offset. C = 2 interleaves the channels; C = 1 with `twice`
  // writes each value two times in a row.
  //
  // Each output's sum starts from its first product, not from 0.0 plus it.
  // The two differ only when that product is -0.0: then 0.0 + p is +0.0. As
  // long as the partial sums are zeros they may differ in sign only, and the
  // first non-zero term makes both equal to it (x + +-0 = x for x != 0, and
  // +-0 + y = y); from there on they are the same. If every term is a zero the
  // sum is +-0.0, and floor(+-0 * 32768 + 0.5) = 0 either way. So the PCM
  // value is the same bit for bit.
  template <int C>
  static void window(const double* const* rings, int v_offset, bool twice, int16_t* pcm) {
    constexpr int N = window_pass<C, 1>();
    constexpr int V = N / W;
    for (int base = 0; base < 32; base += N) {
      Vec acc[C][V];
      // Tap 0 starts every sum; the taps after it add on in a loop kept
      // rolled, so that each step issues all the sums' multiplications and
      // additions side by side.
      const double* const d0 = SynthesisWindow + base;
      const int run0 = window_run_start(v_offset, 0) + base;
#pragma GCC unroll 16
      for (int q = 0; q < V; ++q) {
        const Vec dv = in_register<C>(L::load(d0 + W * q));  // loaded once for both channels
#pragma GCC unroll 2
        for (int c = 0; c < C; ++c) acc[c][q] = L::mul(dv, L::load(rings[c] + run0 + W * q));
      }
#pragma GCC unroll 1
      for (int i = 1; i < 16; ++i) {
        const int run = window_run_start(v_offset, i) + base;
        const double* d = SynthesisWindow + 32 * i + base;
#pragma GCC unroll 16
        for (int q = 0; q < V; ++q) {
          const Vec dv = in_register<C>(L::load(d + W * q));
#pragma GCC unroll 2
          for (int c = 0; c < C; ++c) acc[c][q] = L::add(acc[c][q], L::mul(dv, L::load(rings[c] + run + W * q)));
        }
      }
      store_slot_pcm<C, V>(acc, base, twice, pcm);
    }
  }

  // The window over a granule's three slots, the first at v_offset and each
  // next one a block below: window() for each slot in turn, the same sums in
  // the same order, with fewer loads. The slots share each load of the
  // window's coefficients (the window's loads are what bounds it), and as
  // slot s reads tap i from block v_offset - 64 s + 64 i, half i & 1, the
  // third slot's tap i + 2 is the first slot's tap i, entry for entry: those
  // vectors stay in registers for two taps instead of being loaded again.
  template <int C>
  static void window_granule(const double* const* rings, int v_offset, bool twice, int16_t* pcm) {
    constexpr int S = kSlotsPerGranule;
    constexpr int N = window_pass<C, S>();
    constexpr int V = N / W;
    const int pcm_per_slot = C == 2 || twice ? 64 : 32;
    for (int base = 0; base < 32; base += N) {
      Vec acc[S][C][V];
      // held[t][c][q]: the first slot's vectors of the last even (t = 0) and
      // odd (t = 1) tap.
      Vec held[2][C][V];
      // One tap for all three slots; the third slot takes `third` (its own
      // loads at taps 0 and 1, the first slot's from two taps before later).
      auto tap = [&](int i, bool first_tap, bool third_loads) {
        const double* d = SynthesisWindow + 32 * i + base;
        const int run0 = window_run_start(v_offset, i) + base;
        const int run1 = window_run_start(v_offset - 64, i) + base;
        const int run2 = window_run_start(v_offset - 128, i) + base;
#pragma GCC unroll 16
        for (int q = 0; q < V; ++q) {
          const Vec dv = in_register<S * C>(L::load(d + W * q));
#pragma GCC unroll 2
          for (int c = 0; c < C; ++c) {
            const Vec first = in_register<2>(L::load(rings[c] + run0 + W * q));
            const Vec second = L::load(rings[c] + run1 + W * q);
            const Vec third = third_loads ? L::load(rings[c] + run2 + W * q) : held[i & 1][c][q];
            const Vec p0 = L::mul(dv, first);
            const Vec p1 = L::mul(dv, second);
            const Vec p2 = L::mul(dv, third);
            acc[0][c][q] = first_tap ? p0 : L::add(acc[0][c][q], p0);
            acc[1][c][q] = first_tap ? p1 : L::add(acc[1][c][q], p1);
            acc[2][c][q] = first_tap ? p2 : L::add(acc[2][c][q], p2);
            held[i & 1][c][q] = first;
          }
        }
      };
      tap(0, true, true);
      tap(1, false, true);
      // Two taps a step, so that the held vectors keep their registers.
#pragma GCC unroll 1
      for (int i = 2; i < 16; i += 2) {
        tap(i, false, false);
        tap(i + 1, false, false);
      }
#pragma GCC unroll 3
      for (int s = 0; s < S; ++s) store_slot_pcm<C, V>(acc[s], base, twice, pcm + s * pcm_per_slot);
    }
  }

  // The ring offset of the s-th of consecutive slots from v_offset.
  static int slot_offset(int v_offset, int s) { return (v_offset - 64 * s) & (kRingLength - 1); }

  // A whole granule's slots are matrixed first, then windowed together: the
  // ring keeps two blocks more than the window reads, so the later slots'
  // new blocks overwrite nothing the earlier slots still read.
  static_assert(kRingLength >= 64 * (16 + kSlotsPerGranule - 1), "the ring holds a granule's new blocks");

  template <int C>
  static void window_slots(const double* const* rings, int v_offset, bool twice, int slots, int16_t* pcm) {
    if (windows_whole_granules<C>() && slots == kSlotsPerGranule) {
      window_granule<C>(rings, v_offset, twice, pcm);
      return;
    }
    const int pcm_per_slot = C == 2 || twice ? 64 : 32;
    for (int s = 0; s < slots; ++s) window<C>(rings, slot_offset(v_offset, s), twice, pcm + s * pcm_per_slot);
  }

  static void mono(const SynthesisState& state, double* ring, const double* samples, int stride, int subbands,
                   bool twice, int slots, int16_t* pcm) {
    for (int s = 0; s < slots; ++s) {
      const double* slot_samples = samples + s;
      double* const blocks[1] = {ring + slot_offset(state.v_offset, s)};
      matrix<1>(state, &slot_samples, stride, subbands_below(subbands), blocks);
    }
    const double* const rings[1] = {ring};
    window_slots<1>(rings, state.v_offset, twice, slots, pcm);
  }

  static void stereo(const SynthesisState& state, double* left_ring, double* right_ring, const double* left,
                     const double* right, int stride, int subbands, int slots, int16_t* pcm) {
    uint32_t sounding[kSlotsPerGranule];
    if (stride == 6 && right == left + 3 && slots == kSlotsPerGranule) {
      sounding_subbands(left, subbands, sounding);
    } else {
      for (uint32_t& bits : sounding) bits = subbands_below(subbands);
    }
    for (int s = 0; s < slots; ++s) {
      const double* const samples[2] = {left + s, right + s};
      const int at = slot_offset(state.v_offset, s);
      double* const blocks[2] = {left_ring + at, right_ring + at};
      // Both channels share each column load only if all their rows fit the
      // registers at once; otherwise each pass would broadcast the samples again.
      if (per_pass<2>() == 32) {
        matrix<2>(state, samples, stride, sounding[s], blocks);
      } else {
        matrix<1>(state, samples, stride, sounding[s], blocks);
        matrix<1>(state, samples + 1, stride, sounding[s], blocks + 1);
      }
    }
    const double* const rings[2] = {left_ring, right_ring};
    window_slots<2>(rings, state.v_offset, false, slots, pcm);
  }

  // Lane by lane the scalar steps, in their order; the last values that don't
  // fill a vector go one at a time.
  //
  // codes[i] * r[i] - 1.0 is the standard's sign + fraction, b + f: 0.0 if
  // the code's msb is set, else -1.0, plus the bits below the msb divided by
  // msb (r is 1 / msb). Both steps are exact, every value being a multiple of
  // 1 / msb below 2 (a code stays below twice its msb, grouped quotients
  // included), and a set msb with no bits below it gives +0.0 either way.
  // The steps after it round, each to double, in this order.
  //
  // The granules given share their steps: each vector of steps is loaded
  // once for all of them.
  static void dequantize(const uint32_t* codes, int granules, int granule_stride, const double* r, const double* d,
                         const double* c, const double* scale, int count, double* values) {
    int i = 0;
    for (; i + W <= count; i += W) {
      const Vec rv = in_register<2>(L::loadu(r + i));
      const Vec dv = in_register<2>(L::loadu(d + i));
      const Vec cv = in_register<2>(L::loadu(c + i));
      const Vec sv = in_register<2>(L::loadu(scale + i));
#pragma GCC unroll 4
      for (int g = 0; g < granules; ++g) {
        const int at = g * granule_stride + i;
        Vec value = L::mul(L::from_codes(codes + at), rv);
        value = L::sub(value, L::set1(1.0));
        value = L::add(value, dv);
        value = L::mul(value, cv);
        L::storeu(values + at, L::mul(value, sv));
      }
    }
    for (; i < count; ++i) {
      for (int g = 0; g < granules; ++g) {
        const int at = g * granule_stride + i;
        double value = static_cast<double>(static_cast<int32_t>(codes[at])) * r[i];
        value = value - 1.0;
        value = value + d[i];
        value = value * c[i];
        values[at] = value * scale[i];
      }
    }
  }

  static constexpr SynthesisKernel kernel = {mono, stereo, dequantize};
};

}  // namespace
