// The tarn-eval command line is a contract: options, JSON lines and exit
// codes. These tests run the built tool.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/run_tool.h"

namespace {

using nlohmann::json;

using tarn::testing::RunTool;
using tarn::testing::ToolResult;

ToolResult Eval(const std::vector<std::string>& args, const std::string& input = {}) {
  return RunTool(TARN_EVAL_PATH, args, input);
}

std::vector<json> Lines(const std::string& out) {
  std::vector<json> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(json::parse(out.substr(start, nl - start)));
  return lines;
}

TEST(TarnEval, BlankExpressionGivesNullResult) {
  ToolResult r = Eval({"--json", "-e", "   "});
  ASSERT_EQ(r.status, 0);
  auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["expression"], "");
  EXPECT_TRUE(lines[0]["result"].is_null());
  EXPECT_EQ(lines[0]["fields"], 0);
  EXPECT_TRUE(lines[0]["reports"].empty());
}

TEST(TarnEval, HostFieldComesBackItself) {
  ToolResult r = Eval({"--json", "-f", "Field1=Long:41", "-e", "field1"});
  ASSERT_EQ(r.status, 0);
  auto line = Lines(r.out).at(0);
  EXPECT_EQ(line["result"]["Name"], "Field1");
  EXPECT_EQ(line["result"]["DataType"], "Long");
  EXPECT_EQ(line["result"]["kind"], "Long");
  EXPECT_EQ(line["result"]["text"], "41");
  EXPECT_EQ(line["fields"], 1);
}

TEST(TarnEval, ErrorFieldSetsExitStatusOne) {
  ToolResult r = Eval({"--json", "-e", "1 )"});
  EXPECT_EQ(r.status, 1);
  auto line = Lines(r.out).at(0);
  EXPECT_EQ(line["result"]["Name"], "Error");
  EXPECT_EQ(line["result"]["DataType"], "Boolean");
  EXPECT_EQ(line["result"]["text"], "False");
}

TEST(TarnEval, ExpressionsRunInOrderOnOneHost) {
  ToolResult r =
      Eval({"--json", "-f", "Field1=Long:41", "-e", "Field1 + 1", "2 * (3 + 4)", "1 / 0"});
  ASSERT_EQ(r.status, 0);
  auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0]["result"]["Name"], "Autodf3");
  EXPECT_EQ(lines[0]["result"]["text"], "42");
  EXPECT_EQ(lines[0]["fields"], 1);
  EXPECT_EQ(lines[1]["result"]["text"], "14");
  EXPECT_TRUE(lines[2]["result"].is_null());
  ASSERT_EQ(lines[2]["reports"].size(), 1u);
  EXPECT_EQ(lines[2]["reports"][0]["message"], "Error: -2147220981 - Division by zero");
  EXPECT_EQ(lines[2]["reports"][0]["procedure"], "EvaluateExpression");
  EXPECT_EQ(lines[2]["reports"][0]["number"], 150100);
}

TEST(TarnEval, FieldValuesConvertByTheirTypeWord) {
  ToolResult r = Eval({"--json",
                       "-f",
                       "D=Date:1/5/2024 13:45:10",
                       "-f",
                       "E=Date:January 5, 2024",
                       "-f",
                       "S=Single:2.5",
                       "-f",
                       "B=Boolean:true",
                       "-f",
                       "X=Custom:abc",
                       "-f",
                       "N=Long",
                       "-e",
                       "D",
                       "E",
                       "S",
                       "B",
                       "X",
                       "N"});
  ASSERT_EQ(r.status, 0);
  auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0]["result"]["text"], "1/5/2024 1:45:10 PM");
  EXPECT_EQ(lines[1]["result"]["text"], "1/5/2024");
  EXPECT_EQ(lines[2]["result"]["kind"], "Single");
  EXPECT_EQ(lines[3]["result"]["text"], "True");
  EXPECT_EQ(lines[4]["result"]["kind"], "String");
  EXPECT_EQ(lines[5]["result"]["kind"], "Empty");
}

TEST(TarnEval, LowerCaseEndIfIsReportedBySyntaxError) {
  ToolResult r = Eval({"--json", "-e", "IF 1 THEN 2 end if"});
  auto line = Lines(r.out).at(0);
  ASSERT_FALSE(line["reports"].empty());
  EXPECT_EQ(line["reports"][0]["procedure"], "GetStatements");
  EXPECT_EQ(line["reports"][0]["message"], "Error: -2147218559 - Syntax error");
  EXPECT_EQ(line["fields"], 0);
}

TEST(TarnEval, UsageErrorsExitWithTwo) {
  for (std::vector<std::string> args : {std::vector<std::string>{"--bogus"},
                                        {"-f", "Field1=Long:abc", "-e", "1"},
                                        {"-f", "Field1", "-e", "1"},
                                        {"--fields", "/nonexistent.json"}}) {
    EXPECT_EQ(Eval(args).status, 2) << args[0];
  }
}

