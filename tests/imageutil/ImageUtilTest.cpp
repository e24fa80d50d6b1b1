#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <opencv2/core.hpp>
#include <random>
#include <thread>
#include <vector>

#include "ImageUtil.h"

namespace {

using Sequence = RTC::TimedLongSeq::_data_seq;

Sequence makeSequence(const std::vector<std::uint32_t>& values) {
  Sequence seq;
  seq.length(static_cast<CORBA::ULong>(values.size()));
  for (CORBA::ULong i = 0; i < seq.length(); ++i) {
    seq[i] = static_cast<CORBA::Long>(values[i]);
  }
  return seq;
}

Sequence randomSequence(std::size_t length, std::mt19937& random) {
  std::vector<std::uint32_t> values(length);
  for (auto& value : values) {
    value = static_cast<std::uint32_t>(random());
  }
  return makeSequence(values);
}

std::uint32_t element(const Sequence& seq, CORBA::ULong index) {
  return static_cast<std::uint32_t>(seq[index]);
}

bool sameBytes(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// Counts every cv::Mat allocation made while it is installed as OpenCV's
// default allocator, and hands the work to OpenCV's own allocator.
class CountingAllocator : public cv::MatAllocator {
 public:
  CountingAllocator() : m_previous(cv::Mat::getDefaultAllocator()) {
    cv::Mat::setDefaultAllocator(this);
  }
  ~CountingAllocator() override { cv::Mat::setDefaultAllocator(m_previous); }

  cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step,
                         cv::AccessFlag flags, cv::UMatUsageFlags usage) const override {
    ++m_count;
    return cv::Mat::getStdAllocator()->allocate(dims, sizes, type, data, step, flags, usage);
  }
  bool allocate(cv::UMatData* data, cv::AccessFlag flags, cv::UMatUsageFlags usage) const override {
    return cv::Mat::getStdAllocator()->allocate(data, flags, usage);
  }
  void deallocate(cv::UMatData* data) const override {
    cv::Mat::getStdAllocator()->deallocate(data);
  }

  int count() const { return m_count.load(); }

 private:
  cv::MatAllocator* m_previous;
  mutable std::atomic<int> m_count{0};
};

}  // namespace

TEST(ImageUtil, EncodesTwoPixelsAsTheTableSays) {
  ImageUtil image(2, 1, 3);
  ASSERT_TRUE(image.isValid());
  cv::Mat front = image.getImage();
  front.at<cv::Vec3b>(0, 0) = cv::Vec3b(1, 2, 3);
  front.at<cv::Vec3b>(0, 1) = cv::Vec3b(4, 5, 6);

  Sequence seq;
  image.imageToSequence(seq);
  ASSERT_EQ(2u, seq.length());
  EXPECT_EQ(0xFF030201u, element(seq, 0));
  EXPECT_EQ(0xFF060504u, element(seq, 1));

  Sequence reference;
  ImageUtil::imageToSequenceReference(front, reference);
  ASSERT_EQ(2u, reference.length());
  EXPECT_EQ(0xFF030201u, element(reference, 0));
  EXPECT_EQ(0xFF060504u, element(reference, 1));
}

TEST(ImageUtil, DecodesKnownValuesIgnoringTheTopByte) {
  struct Case {
    std::uint32_t value;
    cv::Vec3b bgr;
  };
  const Case cases[] = {
      {0xFF030201u, {1, 2, 3}},       {0x00030201u, {1, 2, 3}}, {0x7F302010u, {0x10, 0x20, 0x30}},
      {0x80FFFFFFu, {255, 255, 255}}, {0xFF000000u, {0, 0, 0}}, {0x00800001u, {1, 0, 0x80}},
  };
  for (const Case& c : cases) {
    ImageUtil image(1, 1, 3);
    ASSERT_TRUE(image.sequenceToImage(makeSequence({c.value})));
    EXPECT_EQ(c.bgr, image.getImage().at<cv::Vec3b>(0, 0)) << std::hex << c.value;

    cv::Mat reference(1, 1, CV_8UC3, cv::Scalar::all(0));
    ASSERT_TRUE(ImageUtil::sequenceToImageReference(makeSequence({c.value}), reference));
    EXPECT_EQ(c.bgr, reference.at<cv::Vec3b>(0, 0)) << std::hex << c.value;
  }
}

TEST(ImageUtil, OnePixelSurvivesDecodeMirrorAndEncode) {
  ImageUtil image(1, 1, 3);
  ASSERT_TRUE(image.sequenceToImage(makeSequence({0x12AABBCCu})));
  image.flipHorizontal();
  image.flipVertical();
  Sequence seq;
  image.imageToSequence(seq);
  ASSERT_EQ(1u, seq.length());
  EXPECT_EQ(0xFFAABBCCu, element(seq, 0));
}

