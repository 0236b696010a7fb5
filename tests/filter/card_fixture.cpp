// The card fixture of the filter tests: field layout, record values and both record views.
#include "card_fixture.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fields/bcd.h"
#include "fields/dates.h"
#include "fields/record_layout.h"

namespace zelvo::testing {

namespace {

constexpr std::uint32_t kUnfetchable = 99;

// GETDATE in the tests: 2004-01-01 12:00:00.
double FixedNow() { return JoinDateTime(DayNumberOf({2004, 1, 1}), 12 * 3600000); }

FieldDesc Field(const char* name, std::uint32_t type, std::uint32_t units1 = 0,
                std::uint32_t subtype = kSubtypeNone, std::uint32_t units2 = 0) {
  FieldDesc f;
  f.SetName(name);
  f.type = type;
  f.units1 = units1;
  f.units2 = units2;
  f.subtype = subtype;
  return f;
}

template <typename T>
void Put(std::uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof(T));
}

}  // namespace

std::uint32_t MemoStore::Add(std::string text) {
  texts_.push_back(std::move(text));
  return static_cast<std::uint32_t>(texts_.size());
}

DBResult MemoStore::BlobBytes(std::uint32_t handle, const std::uint8_t** data,
                              std::uint32_t* length) const {
  if (handle == 0 || handle > texts_.size()) return DBResult::kBlobHandle;
  const std::string& text = texts_[handle - 1];
  *data = reinterpret_cast<const std::uint8_t*>(text.data());
  *length = static_cast<std::uint32_t>(text.size());
  return DBResult::kOk;
}

CardFixture::CardFixture() {
  fields_ = {
      Field("Name", FT_STRING, 30),
      Field("Fixed", FT_STRING, 8, kSubtypeFixedChar),
      Field("Mana", FT_INT32),
      Field("Power", FT_INT16),
      Field("Price", FT_FLOAT),
      Field("Flying", FT_BOOL),
      Field("Released", FT_DATE),
      Field("Seen", FT_TIME),
      Field("Stamp", FT_DATETIME),
      Field("Text", FT_BLOB, 0, kSubtypeText),
      Field("Big", FT_INT32),
      Field("Word", FT_UINT16),
      Field("Cost", FT_BCD, 8, kSubtypeNone, 2),
      Field("Code", FT_BYTES, 4),
      Field("Serial", FT_INT64),
      Field("When", FT_SQLTIMESTAMP),
      Field("Wide", FT_WIDESTRING, 20),
      Field("Tiny", FT_INT8),
  };
  EXPECT_EQ(ComputeRecordLayout(&fields_, {}, &record_size_), DBResult::kOk);
  filter_fields_ = FilterFieldsOf(fields_);
  FilterField total;
  total.name = "Total";
  total.kind = ClientFieldKind::kInteger;
  total.use = FilterFieldUse::kCalculated;
  filter_fields_.push_back(total);

  using S = std::string;
  using I = std::int64_t;
  Add({{"Name", S("Plains")},
       {"Fixed", S("abc   ")},
       {"Mana", I(0)},
       {"Power", I(0)},
       {"Price", 0.5},
       {"Flying", false},
       {"Released", Date{2003, 5, 17}},
       {"Seen", Time{10, 30, 0}},
       {"Stamp", DateTime{{2003, 5, 17}, {23, 0, 0}}},
       {"Text", Memo{"Add one white mana."}},
       {"Big", I(2)},
       {"Word", I(100)},
       {"Cost", Bcd{"1.50"}},
       {"Code", std::vector<std::uint8_t>{1, 2, 3, 4}},
       {"Serial", I(1)},
       {"When", DateTime{{2003, 5, 17}, {8, 0, 0}}},
       {"Wide", Wide{u"Plains"}},
       {"Tiny", I(-3)}});
  Add({{"Name", S("Island")},
       {"Fixed", S("abcd")},
       {"Mana", I(0)},
       {"Power", I(0)},
       {"Price", 0.25},
       {"Flying", false},
       {"Released", Date{2003, 5, 19}},
       {"Seen", Time{23, 30, 0}},
       {"Text", Memo{"Add one blue mana."}},
       {"Big", I(3)},
       {"Word", I(40000)},
       {"Wide", Wide{u"Island"}}});
  Add({{"Name", S("Mountain")},
       {"Mana", I(1)},
       {"Power", I(0)},
       {"Flying", false},
       {"Text", Memo{"Add one red mana."}},
       {"Big", I(-5)},
       {"Cost", Bcd{"-2.25"}}});
  Add({{"Name", S("Plateau")},
       {"Mana", I(4)},
       {"Power", I(32000)},
       {"Flying", false},
       {"Price", 4.75},
       {"Text", Memo{"Tap: add red or white."}}});
  Add({{"Name", S("Pl")}, {"Mana", I(2)}, {"Flying", true}, {"Text", Memo{""}}});
  Add({{"Name", S("plains")}, {"Mana", I(0)}, {"Flying", false}});
  Add({{"Name", S("Serra Angel")},
       {"Mana", I(5)},
       {"Power", I(4)},
       {"Flying", true},
       {"Released", Date{1993, 8, 5}},
       {"Stamp", DateTime{{1993, 8, 5}, {12, 15, 30, 250}}},
       {"Text", Memo{"Flying, vigilance"}},
       {"Big", I(70000)},
       {"Price", 2.5}});
  Add({{"Name", S("O'Brien")}, {"Mana", I(-1)}, {"Flying", false}});
  Add({{"Name", S("100%")}, {"Mana", I(7)}, {"Text", Memo{"Costs 100% more."}}});
  Add({{"Mana", I(3)}, {"Flying", false}});  // Name is null
  Add({{"Name", S("xPlainsx")}, {"Mana", I(9)}, {"Power", I(-32000)}});
  // A memo whose blob cannot be fetched.
  Add({{"Name", S("Lost Memo")}, {"Mana", I(6)}});
  std::memcpy(records_.back().data() + fields_[9].offset, &kUnfetchable, 4);
  records_.back()[fields_[9].state_offset] = kFieldValue;
}

