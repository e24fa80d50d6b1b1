// The manager and the component object in one process: factories, creation
// and its failures, per-type settings, the component's CORBA answers, the
// lifecycle through its execution context, configuration and exit.
// The data types before the port headers, which need their CORBA::Any
// operators.
#include <rtm/idl/BasicDataTypeSkel.h>
#include <rtm/idl/DataPortSkel.h>

#include <gtest/gtest.h>

#include <map>
#include <rtm/DataFlowComponentBase.h>
#include <rtm/DataInPort.h>
#include <rtm/Manager.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "corba/NVUtil.h"
#include "execution/PeriodicExecutionContext.h"

namespace {

using pixmoor_test::now;
using pixmoor_test::waitUntil;

// Lifecycle calls of every probe, in order, as "<instance>:<action>".
std::mutex g_callsMutex;
std::vector<std::string> g_calls;
std::atomic<int> g_deleted{0};

void record(const std::string& call) {
  std::lock_guard<std::mutex> lock(g_callsMutex);
  g_calls.push_back(call);
}

std::vector<std::string> callsOf(const std::string& instance) {
  std::lock_guard<std::mutex> lock(g_callsMutex);
  std::vector<std::string> out;
  for (const std::string& c : g_calls) {
    if (c.compare(0, instance.size() + 1, instance + ":") == 0)
      out.push_back(c.substr(instance.size() + 1));
  }
  return out;
}

// Records its transitions; what it answers is steered by its properties.
class Probe : public RTC::DataFlowComponentBase {
 public:
  explicit Probe(RTC::Manager* manager)
      : RTC::DataFlowComponentBase(manager), m_in("in", m_inData) {}

  RTC::ReturnCode_t onInitialize() override {
    addInPort("in", m_in);
    bindParameter("level", m_level, "3");
    bindParameter("extra", m_extra, "none");
    record(name() + ":onInitialize");
    return getProperties().getProperty("test.fail_init") == "1" ? RTC::RTC_ERROR : RTC::RTC_OK;
  }
  RTC::ReturnCode_t onFinalize() override { return note("onFinalize"); }
  RTC::ReturnCode_t onActivated(RTC::UniqueId) override {
    record(name() + ":onActivated level=" + std::to_string(m_level));
    return m_failActivate ? RTC::RTC_ERROR : RTC::RTC_OK;
  }
  RTC::ReturnCode_t onDeactivated(RTC::UniqueId) override { return note("onDeactivated"); }
  RTC::ReturnCode_t onAborting(RTC::UniqueId) override { return note("onAborting"); }
  RTC::ReturnCode_t onReset(RTC::UniqueId) override {
    const int running = ++m_inReset;
    int most = m_mostResetsAtOnce.load();
    while (running > most && !m_mostResetsAtOnce.compare_exchange_weak(most, running)) {
    }
    if (m_slowReset) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    --m_inReset;
    return note("onReset");
  }
  RTC::ReturnCode_t onExecute(RTC::UniqueId) override {
    if (m_throwInExecute) throw std::runtime_error("probe failure");
    if (m_exitInExecute.exchange(false)) exit();
    return RTC::RTC_OK;
  }

  std::string name() { return getInstanceName(); }
  int level() const { return m_level; }
  std::string extra() const { return m_extra; }
  std::atomic<bool> m_failActivate{false};
  std::atomic<bool> m_throwInExecute{false};
  std::atomic<bool> m_slowReset{false};
  std::atomic<int> m_inReset{0};
  std::atomic<int> m_mostResetsAtOnce{0};
  std::atomic<bool> m_exitInExecute{false};
  RTC::TimedLongSeq m_inData;
  RTC::InPort<RTC::TimedLongSeq> m_in;

