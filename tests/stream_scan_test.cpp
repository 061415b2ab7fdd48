// Finding frames: sync pairs, the frame length that leads from one frame to
// the next, candidates and their confirmation, tags, free format, the end of
// the input, the table each frame chooses and the progress reports.
#include <gtest/gtest.h>

#include "decoder/stream.h"
#include "tests/support/stream_builder.h"
#include "tests/support/test_support.h"

namespace {

uint32_t header_rate(const Conversion& c) { return c.wav[24] | c.wav[25] << 8 | c.wav[26] << 16; }

const char kNoFrames[] = "ERR: no MPEG audio frames found\r\n";

// 48 kHz mono at 64 kbit/s, 192 bytes, whose byte 100 on is `fill`: the
// frame's ancillary data, never read by the body.
Bytes mono_frame_with_ancillary(uint8_t fill) {
  Bytes frame = mono_frame_48k();
  for (size_t i = 100; i < frame.size(); ++i) frame[i] = fill;
  return frame;
}

// 32 kHz mono at 48 kbit/s: 216 bytes.
Bytes mono_frame_32k() { return silent_frame(rate_byte(2, 2), 3, 0); }

// An ID3v2 tag of major version `version` around `content`; with a footer
// the 10 bytes behind the content are `footer`.
Bytes id3_tag(int version, const Bytes& content, const Bytes* footer = nullptr) {
  const uint32_t size = static_cast<uint32_t>(content.size());
  Bytes tag = {'I', 'D', '3', static_cast<uint8_t>(version), 0, static_cast<uint8_t>(footer ? 0x10 : 0),
               static_cast<uint8_t>(size >> 21 & 0x7F), static_cast<uint8_t>(size >> 14 & 0x7F),
               static_cast<uint8_t>(size >> 7 & 0x7F), static_cast<uint8_t>(size & 0x7F)};
  tag = tag + content;
  if (footer) tag = tag + *footer;
  return tag;
}

// A free-format frame (bitrate index 0) of 48 kHz mono, `length` bytes long.
Bytes free_format_frame(int length, bool padded) {
  Bytes frame = silent_frame(static_cast<uint8_t>(rate_byte(0, 1) | (padded ? 2 : 0)), 3, length - 4);
  return frame;
}

// A half-rate frame of ISO/IEC 13818-3 (ID bit 0): sync FF F5, 64 kbit/s at
// 24 kHz (bitrate index 8, rate index 1), 144000 x 64 / 24000 = 384 bytes.
Bytes half_rate_mono_frame() {
  Bytes frame(384, 0);
  frame[0] = 0xFF;
  frame[1] = 0xF5;
  frame[2] = rate_byte(8, 1);
  frame[3] = 3 << 6;
  return frame;
}

TEST(SyncSearch, AnFfRightAfterAnotherFfStillStartsAFrame) {
  const Bytes three = repeat(mono_frame_48k(), 3);
  Conversion plain = convert_bytes(Bytes{0x00, 0x12} + three);
  EXPECT_EQ(plain.lines.front(), "48000 64k mono\r\n");
  EXPECT_EQ(plain.statistics(), statistics_line(3, 1));
  // Stuffing of 1 to 8 bytes of 0xFF before and between runs of frames
  // hides none: the frame after it is found by the search.
  for (size_t run = 1; run <= 8; ++run) {
    const Bytes stuffing(run, 0xFF);
    Bytes stream;
    for (int n = 0; n < 3; ++n) stream = stream + stuffing + three;
    Conversion c = convert_bytes(stream);
    EXPECT_EQ(c.result, 0) << run;
    EXPECT_EQ(c.statistics(), statistics_line(9, 1)) << run;
    // Before every frame, too: each is confirmed past the next run.
    Bytes every;
    for (int n = 0; n < 9; ++n) every = every + stuffing + mono_frame_48k();
    Conversion each = convert_bytes(every);
    EXPECT_EQ(each.result, 0) << run;
    EXPECT_EQ(each.statistics(), statistics_line(9, 1)) << run;
  }
}

TEST(SyncSearch, LayerOneAndThreeHeadersAreNoFrames) {
  for (uint8_t second : {0xFE, 0xFF, 0xFA, 0xFB, 0xF2, 0xF3}) {
    Bytes stream = repeat(mono_frame_48k(), 3);
    for (size_t at = 1; at < stream.size(); at += 192) stream[at] = second;
    Conversion c = convert_bytes(stream);
    EXPECT_EQ(c.result, -1) << int(second);
    ASSERT_EQ(c.lines.size(), 3u) << int(second);  // no stream line
    EXPECT_EQ(c.lines[2], kNoFrames);
  }
}

TEST(SyncSearch, FramesAreFoundAcrossEveryBufferBoundary) {
  // Lead-ins that put the first sync pair, its header and the confirming
  // header behind a refill of the 8192-byte buffer.
  for (size_t lead : {7390u, 7391u, 7392u, 7393u, 7394u, 8190u, 8191u, 8192u, 8193u}) {
    Conversion c = convert_bytes(Bytes(lead, 0x00) + repeat(mono_frame_48k(), 60));
    EXPECT_EQ(c.statistics(), statistics_line(60, 1)) << lead;
  }
}

TEST(FrameLength, TheNextFrameIsWhereTheLengthSaysWhateverTheFrameHolds) {
  const Conversion clean = convert_bytes(repeat(mono_frame_48k(), 5));
  ASSERT_EQ(clean.statistics(), statistics_line(5, 1));
  // A last byte of 0xFF turns the next header into FF FF FD; a sync pair in
  // the ancillary data looks like a frame of another rate. Neither counts.
  Bytes false_pair = mono_frame_with_ancillary(0x00);
  false_pair[150] = 0xFF;
  false_pair[151] = 0xFD;
  false_pair[152] = rate_byte(2, 2);
  for (const Bytes& frame : {mono_frame_with_ancillary(0xFF), false_pair}) {
    Conversion c = convert_bytes(repeat(frame, 5));
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.statistics(), statistics_line(5, 1));
    EXPECT_EQ(c.wav, clean.wav);
  }
}

