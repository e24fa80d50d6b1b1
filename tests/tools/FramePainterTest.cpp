#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "FramePainter.h"

namespace framesource {
namespace {

std::int32_t rgb(std::uint32_t value) { return static_cast<std::int32_t>(0xFF000000u | value); }

TEST(FramePainter, BarsHaveFourDistinctCornersSoEveryMirrorShows) {
  const int width = 640, height = 480;
  std::vector<std::int32_t> frame(width * height);
  paintBars(frame.data(), width, height);
  const std::int32_t topLeft = frame[0];
  const std::int32_t topRight = frame[width - 1];
  const std::int32_t bottomLeft = frame[(height - 1) * width];
  const std::int32_t bottomRight = frame[height * width - 1];
  EXPECT_EQ(topLeft, rgb(0xFFFFFF));
  EXPECT_EQ(topRight, rgb(0x000000));
  EXPECT_EQ(bottomLeft, rgb(0x000080));
  EXPECT_EQ(bottomRight, rgb(0x808080));
  // Left-right, top-bottom and both mirrors each give another corner layout.
  EXPECT_EQ(std::set<std::int32_t>({topLeft, topRight, bottomLeft, bottomRight}).size(), 4u);
  // Eight bars across the top: yellow starts at 1/8 of the width.
  EXPECT_EQ(frame[width / 8 - 1], rgb(0xFFFFFF));
  EXPECT_EQ(frame[width / 8], rgb(0xFFFF00));
  EXPECT_EQ(frame[width / 2], rgb(0xFF00FF));
  EXPECT_EQ(frame[(height / 2 - 1) * width + width / 2], rgb(0xFF00FF));
  EXPECT_EQ(frame[(height / 2) * width + width / 2], rgb(0x800000));
}

TEST(FramePainter, BarsFillTinyAndOddSizesCompletely) {
  const int sizes[][2] = {{1, 1}, {1, 2}, {3, 1}, {7, 5}, {9, 3}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]));
    // One guard element past the end catches a write beyond the frame.
    std::vector<std::int32_t> frame(size[0] * size[1] + 1, 0);
    paintBars(frame.data(), size[0], size[1]);
    for (int i = 0; i < size[0] * size[1]; ++i) {
      EXPECT_EQ(static_cast<std::uint32_t>(frame[i]) >> 24, 0xFFu) << "pixel " << i;
    }
    EXPECT_EQ(frame.back(), 0);
  }
}

TEST(FramePainter, CounterCarriesTheFrameNumberInEveryPixel) {
  std::vector<std::int32_t> frame(12, 0);
  paintCounter(frame.data(), frame.size(), 5);
  for (std::int32_t pixel : frame) EXPECT_EQ(pixel, rgb(5));
  paintCounter(frame.data(), frame.size(), 0x1234567);  // wraps at 24 bits
  EXPECT_EQ(counterValue(frame[11]), 0x234567u);
}

TEST(FramePainter, EncodesBgrImagesInTheViewersEncoding) {
  cv::Mat image(1, 2, CV_8UC3);
  image.at<cv::Vec3b>(0, 0) = cv::Vec3b(1, 2, 3);  // blue, green, red
  image.at<cv::Vec3b>(0, 1) = cv::Vec3b(4, 5, 6);
  std::int32_t pixels[2] = {0, 0};
  encodeImage(image, pixels);
  EXPECT_EQ(static_cast<std::uint32_t>(pixels[0]), 0xFF030201u);
  EXPECT_EQ(static_cast<std::uint32_t>(pixels[1]), 0xFF060504u);
}

TEST(FramePainter, AcceptsSizesUpTo8192Square) {
  EXPECT_EQ(checkFrameSize(1, 1), "");
  EXPECT_EQ(checkFrameSize(8192, 8192), "");
  EXPECT_NE(checkFrameSize(0, 480), "");
  EXPECT_NE(checkFrameSize(640, -1), "");
  EXPECT_NE(checkFrameSize(8193, 1), "");
  EXPECT_NE(checkFrameSize(1, 8193).find("too large"), std::string::npos);
}

}  // namespace
}  // namespace framesource
