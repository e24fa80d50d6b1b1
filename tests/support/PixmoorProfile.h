// What the viewer's component profile must hold, shared by the test that
// reads it from the manager and the one that reads it over CORBA.
#ifndef PIXMOOR_TESTS_SUPPORT_PIXMOORPROFILE_H
#define PIXMOOR_TESTS_SUPPORT_PIXMOORPROFILE_H

#include <string>
#include <utility>
#include <vector>

namespace pixmoor_test {

// Returns the nineteen name/value pairs the viewer registers, in order.
inline std::vector<std::pair<std::string, std::string>> expectedPixmoorProfile() {
  return {
      {"implementation_id", "Pixmoor"},
      {"type_name", "Pixmoor"},
      {"description", "Pixmoor"},
      {"version", "1.0.0"},
      {"vendor", "QZV"},
      {"category", "Generic"},
      {"activity_type", "PERIODIC"},
      {"kind", "DataFlowComponent"},
      {"max_instance", "0"},
      {"language", "C++"},
      {"lang_type", "compile"},
      {"conf.default.input_image_width", "640"},
      {"conf.default.input_image_height", "480"},
      {"conf.default.flip_h", "0"},
      {"conf.default.flip_v", "0"},
      {"conf.__widget__.input_image_width", "text"},
      {"conf.__widget__.input_image_height", "text"},
      {"conf.__widget__.flip_h", "text"},
      {"conf.__widget__.flip_v", "text"},
  };
}

}  // namespace pixmoor_test

#endif
