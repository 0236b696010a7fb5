// The filter compiler: reads a canonical expression (checking every offset and size, since
// the block may come from anywhere), resolves fields by name, applies the coercion step and
// the operation and function tables, and lays out the program's value areas.
#include <unicode/ucol.h>
#include <unicode/uset.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <new>

#include "filter/canonical_expr.h"
#include "filter/filter_internal.h"

namespace zelvo {

namespace {

// A canonical expression from our parser nests at most about a thousand levels; anything
// deeper, or a block whose nodes are shared so often that it would unfold past this many
// nodes, is refused as damaged.
constexpr int kMaxCompileDepth = 1100;
constexpr std::uint32_t kMaxCompiledNodes = 16384;

struct Operand {
  std::uint16_t slot = kNoSlot;
  ValueType type = FT_UNKNOWN;
  std::uint32_t width = 0;
  bool constant = false;
  const FieldDesc* field = nullptr;
};

bool IsNumeric(ValueType t) {
  return t == FT_INT16 || t == FT_INT32 || t == FT_FLOAT || t == FT_BCD || t == FT_FMTBCD;
}
bool IsBcd(ValueType t) { return t == FT_BCD || t == FT_FMTBCD; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

bool IsPrintableAscii(const std::uint8_t* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] < 0x20 || text[i] > 0x7E) return false;
  }
  return true;
}

// Whether the locale's collation leaves printable ASCII as the root collation orders it,
// where distinct ASCII texts never collate equal (every such character has its own weights,
// and there are no contractions). A tailoring that touches ASCII turns the shortcut off.
bool AsciiIsExact(const std::string& locale_name) {
  static std::mutex mu;
  static auto* cache = new std::map<std::string, bool>;
  std::lock_guard<std::mutex> lock(mu);
  auto found = cache->find(locale_name);
  if (found != cache->end()) return found->second;
  bool exact = false;
  UErrorCode status = U_ZERO_ERROR;
  UCollator* collator = ucol_open(locale_name.c_str(), &status);
  if (U_SUCCESS(status) && collator != nullptr) {
    USet* tailored = ucol_getTailoredSet(collator, &status);
    if (U_SUCCESS(status) && tailored != nullptr) {
      exact = true;
      const std::int32_t items = uset_getItemCount(tailored);
      for (std::int32_t i = 0; i < items && exact; ++i) {
        UChar32 start = 0;
        UChar32 end = 0;
        UChar text[64];
        UErrorCode item_status = U_ZERO_ERROR;
        const std::int32_t len = uset_getItem(tailored, i, &start, &end, text, 64, &item_status);
        if (len == 0) {
          exact = !(start <= 0x7E && end >= 0x20);
        } else {
          for (std::int32_t k = 0; k < len && k < 64; ++k) {
            if (text[k] >= 0x20 && text[k] <= 0x7E) exact = false;
          }
          if (U_FAILURE(item_status)) exact = false;
        }
      }
      uset_close(tailored);
    }
  }
  if (collator != nullptr) ucol_close(collator);
  cache->emplace(locale_name, exact);
  return exact;
}

// The coercion step on types alone: the types the two operands take.
void CoercedTypes(ValueType ta, ValueType tb, ValueType* ra, ValueType* rb) {
  *ra = ta;
  *rb = tb;
  if (IsNumeric(ta) && IsNumeric(tb) && (ta != tb || IsBcd(ta) || IsBcd(tb))) {
    *ra = *rb = FT_FLOAT;
  } else if ((ta == FT_TIME && tb == FT_DATETIME) || (ta == FT_DATETIME && tb == FT_TIME)) {
    *ra = *rb = FT_TIME;
  } else if ((ta == FT_DATE && tb == FT_DATETIME) || (ta == FT_DATETIME && tb == FT_DATE)) {
    *ra = *rb = FT_DATETIME;
  } else if ((ta == FT_DATE && tb == FT_SQLTIMESTAMP) || (ta == FT_SQLTIMESTAMP && tb == FT_DATE)) {
    *ra = *rb = FT_SQLTIMESTAMP;
  } else if ((ta == FT_WIDESTRING && tb == FT_STRING) || (ta == FT_STRING && tb == FT_WIDESTRING)) {
    *ra = *rb = FT_WIDESTRING;
  }
}

class Compiler {
 public:
  Compiler(std::span<const FieldDesc> fields, const FilterCompileOptions& options,
           FilterProgram::Impl* program)
      : fields_(fields), options_(options), p_(program) {}

  DBResult Run();

 private:
  // Reading the block.
  DBResult ReadNode(std::uint32_t offset, std::uint32_t* node_class, std::uint32_t* op,
                    std::uint16_t operands[4]) const;
  DBResult LiteralText(std::uint32_t offset, std::string* text) const;

  DBResult Node(std::uint32_t offset, int depth, Operand* out);
  DBResult FieldOperand(const std::string& name, Operand* out);
  DBResult FieldSlot(std::uint32_t field_index, Load load, Operand* out);
  DBResult ConstOperand(std::uint32_t type, std::uint32_t size, std::uint32_t offset, Operand* out);
  DBResult Unary(std::uint32_t op, const Operand& a, Operand* out);
  DBResult Binary(std::uint32_t op, Operand a, Operand b, std::uint8_t ci, std::uint32_t partial,
                  Operand* out);
  DBResult In(Operand tested, std::vector<Operand> items, Operand* out);
  DBResult Function(const std::string& name, std::vector<Operand> args, Operand* out);

  // Coercion and conversions.
  DBResult Coerce(Operand* a, Operand* b);
  DBResult Convert(Operand* x, ValueType to);
  DBResult ToFloat(Operand* x);

