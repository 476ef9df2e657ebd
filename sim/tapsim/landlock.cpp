// The first layer: the board's process reaches only the files it needs, read
// only, no TCP but a debugger's port, and no signal or abstract socket outside
// the run. The handled rights follow the kernel's ABI, as its sandboxer sample does.
#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "sandbox.h"

namespace tapsim {
namespace {

// Newer than the system's header may be: the values are the kernel's ABI.
constexpr uint64_t kTruncate = 1ULL << 14;      // ABI 3
constexpr uint64_t kIoctlDev = 1ULL << 15;      // ABI 5
constexpr uint64_t kBindTcp = 1ULL << 0;        // ABI 4, network rights
constexpr uint64_t kConnectTcp = 1ULL << 1;
constexpr uint64_t kScopeAbstractUnix = 1ULL << 0;  // ABI 6, scopes
constexpr uint64_t kScopeSignal = 1ULL << 1;
constexpr int kRuleNetPort = 2;
constexpr uint64_t kExecute = LANDLOCK_ACCESS_FS_EXECUTE, kRead = LANDLOCK_ACCESS_FS_READ_FILE,
                   kWrite = LANDLOCK_ACCESS_FS_WRITE_FILE, kReadDir = LANDLOCK_ACCESS_FS_READ_DIR;
// The highest ABI whose rights this file knows; a later kernel is asked for these.
constexpr int kKnownAbi = 7;

struct RulesetAttr {
  uint64_t handledFs, handledNet, scoped;
};
struct NetPortAttr {
  uint64_t allowed, port;
};
struct [[gnu::packed]] PathBeneathAttr {
  uint64_t allowed;
  int32_t parent;
};

uint64_t fileRightsOf(int abi) {
  uint64_t rights = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1;  // ABI 1: execute .. make symlink
  if (abi >= 2) rights |= 1ULL << 13;                        // refer
  if (abi >= 3) rights |= kTruncate;
  if (abi >= 5) rights |= kIoctlDev;
  return rights;
}

// Rights that make sense on a file; a folder may have them all.
constexpr uint64_t kFileOnly = kExecute | kWrite | kRead | kTruncate | kIoctlDev;

bool addPath(int ruleset, const std::filesystem::path& path, uint64_t wanted, uint64_t handled) {
  const int fd = open(path.c_str(), O_PATH | O_CLOEXEC);
  if (fd < 0) return true;  // what does not exist cannot be reached either
  struct stat status {};
  fstat(fd, &status);
  if (!S_ISDIR(status.st_mode)) wanted &= kFileOnly;
  PathBeneathAttr rule{wanted & handled, fd};
  const long added = rule.allowed == 0 ? 0 : syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
  close(fd);
  return added == 0;
}

bool addRules(int ruleset, const LandlockPlan& plan, uint64_t handledFs) {
  bool added = true;
  for (const auto& path : plan.reach.readExecute) added &= addPath(ruleset, path, kExecute | kRead | kReadDir, handledFs);
  for (const auto& path : plan.reach.readOnly) added &= addPath(ruleset, path, kRead | kReadDir, handledFs);
  for (const auto& path : plan.reach.readWrite) added &= addPath(ruleset, path, kRead | kWrite, handledFs);
  // The process's own /proc folder, which qemu and the C library read; the
  // link resolves to this pid, which the program keeps across exec.
  added &= addPath(ruleset, "/proc/self", kRead | kReadDir, handledFs);
  if (plan.abi >= 4 && plan.reach.tcpBindPort) {
    NetPortAttr port{kBindTcp, *plan.reach.tcpBindPort};
    added &= syscall(SYS_landlock_add_rule, ruleset, kRuleNetPort, &port, 0) == 0;
  }
  return added;
}

}  // namespace

int landlockAbi() {
  const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  if (abi < 0) return 0;
  const char* cap = std::getenv("TAPSIM_LANDLOCK_ABI");
  const long most = cap != nullptr && *cap != '\0' ? std::strtol(cap, nullptr, 10) : kKnownAbi;
  return static_cast<int>(std::clamp<long>(abi, 0, std::min<long>(most, kKnownAbi)));
}

bool applyLandlock(const LandlockPlan& plan) {
  if (plan.abi <= 0) return true;
  RulesetAttr attr{fileRightsOf(plan.abi), plan.abi >= 4 ? kBindTcp | kConnectTcp : 0,
                   plan.abi >= 6 ? kScopeAbstractUnix | kScopeSignal : 0};
  const size_t size = plan.abi >= 6 ? sizeof attr : plan.abi >= 4 ? 2 * sizeof(uint64_t) : sizeof(uint64_t);
  const int ruleset = static_cast<int>(syscall(SYS_landlock_create_ruleset, &attr, size, 0));
  if (ruleset < 0) return false;
  const bool restricted = addRules(ruleset, plan, attr.handledFs) && syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
  close(ruleset);
  return restricted;
}

}  // namespace tapsim
