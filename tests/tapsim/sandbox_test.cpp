// A module that tries to get out of its receiver is refused, and its run goes
// on: on the PC build and on the receiver build under qemu alike. Everything
// it aims at is the test's own: files in its folder, sockets on loopback.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <fstream>
#include <memory>

#include "process.h"

namespace tapsim_test {
namespace {

namespace fs = std::filesystem;

enum class Build { pc, receiver };

struct Escape {
  std::string name;
  std::string aim;        // a file of the test's folder, "module", or a listener: tcp4 tcp6 udp4 udp6 abstract unix
  std::string told = {};  // the summary's problem line for a C library call, with the target as %
  // What the call answers; unjudged where the answer does not tell (kill(-1) says 0 when every signal was refused).
  enum { refused, unjudged, allowed } answer = refused;
};

const Escape kEscapes[] = {
    {"read_host_file", "secret"},
    {"create_host_file", "fresh"},
    {"truncate_host_file", "secret"},
    {"rename_host_file", "secret"},
    {"link_host_file", "secret"},
    {"follow_link_out_of_proc", "secret"},
    {"write_host_memory", ""},
    {"read_host_environment", ""},
    {"reopen_descriptor_for_writing", "module"},
    {"exec_shell", ""},
    {"tcp_ipv4", "tcp4"},
    {"tcp_ipv6", "tcp6"},
    {"udp_ipv4", "udp4"},
    {"udp_ipv6", "udp6"},
    {"bind_tcp", ""},
    {"unix_socket", "unix"},
    {"abstract_unix_socket", "abstract"},
    {"signal_host", ""},
    {"signal_everyone", "", "", Escape::unjudged},
    {"ptrace_host", ""},
    {"read_host_memory_directly", ""},
    {"io_uring", ""},
    {"unshare_user_namespace", ""},
    {"push_terminal_input", ""},
    {"fork", ""},
    {"foreign_call_number", ""},
    {"start_thread", "", "", Escape::allowed},
    {"library_fopen", "secret", "fopen(\"%\", \"r\")"},
    {"library_open", "secret", "open(\"%\")"},
    {"library_opendir", "", "opendir(\"%\")"},
    {"library_unlink", "secret", "unlink(\"%\")"},
    {"library_socket", "", "socket(AF_INET, SOCK_STREAM)"},
    {"library_fork", "", "fork()"},
    {"library_getenv", ""},  // the user's environment, of which a receiver holds nothing
};

void PrintTo(const Escape& e, std::ostream* out) { *out << e.name; }

std::atomic<int> urgentSignals = 0;

// A socket of the test's on loopback, or named; whatever reached it is still queued at the end.
struct Listener {
  int fd = -1;
  ~Listener() {
    if (fd >= 0) close(fd);
  }
  bool reached() const {
    char byte;
    const int accepted = fd < 0 ? -1 : accept4(fd, nullptr, nullptr, SOCK_NONBLOCK);
    if (accepted >= 0) close(accepted);
    return accepted >= 0 || (fd >= 0 && recv(fd, &byte, 1, MSG_DONTWAIT) >= 0);
  }
};

// Listens on the aim's address; what the module is told to aim at ("@name" for an abstract socket).
std::string listen(Listener& listener, const std::string& aim, const fs::path& folder) {
  const int family = aim.ends_with('4') ? AF_INET : aim.ends_with('6') ? AF_INET6 : AF_UNIX;
  const int type = aim.starts_with("udp") ? SOCK_DGRAM : SOCK_STREAM;
  sockaddr_storage address{};
  address.ss_family = static_cast<sa_family_t>(family);
  socklen_t size = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
  reinterpret_cast<sockaddr_in&>(address).sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (family == AF_INET6) reinterpret_cast<sockaddr_in6&>(address).sin6_addr = in6addr_loopback;
  std::string name = aim == "unix" ? (folder / "socket").string() : "@quarnel-escape-" + std::to_string(getpid());
  if (family == AF_UNIX) {
    char* path = reinterpret_cast<sockaddr_un&>(address).sun_path;
    path[name.copy(path, sizeof(sockaddr_un::sun_path) - 1)] = '\0';
    if (path[0] == '@') path[0] = '\0';
    size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
  }
  listener.fd = socket(family, type | SOCK_NONBLOCK, 0);
  if (bind(listener.fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      (type == SOCK_STREAM && ::listen(listener.fd, 4) != 0))
    throw std::runtime_error("cannot listen for " + aim);
  getsockname(listener.fd, reinterpret_cast<sockaddr*>(&address), &size);
  // The port sits at the same place in both families' addresses.
  return family == AF_UNIX ? name : std::to_string(ntohs(reinterpret_cast<sockaddr_in&>(address).sin_port));
}

std::string aimAt(const std::string& aim, const fs::path& folder, const fs::path& module, Listener& listener) {
  if (aim == "secret" || aim == "fresh") return (folder / aim).string();
  if (aim == "module") return module.string();
  if (aim.empty()) return (folder / "").string();
  return listen(listener, aim, folder);
}

fs::path escapesModule(Build build) {
  return build == Build::pc ? testModule("escapes") : receiverTestModule("escapes");
}

// A kernel built without the i386 gate answers its instruction with a fault:
// there is then nothing to escape through, and nothing for the filter to close.
bool kernelHasI386Gate() {
#if defined(__x86_64__)
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGSEGV, SIG_DFL);  // a sanitizer's handler would turn the fault into an ordinary exit
    long result;
    __asm__ volatile("int $0x80" : "=a"(result) : "a"(20L /* getpid */) : "r8", "r9", "r10", "r11", "memory");
    _exit(result == getpid() ? 0 : 1);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status);
#else
  return false;
#endif
}

class EscapeAttempt : public testing::TestWithParam<std::tuple<Escape, Build>> {
 protected:
  void SetUp() override {
    const fs::path module = escapesModule(std::get<1>(GetParam()));
    if (std::get<0>(GetParam()).name == "foreign_call_number" && std::get<1>(GetParam()) == Build::pc &&
        !kernelHasI386Gate())
      GTEST_SKIP() << "this kernel has no i386 system call gate to try";
    if (fs::exists(module)) return;
    if (receiverRequired()) FAIL() << "no " << module << "; build the receiver preset";
    GTEST_SKIP() << "no " << module << "; build it with: cmake --preset receiver && cmake --build --preset receiver";
  }
};

TEST_P(EscapeAttempt, IsRefusedAndTheRunGoesOn) {
  const auto& [escape, build] = GetParam();
  Sandbox sandbox;
  std::ofstream(sandbox / "secret") << "the user's own\n";
  const fs::path module = escapesModule(build);
  Listener listener;
  const std::string target = aimAt(escape.aim, sandbox / "", module, listener);
  signal(SIGURG, [](int) { ++urgentSignals; });
  const int urgentBefore = urgentSignals;
  Process tapsim(sandbox,
                 {TAPSIM, "--headless", "--keys", "quit", "--env", "ESCAPE=" + escape.name, "--env",
                  "ESCAPE_TARGET=" + target, module.string()},
                 {"TAPSIM_TEST_SECRET=the user's own"});
  const Outcome outcome = tapsim.wait();
  ASSERT_EQ(outcome.exitCode, 0) << outcome.out << outcome.err;
  const int enosys = build == Build::pc ? 38 : 89;
  bool refused = false;
  for (const int error : {1 /* EPERM */, 13 /* EACCES */, enosys})
    refused = refused || contains(outcome.out, "console: escape answered " + std::to_string(error) + "\n");
  if (escape.answer == Escape::allowed) refused = !contains(outcome.out, "console: escape answered 0\n");
  if (escape.answer != Escape::unjudged) {
    EXPECT_EQ(refused, escape.answer == Escape::refused) << outcome.out;
  }
  EXPECT_TRUE(contains(outcome.out, "sandbox: Landlock ABI ")) << outcome.out;
  EXPECT_EQ(readText(sandbox / "secret"), "the user's own\n");
  for (const char* made : {"fresh", "secret.moved", "secret.linked"}) EXPECT_FALSE(fs::exists(sandbox / made)) << made;
  EXPECT_FALSE(listener.reached());
  EXPECT_EQ(urgentSignals, urgentBefore);
  std::string told = escape.told;
  if (const size_t at = told.find('%'); at != std::string::npos) told.replace(at, 1, target);
  if (told.empty())
    EXPECT_FALSE(contains(outcome.out, "problem: the module called")) << "a raw call was seen: " << outcome.out;
  else
    EXPECT_TRUE(contains(outcome.out, "problem: the module called " + told + ": refused, outside its receiver\n"))
        << outcome.out;
}

INSTANTIATE_TEST_SUITE_P(Modules, EscapeAttempt,
                         testing::Combine(testing::ValuesIn(kEscapes), testing::Values(Build::pc, Build::receiver)),
                         [](const auto& info) {
                           return std::get<0>(info.param).name +
                                  (std::get<1>(info.param) == Build::pc ? "_pc" : "_receiver");
                         });

// What the summary says of the confinement, where the kernel has less of it or the user wants none.
struct Layers {
  std::string name;
  std::string landlockAbi;  // what the kernel is taken to speak
  std::vector<std::string> args;
  int exitCode;
  std::string said;  // on stdout for a run, on stderr for a refusal
};

void PrintTo(const Layers& l, std::ostream* out) { *out << l.name; }

class Confinement : public testing::TestWithParam<Layers> {};

TEST_P(Confinement, IsNamedInTheSummaryOrRefused) {
  Sandbox sandbox;
  std::vector<std::string> argv{TAPSIM, "--headless", "--keys", "quit"};
  argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
  argv.push_back(testModule("quiet").string());
  Process tapsim(sandbox, argv, {"TAPSIM_LANDLOCK_ABI=" + GetParam().landlockAbi});
  const Outcome outcome = tapsim.wait();
  EXPECT_EQ(outcome.exitCode, GetParam().exitCode) << outcome.err;
  EXPECT_TRUE(contains(GetParam().exitCode == 0 ? outcome.out : outcome.err, GetParam().said))
      << outcome.out << outcome.err;
}

const Layers kLayers[] = {
    {"full_and_required", "7", {"--require-sandbox"}, 0, "sandbox: Landlock ABI 7, seccomp\n"},
    {"no_landlock", "0", {}, 0, "sandbox: seccomp only (this kernel has no Landlock): the module can read your files"},
    {"landlock_without_scopes", "5", {}, 0,
     "sandbox: Landlock ABI 5, seccomp: this kernel's Landlock cannot stop the module signalling your processes"},
    {"landlock_without_truncation", "2", {}, 0,
     "sandbox: Landlock ABI 2, seccomp: this kernel's Landlock cannot stop the module truncating your files or "
     "signalling your processes"},
    {"required_without_landlock", "0", {"--require-sandbox"}, 1,
     "tapsim: --require-sandbox: the module would not be confined (sandbox: seccomp only"},
    {"unconfined_on_purpose", "7", {"--no-sandbox"}, 0,
     "sandbox: none (--no-sandbox): the module can reach whatever you can"},
};

INSTANTIATE_TEST_SUITE_P(Kernels, Confinement, testing::ValuesIn(kLayers),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tapsim_test
