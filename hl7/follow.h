// --follow on a file or standard input: the input does not end at its end.
#pragma once

#include <istream>
#include <memory>
#include <string>

namespace tarn::hl7 {

// A file followed as it grows, reopened when it is replaced (renamed away
// and created anew) and read from its start again when it is truncated;
// or, for "-", standard input read as its lines arrive, ending when its
// writer closes it. Only whole lines are handed on, so that a stop never
// reads half a record. Ends (as an input does) once a stop is asked for.
// Throws FileError when the file cannot be read.
std::unique_ptr<std::istream> FollowInput(const std::string& path);

}  // namespace tarn::hl7
