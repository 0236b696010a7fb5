// An ordering of a table's live records as the table and its cursors see it: an array of
// slot numbers, positions counted from 1. The index classes (engine/index/) implement it;
// the table maintains every ordering on each edit and a cursor walks its active one.
#pragma once

#include <cstdint>
#include <string_view>

#include "ref_counted.h"
#include "result.h"

namespace zelvo {

constexpr std::uint32_t kMaxKeyFields = 16;
constexpr std::string_view kDefaultOrderName = "DEFAULT_ORDER";
constexpr std::string_view kChangeIndexName = "CHANGEINDEX";

// The description of an index, exchanged with the table's owner.
struct IndexDesc {
  char name[32] = {};  // empty means DEFAULT_ORDER
  std::uint32_t field_count = 0;
  std::uint32_t fields[kMaxKeyFields] = {};  // table field numbers, from 1
  std::uint32_t key_length = 0;              // filled in by the engine
  std::uint32_t unique = 0;                  // 0 no; 2 primary key; other values unique
  std::uint32_t descending[kMaxKeyFields] = {};
  std::uint32_t case_insensitive[kMaxKeyFields] = {};

  std::string_view Name() const;
  void SetName(std::string_view name);
  // Same key fields, flags and unique value (names aside).
  bool SameDefinition(const IndexDesc& other) const;
};

enum class OrderingKind : std::uint8_t {
  kPlain = 1,
  kChangeLog = 2,
  kFiltered = 3,
};

class Ordering : public RefCounted {
 public:
  virtual OrderingKind kind() const = 0;
  virtual const IndexDesc& desc() const = 0;
  virtual bool temporary() const = 0;
  // Table-unique id given when the ordering joins the table's list.
  virtual std::uint32_t id() const = 0;
  virtual void set_id(std::uint32_t id) = 0;
  // Grows with every insertion, removal and rebuild; cursors re-validate against it.
  virtual std::uint64_t change_count() const = 0;

  virtual std::uint32_t Count() const = 0;
  // REQUIRES: 1 <= position <= Count().
  virtual std::uint32_t SlotAt(std::uint32_t position) const = 0;
  // The position of a slot by linear search, 0 when it is not in the ordering.
  virtual std::uint32_t PositionOf(std::uint32_t slot) const = 0;

  // Maintenance by the table. Orderings that do not hold a record (filtered ones whose
  // filters refuse it) answer kOk without change.
  virtual DBResult InsertSlot(std::uint32_t slot) = 0;
  virtual DBResult RemoveSlot(std::uint32_t slot) = 0;
  virtual DBResult ReplaceSlot(std::uint32_t old_slot, std::uint32_t new_slot) = 0;
  // Refills the ordering from the table's store.
  virtual DBResult Rebuild() = 0;
  // Takes a new key definition (name kept) and rebuilds; on failure the old one stays.
  virtual DBResult Redefine(const IndexDesc& desc) = 0;
  // Refills from another ordering's records in its order.
  virtual DBResult RebuildFrom(const Ordering* source) = 0;

  // Key search (orderings with key fields). A key is a record buffer whose key fields and
  // their field states are filled. Compares the entry at `position` with the key on the
  // first `fields` key fields and, with a partial length, the next (text) key field's first
  // that many characters: negative, 0 or positive.
  virtual int CompareWithKey(std::uint32_t position, const std::uint8_t* key,
                             std::uint32_t fields, std::uint32_t partial_length) const = 0;
  // The first position whose entry is not less than the key (Count() + 1 when none).
  virtual std::uint32_t FirstNotLess(const std::uint8_t* key, std::uint32_t fields,
                                     std::uint32_t partial_length) const = 0;
  // A position the next keyless insertion goes to (before the record standing there);
  // 0 clears it. Set by a cursor for one insert.
  virtual void SetInsertionHint(std::uint32_t position) = 0;
};

class DSBASE;

// The orderings a table creates for itself, implemented with the index classes.
Ordering* NewIndex(DSBASE* table, const IndexDesc& desc, bool temporary);
Ordering* NewChangeIndex(DSBASE* table);

}  // namespace zelvo
