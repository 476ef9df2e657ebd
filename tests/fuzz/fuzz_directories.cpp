// Fuzz target: the directory services and UTF-8 conversion with arbitrary
// firmware paths and arguments, against a model of what each call must do.
//
// The input is lines. The first is the whole path the firmware's directory
// record names (prefix included); each further line is one call:
//   G  HDD_TAP_GetCurrentDir into a one-slot buffer     g  ... into null
//   P  HDD_TAP_PushDir    O  HDD_TAP_PopDir    A  a push and a pop in a row
//   C<path>  HDD_ChangeDir(path)                         c  ... (null)
//   U<text>  StrToUTF8 into a buffer of exactly the size due   u  null arguments
//   H<text>  CharToUTF8 of every byte                     h  ... (null)
//   R<path>  the firmware renames the record   N  no record   n  record, null path
//   L<name>[\t<subdir>]  INILocateFile, without a tab the subdir is null   l  null name
//   V<path>  the directory and all below it vanish from the disk (up to 4 do)
// The disk takes any directory whose full path is valid UTF-8, has no '?' or
// '*', is at most 512 bytes and has not vanished; the firmware's record
// follows every change.
#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "frame/firmware.h"
#include "fuzz_input.h"
#include "lib/taplib.h"

extern "C" {
// Exported from the fuzzer executable; the library finds them by name.
__attribute__((visibility("default"))) TapTaskEntry _tapTask[4] = {};
__attribute__((visibility("default"))) int32_t _curTapTask = 1;
}

namespace {

constexpr const char* kTarget = "directories";
constexpr std::string_view kPrefix = "[disk0]";
constexpr size_t kMostCalls = 200;
constexpr size_t kLongestDiskPath = 512;
// A platform that answers 0 for success, so a library that assumed 1 would show.
constexpr uint32_t kSuccess = 0;
constexpr uint32_t kFailure = 7;

void check(bool condition, const char* what) { quarnel::fuzz::check(condition, kTarget, what); }

bool validUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<uint8_t>(text[i]);
    size_t extra = 0;
    if (c >= 0xC2 && c <= 0xDF) extra = 1;
    else if ((c & 0xF0) == 0xE0) extra = 2;
    else if (c >= 0xF0 && c <= 0xF4) extra = 3;
    else if (c >= 0x80) return false;
    if (text.size() - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k)
      if ((static_cast<uint8_t>(text[i + k]) & 0xC0) != 0x80) return false;
    i += extra + 1;
  }
  return true;
}

