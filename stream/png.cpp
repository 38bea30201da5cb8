#include "stream/png.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>

namespace stream {

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
  // zlib takes lengths of 32 bits: longer data goes in pieces.
  for (size_t done = 0; done < size;) {
    const uInt piece = static_cast<uInt>(std::min<size_t>(size - done, 1u << 30));
    crc = static_cast<uint32_t>(crc32(crc, data + done, piece));
    done += piece;
  }
  return crc;
}

uint32_t Adler32(const uint8_t* data, size_t size, uint32_t adler) {
  for (size_t done = 0; done < size;) {
    const uInt piece = static_cast<uInt>(std::min<size_t>(size - done, 1u << 30));
    adler = static_cast<uint32_t>(adler32(adler, data + done, piece));
    done += piece;
  }
  return adler;
}

namespace {

void PutBigEndian(std::string* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>(v >> shift));
}

void PutChunk(std::string* out, const char* type, const uint8_t* data, size_t size) {
  PutBigEndian(out, static_cast<uint32_t>(size));
  out->append(type, 4);
  out->append(reinterpret_cast<const char*>(data), size);
  PutBigEndian(out, Crc32(data, size, Crc32(reinterpret_cast<const uint8_t*>(type), 4)));
}

void PutChunk(std::string* out, const char* type, const std::string& data) {
  PutChunk(out, type, reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

int Paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Scanlines, each led by the filter that leaves the smallest differences (a
// row like the one above is all zeros under "up"; pictures do best under
// "sub" or "Paeth").
void FilterSmallest(int height, size_t rowBytes, const std::vector<uint8_t>& rgb, std::vector<uint8_t>* raw) {
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
    raw->push_back(static_cast<uint8_t>(bestFilter));
    raw->insert(raw->end(), filtered[bestFilter].begin(), filtered[bestFilter].end());
  }
}

// Every row under "up" (the first under "none", as "up" reads zeros above
// it), or every row under "none".
void FilterUp(int height, size_t rowBytes, const std::vector<uint8_t>& rgb, bool none, std::vector<uint8_t>* raw) {
  raw->resize((rowBytes + 1) * height);
  for (int y = 0; y < height; ++y) {
    uint8_t* out = &(*raw)[y * (rowBytes + 1)];
    const uint8_t* row = &rgb[y * rowBytes];
    out[0] = none ? 0 : 2;
    if (y == 0 || none) {
      std::copy(row, row + rowBytes, out + 1);
    } else {
      const uint8_t* above = row - rowBytes;
      for (size_t x = 0; x < rowBytes; ++x) out[1 + x] = static_cast<uint8_t>(row[x] - above[x]);
    }
  }
}

}  // namespace

std::string EncodePng(int width, int height, const std::vector<uint8_t>& rgb, PngEffort effort) {
  const size_t rowBytes = 3 * static_cast<size_t>(width);
  if (width <= 0 || height <= 0 || rgb.size() != rowBytes * height)
    throw std::invalid_argument("EncodePng: the pixels do not match the size");
  std::vector<uint8_t> raw;
  raw.reserve((rowBytes + 1) * height);
  if (effort == PngEffort::Small)
    FilterSmallest(height, rowBytes, rgb, &raw);
  else
    FilterUp(height, rowBytes, rgb, effort == PngEffort::Stored, &raw);

  // Fast: zlib's run-length matching (matches at distance 1 only), which
  // keeps most of what level 1 gains on filtered rows at a third less time.
  const int level = effort == PngEffort::Small  ? Z_DEFAULT_COMPRESSION
                    : effort == PngEffort::Fast ? Z_BEST_SPEED
                                                : Z_NO_COMPRESSION;
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, 15, 8, effort == PngEffort::Fast ? Z_RLE : Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::bad_alloc();
  const size_t bound = deflateBound(&z, static_cast<uLong>(raw.size()));
  std::unique_ptr<Bytef[]> deflated(new Bytef[bound]);
  z.next_in = raw.data();
  z.avail_in = static_cast<uInt>(raw.size());
  z.next_out = deflated.get();
  z.avail_out = static_cast<uInt>(bound);
  const int status = deflate(&z, Z_FINISH);
  const size_t deflatedSize = z.total_out;
  deflateEnd(&z);
  if (status != Z_STREAM_END)
    throw std::runtime_error("EncodePng: zlib refused the pixels (" + std::to_string(status) + ")");

  std::string png = "\x89PNG\r\n\x1a\n";
  png.reserve(deflatedSize + 64);
  std::string header;
  PutBigEndian(&header, static_cast<uint32_t>(width));
  PutBigEndian(&header, static_cast<uint32_t>(height));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, adaptive filters, no interlace
  PutChunk(&png, "IHDR", header);
  PutChunk(&png, "IDAT", deflated.get(), deflatedSize);
  PutChunk(&png, "IEND", "");
  return png;
}

}  // namespace stream
