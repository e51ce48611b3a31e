#include "stack/stack.h"

#include <new>

#include "tarn/convert.h"
#include "tarn/object.h"

namespace tarn::detail {

Stack::~Stack() {
  EmptyStack();
  while (StackCell* c = free_cells_) {
    free_cells_ = c->objNextCell;
    delete c;
  }
}

StackCell* Stack::NewCell() noexcept { return new (std::nothrow) StackCell; }

ObjectRef Stack::PeekStack() const noexcept {
  return mobjTopCell ? mobjTopCell->objValue : ObjectRef();
}

ObjectRef Stack::PeekStackItem2() const {
  if (!mobjTopCell) return {};
  if (!mobjTopCell->objNextCell) Raise(err::kObjectNotSet);
  return mobjTopCell->objNextCell->objValue;
}

bool Stack::DeleteStackItem2() {
  if (!mobjTopCell || !mobjTopCell->objNextCell) Raise(err::kObjectNotSet);
  StackCell* removed = mobjTopCell->objNextCell;
  mobjTopCell->objNextCell = removed->objNextCell;
  removed->objValue = nullptr;
  Recycle(removed);
  return true;
}

std::u16string Stack::AsText() const {
  std::u16string text;
  for (const StackCell* c = mobjTopCell; c; c = c->objNextCell) {
    text += CStr(Get(c->objValue, u"Name"));
    text += u'\t';
    text += CStr(Get(c->objValue, u"Data"));
    text += u'\t';
    text += CStr(Get(c->objValue, u"DataType"));
    text += u"\r\n";
  }
  return text;
}

void Stack::EmptyStack() noexcept {
  // Iterative, so that a long chain cannot exhaust the native stack.
  while (StackCell* top = mobjTopCell) {
    mobjTopCell = top->objNextCell;
    top->objValue = nullptr;
    Recycle(top);
  }
}

}  // namespace tarn::detail
