// The format-expression formatter, one table row per example of the
// platform reference plus the results the interpreter
// depends on. Each failing row prints its value and format.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/date.h"
#include "platform/text.h"
#include "tarn/convert.h"
#include "tarn/object.h"

namespace tarn {
namespace {

struct Row {
  Variant value;
  std::u16string format;
  std::u16string expected;
};

std::string Describe(const Variant& v) {
  switch (v.kind()) {
    case Kind::Empty: return "Empty";
    case Kind::Null: return "Null";
    case Kind::String: return "String \"" + ToUtf8(v.string()) + "\"";
    case Kind::Date: return "Date " + std::to_string(v.date().serial);
    case Kind::Boolean: return v.boolean() ? "True" : "False";
    case Kind::Integer: return "Integer " + std::to_string(v.integer());
    case Kind::Long: return "Long " + std::to_string(v.long_value());
    case Kind::Single: return "Single " + std::to_string(v.single());
    default: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "Double %.17g", v.double_value());
      return buf;
    }
  }
}

void CheckRows(const std::vector<Row>& rows, int fdow = 1, int fwoy = 1) {
  for (const Row& r : rows) {
    std::string where = "Format(" + Describe(r.value) + ", \"" + ToUtf8(r.format) + "\")";
    try {
      EXPECT_EQ(ToUtf8(Format(r.value, r.format, fdow, fwoy)), ToUtf8(r.expected)) << where;
    } catch (const RuntimeError& e) {
      ADD_FAILURE() << where << " raised " << e.number();
    }
  }
}

const Variant kFriday = Date{45296.5730324074};  // 1/5/2024 1:45:10 PM
const Variant kMonday = Date{2.525};             // 1/1/1900 12:36 PM

TEST(Format, InterpreterRequirements) {
  CheckRows({
      {std::int32_t{1}, u"##00", u"01"},
      {std::int32_t{9}, u"0000", u"0009"},
      {std::int32_t{123}, u"##00", u"123"},
      {std::int32_t{12345}, u"0000", u"12345"},
      {kFriday, u"yyyymmdd", u"20240105"},
      {kFriday, u"HhNnSs", u"134510"},
      {u"1/5/2024 1:45:10 PM", u"Hh:Nn:Ss", u"13:45:10"},
      {u"1/5/2024 1:45:10 PM", u"yyyymmddHhNnSs", u"20240105134510"},
      {std::int32_t{-500}, u"+0000; -0000", u" -0500"},
      {std::int32_t{500}, u"+0000; -0000", u"+0500"},
      {std::int32_t{0}, u"+0000; -0000", u"+0000"},
      {u"", u"+0000; -0000", u"+0000"},  // chosen: "" formats like 0
      {u"-0500", u"+0000; -0000", u" -0500"},
      {Variant(), u"+0000; -0000", u"+0000"},
  });
}

TEST(Format, NoFormat) {
  CheckRows({
      {1234.5, u"", u"1234.5"},
      {std::int16_t{-7}, u"", u"-7"},
      {kFriday, u"", u"1/5/2024 1:45:10 PM"},
      {true, u"", u"True"},
      {false, u"", u"False"},
      {Variant(), u"", u""},
      {Variant::Null(), u"", u""},
      {u"abc", u"", u"abc"},
  });
}

