// Builds one message per record: every expression evaluated by one
// interpreter against the record's fields, its value escaped as data.
#include "hl7/message.h"

#include <algorithm>

#include "hl7/names.h"

namespace tarn::hl7 {

std::string Escape(std::string_view value, const Delimiters& d) {
  // Most values hold nothing to escape: they are copied as they are.
  const auto special = [&](char c) {
    return c == d.escape || c == d.field || c == d.component || c == d.repetition ||
           c == d.subcomponent || (c == d.truncation && c != '\0') || c == '\r' || c == '\n' ||
           c == '\x0b' || c == '\x1c' || c == '\0';
  };
  if (std::none_of(value.begin(), value.end(), special)) return std::string(value);
  std::string out;
  out.reserve(value.size() + 8);
  auto seq = [&](const char* code) {
    out += d.escape;
    out += code;
    out += d.escape;
  };
  for (const char c : value) {
    if (c == d.escape)
      seq("E");
    else if (c == d.field)
      seq("F");
    else if (c == d.component)
      seq("S");
    else if (c == d.repetition)
      seq("R");
    else if (c == d.subcomponent)
      seq("T");
    else if (c == d.truncation && c != '\0')
      seq("P");
    else if (c == '\r')
      seq("X0D");
    else if (c == '\n')
      seq("X0A");
    else if (c == '\x0b')
      seq("X0B");
    else if (c == '\x1c')
      seq("X1C");
    else if (c == '\0')
      seq("X00");
    else
      out += c;
  }
  return out;
}

EscapeSet::EscapeSet(const Delimiters& d) {
  const auto mark = [&](char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 64)
      low |= std::uint64_t{1} << u;
    else if (u < 128)
      high |= std::uint64_t{1} << (u - 64);
  };
  for (const char c : {d.escape, d.field, d.component, d.repetition, d.subcomponent, '\r', '\n',
                       '\x0b', '\x1c', '\0'})
    mark(c);
  if (d.truncation != '\0') mark(d.truncation);
}

void AppendEscaped(std::string& out, std::u16string_view value, const Delimiters& d,
                   const EscapeSet& set) {
  // Plain ASCII, the usual value, is copied a character at a time.
  const std::size_t start = out.size();
  out.resize(start + value.size());
  char* to = out.data() + start;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char16_t c = value[i];
    if (c >= 128 || ((c < 64 ? set.low >> c : set.high >> (c - 64)) & 1)) {
      out.resize(start);
      out += Escape(ToUtf8(value), d);
      return;
    }
    to[i] = static_cast<char>(c);
  }
}

void AppendEscaped(std::string& out, std::u16string_view value, const Delimiters& d) {
  AppendEscaped(out, value, d, EscapeSet(d));
}

std::string Frame(std::string_view message, Framing framing) {
  std::string out;
  out.reserve(message.size() + 3);
  if (framing == Framing::Mllp) out += '\x0b';
  out.append(message);
  if (framing == Framing::Mllp) out.append("\x1c\r");
  if (framing == Framing::Lf) out += '\n';
  return out;
}

namespace {
// The library's own field, read in place; null for a host's own object.
const DataField* AsDataField(const ObjectRef& o) { return tarn::AsDataField(o.get()); }
}  // namespace

MessageBuilder::MessageBuilder(const Template& t) : template_(t), escapes_(t.delimiters) {
  interpreter_.Init(fields_, errors_, u"tarn-hl7", u"tarn-hl7");
  for (const Expression& e : t.expressions) name_alone_.push_back(IsNameAlone(e.text));
}

void MessageBuilder::ClearFields() {
  for (const auto& key : fields_->Keys()) fields_->Erase(key);
  record_fields_.clear();
  alone_field_.clear();
}

