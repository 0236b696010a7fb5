// Filters on a cursor's records, as its filtered ordering sees them: an expression filter
// (a compiled filter expression) or a hook (a function of the table's owner). The filter
// language lives in engine/filter/; the ordering knows only this interface.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "result.h"
#include "table/ordering.h"

namespace zelvo {

class DSBASE;

class RecordFilter {
 public:
  virtual ~RecordFilter() = default;
  // True when the stored record in `slot` passes.
  virtual bool Accepts(std::uint32_t slot) = 0;
  // The canonical expression of an expression filter, null for a hook.
  virtual const std::vector<std::uint8_t>* Expression() const { return nullptr; }
  // A filter of its own doing the same, for a copied cursor.
  virtual DBResult Clone(std::unique_ptr<RecordFilter>* copy) const = 0;
};

// A hook: called with a record buffer of the record; non-zero accepts.
using FilterHookFn = int (*)(void* datum, const std::uint8_t* record);

// Compiles `expression` against `table`'s fields (engine/filter/). kInvalidArgument for a
// damaged block, kFilterNotCompiled for one the table's fields cannot serve.
DBResult NewExpressionFilter(DSBASE* table, const std::uint8_t* expression, std::uint32_t length,
                             std::unique_ptr<RecordFilter>* filter);
std::unique_ptr<RecordFilter> NewHookFilter(DSBASE* table, void* datum, FilterHookFn hook);

// An ordering that holds only the records passing all of its filters.
class FilteredOrdering : public Ordering {
 public:
  // Adds a filter under a new handle (counting from 1) without rebuilding.
  virtual std::uint32_t AddFilter(std::unique_ptr<RecordFilter> filter) = 0;
  // kNoMessage when the handle is not in the list, kWrongState when the list is empty.
  virtual DBResult RemoveFilter(std::uint32_t handle) = 0;
  virtual std::size_t FilterCount() const = 0;
  virtual RecordFilter* FilterAt(std::size_t i) const = 0;
  virtual std::uint32_t HandleAt(std::size_t i) const = 0;
  virtual bool Accepts(std::uint32_t slot) = 0;
  // Takes the key definition `desc` and refills: from `source`'s order when given (the
  // records that pass), else from the store. On failure the old definition stays.
  virtual DBResult RebuildAs(const IndexDesc& desc, const Ordering* source) = 0;
};

// A filtered ordering with the key definition `desc`, empty until rebuilt.
FilteredOrdering* NewFilteredIndex(DSBASE* table, const IndexDesc& desc);

}  // namespace zelvo