TEST(Format, NamedFormats) {
  CheckRows({
      {1234.5, u"General Number", u"1234.5"},
      {1234.5, u"Currency", u"$1,234.50"},
      {-1234.5, u"Currency", u"($1,234.50)"},
      {1234.5, u"Fixed", u"1234.50"},
      {0.5, u"Fixed", u"0.50"},
      {1234.5, u"Standard", u"1,234.50"},
      {1.0, u"Standard", u"1.00"},
      {0.0, u"Standard", u"0.00"},
      {1.0, u"Percent", u"100.00%"},
      {0.0, u"Percent", u"0.00%"},
      {5.0, u"0.00%", u"500.00%"},
      {1.0, u"Scientific", u"1.00E+00"},
      {0.0, u"Scientific", u"0.00E+00"},
      {1234.5, u"Scientific", u"1.23E+03"},
      {0.0, u"Yes/No", u"No"},
      {3.0, u"Yes/No", u"Yes"},
      {0.0, u"True/False", u"False"},
      {3.0, u"True/False", u"True"},
      {0.0, u"On/Off", u"Off"},
      {3.0, u"On/Off", u"On"},
      {true, u"True/False", u"True"},
      {45296.5730324, u"General Date", u"1/5/2024 1:45:10 PM"},
      {45296.0, u"General Date", u"1/5/2024"},
      {0.5730324, u"General Date", u"1:45:10 PM"},
      {Variant(Date{45296}), u"Long Date", u"Friday, January 5, 2024"},
      {Variant(Date{45296}), u"Medium Date", u"05-Jan-24"},
      {Variant(Date{45296}), u"Short Date", u"1/5/2024"},
      {2.525, u"Long Time", u"12:36:00 PM"},
      {0.5730324, u"Long Time", u"1:45:10 PM"},
      {2.525, u"Medium Time", u"12:36 PM"},
      {0.5730324, u"Medium Time", u"01:45 PM"},
      {2.525, u"Short Time", u"12:36"},
      {0.5730324, u"Short Time", u"13:45"},
      // Names ignore case.
      {2.525, u"short time", u"12:36"},
      {1234.5, u"STANDARD", u"1,234.50"},
      {45296.0, u"long date", u"Friday, January 5, 2024"},
      // Values that are no number or date come back unchanged; Null gives "".
      {u"abc", u"Standard", u"abc"},
      {Variant::Null(), u"Standard", u""},
      {u"1234.5", u"Currency", u"$1,234.50"},
  });
}

TEST(Format, NumericCharacters) {
  CheckRows({
      {5459.4, u"##,##0.00", u"5,459.40"},
      {334.9, u"###0.00", u"334.90"},
      {1.0, u"00", u"01"},
      {1.0, u"#00000000", u"00000001"},
      {1.0, u"000###", u"000001"},
      {1.0, u"0,000,000,000", u"0,000,000,001"},
      {17.0, u"#000", u"017"},
      {17.0, u"#0.00", u"17.00"},
      {1.7, u"#0", u"2"},
      {9.9999999, u"#0.000000", u"10.000000"},
      {0.0049, u"#.##", u"."},
      {0.0099, u"#.##", u".01"},
      {-0.1, u".#", u"-.1"},
      {1.0, u"00\\c\\o\\p\\y", u"01copy"},
      {1.0, u"##abcdefghijklmnopqrstuvwxyz", u"1abcdefghijklmnopqrstuvwxyz"},
      {17.0, u"#3.33", u"173.33"},
      {1.73245, u"0.0000E+000", u"1.7325E+000"},
      {1.7, u"0.0000E-000", u"1.7000E000"},
      {100.0001, u"0.0000E+0", u"1.0000E+2"},
      {47.11, u".0000E+0", u".4711E+2"},
      {86.936849, u"#0.000000000000e-000", u"86.936849000000e000"},
      {123456789.0, u"###, ###, ###", u"123, 456, 789"},
      {0.0, u"#", u""},
      {0.0, u"#.#", u"."},
      {123456789.0, u"#,#.#", u"123,456,789."},
      {0.17, u"#.00", u".17"},
      {100000.0, u"#,###,###,###", u"100,000"},
      {100000000.0, u"##0,,", u"100"},
      {999999.0, u"##0,,", u"1"},
      {499999.0, u"##0,,", u"0"},
      {1234567.0, u"#,##0,", u"1,235"},
      {1234567.0, u"#,,##0", u"1,234,567"},
      {0.5, u"0%", u"50%"},
      {1.0, u"\\\\0", u"\\1"},
      {1.0, u"\"Total: \"0", u"Total: 1"},
      {5.0, u"$#,##0", u"$5"},
      {1.0, u"0:0", u"0:1"},
      {0.000123, u"0.00E-00", u"1.23E-04"},
      {0.000123, u"0.00E+00", u"1.23E-04"},
      {12345.0, u"0.00E-00", u"1.23E04"},
      {9.996, u"0.00E+00", u"1.00E+01"},
      {0.99996, u".0000E+0", u".1000E+1"},
  });
}