 private:
  RTC::ReturnCode_t note(const char* what) {
    record(name() + ":" + what);
    return RTC::RTC_OK;
  }
  // Written on the context's thread, read by the tests while it is idle or
  // polled; as in the component, no lock.
  int m_level = 0;
  std::string m_extra;
};

RTC::RTObject_impl* createProbe(RTC::Manager* m) { return new Probe(m); }
void deleteProbe(RTC::RTObject_impl* rtc) {
  ++g_deleted;
  delete rtc;
}
RTC::RTObject_impl* createNothing(RTC::Manager*) { return nullptr; }
RTC::RTObject_impl* createThrowing(RTC::Manager*) { throw std::runtime_error("factory failure"); }

const char* probe_spec[] = {"implementation_id",
                            "Probe",
                            "type_name",
                            "Probe",
                            "description",
                            "a recording probe",
                            "version",
                            "2.0.1",
                            "vendor",
                            "tests",
                            "category",
                            "Tests",
                            "conf.default.level",
                            "3",
                            "conf.__widget__.level",
                            "text",
                            ""};

class ManagerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    s_dir = pixmoor_test::makeTempDir("manager");
    s_namePort = pixmoor_test::freeTcpPort();
    pixmoor_test::writeFile(s_dir + "/tuned.conf",
                            "conf.default.extra: from-file\n"
                            "port.inport.in.buffer.length: 2\n");
    pixmoor_test::writeFile(s_dir + "/rtc.conf",
                            "corba.endpoint: 127.0.0.1:\n"
                            "corba.nameservers: 127.0.0.1:" +
                                std::to_string(s_namePort) +
                                "\n"
                                "logger.file_name: " +
                                s_dir +
                                "/rtc.log\n"
                                "logger.log_level: DEBUG\n"
                                "exec_cxt.transition_timeout: 5\n"
                                "exec_cxt.periodic.rate: 200\n"
                                "naming.formats: %h.host_cxt/%n.rtc, tests/%t_%N.%c\n"
                                "manager.shutdown_on_nortcs: NO\n"
                                "Tests.Tuned.conf.default.level: 9\n"
                                "Tests.Tuned.exec_cxt.periodic.rate: 50\n"
                                "Tests.Tuned.port.inport.dataport.buffer.write.full_policy: "
                                "do_nothing\n"
                                "Tests.Tuned0.port.inport.in.buffer.length: 3\n"
                                "Tests.Tuned.config_file: " +
                                s_dir + "/tuned.conf\n");
    std::string conf = s_dir + "/rtc.conf";
    std::vector<char*> argv = {const_cast<char*>("ManagerTest"), const_cast<char*>("-f"), &conf[0],
                               nullptr};
    RTC::Manager* manager = RTC::Manager::init(3, argv.data());
    ASSERT_TRUE(manager->activateManager());
    ASSERT_TRUE(s_names.start(s_namePort));
  }
  void TearDown() override {
    exitOneWhileShuttingDown();
    s_names.stop();
    pixmoor_test::removeTree(s_dir);
  }
  static std::string s_dir;
  static int s_namePort;
  static pixmoor_test::NameServer s_names;

 private:
  // Shuts the manager down while its worker thread is deleting a component
  // that exited just before: the deletion releases object references, and
  // omniORB aborts the process if that overlaps destroying the ORB, so the
  // deletion must be over before the ORB goes.
  static void exitOneWhileShuttingDown();
};
std::string ManagerEnvironment::s_dir;
int ManagerEnvironment::s_namePort = 0;
pixmoor_test::NameServer ManagerEnvironment::s_names;

::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new ManagerEnvironment);

RTC::Manager& manager() { return RTC::Manager::instance(); }

void registerOnce(const char* id, const char* type, RTC::RtcNewFunc create) {
  for (const coil::Properties& p : manager().getFactoryProfiles()) {
    if (p.getProperty("implementation_id") == id) return;
  }
  coil::Properties profile(probe_spec);
  profile.setProperty("implementation_id", id);
  profile.setProperty("type_name", type);
  ASSERT_TRUE(manager().registerFactory(profile, create, deleteProbe));
}

Probe* create(const char* args) { return dynamic_cast<Probe*>(manager().createComponent(args)); }

// Registers a Probe under `type` (once) and creates one.
Probe* registerAndCreate(const char* type) {
  registerOnce(type, type, createProbe);
  return create(type);
}

