#include "stack/stack.h"

#include <new>

#include "tarn/convert.h"
#include "tarn/object.h"

namespace tarn::detail {

Stack::~Stack() { EmptyStack(); }

ObjectRef Stack::Pop() noexcept {
  if (!mobjTopCell) return {};
  ObjectRef item = std::move(mobjTopCell->objValue);
  mobjTopCell = std::move(mobjTopCell->objNextCell);
  return item;
}

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
  std::unique_ptr<StackCell> removed = std::move(mobjTopCell->objNextCell);
  removed->objValue = nullptr;
  mobjTopCell->objNextCell = std::move(removed->objNextCell);
  return true;
}

void Stack::Push(const ObjectRef& objValue) noexcept {
  StackCell* cell = new (std::nothrow) StackCell;
  if (!cell) return;
  cell->objValue = objValue;
  cell->objNextCell = std::move(mobjTopCell);
  mobjTopCell.reset(cell);
}

std::u16string Stack::AsText() const {
  std::u16string text;
  for (const StackCell* c = mobjTopCell.get(); c; c = c->objNextCell.get()) {
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
  while (mobjTopCell) mobjTopCell = std::move(mobjTopCell->objNextCell);
}

}  // namespace tarn::detail
