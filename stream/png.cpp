#include "stream/png.h"

#include <algorithm>
#include <cstdlib>
#include <queue>
#include <stdexcept>

namespace stream {

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
  static const std::vector<uint32_t> table = [] {
    std::vector<uint32_t> t(256);
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

uint32_t Adler32(const uint8_t* data, size_t size, uint32_t adler) {
  uint32_t a = adler & 0xFFFF, b = adler >> 16;
  // 5552 bytes at most between reductions keep b inside 32 bits.
  for (size_t start = 0; start < size; start += 5552) {
    const size_t end = std::min(size, start + 5552);
    for (size_t i = start; i < end; ++i) {
      a += data[i];
      b += a;
    }
    a %= 65521;
    b %= 65521;
  }
  return (b << 16) | a;
}

namespace {

void PutBigEndian(std::string* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>(v >> shift));
}

void PutChunk(std::string* out, const char* type, const std::string& data) {
  PutBigEndian(out, static_cast<uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  out->append(body);
  PutBigEndian(out, Crc32(reinterpret_cast<const uint8_t*>(body.data()), body.size()));
}

// Bits into bytes, least significant bit first, as deflate packs them.
class BitWriter {
 public:
  explicit BitWriter(std::string* output) : out(output) {}
  void Put(uint32_t value, int bits) {
    pending |= static_cast<uint64_t>(value & ((1u << bits) - 1)) << used;
    used += bits;
    while (used >= 8) {
      out->push_back(static_cast<char>(pending));
      pending >>= 8;
      used -= 8;
    }
  }
  void Flush() {
    if (used > 0) out->push_back(static_cast<char>(pending));
    pending = 0;
    used = 0;
  }

 private:
  std::string* out;
  uint64_t pending = 0;
  int used = 0;
};

// Deflate's length symbols: the first length of each, and its extra bits.
const int LengthBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
int LengthCode(int length) {
  int code = 28;
  while (LengthBase[code] > length) --code;
  return code;
}
int LengthExtraBits(int code) { return code < 8 || code == 28 ? 0 : (code - 4) / 4; }

// A literal byte (value 0-255), or a copy of `length` bytes from `distance`
// back (1 or 3: the byte or the pixel before).
struct Token {
  uint16_t value;
  uint8_t distance;
};

// Code lengths of at most `maxBits` for the symbols' counts (0 for unused
// symbols): a Huffman code, its counts flattened until it fits.
std::vector<int> CodeLengths(std::vector<uint32_t> counts, int maxBits) {
  const int n = static_cast<int>(counts.size());
  std::vector<int> lengths(n, 0);
  while (true) {
    // Nodes: the symbols, then the merged pairs; parent links give depths.
    std::vector<uint64_t> weight;
    std::vector<int> parent, leaves;
    using Entry = std::pair<uint64_t, int>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
    for (int s = 0; s < n; ++s)
      if (counts[s]) {
        leaves.push_back(s);
        queue.push({counts[s], static_cast<int>(weight.size())});
        weight.push_back(counts[s]);
        parent.push_back(-1);
      }
    while (queue.size() > 1) {
      const Entry a = queue.top();
      queue.pop();
      const Entry b = queue.top();
      queue.pop();
      const int node = static_cast<int>(weight.size());
      weight.push_back(a.first + b.first);
      parent.push_back(-1);
      parent[a.second] = parent[b.second] = node;
      queue.push({a.first + b.first, node});
    }
    int longest = 0;
    for (size_t i = 0; i < leaves.size(); ++i) {
      int depth = 0;
      for (int node = static_cast<int>(i); parent[node] >= 0; node = parent[node]) ++depth;
      lengths[leaves[i]] = depth;
      longest = std::max(longest, depth);
    }
    if (longest <= maxBits) return lengths;
    for (uint32_t& c : counts)
      if (c) c = (c + 1) / 2;
  }
}

// The canonical codes of these code lengths, bit-reversed for BitWriter::Put
// (Huffman codes go most significant bit first).
std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
  int count[16] = {0};
  for (int l : lengths) ++count[l];
  count[0] = 0;
  uint32_t next[16] = {0}, code = 0;
  for (int bits = 1; bits < 16; ++bits) {
    code = (code + count[bits - 1]) << 1;
    next[bits] = code;
  }
  std::vector<uint32_t> codes(lengths.size(), 0);
  for (size_t s = 0; s < lengths.size(); ++s) {
    if (!lengths[s]) continue;
    const uint32_t c = next[lengths[s]]++;
    for (int i = 0; i < lengths[s]; ++i) codes[s] |= ((c >> i) & 1) << (lengths[s] - 1 - i);
  }
  return codes;
}

// One deflate block with Huffman codes made for the data: literals, and
// copies of the byte or the pixel before (filtered rows repeat a lot).
std::string Deflate(const std::vector<uint8_t>& data) {
  std::vector<Token> tokens;
  tokens.reserve(data.size() / 2);
  std::vector<uint32_t> litCounts(286, 0), distCounts(30, 0);
  for (size_t i = 0; i < data.size();) {
    int best = 0, bestDistance = 0;
    for (int distance : {1, 3}) {
      if (i < static_cast<size_t>(distance)) continue;
      int length = 0;
      while (length < 258 && i + length < data.size() && data[i + length] == data[i + length - distance]) ++length;
      if (length > best) {
        best = length;
        bestDistance = distance;
      }
    }
    if (best >= 3) {
      tokens.push_back({static_cast<uint16_t>(best), static_cast<uint8_t>(bestDistance)});
      ++litCounts[257 + LengthCode(best)];
      ++distCounts[bestDistance == 1 ? 0 : 2];
      i += best;
    } else {
      tokens.push_back({data[i], 0});
      ++litCounts[data[i]];
      ++i;
    }
  }
  litCounts[256] = 1;  // the end of the block
  // Two distance codes at least, so that every decoder takes the table.
  distCounts[0] = std::max(distCounts[0], 1u);
  distCounts[2] = std::max(distCounts[2], 1u);
  const std::vector<int> litLengths = CodeLengths(litCounts, 15), distLengths = CodeLengths(distCounts, 15);
  const std::vector<uint32_t> litCodes = CanonicalCodes(litLengths), distCodes = CanonicalCodes(distLengths);
  int litUsed = 286, distUsed = 30;
  while (litUsed > 257 && litLengths[litUsed - 1] == 0) --litUsed;
  while (distUsed > 1 && distLengths[distUsed - 1] == 0) --distUsed;

  // The code lengths themselves, each as a symbol of the code-length code.
  std::vector<int> lengths(litLengths.begin(), litLengths.begin() + litUsed);
  lengths.insert(lengths.end(), distLengths.begin(), distLengths.begin() + distUsed);
  std::vector<uint32_t> clCounts(19, 0);
  for (int l : lengths) ++clCounts[l];
  const std::vector<int> clLengths = CodeLengths(clCounts, 7);
  const std::vector<uint32_t> clCodes = CanonicalCodes(clLengths);
  static const int clOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  int clUsed = 19;
  while (clUsed > 4 && clLengths[clOrder[clUsed - 1]] == 0) --clUsed;

  std::string out;
  BitWriter w(&out);
  w.Put(1, 1);  // the last block
  w.Put(2, 2);  // Huffman codes of its own
  w.Put(litUsed - 257, 5);
  w.Put(distUsed - 1, 5);
  w.Put(clUsed - 4, 4);
  for (int i = 0; i < clUsed; ++i) w.Put(clLengths[clOrder[i]], 3);
  for (int l : lengths) w.Put(clCodes[l], clLengths[l]);
  for (const Token& t : tokens) {
    if (t.distance == 0) {
      w.Put(litCodes[t.value], litLengths[t.value]);
      continue;
    }
    const int code = LengthCode(t.value);
    w.Put(litCodes[257 + code], litLengths[257 + code]);
    w.Put(t.value - LengthBase[code], LengthExtraBits(code));
    const int d = t.distance == 1 ? 0 : 2;
    w.Put(distCodes[d], distLengths[d]);
  }
  w.Put(litCodes[256], litLengths[256]);
  w.Flush();
  return out;
}

int Paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

}  // namespace

std::string EncodePng(int width, int height, const std::vector<uint8_t>& rgb) {
  const size_t rowBytes = 3 * static_cast<size_t>(width);
  if (width <= 0 || height <= 0 || rgb.size() != rowBytes * height)
    throw std::invalid_argument("EncodePng: the pixels do not match the size");
  // Scanlines, each led by the filter that leaves the smallest differences
  // (a row like the one above is all zeros under "up"; pictures do best
  // under "sub" or "Paeth").
  std::vector<uint8_t> raw;
  raw.reserve((rowBytes + 1) * height);
  std::vector<uint8_t> filtered[5];
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = &rgb[y * rowBytes];
    const uint8_t* above = y > 0 ? row - rowBytes : nullptr;
    long best = -1;
    int bestFilter = 0;
    for (std::vector<uint8_t>& f : filtered) f.resize(rowBytes);
    for (size_t x = 0; x < rowBytes; ++x) {
      const int a = x >= 3 ? row[x - 3] : 0, b = above ? above[x] : 0, c = x >= 3 && above ? above[x - 3] : 0;
      filtered[0][x] = row[x];
      filtered[1][x] = static_cast<uint8_t>(row[x] - a);
      filtered[2][x] = static_cast<uint8_t>(row[x] - b);
      filtered[3][x] = static_cast<uint8_t>(row[x] - (a + b) / 2);
      filtered[4][x] = static_cast<uint8_t>(row[x] - Paeth(a, b, c));
    }
    for (int filter = 0; filter < 5; ++filter) {
      long sum = 0;
      for (uint8_t v : filtered[filter]) sum += v < 128 ? v : 256 - v;
      if (best < 0 || sum < best) {
        best = sum;
        bestFilter = filter;
      }
    }
    raw.push_back(static_cast<uint8_t>(bestFilter));
    raw.insert(raw.end(), filtered[bestFilter].begin(), filtered[bestFilter].end());
  }
  std::string z = "\x78\x01" + Deflate(raw);
  PutBigEndian(&z, Adler32(raw.data(), raw.size()));

  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  PutBigEndian(&header, static_cast<uint32_t>(width));
  PutBigEndian(&header, static_cast<uint32_t>(height));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, adaptive filters, no interlace
  PutChunk(&png, "IHDR", header);
  PutChunk(&png, "IDAT", z);
  PutChunk(&png, "IEND", "");
  return png;
}

}  // namespace stream
