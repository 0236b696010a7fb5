// The change log: one entry per logged insert, modification and delete, oldest first.
#pragma once

#include <cstdint>
#include <vector>

namespace zelvo {

enum ChangeKind : std::uint32_t {
  kChangeSkip = 0,
  kChangeDelete = 2,
  kChangeInsert = 4,
  kChangeModify = 8,
  kChangeDetail = 0x40,
};

struct ChangeEntry {
  std::uint32_t slot = 0;       // the version the change produced (for a delete, the slot)
  std::uint32_t previous = 0;   // for a modification, the version it replaced
  std::uint32_t kind = 0;
};

class ChangeLog {
 public:
  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }
  const std::vector<ChangeEntry>& entries() const { return entries_; }
  void Append(const ChangeEntry& e) { entries_.push_back(e); }
  void PopNewest() { entries_.pop_back(); }
  void Clear() { entries_.clear(); }
  // Removes every entry that names `slot` as the version it produced or replaced.
  void RemoveEntriesOf(const std::vector<std::uint32_t>& slots);

  // The oldest version of the record whose version is `slot` (the slot itself when it was
  // never modified while logging).
  std::uint32_t OldestVersion(std::uint32_t slot) const;
  // Every version of the record whose newest version is `slot`, newest first.
  std::vector<std::uint32_t> VersionsOf(std::uint32_t slot) const;

 private:
  std::vector<ChangeEntry> entries_;
};

}  // namespace zelvo
