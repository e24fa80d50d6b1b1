#include "FramePainter.h"

#include <algorithm>

namespace framesource {

namespace {

struct Rgb {
  std::uint8_t red, green, blue;
};

constexpr Rgb kTopBars[] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                            {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
constexpr Rgb kBottomBlocks[] = {{0, 0, 128}, {0, 128, 0}, {128, 0, 0}, {128, 128, 128}};

template <std::size_t N>
void paintRow(std::int32_t* row, int width, const Rgb (&colours)[N]) {
  for (int x = 0; x < width; ++x) {
    // 64-bit product: width up to 8192 times N stays far from overflow anyway.
    const std::size_t index = static_cast<std::size_t>(x) * N / static_cast<std::size_t>(width);
    const Rgb& colour = colours[index];
    row[x] = encodePixel(colour.red, colour.green, colour.blue);
  }
}

}  // namespace

std::string checkFrameSize(int width, int height) {
  if (width <= 0 || height <= 0) {
    return "invalid frame size " + std::to_string(width) + "x" + std::to_string(height) +
           ": width and height must be above 0";
  }
  if (width > kMaxFrameSide || height > kMaxFrameSide) {
    return "frame size " + std::to_string(width) + "x" + std::to_string(height) +
           " is too large: at most " + std::to_string(kMaxFrameSide) + "x" +
           std::to_string(kMaxFrameSide);
  }
  return "";
}

void paintBars(std::int32_t* pixels, int width, int height) {
  const int topRows = height / 2;
  // Paint one row of each half, then copy it down: rows repeat exactly.
  for (int y = 0; y < height; ++y) {
    std::int32_t* row = pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    if (y == 0 && topRows > 0) {
      paintRow(row, width, kTopBars);
    } else if (y == topRows) {
      paintRow(row, width, kBottomBlocks);
    } else {
      const std::int32_t* above = row - width;
      std::copy(above, above + width, row);
    }
  }
}

void paintCounter(std::int32_t* pixels, std::size_t count, std::uint64_t frame) {
  const std::uint32_t value = static_cast<std::uint32_t>(frame) & 0x00FFFFFFu;
  std::fill(pixels, pixels + count, static_cast<std::int32_t>(0xFF000000u | value));
}

void encodeImage(const cv::Mat& image, std::int32_t* pixels) {
  CV_Assert(image.type() == CV_8UC3);
  for (int y = 0; y < image.rows; ++y) {
    const std::uint8_t* in = image.ptr<std::uint8_t>(y);
    std::int32_t* out = pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.cols);
    for (int x = 0; x < image.cols; ++x, in += 3) out[x] = encodePixel(in[2], in[1], in[0]);
  }
}

}  // namespace framesource
