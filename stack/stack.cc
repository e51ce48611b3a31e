#include "stack/stack.h"

#include <new>

#include "tarn/convert.h"
#include "tarn/object.h"

namespace tarn::detail {

namespace {
constexpr int kKeptCells = 32;
}

Stack::~Stack() {
  EmptyStack();
  while (free_cells_) free_cells_ = std::move(free_cells_->objNextCell);
}

StackCell* Stack::TakeCell() noexcept {
  if (!free_cells_) return new (std::nothrow) StackCell;
  std::unique_ptr<StackCell> cell = std::move(free_cells_);
  free_cells_ = std::move(cell->objNextCell);
  --free_count_;
  return cell.release();
}

void Stack::Recycle(std::unique_ptr<StackCell> cell) noexcept {
  cell->objValue = nullptr;
  if (free_count_ >= kKeptCells) return;  // `cell` is released here
  cell->objNextCell = std::move(free_cells_);
  free_cells_ = std::move(cell);
  ++free_count_;
}

ObjectRef Stack::Pop() noexcept {
  if (!mobjTopCell) return {};
  std::unique_ptr<StackCell> top = std::move(mobjTopCell);
  mobjTopCell = std::move(top->objNextCell);
  ObjectRef item = std::move(top->objValue);
  Recycle(std::move(top));
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
  mobjTopCell->objNextCell = std::move(removed->objNextCell);
  Recycle(std::move(removed));
  return true;
}

void Stack::Push(const ObjectRef& objValue) noexcept {
  StackCell* cell = TakeCell();
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
  while (mobjTopCell) {
    std::unique_ptr<StackCell> top = std::move(mobjTopCell);
    mobjTopCell = std::move(top->objNextCell);
    Recycle(std::move(top));
  }
}

}  // namespace tarn::detail
