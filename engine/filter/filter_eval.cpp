// The filter evaluator: one pass over the program for each record. Every instruction runs
// for every record; null flags follow the null rule (an operand's null makes the result
// null) except where an opcode's comment says otherwise, and values are computed even for
// null results, from value areas that read as zero for null fields.
#include <algorithm>
#include <cmath>
#include <ctime>

#include "fields/dates.h"
#include "filter/filter_internal.h"

namespace zelvo {

namespace {

constexpr double kFloatEpsilon = 1e-15;
constexpr std::int64_t kMsPerHour = 3600000;
constexpr std::int64_t kInt32Limit = 2147483647;

// Whether any byte of the word is below 0x20 or above 0x7E (exact, word at a time).
bool HasNonPrintable(std::uint64_t x) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHigh = 0x8080808080808080;
  const std::uint64_t below = (x - kOnes * 0x20) & ~x & kHigh;
  const std::uint64_t above = ((x + kOnes * (127 - 0x7E)) | x) & kHigh;
  return (below | above) != 0;
}

bool IsPrintableAscii(const std::uint8_t* text, std::size_t length) {
  std::size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    if (HasNonPrintable(LoadAs<std::uint64_t>(text + i))) return false;
  }
  if (i < length && length >= 8) {
    // The last bytes as one word that overlaps bytes already checked.
    return !HasNonPrintable(LoadAs<std::uint64_t>(text + length - 8));
  }
  for (; i < length; ++i) {
    if (text[i] < 0x20 || text[i] > 0x7E) return false;
  }
  return true;
}

bool AsciiEqualNoCase(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<std::uint8_t>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<std::uint8_t>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::size_t TextLength(const std::uint8_t* text, std::uint32_t width) {
  return ::strnlen(reinterpret_cast<const char*>(text), width);
}

const char* Chars(const std::uint8_t* text) { return reinterpret_cast<const char*>(text); }

bool Decide(std::uint8_t cond, int c) {
  switch (cond) {
    case kCondEq:
      return c == 0;
    case kCondNe:
      return c != 0;
    case kCondLt:
      return c < 0;
    case kCondGt:
      return c > 0;
    case kCondLe:
      return c <= 0;
    default:
      return c >= 0;
  }
}

template <typename T>
int Order(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// Whole days or hours from a float operand; false when it is not a finite, sane number.
bool Truncated(double n, double limit, std::int64_t* out) {
  if (!std::isfinite(n) || std::fabs(n) > limit) return false;
  *out = static_cast<std::int64_t>(std::trunc(n));
  return true;
}

std::int32_t ClampDay(std::int64_t day) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(day, INT32_MIN, INT32_MAX));
}

struct TimeStamp {
  std::uint16_t year, month, day, hour, minute, second;
  std::uint32_t fraction;
};

TimeStamp LoadTimeStamp(const std::uint8_t* p) {
  TimeStamp t;
  t.year = LoadAs<std::uint16_t>(p);
  t.month = LoadAs<std::uint16_t>(p + 2);
  t.day = LoadAs<std::uint16_t>(p + 4);
  t.hour = LoadAs<std::uint16_t>(p + 6);
  t.minute = LoadAs<std::uint16_t>(p + 8);
  t.second = LoadAs<std::uint16_t>(p + 10);
  t.fraction = LoadAs<std::uint32_t>(p + 12);
  return t;
}

void StoreTimeStamp(std::uint8_t* p, const TimeStamp& t) {
  const std::uint16_t parts[6] = {t.year, t.month, t.day, t.hour, t.minute, t.second};
  std::memcpy(p, parts, sizeof(parts));
  StoreAs<std::uint32_t>(p + 12, t.fraction);
}

// Milliseconds since the start of day 0, the fraction left out.
double TimeStampMs(const TimeStamp& t) {
  CivilDate date{t.year, t.month, t.day};
  const std::int64_t day = DayNumberOf(date);
  return static_cast<double>(day) * kMsPerDay +
         ((t.hour * 60.0 + t.minute) * 60.0 + t.second) * 1000.0;
}

// False when the value falls outside the years a time stamp holds.
bool TimeStampOfMs(double ms, std::uint32_t fraction, TimeStamp* t) {
  if (!std::isfinite(ms) || std::fabs(ms) > 1e18) return false;
  const DateTimeParts parts = SplitDateTime(ms);
  if (parts.day < 1 || parts.day > INT32_MAX) return false;
  const CivilDate date = DateOfDayNumber(static_cast<std::int32_t>(parts.day));
  if (date.year < 1 || date.year > 9999) return false;
  const TimeOfDay time = TimeOfMs(parts.ms);
  *t = TimeStamp{static_cast<std::uint16_t>(date.year),
                 static_cast<std::uint16_t>(date.month),
                 static_cast<std::uint16_t>(date.day),
                 static_cast<std::uint16_t>(time.hour),
                 static_cast<std::uint16_t>(time.minute),
                 static_cast<std::uint16_t>(time.second),
                 fraction};
  return true;
}

int CompareTimeStamps(const std::uint8_t* a, const std::uint8_t* b) {
  const TimeStamp x = LoadTimeStamp(a);
  const TimeStamp y = LoadTimeStamp(b);
  const std::uint16_t xs[6] = {x.year, x.month, x.day, x.hour, x.minute, x.second};
  const std::uint16_t ys[6] = {y.year, y.month, y.day, y.hour, y.minute, y.second};
  for (int i = 0; i < 6; ++i) {
    if (xs[i] != ys[i]) return xs[i] < ys[i] ? -1 : 1;
  }
  return Order(x.fraction, y.fraction);
}

