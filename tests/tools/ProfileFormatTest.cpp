#include <gtest/gtest.h>
#include <rtm/idl/BasicDataTypeSkel.h>

#include <sstream>

#include "ConfigCommands.h"
#include "ProfileFormat.h"
#include "TerminalText.h"
#include "TestSupport.h"

namespace rtmctl {
namespace {

// omniORB copies and unpacks Any values only once an ORB exists.
class OrbEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { pixmoor_test::orb(); }
};
const ::testing::Environment* const kOrb = ::testing::AddGlobalTestEnvironment(new OrbEnvironment);

SDOPackage::NVList nvList(const std::vector<std::pair<const char*, const char*>>& entries) {
  SDOPackage::NVList list;
  list.length(static_cast<CORBA::ULong>(entries.size()));
  for (CORBA::ULong i = 0; i < list.length(); ++i) {
    list[i].name = entries[i].first;
    list[i].value <<= entries[i].second;
  }
  return list;
}

TEST(ProfileFormat, ShowsAnyValuesAsText) {
  CORBA::Any text, number, negative, real, flag, nilObject, structure, empty;
  text <<= "corba_cdr";
  number <<= static_cast<CORBA::ULong>(307200);
  negative <<= static_cast<CORBA::Long>(-5);
  real <<= 2.5;
  flag <<= CORBA::Any::from_boolean(true);
  nilObject <<= CORBA::Object::_nil();
  structure <<= RTC::Time{1, 2};
  EXPECT_EQ(anyToText(text), "corba_cdr");
  EXPECT_EQ(anyToText(number), "307200");
  EXPECT_EQ(anyToText(negative), "-5");
  EXPECT_EQ(anyToText(real), "2.5");
  EXPECT_EQ(anyToText(flag), "true");
  EXPECT_EQ(anyToText(nilObject), "<object reference>");
  EXPECT_EQ(anyToText(structure), "<IDL:RTC/Time:1.0>");
  EXPECT_EQ(anyToText(empty), "");
}

TEST(ProfileFormat, LooksUpNamedValues) {
  const SDOPackage::NVList list = nvList({{"port.port_type", "DataInPort"}, {"empty", ""}});
  EXPECT_EQ(nvValue(list, "port.port_type"), "DataInPort");
  EXPECT_TRUE(nvHas(list, "empty"));
  EXPECT_FALSE(nvHas(list, "missing"));
  EXPECT_EQ(nvValue(list, "missing"), "");

  // What a port offers: comma lists as real ports publish them, or "Any".
  const SDOPackage::NVList port = nvList({{"dataport.interface_type", "corba_cdr, Shared_Memory"},
                                          {"dataport.dataflow_type", "push"},
                                          {"dataport.subscription_type", "Any"}});
  EXPECT_TRUE(offers(port, "dataport.interface_type", "shared_memory"));
  EXPECT_TRUE(offers(port, "dataport.interface_type", " corba_cdr"));
  EXPECT_FALSE(offers(port, "dataport.interface_type", "shared"));
  EXPECT_FALSE(offers(port, "dataport.dataflow_type", "pull"));
  EXPECT_TRUE(offers(port, "dataport.subscription_type", "periodic"));
  EXPECT_TRUE(offers(list, "dataport.interface_type", "anything")) << "says nothing: no refusal";
}

TEST(ProfileFormat, ShortensLongValuesUnlessAskedForAll) {
  const std::string ior = "IOR:" + std::string(400, '0');
  const std::string shown = displayValue(ior, false);
  EXPECT_LT(shown.size(), 80u);
  EXPECT_EQ(shown.compare(0, 8, "IOR:0000"), 0);
  EXPECT_NE(shown.find("404 characters"), std::string::npos);
  EXPECT_EQ(displayValue(ior, true), ior);
  EXPECT_EQ(displayValue("short", false), "short");
}

TEST(ProfileFormat, WritesConnectorWithPortsAndProperties) {
  RTC::ConnectorProfile profile;
  profile.name = "out_in";
  profile.connector_id = "c78fd978";
  profile.properties = nvList({{"dataport.dataflow_type", "push"}, {"dataport.outport", ""}});
  std::ostringstream out;
  writeConnector(out, profile, {"Src0.out", "Sink0.in"}, 2, false);
  EXPECT_EQ(out.str(),
            "  out_in  (id c78fd978)\n"
            "    ports: Src0.out, Sink0.in\n"
            "    properties:\n"
            "      dataport.dataflow_type: push\n"
            "      dataport.outport:\n");
}

// A hostile component's names and values used to reach the terminal raw:
// clear-screen, window-title and line-overwrite sequences took effect.
TEST(TerminalText, WritesEveryTerminalCommandAsText) {
  const struct {
    std::string in;
    std::string out;
  } rows[] = {
      {"frames.read: 12\tok\n", "frames.read: 12\tok\n"},
      {"\x1b[2J\x1b[H", "\\x1b[2J\\x1b[H"},
      {"\x1b]0;pwned\x07", "\\x1b]0;pwned\\x07"},
      {"100\r0", "100\\x0d0"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"\x7f", "\\x7f"},
      {"\xc2\x9b"
       "2J",
       "\\xc2\\x9b"
       "2J"},
      {"\x9b"
       "2J",
       "\\x9b"
       "2J"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"\xc3", "\\xc3"},
      {"\xc0\xaf", "\\xc0\\xaf"},
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},
  };
  for (const auto& row : rows) EXPECT_EQ(terminalSafe(row.in), row.out) << row.in;

  std::ostringstream target;
  {
    TerminalSafeBuf buffer(target);
    std::ostream out(&buffer);
    out << "name: \x1b[2J" << 7 << "\nno newline \x1b";
  }
  EXPECT_EQ(target.str(), "name: \\x1b[2J7\nno newline \\x1b");
}

TEST(ConfigCommands, ChangesOnlyTheNamedParameter) {
  SDOPackage::ConfigurationSet set;
  set.id = "default";
  set.configuration_data = nvList({{"width", "640"}, {"height", "480"}});
  EXPECT_TRUE(setParameterValue(set, "height", "720"));
  EXPECT_EQ(nvValue(set.configuration_data, "width"), "640");
  EXPECT_EQ(nvValue(set.configuration_data, "height"), "720");
  EXPECT_FALSE(setParameterValue(set, "depth", "3"));
  EXPECT_EQ(set.configuration_data.length(), 2u);
  EXPECT_EQ(parameterNames(set), "width, height");
  EXPECT_TRUE(isHintSet("__widget__"));
  EXPECT_FALSE(isHintSet("default"));
}

}  // namespace
}  // namespace rtmctl
