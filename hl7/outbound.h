// tarn-hl7 as an outbound interface: the delivery of built messages with the
// journal that makes a run resumable.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "hl7/delivery.h"
#include "hl7/journal.h"
#include "hl7/pipeline.h"
#include "hl7/records.h"
#include "hl7/template.h"

namespace tarn::hl7 {

struct OutboundOptions {
  std::string control_prefix;               // --control-id
  std::string journal;                      // empty: none
  std::optional<DeliveryOptions> delivery;  // none: the messages go to a file
};

// What became of one record.
enum class Disposition {
  Skipped,      // final in the journal already: not built again
  Delivered,    // acknowledged by the receiver
  Rejected,     // by the receiver, or after every retry
  Unreachable,  // the receiver could not be reached: the run stops here
};

class Outbound {
 public:
  // Throws std::runtime_error when the journal cannot be used.
  explicit Outbound(OutboundOptions options);

  bool sending() const { return sender_ != nullptr; }
  // Whether an earlier run with this journal settled the record.
  bool Settled(std::size_t record) const { return journal_ && journal_->Final(record); }
  // PREFIX followed by the record's counter; a resumed run numbers as the
  // first run did.
  std::string ControlIdFor(std::size_t record) const;

  // Delivers one built message and journals its outcome once it is final;
  // `result` tells what the receiver answered. Throws std::runtime_error
  // when the journal cannot be written.
  Disposition Deliver(std::size_t record, std::string_view message, DeliveryResult& result);
  // A record that did not become a message is final as rejected.
  void NotBuilt(std::size_t record, const std::string& reason);

  // Outcomes that earlier runs journaled.
  std::size_t earlier_delivered() const { return journal_ ? journal_->delivered() : 0; }
  std::size_t earlier_rejected() const { return journal_ ? journal_->rejected() : 0; }
  bool journal_repaired() const { return journal_ && journal_->repaired(); }

 private:
  OutboundOptions options_;
  std::int64_t counter_offset_ = 0;
  std::unique_ptr<Journal> journal_;
  std::unique_ptr<Sender> sender_;
};

}  // namespace tarn::hl7
