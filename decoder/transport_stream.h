// MPEG transport streams (ISO/IEC 13818-1): the audio tracks of the PAT and
// PMTs, and one PID's PES payload with its continuity checked.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decoder/demux.h"

// Adds the audio tracks of every program to `list`. Without a PMT in the
// bytes, PIDs whose PES packets carry MPEG audio stream ids are listed.
void list_transport_tracks(const ContainerFormat& format, const uint8_t* bytes, size_t size, int32_t min_packets,
                           TrackList* list);

// Reads packets until one of the track's gives payload, which becomes the
// ready range. False at the end of the input.
bool next_transport_payload(Demuxer& d);
