// Side information, sample codes and dequantization of one Layer II frame.
#pragma once

#include <cstdint>

#include "decoder/decoder_context.h"

// Reads the frame's side information and the codes of its twelve granules,
// after the header and CRC, and dequantizes them into frame_samples.
void read_frame_body(DecoderContext& ctx, int mode, int mode_extension);
// The side information alone: allocations, selections, scale factors.
void read_side_info(DecoderContext& ctx, int mode, int mode_extension);
// The Layer II table of a frame with this bit rate and mode at ctx.sample_rate.
void use_alloc_table(DecoderContext& ctx, int32_t bitrate_kbps, int mode);
