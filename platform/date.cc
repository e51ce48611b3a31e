// Placeholder: replaced by the calendar arithmetic of the Date kind.
#include "platform/date.h"

#include <cmath>
#include <ctime>

#include "platform/text.h"

namespace tarn::detail {

DateParts SplitSerial(double) { return {}; }
std::optional<double> MakeSerial(int, int, int, int, int, int) { return std::nullopt; }
std::u16string GeneralDateText(double serial) { return Widen(std::to_string(serial)); }
double DateOnly(double serial) { return std::trunc(serial); }
double TimeOnly(double serial) { return std::fabs(serial - std::trunc(serial)); }
double NowSerial() { return static_cast<double>(std::time(nullptr)) / 86400.0 + 25569.0; }

}  // namespace tarn::detail
