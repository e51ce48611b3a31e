// Baselines measured in the same run as the evaluation benchmarks: Lua 5.4
// loading and running the equivalent chunk on every call, and a bare loop
// that does only the minimum this design needs for "Field1 + 1".
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>

#ifdef TARN_BENCH_LUA
extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}
#endif

namespace {

// Scan the text, put three temporary values into a map under generated
// names, look up one field, add, take the three out again.
void BM_BareLoop(benchmark::State& state) {
  using Value = std::variant<long, std::string>;
  std::unordered_map<std::string, Value> fields;
  fields.emplace("Field1", Value(41L));
  const std::string_view text = "Field1 + 1";
  for (auto _ : state) {
    std::string_view words[3];
    int n = 0;
    std::size_t i = 0;
    while (i < text.size() && n < 3) {
      while (i < text.size() && text[i] == ' ') ++i;
      const std::size_t start = i;
      while (i < text.size() && text[i] != ' ') ++i;
      words[n++] = text.substr(start, i - start);
    }
    fields.emplace("Autodf1", Value(std::string(words[1])));
    fields.emplace("Autodf2", Value(std::stol(std::string(words[2]))));
    const long sum = std::get<long>(fields.find(std::string(words[0]))->second) +
                     std::get<long>(fields.find("Autodf2")->second);
    fields.emplace("Autodf3", Value(sum));
    benchmark::DoNotOptimize(sum);
    fields.erase("Autodf1");
    fields.erase("Autodf2");
    fields.erase("Autodf3");
  }
}
BENCHMARK(BM_BareLoop);

#ifdef TARN_BENCH_LUA
struct LuaState {
  lua_State* L = luaL_newstate();
  LuaState() {
    luaL_openlibs(L);
    luaL_dostring(L,
                  "F1 = 41 L = 'Smith' F = 'John' Age = 42 P = '555-123-4567' "
                  "T = os.time{year=2023, month=11, day=14, hour=22, min=13, sec=20}");
  }
  ~LuaState() { lua_close(L); }
};

void RunLua(benchmark::State& state, std::string_view chunk) {
  LuaState lua;
  for (auto _ : state) {
    if (luaL_loadbuffer(lua.L, chunk.data(), chunk.size(), "expr") != LUA_OK ||
        lua_pcall(lua.L, 0, 1, 0) != LUA_OK) {
      state.SkipWithError(lua_tostring(lua.L, -1));
      return;
    }
    lua_pop(lua.L, 1);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_LuaArith(benchmark::State& s) { RunLua(s, "return F1 + 1"); }
void BM_LuaGroup(benchmark::State& s) { RunLua(s, "return 2 * (3 + 4)"); }
void BM_LuaConcat(benchmark::State& s) { RunLua(s, "return L .. \", \" .. F"); }
void BM_LuaIf(benchmark::State& s) {
  RunLua(s, "if Age > 17 then return \"A\" else return \"C\" end");
}
void BM_LuaFormatDate(benchmark::State& s) { RunLua(s, "return os.date(\"%Y%m%d\", T)"); }
void BM_LuaReplace(benchmark::State& s) { RunLua(s, "return (string.gsub(P, \"-\", \"\"))"); }
BENCHMARK(BM_LuaArith);
BENCHMARK(BM_LuaGroup);
BENCHMARK(BM_LuaConcat);
BENCHMARK(BM_LuaIf);
BENCHMARK(BM_LuaFormatDate);
BENCHMARK(BM_LuaReplace);
#endif

}  // namespace

BENCHMARK_MAIN();