// An exponent placeholder "#" writes a digit only when the exponent needs
// it; "0" always does.
TEST(Format, ExponentDigitPlaceholders) {
  CheckRows({
      {1.7, u"0.00e+0#", u"1.70e+0"},
      {123.0, u"0.00e+0#", u"1.23e+2"},
      {0.017, u"0.00e+0#", u"1.70e-2"},
      {1.23e12, u"0.00e+0#", u"1.23e+12"},
      {1.23e123, u"0.00e+0#", u"1.23e+123"},
      {0.017, u"0.00E-0#", u"1.70E-2"},
      {170.0, u"0.00E-0#", u"1.70E2"},
      {1.7, u"0.00E+0##", u"1.70E+0"},
      {1.7e100, u"0.00E+0##", u"1.70E+100"},
      {1.7, u"0.00E+00#", u"1.70E+00"},
      {1.7, u"0.00E+#", u"1.70E+0"},  // chosen: a zero exponent still shows its digit
      {1.7e15, u"0.00E+#", u"1.70E+15"},
      {1.7, u"0.00E+00", u"1.70E+00"},
      {0.0, u"0.00e+0#", u"0.00e+0"},
  });
}

// A format that ends in a backslash escaping nothing formats with the rest.
TEST(Format, DanglingBackslash) {
  CheckRows({
      {5.0, u"0.00\\", u"5.00"},
      {1234.5, u"#,##0.00\\", u"1,234.50"},
      {-5.0, u"0.00;(0.00)\\", u"(5.00)"},
      {0.0, u"0.00;(0.00);\"zero\"\\", u"zero"},
      {std::int32_t{7}, u"000\\", u"007"},
      {5.0, u"0.00\\\\", u"5.00\\"},  // an escaped backslash is no dangling one
      {5.0, u"\\", u"5"},             // nothing left: as without a format
      {kFriday, u"yyyy-mm-dd\\", u"2024-01-05"},
      {kFriday, u"hh:nn\\", u"13:45"},
      {u"abc", u">\\", u"ABC"},
      {u"abc", u"@@@@\\", u" abc"},
  });
}

TEST(Format, NumericRounding) {
  CheckRows({
      {2.5, u"0", u"3"},
      {0.5, u"0", u"1"},
      {-2.5, u"0", u"-3"},
      {3.5, u"0", u"4"},
      {1.005, u"0.00", u"1.01"},  // [U] chosen: the 15-digit value rounds up
      {0.125, u"0.00", u"0.13"},
      {-0.001, u"0.00", u"-0.00"},  // [U] chosen: the minus stays
      {1e20, u"0", u"100000000000000000000"},
      {Variant(1.1f), u"0.000000000", u"1.100000000"},  // a Single has 7 digits
  });
}

TEST(Format, Sections) {
  CheckRows({
      {-1.0, u"#;-#", u"-1"},
      {-5.0, u"$#,##0;($#,##0)", u"($5)"},
      {5.0, u"$#,##0;($#,##0)", u"$5"},
      {0.0, u"\"pos\";\"neg\"", u"pos"},
      {-3.0, u"\"pos\";\"neg\"", u"neg"},
      {0.0, u"\"pos\";\"neg\";\"zero\"", u"zero"},
      {0.0, u"$#,##0;;\\Z\\e\\r\\o", u"Zero"},
      {-5.0, u"$#,##0;;\\Z\\e\\r\\o", u"-$5"},  // empty section: the first one
      {5.0, u"$#,##0;;\\Z\\e\\r\\o", u"$5"},
      {Variant::Null(), u"0;-0;\\Z;\\N\\u\\l\\l", u"Null"},
      {Variant::Null(), u"0;-0;\\Z", u""},
      {-5.0, u"0", u"-5"},
      {-5.0, u"0;", u"-5"},
      {0.0, u"0;(0);", u"0"},
      {u"abc", u"0.00", u"abc"},
  });
}

