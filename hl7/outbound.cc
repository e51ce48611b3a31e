// Delivery and the journal: a record's outcome is final once journaled.
#include "hl7/outbound.h"

#include "hl7/ack.h"

namespace tarn::hl7 {

Outbound::Outbound(OutboundOptions options) : options_(std::move(options)) {
  if (!options_.journal.empty()) {
    journal_ = std::make_unique<Journal>(options_.journal, options_.run);
    for (std::size_t n = 1; n <= journal_->settled(); ++n)
      if (const std::string& id = journal_->Settled(n)->control_id; !id.empty())
        sent_ids_.emplace(id, n);
  }
  if (options_.delivery) sender_ = std::make_unique<Sender>(*options_.delivery);
}

std::string Outbound::ControlIdFor(std::size_t record) const {
  return options_.control_prefix + std::to_string(record);
}

void Outbound::Settle(const JournalEntry& entry) {
  if (!journal_ || !failure_.empty()) return;
  try {
    journal_->Append(entry);
  } catch (const std::exception& e) {
    failure_ = e.what();
  }
}

Disposition Outbound::Deliver(std::size_t record, std::string_view message,
                              const std::string& digest, DeliveryResult& result) {
  result = DeliveryResult{};
  result.control_id = ControlIdOf(message);
  std::string unsendable;
  if (result.control_id.empty()) {
    unsendable =
        "the message has no control ID (MSH-10): no acknowledgement could be matched to it";
  } else if (const auto [it, added] = sent_ids_.emplace(result.control_id, record); !added) {
    unsendable = "control ID (MSH-10) '" + result.control_id + "' is also record " +
                 std::to_string(it->second) +
                 "'s: an acknowledgement for one could not be told from one for the other";
  }
  if (!unsendable.empty()) {
    result.outcome = DeliveryOutcome::Rejected;
    result.reason = unsendable;
    Settle({record, false, result.control_id, unsendable, digest});
    return Disposition::Rejected;
  }
  const DeliveryResult& r = result = sender_->Deliver(message);
  if (r.outcome == DeliveryOutcome::Unreachable) return Disposition::Unreachable;
  if (r.outcome == DeliveryOutcome::Pending) return Disposition::Pending;
  const bool delivered = r.outcome == DeliveryOutcome::Delivered;
  Settle({record, delivered, r.control_id, r.reason, digest});
  return delivered ? Disposition::Delivered : Disposition::Rejected;
}

void Outbound::NotBuilt(std::size_t record, const std::string& reason, const std::string& digest) {
  Settle({record, false, "", reason, digest});
}

}  // namespace tarn::hl7
