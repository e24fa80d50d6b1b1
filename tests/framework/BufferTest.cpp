// Connector buffers without an ORB: the ring, the chunk queue, settings and
// the sample check.
// The data types before the port headers, whose templates look up their
// Any operators (see rtm/CdrSerializer.h).
#include <rtm/idl/BasicDataTypeSkel.h>

#include <gtest/gtest.h>
#include <rtm/CdrSerializer.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

#include "port/BufferSettings.h"
#include "port/CdrChunk.h"
#include "port/CdrQueue.h"
#include "PortTestSupport.h"
#include "port/RingBuffer.h"
#include "port/SharedMemoryTransport.h"

using namespace RTC;

namespace {

BufferSettings settings(size_t length, FullPolicy full, EmptyPolicy empty = EmptyPolicy::DoNothing,
                        double timeout = 0.05) {
  BufferSettings s;
  s.length = length;
  s.fullPolicy = full;
  s.emptyPolicy = empty;
  s.writeTimeout = timeout;
  s.readTimeout = timeout;
  return s;
}

std::vector<int> drain(RingBuffer<int>& ring) {
  std::vector<int> out;
  int v = 0;
  while (ring.take(v) == BufferStatus::Ok) out.push_back(v);
  return out;
}

}  // namespace

TEST(RingBuffer, FullPolicies) {
  struct Case {
    FullPolicy policy;
    BufferStatus third;
    std::vector<int> left;
  };
  for (const Case& c : {Case{FullPolicy::Overwrite, BufferStatus::Ok, {2, 3}},
                        Case{FullPolicy::DoNothing, BufferStatus::Full, {1, 2}},
                        Case{FullPolicy::Block, BufferStatus::Timeout, {1, 2}}}) {
    SCOPED_TRACE(static_cast<int>(c.policy));
    RingBuffer<int> ring(settings(2, c.policy));
    for (int v : {1, 2}) ASSERT_EQ(BufferStatus::Ok, ring.put(v));
    int three = 3;
    EXPECT_EQ(c.third, ring.put(three));
    EXPECT_EQ(c.left, drain(ring));
  }
}

// Wrapping around many times keeps order and count.
TEST(RingBuffer, KeepsOrderAcrossWraps) {
  RingBuffer<int> ring(settings(3, FullPolicy::DoNothing));
  std::vector<int> seen;
  for (int i = 0; i < 20; ++i) {
    int v = i;
    ASSERT_EQ(BufferStatus::Ok, ring.put(v));
    if (i % 2 == 1) {
      for (int x : drain(ring)) seen.push_back(x);
    }
  }
  for (int i = 0; i < 20; ++i) EXPECT_EQ(i, seen[i]);
}

TEST(RingBuffer, EmptyAndBlockingReads) {
  int v = 0;
  RingBuffer<int> plain(settings(2, FullPolicy::DoNothing, EmptyPolicy::Readback));
  EXPECT_EQ(BufferStatus::Empty, plain.take(v));
  RingBuffer<int> blocking(settings(2, FullPolicy::DoNothing, EmptyPolicy::Block, 0.05));
  EXPECT_EQ(BufferStatus::Timeout, blocking.take(v));
  RingBuffer<int> waiting(settings(2, FullPolicy::DoNothing, EmptyPolicy::Block, 10));
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int seven = 7;
    waiting.put(seven);
  });
  EXPECT_EQ(BufferStatus::Ok, waiting.take(v));
  writer.join();
  EXPECT_EQ(7, v);
}