TEST(FrameLength, PaddedFramesAreOneByteLonger) {
  // 44.1 kHz at 64 kbit/s: 208 bytes, 209 with the padding bit.
  const Bytes plain = silent_frame(rate_byte(4, 0), 3, 0);
  const Bytes padded = silent_frame(static_cast<uint8_t>(rate_byte(4, 0) | 2), 3, 0);
  ASSERT_EQ(plain.size(), 208u);
  ASSERT_EQ(padded.size(), 209u);
  Conversion c = convert_bytes(repeat(plain + padded + padded, 4));
  EXPECT_EQ(c.statistics(), statistics_line(12, 1));
  EXPECT_EQ(header_rate(c), 44100u);
}

TEST(Candidate, NeedsAMatchingSyncPairAtItsLengthOrTheEndOfTheInput) {
  // Alone and followed by other bytes, a header is no frame.
  Conversion alone = convert_bytes(mono_frame_48k() + Bytes(9000, 0x00));
  EXPECT_EQ(alone.result, -1);
  EXPECT_EQ(alone.lines.back(), kNoFrames);
  // Ending exactly where the input ends, it is one.
  Conversion last = convert_bytes(Bytes(50, 0x00) + mono_frame_48k());
  EXPECT_EQ(last.result, 0);
  EXPECT_EQ(last.statistics(), statistics_line(1, 1));
  // A 48 kHz header followed by 32 kHz frames fails; the 32 kHz frames are
  // found by the search, and the file has their rate.
  Conversion other = convert_bytes(mono_frame_48k() + repeat(mono_frame_32k(), 3));
  EXPECT_EQ(other.result, 0);
  EXPECT_EQ(other.lines.front(), "32000 48k mono\r\n");
  EXPECT_EQ(other.statistics(), statistics_line(3, 1));
  EXPECT_EQ(header_rate(other), 32000u);
}

