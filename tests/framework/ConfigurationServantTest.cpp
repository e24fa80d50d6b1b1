#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "TestSupport.h"
#include "config/ConfigurationServant.h"
#include "corba/ActivatedObject.h"
#include "corba/NVUtil.h"

namespace {

using SDOPackage::ConfigurationSet;
using SDOPackage::ConfigurationSet_var;

coil::Properties confOf(const std::string& text) {
  coil::Properties p;
  std::istringstream in(text);
  p.load(in);
  return p;
}

std::string stringOf(const CORBA::Any& any) {
  const char* text = nullptr;
  return (any >>= text) ? std::string(text) : std::string("<not a string>");
}

// A component's configuration served by a real ORB in this process.
class ConfigurationServantTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pixmoor_test::orb();
    m_admin.reset(new RTC::ConfigAdmin(confOf("default.flip_h: 0\n"
                                              "default.flip_v: 0\n"
                                              "__widget__.flip_h: text\n"
                                              "__constraints__.flip_h: 0<=x<=1\n"),
                                       &m_log));
    m_admin->bindParameter("flip_h", m_flipH, "0");
    m_admin->bindParameter("flip_v", m_flipV, "0");
    CORBA::Object_var obj = m_object.activate(new RTC::ConfigurationServant(*m_admin, m_log));
    m_ref = SDOPackage::Configuration::_narrow(obj);
    ASSERT_FALSE(CORBA::is_nil(m_ref));
  }
  void TearDown() override {
    m_object.shutdown();
    m_admin.reset();
  }

  static ConfigurationSet setOf(const char* id, const coil::Properties& values) {
    ConfigurationSet set;
    set.id = CORBA::string_dup(id);
    set.description = CORBA::string_dup("");
    NVUtil::copyFromProperties(set.configuration_data, values);
    return set;
  }

  RTC::Logger m_log{"Pixmoor0"};
  int m_flipH = -1;
  int m_flipV = -1;
  std::unique_ptr<RTC::ConfigAdmin> m_admin;
  RTC::ActivatedServant<RTC::ConfigurationServant> m_object;
  SDOPackage::Configuration_var m_ref;
};

TEST_F(ConfigurationServantTest, ListsEverySetIncludingToolHints) {
  SDOPackage::ConfigurationSetList_var sets = m_ref->get_configuration_sets();
  ASSERT_EQ(sets->length(), 3u);
  EXPECT_STREQ(sets[0].id, "default");
  EXPECT_STREQ(sets[1].id, "__widget__");
  EXPECT_STREQ(sets[2].id, "__constraints__");
  ASSERT_EQ(sets[0].configuration_data.length(), 2u);
  EXPECT_STREQ(sets[0].configuration_data[0].name, "flip_h");
  EXPECT_EQ(stringOf(sets[0].configuration_data[0].value), "0");

  ConfigurationSet_var widget = m_ref->get_configuration_set("__widget__");
  EXPECT_EQ(NVUtil::toString(widget->configuration_data, "flip_h"), "text");
  ConfigurationSet_var active = m_ref->get_active_configuration_set();
  EXPECT_STREQ(active->id, "default");
  SDOPackage::ParameterList_var params = m_ref->get_configuration_parameters();
  EXPECT_EQ(params->length(), 0u);
}

// What the usual tools do: send the whole active set back, then activate it.
TEST_F(ConfigurationServantTest, ToolEditReachesVariablesOnUpdate) {
  ConfigurationSet_var active = m_ref->get_active_configuration_set();
  NVUtil::setStringValue(active->configuration_data, "flip_h", "1");
  NVUtil::setStringValue(active->configuration_data, "flip_v", "-1");
  EXPECT_TRUE(m_ref->set_configuration_set_values(active.in()));
  EXPECT_TRUE(m_ref->activate_configuration_set("default"));
  EXPECT_EQ(m_flipH, 0) << "applied only on the context's thread";
  m_admin->update();
  EXPECT_EQ(m_flipH, 1);
  EXPECT_EQ(m_flipV, -1);

  CORBA::Any text;
  text <<= "0";
  EXPECT_TRUE(m_ref->set_configuration_parameter("flip_h", text));
  m_admin->update();
  EXPECT_EQ(m_flipH, 0);
  CORBA::Any_var value = m_ref->get_configuration_parameter_value("flip_v");
  EXPECT_EQ(stringOf(value.in()), "-1");
  SDOPackage::NVList_var values = m_ref->get_configuration_parameter_values();
  EXPECT_EQ(NVUtil::toString(values.in(), "flip_h"), "0");
}

