#include <gtest/gtest.h>

#include "ConnectorSettings.h"
#include "CtlError.h"

namespace rtmctl {
namespace {

ConnectorSettings build(const std::vector<std::string>& args) {
  return buildConnectorSettings(parseArgs("connect", args, connectOptionDefs()), "out_in");
}

TEST(ConnectorSettings, DefaultsMatchTheUsualTools) {
  const ConnectorSettings settings = build({});
  EXPECT_EQ(settings.name, "out_in");
  EXPECT_EQ(settings.id, "");
  const PropertyList expected = {{"dataport.interface_type", "corba_cdr"},
                                 {"dataport.dataflow_type", "push"},
                                 {"dataport.subscription_type", "flush"}};
  EXPECT_EQ(settings.properties, expected);
}

TEST(ConnectorSettings, ShorthandsAndPropertiesLandInOrder) {
  const ConnectorSettings settings =
      build({"-n", "cam", "--id", "fixed-id", "--subscription", "periodic", "--push-rate", "30",
             "--push-policy", "new", "--endian", "big", "--buffer-length", "4", "-p",
             "dataport.buffer.write.full_policy=block", "-p", "dataport.outport.extra="});
  EXPECT_EQ(settings.name, "cam");
  EXPECT_EQ(settings.id, "fixed-id");
  const PropertyList expected = {{"dataport.interface_type", "corba_cdr"},
                                 {"dataport.dataflow_type", "push"},
                                 {"dataport.subscription_type", "periodic"},
                                 {"dataport.publisher.push_rate", "30"},
                                 {"dataport.publisher.push_policy", "new"},
                                 {"dataport.serializer.cdr.endian", "big"},
                                 {"dataport.buffer.length", "4"},
                                 {"dataport.buffer.write.full_policy", "block"},
                                 {"dataport.outport.extra", ""}};
  EXPECT_EQ(settings.properties, expected);
}

TEST(ConnectorSettings, ExplicitPropertyOverridesShorthandInPlace) {
  const ConnectorSettings settings =
      build({"--dataflow", "pull", "-p", "dataport.dataflow_type=push", "-p",
             "dataport.subscription_type=new"});
  ASSERT_EQ(settings.properties.size(), 3u);
  EXPECT_EQ(settings.properties[1].second, "push");
  EXPECT_EQ(settings.properties[2].second, "new");
}

TEST(ConnectorSettings, PeriodicPushNeedsARateFromEitherSpelling) {
  EXPECT_THROW(build({"--subscription", "periodic"}), CtlError);
  EXPECT_THROW(build({"-p", "dataport.subscription_type=periodic"}), CtlError);
  EXPECT_NO_THROW(build({"--subscription", "periodic", "-p", "dataport.publisher.push_rate=10"}));
  // Pull ignores the subscription type, so no rate is needed.
  EXPECT_NO_THROW(build({"--dataflow", "pull", "--subscription", "periodic"}));
}

TEST(ConnectorSettings, RefusesValuesNoPortAccepts) {
  const std::vector<std::vector<std::string>> bad = {{"--dataflow", "both"},
                                                     {"--subscription", "sometimes"},
                                                     {"--endian", "middle"},
                                                     {"--push-rate", "0"},
                                                     {"--push-rate", "fast"},
                                                     {"--push-policy", "most"},
                                                     {"--buffer-length", "0"},
                                                     {"--buffer-length", "000"},
                                                     {"--buffer-length", "-1"},
                                                     {"--buffer-length", "x"},
                                                     {"-p", "novalue"},
                                                     {"-p", "=v"},
                                                     {"--name", ""},
                                                     {"--interface", ""}};
  for (const auto& args : bad) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    try {
      build(args);
      ADD_FAILURE() << "accepted";
    } catch (const CtlError& error) {
      EXPECT_EQ(error.exitCode(), kExitUsage);
    }
  }
}

}  // namespace
}  // namespace rtmctl
