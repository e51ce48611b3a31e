// main() of the GoogleTest suites in the Windows build. The suites test the
// library's own components, so the default data field and log component
// are entered in the process's class table, as the Linux build does on its
// own, instead of coming from the system's registration.
#include <gtest/gtest.h>

#include "host/log_component.h"
#include "tarn/host.h"

namespace tarn::detail {
ObjectRef NewDefaultDataField();
}

int main(int argc, char** argv) {
  tarn::RegisterClass(tarn::kDataFieldProgId, &tarn::detail::NewDefaultDataField);
  tarn::RegisterClass(tarn::kLogProgId, &tarn::detail::NewLogComponent);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
