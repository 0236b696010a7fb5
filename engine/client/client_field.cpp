// TField: value access through the owning dataset's current record buffer.
#include "client/client_field.h"

#include <charconv>
#include <cmath>

#include "client/client_dataset.h"
#include "client/field_kinds.h"

namespace zelvo::client {

TField::TField(TClientDataSet* dataset, const FieldDesc& desc)
    : dataset_(dataset), desc_(desc), name_(desc.Name()), kind_(ClientKindOf(desc.type, desc.subtype)) {}

std::uint32_t TField::Size() const {
  if (!KindHasSize(kind_)) return 0;
  if (desc_.type == FT_WIDESTRING) return desc_.units1 / 2;
  return desc_.units1;
}

bool TField::IsBlob() const { return desc_.type == FT_BLOB; }

bool TField::IsNull() const { return dataset_->FieldIsNull(desc_); }

std::string TField::AsString() const { return dataset_->FieldText(desc_); }

std::int64_t TField::AsInteger() const {
  if (IsNull()) return 0;
  const std::string text = AsString();
  switch (kind_) {
    case ClientFieldKind::kBoolean: return text == "True" ? 1 : 0;
    case ClientFieldKind::kFloat:
    case ClientFieldKind::kCurrency:
    case ClientFieldKind::kBcd:
    case ClientFieldKind::kFmtBcd: {
      double v = 0;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
      if (ec == std::errc() && std::isfinite(v) && std::fabs(v) < 9.2e18) {
        return static_cast<std::int64_t>(std::llround(v));
      }
      break;
    }
    default: {
      std::int64_t v = 0;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
      if (ec == std::errc() && end == text.data() + text.size()) return v;
      break;
    }
  }
  dataset_->Raise("'" + text + "' is not a valid integer value");
}

void TField::SetAsString(std::string_view text) { dataset_->WriteFieldText(*this, text); }

void TField::SetAsInteger(std::int64_t value) {
  if (kind_ == ClientFieldKind::kBoolean) {
    dataset_->WriteFieldText(*this, value != 0 ? "True" : "False");
    return;
  }
  dataset_->WriteFieldText(*this, std::to_string(value));
}

void TField::Clear() { dataset_->WriteFieldNull(*this); }

}  // namespace zelvo::client