  // Slots and instructions.
  std::uint16_t NewSlot(ValueType type, std::uint32_t width, std::string label,
                        std::int64_t arena_offset);
  std::size_t Reserve(std::uint32_t bytes);
  DBResult Result(ValueType type, std::uint32_t width, Operand* out);
  Instr& Emit(Op op, const Operand& a, const Operand* b, const Operand& result);
  DBResult FuseEqualities();

  std::span<const FieldDesc> fields_;
  const FilterCompileOptions& options_;
  FilterProgram::Impl* p_;
  std::uint32_t node_start_ = 0;
  std::uint32_t literal_start_ = 0;
  std::uint32_t total_ = 0;
  std::uint32_t visited_ = 0;
  std::vector<std::uint8_t> arena_;            // value areas while compiling
  std::vector<std::int64_t> slot_offset_;      // arena offset of each slot, -1 for fields
  std::vector<bool> slot_info_type_constant_;  // constant text slots
  std::vector<std::int64_t> scratch_offset_;   // per converted field load
  std::vector<FieldLoad> pending_loads_;       // kept when some instruction reads the slot
  std::uint32_t results_ = 0;                  // results named so far
  std::vector<std::int64_t> out_offset_;       // per instruction
  std::map<std::pair<std::uint32_t, ValueType>, std::uint16_t> field_slots_;  // field, type -> slot
};

DBResult Compiler::ReadNode(std::uint32_t offset, std::uint32_t* node_class, std::uint32_t* op,
                            std::uint16_t operands[4]) const {
  const std::uint32_t at = node_start_ + offset;
  if (at + 8 > literal_start_) return DBResult::kInvalidArgument;
  const std::uint8_t* base = p_->expression.data() + at;
  *node_class = LoadAs<std::uint32_t>(base);
  *op = LoadAs<std::uint32_t>(base + 4);
  const std::uint32_t count = NodeOperandCount(*node_class);
  if (count == 0 || at + NodeRecordSize(*node_class) > literal_start_) {
    return DBResult::kInvalidArgument;
  }
  for (std::uint32_t i = 0; i < count; ++i) operands[i] = LoadAs<std::uint16_t>(base + 8 + 2 * i);
  return DBResult::kOk;
}

DBResult Compiler::LiteralText(std::uint32_t offset, std::string* text) const {
  const std::uint32_t at = literal_start_ + offset;
  if (at >= total_) return DBResult::kInvalidArgument;
  const std::uint8_t* begin = p_->expression.data() + at;
  const auto* zero = static_cast<const std::uint8_t*>(std::memchr(begin, 0, total_ - at));
  if (zero == nullptr) return DBResult::kInvalidArgument;
  text->assign(reinterpret_cast<const char*>(begin), static_cast<std::size_t>(zero - begin));
  return DBResult::kOk;
}

DBResult Compiler::Run() {
  const std::vector<std::uint8_t>& e = p_->expression;
  if (e.size() < kCanonicalHeaderSize) return DBResult::kInvalidArgument;
  const auto version = LoadAs<std::uint16_t>(e.data());
  total_ = LoadAs<std::uint16_t>(e.data() + 2);
  node_start_ = LoadAs<std::uint16_t>(e.data() + 6);
  literal_start_ = LoadAs<std::uint16_t>(e.data() + 8);
  if (version != kCanonicalVersion || total_ > e.size() || node_start_ < kCanonicalHeaderSize ||
      node_start_ > literal_start_ || literal_start_ > total_) {
    return DBResult::kInvalidArgument;
  }
  p_->collation = &Collation::For(options_.lcid, false);
  p_->collation_ci = &Collation::For(options_.lcid, true);
  p_->ascii_exact = AsciiIsExact(p_->collation->LocaleName());
  p_->blobs = options_.blobs;
  p_->clock = options_.clock;

  Operand root;
  ZELVO_RETURN_IF_ERROR(Node(0, 0, &root));
  if (root.type != FT_BOOL) return DBResult::kFilterNotCompiled;
  p_->root = root.slot;

  ZELVO_RETURN_IF_ERROR(FuseEqualities());

  // Fields are read only where an instruction (or the root) uses them: a field that is only
  // used converted is read once, converted.
  std::vector<bool> used(p_->slots.size(), false);
  used[root.slot] = true;
  for (const Instr& in : p_->program) {
    for (std::uint16_t slot : {in.a, in.b, in.c}) {
      if (slot != kNoSlot) used[slot] = true;
    }
  }
  for (const InList& list : p_->lists) {
    for (std::uint16_t slot : list.items) used[slot] = true;
  }
  for (const FieldLoad& load : pending_loads_) {
    if (!used[load.slot]) continue;
    if (load.load == Load::kDirect) {
      p_->loads.push_back(load);
    } else {
      p_->converted_loads.push_back(load);
      scratch_offset_.push_back(static_cast<std::int64_t>(Reserve(8)));
    }
  }

  // Lay out the value areas: constants keep their bytes, results and scratch start zeroed.
  p_->arena.assign((arena_.size() + 7) / 8 + 1, 0);
  auto* base = reinterpret_cast<std::uint8_t*>(p_->arena.data());
  std::memcpy(base, arena_.data(), arena_.size());
  for (std::size_t i = 0; i < p_->slots.size(); ++i) {
    if (slot_offset_[i] >= 0) p_->slots[i].data = base + slot_offset_[i];
  }
  for (std::size_t i = 0; i < p_->converted_loads.size(); ++i) {
    p_->converted_loads[i].scratch = base + scratch_offset_[i];
  }
  for (std::size_t i = 0; i < p_->program.size(); ++i) p_->program[i].out = base + out_offset_[i];
  std::uint32_t widest = 16;
  for (const FieldDesc& f : fields_) widest = std::max(widest, f.length + 8);
  p_->zeros.assign(widest, 0);
  // A slot of zeros stands for absent operands.
  const auto none = static_cast<std::uint16_t>(p_->slots.size());
  p_->slots.emplace_back();
  p_->slots.back().data = p_->zeros.data();
  p_->slot_info.push_back({FT_UNKNOWN, 0, "none"});
  for (Instr& in : p_->program) {
    in.sa = &p_->slots[in.a == kNoSlot ? none : in.a];
    in.sb = &p_->slots[in.b == kNoSlot ? none : in.b];
    in.sc = &p_->slots[in.c == kNoSlot ? none : in.c];
    in.sr = &p_->slots[in.r];
  }
  // Constant texts are measured once (the slot of zeros is no constant).
  for (std::size_t i = 0; i < slot_info_type_constant_.size(); ++i) {
    if (slot_info_type_constant_[i]) {
      Slot& slot = p_->slots[i];
      slot.length = static_cast<std::uint32_t>(
          ::strnlen(reinterpret_cast<const char*>(slot.data), p_->slot_info[i].width));
      slot.ascii = IsPrintableAscii(slot.data, slot.length) ? kAsciiYes : kAsciiNo;
    }
  }
  std::uint32_t widest_slot = 2;
  for (const SlotInfo& info : p_->slot_info) widest_slot = std::max(widest_slot, info.width);
  p_->wide_a.assign(widest_slot / 2 + 1, 0);
  p_->wide_b.assign(widest_slot / 2 + 1, 0);
  return DBResult::kOk;
}

