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
  std::string pseudoTerminals;          // what the module wrote there, already made readable
  std::string keyHandling;              // who takes the keys, and the remote type
};

// The lines a person reads at the end of a run; problems are the ones that
// say in words what went wrong.
struct Summary {
  std::vector<std::string> lines;
  std::vector<std::string> problems;
};

Summary summarise(const Receiver& receiver, const RunOutcome& outcome);
std::string describeModule(const ModuleRecords& records);

}  // namespace tapsim