// A component whose deletion, once shutdown has begun, takes a while and
// notes whether the manager still had its ORB when it finished.
std::atomic<bool> g_slowDeleteEntered{false};
std::atomic<bool> g_slowDeleteSawOrb{false};
std::atomic<bool> g_slowDeleteDone{false};
void deleteSlowly(RTC::RTObject_impl* rtc) {
  g_slowDeleteEntered = true;
  waitUntil([] { return manager().isShuttingDown(); }, 10.0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  CORBA::ORB_var orb = manager().getORB();
  g_slowDeleteSawOrb = !CORBA::is_nil(orb);
  deleteProbe(rtc);
  g_slowDeleteDone = true;
}

void ManagerEnvironment::exitOneWhileShuttingDown() {
  coil::Properties profile(probe_spec);
  profile.setProperty("implementation_id", "SlowDelete");
  profile.setProperty("type_name", "SlowDelete");
  ASSERT_TRUE(manager().registerFactory(profile, createProbe, deleteSlowly));
  RTC::RTObject_impl* comp = manager().createComponent("SlowDelete");
  ASSERT_NE(nullptr, comp);
  {
    RTC::RTObject_var ref = comp->getObjRef();
    EXPECT_EQ(RTC::RTC_OK, ref->exit());
  }
  EXPECT_TRUE(waitUntil([] { return g_slowDeleteEntered.load(); }, 10.0))
      << "the worker thread deletes what exited";

  double t0 = now();
  RTC::Manager::instance().shutdown();
  std::printf("manager shutdown: %.3f s\n", now() - t0);
  EXPECT_TRUE(g_slowDeleteDone) << "shutdown returned before the deletion ended";
  EXPECT_TRUE(g_slowDeleteSawOrb) << "the ORB was destroyed while a component was being deleted";
}

RTC::ExecutionContext_ptr contextOf(RTC::RTObject_impl* comp) {
  RTC::RTObject_var ref = comp->getObjRef();
  return ref->get_context(0);
}

// Connects `port` alone, with no buffer settings in the request, puts up to
// 8 samples into it and returns how many it took before answering
// BUFFER_FULL.
int acceptedBeforeFull(RTC::InPortBase& port) {
  RTC::PortService_var ref = port.getPortRef();
  RTC::ConnectorProfile profile;
  profile.name = CORBA::string_dup("alone");
  profile.connector_id = CORBA::string_dup("");
  profile.ports.length(1);
  profile.ports[0] = RTC::PortService::_duplicate(ref);
  coil::Properties request;
  request.setProperty("dataport.interface_type", "corba_cdr");
  request.setProperty("dataport.dataflow_type", "push");
  profile.properties = NVUtil::toNVList(request);
  if (ref->connect(profile) != RTC::RTC_OK) return -1;
  CORBA::ORB_var orb = manager().getORB();
  CORBA::Object_var obj = orb->string_to_object(
      NVUtil::toString(profile.properties, "dataport.corba_cdr.inport_ior").c_str());
  OpenRTM::InPortCdr_var cdr = OpenRTM::InPortCdr::_narrow(obj);
  // An empty TimedLongSeq: sec, nsec, no elements.
  OpenRTM::CdrData sample;
  sample.length(12);
  for (CORBA::ULong i = 0; i < 12; ++i) sample[i] = 0;
  int accepted = 0;
  while (accepted < 8 && cdr->put(sample) == OpenRTM::PORT_OK) ++accepted;
  ref->disconnect(profile.connector_id);
  return accepted;
}

TEST(Manager, RegisterFactoryKeepsItsOwnCopyOfTheProfile) {
  coil::Properties profile(probe_spec);
  profile.setProperty("implementation_id", "Copied");
  ASSERT_TRUE(manager().registerFactory(profile, createProbe, deleteProbe));
  profile.setProperty("type_name", "Changed");
  profile.setProperty("implementation_id", "Other");
  EXPECT_FALSE(manager().registerFactory(profile, nullptr, deleteProbe));

  coil::Properties again(probe_spec);
  again.setProperty("implementation_id", "Copied");
  EXPECT_FALSE(manager().registerFactory(again, createProbe, deleteProbe)) << "duplicate id";

  bool found = false;
  for (const coil::Properties& p : manager().getFactoryProfiles()) {
    if (p.getProperty("implementation_id") != "Copied") continue;
    found = true;
    EXPECT_EQ("Probe", p.getProperty("type_name"));
  }
  EXPECT_TRUE(found);
}

TEST(Manager, CreationFailuresReturnNullAndLeaveNothingBehind) {
  registerOnce("Probe", "Probe", createProbe);
  registerOnce("Nothing", "Nothing", createNothing);
  registerOnce("Throwing", "Throwing", createThrowing);
  const size_t before = manager().getComponents().size();
  const int deletedBefore = g_deleted;

  EXPECT_EQ(nullptr, manager().createComponent("NoSuchType"));
  EXPECT_EQ(nullptr, manager().createComponent("Nothing"));
  EXPECT_EQ(nullptr, manager().createComponent("Throwing"));
  EXPECT_EQ(nullptr, manager().createComponent(nullptr));
  // A failing onInitialize: the object is destroyed through its delete
  // function and its instance name is free again.
  EXPECT_EQ(nullptr, manager().createComponent("Probe?test.fail_init=1&instance_name=Doomed"));
  EXPECT_EQ(deletedBefore + 1, g_deleted.load());
  EXPECT_EQ(before, manager().getComponents().size());
  EXPECT_EQ(nullptr, manager().getComponent("Doomed"));

  Probe* doomedAgain = create("Probe?instance_name=Doomed");
  ASSERT_NE(nullptr, doomedAgain);
  EXPECT_STREQ("Doomed", doomedAgain->getInstanceName());
  EXPECT_EQ(nullptr, manager().createComponent("Probe?instance_name=Doomed")) << "name in use";
}

TEST(Manager, NumbersInstancesPerTypeAndNamesThemOnTheNameServer) {
  registerOnce("Numbered", "Numbered", createProbe);
  Probe* first = create("Numbered");
  Probe* second = create("RTC:tests:Tests:Numbered:C++:2.0.1");
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  EXPECT_STREQ("Numbered0", first->getInstanceName());
  EXPECT_STREQ("Numbered1", second->getInstanceName());
  EXPECT_EQ(first, manager().getComponent("Numbered0"));

  const std::string loc = ManagerEnvironment::s_names.corbaloc();
  CORBA::Object_var bound =
      pixmoor_test::resolveName(loc, pixmoor_test::hostName() + ".host_cxt/Numbered1.rtc");
  ASSERT_FALSE(CORBA::is_nil(bound));
  RTC::RTObject_var ref = second->getObjRef();
  EXPECT_TRUE(bound->_is_equivalent(ref));
  // Every format of naming.formats is bound: %t type, %N number, %c category.
  CORBA::Object_var formatted = pixmoor_test::resolveName(loc, "tests/Numbered_1.Tests");
  EXPECT_FALSE(CORBA::is_nil(formatted));
  EXPECT_EQ(pixmoor_test::hostName() + ".host_cxt/Numbered1.rtc,tests/Numbered_1.Tests",
            second->getProperties().getProperty("naming.names"));
}

TEST(Manager, PerTypeSettingsReachTheProfileTheBoundVariablesAndTheContext) {
  registerOnce("Tuned", "Tuned", createProbe);
  registerOnce("Probe", "Probe", createProbe);
  Probe* tuned = create("Tuned");
  Probe* plain = create("Probe");
  ASSERT_NE(nullptr, tuned);
  ASSERT_NE(nullptr, plain);
  EXPECT_EQ(9, tuned->level()) << "rtc.conf's Tests.Tuned.conf.default.level";
  EXPECT_EQ("from-file", tuned->extra()) << "Tests.Tuned.config_file";
  EXPECT_EQ(3, plain->level());
  EXPECT_EQ("none", plain->extra());

  RTC::ExecutionContext_var tunedEc = contextOf(tuned);
  RTC::ExecutionContext_var plainEc = contextOf(plain);
  EXPECT_DOUBLE_EQ(50.0, tunedEc->get_rate());
  EXPECT_DOUBLE_EQ(200.0, plainEc->get_rate()) << "manager-wide exec_cxt.periodic.rate";

  // Port settings, each layer winning over the one before: every inport of
  // the type, the type's config_file, the instance's own key.
  EXPECT_EQ("do_nothing", tuned->m_in.properties().getProperty("buffer.write.full_policy"));
  EXPECT_EQ("3", tuned->m_in.properties().getProperty("buffer.length"));
  EXPECT_TRUE(plain->m_in.properties().empty());
  // ... reach a connection whose request does not set them.
  EXPECT_EQ(3, acceptedBeforeFull(tuned->m_in));
  EXPECT_EQ(8, acceptedBeforeFull(plain->m_in)) << "the built-in overwrite never refuses";
}

// A context type the runtime lacks is no failure: it says so and runs its
// periodic context, as the real framework does.
TEST(Manager, UnknownContextTypeIsWarnedAboutAndThePeriodicContextRuns) {
  registerOnce("Probe", "Probe", createProbe);
  Probe* probe = create("Probe?exec_cxt.periodic.type=ExtTrigExecutionContext");
  ASSERT_NE(nullptr, probe);
  RTC::RTObject_var ref = probe->getObjRef();
  RTC::ExecutionContext_var ec = contextOf(probe);
  RTC::ExecutionContextService_var service = RTC::ExecutionContextService::_narrow(ec);
  ASSERT_FALSE(CORBA::is_nil(service));
  EXPECT_EQ(RTC::PERIODIC, service->get_kind());
  RTC::ExecutionContextProfile_var profile = service->get_profile();
  std::string type = "<absent>";
  for (CORBA::ULong i = 0; i < profile->properties.length(); ++i) {
    const char* value = nullptr;
    if (std::string(profile->properties[i].name) == "type" &&
        (profile->properties[i].value >>= value)) {
      type = value;
    }
  }
  EXPECT_EQ("PeriodicExecutionContext", type);
  ASSERT_EQ(RTC::RTC_OK, ec->activate_component(ref));
  EXPECT_EQ(RTC::RTC_OK, ec->deactivate_component(ref));
  EXPECT_NE(std::string::npos,
            pixmoor_test::readFile(ManagerEnvironment::s_dir + "/rtc.log")
                .find("WARNING: " + std::string(probe->getInstanceName()) +
                      ": unknown execution context type 'ExtTrigExecutionContext'"));
}

TEST(Manager, ComponentObjectAnswersAsTheFrameworkDoes) {
  Probe* probe = registerAndCreate("Probe");
  ASSERT_NE(nullptr, probe);
  RTC::RTObject_var ref = probe->getObjRef();
  ASSERT_FALSE(CORBA::is_nil(ref));
  EXPECT_TRUE(ref->_is_a("IDL:openrtm.aist.go.jp/OpenRTM/DataFlowComponent:1.0"));
  EXPECT_TRUE(ref->_is_a("IDL:omg.org/RTC/DataFlowComponent:1.0"));
  EXPECT_TRUE(ref->_is_a("IDL:org.omg/SDOPackage/SDO:1.0"));

  RTC::ComponentProfile_var profile = ref->get_component_profile();
  EXPECT_STREQ(probe->getInstanceName(), profile->instance_name);
  EXPECT_STREQ("Probe", profile->type_name);
  EXPECT_STREQ("a recording probe", profile->description);
  EXPECT_STREQ("2.0.1", profile->version);
  EXPECT_STREQ("tests", profile->vendor);
  EXPECT_STREQ("Tests", profile->category);
  ASSERT_EQ(1u, profile->port_profiles.length());
  EXPECT_EQ(std::string(probe->getInstanceName()) + ".in", profile->port_profiles[0].name.in());
  EXPECT_TRUE(CORBA::is_nil(profile->parent));
  std::map<std::string, std::string> props;
  for (CORBA::ULong i = 0; i < profile->properties.length(); ++i) {
    const char* value = nullptr;
    ASSERT_TRUE(profile->properties[i].value >>= value) << profile->properties[i].name;
    props[profile->properties[i].name.in()] = value;
  }
  EXPECT_EQ("3", props["conf.default.level"]);
  // The manager-level keys the real 1.2.2 publishes, with this runtime's
  // values, and the data port listed under an empty key. Absent before.
  struct Key {
    const char* name;
    const char* value;  // nullptr: present, any value
  };
  for (const Key& key : {Key{"openrtm.version", "1.2.2"}, Key{"openrtm.name", nullptr},
                         Key{"config.version", "1.2.2"}, Key{"corba.id", "omniORB"},
                         Key{"os.name", "Linux"}, Key{"os.arch", nullptr},
                         Key{"os.hostname", nullptr}, Key{"os.release", nullptr},
                         Key{"corba.endpoints", nullptr}, Key{"naming.enable", nullptr},
                         Key{"naming.formats", nullptr}, Key{"naming.type", "corba"},
                         Key{"logger.log_level", nullptr},
                         Key{"manager.instance_name", "manager"}, Key{"config_file", nullptr},
                         Key{"sdo.service.consumer.available_services",
                             "IDL:OpenRTM/ComponentObserver:1.0,IDL:OpenRTM/Logger:1.0"},
                         Key{"sdo.service.provider.enabled_services", "ALL"},
                         Key{"port.inport.in", ""}}) {
    SCOPED_TRACE(key.name);
    ASSERT_EQ(1u, props.count(key.name));
    if (key.value != nullptr) {
      EXPECT_EQ(key.value, props[key.name]);
    }
  }
  EXPECT_NE(std::string::npos, props["openrtm.name"].find("1.2.2"));

  CORBA::String_var id = ref->get_sdo_id();
  CORBA::String_var type = ref->get_sdo_type();
  EXPECT_STREQ(probe->getInstanceName(), id.in());
  EXPECT_STREQ("a recording probe", type.in());

  RTC::ExecutionContextList_var owned = ref->get_owned_contexts();
  ASSERT_EQ(1u, owned->length());
  RTC::ExecutionContext_var ec = ref->get_context(0);
  EXPECT_TRUE(ec->_is_equivalent(owned[0]));
  EXPECT_EQ(0, ref->get_context_handle(ec));
  EXPECT_TRUE(ref->is_alive(ec));
  EXPECT_TRUE(CORBA::is_nil(RTC::ExecutionContext_var(ref->get_context(1000))));
  RTC::ExecutionContextList_var others = ref->get_participating_contexts();
  EXPECT_EQ(0u, others->length());
  EXPECT_EQ(RTC::BAD_PARAMETER, ref->detach_context(1000));

  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, ref->initialize());
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, ref->finalize());

  // Actions over CORBA run only for a context the component takes part in:
  // its own context calls it directly, so a caller naming that one (or none
  // it knows) would run it beside the context's thread.
  const std::vector<std::string> before = callsOf(probe->getInstanceName());
  RTC::DataFlowComponent_var actions = RTC::DataFlowComponent::_narrow(ref);
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, actions->on_deactivated(0));
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, actions->on_execute(0));
  EXPECT_EQ(RTC::BAD_PARAMETER, actions->on_activated(7));
  EXPECT_EQ(RTC::BAD_PARAMETER, actions->on_reset(1000));
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, actions->on_initialize());
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, actions->on_finalize());
  EXPECT_EQ(before, callsOf(probe->getInstanceName()));
  Probe* host = registerAndCreate("Probe");
  ASSERT_NE(nullptr, host);
  RTC::ExecutionContext_var foreign = contextOf(host);
  const RTC::ExecutionContextHandle_t joined = ref->attach_context(foreign);
  EXPECT_EQ(1000, joined);
  EXPECT_EQ(RTC::RTC_OK, actions->on_reset(joined));
  EXPECT_EQ("onReset", callsOf(probe->getInstanceName()).back());
  // One at a time: two on_deactivated at once used to free the viewer's
  // buffer twice.
  probe->m_slowReset = true;
  std::thread other([&] { actions->on_reset(joined); });
  EXPECT_EQ(RTC::RTC_OK, actions->on_reset(joined));
  other.join();
  probe->m_slowReset = false;
  EXPECT_EQ(1, probe->m_mostResetsAtOnce.load());
  EXPECT_EQ(RTC::RTC_OK, ref->detach_context(joined));

  SDOPackage::Configuration_var config = ref->get_configuration();
  EXPECT_FALSE(CORBA::is_nil(config));
  EXPECT_THROW(SDOPackage::Monitoring_var(ref->get_monitoring()),
               SDOPackage::InterfaceNotImplemented);
  EXPECT_THROW(CORBA::Any_var(ref->get_status("x")), SDOPackage::InvalidParameter);
  EXPECT_THROW(SDOPackage::ServiceProfile_var(ref->get_service_profile("x")),
               SDOPackage::InvalidParameter);
  EXPECT_THROW(SDOPackage::SDOService_var(ref->get_sdo_service("x")), SDOPackage::InvalidParameter);
  EXPECT_EQ(0u, SDOPackage::OrganizationList_var(ref->get_organizations())->length());
  // Until the component publishes figures of its own, only its ports' show.
  SDOPackage::NVList_var status = ref->get_status_list();
  for (CORBA::ULong i = 0; i < status->length(); ++i) {
    EXPECT_EQ(0u, std::string(status[i].name.in()).rfind("port.", 0)) << status[i].name.in();
  }
  EXPECT_EQ(0u, SDOPackage::ServiceProfileList_var(ref->get_service_profiles())->length());
}