std::size_t Compiler::Reserve(std::uint32_t bytes) {
  const std::size_t at = (arena_.size() + 7) & ~std::size_t{7};
  arena_.resize(at + std::max<std::uint32_t>(bytes, 8), 0);
  return at;
}

std::uint16_t Compiler::NewSlot(ValueType type, std::uint32_t width, std::string label,
                                std::int64_t arena_offset) {
  p_->slots.emplace_back();
  p_->slot_info.push_back({type, width, std::move(label)});
  slot_offset_.push_back(arena_offset);
  slot_info_type_constant_.push_back(false);
  return static_cast<std::uint16_t>(p_->slots.size() - 1);
}

DBResult Compiler::Result(ValueType type, std::uint32_t width, Operand* out) {
  if (p_->slots.size() >= kNoSlot - 1) return DBResult::kInvalidArgument;
  out->type = type;
  out->width = width;
  out->constant = false;
  out->field = nullptr;
  const std::int64_t at = static_cast<std::int64_t>(Reserve(width));
  std::string label(1, 'r');
  label += std::to_string(results_++);
  out->slot = NewSlot(type, width, std::move(label), at);
  return DBResult::kOk;
}

// (Name = 'Plains') OR (Name = 'Island') OR ...: the equality tests of one text field
// against constants in an OR chain become one instruction, which compares the field's first
// word with each constant's. It computes exactly the OR of the tests it replaces.
DBResult Compiler::FuseEqualities() {
  for (std::size_t at = 0; at < p_->program.size(); ++at) {
    if (p_->program[at].op != Op::kOrN) continue;
    std::vector<std::uint16_t>& items = p_->lists[p_->program[at].aux].items;
    // Group the items made by fast constant equality tests by the field they test.
    std::map<std::uint16_t, std::vector<std::size_t>> by_field;  // field slot -> instructions
    for (std::uint16_t item : items) {
      for (std::size_t i = 0; i < at; ++i) {
        const Instr& in = p_->program[i];
        if (in.r != item) continue;
        if (in.op == Op::kCmpString && in.cond == kCondEq && (in.flags & kFlagFastBytes) &&
            in.fast_mask != 0 && in.partial == 0 && slot_offset_[in.a] < 0) {
          by_field[in.a].push_back(i);
        }
        break;
      }
    }
    std::vector<std::size_t> fused;
    for (const auto& [field_slot, tests] : by_field) {
      if (tests.size() < 2) continue;
      TextChoices choices;
      const Instr first = p_->program[tests[0]];
      for (std::size_t i : tests) {
        const Instr& in = p_->program[i];
        const std::uint8_t* text = arena_.data() + slot_offset_[in.b];
        const std::size_t length = ::strnlen(reinterpret_cast<const char*>(text), in.b_width);
        choices.constants.push_back(in.b);
        choices.words.push_back(in.fast_word);
        choices.masks.push_back(in.fast_mask);
        choices.all_ascii = choices.all_ascii && IsPrintableAscii(text, length);
        items.erase(std::find(items.begin(), items.end(), in.r));
        fused.push_back(i);
      }
      p_->choices.push_back(std::move(choices));
      Operand a;
      a.slot = field_slot;
      a.width = first.a_width;
      Operand result;
      ZELVO_RETURN_IF_ERROR(Result(FT_BOOL, 2, &result));
      Instr in = first;
      in.op = Op::kEqAnyText;
      in.b = kNoSlot;
      in.r = result.slot;
      in.r_width = 2;
      in.aux = static_cast<std::uint32_t>(p_->choices.size() - 1);
      // Placed right before the OR; the tests it replaces are removed below.
      p_->program.insert(p_->program.begin() + static_cast<std::ptrdiff_t>(at), in);
      out_offset_.insert(out_offset_.begin() + static_cast<std::ptrdiff_t>(at),
                         slot_offset_[result.slot]);
      ++at;
      items.push_back(result.slot);
    }
    std::sort(fused.rbegin(), fused.rend());
    for (std::size_t i : fused) {
      p_->program.erase(p_->program.begin() + static_cast<std::ptrdiff_t>(i));
      out_offset_.erase(out_offset_.begin() + static_cast<std::ptrdiff_t>(i));
      --at;
    }
  }
  return DBResult::kOk;
}

Instr& Compiler::Emit(Op op, const Operand& a, const Operand* b, const Operand& result) {
  Instr in;
  in.op = op;
  in.a = a.slot;
  in.a_width = a.width;
  if (b != nullptr) {
    in.b = b->slot;
    in.b_width = b->width;
  }
  in.r = result.slot;
  in.r_width = result.width;
  p_->program.push_back(in);
  out_offset_.push_back(slot_offset_[result.slot]);
  return p_->program.back();
}

