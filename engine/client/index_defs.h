// Index definitions kept by a TClientDataSet: the client's list, from which named orderings
// are defined in the engine when they are first selected.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelvo::client {

enum IndexOption : std::uint32_t {
  ixPrimary = 0x01,
  ixUnique = 0x02,
  ixDescending = 0x04,
  ixCaseInsensitive = 0x08,
};

struct TIndexDef {
  std::string name;
  std::string fields;            // field names separated by ';'
  std::uint32_t options = 0;     // IndexOption bits
  std::string desc_fields;       // fields that are descending ('' = by options)
  std::string case_ins_fields;   // fields that ignore case ('' = by options)
  std::uint32_t grouping_level = 0;
};

class TIndexDefs {
 public:
  std::size_t Count() const { return defs_.size(); }
  const TIndexDef& operator[](std::size_t i) const { return defs_[i]; }
  void Add(TIndexDef def) { defs_.push_back(std::move(def)); }
  // REQUIRES: i < Count().
  void Delete(std::size_t i) { defs_.erase(defs_.begin() + static_cast<std::ptrdiff_t>(i)); }
  void Clear() { defs_.clear(); }
  // The definition of that name (letter case significant, as the engine compares index
  // names), or null.
  const TIndexDef* FindIndex(const std::string& name) const {
    for (const TIndexDef& d : defs_) {
      if (d.name == name) return &d;
    }
    return nullptr;
  }
  void Assign(const TIndexDefs& other) { defs_ = other.defs_; }

 private:
  std::vector<TIndexDef> defs_;
};

}  // namespace zelvo::client
