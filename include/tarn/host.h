// Default host components: the data field ("ZellDFld.DataField"), the keyed
// collection of data fields and an error manager that records each report.
//
// A host may hand the interpreter objects of its own instead; the
// interpreter reaches all of them only by member name.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tarn/object.h"

namespace tarn {

inline constexpr std::u16string_view kDataFieldProgId = u"ZellDFld.DataField";
inline constexpr std::u16string_view kLogProgId = u"ZellLog.Log";

// Members: Name, DataType, Data (the default member) and DataClass. The
// library reads and writes its own fields directly; a class derived from
// this one is reached by member name like any other object.
class TARN_API DataField : public Object {
 public:
  DataField() noexcept = default;
  DataField(std::u16string name, std::u16string data_type, Variant data);
  // A new, empty field; released fields are kept per thread and handed out
  // again, so that the temporary fields of an evaluation cost no allocation.
  static Ref<DataField> Create();

  Variant Invoke(std::u16string_view member, CallKind kind, std::span<Arg> args) override;
  std::u16string_view ClassName() const noexcept override { return u"DataField"; }

  const std::u16string& name() const noexcept { return name_; }
  const std::u16string& data_type() const noexcept { return data_type_; }
  const Variant& data() const noexcept { return data_; }
  const std::u16string& data_class() const noexcept { return data_class_; }
  // Texts are assigned in place: a field keeps its buffers, and an equal
  // text is not copied at all.
  void set_name(std::u16string_view v) { Assign(name_, v); }
  void set_data_type(std::u16string_view v) { Assign(data_type_, v); }
  void set_data_class(std::u16string_view v) { Assign(data_class_, v); }
  // A copy reuses the room of the text there.
  void set_data(const Variant& v) { data_ = v; }
  void set_data(Variant&& v) { data_ = std::move(v); }
  // Makes Data the text `v`, in the room of the text there.
  void set_data_text(std::u16string_view v) { data_.set_string(v); }

 private:
  TARN_ALWAYS_INLINE static void Assign(std::u16string& to, std::u16string_view v) {
    const std::size_t n = v.size();
    if (to.size() == n && n >= 4 && n <= 8) {
      // The usual names and type words: two overlapping 8-byte words from
      // each end, compared and, where they differ, copied in place.
      std::uint64_t a0, a1, b0, b1;
      std::memcpy(&a0, v.data(), 8);
      std::memcpy(&a1, v.data() + n - 4, 8);
      std::memcpy(&b0, to.data(), 8);
      std::memcpy(&b1, to.data() + n - 4, 8);
      if (((a0 ^ b0) | (a1 ^ b1)) != 0) {
        std::memcpy(to.data(), &a0, 8);
        std::memcpy(to.data() + n - 4, &a1, 8);
      }
      return;
    }
    if (to.size() != n || (n != 0 && std::memcmp(to.data(), v.data(), n * sizeof(char16_t)) != 0)) {
      to.clear();
      to.append(v.data(), n);
    }
  }

  std::u16string name_, data_type_, data_class_;
  Variant data_;
};

// The library's own DataField behind a reference, whose members may be read
// directly; null for any other object (a class derived from DataField too).
TARN_API DataField* AsDataField(const Object* o) noexcept;

// A keyed collection whose keys compare without regard to letter case.
// Members: Item(key), Exists(key), AddObject(field) (0 when added, 457 when
// the key is taken), Remove(key), mCol (the inner collection, whose Item
// gives the same fields), Count. Item and Remove of a missing key raise 5.
class TARN_API DataFields : public Object {
 public:
  // A new, empty collection (MakeRef<DataFields>() gives the same).
  static Ref<DataFields> Create();

  std::u16string_view ClassName() const noexcept override { return u"DataFields"; }

  // Adds a field under its Name; false when the key is taken.
  virtual bool Add(const ObjectRef& field, std::u16string_view key) = 0;
  // Convenience for hosts: a new default DataField added under `name`.
  Ref<DataField> AddField(std::u16string_view name, std::u16string_view data_type, Variant data);
  // Puts `field` under `key` in place of the field there, which it returns
  // (null when there was none): the same as removing that field and adding
  // this one under `key`, without giving up the entry's room.
  virtual ObjectRef Put(std::u16string_view key, const ObjectRef& field) = 0;
  virtual ObjectRef Find(std::u16string_view key) const = 0;  // null when missing
  virtual bool Exists(std::u16string_view key) const = 0;
  virtual bool Erase(std::u16string_view key) = 0;
  virtual std::size_t Count() const noexcept = 0;
  // Keys in the order they were added.
  virtual std::vector<std::u16string> Keys() const = 0;

 protected:
  DataFields() = default;
};

template <>
inline Ref<DataFields> MakeRef<DataFields>() {
  return DataFields::Create();
}

// One call of ReportError with its eleven arguments.
struct ErrorReport {
  std::int32_t number = 0;
  std::u16string message;
  Date when;
  std::int16_t arg4 = 0, arg5 = 0;
  bool arg6_omitted = false;
  std::u16string system, application, release, class_name, procedure;
};

// Records every report; ReportError returns `result()` (0 by default).
class TARN_API RecordingErrorManager final : public Object {
 public:
  Variant Invoke(std::u16string_view member, CallKind kind, std::span<Arg> args) override;
  std::u16string_view ClassName() const noexcept override { return u"ErrorManager"; }

  const std::vector<ErrorReport>& reports() const noexcept { return reports_; }
  void Clear() noexcept { reports_.clear(); }
  void set_result(std::int32_t r) noexcept { result_ = r; }
  std::int32_t result() const noexcept { return result_; }

 private:
  std::vector<ErrorReport> reports_;
  std::int32_t result_ = 0;
};

// Registers "ZellDFld.DataField" (and the default log component) in the class
// table unless a host registered its own. The interpreter calls it on creation.
TARN_API void RegisterDefaultComponents();

}  // namespace tarn
