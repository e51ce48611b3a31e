// The HL7 date text of an invalid date, and HL7 dates and zones against the
// texts and formats they must agree with.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "support/host_fixture.h"

namespace tarn::testing {
namespace {

TEST(Evaluate, HL7TextOfAnInvalidDate) {
  std::u16string sep, zone;
  bool with_time = true, with_zone = true;
  EXPECT_EQ(detail::GetHL7DateTime(u"nope", u"", sep, with_time, with_zone, zone),
            u"00000000000000-0000");
  EXPECT_EQ(sep, u"/");
  std::u16string dash = u"-";
  with_time = with_zone = false;
  EXPECT_EQ(detail::GetHL7DateTime(u"2024-01-05", u"", dash, with_time, with_zone, zone),
            u"20240105");
}

// A date field formats as its text (CStr) does, whatever second it rounds
// to, for dates before 1900, times alone and the ends of the range.
TEST(Evaluate, HL7TextOfADateFieldIsThatOfItsText) {
  std::vector<double> serials = {0,        -0.5,       -1.25,         0.99999999,  45296.5730324074,
                                 -657434., 2958465.,   2958465.99999, -657433.999, 1.0 / 86400 / 2,
                                 -1e-9,    -0.99999999};
  std::mt19937_64 random(20261206);
  std::uniform_real_distribution<double> any(-657434., 2958465.99999);
  std::uniform_int_distribution<int> second(0, 86399);
  for (int i = 0; i < 400; ++i) {
    serials.push_back(any(random));
    // Half a second either side of a whole second, where the rounding turns.
    const double day = std::trunc(any(random));
    const double at = (second(random) + 0.5) / 86400;
    serials.push_back(day + at);
    serials.push_back(day + std::nextafter(at, 0.0));
  }
  const std::u16string forms[] = {u", 0, , True, True, -500", u", 0, , True, False",
                                  u", 0, , False", u", 0, /, True, True, Zone"};
  for (const double serial : serials) {
    Host h;
    h.fields->AddField(u"D", u"Date", Date{serial});
    h.fields->AddField(u"T", u"String", CStr(Date{serial}));
    h.fields->AddField(u"Zone", u"Long", std::int32_t{130});
    for (const auto& form : forms) {
      const std::string by_date = Show(Get(h.Eval(u"FormatHL7DateTime D" + form), u"Data"));
      const std::string by_text = Show(Get(h.Eval(u"FormatHL7DateTime T" + form), u"Data"));
      EXPECT_EQ(by_date, by_text) << serial << ToUtf8(form);
    }
  }
}

// The zone after an HL7 time is what Format writes of the offset with
// "+0000; -0000", without that format's space before a minus.
TEST(Evaluate, HL7ZoneIsTheOffsetAsFormatWritesIt) {
  std::vector<Variant> zones = {5.5, -0.5};
  for (const std::int32_t v : {0, -500, 130, -1, 9999, -9999, 12345}) zones.push_back(v);
  for (const char16_t* v : {u"0500", u"-0", u"-0000", u"+500", u" 500", u"1e3"}) zones.push_back(v);
  for (std::int32_t v = -1400; v <= 1400; v += 37) zones.push_back(v);
  for (const Variant& zone : zones) {
    Host h;
    h.fields->AddField(u"D", u"Date", Date{45296.5});
    h.fields->AddField(u"Z", zone.is_string() ? u"String" : u"Double", zone);
    const std::string hl7 = Show(Get(h.Eval(u"FormatHL7DateTime D, 0, , True, True, Z"), u"Data"));
    std::string format = Show(Get(h.Eval(u"Format Z, \"+0000; -0000\""), u"Data"));
    if (format.size() > 7 && format[7] == ' ') format.erase(7, 1);  // "String " then the text
    EXPECT_EQ(hl7, "String 20240105120000" + format.substr(7)) << format;
  }
}

}  // namespace
}  // namespace tarn::testing
