#include "sandbox.h"

#include <fcntl.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <valgrind/valgrind.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "elfmodule.h"

namespace tapsim {
namespace {

namespace fs = std::filesystem;

// Where this PC's loader finds its libraries: folders that hold libraries only.
constexpr const char* kLibraryFolders[] = {"/lib/x86_64-linux-gnu", "/usr/lib/x86_64-linux-gnu", "/lib64",
                                           "/usr/lib64", "/usr/local/lib/x86_64-linux-gnu"};
// What the loader and qemu read besides: the cache, the preload list, the
// lowest address qemu may map, the processors there are.
constexpr const char* kSystemFiles[] = {"/etc/ld.so.cache", "/etc/ld.so.preload", "/proc/sys/vm/mmap_min_addr",
                                        "/sys/devices/system/cpu/online", "/sys/devices/system/cpu/possible"};

fs::path expandOrigin(std::string_view searchPath, const fs::path& origin) {
  std::string path(searchPath);
  for (const std::string_view name : {"${ORIGIN}", "$ORIGIN"})
    if (path.starts_with(name)) path = origin.string() + path.substr(name.size());
  return path;
}

// The libraries an ELF file names through its own search paths (libtap.so
// in a build tree, or beside an installed board); the rest are in kLibraryFolders.
void addOwnLibraries(const fs::path& file, std::vector<fs::path>& into) {
  const auto inspection = tapelf::inspect(file, tapelf::Code::skip);
  if (!inspection) return;
  for (const auto& needed : inspection.report->needed) {
    if (needed.find('/') != std::string::npos) continue;  // a receiver path, in the sysroot
    for (const auto& searchPath : inspection.report->searchPaths) {
      std::string_view paths = searchPath;
      while (!paths.empty()) {
        const size_t end = std::min(paths.find(':'), paths.size());
        const fs::path candidate = expandOrigin(paths.substr(0, end), file.parent_path()) / needed;
        std::error_code ec;
        if (!candidate.parent_path().empty() && fs::is_regular_file(candidate, ec)) into.push_back(candidate);
        paths.remove_prefix(std::min(end + 1, paths.size()));
      }
    }
  }
}

// A build tree's sysroot links to files outside it, which the links alone would not reach.
void addSysroot(const fs::path& sysroot, std::vector<fs::path>& into) {
  into.push_back(sysroot);
  std::error_code ec;
  for (fs::recursive_directory_iterator it(sysroot, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_symlink(ec)) {
      const fs::path target = fs::canonical(it->path(), ec);
      if (!ec && fs::is_regular_file(target, ec)) into.push_back(target);
    }
}

BoardReach reachOf(const std::vector<std::string>& command, const fs::path& module, std::optional<uint16_t> stubPort) {
  BoardReach reach;
  for (size_t i = 0; i < command.size(); ++i) {
    const fs::path path(command[i]);
    if (!path.is_absolute()) continue;
    // The sysroot after qemu's -L is a folder; every other absolute argument is a program or the module.
    if (i > 0 && command[i - 1] == "-L") {
      addSysroot(path, reach.readExecute);
    } else if (path != fs::absolute(module)) {
      reach.readExecute.push_back(path);
      addOwnLibraries(path, reach.readExecute);
    }
  }
  reach.readExecute.insert(reach.readExecute.end(), std::begin(kLibraryFolders), std::end(kLibraryFolders));
  const fs::path absoluteModule = fs::absolute(module);
  reach.readOnly = {absoluteModule, absoluteModule.string() + ".debug"};
  addOwnLibraries(absoluteModule, reach.readExecute);
  reach.readOnly.insert(reach.readOnly.end(), std::begin(kSystemFiles), std::end(kSystemFiles));
  reach.readWrite = {"/dev/null"};
  reach.tcpBindPort = stubPort;
  return reach;
}

void limit(int resource, rlim_t most) {
  rlimit current{};
  if (getrlimit(resource, &current) != 0) return;
  if (current.rlim_max != RLIM_INFINITY && current.rlim_max < most) most = current.rlim_max;
  const rlimit lowered{most, most};
  setrlimit(resource, &lowered);
}

}  // namespace

Confinement Confinement::plan(const std::vector<std::string>& command, const fs::path& module,
                              std::optional<uint16_t> stubPort, SandboxMode mode) {
  Confinement confinement;
  confinement.mode_ = mode;
  // valgrind runs the child between fork and exec on its own processor,
  // which passes neither layer's system calls on to the kernel.
  confinement.memoryChecked_ = RUNNING_ON_VALGRIND != 0;
  if (mode == SandboxMode::off || command.empty() || confinement.memoryChecked_) return confinement;
  confinement.landlock_.abi = landlockAbi();
  if (confinement.landlock_.abi > 0) confinement.landlock_.reach = reachOf(command, module, stubPort);
  confinement.filter_ = syscallFilter(stubPort.has_value(), command.front().c_str());
  return confinement;
}

std::vector<std::string> Confinement::environment(const std::vector<std::string>& given) const {
  // The run's owner mark finds what a killed run left; a checked build's board reads its sanitizer's options.
  constexpr std::string_view kRunNeeds[] = {"TAPSIM_RUN_OWNER=", "ASAN_OPTIONS=", "UBSAN_OPTIONS=", "LSAN_OPTIONS="};
  const bool confined = mode_ != SandboxMode::off && !memoryChecked_;
  const auto nameOf = [](std::string_view variable) { return variable.substr(0, variable.find('=') + 1); };
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view variable(*entry);
    const bool needed =
        std::ranges::any_of(kRunNeeds, [&](std::string_view name) { return variable.starts_with(name); });
    // A given variable replaces the user's: the first of a name is the one a lookup finds.
    const bool replaced =
        std::ranges::any_of(given, [&](const std::string& other) { return nameOf(other) == nameOf(variable); });
    if ((needed || !confined) && !replaced) variables.emplace_back(variable);
  }
  variables.insert(variables.end(), given.begin(), given.end());
  return variables;
}

std::string Confinement::describe() const {
  const int abi = landlock_.abi;
  const bool filtered = !filter_.empty();
  if (mode_ == SandboxMode::off) return "sandbox: none (--no-sandbox): the module can reach whatever you can";
  if (memoryChecked_)
    return "sandbox: none (valgrind cannot pass Landlock and seccomp on): the module can reach whatever you can";
  if (abi == 0 && !filtered)
    return "sandbox: none (this kernel has neither Landlock nor seccomp): the module can reach whatever you can";
  if (abi == 0) return "sandbox: seccomp only (this kernel has no Landlock): the module can read your files";
  std::string line = "sandbox: Landlock ABI " + std::to_string(abi) + (filtered ? ", seccomp" : " only (no seccomp)");
  // Rights the running ABI lacks, which the filter does not make up for.
  std::vector<std::string> gaps;
  if (abi < 3) gaps.emplace_back("truncating your files");
  if (abi < 4 && !filtered) gaps.emplace_back("connecting over TCP");
  if (abi < 6) gaps.emplace_back("signalling your processes");
  for (size_t i = 0; i < gaps.size(); ++i)
    line += (i == 0 ? ": this kernel's Landlock cannot stop the module " : i + 1 == gaps.size() ? " or " : ", ") + gaps[i];
  return line;
}

const char* Confinement::apply() const {
  // Kept by any run, confined or not: the module cannot dump core or reach a terminal.
  setsid();
  limit(RLIMIT_CORE, 0);
  limit(RLIMIT_FSIZE, rlim_t{1} << 30);
  limit(RLIMIT_NOFILE, 256);
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null > 0) {
    dup2(null, 0);
    close(null);
  }
  if (mode_ == SandboxMode::off || memoryChecked_) return nullptr;
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return "cannot set no-new-privileges";
  if (!applyLandlock(landlock_)) return "the kernel refused the Landlock rules";
  if (filter_.empty()) return nullptr;
  const sock_fprog program{static_cast<unsigned short>(filter_.size()), const_cast<sock_filter*>(filter_.data())};
  if (syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) != 0) return "the kernel refused the seccomp filter";
  return nullptr;
}

}  // namespace tapsim