TEST(Format, BooleanAndEmpty) {
  CheckRows({
      {true, u"0", u"-1"},
      {false, u"0", u"0"},
      {true, u"#;(#)", u"(1)"},
      {Variant(), u"0.00", u"0.00"},
      {Variant(), u"yyyy-mm-dd", u"1899-12-30"},  // chosen: Empty is serial 0
      {Variant(), u"hh:nn", u"00:00"},
      {Variant(), u"@", u" "},  // Empty is "": "@" pads it
      {u"", u"yyyymmdd", u""},  // chosen: "" with a date format stays ""
  });
}

TEST(Format, DateTokens) {
  CheckRows({
      {kFriday, u"c", u"1/5/2024 1:45:10 PM"},
      {Variant(Date{45296}), u"c", u"1/5/2024"},
      {Variant(Date{0.5730324074}), u"c", u"1:45:10 PM"},
      {kFriday, u"d", u"5"},
      {kFriday, u"dd", u"05"},
      {kFriday, u"ddd", u"Fri"},
      {kFriday, u"dddd", u"Friday"},
      {kFriday, u"ddddd", u"1/5/2024"},
      {kFriday, u"dddddd", u"Friday, January 5, 2024"},
      {kFriday, u"aaaa", u"Friday"},
      {kFriday, u"w", u"6"},
      {kFriday, u"ww", u"1"},
      {kFriday, u"m", u"1"},
      {kFriday, u"mm", u"01"},
      {kFriday, u"mmm", u"Jan"},
      {kFriday, u"mmmm", u"January"},
      {kFriday, u"q", u"1"},
      {kFriday, u"y", u"5"},
      {kFriday, u"yy", u"24"},
      {kFriday, u"yyyy", u"2024"},
      {kFriday, u"h", u"13"},
      {kFriday, u"hh", u"13"},
      {kFriday, u"h AM/PM", u"1 PM"},
      {kFriday, u"hh AM/PM", u"01 PM"},
      {kFriday, u"n", u"45"},
      {kFriday, u"nn", u"45"},
      {kFriday, u"s", u"10"},
      {kFriday, u"ss", u"10"},
      {kFriday, u"ttttt", u"1:45:10 PM"},
      {kFriday, u"AM/PM", u"PM"},
      {kFriday, u"am/pm", u"pm"},
      {kFriday, u"A/P", u"P"},
      {kFriday, u"a/p", u"p"},
      {kFriday, u"AMPM", u"PM"},
      {kFriday, u"m/d/yy", u"1/5/24"},
      {kFriday, u"h:n:s", u"13:45:10"},
      {kFriday, u"YYYY-MM-DD", u"2024-01-05"},
      {kFriday, u"yyyy-mm-dd\"T\"hh:nn:ss", u"2024-01-05T13:45:10"},
      {kFriday, u"\\d\\a\\y d", u"day 5"},
      {kFriday, u"dddd, mmmm d, yyyy", u"Friday, January 5, 2024"},
      {Variant(Date{45296.25}), u"h:nn am/pm", u"6:00 am"},
      {Variant(Date{45296}), u"hh AM/PM", u"12 AM"},
      {Variant(Date{45296.5}), u"h A/P", u"12 P"},
      {Variant(Date{-657434.5}), u"m/d/yyyy hh:nn", u"1/1/100 12:00"},
      {Variant(Date{-1.25}), u"yyyy-mm-dd hh:nn", u"1899-12-29 06:00"},
  });
}

TEST(Format, RecordedSubtleties) {
  CheckRows({
      {kMonday, u"dd mm yyyy hh:mm:ss", u"01 01 1900 12:36:00"},
      {kMonday, u"hh :mm:mm", u"12 :36:01"},
      {kMonday, u"mm :ss:mm", u"01 :00:01"},
      {kMonday, u"hh:dd :mm:mm", u"12:01 :01:01"},
      {kMonday, u"dd :mm:nn", u"01 :01:36"},
      {kMonday, u"yyy", u"001"},
      {kMonday, u"y", u"1"},
      {kMonday, u"yy", u"00"},
      {kMonday, u"yyyy", u"1900"},
      {Variant(Date{2.725}), u"hh:nn:ss A/P", u"05:24:00 P"},
      {kMonday, u"q", u"1"},
      {kMonday, u"ddd", u"Mon"},
      {kMonday, u"mmmm", u"January"},
  });
}

