// What the first bytes of an input are, whatever the file is called: an MPEG
// container, or another audio format named for the user.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decoder/demux.h"

// Transport streams: 0x47 every 188, 192 or 204 bytes for 5 packets (all the
// input holds, if fewer, but 2 at least), the first within one packet of
// the start. Program streams: a pack header at byte 0. A bare PES stream: an
// MPEG audio PES start code at byte 0. Anything else is Elementary.
ContainerFormat probe_container(const uint8_t* bytes, size_t size);

// "WAV", "FLAC", "Ogg" or "MP4" by magic bytes, else null.
const char* foreign_format_name(const uint8_t* bytes, size_t size);