TEST(ImageUtil, NewImagesAreBlack) {
  ImageUtil image(5, 3, 3);
  ASSERT_TRUE(image.isValid());
  EXPECT_EQ(0, cv::countNonZero(image.getImage().reshape(1)));
  image.swapImages();
  EXPECT_EQ(0, cv::countNonZero(image.getImage().reshape(1)));
}

TEST(ImageUtil, RejectsFramesOfTheWrongLengthAndKeepsThePicture) {
  std::mt19937 random(7);
  ImageUtil image(4, 3, 3);
  ASSERT_TRUE(image.sequenceToImage(randomSequence(12, random)));
  const cv::Mat before = image.getImage().clone();

  for (std::size_t length : {std::size_t(11), std::size_t(13), std::size_t(0), std::size_t(4)}) {
    EXPECT_FALSE(image.sequenceToImage(randomSequence(length, random))) << length;
    EXPECT_FALSE(image.sequenceToMirroredImage(randomSequence(length, random), true, true));
    EXPECT_TRUE(sameBytes(before, image.getImage())) << length;
  }
  cv::Mat reference = before.clone();
  EXPECT_FALSE(ImageUtil::sequenceToImageReference(randomSequence(11, random), reference));
  EXPECT_FALSE(ImageUtil::sequenceToImageReference(randomSequence(13, random), reference));
  EXPECT_TRUE(sameBytes(before, reference));
}

TEST(ImageUtil, MirrorsIntoTheBackImageAndSwaps) {
  std::mt19937 random(11);
  for (int flipCode : {1, 0}) {
    ImageUtil image(5, 3, 3);
    ASSERT_TRUE(image.sequenceToImage(randomSequence(15, random)));
    const cv::Mat original = image.getImage().clone();
    const unsigned char* firstFront = image.getImage().data;

    flipCode == 1 ? image.flipHorizontal() : image.flipVertical();
    const cv::Mat mirrored = image.getImage();
    EXPECT_NE(firstFront, mirrored.data) << "the front image must be the former back image";
    cv::Mat expected;
    cv::flip(original, expected, flipCode);
    EXPECT_TRUE(sameBytes(expected, mirrored)) << flipCode;

    flipCode == 1 ? image.flipHorizontal() : image.flipVertical();
    EXPECT_EQ(firstFront, image.getImage().data) << "the second mirror swaps back";
    EXPECT_TRUE(sameBytes(original, image.getImage())) << flipCode;
  }
}

TEST(ImageUtil, FastPathsMatchTheReferenceOnRandomFrames) {
  std::mt19937 random(2024);
  const cv::Size sizes[] = {{1, 1}, {3, 5}, {17, 9}, {1, 1001}, {1001, 1}, {641, 479}};
  for (int channels : {3, 4}) {
    for (const cv::Size& size : sizes) {
      SCOPED_TRACE(::testing::Message() << size << " x" << channels);
      ImageUtil image(size.width, size.height, channels);
      const Sequence seq = randomSequence(size.area(), random);
      ASSERT_TRUE(image.sequenceToImage(seq));
      cv::Mat reference(size, CV_8UC(channels), cv::Scalar::all(0));
      ASSERT_TRUE(ImageUtil::sequenceToImageReference(seq, reference));
      EXPECT_TRUE(sameBytes(reference, image.getImage()));
      // The fused decode gives what the reference and cv::flip give.
      for (int flipCode : {1, 0, -1, 2}) {
        cv::Mat mirrored = reference.clone();
        if (flipCode != 2) cv::flip(reference, mirrored, flipCode);
        ASSERT_TRUE(
            image.sequenceToMirroredImage(seq, flipCode != 0 && flipCode != 2, flipCode <= 0));
        EXPECT_TRUE(sameBytes(mirrored, image.getImage())) << "flip code " << flipCode;
      }
      ASSERT_TRUE(image.sequenceToImage(seq));

      cv::Mat front = image.getImage();
      cv::randu(front, cv::Scalar::all(0), cv::Scalar::all(256));
      Sequence encoded;
      Sequence expected;
      image.imageToSequence(encoded);
      ImageUtil::imageToSequenceReference(front, expected);
      ASSERT_EQ(expected.length(), encoded.length());
      for (CORBA::ULong i = 0; i < expected.length(); ++i) {
        ASSERT_EQ(element(expected, i), element(encoded, i)) << "element " << i;
      }
    }
  }
}

TEST(ImageUtil, FourChannelImagesKeepTheirFourthBytes) {
  std::mt19937 random(5);
  ImageUtil image(7, 3, 4);
  ASSERT_TRUE(image.isValid());
  cv::Mat front = image.getImage();
  front.setTo(cv::Scalar(0, 0, 0, 0x5A));
  ASSERT_TRUE(image.sequenceToImage(randomSequence(21, random)));

  std::vector<cv::Mat> planes;
  cv::split(image.getImage(), planes);
  EXPECT_EQ(21, cv::countNonZero(planes[3] == 0x5A));

  Sequence encoded;
  image.imageToSequence(encoded);
  ASSERT_EQ(21u, encoded.length());
  for (CORBA::ULong i = 0; i < encoded.length(); ++i) {
    EXPECT_EQ(0xFFu, element(encoded, i) >> 24) << "element " << i;
  }
}

