// Expression filters for filtered orderings: a compiled program run on the stored record.
#include <memory>

#include "filter/filter_program.h"
#include "table/dsbase.h"
#include "table/record_filter.h"

namespace zelvo {

namespace {

class ExpressionFilter final : public RecordFilter {
 public:
  ExpressionFilter(DSBASE* table, std::unique_ptr<FilterProgram> program)
      : table_(table), program_(std::move(program)) {}

  bool Accepts(std::uint32_t slot) override {
    return program_->Passes(table_->store().Ref(slot));
  }
  const std::vector<std::uint8_t>* Expression() const override { return &program_->Expression(); }
  DBResult Clone(std::unique_ptr<RecordFilter>* copy) const override {
    const std::vector<std::uint8_t>& e = program_->Expression();
    return NewExpressionFilter(table_, e.data(), static_cast<std::uint32_t>(e.size()), copy);
  }

 private:
  DSBASE* table_;
  std::unique_ptr<FilterProgram> program_;
};

}  // namespace

DBResult NewExpressionFilter(DSBASE* table, const std::uint8_t* expression, std::uint32_t length,
                             std::unique_ptr<RecordFilter>* filter) {
  if (table == nullptr || expression == nullptr || length == 0) return DBResult::kInvalidArgument;
  std::unique_ptr<FilterProgram> program;
  ZELVO_RETURN_IF_ERROR(FilterProgram::Compile(
      {expression, length}, table->store().fields(),
      {.lcid = table->lcid(), .blobs = &table->store().blobs()}, &program));
  *filter = std::make_unique<ExpressionFilter>(table, std::move(program));
  return DBResult::kOk;
}

}  // namespace zelvo