TEST(Manager, LifecycleThroughTheContextRunsExitAndEntryActionsInOrder) {
  Probe* probe = registerAndCreate("Probe");
  ASSERT_NE(nullptr, probe);
  const std::string name = probe->getInstanceName();
  RTC::RTObject_var ref = probe->getObjRef();
  RTC::ExecutionContext_var ec = contextOf(probe);

  EXPECT_EQ(RTC::INACTIVE_STATE, ec->get_component_state(ref));
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, ec->deactivate_component(ref));
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, ec->reset_component(ref));
  ASSERT_EQ(RTC::RTC_OK, ec->activate_component(ref));
  EXPECT_EQ(RTC::ACTIVE_STATE, ec->get_component_state(ref));
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, ec->activate_component(ref));
  ASSERT_EQ(RTC::RTC_OK, ec->deactivate_component(ref));
  EXPECT_EQ(RTC::INACTIVE_STATE, ec->get_component_state(ref));

  // A failing activation passes through on_deactivated into ERROR, and is
  // reported as the failure it is.
  probe->m_failActivate = true;
  EXPECT_EQ(RTC::RTC_ERROR, ec->activate_component(ref));
  EXPECT_EQ(RTC::ERROR_STATE, ec->get_component_state(ref));
  EXPECT_EQ(RTC::PRECONDITION_NOT_MET, ec->activate_component(ref));
  probe->m_failActivate = false;
  ASSERT_EQ(RTC::RTC_OK, ec->reset_component(ref));
  EXPECT_EQ(RTC::INACTIVE_STATE, ec->get_component_state(ref));

  std::vector<std::string> expected = {
      "onInitialize",  "onActivated level=3", "onDeactivated", "onActivated level=3",
      "onDeactivated", "onAborting",          "onReset"};
  EXPECT_EQ(expected, callsOf(name));
}