TEST(TarnEval, FileGivesOneTextThatMaySpanLines) {
  char path[] = "/tmp/tarn-eval-XXXXXX";
  int fd = mkstemp(path);
  const std::string text = "IF 0 THEN\r\n2\r\nELSE\r\n3\r\nEND IF";
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  ToolResult r = Eval({"--json", "--file", path});
  unlink(path);
  EXPECT_EQ(Lines(r.out).at(0)["result"]["text"], "3");
}

// ---- hardening and clear words --------------------------------------------

std::string TempFile(const std::string& name, const std::string& text) {
  const std::string path =
      testing::TempDir() + "tarn_eval_test_" + std::to_string(getpid()) + "_" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  return path;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(TarnEval, DeeplyNestedFieldsFileIsAUsageError) {
  std::string value;
  for (int i = 0; i < 100000; ++i) value += "{\"v\":";
  value += "1" + std::string(100000, '}');
  for (const std::string& v : {value, "[" + std::string(100000, '[') + std::string(100001, ']')}) {
    const std::string path =
        TempFile("deep.json", "{\"F\": {\"type\": \"String\", \"value\": " + v + "}}");
    const ToolResult r = Eval({"--fields", path, "F"});
    EXPECT_EQ(r.status, 2) << r.err.substr(0, 200);
    EXPECT_TRUE(Has(r.err, "nests deeper than")) << r.err.substr(0, 200);
  }
}

TEST(TarnEval, ADirectoryAsInputCannotBeRead) {
  const std::string dir = testing::TempDir();
  for (const char* option : {"--file", "--fields"}) {
    const ToolResult r = Eval({option, dir});
    EXPECT_EQ(r.status, 2) << option;
    EXPECT_TRUE(Has(r.err, "cannot be read: Is a directory")) << r.err;
  }
}

// Only the interpreter's own Error field means failure; a host field that
// happens to be named Error is a value like any other.
TEST(TarnEval, AHostFieldNamedErrorIsNoFailure) {
  ToolResult r = Eval({"-f", "Error=Boolean:False", "Error"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "False\n");
  r = Eval({"-f", "Error=Boolean:False", "Error +"});
  EXPECT_EQ(r.status, 0);  // ends in an operator: the operator comes back
  r = Eval({"-f", "Error=Boolean:False", "Nothing + Error"});
  EXPECT_EQ(r.status, 1);
}

TEST(TarnEval, DashReadsOneExpressionPerLineFromStandardInput) {
  const ToolResult r = Eval({"-f", "N=Long:4", "-"}, "N + 1\r\n\"a\" & \"b\"\nN * 2");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "5\nab\n8\n");
  const ToolResult j = Eval({"--json", "-e", "1", "-"}, "2\n");
  const auto lines = Lines(j.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1]["expression"], "2");
}

