// The variant value and the counted object reference that every member call
// of the late-bound object layer passes around.
//
// A Variant carries its kind: Empty, Null, Integer (16-bit), Long (32-bit),
// Single, Double, Date, String (16-bit characters), Boolean (true is -1 when
// seen as a number), an object reference, or the marker of an omitted
// argument.
#pragma once

#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "tarn/export.h"

namespace tarn {

class Variant;
class Arg;

// How a member is reached: called as a method, read, assigned a value, or
// assigned an object reference.
enum class CallKind : std::uint8_t { Method, Get, Let, Set };

// Base of every object that the late-bound layer can reach. Reference counts
// are not atomic: an object belongs to the thread that created it.
class TARN_API Object {
 public:
  Object() noexcept;
  virtual ~Object();
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  // Calls, reads or assigns `member` (an empty name is the default member)
  // with positional arguments. Failures throw tarn::RuntimeError; a member
  // that the object lacks is error 438.
  virtual Variant Invoke(std::u16string_view member, CallKind kind, std::span<Arg> args) = 0;

  // The class name that TypeName reports for a reference to this object.
  virtual std::u16string_view ClassName() const noexcept;

  void AddRef() noexcept { ++refs_; }
  void DropRef() noexcept {
    if (--refs_ == 0) Dispose();
  }
  long ref_count() const noexcept { return refs_; }

 protected:
  // Called when the last reference goes; a class may keep the object for
  // reuse instead of deleting it.
  virtual void Dispose() noexcept { delete this; }

 private:
  long refs_ = 0;
};

// Counted reference to an Object (or a class derived from it).
template <class T>
class Ref {
 public:
  Ref() noexcept = default;
  Ref(std::nullptr_t) noexcept {}
  explicit Ref(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  Ref(const Ref& o) noexcept : Ref(o.p_) {}
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  // Only where a U* is a T*: any other conversion is RefCast's.
  template <class U>
  requires std::is_convertible_v<U*, T*> Ref(const Ref<U>& o)
  noexcept : Ref(static_cast<T*>(o.get())) {}
  template <class U>
  requires std::is_convertible_v<U*, T*> Ref(Ref<U>&& o)
  noexcept : p_(o.release()) {}
  ~Ref() {
    if (p_) p_->DropRef();
  }
  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // Gives up ownership without dropping the count.
  T* release() noexcept { return std::exchange(p_, nullptr); }

  friend bool operator==(const Ref& a, const Ref& b) noexcept { return a.p_ == b.p_; }

 private:
  T* p_ = nullptr;
};

template <class T, class... A>
Ref<T> MakeRef(A&&... a) {
  return Ref<T>(new T(std::forward<A>(a)...));
}

using ObjectRef = Ref<Object>;

// The object as a T, or an empty reference when it is none.
template <class T, class U>
Ref<T> RefCast(const Ref<U>& o) noexcept {
  return Ref<T>(dynamic_cast<T*>(o.get()));
}

// The kinds, numbered as the platform numbers them.
enum class Kind : std::uint8_t {
  Empty = 0,
  Null = 1,
  Integer = 2,
  Long = 3,
  Single = 4,
  Double = 5,
  Date = 7,
  String = 8,
  Object = 9,
  Missing = 10,  // an omitted optional argument
  Boolean = 11,
};

// A date: days since 30 December 1899, the time of day as the fraction.
struct Date {
  double serial = 0;
  friend bool operator==(Date a, Date b) noexcept { return a.serial == b.serial; }
};

struct NullValue {
  friend bool operator==(NullValue, NullValue) noexcept { return true; }
};
struct MissingValue {
  friend bool operator==(MissingValue, MissingValue) noexcept { return true; }
};

class TARN_API Variant {
 public:
  Variant() noexcept : kind_(Kind::Empty), raw_(0) {}
  Variant(std::int16_t v) noexcept : kind_(Kind::Integer), raw_(0) { integer_ = v; }
  Variant(std::int32_t v) noexcept : kind_(Kind::Long), raw_(0) { long_ = v; }
  Variant(float v) noexcept : kind_(Kind::Single), raw_(0) { single_ = v; }
  Variant(double v) noexcept : kind_(Kind::Double), raw_(0) { double_ = v; }
  Variant(Date v) noexcept : kind_(Kind::Date), raw_(0) { date_ = v; }
  Variant(bool v) noexcept : kind_(Kind::Boolean), raw_(0) { boolean_ = v; }
  Variant(std::u16string v) noexcept : kind_(Kind::String), string_(std::move(v)) {}
  Variant(std::u16string_view v) : kind_(Kind::String), string_(v) {}
  Variant(const char16_t* v) : kind_(Kind::String), string_(v) {}
  Variant(ObjectRef v) noexcept : kind_(Kind::Object), object_(std::move(v)) {}
  Variant(NullValue) noexcept : kind_(Kind::Null), raw_(0) {}
  Variant(MissingValue) noexcept : kind_(Kind::Missing), raw_(0) {}
  template <class T>
  Variant(T*) = delete;  // no silent pointer-to-Boolean

