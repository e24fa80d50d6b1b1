// The buffer settings of one side of a connection.
#ifndef RTM_SRC_BUFFERSETTINGS_H
#define RTM_SRC_BUFFERSETTINGS_H

#include <coil/Properties.h>

#include <cstddef>
#include <string>
#include <vector>

namespace RTC {

// What a full buffer does with a new sample.
enum class FullPolicy { Overwrite, DoNothing, Block };
// What reading an empty buffer does.
enum class EmptyPolicy { Readback, DoNothing, Block };

// Length, policies and timeouts of a connector buffer.
struct BufferSettings {
  // Longest buffer a connection may ask for: every slot may hold a frame.
  static constexpr size_t kMaxLength = 1024;

  size_t length = 8;
  FullPolicy fullPolicy = FullPolicy::Overwrite;
  double writeTimeout = 1.0;  // seconds, for FullPolicy::Block
  EmptyPolicy emptyPolicy = EmptyPolicy::Readback;
  double readTimeout = 1.0;  // seconds, for EmptyPolicy::Block

  // Reads dataport.buffer.* from a connector's properties, then the same
  // keys under dataport.<side>.buffer.* (side "inport" or "outport"), which
  // win. Values that do not parse keep the default and are described in
  // `problems`.
  static BufferSettings fromProperties(const coil::Properties& props, const std::string& side,
                                       std::vector<std::string>* problems);
};

}  // namespace RTC

#endif
