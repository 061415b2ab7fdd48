// Side information, sample codes and dequantization of one Layer II frame.
#pragma once

#include <cstdint>

#include "decoder/decoder_context.h"

// Reads the body after the header and CRC, synthesizes its twelve granules and
// writes the frame's PCM.
FrameResult decode_frame_body(DecoderContext& ctx, int mode, int mode_extension);

void read_side_info(DecoderContext& ctx, int mode, int mode_extension);
// The side information and the twelve granules' codes, into frame_codes
// (silent subbands' codes left as they were), as decode_frame_body reads them.
void read_frame_fields(DecoderContext& ctx, int mode, int mode_extension);
// Reads one granule's codes and fills granule_samples with scale-factor part `part`.
void decode_granule(DecoderContext& ctx, int part);
