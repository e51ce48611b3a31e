// The operand stack: a singly linked chain of cells, each holding a counted
// reference to one item (a data field or an empty reference).
#pragma once

#include <memory>
#include <string>

#include "tarn/value.h"

namespace tarn::detail {

struct StackCell {
  ObjectRef objValue;
  std::unique_ptr<StackCell> objNextCell;
};

class Stack {
 public:
  Stack() = default;
  ~Stack();
  Stack(const Stack&) = delete;  // cells are owned once
  Stack& operator=(const Stack&) = delete;

  // The top item, removed; an empty reference when the stack is empty.
  ObjectRef Pop() noexcept;
  ObjectRef PeekStack() const noexcept;
  // The item under the top; raises 91 on a stack of one item.
  ObjectRef PeekStackItem2() const;
  // Removes the item under the top; raises 91 below two items. Returns true.
  bool DeleteStackItem2();
  // Never raises: a push that cannot allocate leaves the stack as it was.
  void Push(const ObjectRef& objValue) noexcept;
  bool IsStackEmpty() const noexcept { return !mobjTopCell; }
  // One line per item from the top: Name TAB Data TAB DataType CR LF.
  std::u16string AsText() const;
  void EmptyStack() noexcept;

 private:
  // Released cells are kept for reuse: evaluations push and pop a handful
  // of cells each, many times a second.
  StackCell* TakeCell() noexcept;
  void Recycle(std::unique_ptr<StackCell> cell) noexcept;

  std::unique_ptr<StackCell> mobjTopCell;
  std::unique_ptr<StackCell> free_cells_;
  int free_count_ = 0;
};

}  // namespace tarn::detail