TEST(TarnEval, UnknownTypeWordWarnsAndStillWorks) {
  const ToolResult r = Eval({"-f", "X=Lnog:5", "X"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "5\n");
  EXPECT_TRUE(Has(r.err, "'Lnog'")) << r.err;
  EXPECT_TRUE(Has(r.err, "Integer, Long, Single, Double, Boolean, Date, String")) << r.err;
  EXPECT_EQ(Eval({"-f", "X=Long:5", "X"}).err, "");
}

TEST(TarnEval, UnknownNamesAreNamedWithTheNearestField) {
  struct Case {
    std::vector<std::string> args;
    const char* says;  // "" for nothing on standard error
  } cases[] = {
      {{"-f", "LastName=String:Smith", "LastNme"}, "no field 'LastNme'; did you mean 'LastName'?"},
      {{"-f", "LastName=String:Smith", "Format lastname, \">\""}, ""},
      {{"-f", "LastName=String:Smith", "IF 1 = 1 THEN \"x\" ELSE Zzzzzz END IF"},
       "no field 'Zzzzzz'\n"},
      {{"-f", "Age=Long:4", "\"Agee\" & Age"}, ""},
      {{"-f", "D=Date:1/2/2024", "FormatHL7DateTime D, 0, , True, False"}, ""},
  };
  for (const auto& c : cases) {
    const ToolResult r = Eval(c.args);
    if (*c.says)
      EXPECT_TRUE(Has(r.err, c.says)) << c.args.back() << ": " << r.err;
    else
      EXPECT_EQ(r.err, "") << c.args.back();
  }
}

TEST(TarnEval, StrictReportsWhatTheDefaultEvaluatesQuietly) {
  const std::vector<std::string> fields = {
      "-f", "Phone=String:555-123-4567", "-f", "D=Date:1/5/2024",
      "-f", "Flag=Boolean:True",         "-f", "LastName=String:Smith"};
  struct Case {
    std::string text;
    std::string lenient;    // the default's text, no report, exit 0; or "Error": exit 1
    std::string procedure;  // the strict report's procedure ("" for none)
    std::string problem;    // a part of its message
  } cases[] = {
      {"Replace Phone, \"-\"", "555<EOL>123<EOL>4567", "GetReplaceArguments",
       "Replace needs a text to find and its replacement"},
      {"IF 1 = 1 THEN \"a\" ELSE IF 2 = 2 THEN \"b\" END IF END IF", "Error", "RemoveEndIf",
       "an IF block inside a branch"},
      {"Format & \"!\"", "x!", "RealizeRegularExpression",  // with a field Format
       "the host's field 'Format' hides the function Format"},
      {"IF 1 = 2 THEN LastNme ELSE LastName END IF", "Smith", "UnknownNames",
       "no field 'LastNme'; did you mean 'LastName'?"},
      {"Replace Phone, \"-\" , \"\"", "5551234567", "", ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = fields;
    if (c.text.rfind("Format &", 0) == 0) args.insert(args.end(), {"-f", "Format=String:x"});
    args.insert(args.end(), {"--json", c.text});
    const ToolResult lenient = Eval(args);
    const auto lines = Lines(lenient.out);
    ASSERT_EQ(lines.size(), 1u) << c.text;
    if (c.lenient == "Error") {
      EXPECT_EQ(lenient.status, 1) << c.text;
      EXPECT_EQ(lines[0]["result"]["Name"], "Error") << c.text;
    } else {
      EXPECT_EQ(lenient.status, 0) << c.text;
      EXPECT_EQ(lines[0]["result"]["text"], c.lenient) << c.text;
    }
    EXPECT_EQ(lines[0]["reports"].size(), 0u) << c.text;

    args.insert(args.begin(), "--strict");
    const ToolResult strict = Eval(args);
    const auto strict_lines = Lines(strict.out);
    ASSERT_EQ(strict_lines.size(), 1u) << c.text;
    const json& reports = strict_lines[0]["reports"];
    if (c.procedure.empty()) {
      EXPECT_EQ(strict.status, 0) << c.text;
      EXPECT_EQ(strict_lines[0]["result"]["text"], c.lenient) << c.text;
      EXPECT_EQ(reports.size(), 0u) << c.text;
      continue;
    }
    EXPECT_EQ(strict.status, 1) << c.text;
    ASSERT_GE(reports.size(), 1u) << c.text;
    EXPECT_EQ(reports[0]["procedure"], c.procedure) << c.text;
    const std::string message = reports[0]["message"];
    EXPECT_EQ(message.rfind("Error: 5 - Invalid procedure call or argument: ", 0), 0u) << message;
    EXPECT_TRUE(Has(message, c.problem)) << message;
    // A name that is no field leaves the value alone; everything else is the Error field.
    if (c.procedure != "UnknownNames") {
      EXPECT_EQ(strict_lines[0]["result"]["Name"], "Error");
    }
  }
}

}  // namespace

namespace {

// --strict fails wherever tarn-hl7 would reject the same text; without it
// these texts still exit 0.
TEST(TarnEval, StrictExitsWhereTarnHl7WouldReject) {
  for (const std::string text : {"Age / 0", "Big", "\"n\" & Big"}) {
    const std::vector<std::string> args = {"-f", "Age=Long:42", "-f", "Big=Double:1e20", text};
    EXPECT_EQ(Eval(args).status, 0) << text;
    std::vector<std::string> strict = args;
    strict.insert(strict.begin(), "--strict");
    const ToolResult r = Eval(strict);
    EXPECT_EQ(r.status, 1) << text;
    EXPECT_FALSE(r.err.empty()) << text;
  }
  EXPECT_EQ(Eval({"--strict", "-f", "Age=Long:42", "Age / 2"}).status, 0);
  // An operator without its operand comes back as itself; strict refuses it.
  EXPECT_EQ(Eval({"-f", "Age=Long:42", "Age &"}).status, 0);
  EXPECT_EQ(Eval({"--strict", "-f", "Age=Long:42", "Age &"}).status, 1);
}

TEST(TarnEval, RecordIsReadAsTarnHl7ReadsOne) {
  const std::string record = TempFile("record.json",
                                      "{\"Seen\": \"2024-07-01T10:00:00-04:00\",\n \"Born\": "
                                      "\"05/03/1980\", \"Kin\": [{\"A\": 1}]}");
  const ToolResult r = Eval({"--strict", "--record", record, "--dates", "Seen,Born", "--date-order",
                             "dmy", "FormatHL7DateTime Seen, 0, , True, True, SeenOffset",
                             "FormatHL7DateTime Born", "RecordNumber & ControlId"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "20240701100000-0400\n19800305\n11\n");
  EXPECT_TRUE(Has(r.err, "list 'Kin' is left out")) << r.err;
  EXPECT_EQ(Eval({"--record", TempFile("bad.json", "{\"D\": \"x\"}"), "--dates", "D", "1"}).status,
            2);
}

TEST(TarnEval, DateFieldsTakeTheFormsRecordsUse) {
  const ToolResult r =
      Eval({"-f", "D=Date:2024-07-01T10:00:00-04:00", "-f", "E=Date:20240105134510",
            "FormatHL7DateTime D, 0, , True, True, DOffset", "FormatHL7DateTime E, 0, , True"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "20240701100000-0400\n20240105134510\n");
}

TEST(TarnEval, CommentLinesFromStandardInputAreSkipped) {
  const ToolResult r = Eval({"-"}, "# a comment\n1 + 1\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "2\n");
}

}  // namespace