TEST(Manager, ExceptionFromAnActionBecomesAnErrorNotACrash) {
  Probe* probe = registerAndCreate("Probe");
  ASSERT_NE(nullptr, probe);
  RTC::RTObject_var ref = probe->getObjRef();
  RTC::ExecutionContext_var ec = contextOf(probe);
  ASSERT_EQ(RTC::RTC_OK, ec->activate_component(ref));
  probe->m_throwInExecute = true;
  EXPECT_TRUE(waitUntil([&] { return ec->get_component_state(ref) == RTC::ERROR_STATE; }, 10.0));
  probe->m_throwInExecute = false;
  EXPECT_EQ(RTC::RTC_OK, ec->reset_component(ref));
  EXPECT_NE(std::string::npos, pixmoor_test::readFile(ManagerEnvironment::s_dir + "/rtc.log")
                                   .find("onExecute() threw: probe failure"));
}

// What the usual tools do: send the whole active set back, then activate it.
void setParameter(RTC::RTObject_ptr ref, const char* name, const char* value) {
  SDOPackage::Configuration_var config = ref->get_configuration();
  SDOPackage::ConfigurationSet_var set = config->get_active_configuration_set();
  bool found = false;
  for (CORBA::ULong i = 0; i < set->configuration_data.length(); ++i) {
    if (std::string(set->configuration_data[i].name) == name) {
      set->configuration_data[i].value <<= value;
      found = true;
    }
  }
  if (!found) {
    CORBA::ULong n = set->configuration_data.length();
    set->configuration_data.length(n + 1);
    set->configuration_data[n].name = CORBA::string_dup(name);
    set->configuration_data[n].value <<= value;
  }
  ASSERT_TRUE(config->set_configuration_set_values(set.in()));
  ASSERT_TRUE(config->activate_configuration_set(set->id));
}

