// tarn-hl7 as an outbound interface: the delivery of built messages with the
// journal that makes a run resumable.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "hl7/delivery.h"
#include "hl7/journal.h"
#include "hl7/pipeline.h"
#include "hl7/records.h"
#include "hl7/template.h"

namespace tarn::hl7 {

struct OutboundOptions {
  std::string control_prefix;               // --control-id
  std::string journal;                      // empty: none
  RunIdentity run;                          // what the journal must have been written for
  std::optional<DeliveryOptions> delivery;  // none: the messages go to a file
};

// What became of one record.
enum class Disposition {
  Skipped,      // final in the journal already: not built again
  Delivered,    // acknowledged by the receiver
  Rejected,     // by the receiver, or after every retry
  Unreachable,  // the receiver could not be reached: the run stops here
  Pending,      // sent, but nothing settled it: the run stops, the next sends it again
};

class Outbound {
 public:
  // Throws JournalRefused or JournalWriteError when the journal cannot be
  // used, std::runtime_error when the TLS files cannot.
  explicit Outbound(OutboundOptions options);

  bool sending() const { return sender_ != nullptr; }
  bool journaling() const { return journal_ != nullptr; }
  // What an earlier run with this journal settled the record as, or null.
  const JournalEntry* Settled(std::size_t record) const {
    return journal_ ? journal_->Settled(record) : nullptr;
  }
  // PREFIX followed by the record's number: the same in every run.
  std::string ControlIdFor(std::size_t record) const;

  // Delivers one built message and journals its outcome once it is final;
  // `result` tells what the receiver answered. A message whose MSH-10 is
  // empty or another message's of this run is rejected unsent: no
  // acknowledgement could be told from one for the other. `digest` is the
  // record's (RecordDigest). When the outcome cannot be journaled, failure()
  // says why and the run must stop.
  Disposition Deliver(std::size_t record, std::string_view message, const std::string& digest,
                      DeliveryResult& result);
  // A record that did not become a message is final as rejected.
  void NotBuilt(std::size_t record, const std::string& reason, const std::string& digest);
  const std::string& failure() const { return failure_; }

  // Outcomes that earlier runs journaled.
  std::size_t earlier_settled() const { return journal_ ? journal_->settled() : 0; }
  std::size_t earlier_delivered() const { return journal_ ? journal_->delivered() : 0; }
  std::size_t earlier_rejected() const { return journal_ ? journal_->rejected() : 0; }
  bool journal_repaired() const { return journal_ && journal_->repaired(); }

 private:
  void Settle(const JournalEntry& entry);

  OutboundOptions options_;
  std::unique_ptr<Journal> journal_;
  std::unique_ptr<Sender> sender_;
  std::unordered_map<std::string, std::size_t> sent_ids_;  // control ID -> record
  std::string failure_;
};

}  // namespace tarn::hl7
