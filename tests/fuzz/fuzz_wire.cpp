// Fuzz target: the host's side of the wire with whatever a hostile module
// can write into the memory it shares with the host. The input is the ring's
// places and the key ring's, then the bytes the call ring holds from its
// head on (message heads, payloads, fillers, any of them forged):
//   u32 head, u32 tail - head, u32 key head, u32 key tail, u8 keys pressed, bytes...
// The host serves it with no board process behind the memory, for a few
// steps. It must end each step promptly, never read outside the memory, and
// keep what the module can grow within the receiver's bounds.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>

#include "fuzz_input.h"
#include "platform/disk.h"
#include "session.h"

namespace {

constexpr const char* kTarget = "wire";
constexpr int kSteps = 4;

uint32_t wordAt(const uint8_t* data, size_t size, size_t at) {
  uint32_t word = 0;
  if (at + 4 <= size) std::memcpy(&word, data + at, 4);
  return word;
}

// One board stand-in and one disk for every input: making them is what costs.
struct Fixture {
  tapsim::DiskFolder disk = withFile(tapsim::DiskFolder::createDefault());
  tapsim::BoardProcess board = make();

  // A file to open and read: "ProgramFiles/data.bin".
  static tapsim::DiskFolder withFile(tapsim::DiskFolder folder) {
    std::ofstream(folder.path() / "ProgramFiles" / "data.bin", std::ios::binary) << std::string(3000, 'd');
    return folder;
  }

  static tapsim::BoardProcess make() {
    std::string error;
    auto board = tapsim::BoardProcess::standIn(error);
    quarnel::fuzz::check(board.has_value(), kTarget, "the stand-in's shared memory");
    return std::move(*board);
  }
};

// The ring's bytes from `head` on, wrapping at its end, as the module left them.
void place(WireShared& wire, uint32_t head, const uint8_t* bytes, size_t size, bool clear) {
  for (size_t done = 0; done < size && done < WIRE_CALL_RING_BYTES;) {
    const uint32_t offset = (head + done) % WIRE_CALL_RING_BYTES;
    const size_t piece = std::min<size_t>(size - done, WIRE_CALL_RING_BYTES - offset);
    if (clear) std::memset(wire.calls + offset, 0, piece);
    else std::memcpy(wire.calls + offset, bytes + done, piece);
    done += piece;
  }
}

void checkBounds(const tapsim::Receiver& rx) {
  using quarnel::fuzz::check;
  check(rx.screen.regionCount() <= tapsim::Screen::kMostRegions, kTarget, "regions beyond the bound");
  check(rx.console.text().size() <= tapsim::KeptText::kMostBytes, kTarget, "console beyond the bound");
  for (const auto& terminal : rx.terminalText)
    check(terminal.text().size() <= tapsim::KeptText::kMostBytes, kTarget, "terminal beyond the bound");
  check(rx.disk.openFiles() <= tapsim::VirtualDisk::kMostOpenFiles, kTarget, "open files beyond the bound");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  constexpr size_t kHead = 17;
  WireShared& wire = fixture.board.wire();
  const uint32_t head = wordAt(data, size, 0);
  wire.callHead = head;
  wire.callTail = head + wordAt(data, size, 4);
  wire.eventHead = wordAt(data, size, 8);
  wire.eventTail = wordAt(data, size, 12);
  wire.roomWanted = 0;
  const uint8_t presses = size > 16 ? data[16] % 8 : 0;
  const uint8_t* ring = data + std::min(size, kHead);
  const size_t ringBytes = size - std::min(size, kHead);
  place(wire, head, ring, ringBytes, false);

  tapsim::ReceiverSettings settings;
  settings.diskRoot = fixture.disk.path();
  // The same bound on a small OSD: huge regions would only slow the fuzzer down.
  settings.osdPixels = 256 * 256;
  tapsim::Receiver rx(settings, tapsim::ReceiverOutput{});
  {
    tapsim::SessionLimits limits;
    tapsim::Session session(rx, fixture.board, tapsim::Remote{}, limits, tapsim::ModuleFile{});
    for (uint8_t i = 0; i < presses; ++i) session.press(tapsim::RemotePress{});
    session.endKeys();
    for (int i = 0; i < kSteps && session.step(std::chrono::milliseconds(0)); ++i) fixture.board.hearAnswers();
    fixture.board.hearAnswers();
  }
  checkBounds(rx);
  place(wire, head, ring, ringBytes, true);
  return 0;
}
