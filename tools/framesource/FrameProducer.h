// The frame source's pictures: which pattern, from where, at what size.
#ifndef PIXMOOR_TOOLS_FRAMESOURCE_FRAMEPRODUCER_H
#define PIXMOOR_TOOLS_FRAMESOURCE_FRAMEPRODUCER_H

#include <cstdint>
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>
#include <string>

namespace framesource {

// What the frames show.
enum class Pattern { Bars, Counter, File, Video };

// Produces frames of one pattern and size into a caller's pixel buffer. Knows
// nothing of the framework: the component owns the buffer and the port.
class FrameProducer {
 public:
  FrameProducer() = default;
  FrameProducer(const FrameProducer&) = delete;
  FrameProducer& operator=(const FrameProducer&) = delete;

  // Parses "bars", "counter", "file" or "video"; false for anything else.
  static bool parsePattern(const std::string& text, Pattern* pattern);

  // Checks the size and opens the source (a picture file for "file"; a video
  // file or a camera number for "video"). Returns "" when ready, else why not.
  std::string open(const std::string& pattern, int width, int height, const std::string& source);
  // Releases the source; open() may be called again.
  void close();

  // True when every frame shows the same picture (bars, file): the caller
  // may paint it once and send the buffer again and again.
  bool isStill() const;
  // Writes frame number `index` (from 0) into `pixels`, width x height of
  // them. False with `error` set when the source gives no frame.
  bool produce(std::uint64_t index, std::int32_t* pixels, std::string* error);

  int width() const { return m_width; }
  int height() const { return m_height; }

 private:
  // Converts `frame` to 8-bit BGR at the frame size and encodes it.
  void encodeScaled(const cv::Mat& frame, std::int32_t* pixels);

  Pattern m_pattern = Pattern::Bars;
  int m_width = 0;
  int m_height = 0;
  std::string m_source;
  bool m_sourceIsFile = false;
  cv::Mat m_still;  // the scaled picture of "file"
  cv::VideoCapture m_capture;
  cv::Mat m_captured;  // reused by every read, so reading allocates once
  cv::Mat m_bgr;
  cv::Mat m_scaled;
};

}  // namespace framesource

#endif
