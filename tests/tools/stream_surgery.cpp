// Byte surgery on encoder output, for streams as broadcast and archive files
// have them. Frames are walked by their headers' lengths, so the input must
// be a plain constant-bit-rate Layer II stream.
//
//   stream_surgery last-byte-ff IN OUT           every frame's last byte 0xFF
//   stream_surgery ancillary IN OUT BYTES SEED   the last BYTES of every frame random,
//                                                ending in 0xFF in every 50th frame
//   stream_surgery ff-runs IN OUT                0xFF runs of 1 to 8 bytes before every frame
//   stream_surgery id3 IN OUT VERSION BYTES SEED [footer]
//                                                an ID3v2 tag with a picture of BYTES random bytes first
//
// The random bytes come from a seeded generator: the same on every run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

bool read_all(const char* path, Bytes& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool write_all(const char* path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// The length of the frame whose header is at p: ISO/IEC 11172-3 and the half
// rates of ISO/IEC 13818-3 alike, 144000 x kbit/s / Hz plus the padding bit.
size_t frame_length(const uint8_t* p) {
  static const int kbps[2][16] = {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
                                  {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0}};
  static const int hz[2][4] = {{22050, 24000, 16000, 0}, {44100, 48000, 32000, 0}};
  if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF4) return 0;
  const int version = (p[1] >> 3) & 1;
  const int bitrate = kbps[version][p[2] >> 4];
  const int rate = hz[version][(p[2] >> 2) & 3];
  if (bitrate == 0 || rate == 0) return 0;
  return static_cast<size_t>(144000 * bitrate / rate + ((p[2] >> 1) & 1));
}

// The start of every whole frame.
bool frame_starts(const Bytes& stream, std::vector<size_t>& starts) {
  size_t at = 0;
  while (at + 4 <= stream.size()) {
    const size_t length = frame_length(&stream[at]);
    if (length == 0) {
      fprintf(stderr, "no frame header at byte %zu\n", at);
      return false;
    }
    if (at + length > stream.size()) break;
    starts.push_back(at);
    at += length;
  }
  return !starts.empty();
}

// Tag sizes are synchsafe (7 bits a byte); v2.3 frame sizes are plain.
void put_size(Bytes& out, uint32_t size, bool synchsafe) {
  if (synchsafe) {
    for (int shift = 21; shift >= 0; shift -= 7) out.push_back(static_cast<uint8_t>(size >> shift & 0x7F));
  } else {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(size >> shift));
  }
}

// An ID3v2.3 or v2.4 tag holding one attached-picture frame.
Bytes id3_tag(int version, size_t picture_bytes, uint32_t seed, bool footer) {
  std::mt19937 random(seed);
  Bytes picture_frame;
  const char mime[] = "image/png";
  Bytes body = {0};  // text encoding
  body.insert(body.end(), mime, mime + sizeof mime);  // with its terminating zero
  body.push_back(3);                                   // front cover
  body.push_back(0);                                   // empty description
  for (size_t i = 0; i < picture_bytes; ++i) body.push_back(static_cast<uint8_t>(random()));
  const char id[] = "APIC";
  picture_frame.insert(picture_frame.end(), id, id + 4);
  put_size(picture_frame, static_cast<uint32_t>(body.size()), version == 4);
  picture_frame.push_back(0);
  picture_frame.push_back(0);
  picture_frame.insert(picture_frame.end(), body.begin(), body.end());

  Bytes header = {'I', 'D', '3', static_cast<uint8_t>(version), 0, static_cast<uint8_t>(footer ? 0x10 : 0)};
  put_size(header, static_cast<uint32_t>(picture_frame.size()), true);
  Bytes tag = header;
  tag.insert(tag.end(), picture_frame.begin(), picture_frame.end());
  if (footer) {
    Bytes closing = header;
    closing[0] = '3';
    closing[1] = 'D';
    closing[2] = 'I';
    tag.insert(tag.end(), closing.begin(), closing.end());
  }
  return tag;
}

int usage() {
  fprintf(stderr,
          "usage: stream_surgery last-byte-ff|ancillary|ff-runs|id3 IN OUT [BYTES SEED | VERSION BYTES SEED [footer]]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return usage();
  const std::string what = argv[1];
  Bytes stream;
  if (!read_all(argv[2], stream)) {
    fprintf(stderr, "can't read %s\n", argv[2]);
    return 2;
  }
  std::vector<size_t> starts;
  if (!frame_starts(stream, starts)) return 1;
  Bytes out;
  if (what == "last-byte-ff") {
    out = stream;
    for (size_t start : starts) out[start + frame_length(&stream[start]) - 1] = 0xFF;
  } else if (what == "ancillary" && argc == 6) {
    const size_t bytes = strtoul(argv[4], nullptr, 10);
    std::mt19937 random(static_cast<uint32_t>(strtoul(argv[5], nullptr, 10)));
    out = stream;
    for (size_t start : starts) {
      const size_t end = start + frame_length(&stream[start]);
      for (size_t i = end - bytes; i < end; ++i) out[i] = static_cast<uint8_t>(random());
    }
    // Random bytes end in 0xFF once in 256 frames; a short stream gets its share.
    for (size_t n = 0; n < starts.size(); n += 50) out[starts[n] + frame_length(&stream[starts[n]]) - 1] = 0xFF;
  } else if (what == "ff-runs") {
    for (size_t n = 0; n < starts.size(); ++n) {
      if (n > 0) out.insert(out.end(), 1 + n % 8, 0xFF);
      const size_t end = n + 1 < starts.size() ? starts[n + 1] : stream.size();
      out.insert(out.end(), stream.begin() + static_cast<long>(starts[n]), stream.begin() + static_cast<long>(end));
    }
  } else if (what == "id3" && (argc == 7 || argc == 8)) {
    const int version = atoi(argv[4]);
    const size_t bytes = strtoul(argv[5], nullptr, 10);
    const bool footer = argc == 8 && std::string(argv[7]) == "footer";
    out = id3_tag(version, bytes, static_cast<uint32_t>(strtoul(argv[6], nullptr, 10)), footer);
    out.insert(out.end(), stream.begin(), stream.end());
  } else {
    return usage();
  }
  if (!write_all(argv[3], out)) {
    fprintf(stderr, "can't write %s\n", argv[3]);
    return 2;
  }
  printf("%zu\n", starts.size());
  return 0;
}
