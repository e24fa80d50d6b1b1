// Publishers: when and which buffered samples a push connection sends.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "PortTestSupport.h"
#include "port/Publisher.h"

using namespace RTC;

namespace {

// A publisher whose peer records the first byte of each sample.
struct Recorded {
  Recorded(PublisherKind kind, PushPolicy policy, unsigned long skip = 0, double rate = 0,
           BufferSettings buffer = BufferSettings()) {
    PublisherSettings s;
    s.kind = kind;
    s.policy = policy;
    s.skipCount = skip;
    s.pushRate = rate;
    publisher.reset(new Publisher(
        s, buffer,
        [this](const CORBA::Octet* data, CORBA::ULong) {
          std::lock_guard<std::mutex> guard(mutex);
          sent.push_back(data[0]);
          return answer.load();
        },
        [this] { ++gone; }));
    publisher->start();
  }
  WriteResult write(std::uint8_t n) {
    const CORBA::Octet byte = n;
    return publisher->write(&byte, 1);
  }
  std::vector<int> taken() {
    std::lock_guard<std::mutex> guard(mutex);
    return sent;
  }
  std::mutex mutex;
  std::vector<int> sent;
  std::atomic<WriteResult> answer{WriteResult::Ok};
  std::atomic<int> gone{0};
  std::unique_ptr<Publisher> publisher;
};

}  // namespace

// Seven samples written within one period of a 4 Hz publisher are sent in
// its first round according to the push policy.
TEST(Publisher, PeriodicRoundFollowsThePushPolicy) {
  struct Case {
    PushPolicy policy;
    unsigned long skip;
    std::vector<int> firstRound;
  };
  for (const Case& c :
       {Case{PushPolicy::All, 0, {0, 1, 2, 3, 4, 5, 6}}, Case{PushPolicy::Fifo, 0, {0}},
        Case{PushPolicy::Skip, 2, {0, 3, 6}}, Case{PushPolicy::New, 0, {6}}}) {
    SCOPED_TRACE(static_cast<int>(c.policy));
    Recorded r(PublisherKind::Periodic, c.policy, c.skip, 4.0);
    for (std::uint8_t i = 0; i < 7; ++i) ASSERT_EQ(WriteResult::Ok, r.write(i));
    ASSERT_TRUE(port_test::waitFor([&] { return !r.taken().empty(); }, 2.0));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(c.firstRound, r.taken());
    if (c.policy == PushPolicy::Fifo) {
      // One per round: the rest follow in order, a period apart.
      ASSERT_TRUE(port_test::waitFor([&] { return r.taken().size() >= 3; }, 3.0));
      const std::vector<int> sent = r.taken();
      EXPECT_EQ((std::vector<int>{0, 1, 2}), std::vector<int>(sent.begin(), sent.begin() + 3));
    }
  }
}