TEST(Candidate, ReservedFieldsAndTheForbiddenBitrateHaveNoLength) {
  for (uint8_t rate : {rate_byte(15, 1), rate_byte(4, 3)}) {
    Conversion c = convert_bytes(repeat(silent_frame(rate, 3, 188), 4));
    EXPECT_EQ(c.result, -1) << int(rate);
    EXPECT_EQ(c.lines.back(), kNoFrames) << int(rate);
  }
}

TEST(Tags, Id3v2TagsArePassedOverWhateverTheyHold) {
  // Frames of another rate inside the tag would be found, and would end the
  // file at the first real frame, if the tag were scanned.
  const Bytes fake = repeat(mono_frame_32k(), 3);
  const Bytes frames = repeat(mono_frame_48k(), 4);
  const Bytes big_picture = fake + Bytes(200 * 1024, 0x55) + fake;  // far past the input buffer
  for (int version : {2, 3, 4}) {
    for (const Bytes* content : {&fake, &big_picture}) {
      Conversion c = convert_bytes(id3_tag(version, *content) + frames);
      EXPECT_EQ(c.result, 0) << version << " " << content->size();
      EXPECT_EQ(c.lines.front(), "48000 64k mono\r\n");
      EXPECT_EQ(c.statistics(), statistics_line(4, 1)) << version << " " << content->size();
    }
  }
  // Between frames too: the frame before the tag is followed by it, and the
  // search after the tag finds the rest.
  Conversion middle = convert_bytes(frames + id3_tag(3, fake) + frames);
  EXPECT_EQ(middle.statistics(), statistics_line(8, 1));
}

TEST(Tags, AFooterIsPassedOverToo) {
  // The footer's 10 bytes are a frame's first bytes and its other 182 bytes
  // follow the tag: skipped with the footer they are zeros, scanned they
  // would be one more frame.
  const Bytes frame = mono_frame_48k();
  const Bytes footer(frame.begin(), frame.begin() + 10);
  const Bytes rest(frame.begin() + 10, frame.end());
  Conversion c = convert_bytes(id3_tag(4, repeat(mono_frame_32k(), 2), &footer) + rest + repeat(frame, 3));
  EXPECT_EQ(c.statistics(), statistics_line(3, 1));
}

TEST(Tags, OnlyAWellFormedHeaderIsATag) {
  // Version 5, a revision of 0xFF, a size byte of 0x80 or more: no tag, so
  // its header is a gap, the frames inside are found, and the real frames
  // after them change the rate.
  const Bytes fake = repeat(mono_frame_32k(), 3);
  Bytes version5 = id3_tag(5, fake);
  Bytes revision = id3_tag(3, fake);
  revision[4] = 0xFF;
  Bytes size = id3_tag(3, fake);
  size[8] |= 0x80;
  for (const Bytes& not_a_tag : {version5, revision, size}) {
    Conversion c = convert_bytes(not_a_tag + repeat(mono_frame_48k(), 2));
    EXPECT_EQ(c.result, -1);
    ASSERT_EQ(c.lines.size(), 5u);
    EXPECT_EQ(c.lines[0], "32000 48k mono\r\n");
    EXPECT_EQ(c.lines[1], "gap: 10 bytes skipped at 0:00:00.000 (byte 0)\r\n");
    EXPECT_EQ(c.lines[4], "ERR: sample rate changes from 32000 to 48000 Hz at frame 4; the rest is not converted\r\n");
  }
}

TEST(FreeFormat, TheFirstFreeFormatHeaderMeasuresTheFrameLength) {
  // 300 bytes a frame, the first padded: the length is the distance less
  // its padding bit. The bit rate is (300 x 48000 + 72000) / 144000 = 100.
  Bytes stream = free_format_frame(301, true);
  for (int n = 0; n < 5; ++n) stream = stream + free_format_frame(n == 2 ? 301 : 300, n == 2);
  Conversion c = convert_bytes(stream);
  EXPECT_EQ(c.result, 0);
  EXPECT_EQ(c.lines.front(), "48000 100k mono\r\n");
  EXPECT_EQ(c.statistics(), statistics_line(6, 1));
}

