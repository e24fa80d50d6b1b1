// What every fuzz target shares: its default corpus and dictionary, and a
// check that aborts with a message (libFuzzer then saves the input).
#ifndef PIXMOOR_FUZZ_FUZZSUPPORT_H
#define PIXMOOR_FUZZ_FUZZSUPPORT_H

#include <omniORB4/CORBA.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace pixmoor_fuzz {

// Aborts with `what` when `condition` is false.
#define FUZZ_CHECK(condition, what)                                                   \
  do {                                                                                \
    if (!(condition)) {                                                               \
      std::fprintf(stderr, "%s:%d: %s (%s)\n", __FILE__, __LINE__, what, #condition); \
      std::abort();                                                                   \
    }                                                                                 \
  } while (0)

inline bool makeDirs(const std::string& path) {
  for (std::string::size_type at = 1; at != std::string::npos; ++at) {
    at = path.find('/', at);
    const std::string head = path.substr(0, at);
    if (::mkdir(head.c_str(), 0777) != 0 && errno != EEXIST) return false;
    if (at == std::string::npos) break;
  }
  return true;
}

// Called from LLVMFuzzerInitialize, adds what the command line leaves out:
// the dictionary, an allocation limit and, with no corpus or input named,
// the build tree's findings directory (first, so new inputs land there and
// never in the sources), the seeds, and crash files beside the findings.
inline void addDefaults(int* argc, char*** argv) {
  bool named = false;
  bool dict = false;
  bool artifacts = false;
  bool mallocLimit = false;
  for (int i = 1; i < *argc; ++i) {
    if ((*argv)[i][0] != '-') named = true;
    if (std::strncmp((*argv)[i], "-dict=", 6) == 0) dict = true;
    if (std::strncmp((*argv)[i], "-artifact_prefix=", 17) == 0) artifacts = true;
    if (std::strncmp((*argv)[i], "-malloc_limit_mb=", 17) == 0) mallocLimit = true;
  }
  static std::vector<std::string> extra;
  if (!dict && PIXMOOR_FUZZ_DICT[0] != '\0')
    extra.push_back(std::string("-dict=") + PIXMOOR_FUZZ_DICT);
  // Inputs are a few kilobytes: any single allocation near this is a
  // decoder believing a length the bytes do not back.
  if (!mallocLimit) extra.push_back("-malloc_limit_mb=64");
  if (!named) {
    if (!makeDirs(PIXMOOR_FUZZ_FINDINGS)) {
      std::fprintf(stderr, "cannot create %s: %s\n", PIXMOOR_FUZZ_FINDINGS, std::strerror(errno));
      std::exit(2);
    }
    // Crashing inputs go beside the findings, not into the working directory.
    if (!artifacts) extra.push_back(std::string("-artifact_prefix=") + PIXMOOR_FUZZ_FINDINGS + "-");
    extra.push_back(PIXMOOR_FUZZ_FINDINGS);
    extra.push_back(PIXMOOR_FUZZ_SEEDS);
  }
  if (extra.empty()) return;
  static std::vector<char*> args;
  args.assign(*argv, *argv + *argc);
  for (std::string& e : extra) args.push_back(&e[0]);
  args.push_back(nullptr);
  *argc = static_cast<int>(args.size()) - 1;
  *argv = args.data();
}

// Starts an ORB on loopback: omniORB's Any needs an initialised ORB, as
// every port has. It never serves a request.
inline void startLoopbackOrb(const char* program) {
  int orbArgc = 3;
  char* orbArgv[] = {const_cast<char*>(program), const_cast<char*>("-ORBendPoint"),
                     const_cast<char*>("giop:tcp:127.0.0.1:"), nullptr};
  CORBA::ORB_init(orbArgc, orbArgv);
}

}  // namespace pixmoor_fuzz

#endif
