#include "Pixmoor.h"

#include <cstdio>

#include "ImageUtil.h"

// The component type's profile: alternating keys and values, then "".
static const char* component_spec[] = {
    "implementation_id", "Pixmoor",
    "type_name", "Pixmoor",
    "description", "Pixmoor",
    "version", "1.0.0",
    "vendor", "QZV",
    "category", "Generic",
    "activity_type", "PERIODIC",
    "kind", "DataFlowComponent",
    "max_instance", "0",
    "language", "C++",
    "lang_type", "compile",
    "conf.default.input_image_width", "640",
    "conf.default.input_image_height", "480",
    "conf.default.flip_h", "0",
    "conf.default.flip_v", "0",
    "conf.__widget__.input_image_width", "text",
    "conf.__widget__.input_image_height", "text",
    "conf.__widget__.flip_h", "text",
    "conf.__widget__.flip_v", "text",
    ""};

Pixmoor::Pixmoor(RTC::Manager* manager)
    : RTC::DataFlowComponentBase(manager),
      // The parameters get their values when onInitialize binds them; zero
      // until then rather than indeterminate.
      m_input_image_width(0),
      m_input_image_height(0),
      m_flip_h(0),
      m_flip_v(0),
      m_image(),
      m_imageIn("image", m_image),
      m_imageUtil(0) {}

Pixmoor::~Pixmoor() {
  // A component destroyed while active may never see onDeactivated.
  delete m_imageUtil;
  m_imageUtil = 0;
}

RTC::ReturnCode_t Pixmoor::onInitialize() {
  addInPort("image", m_imageIn);

  bindParameter("input_image_width", m_input_image_width, "640");
  bindParameter("input_image_height", m_input_image_height, "480");
  bindParameter("flip_h", m_flip_h, "0");
  bindParameter("flip_v", m_flip_v, "0");

  std::printf("Pixmoor::onInitialize()\n");
  return RTC::RTC_OK;
}

// The host (or any manager loading this module) calls this to make the type
// known; it stays last so the profile and class above are all it needs.
extern "C" {
void PixmoorInit(RTC::Manager* manager) {
  coil::Properties profile(component_spec);
  manager->registerFactory(profile, RTC::Create<Pixmoor>, RTC::Delete<Pixmoor>);
}
};