TEST(Manager, ConfigurationChangesReachTheBoundVariableOnTheContextThread) {
  Probe* probe = registerAndCreate("Probe");
  ASSERT_NE(nullptr, probe);
  const std::string name = probe->getInstanceName();
  RTC::RTObject_var ref = probe->getObjRef();
  RTC::ExecutionContext_var ec = contextOf(probe);

  setParameter(ref, "level", "12");
  EXPECT_EQ(3, probe->level()) << "applied only at the context's update points";
  ASSERT_EQ(RTC::RTC_OK, ec->activate_component(ref));
  EXPECT_EQ("onActivated level=12", callsOf(name).back()) << "applied just before onActivated";

  setParameter(ref, "level", "-4");
  EXPECT_TRUE(waitUntil([&] { return probe->level() == -4; }, 10.0)) << "applied while active";
  setParameter(ref, "level", "many");
  EXPECT_TRUE(waitUntil([&] { return probe->level() == 3; }, 10.0)) << "bad value: the default";
  ASSERT_EQ(RTC::RTC_OK, ec->deactivate_component(ref));
}

TEST(Manager, ExitFinalizesRemovesTheNameAndDestroysTheComponent) {
  Probe* probe = registerAndCreate("Leaving");
  ASSERT_NE(nullptr, probe);
  const std::string name = probe->getInstanceName();
  RTC::RTObject_var ref = probe->getObjRef();
  RTC::ExecutionContext_var ec = contextOf(probe);
  ASSERT_EQ(RTC::RTC_OK, ec->activate_component(ref));
  const std::string path = pixmoor_test::hostName() + ".host_cxt/" + name + ".rtc";
  const std::string loc = ManagerEnvironment::s_names.corbaloc();
  ASSERT_FALSE(CORBA::is_nil(CORBA::Object_var(pixmoor_test::resolveName(loc, path))));
  const int deletedBefore = g_deleted;

  double t0 = now();
  EXPECT_EQ(RTC::RTC_OK, ref->exit());
  EXPECT_TRUE(CORBA::is_nil(CORBA::Object_var(pixmoor_test::resolveName(loc, path))))
      << "unbound by the time exit() answers";
  EXPECT_TRUE(waitUntil([&] { return g_deleted > deletedBefore; }, 10.0));
  std::printf("exit to destruction: %.3f s\n", now() - t0);
  EXPECT_EQ(nullptr, manager().getComponent(name.c_str()));
  std::vector<std::string> tail = callsOf(name);
  ASSERT_GE(tail.size(), 2u);
  EXPECT_EQ("onDeactivated", tail[tail.size() - 2]);
  EXPECT_EQ("onFinalize", tail.back());
  EXPECT_THROW(ref->get_sdo_id(), CORBA::OBJECT_NOT_EXIST);

  // The number is free again.
  Probe* again = create("Leaving");
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(name, again->getInstanceName());
}

// Components may end themselves from their own actions: the context's
// thread must not wait for itself.
TEST(Manager, ExitFromTheComponentsOwnActionDoesNotDeadlock) {
  Probe* probe = registerAndCreate("Leaving");
  ASSERT_NE(nullptr, probe);
  const std::string name = probe->getInstanceName();
  RTC::RTObject_var ref = probe->getObjRef();
  RTC::ExecutionContext_var ec = contextOf(probe);
  ASSERT_EQ(RTC::RTC_OK, ec->activate_component(ref));
  const int deletedBefore = g_deleted;
  probe->m_exitInExecute = true;
  double t0 = now();
  EXPECT_TRUE(waitUntil([&] { return g_deleted > deletedBefore; }, 20.0));
  std::printf("self-exit to destruction: %.3f s\n", now() - t0);
  EXPECT_EQ(nullptr, manager().getComponent(name.c_str()));
  std::vector<std::string> tail = callsOf(name);
  ASSERT_GE(tail.size(), 2u);
  EXPECT_EQ("onDeactivated", tail[tail.size() - 2]);
  EXPECT_EQ("onFinalize", tail.back());
}

}  // namespace
