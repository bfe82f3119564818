#pragma once
// Ranges of the element types that sit between tree nodes. The node-level
// walkers (range_of for Expression, Statement, Pattern, ...) are declared
// with the tree itself.
#include "parser/ast.h"

namespace quendal {

// Where a node starts and ends: range_of's two halves, each found by
// following the first (or last) child in a loop, so that a chain of any
// length is crossed without recursion.
std::uint64_t start_of(const Expression& node);
std::uint64_t end_of(const Expression& node);
std::uint64_t start_of(const Pattern& node);
std::uint64_t end_of(const Pattern& node);

SourceRange range_of(const ArrayElement& element);
SourceRange range_of(const ArgumentElement& element);
SourceRange range_of(const PatternElement& element);
SourceRange range_of(const RecordElement& element);
SourceRange range_of(const PatternRecordElement& element);
SourceRange range_of(const ElseBlock& node);

// item.start .. (comma or item).end
template <class T>
SourceRange range_of(const ListItem<T>& item) {
  SourceRange range = range_of(item.item);
  if (!item.comma.is_null()) range.end = item.comma.range().end;
  return range;
}

}  // namespace quendal