TEST(FreeFormat, NoSecondHeaderWithinReachMeansNoFrame) {
  // The next free-format header 4097 bytes on is out of reach; a header with
  // a bit rate is no measure.
  Conversion far = convert_bytes(free_format_frame(4097, false) + free_format_frame(4097, false));
  EXPECT_EQ(far.lines.back(), kNoFrames);
  Conversion mixed = convert_bytes(free_format_frame(192, false) + mono_frame_48k());
  ASSERT_FALSE(mixed.lines.empty());
  EXPECT_EQ(mixed.lines.front(), "48000 64k mono\r\n");
  EXPECT_EQ(mixed.statistics(), statistics_line(1, 1));
  // At the reach's limit it is found.
  Bytes near = free_format_frame(4096, false) + free_format_frame(4096, false);
  EXPECT_EQ(convert_bytes(near).statistics(), statistics_line(2, 1));
}

TEST(EndOfInput, ACutFrameIsNotDecodedAndChangesNoField) {
  const Bytes mono = repeat(mono_frame_48k(), 3);
  const Bytes stereo = stereo_frame_48k();
  for (size_t kept : {2u, 4u, 100u, 383u}) {
    Conversion c = convert_bytes(mono + Bytes(stereo.begin(), stereo.begin() + static_cast<long>(kept)));
    EXPECT_EQ(c.result, 0) << kept;
    EXPECT_EQ(c.statistics(), statistics_line(3, 1)) << kept;
    EXPECT_EQ(c.wav[22], 1) << kept;  // still one channel
    EXPECT_EQ(header_rate(c), 48000u) << kept;
  }
  // FF FD as the last two bytes: they say 44100 Hz and stereo, to nobody.
  Conversion tail = convert_bytes(mono + Bytes{0xFF, 0xFD});
  EXPECT_EQ(tail.statistics(), statistics_line(3, 1));
  EXPECT_EQ(tail.wav[22], 1);
  EXPECT_EQ(header_rate(tail), 48000u);
}

TEST(EndOfInput, InputWithoutAnyFrameFailsAfterTheUsualLines) {
  Conversion c = convert_bytes(Bytes(20000, 0x5A));
  EXPECT_EQ(c.result, -1);
  ASSERT_EQ(c.lines.size(), 3u);
  EXPECT_EQ(c.lines[0].rfind("wav file written, ", 0), 0u);
  EXPECT_EQ(c.lines[1], statistics_line(0, 1));
  EXPECT_EQ(c.lines[2], kNoFrames);
  ASSERT_EQ(c.wav.size(), 44u);
  EXPECT_EQ(c.wav[4] | c.wav[5] << 8, 36);  // RIFF size
  EXPECT_EQ(c.wav[22], 1);                  // one channel
  EXPECT_EQ(header_rate(c), 44100u);
}

TEST(RateChange, ANewSampleRateEndsTheFileWithTheFramesBefore) {
  Conversion c = convert_bytes(repeat(mono_frame_48k(), 3) + repeat(mono_frame_32k(), 3));
  EXPECT_EQ(c.result, -1);
  ASSERT_EQ(c.lines.size(), 4u);
  EXPECT_EQ(c.lines[0], "48000 64k mono\r\n");
  EXPECT_EQ(c.lines[2], statistics_line(3, 1));
  EXPECT_EQ(c.lines[3], "ERR: sample rate changes from 48000 to 32000 Hz at frame 4; the rest is not converted\r\n");
  EXPECT_EQ(c.wav.size(), 44u + 3 * 2304);
  EXPECT_EQ(header_rate(c), 48000u);
  // The half rates are another version: that ends the file as well.
  Conversion version = convert_bytes(repeat(mono_frame_48k(), 2) + repeat(half_rate_mono_frame(), 2));
  EXPECT_EQ(version.lines.back(),
            "ERR: sample rate changes from 48000 to 24000 Hz at frame 3; the rest is not converted\r\n");
}