DBResult Compiler::Node(std::uint32_t offset, int depth, Operand* out) {
  if (depth > kMaxCompileDepth || ++visited_ > kMaxCompiledNodes) {
    return DBResult::kInvalidArgument;
  }
  std::uint32_t node_class = 0;
  std::uint32_t op = 0;
  std::uint16_t v[4] = {};
  ZELVO_RETURN_IF_ERROR(ReadNode(offset, &node_class, &op, v));
  switch (node_class) {
    case kFieldNode: {
      std::string name;
      ZELVO_RETURN_IF_ERROR(LiteralText(v[1], &name));
      return FieldOperand(name, out);
    }
    case kConstNode:
      return ConstOperand(v[0], v[1], v[2], out);
    case kUnaryNode: {
      Operand a;
      ZELVO_RETURN_IF_ERROR(Node(v[0], depth + 1, &a));
      return Unary(op, a, out);
    }
    case kBinaryNode:
    case kCompareNode: {
      const bool compare = node_class == kCompareNode;
      Operand a;
      Operand b;
      ZELVO_RETURN_IF_ERROR(Node(compare ? v[2] : v[0], depth + 1, &a));
      if (op == kOpIn) {
        std::vector<Operand> items;
        for (std::uint32_t element = v[1]; element != 0 || items.empty();) {
          std::uint32_t element_class = 0;
          std::uint32_t element_op = 0;
          std::uint16_t e[4] = {};
          if (++visited_ > kMaxCompiledNodes) return DBResult::kInvalidArgument;
          ZELVO_RETURN_IF_ERROR(ReadNode(element, &element_class, &element_op, e));
          if (element_class != kListElemNode) return DBResult::kInvalidArgument;
          items.emplace_back();
          ZELVO_RETURN_IF_ERROR(Node(e[0], depth + 1, &items.back()));
          element = e[1];
        }
        return In(a, std::move(items), out);
      }
      ZELVO_RETURN_IF_ERROR(Node(compare ? v[3] : v[1], depth + 1, &b));
      return Binary(op, a, b, compare ? static_cast<std::uint8_t>(v[0] != 0) : 0,
                    compare ? v[1] : 0, out);
    }
    case kFuncNode: {
      std::string name;
      ZELVO_RETURN_IF_ERROR(LiteralText(v[0], &name));
      std::vector<Operand> args;
      for (std::uint32_t element = v[1]; element != 0;) {
        std::uint32_t element_class = 0;
        std::uint32_t element_op = 0;
        std::uint16_t e[4] = {};
        if (++visited_ > kMaxCompiledNodes) return DBResult::kInvalidArgument;
        ZELVO_RETURN_IF_ERROR(ReadNode(element, &element_class, &element_op, e));
        if (element_class != kListElemNode) return DBResult::kInvalidArgument;
        // At most three arguments are used; the rest are not compiled.
        if (args.size() < 3) {
          args.emplace_back();
          ZELVO_RETURN_IF_ERROR(Node(e[0], depth + 1, &args.back()));
        }
        element = e[1];
      }
      return Function(name, std::move(args), out);
    }
    default:
      return DBResult::kInvalidArgument;  // a list element where an operand belongs
  }
}

DBResult Compiler::FieldOperand(const std::string& name, Operand* out) {
  // The name as a whole first (array element copies carry names such as "Colors[0]"), then
  // part by part through structures.
  std::int64_t index = -1;
  for (std::size_t i = 0; i < fields_.size() && index < 0; ++i) {
    if (EqualsNoCase(fields_[i].Name(), name)) index = static_cast<std::int64_t>(i);
  }
  if (index < 0 && name.find('.') != std::string::npos) {
    std::uint16_t parent = 0;
    std::size_t start = 0;
    while (start <= name.size()) {
      std::size_t dot = name.find('.', start);
      if (dot == std::string::npos) dot = name.size();
      const std::string_view part(name.data() + start, dot - start);
      index = -1;
      for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].parent_number == parent && EqualsNoCase(fields_[i].Name(), part)) {
          index = static_cast<std::int64_t>(i);
          break;
        }
      }
      if (index < 0) break;
      parent = fields_[static_cast<std::size_t>(index)].field_number;
      start = dot + 1;
    }
  }
  if (index < 0) return DBResult::kFilterNotCompiled;
  const auto field_index = static_cast<std::uint32_t>(index);
  const FieldDesc& field = fields_[field_index];

  ValueType type = field.type;
  Load load = Load::kDirect;
  std::uint32_t width = field.length;
  switch (field.type) {
    case FT_UINT16:
      type = FT_INT32;
      load = Load::kUInt16;
      width = 4;
      break;
    case FT_UINT32:
      type = FT_FLOAT;
      load = Load::kUInt32;
      width = 8;
      break;
    case FT_INT8:
      type = FT_INT16;
      load = Load::kInt8;
      width = 2;
      break;
    case FT_UINT8:
      type = FT_INT16;
      load = Load::kUInt8;
      width = 2;
      break;
    case FT_BOOL8:
      type = FT_BOOL;
      load = Load::kBool8;
      width = 2;
      break;
    case FT_BOOL32:
      type = FT_BOOL;
      load = Load::kBool32;
      width = 2;
      break;
    case FT_INT64:
      type = FT_FLOAT;
      load = Load::kInt64;
      width = 8;
      break;
    case FT_UINT64:
      type = FT_FLOAT;
      load = Load::kUInt64;
      width = 8;
      break;
    case FT_STRING:
    case FT_DATE:
    case FT_BLOB:
    case FT_BOOL:
    case FT_INT16:
    case FT_INT32:
    case FT_FLOAT:
    case FT_BCD:
    case FT_BYTES:
    case FT_TIME:
    case FT_DATETIME:
    case FT_SQLTIMESTAMP:
    case FT_FMTBCD:
    case FT_WIDESTRING:
      break;
    default:
      type = FT_UNKNOWN;  // only null tests apply
      break;
  }
  if (type == FT_WIDESTRING && width < 2) type = FT_UNKNOWN;
  out->type = type;
  out->width = width;
  out->constant = false;
  out->field = &field;
  return FieldSlot(field_index, load, out);
}

