// Delivery and the journal: a record's outcome is final once journaled.
#include "hl7/outbound.h"

namespace tarn::hl7 {

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