// Value of a BCD: precision, sign and places, then packed digits.
double BcdValue(const std::uint8_t* p, std::uint32_t width) {
  if (width < 2) return 0;
  const std::uint32_t places = p[1] & 0x3F;
  const std::uint32_t digits = std::min<std::uint32_t>(p[0], 2 * (width - 2));
  double v = 0;
  for (std::uint32_t i = 0; i < digits; ++i) {
    const std::uint8_t pair = p[2 + i / 2];
    const std::uint32_t digit = i % 2 == 0 ? pair >> 4 : pair & 0x0F;
    v = v * 10 + std::min<std::uint32_t>(digit, 9);
  }
  v /= std::pow(10.0, std::min(places, digits));
  return (p[1] & 0x80) != 0 ? -v : v;
}

// Milliseconds since midnight of any stored time, brought into one day.
std::int64_t TimeOfDayMs(std::int64_t ms) {
  ms %= kMsPerDay;
  return ms < 0 ? ms + kMsPerDay : ms;
}

// The text length of a slot, measured once per record.
std::size_t MeasuredLength(Slot* s, std::uint32_t width) {
  if (s->length == kUnknownLength)
    s->length = static_cast<std::uint32_t>(TextLength(s->data, width));
  return s->length;
}

// Whether the whole text of a slot is printable ASCII, decided once per record.
bool IsAscii(Slot* s, std::uint32_t width) {
  if (s->ascii == kAsciiUnknown) {
    s->ascii = IsPrintableAscii(s->data, MeasuredLength(s, width)) ? kAsciiYes : kAsciiNo;
  }
  return s->ascii == kAsciiYes;
}

void StoreFloatParts(const Instr& in, const Slot& a, Slot* r, double value) {
  StoreAs<double>(in.out, value);
  r->null = a.null;
}

}  // namespace

double LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const CivilDate date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
  const std::int32_t ms = ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000;
  return JoinDateTime(DayNumberOf(date), ms);
}

// Fields read through a conversion into their scratch areas.
void FilterProgram::Impl::RunLoads(const RecordRef& record) {
  for (const FieldLoad& load : converted_loads) {
    Slot& slot = slots[load.slot];
    if (record.State(load.field) != kFieldValue) {
      slot.data = zeros.data();
      slot.null = 1;
      continue;
    }
    const std::uint8_t* value = record.Value(load.field);
    std::uint8_t* out = load.scratch;
    slot.null = 0;
    slot.data = out;
    switch (load.load) {
      case Load::kDirect:
        slot.data = value;
        break;
      case Load::kUInt16:
        StoreAs<std::int32_t>(out, LoadAs<std::uint16_t>(value));
        break;
      case Load::kUInt32:
        StoreAs<double>(out, LoadAs<std::uint32_t>(value));
        break;
      case Load::kInt8:
        StoreAs<std::int16_t>(out, LoadAs<std::int8_t>(value));
        break;
      case Load::kUInt8:
        StoreAs<std::int16_t>(out, value[0]);
        break;
      case Load::kBool8:
        StoreAs<std::uint16_t>(out, value[0] != 0 ? 1 : 0);
        break;
      case Load::kBool32:
        StoreAs<std::uint16_t>(out, LoadAs<std::uint32_t>(value) != 0 ? 1 : 0);
        break;
      case Load::kInt64:
        StoreAs<double>(out, static_cast<double>(LoadAs<std::int64_t>(value)));
        break;
      case Load::kUInt64:
        StoreAs<double>(out, static_cast<double>(LoadAs<std::uint64_t>(value)));
        break;
      case Load::kInt16Float:
        StoreAs<double>(out, LoadAs<std::int16_t>(value));
        break;
      case Load::kInt32Float:
        StoreAs<double>(out, LoadAs<std::int32_t>(value));
        break;
    }
  }
}

