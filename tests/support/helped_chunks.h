// A chunk pool with threads that help decode, for the tests that convert a
// stream in chunks.
#pragma once

#include <gtest/gtest.h>

#include <tuple>

#include "convert/chunk_pool.h"
#include "decoder/stream_outcome.h"

class HelpedChunks {
 public:
  // `held`: whether the listing keeps the input for the chunks.
  // `listing_read_bytes`: small, so that the listing's reads end anywhere in a frame.
  HelpedChunks(int helpers, int chunk_frames, bool held = true, uint32_t listing_read_bytes = 1000)
      : pool_(helpers + 1),
        stream_(pool_, chunk_frames, 0, listing_read_bytes, held ? ChunkedStream::kMostHeldBytes : 0),
        helpers_(pool_, helpers) {}

  const ChunkRunner* runner() const { return &stream_.runner(); }
  size_t listed_frames() const { return stream_.listed_frames(); }

 private:
  ChunkPool pool_;
  ChunkedStream stream_;
  ChunkHelpers helpers_;  // gone first: no thread decodes once the stream goes
};

// The report's byte accounts of a stream decoded in chunks are the one
// pass's, and add up to what was read, however the writing ended.
inline void expect_accounts_of_one_pass(const StreamOutcome& chunked, const StreamOutcome& one_pass) {
  for (const StreamOutcome* outcome : {&chunked, &one_pass}) {
    const ByteAccounts& b = outcome->bytes;
    EXPECT_EQ(b.frames + b.tags + b.stuffing + b.gaps + b.cut_frame + b.not_converted, outcome->bytes_read);
  }
  const ByteAccounts& c = chunked.bytes;
  const ByteAccounts& o = one_pass.bytes;
  EXPECT_EQ(std::tie(chunked.bytes_read, c.frames, c.tags, c.stuffing, c.gaps, c.cut_frame, c.not_converted),
            std::tie(one_pass.bytes_read, o.frames, o.tags, o.stuffing, o.gaps, o.cut_frame, o.not_converted));
  EXPECT_EQ(chunked.gap_count, one_pass.gap_count);
}
