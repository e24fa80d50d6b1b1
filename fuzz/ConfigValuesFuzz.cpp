// Configuration values as tools send them: text converted to the bound
// variable's type with the framework's conversion, a failed conversion
// leaving the default, across set changes.
// Input: lines; the first four are values for the four parameters of the
// active set, the rest "set.param: value" lines of further sets.
#include <coil/Properties.h>
#include <coil/stringutil.h>
#include <rtm/ConfigAdmin.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"

namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::string::size_type begin = 0;
  while (begin <= text.size()) {
    std::string::size_type end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    // Values reach the configuration as CORBA strings, which end at a NUL.
    std::string line = text.substr(begin, end - begin);
    line.erase(std::min(line.find('\0'), line.size()));
    out.push_back(line);
    begin = end + 1;
  }
  return out;
}

// The value a parameter of type T must hold after `text` was applied.
template <typename T>
T expected(const std::string& text, const char* def) {
  T value{};
  if (!coil::stringTo(value, text.c_str())) coil::stringTo(value, def);
  return value;
}

template <typename T>
void convertAll(const std::string& text) {
  T value{};
  coil::stringTo(value, text.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  pixmoor_fuzz::addDefaults(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, size_t size) {
  if (size > 4096) return 0;
  const std::vector<std::string> l = lines(std::string(reinterpret_cast<const char*>(input), size));
  for (const std::string& text : l) {
    convertAll<int>(text);
    convertAll<unsigned int>(text);
    convertAll<short>(text);
    convertAll<unsigned short>(text);
    convertAll<long long>(text);
    convertAll<float>(text);
    convertAll<double>(text);
    convertAll<bool>(text);
    convertAll<char>(text);
    coil::toBool(text, true);
  }

  coil::Properties conf;
  std::string sets;
  for (size_t i = 4; i < l.size(); ++i) sets += l[i] + "\n";
  std::istringstream in(sets);
  conf.load(in);
  RTC::ConfigAdmin admin(conf, nullptr);
  int width = 0;
  double rate = 0;
  bool flag = false;
  std::string label;
  admin.bindParameter("input_image_width", width, "640");
  admin.bindParameter("rate", rate, "1.5");
  admin.bindParameter("flag", flag, "1");
  admin.bindParameter("label", label, "none");

  const char* names[] = {"input_image_width", "rate", "flag", "label"};
  for (size_t i = 0; i < 4 && i < l.size(); ++i) admin.setActiveValue(names[i], l[i]);
  admin.update();
  coil::Properties active;
  admin.getConfigurationSet(admin.getActiveId(), active);
  coil::Properties defaults;
  admin.getConfigurationSet("default", defaults);
  auto text = [&](const char* name) {
    return active.hasKey(name) ? active.getProperty(name) : defaults.getProperty(name);
  };
  FUZZ_CHECK(width == expected<int>(text("input_image_width"), "640"), "width differs");
  const double r = expected<double>(text("rate"), "1.5");
  FUZZ_CHECK(rate == r || (rate != rate && r != r), "rate differs");
  FUZZ_CHECK(flag == expected<bool>(text("flag"), "1"), "flag differs");
  FUZZ_CHECK(label == text("label"), "a string parameter changed on its way");

  // Every other set may be activated; the variables follow.
  for (const std::string& id : admin.getConfigurationSetIds()) {
    if (!admin.activateConfigurationSet(id)) continue;
    admin.update();
    FUZZ_CHECK(admin.getActiveId() == id, "the activated set is not active");
    FUZZ_CHECK(!admin.isChanged(), "a change is left after update");
  }
  return 0;
}
