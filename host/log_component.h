// The default log component ("ZellLog.Log") that the debug log writes through.
#pragma once

#include "tarn/value.h"

namespace tarn::detail {

ObjectRef NewLogComponent();

}  // namespace tarn::detail