// A record with the same members, in the same order, as the one before
// (the usual case) gets that record's fields with its own values. Nothing
// but this builder changes the collection, and every build leaves it as it
// found it: the fields are still the ones it added.
bool MessageBuilder::ReuseFields(const Record& record) {
  if (record_fields_.empty() || record_fields_.size() != record.fields.size() ||
      fields_->Count() != record_fields_.size())
    return false;
  for (std::size_t i = 0; i < record.fields.size(); ++i)
    if (record_fields_[i].name != record.fields[i].name) return false;
  for (std::size_t i = 0; i < record.fields.size(); ++i) {
    const Field& f = record.fields[i];
    RecordField& held = record_fields_[i];
    if (held.type != f.type) {
      held.field->set_data_type(f.type);
      held.type = f.type;
    }
    held.field->set_data(f.value);
  }
  return true;
}

Outcome MessageBuilder::Build(const Record& record) {
  Outcome out;
  if (!record.error.empty()) {
    out.reason = record.error;
    return out;
  }
  if (!ReuseFields(record)) {
    ClearFields();
    for (const Field& f : record.fields) {
      Ref<DataField> added = fields_->AddField(f.name, f.type, f.value);
      if (!added) {
        ClearFields();
        out.reason = "member '" + ToUtf8(f.name) + "' is given twice (names ignore letter case)";
        return out;
      }
      record_fields_.push_back({f.name, f.type, std::move(added)});
    }
    for (std::size_t i = 0; i < name_alone_.size(); ++i)
      alone_field_.push_back(name_alone_[i] ? fields_->Find(template_.expressions[i].text)
                                            : ObjectRef());
  }
  Scopes scopes{&record.lists};
  try {
    if (template_.groups.empty()) {
      for (const SegmentLine& seg : template_.segments) RenderLine(seg, scopes, out);
    } else {
      RenderGroup(template_.groups.front(), scopes, out);
    }
  } catch (...) {
    // Out of memory inside a list element: its fields may still hide the
    // record's, so the next record starts from an empty collection.
    entered_ = 0;
    ClearFields();
    throw;
  }
  if (!out.ok()) out.message.clear();
  return out;
}

void MessageBuilder::RenderGroup(const Group& group, Scopes& scopes, Outcome& out) {
  for (const GroupItem& item : group.items) {
    if (item.segment >= 0) {
      RenderLine(template_.segments[item.segment], scopes, out);
      continue;
    }
    const Group& inner = template_.groups[item.group];
    if (inner.list.empty()) {
      if (Holds(inner.condition, out)) RenderGroup(inner, scopes, out);
    } else {
      ForEach(inner.list, scopes, out, [&] {
        if (Holds(inner.condition, out)) RenderGroup(inner, scopes, out);
      });
    }
  }
}

void MessageBuilder::RenderLine(const SegmentLine& seg, Scopes& scopes, Outcome& out) {
  if (seg.list.empty()) {
    if (Holds(seg.condition, out)) Render(seg, scopes, out);
    return;
  }
  ForEach(seg.list, scopes, out, [&] {
    if (Holds(seg.condition, out)) Render(seg, scopes, out);
  });
}

template <class Body>
void MessageBuilder::ForEach(const std::string& name, Scopes& scopes, Outcome& out, Body body) {
  const std::u16string wanted = FromUtf8(name);
  const List* list = nullptr;
  for (auto scope = scopes.rbegin(); scope != scopes.rend() && !list; ++scope)
    for (const List& l : **scope)
      if (SameName(l.name, wanted)) list = &l;
  if (!list) return;
  // Each member's name, and the field it hides (null for none).
  std::vector<std::pair<const std::u16string*, ObjectRef>> entered;
  for (std::size_t i = 0; i < list->elements.size(); ++i) {
    // The element's members and SetId hide fields of the same name. Two
    // members of one name would hide each other, and the one hidden would
    // come back as a record field afterwards.
    const std::vector<Field>& members = list->elements[i];
    const auto named_twice = [&]() -> const Field* {
      for (std::size_t a = 0; a < members.size(); ++a)
        for (std::size_t b = a + 1; b < members.size(); ++b)
          if (!SameName(members[a].name, u"SetId") && SameName(members[a].name, members[b].name))
            return &members[b];
      return nullptr;
    };
    if (const Field* twice = named_twice()) {
      out.reason = "list '" + name + "' element " + std::to_string(i + 1) + ": member '" +
                   ToUtf8(twice->name) + "' is given twice (names ignore letter case)";
      return;
    }
    entered.clear();
    const Field set_id{u"SetId", u"Long", Variant(static_cast<std::int32_t>(i + 1))};
    const auto enter = [&](const Field& m) {
      Ref<DataField> field = DataField::Create();
      field->set_name(m.name);
      field->set_data_type(m.type);
      field->set_data(m.value);
      entered.push_back({&m.name, fields_->Put(m.name, field)});
    };
    for (const Field& m : members)
      if (!SameName(m.name, u"SetId")) enter(m);
    enter(set_id);
    static const std::vector<List> kNone;
    scopes.push_back(i < list->element_lists.size() ? &list->element_lists[i] : &kNone);
    ++entered_;
    body();
    --entered_;
    scopes.pop_back();
    // The hidden fields come back under their own names, in order.
    for (const auto& [name, hidden] : entered) {
      if (!hidden)
        fields_->Erase(*name);
      else if (const auto* field = AsDataField(hidden))
        fields_->Put(field->name(), hidden);
      else
        fields_->Put(CStr(Get(hidden, u"Name")), hidden);
    }
  }
}

