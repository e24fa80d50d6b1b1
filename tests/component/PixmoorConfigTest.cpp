// Pixmoor inside a manager in this process: its registration, what
// onInitialize publishes, and configuration changes made the way tools make
// them reaching the bound members with the framework's conversions.
#include <gtest/gtest.h>
#include <rtm/Manager.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ImageDisplay.h"
#include "Pixmoor.h"
#include "PixmoorProfile.h"
#include "TestSupport.h"

namespace {

using pixmoor_test::waitUntil;

// Window calls go nowhere: activation needs no desktop.
class NoDisplay : public ImageDisplay {
 public:
  bool reachable(std::string*) override { return true; }
  void openWindow(const char*) override {}
  void watchConnection(std::function<void()>) override {}
  void show(const char*, const cv::Mat&) override {}
  void processEvents(int) override {}
  void pollEvents() override {}
  void closeAllWindows() override {}
};
NoDisplay g_noDisplay;

// Pixmoor with its parameter members in view.
class ProbePixmoor : public Pixmoor {
 public:
  explicit ProbePixmoor(RTC::Manager* manager) : Pixmoor(manager) { setDisplay(&g_noDisplay); }
  int width() const { return m_input_image_width; }
  int height() const { return m_input_image_height; }
  int flipH() const { return m_flip_h; }
  int flipV() const { return m_flip_v; }
};

RTC::RTObject_impl* createProbe(RTC::Manager* m) { return new ProbePixmoor(m); }
void deleteProbe(RTC::RTObject_impl* rtc) { delete rtc; }

class ManagerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    s_dir = pixmoor_test::makeTempDir("pixmoor-config");
    pixmoor_test::writeFile(s_dir + "/rtc.conf",
                            "corba.endpoint: 127.0.0.1:\n"
                            "naming.enable: NO\n"
                            "manager.shutdown_on_nortcs: NO\n"
                            "logger.file_name: " +
                                s_dir +
                                "/rtc.log\n"
                                "exec_cxt.transition_timeout: 5\n"
                                "exec_cxt.periodic.rate: 200\n");
    std::string conf = s_dir + "/rtc.conf";
    std::vector<char*> argv = {const_cast<char*>("PixmoorConfigTest"), const_cast<char*>("-f"),
                               &conf[0], nullptr};
    RTC::Manager* manager = RTC::Manager::init(3, argv.data());
    ASSERT_TRUE(manager->activateManager());
    PixmoorInit(manager);
  }
  void TearDown() override {
    RTC::Manager::instance().shutdown();
    pixmoor_test::removeTree(s_dir);
  }
  static std::string s_dir;
};
std::string ManagerEnvironment::s_dir;
::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new ManagerEnvironment);

coil::Properties registeredProfile(const std::string& id) {
  for (const coil::Properties& p : RTC::Manager::instance().getFactoryProfiles()) {
    if (p.getProperty("implementation_id") == id) return p;
  }
  return coil::Properties();
}

// A ProbePixmoor registered with Pixmoor's own profile.
ProbePixmoor* createProbePixmoor() {
  RTC::Manager& manager = RTC::Manager::instance();
  if (registeredProfile("ProbePixmoor").empty()) {
    coil::Properties profile = registeredProfile("Pixmoor");
    profile.setProperty("implementation_id", "ProbePixmoor");
    if (!manager.registerFactory(profile, createProbe, deleteProbe)) return nullptr;
  }
  return dynamic_cast<ProbePixmoor*>(manager.createComponent("ProbePixmoor"));
}

// What the usual tools do: send the whole active set back, then activate it.
void setParameter(RTC::RTObject_ptr ref, const char* name, const char* value) {
  SDOPackage::Configuration_var config = ref->get_configuration();
  SDOPackage::ConfigurationSet_var set = config->get_active_configuration_set();
  for (CORBA::ULong i = 0; i < set->configuration_data.length(); ++i) {
    if (std::string(set->configuration_data[i].name) == name) {
      set->configuration_data[i].value <<= value;
    }
  }
  ASSERT_TRUE(config->set_configuration_set_values(set.in()));
  ASSERT_TRUE(config->activate_configuration_set(set->id));
}