// The slot of a field read one way; each field and reading gets one slot and one load.
DBResult Compiler::FieldSlot(std::uint32_t field_index, Load load, Operand* out) {
  const auto key = std::make_pair(field_index, out->type);
  auto found = field_slots_.find(key);
  if (found != field_slots_.end()) {
    out->slot = found->second;
    return DBResult::kOk;
  }
  if (p_->slots.size() >= kNoSlot - 1) return DBResult::kInvalidArgument;
  out->slot = NewSlot(out->type, out->width, std::string(fields_[field_index].Name()), -1);
  field_slots_.emplace(key, out->slot);
  FieldLoad fl;
  fl.field = field_index;
  fl.slot = out->slot;
  fl.load = load;
  pending_loads_.push_back(fl);
  return DBResult::kOk;
}

DBResult Compiler::ConstOperand(std::uint32_t type, std::uint32_t size, std::uint32_t offset,
                                Operand* out) {
  const std::uint32_t at = literal_start_ + offset;
  if (at > total_ || size > total_ - at) return DBResult::kInvalidArgument;
  const std::uint8_t* value = p_->expression.data() + at;
  std::uint32_t expected = 0;
  ValueType slot_type = type;
  switch (type) {
    case FT_STRING:
      if (size == 0 || std::memchr(value, 0, size) == nullptr) return DBResult::kInvalidArgument;
      expected = size;
      break;
    case FT_INT16:
    case FT_BOOL:
      expected = 2;
      break;
    case FT_UINT16:
      // A word constant is compared as the widened word field is read: as INT32.
      expected = 2;
      slot_type = FT_INT32;
      break;
    case FT_INT32:
    case FT_DATE:
    case FT_TIME:
      expected = 4;
      break;
    case FT_FLOAT:
    case FT_DATETIME:
      expected = 8;
      break;
    case FT_BCD:
    case FT_FMTBCD:
      if (size < 2 || size > 34) return DBResult::kInvalidArgument;
      expected = size;
      break;
    case FT_SQLTIMESTAMP:
      expected = 16;
      break;
    default:
      return DBResult::kFilterNotCompiled;
  }
  // The value is read only once its size is known to be right.
  if (size != expected) return DBResult::kInvalidArgument;
  std::string label;
  switch (type) {
    case FT_STRING:
      label.assign(1, '\'');
      label.append(reinterpret_cast<const char*>(value));
      label.push_back('\'');
      break;
    case FT_INT16:
      label = std::to_string(LoadAs<std::int16_t>(value));
      break;
    case FT_UINT16:
      label = std::to_string(LoadAs<std::uint16_t>(value));
      break;
    case FT_BOOL:
      label = LoadAs<std::uint16_t>(value) ? "true" : "false";
      break;
    case FT_INT32:
    case FT_DATE:
    case FT_TIME:
      label = std::to_string(LoadAs<std::int32_t>(value));
      break;
    case FT_FLOAT:
    case FT_DATETIME:
      label = std::to_string(LoadAs<double>(value));
      break;
    case FT_SQLTIMESTAMP:
      label = "timestamp";
      break;
    default:
      label = "bcd";
      break;
  }

  std::uint32_t width = size;
  const std::size_t area = Reserve(std::max<std::uint32_t>(size, 8));
  if (type == FT_UINT16) {
    StoreAs<std::int32_t>(arena_.data() + area, LoadAs<std::uint16_t>(value));
    width = 4;
  } else {
    std::memcpy(arena_.data() + area, value, size);
  }
  if (p_->slots.size() >= kNoSlot - 1) return DBResult::kInvalidArgument;
  out->slot = NewSlot(slot_type, width, label, static_cast<std::int64_t>(area));
  slot_info_type_constant_[out->slot] = slot_type == FT_STRING;
  out->type = slot_type;
  out->width = width;
  out->constant = true;
  out->field = nullptr;
  return DBResult::kOk;
}

DBResult Compiler::Unary(std::uint32_t op, const Operand& a, Operand* out) {
  if (op == kOpIsBlank || op == kOpNotBlank) {
    ZELVO_RETURN_IF_ERROR(Result(FT_BOOL, 2, out));
    Emit(op == kOpIsBlank ? Op::kIsNull : Op::kNotNull, a, nullptr, *out);
    return DBResult::kOk;
  }
  if (op != kOpNot || a.type != FT_BOOL) return DBResult::kFilterNotCompiled;
  ZELVO_RETURN_IF_ERROR(Result(FT_BOOL, 2, out));
  Emit(Op::kNot, a, nullptr, *out);
  return DBResult::kOk;
}

DBResult Compiler::ToFloat(Operand* x) {
  return x->type == FT_FLOAT ? DBResult::kOk : Convert(x, FT_FLOAT);
}

