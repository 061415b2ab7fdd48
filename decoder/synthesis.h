// The synthesis filterbank (ISO/IEC 11172-3, 2.4.3.2.2) and the frame's 16-bit PCM.
#pragma once

#include <cstdint>

#include "decoder/decoder_context.h"

// Aligned for the vector kernels.
alignas(64) extern const double SynthesisWindow[kWindowLength];
// 3.14159265358979 / 64 as a double: not the double nearest to pi/64.
constexpr double pi_over_64 = 0.04908738521234047;

enum class SynthesisPath;

// Computes the coefficients and lays them out for the fast paths.
void build_cos_matrix(SynthesisState& state);
// Lays cos_matrix out for the fast paths. A symmetry is used only if the
// computed coefficients have it exactly, so that a negated or copied sum is the
// sum the standard's order of additions would give.
void lay_out_cos_matrix(SynthesisState& state);
// Empty rings, v_offset 64.
void reset_synthesis(SynthesisState& state);
// A stream's start: the matrix, empty rings, and the kernel of `path`.
void start_synthesis(SynthesisState& state, SynthesisPath path);
// The same with the coefficients another state computed.
void start_synthesis_like(SynthesisState& state, const SynthesisState& computed);
void advance_v_offset(SynthesisState& state);
// Before a frame of `channels` channels: when the other body wrote the last
// frame, its rings go idle here (see the function).
void switch_body(SynthesisState& state, int channels);

// Matrixes one slot's subband samples (those below sblimit) into the ring at
// v_offset, windows the ring and yields 32 PCM values, oldest first.
void synthesize_channel(SynthesisState& state, double* ring, const double* samples, int sblimit, int16_t* pcm);
// The frame's twelve granules, in frame_samples, into its PCM at `pcm`.
void synthesize_frame(DecoderContext& ctx, int16_t* pcm);

int16_t to_pcm16(double sample);
// floor(scaled), clipped to 16 bits: to_pcm16 of s is this of s * 32768 + 0.5.
int16_t pcm16_from_scaled(double scaled);

// The synthesis of 1 to 3 consecutive slots, computed one way. Slot s has
// the sample of subband k at samples[s + k * stride] and its ring block at
// v_offset - 64 s (the caller advances v_offset past them after); subbands
// from `subbands` on are zero in every channel and slot given. For each slot
// in turn, mono writes 32 values (each twice in a row when `twice`); stereo
// writes both channels' 32 values interleaved, left first.
//
// dequantize sets values[i] = (((codes[i] * r[i] - 1.0) + d[i]) * c[i]) *
// scale[i] for i below count, each step rounded to double, over the same
// lanes: the granule's dequantization, with its steps laid out per value.
// It does so for `granules` granules that share the steps, granule g's codes
// and values granule_stride entries after granule g - 1's.
struct SynthesisKernel {
  void (*mono)(const SynthesisState& state, double* ring, const double* samples, int stride, int subbands, bool twice,
               int slots, int16_t* pcm);
  void (*stereo)(const SynthesisState& state, double* left_ring, double* right_ring, const double* left,
                 const double* right, int stride, int subbands, int slots, int16_t* pcm);
  void (*dequantize)(const uint32_t* codes, int granules, int granule_stride, const double* r, const double* d,
                     const double* c, const double* scale, int count, double* values);
};

// The ways this build can compute the synthesis; every one writes the same
// bytes as the plain sums. Scalar is the kernel one double wide; the others
// are the same kernel over vector lanes.
enum class SynthesisPath { Scalar, Sse2, Avx2, Avx512, Neon };
constexpr SynthesisPath kSynthesisPaths[] = {SynthesisPath::Scalar, SynthesisPath::Sse2, SynthesisPath::Avx2,
                                            SynthesisPath::Avx512, SynthesisPath::Neon};
const char* synthesis_path_name(SynthesisPath path);  // "scalar", "sse2", "avx2", "avx512", "neon"
// Built into this program and run by this processor.
bool synthesis_path_available(SynthesisPath path);
// The kernel of an available path.
const SynthesisKernel& synthesis_kernel(SynthesisPath path);
// Chosen once, when the program starts: the fastest available path, unless
// the test switch SONDRIK_SYNTHESIS_PATH names another available one.
SynthesisPath synthesis_path_in_use();
