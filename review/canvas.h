// An RGB picture to draw the timeline on: filled rectangles and text in a
// built-in 5 x 8 pixel font (digits, lower-case letters and the punctuation
// of times and legends; any other character is drawn as a box).
#ifndef ZEMIVTC_CLI_CANVAS_H
#define ZEMIVTC_CLI_CANVAS_H

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

struct Rgb {
  uint8_t r, g, b;
};

class Canvas {
 public:
  Canvas(int width, int height, Rgb background = {0xFF, 0xFF, 0xFF});
  int Width() const { return width; }
  int Height() const { return height; }
  // Fills the rectangle, clipped to the picture.
  void Fill(int x, int y, int w, int h, Rgb colour);
  // Draws `text` with its top left corner at (x, y); returns the x after it.
  int Text(int x, int y, const std::string& text, Rgb colour);
  const std::vector<uint8_t>& Pixels() const { return rgb; }

  static constexpr int GlyphAdvance = 6;  // pixels from one character to the next
  static constexpr int LineHeight = 10;
  static int TextWidth(const std::string& text) { return static_cast<int>(text.size()) * GlyphAdvance; }

 private:
  int width, height;
  std::vector<uint8_t> rgb;
};

}  // namespace cli

#endif
