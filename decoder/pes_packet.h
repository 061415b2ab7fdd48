// PES packets, as both containers carry them: the header's size, and the
// selected track's packet taken a piece at a time.
#pragma once

#include <cstdint>

#include "decoder/demux.h"

// The size of the PES header at `h` (start code on), of which `have` bytes
// are known: the full size once they tell it, else a size past `have` that
// must be reached to tell more; -1 when the bytes are no PES header.
// Handles both the MPEG-2 form and the MPEG-1 one of program streams.
int32_t pes_header_size(const uint8_t* h, int32_t have);

// A unit start: the next bytes are a new packet's header.
void start_pes(PesAssembly& pes);
// Takes the `count` container bytes at input[begin] that continue the track's
// PES packet: the header's part is kept, the payload's part (up to the
// packet's length) becomes the ready range. Returns the bytes used.
int32_t take_pes_bytes(Demuxer& d, int32_t begin, int32_t count);