void CardFixture::Add(const std::map<std::string, Value>& values) {
  std::vector<std::uint8_t> record(record_size_, 0);
  for (const FieldDesc& f : fields_) record[f.state_offset] = kFieldNull;
  for (const auto& [name, value] : values) {
    const FieldDesc* field = nullptr;
    for (const FieldDesc& f : fields_) {
      if (f.Name() == name) field = &f;
    }
    ASSERT_NE(field, nullptr) << name;
    std::uint8_t* p = record.data() + field->offset;
    record[field->state_offset] = kFieldValue;
    std::visit(
        [&](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, std::string>) {
            ASSERT_LT(v.size(), field->length);
            std::memcpy(p, v.data(), v.size());
          } else if constexpr (std::is_same_v<T, std::int64_t>) {
            switch (field->type) {
              case FT_INT16:
                Put(p, static_cast<std::int16_t>(v));
                break;
              case FT_UINT16:
                Put(p, static_cast<std::uint16_t>(v));
                break;
              case FT_INT32:
                Put(p, static_cast<std::int32_t>(v));
                break;
              case FT_INT64:
                Put(p, v);
                break;
              case FT_INT8:
                Put(p, static_cast<std::int8_t>(v));
                break;
              default:
                FAIL() << name;
            }
          } else if constexpr (std::is_same_v<T, double>) {
            Put(p, v);
          } else if constexpr (std::is_same_v<T, bool>) {
            Put(p, static_cast<std::uint16_t>(v ? 1 : 0));
          } else if constexpr (std::is_same_v<T, Date>) {
            Put(p, DayNumberOf({v.year, v.month, v.day}));
          } else if constexpr (std::is_same_v<T, Time>) {
            Put(p, MsOfTime({v.hour, v.minute, v.second, v.ms}));
          } else if constexpr (std::is_same_v<T, DateTime>) {
            const std::int32_t day = DayNumberOf({v.date.year, v.date.month, v.date.day});
            const std::int32_t ms =
                MsOfTime({v.time.hour, v.time.minute, v.time.second, v.time.ms});
            if (field->type == FT_SQLTIMESTAMP) {
              const std::uint16_t parts[6] = {static_cast<std::uint16_t>(v.date.year),
                                              static_cast<std::uint16_t>(v.date.month),
                                              static_cast<std::uint16_t>(v.date.day),
                                              static_cast<std::uint16_t>(v.time.hour),
                                              static_cast<std::uint16_t>(v.time.minute),
                                              static_cast<std::uint16_t>(v.time.second)};
              std::memcpy(p, parts, sizeof(parts));
            } else {
              Put(p, JoinDateTime(day, ms));
            }
          } else if constexpr (std::is_same_v<T, Memo>) {
            Put(p, memos_.Add(v.text));
          } else if constexpr (std::is_same_v<T, Bcd>) {
            ASSERT_EQ(BcdFromText(v.text, field->units1, field->units2, p, field->length),
                      DBResult::kOk);
          } else if constexpr (std::is_same_v<T, Wide>) {
            ASSERT_LE(v.text.size() * 2 + 2, field->length);
            Put(p, static_cast<std::uint16_t>(v.text.size() * 2));
            std::memcpy(p + 2, v.text.data(), v.text.size() * 2);
          } else {
            ASSERT_EQ(v.size(), field->length);
            std::memcpy(p, v.data(), v.size());
          }
        },
        value);
  }
  records_.push_back(std::move(record));
  columns_built_ = false;
}

