#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <vector>

#include "FramePainter.h"
#include "FrameProducer.h"
#include "TestSupport.h"

namespace framesource {
namespace {

class FrameProducerTest : public ::testing::Test {
 protected:
  void SetUp() override { m_dir = pixmoor_test::makeTempDir("frameproducer"); }
  void TearDown() override { pixmoor_test::removeTree(m_dir); }
  std::string m_dir;
};

TEST_F(FrameProducerTest, RefusesWhatItCannotProduceWithAReason) {
  FrameProducer producer;
  EXPECT_NE(producer.open("stripes", 64, 48, "").find("unknown pattern 'stripes'"),
            std::string::npos);
  EXPECT_NE(producer.open("bars", 0, 48, "").find("invalid frame size 0x48"), std::string::npos);
  EXPECT_NE(producer.open("bars", 9000, 48, "").find("too large"), std::string::npos);
  EXPECT_NE(producer.open("file", 64, 48, "").find("needs a picture"), std::string::npos);
  EXPECT_NE(producer.open("file", 64, 48, m_dir + "/missing.png").find("cannot read a picture"),
            std::string::npos);
  EXPECT_NE(producer.open("video", 64, 48, "").find("needs a video file"), std::string::npos);
  EXPECT_NE(producer.open("video", 64, 48, m_dir + "/missing.avi").find("cannot open the video"),
            std::string::npos);
}

TEST_F(FrameProducerTest, CounterFramesFollowTheIndex) {
  FrameProducer producer;
  ASSERT_EQ(producer.open("counter", 4, 3, ""), "");
  EXPECT_FALSE(producer.isStill());
  std::vector<std::int32_t> frame(12);
  std::string error;
  for (std::uint64_t k : {0u, 1u, 77u}) {
    ASSERT_TRUE(producer.produce(k, frame.data(), &error)) << error;
    EXPECT_EQ(counterValue(frame.front()), k);
    EXPECT_EQ(counterValue(frame.back()), k);
  }
}

TEST_F(FrameProducerTest, FilePictureIsScaledToTheFrameSize) {
  // Left half blue, right half red, 8x4; scaled to 2x1 each half keeps its colour.
  cv::Mat picture(4, 8, CV_8UC3, cv::Scalar(255, 0, 0));
  picture(cv::Rect(4, 0, 4, 4)).setTo(cv::Scalar(0, 0, 255));
  const std::string path = m_dir + "/halves.png";
  ASSERT_TRUE(cv::imwrite(path, picture));

  FrameProducer producer;
  ASSERT_EQ(producer.open("file", 2, 1, path), "");
  EXPECT_TRUE(producer.isStill());
  std::int32_t frame[2] = {0, 0};
  std::string error;
  ASSERT_TRUE(producer.produce(0, frame, &error)) << error;
  EXPECT_EQ(static_cast<std::uint32_t>(frame[0]), 0xFF0000FFu);
  EXPECT_EQ(static_cast<std::uint32_t>(frame[1]), 0xFFFF0000u);
}

TEST_F(FrameProducerTest, VideoFileLoopsAndIsScaled) {
  const std::string path = m_dir + "/clip.avi";
  {
    cv::VideoWriter writer(path, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10,
                           cv::Size(32, 16));
    if (!writer.isOpened()) GTEST_SKIP() << "this OpenCV cannot write MJPG video";
    for (int i = 0; i < 3; ++i) writer.write(cv::Mat(16, 32, CV_8UC3, cv::Scalar(0, 200, 0)));
  }
  FrameProducer producer;
  const std::string error = producer.open("video", 8, 4, path);
  if (error.find("cannot open the video") != std::string::npos) {
    GTEST_SKIP() << "this OpenCV cannot read back its own video";
  }
  ASSERT_EQ(error, "");
  std::vector<std::int32_t> frame(32);
  std::string readError;
  // More frames than the clip holds: the file starts over.
  for (int i = 0; i < 7; ++i) {
    ASSERT_TRUE(producer.produce(i, frame.data(), &readError))
        << "frame " << i << ": " << readError;
    const std::uint32_t pixel = static_cast<std::uint32_t>(frame[13]);
    EXPECT_NEAR(static_cast<int>((pixel >> 8) & 0xFF), 200, 12) << "frame " << i;
    EXPECT_LT(static_cast<int>(pixel & 0xFF), 20);
  }
}

}  // namespace
}  // namespace framesource