TEST(FrameHeader, ACrcWordIsSkippedWhateverItHolds) {
  // The CRC bytes FF FD would allocate every subband if they were read as
  // the body.
  Bytes with_crc = silent_frame(rate_byte(4, 1), 3, 0, true, 0xFFFD);
  Conversion c = convert_bytes(repeat(with_crc, 2));
  EXPECT_EQ(c.statistics(), statistics_line(2, 1));
  EXPECT_EQ(c.wav, convert_bytes(repeat(mono_frame_48k(), 2)).wav);
}

TEST(FrameHeader, HalfRateFramesHaveTheirOwnRatesAndBitRates) {
  Conversion c = convert_bytes(repeat(half_rate_mono_frame(), 3));
  EXPECT_EQ(c.result, 0);
  EXPECT_EQ(c.lines.front(), "24000 64k mono\r\n");
  EXPECT_EQ(c.statistics(), statistics_line(3, 1));
  EXPECT_EQ(header_rate(c), 24000u);
}

struct TableCase {
  int sample_rate;
  int bitrate;
  int mode;
  int table_id;
  int sblimit;
};

TEST(AllocationTable, EachFrameChoosesByRateAndBitsPerChannel) {
  const TableCase cases[] = {
      {48000, 192, 0, 0, 27}, {48000, 64, 3, 0, 27},  {48000, 64, 1, 2, 8},   {44100, 128, 1, 0, 27},
      {44100, 256, 0, 1, 30}, {44100, 96, 3, 1, 30},  {32000, 48, 3, 3, 12},  {32000, 192, 2, 1, 30},
      {44100, 0, 0, 2, 8},    {32000, 0, 3, 3, 12},   {48000, 384, 3, 0, 27}, {32000, 160, 0, 0, 27},
      {24000, 8, 3, 4, 30},   {22050, 160, 0, 4, 30}, {16000, 64, 1, 4, 30},
  };
  for (const TableCase& t : cases) {
    const AllocChoice choice = choose_alloc_table(t.sample_rate, t.bitrate, t.mode);
    EXPECT_EQ(choice.table_id, t.table_id) << t.sample_rate << " " << t.bitrate << " " << t.mode;
    EXPECT_EQ(choice.sblimit, t.sblimit) << t.sample_rate << " " << t.bitrate << " " << t.mode;
  }
}

TEST(Progress, ReportsOnlyPastTheThresholdTheBarReturned) {
  RecordedProgress progress;
  progress.answer = [](uint32_t done, int32_t) -> int32_t { return static_cast<int32_t>(done) + 20000; };
  Bytes stream = repeat(mono_frame_48k(), 470);  // 90240 bytes
  Conversion c = convert_bytes(stream, &progress.bar);
  ASSERT_GE(progress.reports.size(), 3u);
  EXPECT_EQ(progress.reports.front().done, 8192u);  // the first read
  for (const auto& r : progress.reports) EXPECT_EQ(r.total, 90240);
  // Between the first and the closing report, each one passed the last answer.
  for (size_t i = 1; i + 1 < progress.reports.size(); ++i) {
    EXPECT_GT(progress.reports[i].done, progress.reports[i - 1].done + 20000);
  }
  EXPECT_EQ(progress.reports.back().done, 90240u);
  EXPECT_LE(progress.reports.size(), 6u);
}

TEST(Progress, NoBarMeansNoReportsAndTheSameFile) {
  Bytes stream = repeat(stereo_frame_48k(), 50);
  RecordedProgress progress;
  Conversion with_bar = convert_bytes(stream, &progress.bar);
  Conversion without = convert_bytes(stream);
  EXPECT_FALSE(progress.reports.empty());
  EXPECT_EQ(with_bar.wav, without.wav);
}

}  // namespace
