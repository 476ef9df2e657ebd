// tapsim's command line: help, and one clear line with exit 2 for what it cannot take.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "process.h"

namespace tapsim_test {
namespace {


TEST(Help, ExitsZeroAndListsTheWindowKeys) {
  Sandbox sandbox;
  const Outcome outcome = runTapsim(sandbox, {"--help"});
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.err, "");
  EXPECT_TRUE(outcome.out.starts_with("Usage: tapsim")) << outcome.out;
  const size_t keys = outcome.out.find("Window keys:");
  ASSERT_NE(keys, std::string::npos) << outcome.out;
  const std::string window = outcome.out.substr(keys);
  for (const char* meaning : {"next page", "previous page", "quit"})
    EXPECT_TRUE(contains(window, meaning)) << "no window key for " << meaning;
  // Every option a run takes is explained.
  for (const char* option : {"--keys", "--headless", "--snapshots", "--contact-sheet", "--checksums", "--trace",
                             "--model", "--channel", "--disk", "--pts", "--fail-alloc", "--idle-timeout", "--watchdog",
                             "--record", "--gdb", "--require-sandbox", "--no-sandbox"})
    EXPECT_TRUE(contains(outcome.out, option)) << option;
  // Every exit code, as the manual page shows them too.
  const size_t codes = outcome.out.find("Exit status:");
  ASSERT_NE(codes, std::string::npos);
  for (int code = 0; code <= 8; ++code)
    EXPECT_TRUE(contains(outcome.out.substr(codes), "\n  " + std::to_string(code) + "   ")) << "exit code " << code;
}

struct BadCommand {
  std::string name;
  std::vector<std::string> args;  // before the module
  std::string named;              // what the line must mention
  bool withModule = true;
};

void PrintTo(const BadCommand& c, std::ostream* out) { *out << c.name; }

class BadCommandLine : public testing::TestWithParam<BadCommand> {};

TEST_P(BadCommandLine, GivesOneLineAndExitTwoWithoutStartingAnything) {
  Sandbox sandbox;
  std::vector<std::string> args = GetParam().args;
  if (GetParam().withModule) args.push_back(QUARNEL_MODULE);
  const Outcome outcome = runTapsim(sandbox, args);
  EXPECT_EQ(outcome.exitCode, kUsage) << outcome.out << outcome.err;
  const auto lines = outcome.errLines();
  ASSERT_EQ(lines.size(), 1u) << outcome.err;
  EXPECT_TRUE(lines[0].starts_with("tapsim: ")) << lines[0];
  EXPECT_TRUE(contains(lines[0], GetParam().named)) << lines[0];
  EXPECT_EQ(outcome.out, "") << "nothing ran, so nothing is summed up";
  EXPECT_TRUE(sandbox.leftovers().empty());
}

const BadCommand kBadCommands[] = {
    {"unknown_option", {"--colour", "red"}, "--colour"},
    {"model_not_a_number", {"--model", "twelve"}, "--model"},
    {"model_too_large", {"--model", "0x100000000"}, "--model"},
    {"channel_without_comma", {"--channel", "5"}, "--channel"},
    {"channel_not_numbers", {"--channel", "a,b"}, "--channel"},
    {"terminal_beyond_19", {"--pts", "20"}, "--pts"},
    {"terminal_list_with_junk", {"--pts", "1,x"}, "--pts"},
    {"negative_allocation", {"--fail-alloc", "-1"}, "--fail-alloc"},
    {"idle_timeout_with_unit", {"--idle-timeout", "200ms"}, "--idle-timeout"},
    {"watchdog_not_a_number", {"--watchdog", "soon"}, "--watchdog"},
    {"chdir_value_too_large", {"--chdir-ok", "0x1FFFFFFFF"}, "--chdir-ok"},
    {"firmware_version_empty", {"--firmware-version", ""}, "--firmware-version"},
    {"unknown_key_name", {"--keys", "next sideways"}, "sideways"},
    {"key_script_file_missing", {"--keys", "@/nonexistent/keys.txt"}, "/nonexistent/keys.txt: No such file"},
    {"key_script_file_a_folder", {"--keys", "@/"}, "Is a directory"},
    {"debugger_port_zero", {"--gdb", "0"}, "--gdb"},
    {"debugger_port_beyond_tcp", {"--gdb", "65536"}, "--gdb"},
    {"debugger_port_missing", {"--headless", "--gdb"}, "--gdb", false},
    {"disk_not_a_folder", {"--disk", "/nonexistent/disk"}, "/nonexistent/disk"},
    {"value_missing", {"--headless", "--trace"}, "--trace", false},
    {"no_module", {"--headless"}, "no module", false},
    {"two_modules", {"first.tap", "second.tap"}, "second.tap", false},
    {"unknown_flag_named_as_unknown", {"--verbose"}, "unknown option --verbose"},
    {"dash_module_taken_for_an_option", {"-m.tap"}, "unknown option -m.tap", false},
    {"negative_channel_word", {"--channel", "-1,0"}, "--channel"},
    {"channel_word_beyond_32_bits", {"--channel", "4294967296,0"}, "--channel"},
    {"terminal_list_ending_in_a_comma", {"--pts", "0,"}, "--pts"},
    {"terminal_list_starting_with_a_comma", {"--pts", ",0"}, "--pts"},
    {"memory_limit_zero", {"--memory-limit", "0"}, "--memory-limit"},
    {"memory_limit_beyond_32_bits", {"--memory-limit", "4G"}, "to 4095M"},
    {"keys_beyond_the_bound", {"--keys", "next*1000000 quit"}, "more than 1000000 keys"},
    {"module_variable_without_a_value", {"--env", "HOSTILE"}, "(NAME=VALUE)"},
    {"module_variable_without_a_name", {"--env", "=1"}, "(NAME=VALUE)"},
};

INSTANTIATE_TEST_SUITE_P(Commands, BadCommandLine, testing::ValuesIn(kBadCommands),
                         [](const auto& info) { return info.param.name; });

// Outputs that cannot be written are found before the run starts.
struct BadOutput {
  std::string name;
  std::string option;
  std::string path;  // below the sandbox's work folder, which holds a file "plain"
};

void PrintTo(const BadOutput& o, std::ostream* out) { *out << o.name; }

class UnwritableOutput : public testing::TestWithParam<BadOutput> {};

TEST_P(UnwritableOutput, GivesOneLineAndExitTwoBeforeTheRun) {
  Sandbox sandbox;
  std::ofstream(sandbox / "plain") << "a file, not a folder\n";
  const std::string path = (sandbox / GetParam().path).string();
  const Outcome outcome =
      runTapsim(sandbox, {"--headless", "--keys", "next quit", GetParam().option, path, QUARNEL_MODULE}, std::chrono::seconds(10));
  ASSERT_FALSE(outcome.timedOut) << "tapsim hung on an output it could not write";
  EXPECT_EQ(outcome.exitCode, kUsage) << outcome.err;
  const auto lines = outcome.errLines();
  ASSERT_EQ(lines.size(), 1u) << outcome.err;
  EXPECT_TRUE(contains(lines[0], path)) << lines[0];
  EXPECT_EQ(outcome.out, "") << "the module never ran";
  EXPECT_TRUE(sandbox.leftovers().empty());
}

INSTANTIATE_TEST_SUITE_P(Outputs, UnwritableOutput,
                         testing::Values(BadOutput{"snapshots_in_a_file", "--snapshots", "plain"},
                                         BadOutput{"snapshots_below_a_file", "--snapshots", "plain/shots"},
                                         BadOutput{"checksums_in_no_folder", "--checksums", "none/sums.txt"},
                                         BadOutput{"snapshots_in_no_folder", "--snapshots", "none/shots"},
                                         BadOutput{"contact_sheet_in_no_folder", "--contact-sheet", "none/sheet.png"}),
                         [](const auto& info) { return info.param.name; });

// A key script file: read whole within a bound, its faults named with the file.
struct ScriptFile {
  std::string name;
  std::string contents;
  std::string named;  // besides the file's name
};

void PrintTo(const ScriptFile& c, std::ostream* out) { *out << c.name; }

class BadKeyScriptFile : public testing::TestWithParam<ScriptFile> {};

TEST_P(BadKeyScriptFile, GivesOneLineNamingTheFileAndExitTwo) {
  Sandbox sandbox;
  const auto file = sandbox / "keys.txt";
  std::ofstream(file) << GetParam().contents;
  const Outcome outcome = runTapsim(sandbox, {"--headless", "--keys", "@" + file.string(), QUARNEL_MODULE});
  EXPECT_EQ(outcome.exitCode, kUsage) << outcome.err;
  const auto lines = outcome.errLines();
  ASSERT_EQ(lines.size(), 1u) << outcome.err;
  EXPECT_TRUE(contains(lines[0], file.string())) << lines[0];
  EXPECT_TRUE(contains(lines[0], GetParam().named)) << lines[0];
  EXPECT_EQ(outcome.out, "");
}

INSTANTIATE_TEST_SUITE_P(Files, BadKeyScriptFile,
                         testing::Values(ScriptFile{"unknown_key", "next\nnext sideways\n", "sideways"},
                                         ScriptFile{"beyond_the_bound", std::string((1 << 20) + 1, ' '), "larger than 1024 KiB"}),
                         [](const auto& info) { return info.param.name; });

TEST(RecordOption, HeadlessRunRecordsItsScriptedKeysForAReplayWithTheSameScreens) {
  Sandbox sandbox;
  const auto record = sandbox / "keys.txt", first = sandbox / "first.txt", again = sandbox / "again.txt";
  const Outcome recorded = runTapsim(sandbox, {"--headless", "--keys", "next*3 0x10044,prev quit", "--record",
                                               record.string(), "--checksums", first.string(), QUARNEL_MODULE});
  ASSERT_EQ(recorded.exitCode, 0) << recorded.err;
  EXPECT_EQ(readText(record), "next*3 0x10044 prev quit\n");
  const Outcome replayed = runTapsim(
      sandbox, {"--headless", "--keys", "@" + record.string(), "--checksums", again.string(), QUARNEL_MODULE});
  ASSERT_EQ(replayed.exitCode, 0) << replayed.err;
  EXPECT_FALSE(readText(first).empty());
  EXPECT_EQ(readText(again), readText(first));
  EXPECT_TRUE(sandbox.leftovers().empty());
}

TEST(RecordOption, RecordOverTheModuleIsRefusedBeforeTheRun) {
  Sandbox sandbox;
  const auto module = sandbox / "mod.tap";
  std::filesystem::copy_file(QUARNEL_MODULE, module);
  const std::string before = readText(module);
  const Outcome outcome = runTapsim(sandbox, {"--headless", "--keys", "quit", "--record", module.string(), module.string()});
  EXPECT_EQ(outcome.exitCode, kUsage) << outcome.err;
  EXPECT_TRUE(contains(outcome.err, "--record")) << outcome.err;
  EXPECT_EQ(readText(module), before);
}

// What a command line says is what the run does, and what it cannot do is said.
struct AcceptedCommand {
  std::string name;
  std::vector<std::string> args;  // before the module
  std::string out, err;           // what each must mention; empty err: stderr stays empty
  bool headless = true;           // else there is no display all the same
};

void PrintTo(const AcceptedCommand& c, std::ostream* out) { *out << c.name; }

class AcceptedCommandLine : public testing::TestWithParam<AcceptedCommand> {};

TEST_P(AcceptedCommandLine, RunsAndSaysWhatItDid) {
  Sandbox sandbox;
  std::vector<std::string> args{"--keys", "next quit"};
  if (GetParam().headless) args.push_back("--headless");
  for (const auto& arg : GetParam().args) args.push_back(arg == "WORK" ? (sandbox / "captures").string() : arg);
  args.push_back(QUARNEL_MODULE);
  const Outcome outcome = runTapsim(sandbox, args);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_TRUE(contains(outcome.out, GetParam().out)) << outcome.out;
  if (GetParam().err.empty())
    EXPECT_EQ(outcome.err, "");
  else
    EXPECT_TRUE(contains(outcome.err, GetParam().err)) << outcome.err;
}

const AcceptedCommand kAcceptedCommands[] = {
    {"channel_words_are_unsigned", {"--channel", "4294967295,2147483648"}, "channel: 4294967295/2147483648 at start", ""},
    {"injection_that_never_fired", {"--fail-alloc", "2"}, "--fail-alloc 2 never fired", ""},
    {"window_captures_without_a_window", {"--window-captures", "WORK"}, "module result: 0",
     "--window-captures has no effect with --headless"},
    {"window_captures_without_a_display", {"--window-captures", "WORK"}, "module result: 0",
     "--window-captures has no effect without a display", false},
    {"memory_limit_too_small_for_the_database", {"--memory-limit", "1K"}, "over the memory limit of 1024 bytes", ""},
    {"memory_limit_exactly_what_the_database_takes", {"--memory-limit", "2108"}, "1 block still allocated (2108 bytes)",
     ""},
};

INSTANTIATE_TEST_SUITE_P(Commands, AcceptedCommandLine, testing::ValuesIn(kAcceptedCommands),
                         [](const auto& info) { return info.param.name; });

TEST(ModuleName, AModuleNamedLikeAnOptionRunsAfterTheEndOfOptions) {
  Sandbox sandbox;
  std::filesystem::create_directories(sandbox / "mods");
  std::filesystem::copy_file(QUARNEL_MODULE, sandbox / "mods" / "-m.tap");
  Process tapsim(sandbox, {TAPSIM, "--headless", "--keys", "quit", "--", "-m.tap"});
  // The module is named relative to where tapsim runs.
  const Outcome refused = tapsim.wait();
  EXPECT_NE(refused.exitCode, 0) << "no -m.tap in the working folder";
  const Outcome outcome = runTapsim(sandbox, {"--headless", "--keys", "quit", "--", (sandbox / "mods" / "-m.tap").string()});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
}

TEST(ModuleName, ASymlinkLoopIsNamedAsSuch) {
  Sandbox sandbox;
  std::filesystem::create_directories(sandbox / "loop");
  std::filesystem::create_symlink(sandbox / "loop" / "b.tap", sandbox / "loop" / "a.tap");
  std::filesystem::create_symlink(sandbox / "loop" / "a.tap", sandbox / "loop" / "b.tap");
  const Outcome outcome = runTapsim(sandbox, {"--headless", "--keys", "quit", (sandbox / "loop" / "a.tap").string()});
  EXPECT_EQ(outcome.exitCode, 3) << outcome.err;
  EXPECT_TRUE(contains(outcome.err, "Too many levels of symbolic links")) << outcome.err;
}

TEST(TraceOption, UnwritableTraceFileGivesOneLineAndExitTwo) {
  Sandbox sandbox;
  const Outcome outcome = runTapsim(
      sandbox, {"--headless", "--keys", "quit", "--trace", (sandbox / "no/such/folder/trace.jsonl").string(), QUARNEL_MODULE});
  EXPECT_EQ(outcome.exitCode, kUsage) << outcome.err;
  const auto lines = outcome.errLines();
  ASSERT_EQ(lines.size(), 1u) << outcome.err;
  EXPECT_TRUE(contains(lines[0], "trace.jsonl")) << lines[0];
  EXPECT_TRUE(sandbox.leftovers().empty());
}

TEST(KeyScriptFile, APipeIsRefusedAtOnce) {
  Sandbox sandbox;
  const auto pipe = sandbox / "keys";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const Outcome outcome = runTapsim(sandbox, {"--headless", "--keys", "@" + pipe.string(), QUARNEL_MODULE},
                                    std::chrono::seconds(10));
  ASSERT_FALSE(outcome.timedOut) << "tapsim waited for a writer";
  EXPECT_EQ(outcome.exitCode, kUsage);
  EXPECT_TRUE(contains(outcome.err, pipe.string() + ": not a regular file")) << outcome.err;
}

// A machine that cannot give a run what it needs: one line naming what, exit 8.
TEST(Environment, ABadTmpdirIsNamedWithItsReasonAndExitEight) {
  Sandbox sandbox;
  std::ofstream(sandbox / "plain") << "a file\n";
  const std::pair<std::string, std::string> cases[] = {
      {"", "TMPDIR is set but empty"},
      {(sandbox / "plain").string(), "/plain is not a folder (it is a file)"},
      {"/nonexistent", "TMPDIR=/nonexistent is not a folder (it does not exist)"}};
  for (const auto& [tmpdir, named] : cases) {
    Process tapsim(sandbox, {TAPSIM, "--headless", "--keys", "quit", QUARNEL_MODULE}, {"TMPDIR=" + tmpdir});
    const Outcome outcome = tapsim.wait();
    EXPECT_EQ(outcome.exitCode, 8) << outcome.err;
    EXPECT_EQ(outcome.errLines().size(), 1u) << outcome.err;
    EXPECT_TRUE(contains(outcome.err, named)) << outcome.err;
  }
}

// A tapsim outside its build folder is an installed one: it looks for its
// board and the parts it loads only in its own installation, and names what
// is missing there, before the run starts.
TEST(Installation, AMissingBoardOrPartIsNamedNotTakenFromTheBuildTree) {
  struct Case {
    std::vector<std::string> installed;  // what of the build is in usr/libexec/quarnel
    std::vector<std::string> options;
    std::string named;
  };
  const Case cases[] = {
      {{}, {"--headless"}, "no PC board at %/tapsim-board"},
      {{TAPSIM_BOARD}, {"--headless"}, "cannot load the crash reader %/tapsim-crash.so (it is not there); "
                                       "this installation is incomplete; reinstall it"},
      {{TAPSIM_BOARD, TAPSIM_CRASH_READER}, {}, "cannot load the window front end %/tapsim-window.so"},
  };
  for (const Case& c : cases) {
    Sandbox sandbox;
    const auto libexec = sandbox / "usr/libexec/quarnel";
    std::filesystem::create_directories(sandbox / "usr/bin");
    std::filesystem::create_directories(libexec);
    std::filesystem::copy_file(TAPSIM, sandbox / "usr/bin/tapsim");
    for (const auto& file : c.installed) std::filesystem::copy_file(file, libexec / std::filesystem::path(file).filename());
    std::vector<std::string> argv{(sandbox / "usr/bin/tapsim").string(), "--keys", "quit", QUARNEL_MODULE};
    argv.insert(argv.begin() + 1, c.options.begin(), c.options.end());
    Process tapsim(sandbox, argv, {"DISPLAY=:99"});
    const Outcome outcome = tapsim.wait();
    std::string named = c.named;
    named.replace(named.find('%'), 1, libexec.string());
    EXPECT_EQ(outcome.exitCode, 8) << outcome.err;
    EXPECT_EQ(outcome.errLines().size(), 1u) << outcome.err;
    EXPECT_TRUE(contains(outcome.err, named)) << outcome.err;
    EXPECT_TRUE(sandbox.leftovers().empty());
  }
}

}  // namespace
}  // namespace tapsim_test
