// tarn-eval's cases that do not fit a row of tests/data/tools.tsv.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/run_tool.h"
#include "support/temp_files.h"

namespace {

TEST(TarnEval, DeeplyNestedFieldsFileIsAUsageError) {
  const std::string dir = tarn::testing::TempDir("eval").string();
  std::string value;
  for (int i = 0; i < 100000; ++i) value += "{\"v\":";
  value += "1" + std::string(100000, '}');
  for (const std::string& v : {value, "[" + std::string(100000, '[') + std::string(100001, ']')}) {
    const std::string path = dir + "/deep.json";
    std::ofstream(path) << "{\"F\": {\"type\": \"String\", \"value\": " + v + "}}";
    const auto r = tarn::testing::RunTool(TARN_EVAL_PATH, {"--fields", path, "F"});
    EXPECT_EQ(r.status, 2) << r.err.substr(0, 200);
    EXPECT_NE(r.err.find("nests deeper than"), std::string::npos) << r.err.substr(0, 200);
  }
}

}  // namespace