// close() releases a writer blocked on a full buffer and a reader blocked
// on an empty one at once.
TEST(RingBuffer, CloseWakesWaiters) {
  RingBuffer<int> full(settings(1, FullPolicy::Block, EmptyPolicy::Block, 30));
  RingBuffer<int> empty(settings(1, FullPolicy::Block, EmptyPolicy::Block, 30));
  int one = 1;
  ASSERT_EQ(BufferStatus::Ok, full.put(one));
  BufferStatus writerStatus = BufferStatus::Ok, readerStatus = BufferStatus::Ok;
  std::thread writer([&] {
    int two = 2;
    writerStatus = full.put(two);
  });
  std::thread reader([&] {
    int v = 0;
    readerStatus = empty.take(v);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const double start = pixmoor_test::now();
  full.close();
  empty.close();
  writer.join();
  reader.join();
  EXPECT_LT(pixmoor_test::now() - start, 5.0);
  EXPECT_EQ(BufferStatus::Closed, writerStatus);
  EXPECT_EQ(BufferStatus::Closed, readerStatus);
}

// Storage cycles between the queue's pool and its ring: once each slot has
// held a sample of a size, storing more of that size allocates nothing.
TEST(CdrQueue, ReusesStorageOnceWarm) {
  CdrQueue queue(settings(2, FullPolicy::Overwrite));
  const std::vector<CORBA::Octet> bytes(4096, 0xAB);
  CdrChunk reader;
  std::vector<const CORBA::Octet*> seen;
  for (int round = 0; round < 12; ++round) {
    ASSERT_EQ(BufferStatus::Ok, queue.storeCopy(bytes.data(), 4096));
    ASSERT_EQ(BufferStatus::Ok, queue.take(reader));
    ASSERT_EQ(4096u, reader.length());
    EXPECT_EQ(0xAB, reader.data()[4095]);
    EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(reader.data()) % 8);
    if (round >= 4) seen.push_back(reader.data());
  }
  // The same few buffers come round again and again.
  std::sort(seen.begin(), seen.end());
  EXPECT_LE(std::unique(seen.begin(), seen.end()) - seen.begin(), 4);
}

// A sequence that owns its buffer is adopted as it is; one that borrows
// memory is copied.
TEST(CdrChunk, AdoptsOwnedSequencesAndCopiesBorrowedOnes) {
  OpenRTM::CdrData owned;
  owned.length(64);
  const CORBA::Octet* buffer = owned.get_buffer();
  CdrChunk chunk;
  bool ok = false;
  EXPECT_TRUE(chunk.takeFrom(owned, ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ(buffer, chunk.data());
  EXPECT_EQ(0u, owned.length());

  std::vector<CORBA::Octet> memory(64, 1);
  OpenRTM::CdrData borrowed(64, 64, memory.data(), false);
  EXPECT_FALSE(chunk.takeFrom(borrowed, ok));
  EXPECT_TRUE(ok);
  EXPECT_NE(memory.data(), chunk.data());
  EXPECT_EQ(64u, borrowed.length());
  EXPECT_EQ(1, chunk.data()[63]);
}

// Every byte of storage is charged while held and given back whole: a chunk
// that reused its storage for a shorter sample returns its capacity, not the
// sample's length, or the port's accounting drifts until it refuses all.
TEST(CdrChunk, ChargesItsWholeStorageToTheBudgetAndGivesItBack) {
  MemoryBudget budget(10000);
  const std::vector<CORBA::Octet> bytes(4096, 0xCD);
  {
    CdrChunk chunk;
    chunk.setBudget(&budget);
    ASSERT_TRUE(chunk.assign(bytes.data(), 4096));
    ASSERT_TRUE(chunk.assign(bytes.data(), 100));
    EXPECT_EQ(4096u, budget.used());
    chunk.release();
    EXPECT_EQ(0u, budget.used());
    ASSERT_TRUE(chunk.assign(bytes.data(), 4000));
    EXPECT_FALSE(chunk.assign(std::vector<CORBA::Octet>(10001).data(), 10001)) << "past the limit";
    EXPECT_EQ(0u, budget.used());
  }
  EXPECT_EQ(0u, budget.used());
}

// The sample a reader holds does not shut out the next one: with nothing
// else charged, a sample that fits the limit on its own is taken, once;
// spare storage is freed rather than kept when it would take that room.
TEST(CdrQueue, TheHeldSampleDoesNotShutOutTheNext) {
  MemoryBudget budget(6000);
  EXPECT_TRUE(budget.reserve(4000));
  budget.setHeld(4000);
  EXPECT_TRUE(budget.fits(4000)) << "only the held sample is charged";
  EXPECT_FALSE(budget.fits(6001));
  EXPECT_TRUE(budget.reserve(4000));
  EXPECT_FALSE(budget.fits(1)) << "something besides the held sample";
  budget.release(8000);
  budget.setHeld(0);

  for (const FullPolicy policy : {FullPolicy::Overwrite, FullPolicy::DoNothing}) {
    SCOPED_TRACE(policy == FullPolicy::Overwrite ? "overwrite" : "do_nothing");
    CdrQueue queue(settings(8, policy), &budget);
    const std::vector<CORBA::Octet> bytes(4000, 0x5A);
    CdrChunk held;
    ASSERT_EQ(BufferStatus::Ok, queue.storeCopy(bytes.data(), 4000));
    ASSERT_EQ(BufferStatus::Ok, queue.take(held));
    budget.setHeld(held.capacity());
    ASSERT_EQ(BufferStatus::Ok, queue.storeCopy(bytes.data(), 4000));
    // Past the limit with an unread sample beside the held one: overwrite
    // drops that one, do_nothing refuses.
    EXPECT_EQ(policy == FullPolicy::Overwrite ? BufferStatus::Ok : BufferStatus::OverBudget,
              queue.storeCopy(bytes.data(), 4000));
    EXPECT_EQ(1u, queue.readable());
    // Reading replaces the held sample; its storage is freed, not spared.
    ASSERT_EQ(BufferStatus::Ok, queue.take(held));
    EXPECT_EQ(4000u, budget.used());
    held.release();
    EXPECT_EQ(0u, budget.used());
    budget.setHeld(0);
  }
}

TEST(BufferSettings, ReadsBothSidesAndReportsBadValues) {
  coil::Properties props;
  props.setProperty("dataport.buffer.length", "4");
  props.setProperty("dataport.buffer.write.full_policy", "Block");
  props.setProperty("dataport.buffer.write.timeout", "2.5");
  props.setProperty("dataport.inport.buffer.length", "16");
  props.setProperty("dataport.inport.buffer.read.empty_policy", "do_nothing");
  props.setProperty("dataport.outport.buffer.read.timeout", "soon");
  std::vector<std::string> problems;
  const BufferSettings in = BufferSettings::fromProperties(props, "inport", &problems);
  EXPECT_EQ(16u, in.length);
  EXPECT_EQ(FullPolicy::Block, in.fullPolicy);
  EXPECT_DOUBLE_EQ(2.5, in.writeTimeout);
  EXPECT_EQ(EmptyPolicy::DoNothing, in.emptyPolicy);
  EXPECT_TRUE(problems.empty());

  const BufferSettings out = BufferSettings::fromProperties(props, "outport", &problems);
  EXPECT_EQ(4u, out.length);
  EXPECT_EQ(EmptyPolicy::Readback, out.emptyPolicy);
  EXPECT_DOUBLE_EQ(1.0, out.readTimeout);
  EXPECT_EQ(1u, problems.size());

  for (const char* length : {"0", "-3", "eight", "1e99"}) {
    props.setProperty("dataport.buffer.length", length);
    problems.clear();
    EXPECT_EQ(8u, BufferSettings::fromProperties(props, "outport", &problems).length) << length;
    EXPECT_EQ(2u, problems.size()) << length;
  }
  // Lengths past the cap, even past any integer, are clamped and say so:
  // "2147483648" used to claim the default while 1024 slots were used, and
  // 2^64 was "not a positive length".
  for (const char* length : {"1000000000", "2147483648", "18446744073709551616"}) {
    props.setProperty("dataport.buffer.length", length);
    problems.clear();
    EXPECT_EQ(BufferSettings::kMaxLength,
              BufferSettings::fromProperties(props, "outport", &problems).length)
        << length;
    ASSERT_EQ(2u, problems.size()) << length;
    EXPECT_NE(std::string::npos, problems[0].find("longer than the largest buffer; using 1024"))
        << problems[0];
  }
}

// A TimedLongSeq is checked from its header alone, in the connection's byte
// order.
TEST(CdrSerializer, TimedLongSeqMustBeExactlyItsCount) {
  using port_test::timedLongSeqBytes;
  const auto check = &CdrSerializer<RTC::TimedLongSeq>::check;
  for (bool little : {true, false}) {
    std::vector<std::uint8_t> good = timedLongSeqBytes(1, 2, {3, 4, 5}, little);
    EXPECT_TRUE(check(good.data(), good.size(), little));
    EXPECT_FALSE(check(good.data(), good.size(), !little));
    EXPECT_FALSE(check(good.data(), good.size() - 1, little));
    good.insert(good.end(), {0, 0, 0, 0});
    EXPECT_FALSE(check(good.data(), good.size(), little));
    const std::vector<std::uint8_t> empty = timedLongSeqBytes(1, 2, {}, little);
    EXPECT_TRUE(check(empty.data(), 12, little));
  }
  // A count whose byte size wraps 32 bits must not pass: 0x40000001 * 4 + 12 = 16.
  std::vector<std::uint8_t> wrap = timedLongSeqBytes(1, 2, {7}, true);
  wrap[8] = 1, wrap[11] = 0x40;
  EXPECT_FALSE(check(wrap.data(), wrap.size(), true));
  EXPECT_FALSE(check(nullptr, 0, true));
}

// Other data types are checked by decoding into a scratch value, whose
// sequences cannot grow past what the bytes carry.
TEST(CdrSerializer, OtherTypesAreCheckedByDecoding) {
  EXPECT_EQ("IDL:RTC/Time:1.0", CdrSerializer<RTC::Time>::repositoryId());
  alignas(8) const CORBA::Octet time[8] = {1, 0, 0, 0, 2, 0, 0, 0};
  EXPECT_TRUE(CdrSerializer<RTC::Time>::check(time, 8, true));
  EXPECT_FALSE(CdrSerializer<RTC::Time>::check(time, 7, true));
  EXPECT_FALSE(CdrSerializer<RTC::Time>::check(time, 0, true));
  RTC::Time decoded;
  ASSERT_TRUE(CdrSerializer<RTC::Time>::decode(decoded, time, 8, false));
  EXPECT_EQ(0x01000000u, decoded.sec);

  // Found by fuzz_cdr_sample. Trailing bytes used to pass the check, and a
  // sample then read back as something else; a count of 2^30 longs in 112
  // bytes passed omniORB's 32-bit length check as 0 bytes and allocated
  // 4 GiB, with either byte order.
  alignas(8) const CORBA::Octet timeAndMore[9] = {1, 0, 0, 0, 2, 0, 0, 0, 3};
  EXPECT_FALSE(CdrSerializer<RTC::Time>::check(timeAndMore, 9, true));
  for (bool little : {true, false}) {
    SCOPED_TRACE(little ? "little" : "big");
    std::vector<std::uint8_t> huge =
        port_test::timedLongSeqBytes(1, 2, std::vector<std::uint32_t>(25, 7), little);
    huge[little ? 11 : 8] = 0x40, huge[little ? 8 : 11] = 0;
    RTC::TimedLongSeq frame;
    EXPECT_FALSE(CdrSerializer<RTC::TimedLongSeq>::decode(frame, huge.data(), huge.size(), little));
    EXPECT_LE(frame.data.length(), huge.size() / 4);
    std::vector<std::uint8_t> longer = port_test::timedLongSeqBytes(1, 2, {3, 4}, little);
    longer.push_back(0);
    EXPECT_FALSE(
        CdrSerializer<RTC::TimedLongSeq>::decode(frame, longer.data(), longer.size(), little));
  }
}

// A sample marshalled straight into a segment is byte for byte what the
// port's own stream makes, in either byte order, strings included; one that
// does not fit raises MARSHAL and says so, writing nothing past the end.
TEST(SegmentStream, MarshalsAsTheStreamDoesAndStopsAtItsEnd) {
  pixmoor_test::orb();  // strings need the ORB's code sets
  RTC::TimedLongSeq value;
  value.tm.sec = 7;
  value.tm.nsec = 9;
  value.data.length(1000);
  for (CORBA::ULong i = 0; i < value.data.length(); ++i)
    value.data[i] = CORBA::Long(i * 2654435761u);
  for (const bool little : {true, false}) {
    SCOPED_TRACE(little ? "little" : "big");
    cdrMemoryStream aside;
    aside.setByteSwapFlag(little);
    RTC::CdrSerializer<RTC::TimedLongSeq>::encode(value, aside);
    aside.marshalString("frame format");
    std::vector<std::uint64_t> region(aside.bufSize() / 8 + 2, 0x5a5a5a5a5a5a5a5aull);
    unsigned char* begin = reinterpret_cast<unsigned char*>(region.data());
    RTC::SegmentStream in(begin, aside.bufSize(), little);
    RTC::CdrSerializer<RTC::TimedLongSeq>::encode(value, in);
    in.marshalString("frame format");
    ASSERT_EQ(aside.bufSize(), in.written());
    EXPECT_EQ(0, std::memcmp(aside.bufPtr(), begin, aside.bufSize()));
    EXPECT_FALSE(in.overflowed());

    std::fill(region.begin(), region.end(), 0x5a5a5a5a5a5a5a5aull);
    RTC::SegmentStream small(begin, 100, little);
    EXPECT_THROW(RTC::CdrSerializer<RTC::TimedLongSeq>::encode(value, small), CORBA::MARSHAL);
    EXPECT_TRUE(small.overflowed());
    EXPECT_EQ(0x5a, begin[100]);
  }
}
