// Names in an expression that are no field and no word of the language,
// and the nearest field name to suggest in their place, so that a misspelt
// field is named rather than left to fail without a word.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::hl7 {

// Whether two names are the same but for ASCII letter case, as record
// members and field names compare.
bool SameName(std::u16string_view a, std::u16string_view b);

// The words of `expression` that read as names (not literals, numbers or
// operators) and are neither a keyword nor known to `is_field`, each once,
// in order.
std::vector<std::u16string> UnknownNames(std::u16string_view expression,
                                         const std::function<bool(std::u16string_view)>& is_field);

// Whether an expression is a field's name and nothing else ("Mrn", not
// " Mrn" or "If"): a name that the interpreter would read as that field
// whenever it exists, so that its value may be taken from the field.
bool IsNameAlone(std::u16string_view expression);

// The candidate closest to `name` when it is close enough to be a likely
// misspelling; empty otherwise. Letter case is ignored.
std::u16string NearestName(std::u16string_view name, const std::vector<std::u16string>& candidates);

// "no field 'LastNme'; did you mean 'LastName'?" (or without the question
// when nothing is near).
std::string NoFieldMessage(std::u16string_view name, const std::vector<std::u16string>& candidates);

}  // namespace tarn::hl7