bool MessageBuilder::Holds(int condition, Outcome& out) {
  if (condition < 0) return true;
  const Expression& optional = template_.expressions[static_cast<std::size_t>(condition)];
  if (optional.optional && Absent(optional)) [[unlikely]]
    return false;
  const Variant* data = nullptr;
  if (!Realize(condition, out, data)) return false;
  if (data->kind() == Kind::Boolean) return data->boolean();
  const Expression& e = template_.expressions[condition];
  out.failures.push_back(
      {e.at,
       ToUtf8(e.text),
       "a condition must be True or False (it gave \"" +
           (data->is_null() || data->is_empty() ? std::string() : ToUtf8(CStr(*data))) + "\")",
       {}});
  return false;
}

void MessageBuilder::Render(const SegmentLine& segment, Scopes& scopes, Outcome& out) {
  RenderPieces(segment, 0, segment.pieces.size(), scopes, out);
  out.message += '\r';
}

void MessageBuilder::RenderPieces(const SegmentLine& segment, std::size_t from, std::size_t to,
                                  Scopes& scopes, Outcome& out) {
  for (std::size_t k = from; k < to; ++k) {
    const Piece& p = segment.pieces[k];
    if (!p.repeat.empty()) {
      // One repetition per element, joined by the repetition separator.
      bool first = true;
      ForEach(p.repeat, scopes, out, [&] {
        if (!first) out.message += template_.delimiters.repetition;
        first = false;
        RenderPieces(segment, k + 1, static_cast<std::size_t>(p.repeat_end), scopes, out);
      });
      // "A~{{@each L}}...{{@end}}" with no elements leaves no empty repetition.
      if (first && k > 0 && !segment.pieces[k - 1].literal.empty() &&
          segment.pieces[k - 1].literal.back() == template_.delimiters.repetition &&
          !out.message.empty() && out.message.back() == template_.delimiters.repetition)
        out.message.pop_back();
      k = static_cast<std::size_t>(p.repeat_end);
    } else if (p.expression >= 0) {
      AppendValue(p.expression, out);
    } else {
      out.message += p.literal;
    }
  }
}

