// The operand stack and its pool of released cells.
#include "stack/stack.h"

#include <new>

#include "tarn/convert.h"
#include "tarn/object.h"

namespace tarn::detail {

Stack::~Stack() {
  EmptyStack();
  while (StackCell* c = free_cells_) {
    free_cells_ = c->next;
    delete c;
  }
}

StackCell* Stack::NewCell() noexcept { return new (std::nothrow) StackCell; }

ObjectRef Stack::PeekStack() const noexcept { return top_ ? top_->value : ObjectRef(); }

ObjectRef Stack::PeekStackItem2() const {
  if (!top_) return {};
  if (!top_->next) Raise(err::kObjectNotSet);
  return top_->next->value;
}

bool Stack::DeleteStackItem2() {
  if (!top_ || !top_->next) Raise(err::kObjectNotSet);
  StackCell* removed = top_->next;
  top_->next = removed->next;
  removed->value = nullptr;
  Recycle(removed);
  return true;
}

std::u16string Stack::AsText() const {
  std::u16string text;
  for (const StackCell* c = top_; c; c = c->next) {
    text += CStr(Get(c->value, u"Name"));
    text += u'\t';
    text += CStr(Get(c->value, u"Data"));
    text += u'\t';
    text += CStr(Get(c->value, u"DataType"));
    text += u"\r\n";
  }
  return text;
}

void Stack::EmptyStack() noexcept {
  // Iterative, so that a long chain cannot exhaust the native stack.
  while (StackCell* top = top_) {
    top_ = top->next;
    top->value = nullptr;
    Recycle(top);
  }
}

}  // namespace tarn::detail