// The skip count runs on across rounds.
TEST(Publisher, SkipCountsAcrossRounds) {
  Recorded r(PublisherKind::New, PushPolicy::Skip, 1);
  for (std::uint8_t i = 0; i < 6; ++i) {
    r.write(i);
    ASSERT_TRUE(port_test::waitFor([&] { return i % 2 == 1 || r.taken().size() == i / 2u + 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ((std::vector<int>{0, 2, 4}), r.taken());
}

// A new publisher wakes on every write: with fifo and room in its buffer
// nothing is left behind.
TEST(Publisher, NewSendsEachWrite) {
  BufferSettings buffer;
  buffer.length = 32;
  Recorded r(PublisherKind::New, PushPolicy::Fifo, 0, 0, buffer);
  for (std::uint8_t i = 0; i < 20; ++i) ASSERT_EQ(WriteResult::Ok, r.write(i));
  ASSERT_TRUE(port_test::waitFor([&] { return r.taken().size() == 20; }));
  for (int i = 0; i < 20; ++i) EXPECT_EQ(i, r.taken()[i]);
}

// A full publisher buffer refuses what it cannot keep (do_nothing, block
// after its timeout) while the peer is slow.
TEST(Publisher, FullBufferRefusesNewSamples) {
  for (FullPolicy policy : {FullPolicy::DoNothing, FullPolicy::Block}) {
    BufferSettings buffer;
    buffer.length = 2;
    buffer.fullPolicy = policy;
    buffer.writeTimeout = 0.05;
    Recorded r(PublisherKind::Periodic, PushPolicy::All, 0, 0.5, buffer);
    EXPECT_EQ(WriteResult::Ok, r.write(1));
    EXPECT_EQ(WriteResult::Ok, r.write(2));
    EXPECT_EQ(WriteResult::Refused, r.write(3));
  }
}

// A peer found gone ends the thread after telling the owner once.
TEST(Publisher, PeerGoneIsReportedOnceAndEndsTheThread) {
  Recorded r(PublisherKind::New, PushPolicy::All);
  r.answer = WriteResult::PeerGone;
  r.write(1);
  ASSERT_TRUE(port_test::waitFor([&] { return r.gone.load() == 1; }));
  r.write(2);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(1, r.gone.load());
  EXPECT_EQ(1u, r.taken().size());
}

TEST(Publisher, SettingsFromConnectionProperties) {
  struct Case {
    port_test::Props props;
    bool ok;
    PublisherKind kind;
    PushPolicy policy;
  };
  const std::vector<Case> cases = {
      {{}, true, PublisherKind::Flush, PushPolicy::New},
      {{{"dataport.subscription_type", "New"}, {"dataport.publisher.push_policy", "fifo"}},
       true,
       PublisherKind::New,
       PushPolicy::Fifo},
      {{{"dataport.subscription_type", "periodic"}, {"dataport.publisher.push_rate", "30"}},
       true,
       PublisherKind::Periodic,
       PushPolicy::New},
      {{{"dataport.subscription_type", "periodic"}}, false, PublisherKind::Flush, PushPolicy::New},
      {{{"dataport.subscription_type", "periodic"}, {"dataport.publisher.push_rate", "0"}},
       false,
       PublisherKind::Flush,
       PushPolicy::New},
      {{{"dataport.publisher.skip_count", "-2"}}, false, PublisherKind::Flush, PushPolicy::New},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    coil::Properties props;
    for (const auto& kv : cases[i].props) props.setProperty(kv.first, kv.second);
    PublisherSettings s;
    std::string why;
    EXPECT_EQ(cases[i].ok, PublisherSettings::fromProperties(props, s, why)) << why;
    if (cases[i].ok) {
      EXPECT_EQ(cases[i].kind, s.kind);
      EXPECT_EQ(cases[i].policy, s.policy);
    } else {
      EXPECT_FALSE(why.empty());
    }
  }
}

// End to end through the ports: new and periodic publishers deliver every
// sample in order with push_policy all.
TEST(Publisher, ThreadedPublishersDeliverThroughThePorts) {
  for (const char* kind : {"new", "periodic"}) {
    SCOPED_TRACE(kind);
    port_test::Sink sink;
    port_test::Source source;
    ASSERT_EQ(RTC::RTC_OK,
              port_test::connectVia(source.ref(), source.ref(), sink.ref(),
                                    {{"dataport.subscription_type", kind},
                                     {"dataport.publisher.push_rate", "100"},
                                     {"dataport.publisher.push_policy", "all"},
                                     {"dataport.buffer.length", "32"},
                                     {"dataport.buffer.read.empty_policy", "do_nothing"}}));
    for (CORBA::Long i = 0; i < 20; ++i) {
      source.fill(64, i);
      ASSERT_TRUE(source.port.write());
    }
    // Reads stop one past the twenty sent, so that a port that keeps
    // answering (an empty buffer read back) fails here instead of hanging.
    std::vector<CORBA::ULong> seen;
    port_test::waitFor([&] {
      while (seen.size() <= 20 && sink.port.read()) seen.push_back(sink.value.tm.sec);
      return seen.size() >= 20;
    });
    ASSERT_EQ(20u, seen.size()) << "samples read from 20 written";
    for (CORBA::ULong i = 0; i < 20; ++i) EXPECT_EQ(i, seen[i]);
    source.fill(64, 19);
    EXPECT_TRUE(port_test::sameSample(source.value, sink.value));
  }
}
