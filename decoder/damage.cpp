#include "decoder/damage.h"

#include <cinttypes>
#include <cstdio>

#include "platform/log_text.h"

namespace {

constexpr uint32_t kCrcPolynomial = 0x8005;

uint32_t crc_bits(uint32_t crc, uint32_t value, int bits) {
  for (int bit = bits - 1; bit >= 0; --bit) {
    const uint32_t top = (crc >> 15) & 1;
    crc = (crc << 1) & 0xFFFF;
    if ((top ^ ((value >> bit) & 1)) != 0) crc ^= kCrcPolynomial;
  }
  return crc;
}

int64_t samples_written(const DecoderContext& ctx) { return ctx.frame_count * 1152; }

// h:mm:ss.mmm of `samples` at the stream's rate.
void format_time(const DecoderContext& ctx, int64_t samples, char (&out)[32]) {
  const int64_t ms = ctx.sample_rate > 0 ? samples * 1000 / ctx.sample_rate : 0;
  snprintf(out, sizeof out, "%" PRId64 ":%02d:%02d.%03d", ms / 3600000, static_cast<int>(ms / 60000 % 60),
           static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
}

}  // namespace

namespace {

// Takes the queued losses before `end` out of the queue: their packets, and
// where the first one was (or -1).
int32_t take_track_gaps(DecoderContext& ctx, int64_t end, int64_t* first_at) {
  int32_t packets = 0;
  *first_at = -1;
  while (ctx.pending_gap_count > 0) {
    const TrackGap& gap = ctx.pending_gaps[ctx.pending_gap_first];
    if (gap.at >= end) break;
    if (*first_at < 0) *first_at = gap.at;
    packets += gap.packets_lost > 0 ? gap.packets_lost : 1;
    ctx.pending_gap_first = (ctx.pending_gap_first + 1) % kPendingTrackGaps;
    ctx.pending_gap_count -= 1;
  }
  return packets;
}

void add_gap(DecoderContext& ctx, const Gap& gap) {
  StreamOutcome& outcome = ctx.outcome;
  outcome.bytes.gaps += gap.length;
  if (outcome.gap_count < kListedDamage) outcome.gaps[outcome.gap_count] = gap;
  outcome.gap_count += 1;
}

}  // namespace

void note_passed_over(DecoderContext& ctx, int64_t offset, int64_t length, bool all_ff) {
  StreamOutcome& outcome = ctx.outcome;
  int64_t lost_at = -1;
  const int32_t packets = take_track_gaps(ctx, offset + length + 1, &lost_at);
  if (length <= 0 && packets == 0) return;
  // The rest of a frame a loss fell in: part of that loss's gap.
  if (packets == 0 && offset == ctx.damaged_frame_end && outcome.gap_count > 0) {
    outcome.bytes.gaps += length;
    if (outcome.gap_count <= kListedDamage) outcome.gaps[outcome.gap_count - 1].length += length;
    return;
  }
  if (packets == 0 && all_ff && length <= kLongestStuffing) {
    outcome.bytes.stuffing += length;
    return;
  }
  Gap gap;
  gap.offset = packets > 0 && lost_at < offset ? lost_at : offset;
  gap.length = length;
  gap.sample = samples_written(ctx);
  gap.packets = packets;
  add_gap(ctx, gap);
}

void queue_track_gap(DecoderContext& ctx, const TrackGap& gap) {
  if (ctx.pending_gap_count == kPendingTrackGaps) {
    // Full: the newest takes in this one's packets.
    TrackGap& last = ctx.pending_gaps[(ctx.pending_gap_first + kPendingTrackGaps - 1) % kPendingTrackGaps];
    last.packets_lost += gap.packets_lost > 0 ? gap.packets_lost : 1;
    return;
  }
  ctx.pending_gaps[(ctx.pending_gap_first + ctx.pending_gap_count) % kPendingTrackGaps] = gap;
  ctx.pending_gap_count += 1;
}

void note_frame_track_gaps(DecoderContext& ctx, int64_t offset, int64_t length) {
  int64_t lost_at = -1;
  const int32_t packets = take_track_gaps(ctx, offset + length, &lost_at);
  if (packets == 0) return;
  Gap gap;
  gap.offset = lost_at;
  gap.sample = (ctx.frame_count - 1) * 1152;
  gap.packets = packets;
  gap.frame = ctx.frame_count;
  add_gap(ctx, gap);
  ctx.damaged_frame_end = offset + length;
}


int crc_protected_bits(const DecoderContext& ctx) {
  int bits = 0;
  for (int sb = 0; sb < ctx.sblimit; ++sb) {
    const int coded_channels = sb < ctx.bound ? ctx.channel_count : 1;
    bits += coded_channels * ctx.nbal[sb];
    for (int ch = 0; ch < ctx.channel_count; ++ch) {
      if (ctx.alloc[ch][sb] != 0) bits += 2;
    }
  }
  return bits;
}

bool crc_matches(const uint8_t* frame, int body_bits) {
  uint32_t crc = 0xFFFF;
  crc = crc_bits(crc, frame[2], 8);
  crc = crc_bits(crc, frame[3], 8);
  const uint8_t* body = frame + 6;
  for (; body_bits >= 8; body_bits -= 8) crc = crc_bits(crc, *body++, 8);
  if (body_bits > 0) crc = crc_bits(crc, static_cast<uint32_t>(*body >> (8 - body_bits)), body_bits);
  return crc == (static_cast<uint32_t>(frame[4]) << 8 | frame[5]);
}

void note_crc_error(DecoderContext& ctx) {
  StreamOutcome& outcome = ctx.outcome;
  if (outcome.crc_error_count < kListedDamage) {
    CrcError& error = outcome.crc_errors[outcome.crc_error_count];
    error.frame = ctx.frame_count + 1;
    error.sample = samples_written(ctx);
  }
  outcome.crc_error_count += 1;
}

void note_frame_not_written(DecoderContext& ctx) {
  // The frames written so far are the listed ones before it, less those
  // found not written before: a gap later than them was listed after it.
  const int64_t before = samples_written(ctx);
  StreamOutcome& outcome = ctx.outcome;
  const int64_t listed = outcome.gap_count < kListedDamage ? outcome.gap_count : kListedDamage;
  for (int64_t i = 0; i < listed; ++i) {
    if (outcome.gaps[i].sample > before) outcome.gaps[i].sample -= 1152;
  }
}

void log_damage(const DecoderContext& ctx) {
  const StreamOutcome& outcome = ctx.outcome;
  if (ctx.frame_count == 0) return;
  // Counts go through format_count: the Win32 line formatter has no 64-bit conversion.
  char time[32], count[24], where[24];
  for (int64_t i = 0; i < outcome.gap_count && i < kListedDamage; ++i) {
    const Gap& gap = outcome.gaps[i];
    format_time(ctx, gap.sample, time);
    if (gap.packets == 0) {
      log_line(ctx.log, "gap: %s %s skipped at %s (byte %s)\r\n", format_count(gap.length, count),
               gap.length == 1 ? "byte" : "bytes", time, format_count(gap.offset, where));
      continue;
    }
    char frame[40] = "";
    char skipped[40] = "";
    if (gap.frame > 0) snprintf(frame, sizeof frame, ", frame %s damaged", format_count(gap.frame, count));
    if (gap.length > 0) snprintf(skipped, sizeof skipped, ", %s bytes skipped", format_count(gap.length, count));
    log_line(ctx.log, "gap: %d packets lost at %s (byte %s of the track)%s%s\r\n", gap.packets, time,
             format_count(gap.offset, where), frame, skipped);
  }
  if (outcome.gap_count > kListedDamage) {
    int64_t listed = 0;
    for (const Gap& gap : outcome.gaps) listed += gap.length;
    log_line(ctx.log, "gap: and %s more gaps (%s bytes)\r\n", format_count(outcome.gap_count - kListedDamage, count),
             format_count(outcome.bytes.gaps - listed, where));
  }
  for (int64_t i = 0; i < outcome.crc_error_count && i < kListedDamage; ++i) {
    const CrcError& error = outcome.crc_errors[i];
    format_time(ctx, error.sample, time);
    log_line(ctx.log, "CRC error in frame %s at %s\r\n", format_count(error.frame, count), time);
  }
  if (outcome.crc_error_count > kListedDamage) {
    log_line(ctx.log, "CRC error: and %s more frames\r\n", format_count(outcome.crc_error_count - kListedDamage, count));
  }
}
