// A small PNG writer: 8-bit RGB, deflated by zlib, for the plan timeline, the
// review's thumbnails and the editor's pictures. zlib is there on every
// system the command builds for (Debian's zlib1g-dev and
// libz-mingw-w64-dev); the PNG framing around it is a few lines.
#ifndef ZEMIVTC_STREAM_PNG_H
#define ZEMIVTC_STREAM_PNG_H

#include <cstdint>
#include <string>
#include <vector>

namespace stream {

// Small: each row under the filter that leaves the smallest differences,
// deflated at zlib's default level (files written once, kept). Fast: every
// row under "up", deflated by zlib's run-length matching (pictures made
// while a key is held). Stored: not compressed at all (a full frame sent
// over the loopback while a key is held: a copy costs less than deflating).
enum class PngEffort { Small, Fast, Stored };

// The PNG file of a `width` x `height` image whose rows of 3 * width bytes
// (R, G, B) lie one after another in `rgb`.
std::string EncodePng(int width, int height, const std::vector<uint8_t>& rgb, PngEffort effort = PngEffort::Small);

// zlib's checksums, as PNG and its deflate stream use them.
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
uint32_t Adler32(const uint8_t* data, size_t size, uint32_t adler = 1);

}  // namespace stream

#endif
