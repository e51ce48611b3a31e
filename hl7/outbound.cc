// The host's extra fields are plain data fields added to the record before
// it is built, so that templates reach them as they reach any member.
#include "hl7/outbound.h"

#include <ctime>
#include <limits>

#include "hl7/ack.h"
#include "hl7/names.h"
#include "hl7/record_dates.h"

namespace tarn::hl7 {

namespace {

bool HasMember(const Record& record, std::u16string_view name) {
  for (const Field& f : record.fields)
    if (SameName(f.name, name)) return true;
  return false;
}

bool WordChar(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
         c == u'_' || c > 0x7f;
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

HostFieldUse HostFieldsNamedIn(const Template& t) {
  // A name in an expression is a word; one inside a string literal counts
  // too, which costs only a field.
  const auto named = [&](std::u16string_view name) {
    for (const Expression& e : t.expressions) {
      const std::u16string_view text = e.text;
      for (std::size_t at = 0; at + name.size() <= text.size(); ++at)
        if ((at == 0 || !WordChar(text[at - 1])) &&
            (at + name.size() == text.size() || !WordChar(text[at + name.size()])) &&
            SameName(text.substr(at, name.size()), name))
          return true;
    }
    return false;
  };
  return {named(kNowField), named(kControlIdField), named(kRecordNumberField)};
}

void AddHostFields(Record& record, const HostFieldUse& use, std::string_view control_id) {
  if (use.now && !HasMember(record, kNowField))
    record.fields.push_back({std::u16string(kNowField), u"Date", Variant(Date{LocalNowSerial()})});
  if (use.control_id && !HasMember(record, kControlIdField))
    record.fields.push_back(
        {std::u16string(kControlIdField), u"String", Variant(FromUtf8(control_id))});
  if (use.record_number && !HasMember(record, kRecordNumberField)) {
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
                              const std::string& digest, DeliveryResult& result,
                              const std::string& key) {
  result = DeliveryResult{};
  result.control_id = ControlIdOf(message);
  std::string unsendable;
  if (result.control_id.empty()) {
    unsendable =
        "the message has no control ID (MSH-10): no acknowledgement could be matched to it";
  } else if (const auto [it, added] = sent_ids_.emplace(result.control_id, record);
             !added && it->second != record) {
    unsendable = "control ID (MSH-10) '" + result.control_id + "' is also record " +
                 std::to_string(it->second) +
                 "'s: an acknowledgement for one could not be told from one for the other";
  }
  if (!unsendable.empty()) {
    result.outcome = DeliveryOutcome::Rejected;
    result.reason = unsendable;
    Settle({record, false, result.control_id, unsendable, digest, key});
    return Disposition::Rejected;
  }
  const DeliveryResult& r = result = sender_->Deliver(message);
  if (r.outcome == DeliveryOutcome::Unreachable) return Disposition::Unreachable;
  if (r.outcome == DeliveryOutcome::Pending) return Disposition::Pending;
  const bool delivered = r.outcome == DeliveryOutcome::Delivered;
  Settle({record, delivered, r.control_id, r.reason, digest, key});
  return delivered ? Disposition::Delivered : Disposition::Rejected;
}

void Outbound::NotBuilt(std::size_t record, const std::string& reason, const std::string& digest,
                        const std::string& key) {
  Settle({record, false, "", reason, digest, key});
}

}  // namespace tarn::hl7