TEST(PixmoorRegistration, ProfileHoldsExactlyTheNineteenPairsInOrder) {
  EXPECT_EQ(pixmoor_test::expectedPixmoorProfile(), registeredProfile("Pixmoor").entries());
}

// The registered functions themselves: the manager makes a Pixmoor and, on
// exit, hands it to the registered delete (a mismatched one shows under the
// sanitizers as a wrong-type delete).
TEST(PixmoorRegistration, ManagerCreatesAndDeletesPixmoorThroughItsRegistration) {
  RTC::Manager& manager = RTC::Manager::instance();
  RTC::RTObject_impl* made = manager.createComponent("Pixmoor");
  ASSERT_NE(nullptr, dynamic_cast<Pixmoor*>(made));
  const std::string name = made->getInstanceName();
  EXPECT_EQ(made, manager.getComponent(name.c_str()));
  RTC::RTObject_var ref = made->getObjRef();
  ASSERT_EQ(RTC::RTC_OK, ref->exit());
  EXPECT_TRUE(waitUntil([&] { return manager.getComponent(name.c_str()) == nullptr; }, 10))
      << name << " is still held by the manager after exit";
}

TEST(PixmoorConfiguration, StartsWithTheDefaultsAndOnePort) {
  ProbePixmoor* probe = createProbePixmoor();
  ASSERT_NE(nullptr, probe);
  EXPECT_EQ(640, probe->width());
  EXPECT_EQ(480, probe->height());
  EXPECT_EQ(0, probe->flipH());
  EXPECT_EQ(0, probe->flipV());
  RTC::RTObject_var ref = probe->getObjRef();
  RTC::PortServiceList_var ports = ref->get_ports();
  ASSERT_EQ(1u, ports->length());
  RTC::PortProfile_var port = ports[0]->get_port_profile();
  EXPECT_EQ(std::string(probe->getInstanceName()) + ".image", std::string(port->name));
  EXPECT_EQ(RTC::RTC_OK, ref->exit());
}

TEST(PixmoorConfiguration, ToolChangesReachTheMembersWithTheStreamConversions) {
  ProbePixmoor* probe = createProbePixmoor();
  ASSERT_NE(nullptr, probe);
  RTC::RTObject_var ref = probe->getObjRef();
  RTC::ExecutionContext_var ec = ref->get_context(0);

  // Before activation: applied just before onActivated.
  setParameter(ref, "input_image_width", "320");
  EXPECT_EQ(640, probe->width()) << "not before the context applies it";
  ASSERT_EQ(RTC::RTC_OK, ec->activate_component(ref));
  EXPECT_EQ(320, probe->width());

  struct Case {
    const char* text;
    int expected;
  };
  // Text that begins with an int gives that int; anything else, or a number
  // beyond 32 bits, the default; negative values count as set.
  const Case cases[] = {{"1", 1},   {"12abc", 12},      {"1.5", 1}, {"abc", 0},
                        {"-7", -7}, {"99999999999", 0}, {" 5", 5},  {"", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    setParameter(ref, "flip_h", c.text);
    EXPECT_TRUE(waitUntil([&] { return probe->flipH() == c.expected; }, 10.0))
        << "flip_h is " << probe->flipH();
    // Move off the expected value so the next case proves its own change.
    setParameter(ref, "flip_h", "77");
    ASSERT_TRUE(waitUntil([&] { return probe->flipH() == 77; }, 10.0));
  }
  setParameter(ref, "flip_v", "-1");
  EXPECT_TRUE(waitUntil([&] { return probe->flipV() == -1; }, 10.0));
  EXPECT_EQ(RTC::RTC_OK, ec->deactivate_component(ref));
  EXPECT_EQ(RTC::RTC_OK, ref->exit());
}

}  // namespace
