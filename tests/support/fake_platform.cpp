#include "fake_platform.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace quarnel::test {
namespace {

FakePlatform* activePlatform = nullptr;

std::string number(uint32_t value) { return std::to_string(value); }
std::string number(int32_t value) { return std::to_string(value); }

std::string formatted(const char* format, va_list args) {
  if (format == nullptr) return {};
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.pop_back();
  return text;
}

std::string call(std::string_view entry, std::initializer_list<std::string> arguments) {
  std::string line(entry);
  line += '(';
  bool first = true;
  for (const auto& argument : arguments) {
    if (!first) line += ',';
    line += argument;
    first = false;
  }
  return line + ')';
}

TapFile* fileHandle(uint32_t serial) {
  return reinterpret_cast<TapFile*>(static_cast<uintptr_t>(0x5A000000u + serial * 16u));
}

// The fakes themselves: log, then do what the programmed platform would.

TapRegion osdCreate(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t lut,
                    uint32_t flags) {
  auto& p = FakePlatform::active();
  p.record(call("TAP_Osd_Create",
                {number(x), number(y), number(width), number(height), number(lut), number(flags)}));
  return p.createRegion();
}

int32_t osdFillBox(TapRegion region, uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                   TapColour colour) {
  FakePlatform::active().record(call(
      "TAP_Osd_FillBox",
      {number(uint32_t{region}), number(x), number(y), number(width), number(height), hex(colour)}));
  return 0;
}

int32_t osdPutS(TapRegion region, uint32_t x, uint32_t y, uint32_t maxX, const char* text,
                TapColour foreground, TapColour background, uint32_t fontType, uint32_t fontSize,
                uint32_t dotted, uint32_t align) {
  FakePlatform::active().record(
      call("TAP_Osd_PutS", {number(uint32_t{region}), number(x), number(y), number(maxX),
                            quoted(text), hex(foreground), hex(background), number(fontType),
                            number(fontSize), number(dotted), number(align)}));
  return 0;
}

int32_t osdSync() {
  FakePlatform::active().record("TAP_Osd_Sync()");
  return 0;
}

int32_t osdDelete(TapRegion region) {
  auto& p = FakePlatform::active();
  p.record(call("TAP_Osd_Delete", {number(uint32_t{region})}));
  p.deleteRegion(region);
  return 0;
}

int32_t channelGetCurrent(int32_t* first, int32_t* second) {
  auto& p = FakePlatform::active();
  p.record(call("TAP_Channel_GetCurrent", {p.describe(first), p.describe(second)}));
  if (first != nullptr) *first = p.channelFirst;
  if (second != nullptr) *second = p.channelSecond;
  return 0;
}

int32_t channelStop(int32_t mainScreen) {
  FakePlatform::active().record(call("TAP_Channel_Stop", {number(mainScreen)}));
  return 0;
}

int32_t channelStart(int32_t mainScreen, int32_t first, int32_t second) {
  FakePlatform::active().record(
      call("TAP_Channel_Start", {number(mainScreen), number(first), number(second)}));
  return 0;
}

void systemProcFake() { FakePlatform::active().systemProc(); }

// Real printf formatting into the caller's buffer, unbounded as on the receiver.
int32_t sprintFake(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = formatted(format, args);
  va_end(args);
  if (buffer != nullptr) std::memcpy(buffer, text.c_str(), text.size() + 1);
  FakePlatform::active().record(call("TAP_SPrint", {quoted(format)}) + " -> " + quoted(text.c_str()));
  return static_cast<int32_t>(text.size());
}

int32_t printFake(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = formatted(format, args);
  va_end(args);
  auto& p = FakePlatform::active();
  p.record(call("TAP_Print", {quoted(format)}) + " -> " + quoted(text.c_str()));
  p.print(text);
  return static_cast<int32_t>(text.size());
}

void sleepFake(uint32_t duration) { FakePlatform::active().record(call("TAP_Sleep", {number(duration)})); }

void* memAlloc(uint32_t size) { return FakePlatform::active().allocate(size); }
int32_t memFree(void* block) { return FakePlatform::active().release(block); }

uint32_t getSystemId() {
  auto& p = FakePlatform::active();
  p.record("TAP_GetSystemId()");
  return p.systemId;
}

uint32_t getVersion() {
  auto& p = FakePlatform::active();
  p.record("TAP_GetVersion()");
  return p.version;
}

int32_t hddExist(const char* name) {
  auto& p = FakePlatform::active();
  p.record(call("TAP_Hdd_Exist", {quoted(name)}));
  return p.exists(name);
}

TapFile* hddFopen(const char* name) { return FakePlatform::active().openFile(name); }
uint32_t hddFlen(TapFile* file) { return FakePlatform::active().fileLength(file); }
uint32_t hddFread(void* buffer, uint32_t blockSize, uint32_t count, TapFile* file) {
  return FakePlatform::active().readFile(buffer, blockSize, count, file);
}
void hddFclose(TapFile* file) { FakePlatform::active().closeFile(file); }
uint32_t hddChangeDir(const char* path) { return FakePlatform::active().changeDirectory(path); }

}  // namespace

