// Fuzz target: KeyTranslate's install and remove and KeyTranslateHook with
// arbitrary events, key words, system ids and databases, against a model of
// the task table entry, the remembered handler and the remote type.
//
// The input is lines, one step each:
//   S<id>        TAP_GetSystemId answers this word (numbers as strtoul base 0)
//   D<id:type,...>  a valid database of these records goes on the disk
//   X<bytes>     these bytes are the database file    d  no database file
//   F            the cached database is spoiled, so the next load frees it
//   I<h> / R<h>  KeyTranslate(1, h) / KeyTranslate(0, h); h is a (the module's
//                handler), b (another), 0 (null) or k (the hook itself)
//   E<h>         the firmware puts a, b or 0 into the module's entry
//   K<event> <param1> <param2>  the firmware calls whatever the entry holds
//   T<n>         RemoteType is set to n    Y<n>  both handlers answer n
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "frame/firmware.h"
#include "fuzz_input.h"
#include "fuzz_platform.h"
#include "fwdatfile.h"
#include "lib/taplib.h"

extern "C" TapTaskEntry _tapTask[4];
extern "C" int32_t _curTapTask;

namespace {

constexpr const char* kTarget = "key hook";
constexpr size_t kMostSteps = 200;

void check(bool condition, const char* what) { quarnel::fuzz::check(condition, kTarget, what); }

struct Seen {
  uint32_t calls = 0;
  uint32_t event = 0;
  uint32_t param1 = 0;
  uint32_t param2 = 0;
};

Seen seenA, seenB;
uint32_t reply = TAP_EVENT_KEY;

uint32_t handlerA(uint32_t event, uint32_t param1, uint32_t param2) {
  seenA = {seenA.calls + 1, event, param1, param2};
  return reply;
}

uint32_t handlerB(uint32_t event, uint32_t param1, uint32_t param2) {
  seenB = {seenB.calls + 1, event, param1, param2};
  return reply;
}

TapEventHandler handlerNamed(char name) {
  switch (name) {
    case 'a': return handlerA;
    case 'b': return handlerB;
    case 'k': return KeyTranslateHook;
    default: return nullptr;
  }
}

// The remote's key codes that swap on models with the other remote.
uint32_t translated(uint32_t code) {
  static constexpr uint32_t table[][2] = {
      {0x10024, 0x10048}, {0x10025, 0x10045}, {0x10026, 0x10046}, {0x1003E, 0x10049},
      {0x1003F, 0x10047}, {0x10045, 0x10044}, {0x10047, 0x1003F}, {0x10048, 0x10024},
      {0x10049, 0x10025}, {0x1004A, 0x10026},
  };
  for (const auto& row : table)
    if (row[0] == code) return row[1];
  return code;
}

bool listedModel(uint32_t systemId) {
  const uint32_t model = systemId & 0xFFFF;
  return model == 22120 || model == 22130 || model == 32030 || model == 32031 || model == 33021;
}

enum class Cache { empty, loaded, spoiled };

struct Model {
  TapEventHandler entry = handlerA;
  TapEventHandler original = nullptr;
  int32_t remoteType = 1;
  uint32_t systemId = 42561;
  bool diskValid = false;
  std::vector<fwdat::ModelRecord> diskRecords;
  Cache cache = Cache::empty;
  std::vector<fwdat::ModelRecord> cached;
};

TapTaskEntry& entry() { return _tapTask[_curTapTask]; }

void compareWithModel(const Model& model) {
  check(entry().handler == model.entry, "the entry holds another handler than the model");
  check(Original_TAP_EventHandler == model.original, "the remembered handler differs from the model");
  check(RemoteType == model.remoteType, "the remote type differs from the model");
  if (entry().handler == KeyTranslateHook)
    check(Original_TAP_EventHandler != nullptr && Original_TAP_EventHandler != KeyTranslateHook,
          "the hook is in the entry with nothing sound to call");
}

// Every KeyTranslate first reads the database (from its cache when it has one).
void learnRemoteType(Model& model) {
  if (model.cache == Cache::spoiled) {
    model.cache = Cache::empty;
    return;
  }
  if (model.cache == Cache::empty) {
    if (!model.diskValid) return;
    model.cache = Cache::loaded;
    model.cached = model.diskRecords;
  }
  for (const auto& record : model.cached) {
    if (model.systemId == record.sysId) {
      model.remoteType = record.remoteType;
      return;
    }
  }
}

int32_t expectedKeyTranslate(Model& model, int32_t install, TapEventHandler handler) {
  learnRemoteType(model);
  if (install) {
    if (model.entry != handler || handler == nullptr || handler == KeyTranslateHook) return 0;
    model.original = handler;
    model.entry = KeyTranslateHook;
    return 1;
  }
  if (model.entry != KeyTranslateHook) return 0;
  model.entry = model.original;
  model.original = nullptr;
  return 1;
}

void keyTranslate(Model& model, int32_t install, char name) {
  const TapEventHandler handler = handlerNamed(name);
  const int32_t due = expectedKeyTranslate(model, install, handler);
  check(KeyTranslate(install, handler) == due, "KeyTranslate answered otherwise than the model");
}

void serve(Model& model, std::span<const uint8_t> bytes) {
  quarnel::fuzz::serveDatabase(bytes, quarnel::fuzz::SecondLength::Same);
  const auto contents = fwdat::parse(bytes);
  model.diskValid = contents.accepted();
  model.diskRecords = contents.records;
}

void serveRecords(Model& model, const std::string& list) {
  std::vector<fwdat::ModelRecord> records;
  size_t start = 0;
  while (start < list.size() && records.size() < 64) {
    const size_t comma = list.find(',', start);
    const std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const size_t colon = item.find(':');
    fwdat::ModelRecord record;
    record.sysId = static_cast<uint16_t>(std::strtoul(item.c_str(), nullptr, 0));
    if (colon != std::string::npos)
      record.remoteType = static_cast<int32_t>(std::strtoul(item.c_str() + colon + 1, nullptr, 0));
    records.push_back(record);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  serve(model, fwdat::build(records));
}

// Sets the cached header's magic to nothing, as a corrupted block would be.
void spoilCache(Model& model) {
  if (model.cache != Cache::loaded) return;
  FirmwareDatHeader* header = nullptr;
  check(LoadFirmwareDat(&header, nullptr, nullptr) == 1 && header != nullptr, "the cached database was not served");
  header->magic = 0;
  model.cache = Cache::spoiled;
}

// The firmware calls the entry; checks what the handler behind it received.
void fire(const Model& model, const std::string& words) {
  char* next = nullptr;
  const auto event = static_cast<uint32_t>(std::strtoul(words.c_str(), &next, 0));
  const auto param1 = static_cast<uint32_t>(std::strtoul(next, &next, 0));
  const auto param2 = static_cast<uint32_t>(std::strtoul(next, &next, 0));
  const TapEventHandler handler = entry().handler;
  if (handler == nullptr) return;
  const bool hooked = handler == KeyTranslateHook;
  const TapEventHandler target = hooked ? model.original : handler;
  Seen& seen = target == handlerA ? seenA : seenB;
  const uint32_t callsBefore = seen.calls;
  const uint32_t result = handler(event, param1, param2);
  check(seen.calls == callsBefore + 1, "the handler behind the entry was not called exactly once");
  if (!hooked) {
    check(seen.event == event && seen.param1 == param1 && seen.param2 == param2, "a plain call was altered");
    check(result == reply, "a plain call's answer was altered");
    return;
  }
  const uint32_t code = event & TAP_EVENT_MASK;
  check(seen.event == code && seen.param2 == param2, "the hook altered the event code or second parameter");
  if (code != TAP_EVENT_KEY) {
    check(seen.param1 == param1, "the hook altered the parameter of another event");
    check(result == reply, "the hook altered the answer to another event");
    return;
  }
  const uint32_t key = param1 & TAP_KEY_CODE_MASK;
  const uint32_t flags = param1 & ~TAP_KEY_CODE_MASK;
  const bool translates = listedModel(model.systemId) || model.remoteType == 2;
  check(seen.param1 == ((translates ? translated(key) : key) | flags),
        "the module saw another key word than the translation calls for");
  check(result == (reply == 0 ? 0 : param1), "the firmware got another word back than it is due");
}

void step(Model& model, std::string_view line) {
  const std::string arg(line.substr(1));
  const char first = arg.empty() ? '\0' : arg[0];
  switch (line[0]) {
    case 'S':
      model.systemId = static_cast<uint32_t>(std::strtoul(arg.c_str(), nullptr, 0));
      quarnel::fuzz::setSystemIdWord(model.systemId);
      break;
    case 'D': serveRecords(model, arg); break;
    case 'X': serve(model, std::span(reinterpret_cast<const uint8_t*>(arg.data()), arg.size())); break;
    case 'd':
      quarnel::fuzz::withdrawDatabase();
      model.diskValid = false;
      break;
    case 'F': spoilCache(model); break;
    case 'I': keyTranslate(model, 1, first); break;
    case 'R': keyTranslate(model, 0, first); break;
    case 'E':
      if (first != 'k') {
        entry().handler = handlerNamed(first);
        model.entry = entry().handler;
      }
      break;
    case 'K': fire(model, arg); break;
    case 'T':
      RemoteType = static_cast<int32_t>(std::strtoul(arg.c_str(), nullptr, 0));
      model.remoteType = RemoteType;
      break;
    case 'Y': reply = static_cast<uint32_t>(std::strtoul(arg.c_str(), nullptr, 0)); break;
    default: break;
  }
  compareWithModel(model);
}

// A database the loader still holds goes, so the next input starts from the disk.
void endDatabaseLife(Model& model) {
  if (model.cache == Cache::loaded) spoilCache(model);
  if (model.cache == Cache::spoiled)
    check(LoadFirmwareDat(nullptr, nullptr, nullptr) == 0, "a spoiled cached database was accepted");
  check(quarnel::fuzz::counters().liveBlocks == 0, "a database block outlived its input");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (quarnel::fuzz::installPlatform(), true);
  (void)ready;
  Model model;
  quarnel::fuzz::withdrawDatabase();
  quarnel::fuzz::setSystemIdWord(model.systemId);
  entry().handler = model.entry;
  Original_TAP_EventHandler = nullptr;
  RemoteType = model.remoteType;
  reply = TAP_EVENT_KEY;
  for (const std::string_view line : quarnel::fuzz::lines(data, size, kMostSteps))
    if (!line.empty()) step(model, line);
  endDatabaseLife(model);
  return 0;
}
