// A small PNG encoder: 8-bit RGB, each row under the filter that leaves the
// smallest differences, deflated into one block of literals and copies of
// the byte or pixel before, with Huffman codes made for the data; enough for
// the plan timeline and the review's thumbnails without an image library.
#ifndef ZEMIVTC_STREAM_PNG_H
#define ZEMIVTC_STREAM_PNG_H

#include <cstdint>
#include <string>
#include <vector>

namespace stream {

// The PNG file of a `width` x `height` image whose rows of 3 * width bytes
// (R, G, B) lie one after another in `rgb`.
std::string EncodePng(int width, int height, const std::vector<uint8_t>& rgb);

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
uint32_t Adler32(const uint8_t* data, size_t size, uint32_t adler = 1);

}  // namespace stream

#endif