TEST(ImageUtil, RefusesInvalidSizesWithoutAllocating) {
  struct Case {
    int width, height, channels;
  };
  const Case cases[] = {
      {0, 10, 3},
      {10, 0, 3},
      {-1, 10, 3},
      {10, -5, 3},
      {100000, 100000, 3},
      {8193, 8192, 3},
      {INT_MAX, INT_MAX, 3},
      {INT_MIN, -1, 3},   // both negative, yet the product is positive
      {65536, 65536, 3},  // 2^32 pixels: wraps to 0 in 32 bits
      {10, 10, 1},
      {10, 10, 2},
      {10, 10, 5},
      {10, 10, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << " x" << c.channels);
    CountingAllocator counter;
    ImageUtil image(c.width, c.height, c.channels);
    EXPECT_EQ(0, counter.count());
    EXPECT_FALSE(image.isValid());
    EXPECT_TRUE(image.getImage().empty());
    EXPECT_FALSE(image.sequenceToImage(Sequence()));
    EXPECT_FALSE(image.sequenceToImage(makeSequence({1, 2, 3})));
    image.flipHorizontal();
    image.flipVertical();
    Sequence seq = makeSequence({1, 2});
    image.imageToSequence(seq);
    EXPECT_EQ(0u, seq.length());
  }
}

TEST(ImageUtil, AcceptsTheLargestSize) {
  ImageUtil wide(1 << 26, 1, 3);
  EXPECT_TRUE(wide.isValid());
}

TEST(ImageUtil, DecodingAndMirroringAllocateNothing) {
  std::mt19937 random(3);
  for (int channels : {3, 4}) {
    ImageUtil image(320, 240, channels);
    const Sequence seq = randomSequence(320 * 240, random);
    const unsigned char* first = image.getImage().data;
    image.swapImages();
    const unsigned char* second = image.getImage().data;

    CountingAllocator counter;
    for (int frame = 0; frame < 5; ++frame) {
      ASSERT_TRUE(image.sequenceToImage(seq));
      image.flipHorizontal();
      image.flipVertical();
      ASSERT_TRUE(image.sequenceToMirroredImage(seq, frame % 2 == 0, frame < 3));
      const unsigned char* front = image.getImage().data;
      EXPECT_TRUE(front == first || front == second) << "an image was reallocated";
    }
    EXPECT_EQ(0, counter.count()) << channels << " channels";
  }
}

// A mirror draws into the back image unlocked while another thread encodes
// the front one under the lock; the swap that ends the mirror must wait for
// that encoding. Without the swap's lock the encoder reads an image that the
// next mirror is drawing into and sees a mix of two pictures.
TEST(ImageUtil, EncodingBesideMirrorsSeesOnlyWholePictures) {
  const int width = 256;
  const int height = 128;
  std::mt19937 random(5);
  const Sequence original = randomSequence(width * height, random);
  // Horizontal and vertical mirrors in turn show four pictures in turn.
  std::vector<Sequence> pictures;
  {
    ImageUtil reference(width, height, 3);
    ASSERT_TRUE(reference.sequenceToImage(original));
    for (int i = 0; i < 4; ++i) {
      pictures.emplace_back();
      reference.imageToSequence(pictures.back());
      i % 2 == 0 ? reference.flipHorizontal() : reference.flipVertical();
    }
  }
  auto whole = [&pictures](const Sequence& seq) {
    for (const Sequence& p : pictures) {
      if (seq.length() == p.length() &&
          std::memcmp(seq.get_buffer(), p.get_buffer(), 4 * std::size_t(p.length())) == 0) {
        return true;
      }
    }
    return false;
  };

  ImageUtil image(width, height, 3);
  ASSERT_TRUE(image.sequenceToImage(original));
  std::atomic<bool> stop{false};
  std::atomic<long> mirrors{0};
  std::thread mirroring([&] {
    for (long i = 0; !stop.load(); ++i) {
      i % 2 == 0 ? image.flipHorizontal() : image.flipVertical();
      mirrors.store(i + 1);
    }
  });
  int reads = 0;
  int mixed = 0;
  Sequence seq;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (reads < 3000 && std::chrono::steady_clock::now() < end) {
    image.imageToSequence(seq);
    ++reads;
    if (!whole(seq)) ++mixed;
  }
  stop = true;
  mirroring.join();
  EXPECT_EQ(0, mixed) << "of " << reads << " pictures read beside " << mirrors.load() << " mirrors";
  EXPECT_GT(mirrors.load(), 10) << "the two threads barely overlapped";
}
