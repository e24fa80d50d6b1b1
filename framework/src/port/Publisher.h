// RTC::Publisher: how an outport's push connection sends what is written.
#ifndef RTM_SRC_PUBLISHER_H
#define RTM_SRC_PUBLISHER_H

#include <coil/Properties.h>
#include <rtm/RTC.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "port/CdrQueue.h"

namespace RTC {

// Outcome of handing a sample to a connection; Unanswered: the peer let the
// call time out (it may be stopped, and is kept).
enum class WriteResult { Ok, Refused, Failed, Unanswered, PeerGone };

// When samples are sent: inside write (flush), from a thread woken by each
// write (new), or from a thread every 1/push_rate seconds (periodic).
enum class PublisherKind { Flush, New, Periodic };
// Which buffered samples a sending round sends.
enum class PushPolicy { All, Fifo, Skip, New };

// The publisher settings of a connection.
struct PublisherSettings {
  PublisherKind kind = PublisherKind::Flush;
  PushPolicy policy = PushPolicy::New;
  unsigned long skipCount = 0;
  double pushRate = 0;  // Hz, periodic only

  // Reads dataport.subscription_type and dataport.publisher.*. False, with
  // the reason in `error`, for settings the outport cannot serve (unknown
  // values, periodic without a positive push_rate).
  static bool fromProperties(const coil::Properties& props, PublisherSettings& out,
                             std::string& error);
};

// The sending thread of a new or periodic publisher, with its own buffer.
// write() copies the marshalled sample into the buffer (storage is reused)
// and returns; the thread sends according to the push policy.
class Publisher {
 public:
  // Sends one sample's bytes to the peer.
  typedef std::function<WriteResult(const CORBA::Octet* data, CORBA::ULong length)> SendFn;

  // `onPeerGone` runs on the publisher's thread when a send finds the peer
  // gone; the thread ends right after it. The buffer's storage is charged
  // to `budget` (the port's, which must outlive the publisher; nullptr:
  // none).
  Publisher(const PublisherSettings& settings, const BufferSettings& buffer, SendFn send,
            std::function<void()> onPeerGone, MemoryBudget* budget = nullptr);
  // Stops the thread.
  ~Publisher();
  Publisher(const Publisher&) = delete;
  Publisher& operator=(const Publisher&) = delete;

  // Starts the sending thread.
  void start();
  // Buffers a copy of the sample: Ok, or Refused when the buffer is full
  // (do_nothing, or block past its timeout) or the budget cannot take it.
  WriteResult write(const CORBA::Octet* data, CORBA::ULong length);
  // Stops the thread and waits for it, unless called from the thread
  // itself (which then ends on its own). Safe to call twice.
  void stop();

 private:
  void run();
  // Sends per the push policy; false when the peer is gone.
  bool pushRound();
  bool sendCurrent();

  const PublisherSettings m_settings;
  CdrQueue m_queue;
  const SendFn m_send;
  const std::function<void()> m_onPeerGone;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  unsigned long m_pendingWakes = 0;
  bool m_stop = false;
  std::thread m_thread;
  // Touched by the thread only.
  CdrChunk m_sending;
  unsigned long m_skipPhase = 0;
};

}  // namespace RTC

#endif
