#include "stream/png.h"

#include <algorithm>
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
  for (size_t i = 0; i < size; ++i) {
    a = (a + data[i]) % 65521;
    b = (b + a) % 65521;
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
    for (int i = 0; i < bits; ++i) PutBit((value >> i) & 1);
  }
  // Huffman codes go most significant bit first.
  void PutCode(uint32_t code, int bits) {
    for (int i = bits - 1; i >= 0; --i) PutBit((code >> i) & 1);
  }
  void Flush() {
    if (used) out->push_back(static_cast<char>(byte));
    byte = 0;
    used = 0;
  }

 private:
  void PutBit(uint32_t bit) {
    byte |= bit << used;
    if (++used == 8) Flush();
  }
  std::string* out;
  uint32_t byte = 0;
  int used = 0;
};

// A literal or length symbol in deflate's fixed Huffman code.
void PutSymbol(BitWriter* w, int symbol) {
  if (symbol < 144)
    w->PutCode(0x30 + symbol, 8);
  else if (symbol < 256)
    w->PutCode(0x190 + symbol - 144, 9);
  else if (symbol < 280)
    w->PutCode(symbol - 256, 7);
  else
    w->PutCode(0xC0 + symbol - 280, 8);
}

// A run of `length` (3 to 258) copies of the byte before: a length symbol,
// its extra bits, and distance 1 (code 0, five bits).
void PutRun(BitWriter* w, int length) {
  static const int base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                             31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  int code = 28;
  while (base[code] > length) --code;
  const int extra = code < 8 || code == 28 ? 0 : (code - 4) / 4;
  PutSymbol(w, 257 + code);
  w->Put(length - base[code], extra);
  w->PutCode(0, 5);
}

// One deflate block with the fixed code: literals, and runs of a repeated
// byte (the timeline's rows repeat, and filtered they are runs of zeros).
std::string Deflate(const std::vector<uint8_t>& data) {
  std::string out;
  BitWriter w(&out);
  w.Put(1, 1);  // the last block
  w.Put(1, 2);  // fixed Huffman codes
  for (size_t i = 0; i < data.size();) {
    size_t run = 0;
    if (i > 0)
      while (run < 258 && i + run < data.size() && data[i + run] == data[i - 1]) ++run;
    if (run >= 3) {
      PutRun(&w, static_cast<int>(run));
      i += run;
    } else {
      PutSymbol(&w, data[i]);
      ++i;
    }
  }
  PutSymbol(&w, 256);  // end of block
  w.Flush();
  return out;
}

}  // namespace

std::string EncodePng(int width, int height, const std::vector<uint8_t>& rgb) {
  const size_t rowBytes = 3 * static_cast<size_t>(width);
  if (width <= 0 || height <= 0 || rgb.size() != rowBytes * height)
    throw std::invalid_argument("EncodePng: the pixels do not match the size");
  // Scanlines, each led by filter type 2 (up: the difference from the row
  // above), so that a row like the one before it is all zeros.
  std::vector<uint8_t> raw;
  raw.reserve((rowBytes + 1) * height);
  for (int y = 0; y < height; ++y) {
    raw.push_back(2);
    for (size_t x = 0; x < rowBytes; ++x)
      raw.push_back(static_cast<uint8_t>(rgb[y * rowBytes + x] - (y > 0 ? rgb[(y - 1) * rowBytes + x] : 0)));
  }
  std::string z = "\x78\x01" + Deflate(raw);
  PutBigEndian(&z, Adler32(raw.data(), raw.size()));

  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  PutBigEndian(&header, static_cast<uint32_t>(width));
  PutBigEndian(&header, static_cast<uint32_t>(height));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter choice, no interlace
  PutChunk(&png, "IHDR", header);
  PutChunk(&png, "IDAT", z);
  PutChunk(&png, "IEND", "");
  return png;
}

}  // namespace stream
