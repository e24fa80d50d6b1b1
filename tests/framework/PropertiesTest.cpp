#include <coil/Properties.h>
#include <gtest/gtest.h>

#include <sstream>

namespace {

coil::Properties loadText(const std::string& text, std::vector<std::string>* problems = nullptr) {
  coil::Properties props;
  std::istringstream in(text);
  props.load(in, problems);
  return props;
}

TEST(Properties, LoadsBothSeparatorsCommentsAndBlankLines) {
  std::vector<std::string> problems;
  coil::Properties p = loadText(
      "# a comment: with a colon\n"
      "! another = comment\n"
      "\n"
      "  corba.nameservers :  localhost:2809 \n"
      "exec_cxt.periodic.rate=30\n"
      "corba.args: -ORBgiopMaxMsgSize=104857600\n"
      "empty.value:\n"
      "\r\n"
      "windows.line: yes\r\n",
      &problems);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(p.getProperty("corba.nameservers"), "localhost:2809");
  EXPECT_EQ(p.getProperty("exec_cxt.periodic.rate"), "30");
  // The first separator splits; later ones belong to the value.
  EXPECT_EQ(p.getProperty("corba.args"), "-ORBgiopMaxMsgSize=104857600");
  EXPECT_TRUE(p.hasKey("empty.value"));
  EXPECT_EQ(p.getProperty("windows.line"), "yes");
  EXPECT_EQ(p.size(), 5u);
}

TEST(Properties, BackslashContinuesAcrossLines) {
  coil::Properties p = loadText(
      "naming.formats: %h.host_cxt/%n.rtc, \\\n"
      "      %n.rtc\n"
      "after: 1\n"
      "escaped.backslash: C:\\\\\n"
      "last: x\\\n");
  EXPECT_EQ(p.getProperty("naming.formats"), "%h.host_cxt/%n.rtc, %n.rtc");
  EXPECT_EQ(p.getProperty("after"), "1");
  // An even run of backslashes is not a continuation.
  EXPECT_EQ(p.getProperty("escaped.backslash"), "C:\\\\");
  // A continuation at end of input still ends the entry.
  EXPECT_EQ(p.getProperty("last"), "x");
}

TEST(Properties, MalformedLinesAreSkippedAndReportedWithTheirLine) {
  std::vector<std::string> problems;
  coil::Properties p = loadText("good: 1\nno separator here\n: no key\nalso.good = 2\n", &problems);
  EXPECT_EQ(p.size(), 2u);
  EXPECT_EQ(p.getProperty("also.good"), "2");
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[0].find("line 2"), std::string::npos) << problems[0];
  EXPECT_NE(problems[0].find("no separator here"), std::string::npos);
  EXPECT_NE(problems[1].find("line 3"), std::string::npos) << problems[1];
}

TEST(Properties, KeepsInsertionOrderAndOverwritesInPlace) {
  coil::Properties p = loadText("c: 1\na: 2\nb: 3\na: 4\n");
  EXPECT_EQ(p.propertyNames(), (std::vector<std::string>{"c", "a", "b"}));
  EXPECT_EQ(p.getProperty("a"), "4");
  EXPECT_EQ(p.setProperty("b", "5"), "3");
  EXPECT_EQ(p.setProperty("d", "6"), "");
  EXPECT_TRUE(p.removeProperty("c"));
  EXPECT_FALSE(p.removeProperty("c"));
  EXPECT_EQ(p.propertyNames(), (std::vector<std::string>{"a", "b", "d"}));
  EXPECT_EQ(p.getProperty("missing", "dflt"), "dflt");
  p["e"] = "7";
  EXPECT_EQ(p.getProperty("e"), "7");
}

TEST(Properties, NodesAndChildNamesFollowDottedPaths) {
  coil::Properties p = loadText(
      "conf.default.flip_h: 0\n"
      "conf.__widget__.flip_h: text\n"
      "conf.default.flip_v: 1\n"
      "conf.mode1.flip_h: 1\n"
      "config: not a child of conf\n"
      "conf: neither\n");
  EXPECT_EQ(p.childNames("conf"), (std::vector<std::string>{"default", "__widget__", "mode1"}));
  EXPECT_EQ(p.childNames(""), (std::vector<std::string>{"conf", "config"}));
  coil::Properties def = p.getNode("conf.default");
  EXPECT_EQ(def.propertyNames(), (std::vector<std::string>{"flip_h", "flip_v"}));
  EXPECT_EQ(def.getProperty("flip_v"), "1");
  EXPECT_EQ(p.getNode("conf").size(), 4u);
}

TEST(Properties, DefaultsArrayStopsAtEmptyKeyOrCount) {
  const char* entries[] = {"implementation_id", "Pixmoor", " type_name ", " Pixmoor ", "", "ignored"};
  coil::Properties p(entries);
  EXPECT_EQ(p.size(), 2u);
  EXPECT_EQ(p.getProperty("type_name"), "Pixmoor");
  coil::Properties first(entries, 2);
  EXPECT_EQ(first.size(), 1u);
}

TEST(Properties, MergeAndStoreRoundTrip) {
  coil::Properties a = loadText("x: 1\ny: 2\n");
  coil::Properties b = loadText("y: 3\nz: 4\n");
  a << b;
  EXPECT_EQ(a.propertyNames(), (std::vector<std::string>{"x", "y", "z"}));
  EXPECT_EQ(a.getProperty("y"), "3");
  std::ostringstream out;
  a.store(out);
  EXPECT_EQ(out.str(), "x: 1\ny: 3\nz: 4\n");
  coil::Properties again = loadText(out.str());
  EXPECT_EQ(again.entries(), a.entries());

  // Found by fuzz_rtc_conf: a key that starts like a comment, reachable
  // through a continuation ("\\\n#:"), was stored as a comment line and lost
  // on the way back.
  for (const char* text : {"\\\n#:", "\\\n!x: 1\n", "\\\n  #y = 2\n"}) {
    SCOPED_TRACE(text);
    const coil::Properties odd = loadText(text);
    ASSERT_EQ(1u, odd.size());
    std::ostringstream stored;
    odd.store(stored);
    EXPECT_EQ(loadText(stored.str()).entries(), odd.entries()) << stored.str();
  }
}

}  // namespace
