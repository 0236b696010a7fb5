// Change log chains.
#include "table/change_log.h"

#include <algorithm>

namespace zelvo {

std::uint32_t ChangeLog::OldestVersion(std::uint32_t slot) const {
  // Walk back from the newest entries: each modify entry names the version it replaced.
  std::uint32_t current = slot;
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (it->kind == kChangeModify && it->slot == current) current = it->previous;
  }
  return current;
}

std::vector<std::uint32_t> ChangeLog::VersionsOf(std::uint32_t slot) const {
  std::vector<std::uint32_t> versions = {slot};
  std::uint32_t current = slot;
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (it->kind == kChangeModify && it->slot == current) {
      current = it->previous;
      versions.push_back(current);
    }
  }
  return versions;
}

void ChangeLog::RemoveEntriesOf(const std::vector<std::uint32_t>& slots) {
  auto named = [&](std::uint32_t s) {
    return s != 0 && std::find(slots.begin(), slots.end(), s) != slots.end();
  };
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                [&](const ChangeEntry& e) {
                                  return named(e.slot) || named(e.previous);
                                }),
                 entries_.end());
}

}  // namespace zelvo
