// The host's extra fields are plain data fields added to the record before
// it is built, so that templates reach them as they reach any member.
#include "hl7/outbound.h"

#include <ctime>
#include <limits>

#include "hl7/record_dates.h"

namespace tarn::hl7 {

namespace {

bool HasMember(const Record& record, std::u16string_view name) {
  for (const Field& f : record.fields) {
    if (f.name.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) {
      char16_t a = f.name[i], b = name[i];
      if (a >= u'a' && a <= u'z') a = static_cast<char16_t>(a - 32);
      if (b >= u'a' && b <= u'z') b = static_cast<char16_t>(b - 32);
      same = a == b;
    }
    if (same) return true;
  }
  return false;
}

}  // namespace

double LocalNowSerial() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  // A leap second (tm_sec 60) counts as the second before it.
  return CivilSerial(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                     t.tm_sec > 59 ? 59 : t.tm_sec)
      .value_or(0);
}

void AddHostFields(Record& record, double now_serial, std::string_view control_id) {
  if (!HasMember(record, kNowField))
    record.fields.push_back({std::u16string(kNowField), u"Date", Variant(Date{now_serial})});
  if (!HasMember(record, kControlIdField))
    record.fields.push_back(
        {std::u16string(kControlIdField), u"String", Variant(FromUtf8(control_id))});
  if (!HasMember(record, kRecordNumberField)) {
    const Variant number =
        record.number <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())
            ? Variant(static_cast<std::int32_t>(record.number))
            : Variant(static_cast<double>(record.number));
    record.fields.push_back({std::u16string(kRecordNumberField),
                             number.kind() == Kind::Long ? u"Long" : u"Double", number});
  }
}

Outbound::Outbound(OutboundOptions options) : options_(std::move(options)) {
  if (!options_.journal.empty()) {
    journal_ = std::make_unique<Journal>(options_.journal, options_.control_prefix);
    counter_offset_ = journal_->control_offset().value_or(0);
  }
  if (options_.delivery) sender_ = std::make_unique<Sender>(*options_.delivery);
}

std::string Outbound::ControlIdFor(std::size_t record) const {
  return options_.control_prefix +
         std::to_string(counter_offset_ + static_cast<std::int64_t>(record));
}

Disposition Outbound::Deliver(std::size_t record, std::string_view message,
                              DeliveryResult& result) {
  const DeliveryResult& r = result = sender_->Deliver(message);
  if (r.outcome == DeliveryOutcome::Unreachable) return Disposition::Unreachable;
  const bool delivered = r.outcome == DeliveryOutcome::Delivered;
  if (journal_) journal_->Append({record, delivered, r.control_id, r.reason});
  return delivered ? Disposition::Delivered : Disposition::Rejected;
}

void Outbound::NotBuilt(std::size_t record, const std::string& reason) {
  if (journal_) journal_->Append({record, false, "", reason});
}

}  // namespace tarn::hl7
