#include "common/Uuid.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <random>

namespace RTC {

std::string makeUuid() {
  static std::mutex mutex;
  static std::mt19937_64 engine{[] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }()};
  std::uint64_t hi, lo;
  {
    std::lock_guard<std::mutex> guard(mutex);
    hi = engine();
    lo = engine();
  }
  hi = (hi & ~std::uint64_t(0xF000)) | 0x4000;                           // version 4
  lo = (lo & ~(std::uint64_t(0xC) << 60)) | (std::uint64_t(0x8) << 60);  // RFC 4122 variant
  char text[37];
  std::snprintf(text, sizeof(text), "%08x-%04x-%04x-%04x-%012llx", static_cast<unsigned>(hi >> 32),
                static_cast<unsigned>((hi >> 16) & 0xFFFF), static_cast<unsigned>(hi & 0xFFFF),
                static_cast<unsigned>(lo >> 48),
                static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFULL));
  return std::string(text);
}

}  // namespace RTC