std::string quoted(const char* text) {
  if (text == nullptr) return "null";
  std::string out = "\"";
  for (const char* c = text; *c != '\0'; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte < 0x20 || byte >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out + '"';
}

std::string hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

// ---------------------------------------------------------------- FakeDisk

FakeDisk::FakeDisk() { directories_.insert("/"); }

std::optional<std::string> FakeDisk::resolve(std::string_view path) const {
  if (path.empty()) return std::nullopt;
  std::vector<std::string> parts;
  auto take = [&parts](std::string_view from) {
    size_t start = 0;
    while (start <= from.size()) {
      const size_t end = std::min(from.find('/', start), from.size());
      const std::string_view part = from.substr(start, end - start);
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.emplace_back(part);
      }
      start = end + 1;
    }
  };
  if (path.front() != '/') take(current_);
  take(path);
  std::string absolute;
  for (const auto& part : parts) absolute += "/" + part;
  return absolute.empty() ? "/" : absolute;
}

void FakeDisk::addDirectory(std::string_view absolutePath) {
  const auto path = resolve(absolutePath);
  if (!path || absolutePath.front() != '/')
    throw std::invalid_argument("FakeDisk wants an absolute directory path");
  for (size_t slash = path->find('/', 1); slash != std::string::npos; slash = path->find('/', slash + 1))
    directories_.insert(path->substr(0, slash));
  directories_.insert(*path);
}

