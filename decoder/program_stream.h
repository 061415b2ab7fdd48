// MPEG program streams (ISO/IEC 11172-1 and 13818-1) and bare PES streams:
// their audio tracks by stream id, and one stream id's payload.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decoder/demux.h"

// Adds to `list`, in order of first appearance, the MPEG audio streams
// (0xC0-0xDF) and the audio sub-streams of private stream 1 (0xBD).
void list_program_tracks(const uint8_t* bytes, size_t size, int32_t min_packets, TrackList* list);

// Reads packs and packets until the track's PES packets give payload, which
// becomes the ready range. False at the end of the input.
bool next_program_payload(Demuxer& d);