DBResult Compiler::Convert(Operand* x, ValueType to) {
  if (x->field != nullptr && to == FT_FLOAT &&
      (x->field->type == FT_INT32 || x->field->type == FT_INT16) && x->type == x->field->type) {
    // A field read as a float straight away saves an instruction per record.
    const auto index = static_cast<std::uint32_t>(x->field - fields_.data());
    const Load load = x->type == FT_INT32 ? Load::kInt32Float : Load::kInt16Float;
    x->type = FT_FLOAT;
    x->width = 8;
    return FieldSlot(index, load, x);
  }
  Op op;
  std::uint32_t width = 8;
  if (to == FT_FLOAT && x->type == FT_INT16) {
    op = Op::kInt16ToFloat;
  } else if (to == FT_FLOAT && x->type == FT_INT32) {
    op = Op::kInt32ToFloat;
  } else if (to == FT_FLOAT && IsBcd(x->type)) {
    op = Op::kBcdToFloat;
  } else if (to == FT_TIME && x->type == FT_DATETIME) {
    op = Op::kDateTimeToTime;
    width = 4;
  } else if (to == FT_DATETIME && x->type == FT_DATE) {
    op = Op::kDateToDateTime;
  } else if (to == FT_SQLTIMESTAMP && x->type == FT_DATE) {
    op = Op::kDateToTimeStamp;
    width = 16;
  } else if (to == FT_WIDESTRING && x->type == FT_STRING) {
    op = Op::kStringToWide;
    width = 2 + 2 * x->width;
  } else if (to == FT_STRING && x->type == FT_BOOL) {
    op = Op::kBoolToString;
    width = 6;
  } else {
    return DBResult::kFilterNotCompiled;
  }
  Operand result;
  ZELVO_RETURN_IF_ERROR(Result(to, width, &result));
  Emit(op, *x, nullptr, result);
  *x = result;
  return DBResult::kOk;
}

DBResult Compiler::Coerce(Operand* a, Operand* b) {
  ValueType ta = FT_UNKNOWN;
  ValueType tb = FT_UNKNOWN;
  CoercedTypes(a->type, b->type, &ta, &tb);
  if (ta != a->type) ZELVO_RETURN_IF_ERROR(Convert(a, ta));
  if (tb != b->type) ZELVO_RETURN_IF_ERROR(Convert(b, tb));
  return DBResult::kOk;
}

