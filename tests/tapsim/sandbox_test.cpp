// A module that tries to get out of its receiver is refused, and its run goes
// on: on the PC build and on the receiver build under qemu alike. Everything
// it aims at is the test's own: files in its folder, sockets on loopback.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <memory>

#include "process.h"

namespace tapsim_test {
namespace {

namespace fs = std::filesystem;

enum class Build { pc, receiver };
enum class Aim { nothing, secret, freshFile, module, tcp4, tcp6, udp4, udp6, abstractSocket, pathSocket, folder };

struct Escape {
  std::string name;
  Aim aim;
  std::string told = {};  // the summary's problem line for a C library call, with the target as %
  bool answered = true;   // the call's own answer tells (kill(-1) says 0 when every signal was refused)
};

const Escape kEscapes[] = {
    {"read_host_file", Aim::secret},
    {"create_host_file", Aim::freshFile},
    {"truncate_host_file", Aim::secret},
    {"rename_host_file", Aim::secret},
    {"link_host_file", Aim::secret},
    {"follow_link_out_of_proc", Aim::secret},
    {"write_host_memory", Aim::nothing},
    {"read_host_environment", Aim::nothing},
    {"reopen_descriptor_for_writing", Aim::module},
    {"exec_shell", Aim::nothing},
    {"tcp_ipv4", Aim::tcp4},
    {"tcp_ipv6", Aim::tcp6},
    {"udp_ipv4", Aim::udp4},
    {"udp_ipv6", Aim::udp6},
    {"bind_tcp", Aim::nothing},
    {"abstract_unix_socket", Aim::abstractSocket},
    {"path_unix_socket", Aim::pathSocket},
    {"signal_host", Aim::nothing},
    {"signal_everyone", Aim::nothing, "", false},
    {"ptrace_host", Aim::nothing},
    {"read_host_memory_directly", Aim::nothing},
    {"io_uring", Aim::nothing},
    {"unshare_user_namespace", Aim::nothing},
    {"push_terminal_input", Aim::nothing},
    {"fork", Aim::nothing},
    {"foreign_call_number", Aim::nothing},
    {"library_fopen", Aim::secret, "fopen(\"%\", \"r\")"},
    {"library_open", Aim::secret, "open(\"%\")"},
    {"library_opendir", Aim::folder, "opendir(\"%\")"},
    {"library_unlink", Aim::secret, "unlink(\"%\")"},
    {"library_socket", Aim::nothing, "socket(AF_INET, SOCK_STREAM)"},
    {"library_fork", Aim::nothing, "fork()"},
};

void PrintTo(const Escape& e, std::ostream* out) { *out << e.name; }

std::atomic<int> urgentSignals = 0;

// A listening or bound socket of the test's; whatever reached it is still queued at the end.
struct Target {
  int socket = -1;
  std::string text;
  ~Target() {
    if (socket >= 0) close(socket);
  }
  bool reached() const {
    if (socket < 0) return false;
    char byte;
    const int accepted = accept4(socket, nullptr, nullptr, SOCK_NONBLOCK);
    if (accepted >= 0) close(accepted);
    return accepted >= 0 || recv(socket, &byte, 1, MSG_DONTWAIT) >= 0;
  }
};

void listenOn(Target& target, int family, int type, sockaddr* address, socklen_t size) {
  target.socket = socket(family, type | SOCK_NONBLOCK, 0);
  ASSERT_GE(target.socket, 0);
  ASSERT_EQ(bind(target.socket, address, size), 0);
  if (type == SOCK_STREAM) {
    ASSERT_EQ(listen(target.socket, 4), 0);
  }
  if (family == AF_UNIX) return;
  getsockname(target.socket, address, &size);
  target.text = std::to_string(ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(address)->sin_port
                                                       : reinterpret_cast<sockaddr_in6*>(address)->sin6_port));
}

void aimAt(Aim aim, const Sandbox& sandbox, const fs::path& module, Target& target) {
  sockaddr_in four{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
  sockaddr_in6 six{};
  six.sin6_family = AF_INET6;
  six.sin6_addr = in6addr_loopback;
  sockaddr_un local{.sun_family = AF_UNIX, .sun_path = {}};
  switch (aim) {
    case Aim::nothing: return;
    case Aim::secret: target.text = (sandbox / "secret").string(); return;
    case Aim::freshFile: target.text = (sandbox / "fresh").string(); return;
    case Aim::module: target.text = module.string(); return;
    case Aim::folder: target.text = (sandbox / "").string(); return;
    case Aim::tcp4: return listenOn(target, AF_INET, SOCK_STREAM, reinterpret_cast<sockaddr*>(&four), sizeof four);
    case Aim::udp4: return listenOn(target, AF_INET, SOCK_DGRAM, reinterpret_cast<sockaddr*>(&four), sizeof four);
    case Aim::tcp6: return listenOn(target, AF_INET6, SOCK_STREAM, reinterpret_cast<sockaddr*>(&six), sizeof six);
    case Aim::udp6: return listenOn(target, AF_INET6, SOCK_DGRAM, reinterpret_cast<sockaddr*>(&six), sizeof six);
    case Aim::abstractSocket:
      target.text = "quarnel-escape-" + std::to_string(getpid());
      target.text.copy(local.sun_path + 1, sizeof local.sun_path - 2);
      return listenOn(target, AF_UNIX, SOCK_STREAM, reinterpret_cast<sockaddr*>(&local),
                      static_cast<socklen_t>(sizeof(sa_family_t) + 1 + target.text.size()));
    case Aim::pathSocket:
      target.text = (sandbox / "socket").string();
      target.text.copy(local.sun_path, sizeof local.sun_path - 1);
      return listenOn(target, AF_UNIX, SOCK_STREAM, reinterpret_cast<sockaddr*>(&local), sizeof local);
  }
}

fs::path moduleFor(Build build, const std::string& name) {
  return build == Build::pc ? testModule(name) : fs::path(QUARNEL_MIPSEL_DIR) / "tests/mips" / (name + ".tap");
}
fs::path escapesModule(Build build) { return moduleFor(build, "escapes"); }

bool receiverRequired() {
  const char* required = std::getenv("QUARNEL_REQUIRE_RECEIVER");
  return required != nullptr && std::string_view(required) == "1";
}

class EscapeAttempt : public testing::TestWithParam<std::tuple<Escape, Build>> {
 protected:
  void SetUp() override {
    const fs::path module = escapesModule(std::get<1>(GetParam()));
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
  Target target;
  aimAt(escape.aim, sandbox, module, target);
  signal(SIGURG, [](int) { ++urgentSignals; });
  const int urgentBefore = urgentSignals;
  Process tapsim(sandbox, {TAPSIM, "--headless", "--keys", "quit", module.string()},
                 {"ESCAPE=" + escape.name, "ESCAPE_TARGET=" + target.text});
  const Outcome outcome = tapsim.wait();
  ASSERT_EQ(outcome.exitCode, 0) << outcome.out << outcome.err;
  const int enosys = build == Build::pc ? 38 : 89;
  bool refused = false;
  for (const int error : {1 /* EPERM */, 13 /* EACCES */, enosys})
    refused |= contains(outcome.out, "console: escape answered " + std::to_string(error) + "\n");
  EXPECT_TRUE(refused || !escape.answered) << outcome.out;
  EXPECT_TRUE(contains(outcome.out, "sandbox: Landlock ABI ")) << outcome.out;
  EXPECT_EQ(readText(sandbox / "secret"), "the user's own\n");
  for (const char* made : {"fresh", "secret.moved", "secret.linked"}) EXPECT_FALSE(fs::exists(sandbox / made)) << made;
  EXPECT_FALSE(target.reached());
  EXPECT_EQ(urgentSignals, urgentBefore);
  std::string told = escape.told;
  if (const size_t at = told.find('%'); at != std::string::npos) told.replace(at, 1, target.text);
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

class CoreDump : public testing::TestWithParam<Build> {};

// Even where the user allows core files, a crashing module leaves none in the
// folder tapsim runs in: neither the kernel's nor qemu's.
TEST_P(CoreDump, IsNotLeftByACrashingModule) {
  const fs::path module = moduleFor(GetParam(), "crash_in_callee");
  if (!fs::exists(module)) GTEST_SKIP() << "no " << module;
  Sandbox sandbox;
  const fs::path here = fs::current_path(), folder = sandbox / "";
  fs::create_directories(folder);
  rlimit unlimited{};
  getrlimit(RLIMIT_CORE, &unlimited);
  unlimited.rlim_cur = unlimited.rlim_max;
  ASSERT_EQ(setrlimit(RLIMIT_CORE, &unlimited), 0);
  fs::current_path(folder);
  const Outcome outcome = runTapsim(sandbox, {"--headless", "--keys", "quit", module.string()});
  fs::current_path(here);
  EXPECT_EQ(outcome.exitCode, 5) << outcome.err;
  EXPECT_TRUE(fs::is_empty(folder)) << fs::directory_iterator(folder)->path();
}

INSTANTIATE_TEST_SUITE_P(Builds, CoreDump, testing::Values(Build::pc, Build::receiver),
                         [](const auto& info) { return info.param == Build::pc ? "pc" : "receiver"; });

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
    {"full", "7", {}, 0, "sandbox: Landlock ABI 7, seccomp"},
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
