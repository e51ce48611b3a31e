// Rows are fetched whole at each run of the query and handed on one line at
// a time; the query is wrapped so that the database orders the rows by the
// key and returns only those after the last one read.
#include "hl7/odbc.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <nlohmann/json.hpp>

#include "hl7/feed.h"

namespace tarn::hl7 {

namespace {

using nlohmann::json;

std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string out;
  for (SQLSMALLINT i = 1; i < 8; ++i) {
    SQLCHAR state[6] = {}, text[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT size = 0;
    const SQLRETURN rc = SQLGetDiagRec(type, handle, i, state, &native, text, sizeof text, &size);
    if (!SQL_SUCCEEDED(rc)) break;
    if (!out.empty()) out += "; ";
    // Drivers break their messages over lines; the tool's are one line each.
    bool space = false;
    for (const char* c = reinterpret_cast<const char*>(text); *c; ++c) {
      const bool blank = *c == '\n' || *c == '\r' || *c == '\t' || *c == ' ';
      if (blank && !space && !out.empty() && out.back() != ' ') out += ' ';
      if (!blank) out += *c;
      space = blank;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == ';')) out.pop_back();
    out += std::string(" (") + reinterpret_cast<const char*>(state) + ")";
  }
  return out.empty() ? "no message from the driver" : out;
}

void AppendUtf8(std::string& out, const SQLWCHAR* units, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    else if (c >= 0xD800 && c < 0xE000)
      c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
}

bool SameNameNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// One connection; every failure closes it, so that the next use connects
// afresh (a dropped connection is found by the statement that fails).
class Connection {
 public:
  explicit Connection(std::string text) : text_(std::move(text)) {}
  ~Connection() { Close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  SQLHDBC Get() {
    if (dbc_) return dbc_;
    if (!env_) {
      if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_)))
        throw DatabaseError("odbc: no environment handle");
      SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    }
    SQLHDBC dbc = nullptr;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc)))
      throw DatabaseError("odbc: " + Diagnostics(SQL_HANDLE_ENV, env_));
    SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(10), 0);
    std::string text = text_;
    const SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                          SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
      const std::string why = Diagnostics(SQL_HANDLE_DBC, dbc);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc);
      throw DatabaseError("the database cannot be reached: " + why);
    }
    dbc_ = dbc;
    return dbc_;
  }

  void Close() {
    if (dbc_) {
      SQLDisconnect(dbc_);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
      dbc_ = nullptr;
    }
    if (env_) {
      SQLFreeHandle(SQL_HANDLE_ENV, env_);
      env_ = nullptr;
    }
  }

 private:
  std::string text_;
  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
};

class Statement {
 public:
  explicit Statement(SQLHDBC dbc) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt_)))
      throw DatabaseError(Diagnostics(SQL_HANDLE_DBC, dbc));
  }
  ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  operator SQLHSTMT() const { return stmt_; }
  void Check(SQLRETURN rc, const std::string& what) const {
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
      throw DatabaseError(what + ": " + Diagnostics(SQL_HANDLE_STMT, stmt_));
  }

 private:
  SQLHSTMT stmt_ = nullptr;
};

enum class ColumnKind { Integer, Real, Boolean, Date, Time, Timestamp, Text };

ColumnKind KindOf(SQLSMALLINT type) {
  switch (type) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT: return ColumnKind::Integer;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE: return ColumnKind::Real;
    case SQL_BIT: return ColumnKind::Boolean;
    case SQL_TYPE_DATE:
    case SQL_DATE: return ColumnKind::Date;
    case SQL_TYPE_TIME:
    case SQL_TIME: return ColumnKind::Time;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP: return ColumnKind::Timestamp;
    default: return ColumnKind::Text;
  }
}

struct Column {
  std::string name;
  ColumnKind kind;
};

std::string Trimmed(std::string q) {
  while (!q.empty() && (std::isspace(static_cast<unsigned char>(q.back())) || q.back() == ';'))
    q.pop_back();
  return q;
}

// A key's JSON text as an SQL literal.
std::string Literal(const std::string& key_json) {
  const json k = json::parse(key_json, nullptr, false);
  if (k.is_number()) return k.dump();
  const std::string s = k.is_string() ? k.get<std::string>() : key_json;
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

}  // namespace

struct OdbcInput::State final : LineFeed {
  explicit State(OdbcSource s) : source(std::move(s)), connection(source.connection) {
    last = source.after;
    setg(out.data(), out.data(), out.data());
  }

  bool LineReady() override {
    return gptr() < egptr() || !rows.empty() || (ran && !open && !again && source.poll <= 0) ||
           StopRequested();
  }