DBResult Compiler::Binary(std::uint32_t op, Operand a, Operand b, std::uint8_t ci,
                          std::uint32_t partial, Operand* out) {
  if (op == kOpAnd || op == kOpOr) {
    if (a.type != FT_BOOL || b.type != FT_BOOL) return DBResult::kFilterNotCompiled;
    const Op chain = op == kOpAnd ? Op::kAndN : Op::kOrN;
    InList list;
    list.type = FT_BOOL;
    // A chain such as ((A or B) or C) or D becomes one instruction over A, B, C, D: the
    // instruction that made the left operand is taken out and its operands taken over.
    for (std::size_t i = p_->program.size(); i-- > 0;) {
      const Instr& made = p_->program[i];
      if (made.r != a.slot) continue;
      if (made.op == chain) {
        list.items = std::move(p_->lists[made.aux].items);
        p_->program.erase(p_->program.begin() + static_cast<std::ptrdiff_t>(i));
        out_offset_.erase(out_offset_.begin() + static_cast<std::ptrdiff_t>(i));
      }
      break;
    }
    if (list.items.empty()) list.items.push_back(a.slot);
    list.items.push_back(b.slot);
    p_->lists.push_back(std::move(list));
    ZELVO_RETURN_IF_ERROR(Result(FT_BOOL, 2, out));
    Instr& in = Emit(chain, a, &b, *out);
    in.a = in.b = kNoSlot;
    in.aux = static_cast<std::uint32_t>(p_->lists.size() - 1);
    return DBResult::kOk;
  }
  if (op == kOpLike) {
    if ((a.type != FT_STRING && a.type != FT_BLOB) || b.type != FT_STRING) {
      return DBResult::kFilterNotCompiled;
    }
    p_->patterns.emplace_back();
    LikePattern& pattern = p_->patterns.back();
    pattern.Reserve(b.width);
    std::uint8_t flags = ci ? kFlagCaseInsensitive : 0;
    if (b.constant) {
      const char* text = reinterpret_cast<const char*>(arena_.data() + slot_offset_[b.slot]);
      pattern.Prepare(text, ::strnlen(text, b.width), ci != 0);
    } else {
      flags |= kFlagDynamic;
    }
    ZELVO_RETURN_IF_ERROR(Result(FT_BOOL, 2, out));
    Instr& in = Emit(a.type == FT_BLOB ? Op::kLikeBlob : Op::kLike, a, &b, *out);
    in.flags = flags;
    in.aux = static_cast<std::uint32_t>(p_->patterns.size() - 1);
    return DBResult::kOk;
  }
  if (op >= kOpEq && op <= kOpLe) {
    ZELVO_RETURN_IF_ERROR(Coerce(&a, &b));
    if (a.type != b.type) {
      // Either order, no conversion: the boolean's text against the string.
      if (!((a.type == FT_BOOL && b.type == FT_STRING) ||
            (a.type == FT_STRING && b.type == FT_BOOL)) ||
          (op != kOpEq && op != kOpNe)) {
        return DBResult::kFilterNotCompiled;
      }
      ZELVO_RETURN_IF_ERROR(Convert(a.type == FT_BOOL ? &a : &b, FT_STRING));
    }
    static constexpr Cond kConds[] = {kCondEq, kCondNe, kCondGt, kCondLt, kCondGe, kCondLe};
    const Cond cond = kConds[op - kOpEq];
    const bool equality = cond == kCondEq || cond == kCondNe;
    Op cmp;
    switch (a.type) {
      case FT_INT16:
        cmp = Op::kCmpInt16;
        break;
      case FT_INT32:
      case FT_DATE:
      case FT_TIME:
        cmp = Op::kCmpInt32;
        break;
      case FT_FLOAT:
      case FT_DATETIME:
        cmp = Op::kCmpFloat;
        break;
      case FT_SQLTIMESTAMP:
        cmp = Op::kCmpTimeStamp;
        break;
      case FT_STRING:
        cmp = Op::kCmpString;
        break;
      case FT_WIDESTRING:
        cmp = Op::kCmpWide;
        break;
      case FT_BOOL:
        if (!equality) return DBResult::kFilterNotCompiled;
        cmp = Op::kCmpBool;
        break;
      case FT_BYTES:
        if (!equality) return DBResult::kFilterNotCompiled;
        cmp = Op::kCmpBytes;
        break;
      default:
        return DBResult::kFilterNotCompiled;
    }
    ZELVO_RETURN_IF_ERROR(Result(FT_BOOL, 2, out));
    Instr& in = Emit(cmp, a, &b, *out);
    in.cond = cond;
    if (ci) in.flags |= kFlagCaseInsensitive;
    if (a.field != nullptr) in.flags |= kFlagLeftField;
    if (equality) in.partial = partial;
    if (cmp == Op::kCmpString && equality && partial == 0 && a.field != nullptr &&
        a.field->subtype == kSubtypeFixedChar) {
      in.flags |= kFlagFixedChar;
    }
    if (cmp == Op::kCmpString && equality && b.constant && !ci &&
        (in.flags & kFlagFixedChar) == 0) {
      // Byte equality of the compared parts: with a partial length no longer than the
      // constant, the first `partial` bytes; otherwise the text and its terminator.
      const std::uint8_t* text = arena_.data() + slot_offset_[b.slot];
      const std::size_t length = ::strnlen(reinterpret_cast<const char*>(text), b.width);
      const std::size_t n = partial != 0 && length >= partial ? partial : length + 1;
      if (n <= a.width && n <= b.width) {
        in.flags |= kFlagFastBytes;
        in.fast_length = static_cast<std::uint32_t>(n);
        if (n <= 8 && a.width >= 8) {
          for (std::size_t k = 0; k < n; ++k) {
            in.fast_word |= static_cast<std::uint64_t>(text[k]) << (8 * k);
            in.fast_mask |= std::uint64_t{0xFF} << (8 * k);
          }
        }
      }
    }
    return DBResult::kOk;
  }
  if (op < kOpAdd || op > kOpDiv) return DBResult::kFilterNotCompiled;

  ZELVO_RETURN_IF_ERROR(Coerce(&a, &b));
  const bool add = op == kOpAdd;
  const bool sub = op == kOpSub;
  const ValueType ta = a.type;
  const ValueType tb = b.type;
  if (ta == tb && (ta == FT_INT16 || ta == FT_INT32 || ta == FT_FLOAT)) {
    static constexpr Op kInt16[] = {Op::kAddInt16, Op::kSubInt16, Op::kMulInt16, Op::kDivInt16};
    static constexpr Op kInt32[] = {Op::kAddInt32, Op::kSubInt32, Op::kMulInt32, Op::kDivInt32};
    static constexpr Op kFloat[] = {Op::kAddFloat, Op::kSubFloat, Op::kMulFloat, Op::kDivFloat};
    const Op* ops = ta == FT_INT16 ? kInt16 : ta == FT_INT32 ? kInt32 : kFloat;
    ZELVO_RETURN_IF_ERROR(Result(ta, a.width, out));
    Emit(ops[op - kOpAdd], a, &b, *out);
    return DBResult::kOk;
  }
  if (add && ta == FT_STRING && tb == FT_STRING) {
    ZELVO_RETURN_IF_ERROR(Result(FT_STRING, a.width + b.width - 1, out));
    Emit(Op::kConcat, a, &b, *out);
    return DBResult::kOk;
  }
  const bool temporal_left =
      ta == FT_DATE || ta == FT_TIME || ta == FT_DATETIME || ta == FT_SQLTIMESTAMP;
  if ((add || sub) && temporal_left && IsNumeric(tb)) {
    ZELVO_RETURN_IF_ERROR(ToFloat(&b));
    const Op kind = ta == FT_DATE       ? Op::kDateAddDays
                    : ta == FT_TIME     ? Op::kTimeAddHours
                    : ta == FT_DATETIME ? Op::kDateTimeAddDays
                                        : Op::kTimeStampAddDays;
    ZELVO_RETURN_IF_ERROR(Result(ta, a.width, out));
    Emit(kind, a, &b, *out).sign = add ? 1 : -1;
    return DBResult::kOk;
  }
  if (sub && ta == tb && temporal_left) {
    const bool time = ta == FT_TIME;
    ZELVO_RETURN_IF_ERROR(Result(time ? FT_INT32 : FT_FLOAT, time ? 4 : 8, out));
    const Op kind = ta == FT_DATE       ? Op::kDateDiff
                    : ta == FT_DATETIME ? Op::kDateTimeDiff
                    : ta == FT_TIME     ? Op::kTimeDiff
                                        : Op::kTimeStampDiff;
    Emit(kind, a, &b, *out);
    return DBResult::kOk;
  }
  return DBResult::kFilterNotCompiled;
}

DBResult Compiler::In(Operand tested, std::vector<Operand> items, Operand* out) {
  if (tested.type == FT_BLOB) return DBResult::kFilterNotCompiled;
  // One common type for the tested value and every item, by the coercion step pairwise.
  ValueType common = tested.type;
  for (const Operand& item : items) {
    ValueType x = FT_UNKNOWN;
    ValueType y = FT_UNKNOWN;
    CoercedTypes(common, item.type, &x, &y);
    if (x != y) return DBResult::kFilterNotCompiled;
    common = x;
  }
  if (common == FT_BLOB || common == FT_UNKNOWN) return DBResult::kFilterNotCompiled;
  if (tested.type != common) ZELVO_RETURN_IF_ERROR(Convert(&tested, common));
  InList list;
  list.type = common;
  list.width = tested.width;
  for (Operand& item : items) {
    if (item.type != common) ZELVO_RETURN_IF_ERROR(Convert(&item, common));
    list.items.push_back(item.slot);
    list.width = std::max(list.width, item.width);
  }
  p_->lists.push_back(std::move(list));
  ZELVO_RETURN_IF_ERROR(Result(FT_BOOL, 2, out));
  Instr& in = Emit(Op::kIn, tested, nullptr, *out);
  in.aux = static_cast<std::uint32_t>(p_->lists.size() - 1);
  return DBResult::kOk;
}

