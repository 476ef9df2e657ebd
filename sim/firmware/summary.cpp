#include "summary.h"

#include "../board/wire.h"
#include "../platform/visible.h"

namespace tapsim {
namespace {

std::string channelText(std::pair<uint32_t, uint32_t> channel) {
  return std::to_string(channel.first) + "/" + std::to_string(channel.second);
}

std::string plural(uint64_t count, const std::string& word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

void channelLines(const Receiver& receiver, Summary& summary) {
  const Channels& channels = receiver.channels;
  std::string line = "channel: " + channelText(channels.atStart()) + " at start, stopped " +
                     plural(channels.stops(), "time") + ", started " + plural(channels.starts(), "time");
  if (channels.starts() > 0) line += ", now " + channelText(channels.current());
  summary.lines.push_back(line);
  if (!channels.playing())
    summary.problems.push_back("live TV was not started again (channel still stopped)");
  else if (channels.current() != channels.atStart())
    summary.problems.push_back("the channel started at the end (" + channelText(channels.current()) +
                               ") is not the one showing at start (" +
                               channelText(channels.atStart()) + ")");
}

void resourceLines(const Receiver& receiver, Summary& summary) {
  const Memory& memory = receiver.memory;
  summary.lines.push_back("memory: " + plural(memory.allocations(), "allocation") + ", " +
                          plural(memory.liveBlocks(), "block") + " still allocated (" +
                          std::to_string(memory.liveBytes()) + " bytes)");
  if (memory.liveBlocks() > 0)
    summary.problems.push_back(plural(memory.liveBlocks(), "memory block") + " never freed");
  if (memory.badReleases() > 0)
    summary.problems.push_back(plural(memory.badReleases(), "free") + " of a block the platform never gave out");
  summary.lines.push_back("regions left: " + std::to_string(receiver.screen.regionCount()));
  if (receiver.screen.regionCount() > 0)
    summary.problems.push_back(plural(receiver.screen.regionCount(), "OSD region") + " not deleted");
  if (memory.refusedOverLimit() > 0)
    summary.problems.push_back(plural(memory.refusedOverLimit(), "allocation") + " refused: over the memory limit of " +
                               std::to_string(memory.limit()) + " bytes");
  if (memory.failingAllocation() != 0 && !memory.injectionFired())
    summary.problems.push_back("--fail-alloc " + std::to_string(memory.failingAllocation()) +
                               " never fired: the module made only " + plural(memory.allocations(), "allocation"));
  if (receiver.disk.openFiles() > 0)
    summary.problems.push_back(plural(receiver.disk.openFiles(), "file") + " left open on the disk");
}

// What the module made more of than a receiver keeps: kept in part, and said.
void cutLines(const Receiver& receiver, Summary& summary) {
  const auto kept = std::to_string(KeptText::kMostBytes);
  if (receiver.printsCut > 0)
    summary.problems.push_back(plural(receiver.printsCut, "TAP_Print text") + " cut to the " +
                               std::to_string(WIRE_PRINT_MOST) + " characters one print shows");
  if (receiver.console.cut() > 0)
    summary.problems.push_back("the console keeps " + kept + " bytes: " + std::to_string(receiver.console.cut()) +
                               " more printed bytes are not shown");
  for (size_t n = 0; n < receiver.terminalText.size(); ++n)
    if (receiver.terminalText[n].cut() > 0)
      summary.problems.push_back("/dev/pts/" + std::to_string(n) + " keeps " + kept + " bytes: " +
                                 std::to_string(receiver.terminalText[n].cut()) + " more written bytes are not shown");
  if (receiver.screen.refusedRegions() > 0)
    summary.problems.push_back(plural(receiver.screen.refusedRegions(), "OSD region") +
                               " refused: the OSD holds at most " + std::to_string(Screen::kMostRegions) +
                               " regions of " + std::to_string(receiver.screen.mostPixels()) + " pixels in all");
  if (receiver.disk.refusedOpens() > 0)
    summary.problems.push_back(plural(receiver.disk.refusedOpens(), "file") + " not opened: at most " +
                               std::to_string(VirtualDisk::kMostOpenFiles) + " may be open at once");
  if (receiver.memory.refusedTooMany() > 0)
    summary.problems.push_back(plural(receiver.memory.refusedTooMany(), "allocation") + " refused: at most " +
                               std::to_string(Memory::kMostBlocks) + " blocks may be held at once");
}

}  // namespace

std::string terminalWrites(const Receiver& receiver) {
  std::string text;
  for (size_t n = 0; n < receiver.terminalText.size(); ++n) {
    if (receiver.terminalText[n].empty()) continue;
    if (!text.empty()) text += "; ";
    text += "/dev/pts/" + std::to_string(n) + " got \"" + visibleBytes(receiver.terminalText[n].text()) + "\"";
  }
  return text;
}

std::string describeModule(const ModuleRecords& r) {
  std::string text = "module: " + (r.name.empty() ? std::string("(no name record)") : r.name);
  if (!r.version.empty()) text += ", version " + r.version;
  if (!r.author.empty()) text += ", by " + r.author;
  if (!r.buildDate.empty()) text += ", built " + r.buildDate;
  if (!r.description.empty()) text += " (" + r.description + ")";
  return text;
}

Summary summarise(const Receiver& receiver, const RunOutcome& outcome) {
  Summary summary;
  if (outcome.moduleResult)
    summary.lines.push_back("module result: " + std::to_string(*outcome.moduleResult));
  else
    summary.lines.push_back("module result: none, it had not returned");
  if (outcome.stalled)
    summary.problems.push_back("the keys ran out and the module is still waiting for more");
  for (const auto& ending : outcome.endings) summary.problems.push_back(ending);
  summary.lines.push_back("screens synced: " + std::to_string(receiver.syncs) +
                          ", keys delivered: " + std::to_string(receiver.keysDelivered) + " on model " +
                          std::to_string(receiver.settings.systemId));
  if (!outcome.keyHandling.empty()) summary.lines.push_back(outcome.keyHandling);
  channelLines(receiver, summary);
  resourceLines(receiver, summary);
  if (!receiver.console.empty()) summary.lines.push_back("console: " + receiver.console.text());
  cutLines(receiver, summary);
  if (const std::string written = terminalWrites(receiver); !written.empty())
    summary.lines.push_back("pseudo-terminals: " + written);
  if (!outcome.sandbox.empty()) summary.lines.push_back(outcome.sandbox);
  for (const auto& warning : outcome.warnings) summary.lines.push_back("warning: " + warning);
  for (const auto& call : outcome.refusedCalls)
    summary.problems.push_back("the module called " + call + ": refused, outside its receiver");
  if (outcome.refusedUntold > 0)
    summary.problems.push_back("and " + plural(outcome.refusedUntold, "more refused call") + " like these");
  return summary;
}

}  // namespace tapsim