TEST_F(ConfigurationServantTest, AddActivateAndRemoveSets) {
  EXPECT_TRUE(m_ref->add_configuration_set(setOf("mirror", confOf("flip_h: 1\n"))));
  EXPECT_FALSE(m_ref->add_configuration_set(setOf("mirror", coil::Properties())));
  EXPECT_TRUE(m_ref->activate_configuration_set("mirror"));
  m_admin->update();
  EXPECT_EQ(m_flipH, 1);
  // The active set lacks flip_v: its value comes from "default".
  CORBA::Any_var value = m_ref->get_configuration_parameter_value("flip_v");
  EXPECT_EQ(stringOf(value.in()), "0");
  EXPECT_FALSE(m_ref->remove_configuration_set("mirror")) << "active set";
  EXPECT_TRUE(m_ref->activate_configuration_set("default"));
  EXPECT_TRUE(m_ref->remove_configuration_set("mirror"));

  // Every set is kept for the component's life: together they hold at most
  // kMaxBytes, whether new sets or new values bring them there.
  coil::Properties half;
  half.setProperty("note", std::string(RTC::ConfigAdmin::kMaxBytes / 2, 'x'));
  EXPECT_TRUE(m_ref->add_configuration_set(setOf("big", half)));
  EXPECT_THROW(m_ref->add_configuration_set(setOf("bigger", half)), SDOPackage::NotAvailable);
  EXPECT_FALSE(m_admin->haveConfig("bigger"));
  EXPECT_THROW(m_ref->set_configuration_set_values(setOf("default", half)),
               SDOPackage::NotAvailable);
  EXPECT_FALSE(m_admin->setActiveValue("note", half.getProperty("note")));
  coil::Properties kept;
  ASSERT_TRUE(m_admin->getConfigurationSet("default", kept));
  EXPECT_FALSE(kept.hasKey("note"));
  EXPECT_TRUE(m_ref->remove_configuration_set("big"));
  EXPECT_TRUE(m_ref->add_configuration_set(setOf("bigger", half)));

  // The limit itself is within it; one byte more is not.
  SDOPackage::ConfigurationSetList_var all = m_ref->get_configuration_sets();
  std::size_t used = 0;
  for (CORBA::ULong i = 0; i < all->length(); ++i) {
    used += std::strlen(all[i].id);
    for (CORBA::ULong j = 0; j < all[i].configuration_data.length(); ++j) {
      used += std::strlen(all[i].configuration_data[j].name) +
              stringOf(all[i].configuration_data[j].value).size();
    }
  }
  coil::Properties rest;
  rest.setProperty("k", std::string(RTC::ConfigAdmin::kMaxBytes - used - 5, 'y'));
  EXPECT_TRUE(m_ref->add_configuration_set(setOf("fill", rest)));
  EXPECT_TRUE(m_ref->remove_configuration_set("fill"));
  rest.setProperty("k", rest.getProperty("k") + "y");
  EXPECT_THROW(m_ref->add_configuration_set(setOf("fill", rest)), SDOPackage::NotAvailable);
}

TEST_F(ConfigurationServantTest, UnknownIdsRaiseWhatTheFrameworkRaises) {
  EXPECT_THROW(m_ref->get_configuration_set("nosuch"), SDOPackage::InternalError);
  EXPECT_THROW(m_ref->activate_configuration_set("nosuch"), SDOPackage::InvalidParameter);
  EXPECT_THROW(m_ref->activate_configuration_set("__widget__"), SDOPackage::InvalidParameter);
  EXPECT_THROW(m_ref->set_configuration_set_values(setOf("nosuch", confOf("flip_h: 1\n"))),
               SDOPackage::InvalidParameter);
  EXPECT_THROW(m_ref->remove_configuration_set("nosuch"), SDOPackage::InvalidParameter);
  EXPECT_THROW(m_ref->add_configuration_set(setOf("", coil::Properties())),
               SDOPackage::InvalidParameter);
  EXPECT_THROW(m_ref->get_configuration_parameter_value("nosuch"), SDOPackage::InvalidParameter);
  EXPECT_FALSE(m_admin->haveConfig("nosuch"));
}