DBResult Compiler::Function(const std::string& name, std::vector<Operand> args, Operand* out) {
  auto is = [&name](std::string_view f) { return EqualsNoCase(name, f); };
  const std::size_t n = args.size();
  if (is("GETDATE")) {
    ZELVO_RETURN_IF_ERROR(Result(FT_DATETIME, 8, out));
    Operand none;
    Emit(Op::kGetDate, none, nullptr, *out).a = kNoSlot;
    return DBResult::kOk;
  }
  if (n == 0) return DBResult::kFilterNotCompiled;
  Operand& a = args[0];
  if (is("getsqldate")) {
    ZELVO_RETURN_IF_ERROR(Result(FT_SQLTIMESTAMP, 16, out));
    Emit(Op::kGetSqlDate, a, nullptr, *out).a = kNoSlot;
    return DBResult::kOk;
  }
  if (is("UPPER") || is("LOWER")) {
    if (a.type != FT_STRING || n > 1) return DBResult::kFilterNotCompiled;
    ZELVO_RETURN_IF_ERROR(Result(FT_STRING, a.width, out));
    Emit(is("UPPER") ? Op::kUpper : Op::kLower, a, nullptr, *out);
    return DBResult::kOk;
  }
  if (is("SUBSTRING")) {
    if (a.type != FT_STRING || n < 2 || !IsNumeric(args[1].type) ||
        (n == 3 && !IsNumeric(args[2].type))) {
      return DBResult::kFilterNotCompiled;
    }
    ZELVO_RETURN_IF_ERROR(ToFloat(&args[1]));
    if (n == 3) ZELVO_RETURN_IF_ERROR(ToFloat(&args[2]));
    ZELVO_RETURN_IF_ERROR(Result(FT_STRING, a.width, out));
    Instr& in = Emit(Op::kSubstring, args[0], &args[1], *out);
    if (n == 3) in.c = args[2].slot;
    return DBResult::kOk;
  }
  if (is("TRIM") || is("TRIMLEFT") || is("triml") || is("TRIMRIGHT") || is("trimt")) {
    // Only text can be trimmed; anything else has no characters to remove.
    if (a.type != FT_STRING || (n >= 2 && args[1].type != FT_STRING)) {
      return DBResult::kFilterNotCompiled;
    }
    ZELVO_RETURN_IF_ERROR(Result(FT_STRING, a.width, out));
    Instr& in = Emit(Op::kTrim, a, n >= 2 ? &args[1] : nullptr, *out);
    in.cond = is("TRIM") ? kTrimBoth : (is("TRIMLEFT") || is("triml")) ? kTrimLeft : kTrimRight;
    return DBResult::kOk;
  }
  struct Part {
    std::string_view name;
    Op op;
    ValueType other;  // besides FT_DATETIME
  };
  static constexpr Part kParts[] = {
      {"YEAR", Op::kYear, FT_DATE},     {"MONTH", Op::kMonth, FT_DATE},
      {"DAY", Op::kDay, FT_DATE},       {"HOUR", Op::kHour, FT_TIME},
      {"MINUTE", Op::kMinute, FT_TIME}, {"SECOND", Op::kSecond, FT_TIME},
      {"DATE", Op::kDateOf, FT_DATE},   {"TIME", Op::kTimeOf, FT_TIME},
  };
  for (const Part& part : kParts) {
    if (!is(part.name)) continue;
    if (a.type != FT_DATETIME && a.type != part.other) return DBResult::kFilterNotCompiled;
    ValueType type = FT_FLOAT;
    std::uint32_t width = 8;
    if (part.op == Op::kDateOf || part.op == Op::kTimeOf) {
      type = part.other;
      width = 4;
    }
    ZELVO_RETURN_IF_ERROR(Result(type, width, out));
    Instr& in = Emit(part.op, a, nullptr, *out);
    if (a.type == FT_DATETIME) in.flags |= kFlagDateTimeArg;
    return DBResult::kOk;
  }
  return DBResult::kFilterNotCompiled;
}

}  // namespace

FilterProgram::FilterProgram(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FilterProgram::~FilterProgram() = default;

DBResult FilterProgram::Compile(std::span<const std::uint8_t> expression,
                                std::span<const FieldDesc> fields,
                                const FilterCompileOptions& options,
                                std::unique_ptr<FilterProgram>* program) {
  program->reset();
  try {
    auto impl = std::make_unique<Impl>();
    impl->expression.assign(expression.begin(), expression.end());
    Compiler compiler(fields, options, impl.get());
    ZELVO_RETURN_IF_ERROR(compiler.Run());
    program->reset(new FilterProgram(std::move(impl)));
    return DBResult::kOk;
  } catch (const std::bad_alloc&) {
    program->reset();
    return DBResult::kOutOfMemory;
  }
}

void FilterProgram::SetBlobSource(const BlobSource* blobs) { impl_->blobs = blobs; }

std::string FilterProgram::Explain() const { return impl_->Explain(); }

const std::vector<std::uint8_t>& FilterProgram::Expression() const { return impl_->expression; }

RecordBufferRef::RecordBufferRef(std::span<const FieldDesc> fields)
    : bases_(fields.size()), strides_(fields.size(), 0) {
  for (const FieldDesc& f : fields) offsets_.push_back(f.offset);
  states_offset_ = fields.empty() ? 0 : fields[0].state_offset;
  ref_.bases = bases_.data();
  ref_.strides = strides_.data();
}

const RecordRef& RecordBufferRef::Bind(const std::uint8_t* record) {
  for (std::size_t i = 0; i < offsets_.size(); ++i) bases_[i] = record + offsets_[i];
  ref_.states = record + states_offset_;
  ref_.index = 0;
  return ref_;
}

}  // namespace zelvo