TEST(Format, TextFormats) {
  CheckRows({
      {u"testing", u"@", u"testing"},
      {u"testing", u"&", u"testing"},
      {u"testing", u"", u"testing"},
      {u"testing", u"@@@@@@@@", u" testing"},
      {u"testing", u"&&&&&&&&", u"testing"},
      {u"testing", u"\\x@\\x@", u"xtxesting"},
      {u"testing", u"@\\x", u"txesting"},
      {u"testing", u"@\\x@@@@@@@", u" xtesting"},
      {u"testing", u">&&", u"TESTING"},
      {u"testing", u"<&&", u"testing"},
      {u"testing", u"<&>&", u"testing"},
      {u"HELLO", u"<", u"hello"},
      {u"This is it", u">", u"THIS IS IT"},
      {1.5, u"@", u"1.5"},
      {u"ab", u"!@@@@", u"ab  "},
      {u"ab", u"!&&&&", u"ab"},
      {u"ab", u"@@@@", u"  ab"},
      {u"5551234", u"(@@@) @@@-@@@@", u"(   ) 555-1234"},
      {u"5551234", u"!(@@@) @@@-@@@@", u"(555) 123-4   "},
      {u"", u"@;\"empty\"", u"empty"},
      {Variant::Null(), u"@;\"null\"", u"null"},
      {Variant::Null(), u"@", u""},
      {true, u"@", u"True"},
  });
}

TEST(Format, TextValues) {
  CheckRows({
      {u"39697.11", u"hh:mm", u"02:38"},
      {u"39697.11", u"mm-dd-yy", u"09-06-08"},
      {u"6,90", u"###,##0.00", u"690.00"},
      {u"12-11", u"dd-mm", u"11-12"},
      {u"hello", u"0.00", u"hello"},
      {u"hello", u"yyyy", u"hello"},
      {u"20240105", u"yyyymmdd", u"20240105"},  // a number beyond the date range
      {u"1/5/2024", u"0", u"45296"},
  });
}

TEST(Format, FirstDayOfWeek) {
  const Variant saturday = Date{0};
  for (int fdow = 1; fdow <= 7; ++fdow)
    CheckRows({{saturday, u"w", Format(std::int32_t{8 - fdow}, u"0")}}, fdow, 1);
  CheckRows({{saturday, u"w", u"7"}}, 0, 1);  // 0: the system's (Sunday)
}

TEST(Format, FirstWeekOfYear) {
  // 1/1/2021 is a Friday; 1/4/2021 a Monday; 12/31/2020 a Thursday.
  auto d = [](int y, int m, int day) { return Variant(Date{*detail::MakeSerial(y, m, day)}); };
  CheckRows({{d(2021, 1, 1), u"ww", u"1"},
             {d(2021, 1, 3), u"ww", u"2"},
             {d(2024, 12, 31), u"ww", u"53"},
             {d(2000, 12, 31), u"ww", u"54"}},
            1, 1);
  // Monday first, first four-day week (ISO-like): 1/1/2021 is in 2020's week 53.
  CheckRows(
      {{d(2021, 1, 1), u"ww", u"53"}, {d(2021, 1, 4), u"ww", u"1"}, {d(2020, 1, 1), u"ww", u"1"}},
      2, 2);
  // First full week, Sunday first: 1/3/2021 starts week 1.
  CheckRows({{d(2021, 1, 2), u"ww", u"52"}, {d(2021, 1, 3), u"ww", u"1"}}, 1, 3);
}

TEST(Format, DateOutOfRangeRaises) {
  try {
    Format(Variant(1e10), u"yyyy");
    ADD_FAILURE() << "no error";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), 6);
  }
}

}  // namespace
}  // namespace tarn
