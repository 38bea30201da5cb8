// Small pictures of a field position's candidates for the review page, made
// from packed YUY2 frames: the weave of the position's two fields, each of
// them rebuilt alone, and a close-up of the weave where it is most combed.
#ifndef ZEMIVTC_CLI_THUMBNAILS_H
#define ZEMIVTC_CLI_THUMBNAILS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cli {

struct PackedFrame {
  const uint8_t* data = nullptr;  // YUY2 rows of 2 * width bytes
  ptrdiff_t pitch = 0;
  int width = 0, height = 0;
};

struct RgbPicture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // rows of 3 * width bytes
};

// The review's thumbnails are this wide (narrower frames keep their width);
// the height keeps the frame's proportions.
constexpr int ThumbnailWidth = 128;
// The close-up: this many pixels of the weave, each shown as 2 x 2.
constexpr int CloseUpWidth = 64, CloseUpHeight = 40;

enum class FieldChoice { Both, Top, Bottom };

// The weave of `top`'s even rows over `bottom`'s odd rows (the same frame
// for a frame as it is), or one of those fields alone, scaled down to a
// thumbnail: each thumbnail pixel averages up to 3 x 4 samples of the pixels
// it covers (rows of a weave in pairs, so that both fields show). A field
// alone fills the thumbnail's height, as its rebuild would. The editor asks
// for wider ones.
RgbPicture Thumbnail(const PackedFrame& top, const PackedFrame& bottom, FieldChoice fields,
                     int thumbnailWidth = ThumbnailWidth);

// The frame at full size (BT.601 studio range).
RgbPicture FramePicture(const PackedFrame& frame);

// The weave's pixels, 2 x 2 each, around the place whose rows stand out most
// from the rows of the other field above and below them (a moving edge woven
// from two moments).
RgbPicture CloseUp(const PackedFrame& top, const PackedFrame& bottom);

}  // namespace cli

#endif