  Variant(const Variant& o) : kind_(o.kind_) { CopyFrom(o); }
  Variant(Variant&& o) noexcept : kind_(o.kind_) { MoveFrom(std::move(o)); }
  Variant& operator=(const Variant& o) {
    if (this == &o) return *this;
    if (kind_ == Kind::String && o.kind_ == Kind::String) {
      string_ = o.string_;
      return *this;
    }
    Variant copy(o);  // may throw: this stays as it was
    Destroy();
    kind_ = copy.kind_;
    MoveFrom(std::move(copy));
    return *this;
  }
  Variant& operator=(Variant&& o) noexcept {
    if (this == &o) return *this;
    if (kind_ == Kind::String && o.kind_ == Kind::String) {
      string_ = std::move(o.string_);
      return *this;
    }
    Destroy();
    kind_ = o.kind_;
    MoveFrom(std::move(o));
    return *this;
  }
  ~Variant() { Destroy(); }

  static Variant Null() noexcept { return Variant(NullValue{}); }
  static Variant Missing() noexcept { return Variant(MissingValue{}); }

  Kind kind() const noexcept { return kind_; }
  // "Empty", "Null", "Integer", "Long", "Single", "Double", "Date", "String",
  // "Boolean", "Error" for an omitted argument, the object's class name (or
  // "Nothing" for an empty reference) for an object.
  std::u16string TypeName() const;

  bool is_empty() const noexcept { return kind_ == Kind::Empty; }
  bool is_null() const noexcept { return kind_ == Kind::Null; }
  bool is_string() const noexcept { return kind_ == Kind::String; }
  bool is_object() const noexcept { return kind_ == Kind::Object; }
  bool is_missing() const noexcept { return kind_ == Kind::Missing; }

  // Makes this the text `v`, reusing the buffer when it is a text already;
  // a copy that fails leaves it Empty.
  void set_string(std::u16string_view v) {
    if (kind_ == Kind::String) {
      string_.assign(v);
      return;
    }
    Destroy();
    new (&string_) std::u16string(v);
    kind_ = Kind::String;
  }

  // Unchecked accessors: the kind must match.
  std::int16_t integer() const noexcept { return integer_; }
  std::int32_t long_value() const noexcept { return long_; }
  float single() const noexcept { return single_; }
  double double_value() const noexcept { return double_; }
  Date date() const noexcept { return date_; }
  const std::u16string& string() const noexcept { return string_; }
  std::u16string& string() noexcept { return string_; }
  const ObjectRef& object() const noexcept { return object_; }
  bool boolean() const noexcept { return boolean_; }

  friend bool operator==(const Variant& a, const Variant& b) noexcept {
    if (a.kind_ != b.kind_) return false;
    switch (a.kind_) {
      case Kind::Integer: return a.integer_ == b.integer_;
      case Kind::Long: return a.long_ == b.long_;
      case Kind::Single: return a.single_ == b.single_;
      case Kind::Double: return a.double_ == b.double_;
      case Kind::Date: return a.date_ == b.date_;
      case Kind::String: return a.string_ == b.string_;
      case Kind::Object: return a.object_ == b.object_;
      case Kind::Boolean: return a.boolean_ == b.boolean_;
      default: return true;  // Empty, Null, Missing
    }
  }

 private:
  // Constructs this (whose kind_ is already o's) from o.
  void CopyFrom(const Variant& o) {
    if (kind_ == Kind::String)
      new (&string_) std::u16string(o.string_);
    else if (kind_ == Kind::Object)
      new (&object_) ObjectRef(o.object_);
    else
      raw_ = o.raw_;
  }
  void MoveFrom(Variant&& o) noexcept {
    if (kind_ == Kind::String)
      new (&string_) std::u16string(std::move(o.string_));
    else if (kind_ == Kind::Object)
      new (&object_) ObjectRef(std::move(o.object_));
    else
      raw_ = o.raw_;
  }
  void Destroy() noexcept {
    if (kind_ == Kind::String)
      string_.~basic_string();
    else if (kind_ == Kind::Object)
      object_.~ObjectRef();
    kind_ = Kind::Empty;
    raw_ = 0;
  }

  Kind kind_;
  union {
    std::uint64_t raw_;  // copies the plain kinds whole
    std::int16_t integer_;
    std::int32_t long_;
    float single_;
    double double_;
    Date date_;
    bool boolean_;
    std::u16string string_;
    ObjectRef object_;
  };
};

// One positional argument of a member call: by value (borrowed for the call),
// by reference (the callee may assign the caller's variable), or omitted.
class TARN_API Arg {
 public:
  static Arg ByVal(const Variant& v) noexcept { return Arg(&v, nullptr); }
  static Arg ByRef(Variant& v) noexcept { return Arg(&v, &v); }
  static Arg Omitted() noexcept;

  const Variant& value() const noexcept { return *value_; }
  // The caller's variable when passed by reference, else null.
  Variant* byref() const noexcept { return ref_; }
  bool omitted() const noexcept { return value_->is_missing(); }

 private:
  Arg(const Variant* v, Variant* r) noexcept : value_(v), ref_(r) {}
  const Variant* value_;
  Variant* ref_;
};

// UTF-8 convenience for hosts; the library works in 16-bit characters.
TARN_API std::u16string FromUtf8(std::string_view text);
TARN_API std::string ToUtf8(std::u16string_view text);

}  // namespace tarn
