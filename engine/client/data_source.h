// TDataSource: what bound controls (a grid, a memo) hear from a TClientDataSet. No GUI
// dependency: a control or a test installs a handler.
#pragma once

#include <functional>

namespace zelvo::client {

class TClientDataSet;
class TField;

enum class DataEvent {
  kDataSetChanged,  // the whole table: opened, filtered, re-ordered, posted, deleted
  kRecordChanged,   // another record became current
  kFieldChanged,    // one field of the current record was written (field given)
  kStateChanged,    // browse / edit / insert / inactive
  kBeforePost,      // a post is about to happen: controls write their pending edits
};

class TDataSource {
 public:
  TDataSource() = default;
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  // Binds to `dataset` (null unbinds). The dataset must outlive the binding or unbind first.
  void SetDataSet(TClientDataSet* dataset);
  TClientDataSet* DataSet() const { return dataset_; }

  // Called for every notification; `field` is set for kFieldChanged only.
  std::function<void(DataEvent event, const TField* field)> OnEvent;

 private:
  friend class TClientDataSet;
  TClientDataSet* dataset_ = nullptr;
};

}  // namespace zelvo::client