// Latin-1 to UTF-8, the way the library documents it, worked out here on its own.
std::string utf8Of(std::string_view latin1) {
  std::string out;
  for (const char ch : latin1) {
    const auto c = static_cast<uint8_t>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

uint16_t utf8Word(uint8_t c) {
  return c < 0x80 ? c : static_cast<uint16_t>((0xC0 | (c >> 6)) << 8 | (0x80 | (c & 0x3F)));
}

// The disk and the firmware's record of the module's directory.
struct Receiver {
  std::string current = "/";
  std::unique_ptr<char[]> path;  // exactly as long as the text, so reading past it shows
  TapDirRecord record{};
  bool recordAttached = true;
  std::set<std::string> files;
  std::vector<std::string> vanished;
  uint32_t changeDirs = 0;
};

Receiver receiver;

std::string resolve(const std::string& from, std::string_view path) {
  if (!path.empty() && path[0] == '/') return std::string(path);
  return from == "/" ? "/" + std::string(path) : from + "/" + std::string(path);
}

bool underVanished(const std::string& full) {
  return std::ranges::any_of(receiver.vanished, [&full](const std::string& gone) {
    return full == gone || (full.starts_with(gone) && (gone == "/" || full[gone.size()] == '/'));
  });
}

bool diskAccepts(const std::string& from, std::string_view path) {
  if (path.empty()) return false;
  const std::string full = resolve(from, path);
  return full.size() <= kLongestDiskPath && validUtf8(full) && full.find_first_of("?*") == std::string::npos &&
         !underVanished(full);
}

void vanish(std::string_view path) {
  if (receiver.vanished.size() < 4) receiver.vanished.push_back(resolve(receiver.current, path));
}

void nameRecord(std::string_view fullPath) {
  receiver.path = std::make_unique<char[]>(fullPath.size() + 1);
  std::memcpy(receiver.path.get(), fullPath.data(), fullPath.size());
  receiver.path[fullPath.size()] = '\0';
  receiver.record.path = receiver.path.get();
}

void attachRecord(bool attached) {
  receiver.recordAttached = attached;
  _tapTask[_curTapTask].dirRecord = attached ? &receiver.record : nullptr;
}

uint32_t changeDir(const char* path) {
  ++receiver.changeDirs;
  if (path == nullptr || !diskAccepts(receiver.current, path)) return kFailure;
  receiver.current = resolve(receiver.current, path);
  nameRecord(std::string(kPrefix) + receiver.current);
  return kSuccess;
}

int32_t exists(const char* name) {
  return name != nullptr && name[0] != '\0' && receiver.files.contains(resolve(receiver.current, name)) ? 1 : 0;
}

void installReceiver() {
  TAP_Hdd_ChangeDir = changeDir;
  TAP_Hdd_Exist = exists;
  receiver.files = {"/ProgramFiles/a.ini", "/ProgramFiles/Settings/a.ini", "/ProgramFiles/Settings/b.ini",
                    "/ProgramFiles/Settings/Mine/a.ini", "/ProgramFiles/Settings/Mine/c.ini",
                    "/ProgramFiles/Settings/Caf\xC3\xA9/a.ini", "/Home/h.ini"};
  attachRecord(true);
  nameRecord("[disk0]/");
  // The library learns the success value on its first change; let that happen here.
  HDD_ChangeDir("/");
}

// What the library must leave behind, kept beside it.
struct Model {
  std::string current = "/";
  int32_t depth = -1;
  char stack[TAP_DIR_STACK_SLOTS][TAP_PATH_SIZE] = {};
};

void compareWithModel(const Model& model) {
  check(TAPDirStackDepth >= -1 && TAPDirStackDepth <= 15, "the stack depth left -1..15");
  check(TAPDirStackDepth == model.depth, "the stack depth differs from the model");
  check(std::memcmp(TAPDirStack, model.stack, sizeof model.stack) == 0,
        "a stack slot holds other bytes than it should");
  check(receiver.current == model.current, "the current directory differs from the model");
}

// Whether a record is there to read; its path as a C string then.
const char* recordPath() {
  if (!receiver.recordAttached || receiver.record.path == nullptr) return nullptr;
  return receiver.record.path;
}

// What HDD_TAP_GetCurrentDir must answer and write for the record as it is.
int32_t expectedCurrentDir(std::string& written) {
  const char* full = recordPath();
  if (full == nullptr) return 1;  // nothing written, result 0
  const size_t length = std::strlen(full);
  written.clear();
  if (length < kPrefix.size()) return TAP_DIR_PATH_TOO_SHORT;
  if (length - kPrefix.size() >= TAP_PATH_SIZE) return TAP_DIR_PATH_TOO_LONG;
  written.assign(full + kPrefix.size());
  return 0;
}

// Writes what the call must leave in a slot-sized buffer; gives the result due.
int32_t applyCurrentDir(char* slot) {
  std::string written;
  const int32_t expected = expectedCurrentDir(written);
  if (expected == 1) return 0;
  if (expected != 0) {
    slot[0] = '\0';
    return expected;
  }
  std::memcpy(slot, written.c_str(), written.size() + 1);
  return 0;
}

// Whether HDD_ChangeDir(path) must succeed, and where it leaves the disk.
bool applyChangeDir(Model& model, const char* path) {
  if (path == nullptr) return false;
  if (diskAccepts(model.current, path)) {
    model.current = resolve(model.current, path);
    return true;
  }
  const std::string utf8 = utf8Of(path);
  if (utf8.size() + 1 > 256 || !diskAccepts(model.current, utf8)) return false;
  model.current = resolve(model.current, utf8);
  return true;
}

void getCurrentDir(const Model&) {
  // Exactly one slot long on the heap, filled with a pattern that must survive
  // past the terminator.
  auto dest = std::make_unique<char[]>(TAP_PATH_SIZE);
  std::memset(dest.get(), 0x5A, TAP_PATH_SIZE);
  char expected[TAP_PATH_SIZE];
  std::memset(expected, 0x5A, TAP_PATH_SIZE);
  const int32_t due = applyCurrentDir(expected);
  const int32_t result = HDD_TAP_GetCurrentDir(dest.get());
  check(result == 0 || result == TAP_DIR_PATH_TOO_SHORT || result == TAP_DIR_PATH_TOO_LONG,
        "GetCurrentDir answered outside 0, -4, -5");
  check(result == due, "GetCurrentDir answered otherwise than the record calls for");
  check(std::memcmp(dest.get(), expected, TAP_PATH_SIZE) == 0,
        "GetCurrentDir wrote other bytes than the record calls for");
}

void push(Model& model) {
  int32_t due = 0;
  if (model.depth < 15) {
    char* slot = model.stack[model.depth + 1];
    if (applyCurrentDir(slot) == 0) {
      ++model.depth;
      due = 1;
    }
  }
  check(HDD_TAP_PushDir() == due, "PushDir answered otherwise than the model");
}

void pop(Model& model) {
  int32_t due = 0;
  if (model.depth >= 0) {
    const std::string slot(model.stack[model.depth], strnlen(model.stack[model.depth], TAP_PATH_SIZE));
    --model.depth;
    due = applyChangeDir(model, slot.c_str()) ? 1 : 0;
  }
  check(HDD_TAP_PopDir() == due, "PopDir answered otherwise than the model");
}

// With a record that names the disk's own directory, a push and a pop come
// back to where they started.
void pushAndPop(Model& model) {
  const std::string before = receiver.current;
  const char* full = recordPath();
  const bool faithful = full != nullptr && std::string(kPrefix) + before == full &&
                        before.size() < TAP_PATH_SIZE && !underVanished(before) && model.depth < 15;
  push(model);
  compareWithModel(model);
  pop(model);
  if (faithful) check(receiver.current == before, "a push and a pop did not come back");
}

void changeDir(Model& model, const char* path) {
  const int32_t due = applyChangeDir(model, path) ? 1 : 0;
  check(HDD_ChangeDir(path) == due, "ChangeDir answered otherwise than the disk calls for");
}

void strToUtf8(std::string_view text) {
  const std::string src(text);  // up to an embedded NUL, as a C string ends there
  const std::string expected = utf8Of(src.c_str());
  auto dest = std::make_unique<char[]>(expected.size() + 1);
  StrToUTF8(src.c_str(), dest.get());
  check(std::memcmp(dest.get(), expected.c_str(), expected.size() + 1) == 0,
        "StrToUTF8 gave another text than UTF-8 of its input");
}

void nullUtf8() {
  char dest[4] = {'k', 'e', 'e', 'p'};
  StrToUTF8(nullptr, dest);
  check(std::memcmp(dest, "keep", 4) == 0, "StrToUTF8 of null wrote the destination");
  StrToUTF8("x", nullptr);
}

void charToUtf8(std::string_view text) {
  for (const char c : text) {
    const auto one = std::make_unique<char>(c);
    check(CharToUTF8(one.get()) == utf8Word(static_cast<uint8_t>(c)), "CharToUTF8 gave a wrong word");
  }
  check(CharToUTF8(nullptr) == 0, "CharToUTF8 of null is not 0");
}

void locate(Model& model, const char* name, const char* subdir) {
  const std::string before = receiver.current;
  const char* full = recordPath();
  const bool faithful = full != nullptr && std::string(kPrefix) + before == full &&
                        before.size() < TAP_PATH_SIZE && !underVanished(before);
  const int32_t found = INILocateFile(name, subdir);
  check(found == NotFound || found == CurrentDir || found == SettingsSubDir || found == SettingsDir ||
            found == ProgramFilesDir,
        "INILocateFile answered outside its places");
  const std::string& now = receiver.current;
  if (found == CurrentDir || (found == NotFound && faithful))
    check(now == before, "INILocateFile did not leave the directory where it was");
  if (found == ProgramFilesDir) check(now == "/ProgramFiles", "found in ProgramFiles but not left there");
  if (found == SettingsDir) check(now == "/ProgramFiles/Settings", "found in Settings but not left there");
  if (found == SettingsSubDir) {
    check(subdir != nullptr && subdir[0] != '\0' && subdir[0] != '/', "found in a subdirectory it may not use");
    check(now.starts_with("/ProgramFiles/Settings/") && exists(name), "found in a subdirectory without the file");
  }
  // The search keeps off the stack; where it ends is the model's from here on.
  model.current = now;
}

void call(Model& model, std::string_view line) {
  const char op = line[0];
  const std::string arg(line.substr(1));
  switch (op) {
    case 'G': getCurrentDir(model); break;
    case 'g': check(HDD_TAP_GetCurrentDir(nullptr) == 0, "GetCurrentDir(null) is not 0"); break;
    case 'P': push(model); break;
    case 'O': pop(model); break;
    case 'A': pushAndPop(model); break;
    case 'C': changeDir(model, arg.c_str()); break;
    case 'c': changeDir(model, nullptr); break;
    case 'U': strToUtf8(arg); break;
    case 'u': nullUtf8(); break;
    case 'H': charToUtf8(arg); break;
    case 'h': check(CharToUTF8(nullptr) == 0, "CharToUTF8 of null is not 0"); break;
    case 'R': nameRecord(line.substr(1)); break;
    case 'N': attachRecord(false); break;
    case 'n': attachRecord(true); receiver.record.path = nullptr; break;
    case 'L': {
      const size_t tab = arg.find('\t');
      if (tab == std::string::npos) locate(model, arg.c_str(), nullptr);
      else locate(model, arg.substr(0, tab).c_str(), arg.substr(tab + 1).c_str());
      break;
    }
    case 'l': locate(model, nullptr, "Mine"); break;
    case 'V': vanish(line.substr(1)); break;
    default: break;
  }
  compareWithModel(model);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (installReceiver(), true);
  (void)ready;
  const auto input = quarnel::fuzz::lines(data, size, kMostCalls + 1);
  receiver.current = "/";
  receiver.vanished.clear();
  attachRecord(true);
  nameRecord(input.empty() ? std::string_view() : input[0]);
  TAPDirStackDepth = -1;
  std::memset(TAPDirStack, 0, sizeof TAPDirStack);
  Model model;
  for (size_t i = 1; i < input.size(); ++i)
    if (!input[i].empty()) call(model, input[i]);
  return 0;
}