std::string CardFixture::Label(std::size_t record) const {
  const std::vector<std::uint8_t>& r = records_[record];
  if (r[fields_[0].state_offset] != kFieldValue) return "<null>";
  return std::string(reinterpret_cast<const char*>(r.data() + fields_[0].offset));
}

const RecordRef& CardFixture::Buffer(std::size_t record) {
  if (buffer_ref_ == nullptr) buffer_ref_ = std::make_unique<RecordBufferRef>(fields_);
  return buffer_ref_->Bind(records_[record].data());
}

void CardFixture::BuildColumns() {
  const std::size_t n = records_.size();
  columns_.assign(fields_.size(), {});
  states_.assign(n * fields_.size(), 0);
  bases_.resize(fields_.size());
  strides_.resize(fields_.size());
  for (std::size_t f = 0; f < fields_.size(); ++f) {
    const FieldDesc& field = fields_[f];
    columns_[f].resize(n * field.length + 1);
    for (std::size_t i = 0; i < n; ++i) {
      std::memcpy(columns_[f].data() + i * field.length, records_[i].data() + field.offset,
                  field.length);
      states_[i * fields_.size() + f] = records_[i][field.state_offset];
    }
    bases_[f] = columns_[f].data();
    strides_[f] = field.length;
  }
  column_ref_.bases = bases_.data();
  column_ref_.strides = strides_.data();
  columns_built_ = true;
}

const RecordRef& CardFixture::Column(std::size_t record) {
  if (!columns_built_) BuildColumns();
  column_ref_.index = record;
  column_ref_.states = states_.data() + record * fields_.size();
  return column_ref_;
}

std::vector<std::string> CardFixture::Passing(FilterProgram& program) {
  std::vector<std::string> labels;
  for (std::size_t i = 0; i < records_.size(); ++i) {
    const bool by_buffer = program.Passes(Buffer(i));
    const bool by_column = program.Passes(Column(i));
    EXPECT_EQ(by_buffer, by_column) << "record " << Label(i);
    if (by_buffer) labels.push_back(Label(i));
  }
  return labels;
}

DBResult CardFixture::Compile(const std::string& text, const FilterOptions& options,
                              const FormatSettings& settings,
                              std::unique_ptr<FilterProgram>* program, std::string* message) const {
  std::vector<std::uint8_t> expression;
  DBResult r = ParseFilterText(text, filter_fields_, settings, options, &expression, message);
  if (r != DBResult::kOk) return r;
  FilterCompileOptions compile;
  compile.lcid = 0x0409;
  compile.blobs = &memos_;
  compile.clock = &FixedNow;
  return FilterProgram::Compile(expression, fields_, compile, program);
}

}  // namespace zelvo::testing
