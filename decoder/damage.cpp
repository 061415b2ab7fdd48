#include "decoder/damage.h"

#include <cinttypes>
#include <cstdio>

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

void note_passed_over(DecoderContext& ctx, int64_t offset, int64_t length, bool all_ff) {
  if (length <= 0) return;
  StreamOutcome& outcome = ctx.outcome;
  if (all_ff && length <= kLongestStuffing) {
    outcome.bytes.stuffing += length;
    return;
  }
  outcome.bytes.gaps += length;
  if (outcome.gap_count < kListedDamage) {
    Gap& gap = outcome.gaps[outcome.gap_count];
    gap.offset = offset;
    gap.length = length;
    gap.sample = samples_written(ctx);
  }
  outcome.gap_count += 1;
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

void log_damage(const DecoderContext& ctx) {
  const StreamOutcome& outcome = ctx.outcome;
  if (ctx.frame_count == 0) return;
  char time[32];
  for (int64_t i = 0; i < outcome.gap_count && i < kListedDamage; ++i) {
    const Gap& gap = outcome.gaps[i];
    format_time(ctx, gap.sample, time);
    log_line(ctx.log, "gap: %" PRId64 " bytes skipped at %s (byte %" PRId64 ")\r\n", gap.length, time, gap.offset);
  }
  if (outcome.gap_count > kListedDamage) {
    int64_t listed = 0;
    for (const Gap& gap : outcome.gaps) listed += gap.length;
    log_line(ctx.log, "gap: and %" PRId64 " more gaps (%" PRId64 " bytes)\r\n", outcome.gap_count - kListedDamage,
             outcome.bytes.gaps - listed);
  }
  for (int64_t i = 0; i < outcome.crc_error_count && i < kListedDamage; ++i) {
    const CrcError& error = outcome.crc_errors[i];
    format_time(ctx, error.sample, time);
    log_line(ctx.log, "CRC error in frame %" PRId64 " at %s\r\n", error.frame, time);
  }
  if (outcome.crc_error_count > kListedDamage) {
    log_line(ctx.log, "CRC error: and %" PRId64 " more frames\r\n", outcome.crc_error_count - kListedDamage);
  }
}
