#pragma once
#include <optional>
#include <string>
#include <vector>

#include "loader.h"
#include "receiver.h"

namespace tapsim {

struct RunOutcome {
  std::optional<int32_t> moduleResult;  // empty while the module has not returned
  bool stalled = false;                 // keys ran out while the module waited for more
  std::string keyHandling;              // who takes the keys, and the remote type
  std::vector<std::string> endings;     // how the run ended otherwise, in words
  std::string sandbox;                  // the confinement's line; empty when the run had none to tell
  std::vector<std::string> refusedCalls;  // what the module tried outside its receiver: open("/etc/passwd")
  uint64_t refusedUntold = 0;           // more of them, beyond what the summary lists
  std::vector<std::string> warnings;    // what would go wrong on the receiver, though not here
};

// The lines a person reads at the end of a run; problems are the ones that
// say in words what went wrong.
struct Summary {
  std::vector<std::string> lines;
  std::vector<std::string> problems;
};

Summary summarise(const Receiver& receiver, const RunOutcome& outcome);
std::string describeModule(const ModuleRecords& records);
// What the module wrote to the pseudo-terminals, made readable; empty when nothing.
std::string terminalWrites(const Receiver& receiver);

}  // namespace tapsim