TEST_F(ConfigurationServantTest, NonStringValuesAreRefusedAndChangeNothing) {
  ConfigurationSet set = setOf("default", confOf("flip_v: 1\n"));
  set.configuration_data.length(2);
  set.configuration_data[1].name = CORBA::string_dup("flip_h");
  set.configuration_data[1].value <<= static_cast<CORBA::Long>(1);
  EXPECT_THROW(m_ref->set_configuration_set_values(set), SDOPackage::InvalidParameter);
  EXPECT_FALSE(m_admin->isChanged()) << "flip_v before the bad entry must not be applied";

  CORBA::Any number;
  number <<= 3.5;
  EXPECT_THROW(m_ref->set_configuration_parameter("flip_h", number), SDOPackage::InvalidParameter);
  CORBA::Any empty;
  EXPECT_THROW(m_ref->set_configuration_parameter("flip_h", empty), SDOPackage::InvalidParameter);
  CORBA::Any object;
  object <<= CORBA::Object::_nil();
  EXPECT_THROW(m_ref->set_configuration_parameter("flip_h", object), SDOPackage::InvalidParameter);
  EXPECT_FALSE(m_admin->isChanged());
}

TEST_F(ConfigurationServantTest, UnsupportedOperationsAnswerFalseAndUnknownServicesAreRefused) {
  SDOPackage::DeviceProfile device;
  EXPECT_FALSE(m_ref->set_device_profile(device));
  EXPECT_FALSE(m_ref->add_organization(SDOPackage::Organization::_nil()));
  // Service profiles: an unknown id is a bad parameter, as the framework has it;
  // a servant with no consumers takes none.
  EXPECT_THROW(m_ref->remove_service_profile("x"), SDOPackage::InvalidParameter);
  SDOPackage::ServiceProfile profile;
  profile.id = CORBA::string_dup("x");
  profile.interface_type = CORBA::string_dup("IDL:OpenRTM/ComponentObserver:1.0");
  EXPECT_FALSE(m_ref->add_service_profile(profile));
}

TEST(NVUtil, PropertiesRoundTripKeepsOrderAndSkipsNonStrings) {
  coil::Properties props = confOf("b: 1\na: x y\nc:\n");
  SDOPackage::NVList nv = NVUtil::toNVList(props);
  ASSERT_EQ(nv.length(), 3u);
  EXPECT_STREQ(nv[1].name, "a");
  EXPECT_EQ(NVUtil::find_index(nv, "c"), 2);
  EXPECT_EQ(NVUtil::find_index(nv, "zz"), -1);

  nv.length(6);
  nv[3].name = CORBA::string_dup("ref");
  nv[3].value <<= CORBA::Object::_nil();
  nv[4].name = CORBA::string_dup("rate");
  nv[4].value <<= static_cast<CORBA::Double>(30.5);
  nv[5].name = CORBA::string_dup("count");
  nv[5].value <<= static_cast<CORBA::ULong>(8);
  coil::Properties back;
  EXPECT_EQ(NVUtil::copyToProperties(back, nv), 1u);
  EXPECT_EQ(back.propertyNames(), (std::vector<std::string>{"b", "a", "c", "rate", "count"}));
  EXPECT_EQ(back.getProperty("rate"), "30.5");
  EXPECT_EQ(back.getProperty("count"), "8");
  EXPECT_FALSE(NVUtil::isString(nv, "ref"));
  EXPECT_EQ(NVUtil::toString(nv, "ref"), "");
}

TEST(NVUtil, SetAndAppendStringValues) {
  SDOPackage::NVList nv;
  NVUtil::setStringValue(nv, "dataport.serializer.cdr.endian", "little");
  NVUtil::setStringValue(nv, "dataport.serializer.cdr.endian", "big");
  ASSERT_EQ(nv.length(), 1u);
  EXPECT_TRUE(NVUtil::isStringValue(nv, "dataport.serializer.cdr.endian", "big"));
  EXPECT_TRUE(NVUtil::appendStringValue(nv, "dataport.serializer.cdr.endian", "little"));
  EXPECT_TRUE(NVUtil::appendStringValue(nv, "dataport.serializer.cdr.endian", "big"));
  EXPECT_EQ(NVUtil::toString(nv, "dataport.serializer.cdr.endian"), "big,little");
  EXPECT_TRUE(NVUtil::appendStringValue(nv, "new", "v"));
  EXPECT_EQ(nv.length(), 2u);
  nv[1].value <<= static_cast<CORBA::Long>(1);
  EXPECT_FALSE(NVUtil::appendStringValue(nv, "new", "w"));
}

}  // namespace
