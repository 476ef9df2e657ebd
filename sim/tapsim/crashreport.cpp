#include "crashreport.h"

#include <elf.h>
#include <fcntl.h>
#include <gelf.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <utility>

namespace tapsim {
namespace {

// An overflow faults on the stack pointer's own neighbourhood; a bad pointer
// almost never lands there, since the live stack above it is mapped.
constexpr uint64_t kOverflowReach = uint64_t{64} * 1024;
constexpr uint64_t kGuardPage = 4096;  // the smaller page of the two machines

// The file name .gnu_debuglink gives, read with libelf alone: libdw belongs
// to the crash reader, which is loaded only when a report is written.
const char* debugLinkOf(Elf* elf) {
  size_t names = 0;
  if (elf_getshdrstrndx(elf, &names) != 0) return nullptr;
  for (Elf_Scn* scn = elf_nextscn(elf, nullptr); scn != nullptr; scn = elf_nextscn(elf, scn)) {
    GElf_Shdr header;
    if (gelf_getshdr(scn, &header) == nullptr || header.sh_type != SHT_PROGBITS) continue;
    const char* name = elf_strptr(elf, names, header.sh_name);
    if (name == nullptr || std::strcmp(name, ".gnu_debuglink") != 0) continue;
    Elf_Data* data = elf_getdata(scn, nullptr);
    if (data == nullptr || data->d_buf == nullptr) return nullptr;
    const auto* text = static_cast<const char*>(data->d_buf);
    return std::memchr(text, '\0', data->d_size) != nullptr ? text : nullptr;
  }
  return nullptr;
}

}  // namespace

bool isStackOverflow(const Fault& fault) {
  const bool segv = fault.signal == SIGSEGV || fault.signal == SIGBUS;
  // The board copies the stack from the first readable page at or above the
  // stack pointer: a stack that ran out has one, a wild pointer has none.
  const bool stackAbove = !fault.stack.empty() && fault.stackAt != 0;
  const uint64_t lowestPage = fault.stackAt & ~(kGuardPage - 1);
  const bool atGuard = fault.address < lowestPage && lowestPage - fault.address <= kOverflowReach;
  const uint64_t distance = fault.address > fault.sp ? fault.address - fault.sp : fault.sp - fault.address;
  return segv && stackAbove && atGuard && distance <= kOverflowReach;
}

ModuleFile::ModuleFile(std::filesystem::path path) : path_(std::move(path)) {
  fd_ = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0 || elf_version(EV_CURRENT) == EV_NONE) return;
  Elf* elf = elf_begin(fd_, ELF_C_READ_MMAP, nullptr);
  const char* debuglink = elf != nullptr ? debugLinkOf(elf) : nullptr;
  // A link that names a path is not one beside the module; only a plain name is looked up here.
  if (debuglink != nullptr && std::strchr(debuglink, '/') == nullptr)
    debugFd_ = open((path_.parent_path() / debuglink).c_str(), O_RDONLY | O_CLOEXEC);
  if (elf != nullptr) elf_end(elf);
}

ModuleFile::ModuleFile(ModuleFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)), debugFd_(std::exchange(other.debugFd_, -1)) {}

ModuleFile& ModuleFile::operator=(ModuleFile&& other) noexcept {
  if (this != &other) {
    closeAll();
    path_ = std::move(other.path_);
    fd_ = std::exchange(other.fd_, -1);
    debugFd_ = std::exchange(other.debugFd_, -1);
  }
  return *this;
}

ModuleFile::~ModuleFile() { closeAll(); }

void ModuleFile::closeAll() {
  if (fd_ >= 0) close(fd_);
  if (debugFd_ >= 0) close(debugFd_);
  fd_ = debugFd_ = -1;
}

}  // namespace tapsim