bool FilterProgram::Impl::Run(const RecordRef& record) {
  for (const FieldLoad& load : loads) {
    Slot& slot = slots[load.slot];
    slot.length = kUnknownLength;
    slot.ascii = kAsciiUnknown;
    const bool null = record.State(load.field) != kFieldValue;
    slot.null = null ? 1 : 0;
    slot.data = null ? zeros.data() : record.Value(load.field);
  }
  if (!converted_loads.empty()) RunLoads(record);

  // Locals, not members: the value stores below go through byte pointers, which may alias
  // anything, and would otherwise make the compiler reload the members after each one.
  Instr* const first = program.data();
  Instr* const last = first + program.size();
  for (Instr* it = first; it != last; ++it) {
    Instr& in = *it;
    Slot& a = *in.sa;
    Slot& b = *in.sb;
    Slot& r = *in.sr;
    switch (in.op) {
      // Opcode: IsNull A -> R
      // Synopsis: R = A is null
      //
      // 1 when A's null flag is set, else 0. The result is never null.
      case Op::kIsNull:
        StoreAs<std::uint16_t>(in.out, a.null ? 1 : 0);
        r.null = 0;
        break;

      // Opcode: NotNull A -> R
      // Synopsis: R = A is not null
      //
      // 1 when A's null flag is clear, else 0; null when A is.
      case Op::kNotNull:
        StoreAs<std::uint16_t>(in.out, a.null ? 0 : 1);
        r.null = a.null;
        break;

      // Opcode: Not A -> R
      // Synopsis: R = not A
      //
      // 1 when A's value is 0. Looks only at the computed value: never null, so NOT of a
      // comparison with a null field uses what the comparison computed.
      case Op::kNot:
        StoreAs<std::uint16_t>(in.out, LoadAs<std::uint16_t>(a.data) == 0 ? 1 : 0);
        r.null = 0;
        break;

      // Opcode: AndN -> R   (list aux)
      // Synopsis: R = item1 and item2 and ...
      //
      // 1 when every item's value is non-zero, so a chain of ANDs is one step. Looks only
      // at the computed values and is never null, as Not.
      case Op::kAndN: {
        bool v = true;
        for (std::uint16_t item : lists[in.aux].items) {
          v = v && LoadAs<std::uint16_t>(slots[item].data) != 0;
        }
        StoreAs<std::uint16_t>(in.out, v ? 1 : 0);
        r.null = 0;
        break;
      }

      // Opcode: OrN -> R   (list aux)
      // Synopsis: R = item1 or item2 or ...
      //
      // 1 when any item's value is non-zero, so a chain of ORs is one step. Looks only at
      // the computed values and is never null, as Not.
      case Op::kOrN: {
        bool v = false;
        for (std::uint16_t item : lists[in.aux].items) {
          v = v || LoadAs<std::uint16_t>(slots[item].data) != 0;
        }
        StoreAs<std::uint16_t>(in.out, v ? 1 : 0);
        r.null = 0;
        break;
      }

      // Opcode: EqAnyText A -> R   (choices aux)
      // Synopsis: R = (A = c1) or (A = c2) or ...  (8-bit text against constants)
      //
      // Stands for an OR chain of CmpString "=" tests of one field against constants and
      // computes what they and the OR would: the first word of A against each constant's
      // bytes, and only when none is byte-equal and A is not plain ASCII, the collation.
      // Never null, as the OR it replaces.
      case Op::kEqAnyText: {
        const TextChoices& choices_of = choices[in.aux];
        const std::uint64_t word = LoadAs<std::uint64_t>(a.data);
        bool v = false;
        // No early exit: which constant matches varies from record to record.
        for (std::size_t k = 0; k < choices_of.words.size(); ++k) {
          v |= ((word ^ choices_of.words[k]) & choices_of.masks[k]) == 0;
        }
        if (!v && !(ascii_exact && choices_of.all_ascii && IsAscii(&a, in.a_width))) {
          const std::size_t la = MeasuredLength(&a, in.a_width);
          for (std::uint16_t constant : choices_of.constants) {
            const Slot& c = slots[constant];
            if (collation->Compare8(Chars(a.data), la, Chars(c.data), c.length) == 0) {
              v = true;
              break;
            }
          }
        }
        StoreAs<std::uint16_t>(in.out, v ? 1 : 0);
        r.null = 0;
        break;
      }

      // Opcode: CmpInt16 A B -> R   (cond)
      // Synopsis: R = A cond B  (signed 16-bit)
      //
      // Signed comparison; cond is one of = <> < > <= >=.
      case Op::kCmpInt16:
        StoreAs<std::uint16_t>(in.out, Decide(in.cond, Order(LoadAs<std::int16_t>(a.data),
                                                             LoadAs<std::int16_t>(b.data))));
        r.null = a.null | b.null;
        break;

      // Opcode: CmpInt32 A B -> R   (cond)
      // Synopsis: R = A cond B  (signed 32-bit: INT32, DATE, TIME)
      //
      // Signed comparison of integers, day numbers or milliseconds.
      case Op::kCmpInt32:
        StoreAs<std::uint16_t>(in.out, Decide(in.cond, Order(LoadAs<std::int32_t>(a.data),
                                                             LoadAs<std::int32_t>(b.data))));
        r.null = a.null | b.null;
        break;

      // Opcode: CmpFloat A B -> R   (cond)
      // Synopsis: R = A cond B  (FLOAT, DATETIME)
      //
      // "=" holds when the values are equal or differ by less than 1e-15, "<>" is its
      // negation; the ordering conditions compare exactly.
      case Op::kCmpFloat: {
        const double x = LoadAs<double>(a.data);
        const double y = LoadAs<double>(b.data);
        bool v;
        if (in.cond == kCondEq || in.cond == kCondNe) {
          // Equal values count as equal even where 1e-15 is below the values' precision.
          // Without branches: the outcome varies from record to record.
          const bool equal = (x == y) | ((y > x - kFloatEpsilon) & (y < x + kFloatEpsilon));
          v = (in.cond == kCondEq) == equal;
        } else {
          v = in.cond == kCondLt   ? x < y
              : in.cond == kCondGt ? x > y
              : in.cond == kCondLe ? x <= y
                                   : x >= y;
        }
        StoreAs<std::uint16_t>(in.out, v ? 1 : 0);
        r.null = a.null | b.null;
        break;
      }

      // Opcode: CmpBool A B -> R   (= or <>)
      // Synopsis: R = A cond B  (booleans)
      //
      // Compares truth values, so any non-zero stored value is the same true.
      case Op::kCmpBool: {
        const bool equal =
            (LoadAs<std::uint16_t>(a.data) != 0) == (LoadAs<std::uint16_t>(b.data) != 0);
        StoreAs<std::uint16_t>(in.out, (in.cond == kCondEq) == equal ? 1 : 0);
        r.null = a.null | b.null;
        break;
      }

      // Opcode: CmpTimeStamp A B -> R   (cond)
      // Synopsis: R = A cond B  (SQL time stamps)
      //
      // Year, month, day, hour, minute, second, then the fraction.
      case Op::kCmpTimeStamp:
        StoreAs<std::uint16_t>(in.out, Decide(in.cond, CompareTimeStamps(a.data, b.data)));
        r.null = a.null | b.null;
        break;

      // Opcode: CmpString A B -> R   (cond, partial, flags)
      // Synopsis: R = A cond B  (8-bit text, table collation)
      //
      // "=" and "<>" ask the collation whether the texts are equal: only the first `partial`
      // characters of each when partial is set; with FixedChar on the left (and no partial)
      // without trailing blanks. Byte-equal texts are equal without asking, and when both
      // are printable ASCII in a collation that keeps ASCII apart, unequal bytes are
      // unequal. The ordering conditions compare the whole texts.
      case Op::kCmpString: {
        const bool ci = (in.flags & kFlagCaseInsensitive) != 0;
        const Collation& coll = ci ? *collation_ci : *collation;
        if (in.flags & kFlagFastBytes) {
          // The common case: a field against a constant, decided from bytes alone.
          const bool same =
              in.fast_mask != 0
                  ? ((LoadAs<std::uint64_t>(a.data) ^ in.fast_word) & in.fast_mask) == 0
                  : std::memcmp(a.data, b.data, in.fast_length) == 0;
          if (same || (ascii_exact && b.ascii == kAsciiYes && IsAscii(&a, in.a_width))) {
            StoreAs<std::uint16_t>(in.out, (in.cond == kCondEq) == same ? 1 : 0);
            r.null = a.null | b.null;
            break;
          }
        }
        std::size_t la = MeasuredLength(&a, in.a_width);
        std::size_t lb = MeasuredLength(&b, in.b_width);
        bool v;
        if (in.cond == kCondEq || in.cond == kCondNe) {
          if (in.partial != 0) {
            la = std::min<std::size_t>(la, in.partial);
            lb = std::min<std::size_t>(lb, in.partial);
          } else if (in.flags & kFlagFixedChar) {
            while (la > 0 && a.data[la - 1] == ' ') --la;
            while (lb > 0 && b.data[lb - 1] == ' ') --lb;
          }
          bool equal;
          if (la == lb && std::memcmp(a.data, b.data, la) == 0) {
            equal = true;
          } else if (ascii_exact && IsAscii(&b, in.b_width) && IsAscii(&a, in.a_width)) {
            equal = ci && la == lb && AsciiEqualNoCase(a.data, b.data, la);
          } else {
            equal = coll.Compare8(Chars(a.data), la, Chars(b.data), lb) == 0;
          }
          v = (in.cond == kCondEq) == equal;
        } else {
          v = Decide(in.cond, coll.Compare8(Chars(a.data), la, Chars(b.data), lb));
        }
        StoreAs<std::uint16_t>(in.out, v ? 1 : 0);
        r.null = a.null | b.null;
        break;
      }

      // Opcode: CmpWide A B -> R   (cond, partial, flags)
      // Synopsis: R = A cond B  (UTF-16 text, table collation)
      //
      // As CmpString over a u16 byte length and UTF-16 units; partial counts characters.
      case Op::kCmpWide: {
        const bool ci = (in.flags & kFlagCaseInsensitive) != 0;
        const Collation& coll = ci ? *collation_ci : *collation;
        std::size_t la = std::min<std::size_t>(LoadAs<std::uint16_t>(a.data), in.a_width - 2) / 2;
        std::size_t lb = std::min<std::size_t>(LoadAs<std::uint16_t>(b.data), in.b_width - 2) / 2;
        // Values sit at any offset in a record; the collation wants aligned units.
        std::memcpy(wide_a.data(), a.data + 2, la * 2);
        std::memcpy(wide_b.data(), b.data + 2, lb * 2);
        bool v;
        if ((in.cond == kCondEq || in.cond == kCondNe) && in.partial != 0) {
          la = std::min<std::size_t>(la, in.partial);
          lb = std::min<std::size_t>(lb, in.partial);
        }
        const int c = la == lb && std::memcmp(wide_a.data(), wide_b.data(), la * 2) == 0
                          ? 0
                          : coll.Compare16(wide_a.data(), la, wide_b.data(), lb);
        v = Decide(in.cond, c);
        StoreAs<std::uint16_t>(in.out, v ? 1 : 0);
        r.null = a.null | b.null;
        break;
      }

      // Opcode: CmpBytes A B -> R   (= or <>)
      // Synopsis: R = A cond B  (fixed bytes)
      //
      // Equal when both areas have the same width and the same bytes.
      case Op::kCmpBytes: {
        const bool equal = in.a_width == in.b_width && std::memcmp(a.data, b.data, in.a_width) == 0;
        StoreAs<std::uint16_t>(in.out, (in.cond == kCondEq) == equal ? 1 : 0);
        r.null = a.null | b.null;
        break;
      }

      // Opcode: AddInt16 A B -> R   (also SubInt16, MulInt16, DivInt16)
      // Synopsis: R = A op B  (16-bit)
      //
      // Computed exactly; a result outside -32768..32767, or a division by 0, is null.
      // Division truncates toward zero.
      case Op::kAddInt16:
      case Op::kSubInt16:
      case Op::kMulInt16:
      case Op::kDivInt16: {
        const std::int64_t x = LoadAs<std::int16_t>(a.data);
        const std::int64_t y = LoadAs<std::int16_t>(b.data);
        bool overflow = false;
        std::int64_t v = 0;
        switch (in.op) {
          case Op::kAddInt16:
            v = x + y;
            break;
          case Op::kSubInt16:
            v = x - y;
            break;
          case Op::kMulInt16:
            v = x * y;
            break;
          default:
            overflow = y == 0;
            v = overflow ? 0 : x / y;
            break;
        }
        overflow = overflow || v < -32768 || v > 32767;
        StoreAs<std::int16_t>(in.out, static_cast<std::int16_t>(overflow ? 0 : v));
        r.null = a.null | b.null | (overflow ? 1 : 0);
        break;
      }

      // Opcode: AddInt32 A B -> R   (also SubInt32, MulInt32, DivInt32)
      // Synopsis: R = A op B  (32-bit)
      //
      // Computed exactly; a result outside -2147483647..2147483647, or a division by 0, is
      // null. Division truncates toward zero.
      case Op::kAddInt32:
      case Op::kSubInt32:
      case Op::kMulInt32:
      case Op::kDivInt32: {
        const std::int64_t x = LoadAs<std::int32_t>(a.data);
        const std::int64_t y = LoadAs<std::int32_t>(b.data);
        bool overflow = false;
        std::int64_t v = 0;
        switch (in.op) {
          case Op::kAddInt32:
            v = x + y;
            break;
          case Op::kSubInt32:
            v = x - y;
            break;
          case Op::kMulInt32:
            v = x * y;
            break;
          default:
            overflow = y == 0;
            v = overflow ? 0 : x / y;
            break;
        }
        overflow = overflow || v < -kInt32Limit || v > kInt32Limit;
        StoreAs<std::int32_t>(in.out, static_cast<std::int32_t>(overflow ? 0 : v));
        r.null = a.null | b.null | (overflow ? 1 : 0);
        break;
      }

      // Opcode: AddFloat A B -> R   (also SubFloat, MulFloat, DivFloat)
      // Synopsis: R = A op B  (64-bit float)
      //
      // Ordinary floating point; a division by 0 is null.
      case Op::kAddFloat:
      case Op::kSubFloat:
      case Op::kMulFloat:
      case Op::kDivFloat: {
        const double x = LoadAs<double>(a.data);
        const double y = LoadAs<double>(b.data);
        bool by_zero = false;
        double v;
        switch (in.op) {
          case Op::kAddFloat:
            v = x + y;
            break;
          case Op::kSubFloat:
            v = x - y;
            break;
          case Op::kMulFloat:
            v = x * y;
            break;
          default:
            by_zero = y == 0;
            v = by_zero ? 0 : x / y;
            break;
        }
        StoreAs<double>(in.out, v);
        r.null = a.null | b.null | (by_zero ? 1 : 0);
        break;
      }

      // Opcode: Concat A B -> R
      // Synopsis: R = A + B  (text)
      //
      // The left text followed by the right one, cut to fit R (the two widths less one).
      case Op::kConcat: {
        const std::size_t room = in.r_width - 1;
        const std::size_t la = std::min(TextLength(a.data, in.a_width), room);
        const std::size_t lb = std::min(TextLength(b.data, in.b_width), room - la);
        std::memcpy(in.out, a.data, la);
        std::memcpy(in.out + la, b.data, lb);
        in.out[la + lb] = 0;
        r.null = a.null | b.null;
        r.length = kUnknownLength;  // a text result is measured afresh when written
        r.ascii = kAsciiUnknown;
        break;
      }

      // Opcode: DateAddDays A B -> R   (sign)
      // Synopsis: R = A +/- B days  (DATE)
      //
      // Whole days of B (truncated toward zero); null when the day number leaves 32 bits.
      case Op::kDateAddDays: {
        std::int64_t days = 0;
        const bool ok = Truncated(LoadAs<double>(b.data), 1e10, &days);
        const std::int64_t v = LoadAs<std::int32_t>(a.data) + in.sign * days;
        const bool bad = !ok || v < INT32_MIN || v > INT32_MAX;
        StoreAs<std::int32_t>(in.out, bad ? 0 : static_cast<std::int32_t>(v));
        r.null = a.null | b.null | (bad ? 1 : 0);
        break;
      }

      // Opcode: TimeAddHours A B -> R   (sign)
      // Synopsis: R = A +/- B hours  (TIME)
      //
      // B hours of 3600000 ms, truncated to whole milliseconds; the result wraps around
      // midnight so that it stays a time of day.
      case Op::kTimeAddHours: {
        std::int64_t ms = 0;
        const bool ok = Truncated(LoadAs<double>(b.data) * kMsPerHour, 1e15, &ms);
        const std::int64_t v = TimeOfDayMs(LoadAs<std::int32_t>(a.data) + in.sign * ms);
        StoreAs<std::int32_t>(in.out, ok ? static_cast<std::int32_t>(v) : 0);
        r.null = a.null | b.null | (ok ? 0 : 1);
        break;
      }

      // Opcode: DateTimeAddDays A B -> R   (sign)
      // Synopsis: R = A +/- B days  (DATETIME)
      //
      // B days of 86400000 ms, fractions of a day included.
      case Op::kDateTimeAddDays:
        StoreAs<double>(in.out,
                        LoadAs<double>(a.data) + in.sign * LoadAs<double>(b.data) * kMsPerDay);
        r.null = a.null | b.null;
        break;

      // Opcode: TimeStampAddDays A B -> R   (sign)
      // Synopsis: R = A +/- B days  (SQL time stamp)
      //
      // The fraction is kept; null when the year leaves 1..9999.
      case Op::kTimeStampAddDays: {
        const TimeStamp t = LoadTimeStamp(a.data);
        TimeStamp v{};
        const bool ok = TimeStampOfMs(TimeStampMs(t) + in.sign * LoadAs<double>(b.data) * kMsPerDay,
                                      t.fraction, &v);
        StoreTimeStamp(in.out, v);
        r.null = a.null | b.null | (ok ? 0 : 1);
        break;
      }

      // Opcode: DateDiff A B -> R
      // Synopsis: R = A - B  (DATE - DATE, in days as FLOAT)
      //
      // The number of days between two day numbers.
      case Op::kDateDiff:
        StoreAs<double>(in.out, static_cast<double>(LoadAs<std::int32_t>(a.data)) -
                                    LoadAs<std::int32_t>(b.data));
        r.null = a.null | b.null;
        break;

      // Opcode: DateTimeDiff A B -> R
      // Synopsis: R = (A - B) / 86400000  (DATETIME - DATETIME, in days as FLOAT)
      //
      // The difference in days, fractions of a day included.
      case Op::kDateTimeDiff:
        StoreAs<double>(in.out, (LoadAs<double>(a.data) - LoadAs<double>(b.data)) / kMsPerDay);
        r.null = a.null | b.null;
        break;

      // Opcode: TimeStampDiff A B -> R
      // Synopsis: R = A - B  (time stamps, in days as FLOAT; fractions left out)
      //
      // The difference in days of the two moments to the second.
      case Op::kTimeStampDiff:
        StoreAs<double>(
            in.out,
            (TimeStampMs(LoadTimeStamp(a.data)) - TimeStampMs(LoadTimeStamp(b.data))) / kMsPerDay);
        r.null = a.null | b.null;
        break;

      // Opcode: TimeDiff A B -> R
      // Synopsis: R = A - B  (TIME - TIME, in milliseconds as INT32)
      //
      // Null when the difference leaves 32 bits (only for times out of their range).
      case Op::kTimeDiff: {
        const std::int64_t v =
            static_cast<std::int64_t>(LoadAs<std::int32_t>(a.data)) - LoadAs<std::int32_t>(b.data);
        const bool bad = v < -kInt32Limit || v > kInt32Limit;
        StoreAs<std::int32_t>(in.out, bad ? 0 : static_cast<std::int32_t>(v));
        r.null = a.null | b.null | (bad ? 1 : 0);
        break;
      }

      // Opcode: Int16ToFloat A -> R
      // Synopsis: R = float(A)
      //
      // Exact (coercion of two different numeric types).
      case Op::kInt16ToFloat:
        StoreFloatParts(in, a, &r, LoadAs<std::int16_t>(a.data));
        break;

      // Opcode: Int32ToFloat A -> R
      // Synopsis: R = float(A)
      //
      // Exact (coercion of two different numeric types).
      case Op::kInt32ToFloat:
        StoreFloatParts(in, a, &r, LoadAs<std::int32_t>(a.data));
        break;

      // Opcode: BcdToFloat A -> R
      // Synopsis: R = float(A)
      //
      // The BCD's decimal value (every operation on BCD values works on floats).
      case Op::kBcdToFloat:
        StoreFloatParts(in, a, &r, BcdValue(a.data, in.a_width));
        break;

      // Opcode: DateTimeToTime A -> R
      // Synopsis: R = time of day of A  (DATETIME -> TIME)
      //
      // The milliseconds since midnight of the date-time (coercion with a TIME operand).
      case Op::kDateTimeToTime:
        StoreAs<std::int32_t>(in.out, SplitDateTime(LoadAs<double>(a.data)).ms);
        r.null = a.null;
        break;

      // Opcode: DateToDateTime A -> R
      // Synopsis: R = A x 86400000  (DATE -> DATETIME)
      //
      // Midnight of the day (coercion with a DATETIME operand).
      case Op::kDateToDateTime:
        StoreAs<double>(in.out, JoinDateTime(LoadAs<std::int32_t>(a.data), 0));
        r.null = a.null;
        break;

      // Opcode: DateToTimeStamp A -> R
      // Synopsis: R = A at midnight  (DATE -> SQL time stamp)
      //
      // Midnight of the day (coercion with a SQL time stamp operand).
      case Op::kDateToTimeStamp: {
        const CivilDate d = DateOfDayNumber(LoadAs<std::int32_t>(a.data));
        StoreTimeStamp(in.out, TimeStamp{static_cast<std::uint16_t>(d.year),
                                         static_cast<std::uint16_t>(d.month),
                                         static_cast<std::uint16_t>(d.day), 0, 0, 0, 0});
        r.null = a.null;
        break;
      }

      // Opcode: StringToWide A -> R
      // Synopsis: R = A widened  (8-bit text -> UTF-16)
      //
      // Each Windows-1252 byte becomes the UTF-16 unit of the character it stands for.
      case Op::kStringToWide: {
        const std::size_t la =
            std::min<std::size_t>(TextLength(a.data, in.a_width), (in.r_width - 2) / 2);
        for (std::size_t i = 0; i < la; ++i) {
          StoreAs<char16_t>(in.out + 2 + 2 * i, Cp1252ToUnicode(a.data[i]));
        }
        StoreAs<std::uint16_t>(in.out, static_cast<std::uint16_t>(la * 2));
        r.null = a.null;
        break;
      }

      // Opcode: BoolToString A -> R
      // Synopsis: R = "True" or "False"
      //
      // The boolean as text, for "=" and "<>" between a boolean and a text.
      case Op::kBoolToString:
        if (LoadAs<std::uint16_t>(a.data) != 0) {
          std::memcpy(in.out, "True", 5);
        } else {
          std::memcpy(in.out, "False", 6);
        }
        r.null = a.null;
        r.length = kUnknownLength;  // a text result is measured afresh when written
        r.ascii = kAsciiUnknown;
        break;

      // Opcode: Like A B -> R   (pattern aux, flags)
      // Synopsis: R = A LIKE B  (8-bit text)
      //
      // A constant pattern was prepared when compiling; any other is prepared here, in room
      // reserved for the pattern operand's width.
      case Op::kLike: {
        LikePattern& pattern = patterns[in.aux];
        if (in.flags & kFlagDynamic) {
          pattern.Prepare(Chars(b.data), TextLength(b.data, in.b_width),
                          (in.flags & kFlagCaseInsensitive) != 0);
        }
        const bool v = pattern.MatchesText(Chars(a.data), in.a_width);
        StoreAs<std::uint16_t>(in.out, v ? 1 : 0);
        r.null = a.null | b.null;
        break;
      }

      // Opcode: LikeBlob A B -> R   (pattern aux, flags)
      // Synopsis: R = A LIKE B  (memo: the whole blob)
      //
      // The memo's bytes come from the blob source; handle 0 is an empty memo, and a blob
      // that cannot be fetched does not match.
      case Op::kLikeBlob: {
        LikePattern& pattern = patterns[in.aux];
        if (in.flags & kFlagDynamic) {
          pattern.Prepare(Chars(b.data), TextLength(b.data, in.b_width),
                          (in.flags & kFlagCaseInsensitive) != 0);
        }
        const std::uint32_t handle = LoadAs<std::uint32_t>(a.data);
        bool v = false;
        if (handle == 0) {
          v = pattern.Matches("", 0);
        } else if (blobs != nullptr && !a.null) {
          const std::uint8_t* bytes = nullptr;
          std::uint32_t length = 0;
          if (blobs->BlobBytes(handle, &bytes, &length) == DBResult::kOk &&
              (bytes != nullptr || length == 0)) {
            v = pattern.Matches(Chars(bytes), length);
          }
        }
        StoreAs<std::uint16_t>(in.out, v ? 1 : 0);
        r.null = a.null | b.null;
        break;
      }

      // Opcode: In A -> R   (list aux)
      // Synopsis: R = A IN (items)
      //
      // 1 when an item equals A: text by the collation (case-sensitive), floats and
      // date-times by value, everything else by its bytes. A null item matches nothing;
      // the result is null only when A is.
      case Op::kIn: {
        const InList& list = lists[in.aux];
        bool v = false;
        const std::size_t la = list.type == FT_STRING ? TextLength(a.data, in.a_width) : 0;
        for (std::uint16_t item_slot : list.items) {
          const Slot& item = slots[item_slot];
          if (item.null) continue;
          const SlotInfo& info = slot_info[item_slot];
          switch (list.type) {
            case FT_STRING: {
              const std::size_t li = TextLength(item.data, info.width);
              v = (la == li && std::memcmp(a.data, item.data, la) == 0) ||
                  collation->Compare8(Chars(a.data), la, Chars(item.data), li) == 0;
              break;
            }
            case FT_WIDESTRING: {
              const std::size_t x =
                  std::min<std::size_t>(LoadAs<std::uint16_t>(a.data), in.a_width - 2) / 2;
              const std::size_t y =
                  std::min<std::size_t>(LoadAs<std::uint16_t>(item.data), info.width - 2) / 2;
              std::memcpy(wide_a.data(), a.data + 2, x * 2);
              std::memcpy(wide_b.data(), item.data + 2, y * 2);
              v = collation->Compare16(wide_a.data(), x, wide_b.data(), y) == 0;
              break;
            }
            case FT_FLOAT:
            case FT_DATETIME:
              v = LoadAs<double>(a.data) == LoadAs<double>(item.data);
              break;
            case FT_INT16:
              v = LoadAs<std::int16_t>(a.data) == LoadAs<std::int16_t>(item.data);
              break;
            case FT_INT32:
            case FT_DATE:
            case FT_TIME:
              v = LoadAs<std::int32_t>(a.data) == LoadAs<std::int32_t>(item.data);
              break;
            case FT_BOOL:
              v = (LoadAs<std::uint16_t>(a.data) != 0) == (LoadAs<std::uint16_t>(item.data) != 0);
              break;
            case FT_SQLTIMESTAMP:
              v = CompareTimeStamps(a.data, item.data) == 0;
              break;
            default:
              v = in.a_width == info.width && std::memcmp(a.data, item.data, info.width) == 0;
              break;
          }
          if (v) break;
        }
        StoreAs<std::uint16_t>(in.out, v ? 1 : 0);
        r.null = a.null;
        break;
      }

      // Opcode: Upper A -> R   (also Lower)
      // Synopsis: R = UPPER(A)
      //
      // Each character through the Windows-1252 case mapping.
      case Op::kUpper:
      case Op::kLower: {
        const std::size_t la =
            std::min<std::size_t>(TextLength(a.data, in.a_width), in.r_width - 1);
        for (std::size_t i = 0; i < la; ++i) {
          in.out[i] = in.op == Op::kUpper ? UpperCp1252(a.data[i]) : LowerCp1252(a.data[i]);
        }
        in.out[la] = 0;
        r.null = a.null;
        r.length = kUnknownLength;  // a text result is measured afresh when written
        r.ascii = kAsciiUnknown;
        break;
      }

      // Opcode: Substring A B [C] -> R
      // Synopsis: R = SUBSTRING(A, B[, C])
      //
      // From character B (1 = the first) on, at most C of them; empty when B is below 1 or
      // past the end. B and C are truncated toward zero. Null when any argument is.
      case Op::kSubstring: {
        const std::size_t la =
            std::min<std::size_t>(TextLength(a.data, in.a_width), in.r_width - 1);
        std::int64_t start = 0;
        std::int64_t count = static_cast<std::int64_t>(la);
        bool ok = Truncated(LoadAs<double>(b.data), 1e15, &start);
        std::uint8_t null = a.null | b.null;
        if (in.c != kNoSlot) {
          const Slot& c = *in.sc;
          ok = ok && Truncated(LoadAs<double>(c.data), 1e15, &count);
          null |= c.null;
        }
        std::size_t n = 0;
        if (ok && start >= 1 && start <= static_cast<std::int64_t>(la) && count > 0) {
          n = std::min<std::size_t>(static_cast<std::size_t>(count),
                                    la - static_cast<std::size_t>(start - 1));
          std::memmove(in.out, a.data + start - 1, n);
        }
        in.out[n] = 0;
        r.null = null;
        r.length = kUnknownLength;  // a text result is measured afresh when written
        r.ascii = kAsciiUnknown;
        break;
      }

      // Opcode: Trim A [B] -> R   (cond: both, left or right)
      // Synopsis: R = TRIM(A[, B])
      //
      // Removes the leading and/or trailing runs of the trim character: B's first
      // character, or a blank when B is absent or empty.
      case Op::kTrim: {
        std::size_t begin = 0;
        std::size_t end = std::min<std::size_t>(TextLength(a.data, in.a_width), in.r_width - 1);
        std::uint8_t ch = ' ';
        if (in.b != kNoSlot && b.data[0] != 0) ch = b.data[0];
        if (in.cond != kTrimRight) {
          while (begin < end && a.data[begin] == ch) ++begin;
        }
        if (in.cond != kTrimLeft) {
          while (end > begin && a.data[end - 1] == ch) --end;
        }
        std::memmove(in.out, a.data + begin, end - begin);
        in.out[end - begin] = 0;
        r.null = a.null | (in.b != kNoSlot ? b.null : 0);
        r.length = kUnknownLength;  // a text result is measured afresh when written
        r.ascii = kAsciiUnknown;
        break;
      }

      // Opcode: Year A -> R   (also Month, Day)
      // Synopsis: R = YEAR(A)  (as FLOAT)
      //
      // The calendar part of a date, or of a date-time's date.
      case Op::kYear:
      case Op::kMonth:
      case Op::kDay: {
        const std::int32_t day = (in.flags & kFlagDateTimeArg)
                                     ? ClampDay(SplitDateTime(LoadAs<double>(a.data)).day)
                                     : LoadAs<std::int32_t>(a.data);
        const CivilDate d = DateOfDayNumber(day);
        const std::int32_t part = in.op == Op::kYear    ? d.year
                                  : in.op == Op::kMonth ? d.month
                                                        : d.day;
        StoreAs<double>(in.out, part);
        r.null = a.null;
        break;
      }

      // Opcode: Hour A -> R   (also Minute, Second)
      // Synopsis: R = HOUR(A)  (as FLOAT)
      //
      // Whole hours and minutes of a time or a date-time's time; seconds with the
      // milliseconds as a fraction.
      case Op::kHour:
      case Op::kMinute:
      case Op::kSecond: {
        const std::int64_t ms = (in.flags & kFlagDateTimeArg)
                                    ? SplitDateTime(LoadAs<double>(a.data)).ms
                                    : TimeOfDayMs(LoadAs<std::int32_t>(a.data));
        const TimeOfDay t = TimeOfMs(static_cast<std::int32_t>(ms));
        const double part = in.op == Op::kHour     ? t.hour
                            : in.op == Op::kMinute ? t.minute
                                                   : t.second + t.millisecond / 1000.0;
        StoreAs<double>(in.out, part);
        r.null = a.null;
        break;
      }

      // Opcode: GetDate -> R
      // Synopsis: R = the local date and time now  (DATETIME, whole seconds)
      //
      // From the program's clock when one was given; never null.
      case Op::kGetDate:
        StoreAs<double>(in.out, clock != nullptr ? clock() : LocalNow());
        r.null = 0;
        break;

      // Opcode: GetSqlDate -> R
      // Synopsis: R = the local date and time now  (SQL time stamp, fraction 0)
      //
      // As GetDate; the argument is not read.
      case Op::kGetSqlDate: {
        TimeStamp t{};
        const bool ok = TimeStampOfMs(clock != nullptr ? clock() : LocalNow(), 0, &t);
        StoreTimeStamp(in.out, t);
        r.null = ok ? 0 : 1;
        break;
      }

      // Opcode: DateOf A -> R
      // Synopsis: R = DATE(A)  (the day number of a date-time; a date stays itself)
      //
      // The day part, rounded toward minus infinity.
      case Op::kDateOf:
        StoreAs<std::int32_t>(in.out, (in.flags & kFlagDateTimeArg)
                                          ? ClampDay(SplitDateTime(LoadAs<double>(a.data)).day)
                                          : LoadAs<std::int32_t>(a.data));
        r.null = a.null;
        break;

      // Opcode: TimeOf A -> R
      // Synopsis: R = TIME(A)  (the time of day of a date-time; a time stays itself)
      //
      // The milliseconds since midnight.
      case Op::kTimeOf:
        StoreAs<std::int32_t>(in.out, (in.flags & kFlagDateTimeArg)
                                          ? SplitDateTime(LoadAs<double>(a.data)).ms
                                          : LoadAs<std::int32_t>(a.data));
        r.null = a.null;
        break;
    }
  }
  const Slot& result = slots[root];
  return result.null == 0 && LoadAs<std::uint16_t>(result.data) != 0;
}

bool FilterProgram::Passes(const RecordRef& record) { return impl_->Run(record); }

}  // namespace zelvo
