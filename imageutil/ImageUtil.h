// ImageUtil: the viewer's double-buffered frame image and the frame encoding
// carried on its "image" port.
//
// Frame encoding (the data of an RTC::TimedLongSeq): one 32-bit element per
// pixel, width x height elements, row-major from the top row (element index
// y * width + x). Bits 0-7 hold blue, 8-15 green, 16-23 red; bits 24-31 are
// alpha, written as 0xFF and ignored when read. No size travels with a frame:
// sender and receiver agree on it beforehand.
#ifndef IMAGEUTIL_IMAGEUTIL_H
#define IMAGEUTIL_IMAGEUTIL_H

#include <rtm/idl/BasicDataTypeSkel.h>

#include <cstdint>
#include <opencv2/core.hpp>

#include "LockObject.h"

// Two equally sized 8-bit images: the front one is what callers read and show,
// the back one is where mirrors are drawn before the two change roles.
// Conversions, getImage() and swapImages() are serialised by m_lock; a mirror
// itself runs unlocked, so mirrors and the use of a returned image belong to
// one thread (the viewer's execution context).
class ImageUtil {
 public:
  // Largest picture accepted, in pixels (8192 x 8192); larger sizes are refused
  // before anything is allocated, since the machine overcommits memory.
  static constexpr std::int64_t kMaxPixels = std::int64_t(1) << 26;
  // Channel counts accepted: the encoding carries three colour bytes per pixel,
  // and a fourth image byte is kept but never touched by the conversions.
  static constexpr int kMinChannels = 3;
  static constexpr int kMaxChannels = 4;

  // Creates front and back images of width x height pixels with `channels`
  // 8-bit channels, cleared to black. A size of 0 or less or above kMaxPixels,
  // a channel count outside [kMinChannels, kMaxChannels] or an OpenCV failure
  // leaves no images and isValid() false; nothing is thrown.
  ImageUtil(int width, int height, int channels);
  // Releases the front image, then the back image. Takes no lock.
  virtual ~ImageUtil();
  ImageUtil(const ImageUtil&) = delete;
  ImageUtil& operator=(const ImageUtil&) = delete;

  // Returns whether the images exist; when false every conversion fails.
  bool isValid() const;

  // Returns the front image: a header sharing its pixels, used without the
  // lock (empty when !isValid()).
  cv::Mat getImage();

  // Encodes the front image into `seq`, resizing it to width x height
  // elements (to 0 when !isValid()).
  void imageToSequence(RTC::TimedLongSeq::_data_seq& seq);

  // Decodes `seq` into the front image; returns false and changes nothing when
  // its length is not exactly width x height or when !isValid(). Bits 24-31
  // and any image byte after the third are left alone.
  bool sequenceToImage(const RTC::TimedLongSeq::_data_seq& seq);

  // Decodes `seq` into the front image mirrored left-right and/or top-bottom:
  // the picture sequenceToImage, flipHorizontal and flipVertical give, in one
  // pass over the pixels where the image has 3 channels on a little-endian
  // host, through those three otherwise. Fails as sequenceToImage does.
  bool sequenceToMirroredImage(const RTC::TimedLongSeq::_data_seq& seq, bool flipH, bool flipV);

  // Mirrors the front image left-right into the back image, then swaps them.
  void flipHorizontal();
  // Mirrors the front image top-bottom into the back image, then swaps them.
  void flipVertical();
  // Exchanges the front and back images under the lock.
  void swapImages();

  // Decodes `seq` into `image` one element at a time with plain shifts, on any
  // byte order; returns false and leaves `image` alone when `image` is not a
  // 2-D 8-bit image of 3 or more channels or `seq` has not rows x cols
  // elements. The fallback of sequenceToImage and its reference in tests.
  static bool sequenceToImageReference(const RTC::TimedLongSeq::_data_seq& seq, cv::Mat& image);
  // Encodes `image` into `seq` one pixel at a time, on any byte order; `seq`
  // gets length 0 when `image` is not a 2-D 8-bit image of 3 or more channels.
  static void imageToSequenceReference(const cv::Mat& image, RTC::TimedLongSeq::_data_seq& seq);

 private:
  // Whether the buffer has images and `seq` holds one whole picture of their
  // size. Called with the lock held.
  bool fitsFrontImage(const RTC::TimedLongSeq::_data_seq& seq) const;
  // Decodes `seq` (checked) into the 3-channel front image, mirrored as asked.
  void decodeMirrored(const RTC::TimedLongSeq::_data_seq& seq, bool flipH, bool flipV);
  // Mirrors the front image into the back one with cv::flip's code, then swaps.
  void flipInto(int flipCode);

  cv::Mat m_frontImage;
  cv::Mat m_backImage;
  LockObject m_lock;
  bool m_valid;
};

#endif