  int_type underflow() override {
    while (gptr() == egptr()) {
      if (!rows.empty()) {
        out = std::move(rows.front());
        rows.pop_front();
        setg(out.data(), out.data(), out.data() + out.size());
        break;
      }
      if (open) {  // the rest of a query without a key
        Chunk();
        continue;
      }
      if (StopRequested() || (ran && !again && source.poll <= 0)) return traits_type::eof();
      if (ran && !again) {
        if (source.on_idle) source.on_idle();
        const double since =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - last_run).count();
        if (!WaitUnlessStopped(source.poll - since)) return traits_type::eof();
      }
      Fetch();
    }
    return traits_type::to_int_type(*gptr());
  }

  // Runs the query, retrying with a growing delay while polling.
  void Fetch() {
    double delay = 1;
    for (;;) {
      try {
        Query();
        return;
      } catch (const DatabaseError& e) {
        open.reset();
        connection.Close();
        if (source.poll <= 0) throw;
        if (source.on_problem) source.on_problem(e.what());
        if (!WaitUnlessStopped(delay)) {
          if (!ran) throw;
          return;
        }
        delay = std::min(delay * 2, std::max(1.0, source.most_delay));
      }
    }
  }

  void Query() {
    last_run = std::chrono::steady_clock::now();
    std::string sql = Trimmed(source.query);
    if (!source.key.empty())
      sql = "SELECT * FROM (" + sql + ") tarn_rows" +
            (last.empty() ? "" : " WHERE " + source.key + " > " + Literal(last)) + " ORDER BY " +
            source.key;
    open.reset();
    open = std::make_unique<Statement>(connection.Get());
    const Statement& st = *open;
    st.Check(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS),
             "the query failed");
    SQLSMALLINT count = 0;
    st.Check(SQLNumResultCols(st, &count), "the query failed");
    if (count <= 0) throw DatabaseError("the query returns no columns");
    cols.clear();
    key_at = -1;
    for (SQLSMALLINT i = 1; i <= count; ++i) {
      SQLCHAR name[256] = {};
      SQLSMALLINT name_size = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      st.Check(
          SQLDescribeCol(st, i, name, sizeof name, &name_size, &type, &size, &digits, &nullable),
          "the query's columns cannot be read");
      cols.push_back({reinterpret_cast<const char*>(name), KindOf(type)});
      if (!source.key.empty() && SameNameNoCase(cols.back().name, source.key)) key_at = i - 1;
    }
    if (!source.key.empty() && key_at < 0)
      throw DatabaseError("the query has no column '" + source.key + "' (--key)");
    if (!ran) {
      for (const Column& c : cols)
        if (c.kind == ColumnKind::Date || c.kind == ColumnKind::Time ||
            c.kind == ColumnKind::Timestamp)
          dates.push_back(c.name);
      if (key_at >= 0) key_member = cols[static_cast<std::size_t>(key_at)].name;
    }
    ran = true;
    Chunk();
  }

  // Up to kChunk rows of the open query, so that memory does not grow with
  // the rows waiting. With a key the query is then closed (a reader left
  // open would keep some databases from writing) and run again after the
  // last row read; without one it stays open for the next chunk.
  void Chunk() {
    constexpr std::size_t kChunk = 500;
    const Statement& st = *open;
    std::deque<std::string> fetched;
    std::string fetched_last = last;
    bool done = false;
    while (fetched.size() < kChunk) {
      const SQLRETURN rc = SQLFetch(st);
      if (rc == SQL_NO_DATA) {
        done = true;
        break;
      }
      st.Check(rc, "a row cannot be read");
      nlohmann::ordered_json row = nlohmann::ordered_json::object();
      nlohmann::ordered_json types = nlohmann::ordered_json::object();
      for (std::size_t i = 0; i < cols.size(); ++i)
        row[cols[i].name] = Value(st, static_cast<SQLUSMALLINT>(i + 1), cols[i], types);
      if (key_at >= 0) fetched_last = row[cols[static_cast<std::size_t>(key_at)].name].dump();
      if (!types.empty() && !row.contains("types")) row["types"] = types;
      fetched.push_back(row.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
    }
    for (auto& line : fetched) rows.push_back(std::move(line));
    last = fetched_last;
    again = !done && key_at >= 0;
    if (done || again) open.reset();
  }

  nlohmann::ordered_json Value(const Statement& st, SQLUSMALLINT at, const Column& col,
                               nlohmann::ordered_json& types) {
    SQLLEN indicator = 0;
    const std::string what = "column '" + col.name + "' cannot be read";
    switch (col.kind) {
      case ColumnKind::Integer: {
        SQLBIGINT v = 0;
        st.Check(SQLGetData(st, at, SQL_C_SBIGINT, &v, 0, &indicator), what);
        if (indicator == SQL_NULL_DATA) return nullptr;
        return static_cast<std::int64_t>(v);
      }
      case ColumnKind::Real: {
        double v = 0;
        st.Check(SQLGetData(st, at, SQL_C_DOUBLE, &v, 0, &indicator), what);
        if (indicator == SQL_NULL_DATA) return nullptr;
        types[col.name] = "Double";
        return v;
      }
      case ColumnKind::Boolean: {
        unsigned char v = 0;
        st.Check(SQLGetData(st, at, SQL_C_BIT, &v, 0, &indicator), what);
        if (indicator == SQL_NULL_DATA) return nullptr;
        return v != 0;
      }
      case ColumnKind::Date:
      case ColumnKind::Timestamp: {
        SQL_TIMESTAMP_STRUCT t{};
        st.Check(SQLGetData(st, at, SQL_C_TYPE_TIMESTAMP, &t, sizeof t, &indicator), what);
        if (indicator == SQL_NULL_DATA) return nullptr;
        char text[64];
        if (col.kind == ColumnKind::Date)
          std::snprintf(text, sizeof text, "%04d-%02u-%02u", t.year, t.month, t.day);
        else
          std::snprintf(text, sizeof text, "%04d-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day,
                        t.hour, t.minute, t.second);
        return text;
      }
      case ColumnKind::Time: {
        SQL_TIME_STRUCT t{};
        st.Check(SQLGetData(st, at, SQL_C_TYPE_TIME, &t, sizeof t, &indicator), what);
        if (indicator == SQL_NULL_DATA) return nullptr;
        char text[32];
        std::snprintf(text, sizeof text, "%02u:%02u:%02u", t.hour, t.minute, t.second);
        return text;
      }
      case ColumnKind::Text: break;
    }
    std::string text;
    SQLWCHAR chunk[2048];
    for (;;) {
      const SQLRETURN rc = SQLGetData(st, at, SQL_C_WCHAR, chunk, sizeof chunk, &indicator);
      if (rc == SQL_NO_DATA) break;
      st.Check(rc, what);
      if (indicator == SQL_NULL_DATA) return nullptr;
      const std::size_t room = sizeof chunk / sizeof chunk[0] - 1;
      const std::size_t units =
          indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR) > room
              ? room
              : static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);
      AppendUtf8(text, chunk, units);
      if (rc != SQL_SUCCESS_WITH_INFO) break;
    }
    return text;
  }

  OdbcSource source;
  Connection connection;
  std::unique_ptr<Statement> open;  // a query whose rows are not all read
  std::vector<Column> cols;
  int key_at = -1;
  bool again = false;  // the last chunk was full: more rows wait
  std::deque<std::string> rows;
  std::string out;
  std::string last;  // the key of the last row read, as JSON
  bool ran = false;
  std::chrono::steady_clock::time_point last_run;
  std::vector<std::string> dates;
  std::string key_member;
  std::istream stream{this};
};

