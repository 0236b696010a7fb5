// Client field kind names.
#include "client/field_kinds.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace zelvo::client {
namespace {

using K = ClientFieldKind;
constexpr std::pair<K, std::string_view> kNames[] = {
    {K::kString, "string"},       {K::kFixedString, "fixedchar"}, {K::kWideString, "widestring"},
    {K::kGuid, "guid"},           {K::kSmallint, "smallint"},     {K::kInteger, "integer"},
    {K::kWord, "word"},           {K::kLargeint, "largeint"},     {K::kAutoInc, "autoinc"},
    {K::kBoolean, "boolean"},     {K::kFloat, "float"},           {K::kCurrency, "currency"},
    {K::kBcd, "bcd"},             {K::kFmtBcd, "fmtbcd"},         {K::kDate, "date"},
    {K::kTime, "time"},           {K::kDateTime, "datetime"},     {K::kTimeStamp, "timestamp"},
    {K::kBytes, "bytes"},         {K::kVarBytes, "varbytes"},     {K::kMemo, "memo"},
    {K::kBlob, "blob"},           {K::kFmtMemo, "fmtmemo"},       {K::kGraphic, "graphic"},
    {K::kTypedBinary, "typedbinary"},
    // Kinds a loaded file may have but create does not offer.
    {K::kParadoxOle, "paradoxole"}, {K::kDBaseOle, "dbaseole"},   {K::kOraClob, "oraclob"},
    {K::kOraBlob, "orablob"},     {K::kStruct, "adt"},            {K::kArray, "array"},
    {K::kReference, "reference"}, {K::kDataSet, "dataset"},       {K::kUnknown, "unknown"},
};

}  // namespace

std::string_view KindName(ClientFieldKind kind) {
  for (const auto& [k, name] : kNames) {
    if (k == kind) return name;
  }
  return "unknown";
}

std::optional<ClientFieldKind> KindOfName(std::string_view name) {
  for (const auto& [k, known] : kNames) {
    if (known.size() == name.size() &&
        std::equal(known.begin(), known.end(), name.begin(), [](char a, char b) {
          return a == std::tolower(static_cast<unsigned char>(b));
        })) {
      if (k == K::kUnknown || k == K::kStruct || k == K::kArray || k == K::kReference ||
          k == K::kDataSet) {
        return std::nullopt;
      }
      return k;
    }
  }
  return std::nullopt;
}

bool KindHasSize(ClientFieldKind kind) {
  switch (kind) {
    case K::kString: case K::kFixedString: case K::kWideString: case K::kGuid:
    case K::kBytes: case K::kVarBytes: case K::kBcd: case K::kFmtBcd:
      return true;
    default:
      return false;
  }
}

bool KindIsText8(ClientFieldKind kind) {
  switch (kind) {
    case K::kString: case K::kFixedString: case K::kGuid: case K::kMemo: case K::kFmtMemo:
    case K::kOraClob:
      return true;
    default:
      return false;
  }
}

bool KindIsBlob(ClientFieldKind kind) {
  switch (kind) {
    case K::kMemo: case K::kBlob: case K::kFmtMemo: case K::kGraphic: case K::kParadoxOle:
    case K::kDBaseOle: case K::kTypedBinary: case K::kOraClob: case K::kOraBlob:
      return true;
    default:
      return false;
  }
}

bool KindIsBinary(ClientFieldKind kind) {
  return kind == K::kBytes || kind == K::kVarBytes || (KindIsBlob(kind) && !KindIsText8(kind));
}

}  // namespace zelvo::client
