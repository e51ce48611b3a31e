// The count of the library's live objects that keep it loaded (interpreters
// and class factories), behind DllCanUnloadNow. An object that counts holds
// a LiveObject member.
#pragma once

namespace tarn::detail {

class LiveObject {
 public:
  LiveObject() noexcept;
  LiveObject(const LiveObject&) noexcept : LiveObject() {}
  LiveObject& operator=(const LiveObject&) noexcept { return *this; }
  ~LiveObject();
};

long LiveObjectCount() noexcept;

}  // namespace tarn::detail
