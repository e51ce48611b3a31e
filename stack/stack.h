// The operand stack: a singly linked chain of cells, each holding a counted
// reference to one item (a data field or an empty reference).
#pragma once

#include <string>

#include "tarn/value.h"

namespace tarn::detail {

struct StackCell {
  ObjectRef value;
  StackCell* next = nullptr;
};

class Stack {
 public:
  Stack() = default;
  ~Stack();
  Stack(const Stack&) = delete;  // cells are owned once
  Stack& operator=(const Stack&) = delete;

  // The top item, removed; an empty reference when the stack is empty.
  TARN_ALWAYS_INLINE ObjectRef Pop() noexcept {
    StackCell* top = top_;
    if (!top) return {};
    top_ = top->next;
    ObjectRef item = std::move(top->value);
    Recycle(top);
    return item;
  }
  ObjectRef PeekStack() const noexcept;
  // The item under the top; raises 91 on a stack of one item.
  ObjectRef PeekStackItem2() const;
  // Removes the item under the top; raises 91 below two items. Returns true.
  bool DeleteStackItem2();
  // Never raises: a push that cannot allocate leaves the stack as it was.
  TARN_ALWAYS_INLINE void Push(const ObjectRef& value) noexcept { Push(ObjectRef(value)); }
  TARN_ALWAYS_INLINE void Push(ObjectRef&& value) noexcept {
    StackCell* cell = free_cells_;
    if (cell) {
      free_cells_ = cell->next;
      --free_count_;
    } else {
      cell = NewCell();
      if (!cell) return;
    }
    cell->value = std::move(value);
    cell->next = top_;
    top_ = cell;
  }
  bool IsStackEmpty() const noexcept { return !top_; }
  // One line per item from the top: Name TAB Data TAB DataType CR LF.
  std::u16string AsText() const;
  void EmptyStack() noexcept;

 private:
  // Released cells are kept for reuse: evaluations push and pop a handful
  // of cells each, many times a second.
  static StackCell* NewCell() noexcept;
  void Recycle(StackCell* cell) noexcept {
    if (free_count_ >= kKeptCells) {
      delete cell;
      return;
    }
    cell->next = free_cells_;
    free_cells_ = cell;
    ++free_count_;
  }
  static constexpr int kKeptCells = 32;

  StackCell* top_ = nullptr;
  StackCell* free_cells_ = nullptr;
  int free_count_ = 0;
};

}  // namespace tarn::detail
