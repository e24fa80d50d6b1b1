// Pixel work of the frame source: test pictures and the frame encoding.
#ifndef PIXMOOR_TOOLS_FRAMESOURCE_FRAMEPAINTER_H
#define PIXMOOR_TOOLS_FRAMESOURCE_FRAMEPAINTER_H

#include <cstddef>
#include <cstdint>
#include <opencv2/core.hpp>
#include <string>

namespace framesource {

// Largest width and height the source produces (a 268 MB frame already).
constexpr int kMaxFrameSide = 8192;

// Returns "" when width x height is a size the source can produce, else why not.
std::string checkFrameSize(int width, int height);

// Returns one encoded pixel: alpha 0xFF, red bits 16-23, green 8-15, blue 0-7.
inline std::int32_t encodePixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return static_cast<std::int32_t>(0xFF000000u | (static_cast<std::uint32_t>(red) << 16) |
                                   (static_cast<std::uint32_t>(green) << 8) | blue);
}

// Paints the colour-bar picture into `pixels` (width x height, row-major from
// the top). Top half: eight full-intensity vertical bars, left to right white,
// yellow, cyan, green, magenta, red, blue, black. Bottom half: four equal
// blocks, left to right navy, dark green, maroon, grey. The four corners are
// therefore white (top left), black (top right), navy (bottom left) and grey
// (bottom right): each mirror of the picture moves them visibly.
void paintBars(std::int32_t* pixels, int width, int height);

// Fills `count` pixels with frame number `frame`: its low 24 bits as the
// colour of every pixel, so a receiver can check order and losses.
void paintCounter(std::int32_t* pixels, std::size_t count, std::uint64_t frame);

// Returns the frame number a counter frame's pixel carries.
inline std::uint32_t counterValue(std::int32_t pixel) {
  return static_cast<std::uint32_t>(pixel) & 0x00FFFFFFu;
}

// Encodes an 8-bit BGR image (CV_8UC3) into `pixels`, row-major from the top;
// `pixels` holds image.cols x image.rows elements.
void encodeImage(const cv::Mat& image, std::int32_t* pixels);

}  // namespace framesource

#endif
