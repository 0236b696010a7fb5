// Field definitions of a table to be created (TClientDataSet::CreateDataSet), and the
// description of an open table's fields.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fields/field_types.h"

namespace zelvo::client {

struct TFieldDef {
  std::string name;
  ClientFieldKind kind = ClientFieldKind::kString;
  // Characters (strings), bytes (bytes fields) or digits (BCD precision); 0 otherwise.
  std::uint32_t size = 0;
  std::uint32_t scale = 0;  // BCD decimal places
  bool required = false;
};

class TFieldDefs {
 public:
  void Add(std::string name, ClientFieldKind kind, std::uint32_t size = 0, bool required = false,
           std::uint32_t scale = 0) {
    defs_.push_back({std::move(name), kind, size, scale, required});
  }
  void Clear() { defs_.clear(); }
  std::size_t Count() const { return defs_.size(); }
  const TFieldDef& operator[](std::size_t i) const { return defs_[i]; }
  const std::vector<TFieldDef>& Items() const { return defs_; }

 private:
  std::vector<TFieldDef> defs_;
};

}  // namespace zelvo::client
