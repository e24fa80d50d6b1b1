#include "ImageUtil.h"

#include <cstring>
#include <opencv2/imgproc.hpp>

#include "ScopedLock.h"

constexpr std::int64_t ImageUtil::kMaxPixels;
constexpr int ImageUtil::kMinChannels;
constexpr int ImageUtil::kMaxChannels;

namespace {

constexpr std::uint32_t kOpaque = 0xFF000000u;

// The fast paths view a sequence element as the four bytes blue, green, red,
// alpha in memory order, which holds only on a little-endian host.
bool hostIsLittleEndian() {
  const std::uint32_t probe = 1;
  unsigned char first = 0;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

bool isConvertible(const cv::Mat& image) {
  return image.dims == 2 && image.depth() == CV_8U && image.channels() >= 3 && !image.empty();
}

// Blue, green and red go to (or come from) the first three bytes of a pixel;
// later bytes are neither read nor written.
const int kColourFromTo[] = {0, 0, 1, 1, 2, 2};

}  // namespace

ImageUtil::ImageUtil(int width, int height, int channels) : m_valid(false) {
  const std::int64_t pixels = static_cast<std::int64_t>(width) * height;
  if (width <= 0 || height <= 0 || pixels > kMaxPixels || channels < kMinChannels ||
      channels > kMaxChannels) {
    return;
  }
  try {
    const int type = CV_8UC(channels);
    m_frontImage = cv::Mat(height, width, type, cv::Scalar::all(0));
    m_backImage = cv::Mat(height, width, type, cv::Scalar::all(0));
    m_valid = true;
  } catch (...) {
    // OpenCV reports a failed allocation as cv::Exception or std::bad_alloc;
    // either way the buffer stays without images and says so.
    m_frontImage.release();
    m_backImage.release();
  }
}

ImageUtil::~ImageUtil() {
  m_frontImage.release();
  m_backImage.release();
}

bool ImageUtil::isValid() const { return m_valid; }

cv::Mat ImageUtil::getImage() {
  ScopedLock guard(&m_lock);
  return m_frontImage;
}

void ImageUtil::imageToSequence(RTC::TimedLongSeq::_data_seq& seq) {
  ScopedLock guard(&m_lock);
  if (!m_valid) {
    seq.length(0);
    return;
  }
  if (!hostIsLittleEndian()) {
    imageToSequenceReference(m_frontImage, seq);
    return;
  }
  seq.length(static_cast<CORBA::ULong>(m_frontImage.total()));
  // The sequence's own buffer, seen as a 4-channel image: no copy, and the
  // exact size and type keep OpenCV from reallocating it.
  cv::Mat packed(m_frontImage.rows, m_frontImage.cols, CV_8UC4, seq.get_buffer());
  if (m_frontImage.channels() == 3) {
    cv::cvtColor(m_frontImage, packed, cv::COLOR_BGR2BGRA);
  } else {
    packed.setTo(cv::Scalar(0, 0, 0, 0xFF));
    cv::mixChannels(&m_frontImage, 1, &packed, 1, kColourFromTo, 3);
  }
}

bool ImageUtil::fitsFrontImage(const RTC::TimedLongSeq::_data_seq& seq) const {
  const std::int64_t pixels = static_cast<std::int64_t>(m_frontImage.rows) * m_frontImage.cols;
  return m_valid && static_cast<std::int64_t>(seq.length()) == pixels;
}

bool ImageUtil::sequenceToImage(const RTC::TimedLongSeq::_data_seq& seq) {
  ScopedLock guard(&m_lock);
  if (!fitsFrontImage(seq)) {
    return false;
  }
  if (!hostIsLittleEndian()) {
    return sequenceToImageReference(seq, m_frontImage);
  }
  // Read the sequence's buffer in place, once its length is known to match;
  // OpenCV's vectorised conversions then do the per-pixel work.
  const cv::Mat packed(m_frontImage.rows, m_frontImage.cols, CV_8UC4,
                       const_cast<CORBA::Long*>(seq.get_buffer()));
  if (m_frontImage.channels() == 3) {
    cv::cvtColor(packed, m_frontImage, cv::COLOR_BGRA2BGR);
  } else {
    // cvtColor would rewrite the fourth image byte; mixChannels leaves it.
    cv::mixChannels(&packed, 1, &m_frontImage, 1, kColourFromTo, 3);
  }
  return true;
}

bool ImageUtil::sequenceToMirroredImage(const RTC::TimedLongSeq::_data_seq& seq, bool flipH,
                                        bool flipV) {
  if ((flipH || flipV) && hostIsLittleEndian()) {
    ScopedLock guard(&m_lock);
    if (!fitsFrontImage(seq)) {
      return false;
    }
    if (m_frontImage.channels() == 3) {
      decodeMirrored(seq, flipH, flipV);
      return true;
    }
  }
  if (!sequenceToImage(seq)) {
    return false;
  }
  if (flipH) {
    flipHorizontal();
  }
  if (flipV) {
    flipVertical();
  }
  return true;
}

void ImageUtil::decodeMirrored(const RTC::TimedLongSeq::_data_seq& seq, bool flipH, bool flipV) {
  const int rows = m_frontImage.rows;
  const int cols = m_frontImage.cols;
  const CORBA::Long* source = seq.get_buffer();
  for (int y = 0; y < rows; ++y, source += cols) {
    cv::Mat target = m_frontImage.row(flipV ? rows - 1 - y : y);
    if (!flipH) {
      // A top-bottom mirror only moves whole rows: each decodes vectorised
      // straight into its mirrored place (same size and type: no reallocation).
      const cv::Mat packed(1, cols, CV_8UC4, const_cast<CORBA::Long*>(source));
      cv::cvtColor(packed, target, cv::COLOR_BGRA2BGR);
      continue;
    }
    unsigned char* pixel = target.ptr<unsigned char>() + 3 * (cols - 1);
    for (int x = 0; x < cols; ++x, pixel -= 3) {
      const std::uint32_t value = static_cast<std::uint32_t>(source[x]);
      pixel[0] = static_cast<unsigned char>(value);
      pixel[1] = static_cast<unsigned char>(value >> 8);
      pixel[2] = static_cast<unsigned char>(value >> 16);
    }
  }
}

void ImageUtil::flipHorizontal() { flipInto(1); }

void ImageUtil::flipVertical() { flipInto(0); }

void ImageUtil::flipInto(int flipCode) {
  if (!m_valid) {
    return;
  }
  // Both images have the same size and type, so cv::flip draws into the
  // existing back image instead of allocating one.
  cv::flip(m_frontImage, m_backImage, flipCode);
  swapImages();
}

void ImageUtil::swapImages() {
  ScopedLock guard(&m_lock);
  cv::swap(m_frontImage, m_backImage);
}

bool ImageUtil::sequenceToImageReference(const RTC::TimedLongSeq::_data_seq& seq, cv::Mat& image) {
  if (!isConvertible(image)) {
    return false;
  }
  const std::int64_t pixels = static_cast<std::int64_t>(image.rows) * image.cols;
  if (static_cast<std::int64_t>(seq.length()) != pixels) {
    return false;
  }
  const CORBA::Long* source = seq.get_buffer();
  const int channels = image.channels();
  for (int y = 0; y < image.rows; ++y) {
    unsigned char* pixel = image.ptr<unsigned char>(y);
    for (int x = 0; x < image.cols; ++x, pixel += channels) {
      const std::uint32_t value = static_cast<std::uint32_t>(*source++);
      pixel[0] = static_cast<unsigned char>(value);
      pixel[1] = static_cast<unsigned char>(value >> 8);
      pixel[2] = static_cast<unsigned char>(value >> 16);
    }
  }
  return true;
}

void ImageUtil::imageToSequenceReference(const cv::Mat& image, RTC::TimedLongSeq::_data_seq& seq) {
  const std::int64_t pixels = static_cast<std::int64_t>(image.rows) * image.cols;
  if (!isConvertible(image) || pixels > 0xFFFFFFFF) {
    seq.length(0);
    return;
  }
  seq.length(static_cast<CORBA::ULong>(pixels));
  CORBA::Long* target = seq.get_buffer();
  const int channels = image.channels();
  for (int y = 0; y < image.rows; ++y) {
    const unsigned char* pixel = image.ptr<unsigned char>(y);
    for (int x = 0; x < image.cols; ++x, pixel += channels) {
      const std::uint32_t value = kOpaque | std::uint32_t(pixel[2]) << 16 |
                                  std::uint32_t(pixel[1]) << 8 | std::uint32_t(pixel[0]);
      *target++ = static_cast<CORBA::Long>(value);
    }
  }
}
