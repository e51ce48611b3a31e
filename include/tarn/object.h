// Late-bound calls, run-time errors and the process-wide class table.
//
// A host reaches the library's objects, and the library reaches the host's,
// only through Object::Invoke with a member name. The helpers below wrap the
// common shapes of such calls.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include "tarn/value.h"

namespace tarn {

// A run-time error of the platform: a number, a source and a description.
class TARN_API RuntimeError : public std::exception {
 public:
  RuntimeError(std::int32_t number, std::u16string source, std::u16string description);
  std::int32_t number() const noexcept { return number_; }
  const std::u16string& source() const noexcept { return source_; }
  const std::u16string& description() const noexcept { return description_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  std::int32_t number_;
  std::u16string source_;
  std::u16string description_;
  std::string what_;
};

// Platform error numbers used by the library.
namespace err {
inline constexpr std::int32_t kInvalidProcedureCall = 5;
inline constexpr std::int32_t kOverflow = 6;
inline constexpr std::int32_t kOutOfMemory = 7;
inline constexpr std::int32_t kSubscriptOutOfRange = 9;
inline constexpr std::int32_t kDivisionByZero = 11;
inline constexpr std::int32_t kTypeMismatch = 13;
inline constexpr std::int32_t kObjectNotSet = 91;
inline constexpr std::int32_t kInvalidUseOfNull = 94;
inline constexpr std::int32_t kObjectRequired = 424;
inline constexpr std::int32_t kCannotCreateObject = 429;
inline constexpr std::int32_t kMemberNotSupported = 438;
inline constexpr std::int32_t kArgumentNotOptional = 449;
inline constexpr std::int32_t kWrongArguments = 450;
}  // namespace err

// The platform's message for an error number ("Type mismatch" for 13); an
// unknown number gives "Application-defined or object-defined error".
TARN_API std::u16string ErrorDescription(std::int32_t number);

// Throws RuntimeError; an empty description takes the platform's message.
[[noreturn]] TARN_API void Raise(std::int32_t number, std::u16string source = {},
                                 std::u16string description = {});

// Member calls. A null object raises error 91.
TARN_API Variant Call(const ObjectRef& obj, std::u16string_view member, std::span<Arg> args = {});
TARN_API Variant Get(const ObjectRef& obj, std::u16string_view member, std::span<Arg> args = {});
TARN_API void Let(const ObjectRef& obj, std::u16string_view member, const Variant& value);
TARN_API void SetRef(const ObjectRef& obj, std::u16string_view member, const ObjectRef& value);

// Reads an object's default member; any other value comes back unchanged.
TARN_API Variant DefaultValue(const Variant& v);

// Process-wide class table: programmatic identifier -> factory. Identifiers
// compare without regard to letter case.
using ClassFactory = std::function<ObjectRef()>;
TARN_API void RegisterClass(std::u16string_view progid, ClassFactory factory);
TARN_API bool UnregisterClass(std::u16string_view progid);
TARN_API bool IsClassRegistered(std::u16string_view progid);
// Creates an object by identifier; an unknown one raises error 429.
TARN_API ObjectRef CreateObject(std::u16string_view progid);

// Helpers for implementing Invoke: the argument at `i`, or Missing.
TARN_API const Variant& ArgValue(std::span<Arg> args, std::size_t i) noexcept;
// Raises 438 for a member this object does not have.
[[noreturn]] TARN_API void RaiseNoMember(std::u16string_view member);
// Raises 450 unless there are exactly `n` arguments.
TARN_API void RequireArgs(std::span<Arg> args, std::size_t n);

}  // namespace tarn