void FakeDisk::addFile(std::string_view absolutePath, std::string_view bytes) {
  addFile(absolutePath, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

void FakeDisk::addFile(std::string_view absolutePath, const std::vector<uint8_t>& bytes) {
  const auto path = resolve(absolutePath);
  if (!path || absolutePath.front() != '/' || *path == "/")
    throw std::invalid_argument("FakeDisk wants an absolute file path");
  const std::string folder = path->substr(0, path->rfind('/'));
  if (!folder.empty()) addDirectory(folder);
  files_[*path] = bytes;
}

void FakeDisk::removeFile(std::string_view absolutePath) {
  if (const auto path = resolve(absolutePath)) files_.erase(*path);
}

bool FakeDisk::isDirectory(std::string_view absolutePath) const {
  const auto path = resolve(absolutePath);
  return path && directories_.contains(*path);
}

bool FakeDisk::isFile(std::string_view absolutePath) const {
  const auto path = resolve(absolutePath);
  return path && files_.contains(*path);
}

void FakeDisk::setCurrentDirectory(std::string_view absolutePath) {
  if (!isDirectory(absolutePath) || absolutePath.front() != '/')
    throw std::invalid_argument("FakeDisk has no directory " + std::string(absolutePath));
  current_ = *resolve(absolutePath);
}

const std::vector<uint8_t>* FakeDisk::fileBytes(std::string_view path) const {
  const auto absolute = resolve(path);
  if (!absolute) return nullptr;
  const auto found = files_.find(*absolute);
  return found == files_.end() ? nullptr : &found->second;
}

// ------------------------------------------------------------ FakePlatform

template <typename Word>
void FakePlatform::install(Word& word, Word fake) {
  const Word saved = word;
  restoreWords_.push_back([&word, saved] { word = saved; });
  word = fake;
}

FakePlatform::FakePlatform() {
  if (activePlatform != nullptr) throw std::logic_error("only one FakePlatform at a time");
  install(TAP_Osd_Create, &osdCreate);
  install(TAP_Osd_FillBox, &osdFillBox);
  install(TAP_Osd_PutS, &osdPutS);
  install(TAP_Osd_Sync, &osdSync);
  install(TAP_Osd_Delete, &osdDelete);
  install(TAP_Channel_GetCurrent, &channelGetCurrent);
  install(TAP_Channel_Stop, &channelStop);
  install(TAP_Channel_Start, &channelStart);
  install(TAP_SystemProc, &systemProcFake);
  install(TAP_SPrint, &sprintFake);
  install(TAP_Print, &printFake);
  install(TAP_Sleep, &sleepFake);
  install(TAP_MemAlloc, &memAlloc);
  install(TAP_MemFree, &memFree);
  install(TAP_GetSystemId, &getSystemId);
  install(TAP_GetVersion, &getVersion);
  install(TAP_Hdd_Exist, &hddExist);
  install(TAP_Hdd_Fopen, &hddFopen);
  install(TAP_Hdd_Flen, &hddFlen);
  install(TAP_Hdd_Fread, &hddFread);
  install(TAP_Hdd_Fclose, &hddFclose);
  install(TAP_Hdd_ChangeDir, &hddChangeDir);
  activePlatform = this;
}

FakePlatform::~FakePlatform() {
  for (auto& restore : restoreWords_) restore();
  for (auto& [block, info] : blocks_) std::free(const_cast<void*>(block));
  activePlatform = nullptr;
}

FakePlatform& FakePlatform::active() {
  if (activePlatform == nullptr) {
    std::fputs("a platform entry was called with no FakePlatform alive\n", stderr);
    std::abort();
  }
  return *activePlatform;
}

std::vector<std::string> FakePlatform::callsTo(std::string_view entry) const {
  std::vector<std::string> matching;
  for (const auto& line : calls_)
    if (line.size() > entry.size() && line.starts_with(entry) && line[entry.size()] == '(')
      matching.push_back(line);
  return matching;
}

std::string FakePlatform::describe(const void* pointer) const {
  if (pointer == nullptr) return "null";
  const auto* byte = static_cast<const uint8_t*>(pointer);
  for (const auto& [start, info] : blocks_) {
    const auto* first = static_cast<const uint8_t*>(start);
    if (byte >= first && byte < first + std::max<uint32_t>(info.size, 1)) {
      const auto offset = static_cast<size_t>(byte - first);
      return "#" + std::to_string(info.serial) + (offset ? "+" + std::to_string(offset) : "");
    }
  }
  for (const auto& [handle, file] : files_)
    if (handle == pointer) return "@" + std::to_string(file.serial);
  return "ptr";
}

void* FakePlatform::allocate(uint32_t size) {
  ++allocationCalls_;
  record(call("TAP_MemAlloc", {number(size)}));
  if (failEveryAllocation_ || allocationCalls_ == failAllocationOn_) return nullptr;
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) return nullptr;
  // Garbage, so that code relying on zeroed memory shows itself.
  std::memset(block, 0xCD, size == 0 ? 1 : size);
  blocks_[block] = Block{allocationCalls_, size};
  return block;
}

int32_t FakePlatform::release(void* block) {
  record(call("TAP_MemFree", {describe(block)}));
  const auto found = blocks_.find(block);
  if (found == blocks_.end()) {
    ++badFrees_;
    return 0;
  }
  blocks_.erase(found);
  std::free(block);
  return 1;
}

int32_t FakePlatform::exists(const char* name) const {
  if (name == nullptr) return 0;
  const auto path = disk.resolve(name);
  return path && (disk.isFile(*path) || disk.isDirectory(*path)) ? 1 : 0;
}

TapFile* FakePlatform::openFile(const char* name) {
  record(call("TAP_Hdd_Fopen", {quoted(name)}));
  const auto* bytes = name != nullptr ? disk.fileBytes(name) : nullptr;
  if (bytes == nullptr) return nullptr;
  TapFile* handle = fileHandle(++fileSerial_);
  files_[handle] = OpenFile{fileSerial_, *bytes};
  return handle;
}

uint32_t FakePlatform::fileLength(TapFile* file) {
  record(call("TAP_Hdd_Flen", {describe(file)}));
  const auto found = files_.find(file);
  return found == files_.end() ? 0 : static_cast<uint32_t>(found->second.bytes.size());
}

uint32_t FakePlatform::readFile(void* buffer, uint32_t blockSize, uint32_t count, TapFile* file) {
  record(call("TAP_Hdd_Fread", {describe(buffer), number(blockSize), number(count), describe(file)}));
  const auto found = files_.find(file);
  if (failReads || found == files_.end() || buffer == nullptr || blockSize == 0) return 0;
  auto& open = found->second;
  const size_t left = open.bytes.size() - open.position;
  const uint32_t blocks = static_cast<uint32_t>(std::min<size_t>(count, left / blockSize));
  const size_t length = size_t{blocks} * blockSize;
  std::memcpy(buffer, open.bytes.data() + open.position, length);
  open.position += length;
  return blocks;
}

void FakePlatform::closeFile(TapFile* file) {
  record(call("TAP_Hdd_Fclose", {describe(file)}));
  files_.erase(file);
}

uint32_t FakePlatform::changeDirectory(const char* path) {
  record(call("TAP_Hdd_ChangeDir", {quoted(path)}));
  const auto target = path != nullptr ? disk.resolve(path) : std::nullopt;
  if (!target || !disk.isDirectory(*target)) return changeDirFailure;
  disk.setCurrentDirectory(*target);
  if (onDirectoryChanged) onDirectoryChanged(*target);
  return changeDirSuccess;
}

TapRegion FakePlatform::createRegion() {
  const TapRegion region = nextRegion++;
  regions_.insert(region);
  return region;
}

void FakePlatform::queueEvent(uint32_t event, uint32_t param1, uint32_t param2) {
  events_.push_back(DeliveredEvent{event, param1, param2, 0});
}

void FakePlatform::systemProc() {
  record("TAP_SystemProc()");
  if (events_.empty()) {
    if (onIdle) return onIdle();
    if (++idleCalls_ >= idleLimit) {
      std::fprintf(stderr, "TAP_SystemProc called %u times with no event queued: the module never "
                   "ended (queue TAP_KEY_QUIT or set onIdle)\n", idleCalls_);
      std::abort();
    }
    return;
  }
  idleCalls_ = 0;
  DeliveredEvent next = events_.front();
  events_.pop_front();
  TapEventHandler handler = handlerOverride_ ? handlerOverride_ : taskHandler ? taskHandler() : nullptr;
  if (handler == nullptr) {
    std::fputs("TAP_SystemProc has an event but no handler to deliver it to\n", stderr);
    std::abort();
  }
  next.result = handler(next.event, next.param1, next.param2);
  delivered_.push_back(next);
}

}  // namespace quarnel::test
