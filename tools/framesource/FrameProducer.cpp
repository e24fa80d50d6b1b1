#include "FrameProducer.h"

#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "FramePainter.h"

namespace framesource {

namespace {

bool isDeviceNumber(const std::string& text) {
  if (text.empty() || text.size() > 4) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

bool FrameProducer::parsePattern(const std::string& text, Pattern* pattern) {
  if (text == "bars") {
    *pattern = Pattern::Bars;
  } else if (text == "counter") {
    *pattern = Pattern::Counter;
  } else if (text == "file") {
    *pattern = Pattern::File;
  } else if (text == "video") {
    *pattern = Pattern::Video;
  } else {
    return false;
  }
  return true;
}

std::string FrameProducer::open(const std::string& pattern, int width, int height,
                                const std::string& source) {
  close();
  if (!parsePattern(pattern, &m_pattern)) {
    return "unknown pattern '" + pattern + "': use bars, counter, file or video";
  }
  const std::string sizeError = checkFrameSize(width, height);
  if (!sizeError.empty()) return sizeError;
  m_width = width;
  m_height = height;
  m_source = source;

  if (m_pattern == Pattern::File) {
    if (source.empty()) return "pattern 'file' needs a picture: set the parameter 'source'";
    if (!std::ifstream(source).good())
      return "cannot read a picture from '" + source + "': no such file";
    cv::Mat picture;
    try {
      picture = cv::imread(source, cv::IMREAD_COLOR);
    } catch (const cv::Exception& ex) {
      return "cannot read a picture from '" + source + "': " + ex.what();
    }
    if (picture.empty()) return "cannot read a picture from '" + source + "'";
    cv::resize(picture, m_still, cv::Size(width, height), 0, 0, cv::INTER_AREA);
  } else if (m_pattern == Pattern::Video) {
    if (source.empty()) {
      return "pattern 'video' needs a video file or camera number: set the parameter 'source'";
    }
    m_sourceIsFile = !isDeviceNumber(source);
    const bool isUrl = source.find("://") != std::string::npos;
    if (m_sourceIsFile && !isUrl && !std::ifstream(source).good()) {
      return "cannot open the video '" + source + "': no such file";
    }
    try {
      // The direct backends first: trying every backend loads GStreamer's
      // plugins, which is slow and keeps memory for the life of the process.
      const bool opened = m_sourceIsFile ? m_capture.open(source, cv::CAP_FFMPEG) ||
                                               m_capture.open(source, cv::CAP_ANY)
                                         : m_capture.open(std::stoi(source), cv::CAP_V4L2) ||
                                               m_capture.open(std::stoi(source), cv::CAP_ANY);
      if (!opened || !m_capture.isOpened()) {
        return m_sourceIsFile ? "cannot open the video '" + source + "'"
                              : "cannot open camera " + source;
      }
    } catch (const cv::Exception& ex) {
      return "cannot open '" + source + "': " + ex.what();
    }
  }
  return "";
}

void FrameProducer::close() {
  if (m_capture.isOpened()) m_capture.release();
  m_still.release();
}

bool FrameProducer::isStill() const {
  return m_pattern == Pattern::Bars || m_pattern == Pattern::File;
}

bool FrameProducer::produce(std::uint64_t index, std::int32_t* pixels, std::string* error) {
  switch (m_pattern) {
    case Pattern::Bars:
      paintBars(pixels, m_width, m_height);
      return true;
    case Pattern::Counter:
      paintCounter(pixels, static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height),
                   index);
      return true;
    case Pattern::File:
      encodeImage(m_still, pixels);
      return true;
    case Pattern::Video:
      break;
  }
  try {
    bool got = m_capture.read(m_captured) && !m_captured.empty();
    if (!got && m_sourceIsFile) {
      // A file plays in a loop, so a short clip can feed a long test.
      m_capture.set(cv::CAP_PROP_POS_FRAMES, 0);
      got = m_capture.read(m_captured) && !m_captured.empty();
    }
    if (!got) {
      *error = m_sourceIsFile ? "the video '" + m_source + "' gives no frames"
                              : "camera " + m_source + " gives no frame";
      return false;
    }
    encodeScaled(m_captured, pixels);
  } catch (const cv::Exception& ex) {
    *error = "reading '" + m_source + "' failed: " + ex.what();
    return false;
  }
  return true;
}

void FrameProducer::encodeScaled(const cv::Mat& frame, std::int32_t* pixels) {
  const cv::Mat* bgr = &frame;
  if (frame.depth() != CV_8U) {
    frame.convertTo(m_bgr, CV_8U);
    bgr = &m_bgr;
  }
  if (bgr->channels() == 1) {
    cv::cvtColor(*bgr, m_bgr, cv::COLOR_GRAY2BGR);
    bgr = &m_bgr;
  } else if (bgr->channels() == 4) {
    cv::cvtColor(*bgr, m_bgr, cv::COLOR_BGRA2BGR);
    bgr = &m_bgr;
  }
  if (bgr->cols == m_width && bgr->rows == m_height) {
    encodeImage(*bgr, pixels);
    return;
  }
  cv::resize(*bgr, m_scaled, cv::Size(m_width, m_height), 0, 0, cv::INTER_AREA);
  encodeImage(m_scaled, pixels);
}

}  // namespace framesource
