// The canonical expression: the self-contained byte block into which the client parses a
// filter text and from which the engine compiles its filter program. Little-endian, packed.
#pragma once

#include <cstdint>

namespace zelvo {

// Header (10 bytes): version, total size, 0xFFFF, node area offset, literal area offset.
constexpr std::uint16_t kCanonicalVersion = 2;
constexpr std::uint32_t kCanonicalHeaderSize = 10;
constexpr std::uint16_t kCanonicalMarker = 0xFFFF;
// Every offset in the block is 16-bit, so a whole expression fits in 65535 bytes.
constexpr std::uint32_t kCanonicalMaxSize = 0xFFFF;

// The first word of a node record. Its operands follow the two 32-bit words as u16 values.
enum NodeClass : std::uint32_t {
  kUnaryNode = 1,      // operand
  kBinaryNode = 2,     // left, right
  kCompareNode = 3,    // case-insensitive flag, partial length, left (a field), right (a string)
  kFieldNode = 4,      // field number, name offset in the literal area
  kConstNode = 5,      // engine field type, size in bytes, value offset in the literal area
  kFuncNode = 10,      // name offset in the literal area, first argument list element or 0
  kListElemNode = 11,  // value node, next list element or 0
};

// The second word of a node record.
enum CanonicalOp : std::uint32_t {
  kOpNone = 0,
  kOpIsBlank = 1,
  kOpNotBlank = 2,
  kOpEq = 3,
  kOpNe = 4,
  kOpGt = 5,
  kOpLt = 6,
  kOpGe = 7,
  kOpLe = 8,
  kOpNot = 9,
  kOpAnd = 10,
  kOpOr = 11,
  kOpField = 13,
  kOpConst = 14,
  kOpAdd = 16,
  kOpSub = 17,
  kOpMul = 18,
  kOpDiv = 19,
  kOpLike = 30,
  kOpIn = 31,
  kOpFunc = 35,
  kOpListElem = 36,
};

// Number of u16 operands of a node class; 0 for a class that does not exist.
constexpr std::uint32_t NodeOperandCount(std::uint32_t node_class) {
  switch (node_class) {
    case kUnaryNode:
      return 1;
    case kBinaryNode:
      return 2;
    case kCompareNode:
      return 4;
    case kFieldNode:
      return 2;
    case kConstNode:
      return 3;
    case kFuncNode:
      return 2;
    case kListElemNode:
      return 2;
    default:
      return 0;
  }
}

constexpr std::uint32_t NodeRecordSize(std::uint32_t node_class) {
  return 8 + 2 * NodeOperandCount(node_class);
}

}  // namespace zelvo