OdbcInput::OdbcInput(OdbcSource source) : state_(std::make_unique<State>(std::move(source))) {}
OdbcInput::~OdbcInput() = default;

void OdbcInput::Describe() {
  if (!state_->ran) state_->Fetch();
}
std::istream& OdbcInput::stream() { return state_->stream; }
const std::vector<std::string>& OdbcInput::date_columns() const { return state_->dates; }
const std::string& OdbcInput::key_member() const { return state_->key_member; }

struct SettledStatement::State {
  State(std::string c, std::string s) : connection(std::move(c)), text(std::move(s)) {
    // Question marks outside quotes are the parameters.
    char quote = 0;
    for (char ch : text) {
      if (quote) {
        if (ch == quote) quote = 0;
      } else if (ch == '\'' || ch == '"') {
        quote = ch;
      } else if (ch == '?') {
        ++parameters;
      }
    }
  }
  Connection connection;
  std::string text;
  int parameters = 0;
};

SettledStatement::SettledStatement(std::string connection, std::string statement)
    : state_(std::make_unique<State>(std::move(connection), std::move(statement))) {}
SettledStatement::~SettledStatement() = default;

void SettledStatement::Run(const std::string& key_json, const std::string& outcome) {
  try {
    Statement st(state_->connection.Get());
    const json key = json::parse(key_json, nullptr, false);
    SQLBIGINT whole = 0;
    double real = 0;
    std::string text = key.is_string() ? key.get<std::string>() : key_json;
    SQLLEN text_size = static_cast<SQLLEN>(text.size());
    std::string said = outcome;
    SQLLEN said_size = static_cast<SQLLEN>(said.size());
    // One parameter is the key; two are the outcome and the key, in the
    // order an UPDATE ... SET ... WHERE names them.
    const SQLUSMALLINT key_at = state_->parameters >= 2 ? 2 : 1;
    if (state_->parameters >= 1) {
      SQLRETURN rc;
      if (key.is_number_integer()) {
        whole = key.get<std::int64_t>();
        rc = SQLBindParameter(st, key_at, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &whole,
                              0, nullptr);
      } else if (key.is_number()) {
        real = key.get<double>();
        rc = SQLBindParameter(st, key_at, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &real, 0,
                              nullptr);
      } else {
        rc = SQLBindParameter(st, key_at, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                              std::max<SQLULEN>(text.size(), 1), 0, text.data(), text_size,
                              &text_size);
      }
      st.Check(rc, "--on-settled: the key cannot be passed");
    }
    if (state_->parameters >= 2)
      st.Check(SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, said.size(), 0,
                                said.data(), said_size, &said_size),
               "--on-settled: the outcome cannot be passed");
    st.Check(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(state_->text.data()), SQL_NTS),
             "--on-settled failed");
  } catch (const DatabaseError&) {
    state_->connection.Close();
    throw;
  }
}

}  // namespace tarn::hl7
