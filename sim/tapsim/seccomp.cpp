// The second layer: system calls Landlock does not cover, refused with EPERM
// (clone3 with ENOSYS, so that the C library falls back to clone and threads
// still start). Only the x86-64 ABI passes: qemu makes a receiver module's
// calls as x86-64 calls too.
#include <errno.h>
#include <fcntl.h>
#include <linux/sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "sandbox.h"

namespace tapsim {
namespace {

using Filter = std::unique_ptr<void, decltype(&seccomp_release)>;

constexpr const char* kRefused[] = {
    "ptrace", "process_vm_readv", "process_vm_writev", "bpf", "perf_event_open", "userfaultfd",
    "io_uring_setup", "io_uring_enter", "io_uring_register", "add_key", "request_key", "keyctl",
    "mount", "umount2", "pivot_root", "chroot", "fsopen", "fsconfig", "fsmount", "fspick", "move_mount",
    "open_tree", "mount_setattr", "unshare", "setns", "kexec_load", "kexec_file_load", "init_module",
    "finit_module", "delete_module", "open_by_handle_at", "name_to_handle_at", "fork", "vfork",
    "swapon", "swapoff", "reboot", "acct", "iopl", "ioperm", "quotactl", "lookup_dcookie", "syslog",
    "fanotify_init", "pidfd_getfd"};

constexpr uint64_t kNamespaces = CLONE_NEWNS | CLONE_NEWUTS | CLONE_NEWIPC | CLONE_NEWUSER | CLONE_NEWPID |
                                 CLONE_NEWNET | CLONE_NEWCGROUP;

// A comparison of a call's argument: against `value`, or for a masked one (argument & value) == masked.
scmp_arg_cmp argument(unsigned int number, scmp_compare compare, uint64_t value, uint64_t masked = 0) {
  return scmp_arg_cmp{number, compare, value, masked};
}

bool refuse(scmp_filter_ctx filter, const char* name) {
  const int call = seccomp_syscall_resolve_name(name);
  return call == __NR_SCMP_ERROR || seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 0) == 0;
}

// A thread shares its process; anything else would be a process of its own.
bool refuseNewProcesses(scmp_filter_ctx filter, const char* program) {
  bool added = seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(clone), 1,
                                argument(0, SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0)) == 0;
  for (uint64_t flag = 1; flag != 0; flag <<= 1)
    if ((kNamespaces & flag) != 0)
      added &= seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(clone), 1,
                                argument(0, SCMP_CMP_MASKED_EQ, flag, flag)) == 0;
  added &= seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
  // The filter is in force before the board's own exec, which passes by the
  // address of its path; Landlock keeps any other program out of reach anyway.
  added &= seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(execveat), 0) == 0;
  if (program != nullptr)
    added &= seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(execve), 1,
                              argument(0, SCMP_CMP_NE, reinterpret_cast<uintptr_t>(program))) == 0;
  return added;
}

bool refuseTerminalInput(scmp_filter_ctx filter) {
  bool added = true;
  for (const uint64_t request : {uint64_t{TIOCSTI}, uint64_t{TIOCLINUX}})
    added &= seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(ioctl), 1,
                              argument(1, SCMP_CMP_MASKED_EQ, 0xFFFFFFFFu, request)) == 0;
  return added;
}

// No socket at all, but TCP over IPv4 or IPv6 for qemu's gdb stub when a
// debugger is asked for. A rule takes one comparison per argument, so what is
// refused is named value by value.
bool refuseSockets(scmp_filter_ctx filter, bool debuggerSocket) {
  const auto refuseWhen = [filter](scmp_arg_cmp comparison) {
    return seccomp_rule_add(filter, SCMP_ACT_ERRNO(EACCES), SCMP_SYS(socket), 1, comparison) == 0;
  };
  if (!debuggerSocket) return seccomp_rule_add(filter, SCMP_ACT_ERRNO(EACCES), SCMP_SYS(socket), 0) == 0;
  constexpr uint64_t kFamilies = 64, kKinds = 16;
  bool added = refuseWhen(argument(0, SCMP_CMP_GE, kFamilies)) && refuseWhen(argument(2, SCMP_CMP_GT, IPPROTO_TCP));
  for (uint64_t family = 0; family < kFamilies; ++family)
    if (family != AF_INET && family != AF_INET6) added &= refuseWhen(argument(0, SCMP_CMP_EQ, family));
  for (uint64_t kind = 0; kind < kKinds; ++kind)
    if (kind != SOCK_STREAM) added &= refuseWhen(argument(1, SCMP_CMP_MASKED_EQ, 0xF, kind));
  for (uint64_t protocol = 1; protocol < IPPROTO_TCP; ++protocol) added &= refuseWhen(argument(2, SCMP_CMP_EQ, protocol));
  return added;
}

std::vector<sock_filter> exported(scmp_filter_ctx filter) {
  const int memory = memfd_create("tapsim-seccomp", MFD_CLOEXEC);
  std::vector<sock_filter> program;
  if (memory < 0) return program;
  if (seccomp_export_bpf(filter, memory) == 0) {
    const off_t size = lseek(memory, 0, SEEK_END);
    program.resize(static_cast<size_t>(size) / sizeof(sock_filter));
    if (pread(memory, program.data(), program.size() * sizeof(sock_filter), 0) != size) program.clear();
  }
  close(memory);
  return program;
}

}  // namespace

std::vector<sock_filter> syscallFilter(bool debuggerSocket, const char* program) {
  const Filter filter(seccomp_init(SCMP_ACT_ALLOW), seccomp_release);
  if (!filter) return {};
  // Only x86-64 numbers: i386 and x32 calls bypass no rule, they fail.
  bool built = seccomp_attr_set(filter.get(), SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_ERRNO(ENOSYS)) == 0;
  built &= seccomp_attr_set(filter.get(), SCMP_FLTATR_CTL_NNP, 0) == 0;
  for (const char* name : kRefused) built &= refuse(filter.get(), name);
  built &= refuseNewProcesses(filter.get(), program) && refuseTerminalInput(filter.get()) &&
           refuseSockets(filter.get(), debuggerSocket);
  if (!built) return {};
  return exported(filter.get());
}

}  // namespace tapsim
