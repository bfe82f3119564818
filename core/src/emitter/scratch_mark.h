#pragma once
// A mark on one of the emitter's scratch stacks (operand lists, the links of
// a chain being walked): the stack is cut back to the mark when the mark goes
// out of scope, so a construct that pushes onto a shared stack leaves it as
// it found it on every path, an early return included.
#include <cstddef>
#include <span>
#include <vector>

namespace quendal {

template <class T>
class ScratchMark {
 public:
  explicit ScratchMark(std::vector<T>& stack) : stack_(&stack), base_(stack.size()) {}
  ScratchMark(const ScratchMark&) = delete;
  ScratchMark& operator=(const ScratchMark&) = delete;
  ~ScratchMark() { release(); }

  // The size of the stack at the mark.
  std::size_t base() const { return base_; }
  // Whether items pushed since the mark are left.
  bool holds() const { return stack_->size() > base_; }
  std::size_t count() const { return stack_->size() - base_; }
  // The items pushed since the mark (valid until the stack next grows).
  std::span<T> items() const { return std::span<T>(*stack_).subspan(base_); }
  // Removes and returns the last item pushed since the mark; holds() must be
  // true.
  T pop() {
    T item = stack_->back();
    stack_->pop_back();
    return item;
  }
  // Cuts the stack back to the mark now (before code that must not see the
  // items); the mark stays, and cutting again does nothing.
  void release() {
    if (stack_->size() > base_) stack_->resize(base_);
  }

 private:
  std::vector<T>* stack_;
  std::size_t base_;
};

}  // namespace quendal