bool MessageBuilder::Realize(int index, Outcome& out, const Variant*& data) {
  const Expression& e = template_.expressions[static_cast<std::size_t>(index)];
  errors_->Clear();
  const auto at = static_cast<std::size_t>(index);
  result_ = !name_alone_[at] ? ObjectRef()
            : entered_ == 0  ? alone_field_[at]
                             : fields_->Find(e.text);
  if (!result_) result_ = interpreter_.RealizeRegularExpression(std::u16string_view(e.text));
  result_data_ = Variant();
  data = &result_data_;
  std::string reason;
  if (result_) {
    try {
      const std::u16string* name = nullptr;
      const std::u16string* type = nullptr;
      std::u16string name_store, type_store;
      if (const auto* field = AsDataField(result_)) {
        data = &field->data();
        name = &field->name();
        type = &field->data_type();
      } else {
        result_data_ = Get(result_, u"Data");
        name_store = CStr(Get(result_, u"Name"));
        type_store = CStr(Get(result_, u"DataType"));
        name = &name_store;
        type = &type_store;
      }
      if (*name == u"Error" && *type == u"Boolean" && *data == Variant(false) &&
          !(fields_->Find(u"Error") == result_)) {
        reason = "the expression cannot be evaluated (it returned the Error field)";
      } else if (*type == u"Operator") {
        reason = "the expression ends in an operator";
      }
    } catch (const RuntimeError& err) {
      reason = "the result cannot be read as text (" + ToUtf8(err.description()) + ")";
    }
  }
  // A name that is no field is the likeliest cause, and the one to name.
  if (!reason.empty() || check_names_ || !errors_->reports().empty()) {
    const auto unknown =
        UnknownNames(e.text, [&](std::u16string_view n) { return bool(fields_->Find(n)); });
    if (!unknown.empty()) {
      const std::vector<std::u16string> names = fields_->Keys();
      reason.clear();
      for (const auto& u : unknown)
        reason += (reason.empty() ? "" : "; ") + NoFieldMessage(u, names);
    }
  }
  const auto& reports = errors_->reports();
  if (reason.empty() && !reports.empty())
    reason = "the expression raised " + std::to_string(reports.size()) +
             (reports.size() == 1 ? " report" : " reports");
  if (reason.empty()) return true;
  // Only a failure needs the text as the reject shows it.
  const auto first = e.text.find_first_not_of(u" \t\r\n");
  const auto last = e.text.find_last_not_of(u" \t\r\n");
  const std::u16string_view text =
      first == std::u16string::npos ? std::u16string_view()
                                    : std::u16string_view(e.text).substr(first, last - first + 1);
  out.failures.push_back({e.at, ToUtf8(text), std::move(reason), reports});
  return false;
}

bool MessageBuilder::Absent(const Expression& e) {
  const auto present = [&](std::u16string_view name) {
    const ObjectRef f = fields_->Find(name);
    if (!f) return false;
    const DataField* field = AsDataField(f);
    const Variant v = field ? field->data() : Get(f, u"Data");
    return !(v.is_empty() || v.is_null() || (v.is_string() && v.string().empty()));
  };
  try {
    return !UnknownNames(e.text, present).empty();
  } catch (const RuntimeError&) {
    return true;
  }
}

void MessageBuilder::AppendValue(int index, Outcome& out) {
  const Expression& e = template_.expressions[static_cast<std::size_t>(index)];
  if (e.optional && Absent(e)) [[unlikely]]
    return;
  const Variant* data = nullptr;
  const std::size_t before = out.message.size();
  if (!Realize(index, out, data)) return;
  if (data->is_string()) {
    AppendEscaped(out.message, data->string(), template_.delimiters, escapes_);
  } else if (!data->is_null() && !data->is_empty()) {
    try {
      const std::u16string text = CStr(*data);
      // HL7's numbers have no exponent: 1E+20 would reach the receiver as text.
      if (interpreter_.strict() && (data->kind() == Kind::Double || data->kind() == Kind::Single) &&
          text.find(u'E') != std::u16string::npos) [[unlikely]] {
        out.failures.push_back({e.at,
                                ToUtf8(e.text),
                                "the number " + ToUtf8(text) +
                                    " would be written in exponent form, which HL7 numbers do not "
                                    "have; format it with Format",
                                {}});
        return;
      }
      AppendEscaped(out.message, text, template_.delimiters, escapes_);
    } catch (const RuntimeError& err) {
      out.failures.push_back(
          {e.at,
           ToUtf8(e.text),
           "the result cannot be read as text (" + ToUtf8(err.description()) + ")",
           {}});
      return;
    }
  }
  if (e.required && out.message.size() == before) [[unlikely]] {
    const auto first = e.text.find_first_not_of(u" \t\r\n");
    const auto last = e.text.find_last_not_of(u" \t\r\n");
    const std::string text =
        first == std::u16string::npos ? "" : ToUtf8(e.text.substr(first, last - first + 1));
    out.failures.push_back(
        {e.at, text, e.position + " is required and '" + text + "' is empty", {}});
  }
}

}  // namespace tarn::hl7
