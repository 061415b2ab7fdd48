// The command line's report: the digest of the WAV files and the JSON line
// built from an outcome. The lines and verdicts are checked end to end by
// suites/cli_damage.sh.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "cli/json_report.h"
#include "cli/sha256.h"

namespace {

using nlohmann::json;

TEST(Sha256, KnownDigestsWholeAndInUnevenPieces) {
  const struct {
    std::string text;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sha256_hex(c.text.data(), c.text.size()), c.digest);
    Sha256 pieces;  // across block and padding boundaries
    for (size_t at = 0, step = 1; at < c.text.size(); at += step, step = step * 3 % 127 + 1) {
      pieces.update(c.text.data() + at, std::min(step, c.text.size() - at));
    }
    EXPECT_EQ(pieces.hex_digest(), c.digest);
  }
}

TEST(Report, ALineHoldsTheOutcomeAndListsTheFirstGaps) {
  FileRecord record;
  record.source = "in/a.mp2";
  record.outcome = "converted";
  record.destination = "out/a.wav";
  StreamOutcome& stream = record.stream;
  stream.ending = StreamEnding::Converted;
  stream.sample_rate = 48000;
  stream.samples = 1152000;
  stream.bytes_read = stream.input_size = 700000;
  stream.bitrates_met[0] = 192;
  stream.bitrates_met[1] = 128;
  stream.bitrate_count = 2;
  stream.modes_met = 1u << 1 | 1u << 3;
  stream.bytes = {600000, 90000, 4000, 5000, 1000, 0};
  stream.gap_count = 25;
  for (int i = 0; i < kListedDamage; ++i) stream.gaps[i] = {1000 * (i + 1), 200, 481};
  stream.crc_error_count = 1;
  stream.crc_errors[0] = {7, 6912};
  const json line = json::parse(report_line(record));
  const struct {
    const char* pointer;
    json wanted;
  } fields[] = {
      {"/destination", "out/a.wav"}, {"/failure", nullptr},      {"/damaged", true},
      {"/bitrates", {192, 128}},     {"/modes", {"jstereo", "mono"}}, {"/duration", 24.0},
      {"/bytes/tags", 90000},        {"/bytes/cut_frame", 1000}, {"/input_size", 700000},
      {"/gap_count", 25},            {"/gaps/19/offset", 20000}, {"/gaps/0/time", 0.01},
      {"/crc_errors/0/frame", 7},    {"/crc_errors/0/time", 0.144}, {"/sha256", nullptr},
  };
  for (const auto& field : fields) EXPECT_EQ(line.at(json::json_pointer(field.pointer)), field.wanted) << field.pointer;
  EXPECT_EQ(line["gaps"].size(), static_cast<size_t>(kListedDamage));
}

TEST(Report, AFileRefusedBeforeDecodingHasAWordAndNulls) {
  FileRecord record;
  record.source = std::string("odd\xff") + ".mp2";  // not UTF-8
  record.outcome = outcome_word(false, false, false, record.stream);
  record.failure = failure_word(false, false, record.stream);
  const json line = json::parse(report_line(record));
  EXPECT_EQ(line["source"], "odd\xef\xbf\xbd.mp2");
  EXPECT_EQ(line["outcome"], "failed");
  EXPECT_EQ(line["failure"], "not_started");
  EXPECT_TRUE(line["input_size"].is_null());
  EXPECT_EQ(line["bitrates"], json::array());
}

}  // namespace
