// Records from a database through ODBC: the rows of a query, in the order
// of a key column, as JSON lines that the record reader reads like any
// other; and the statement that tells the database which rows went out.
#pragma once

#include <functional>
#include <istream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarn::hl7 {

// A query that failed or a connection that dropped, with the driver's message.
class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OdbcSource {
  std::string connection;  // the ODBC connection string
  std::string query;       // SELECT ...
  std::string key;         // the column that grows with every new row; empty: none
  std::string after;       // JSON text of the highest key already settled; empty: none
  double poll = 0;         // seconds between runs of the query; 0: run it once
  double most_delay = 30;  // the longest wait before connecting again
  // Told of a query that failed while the input is followed (it is tried
  // again after a growing delay).
  std::function<void(const std::string&)> on_problem;
  // Called before each wait for the next run of the query.
  std::function<void()> on_idle;
};

// The input the rows make: one JSON object per row and line, members named
// as the query's columns, "types" naming Double for decimal and floating
// columns (integers are numbers, dates ISO texts under the names of
// date_columns(), NULL is null). Without `poll` the query runs once and a
// failure throws DatabaseError when read; with it, the input does not end
// (until a stop is asked for) and failures are retried.
class OdbcInput {
 public:
  explicit OdbcInput(OdbcSource source);
  ~OdbcInput();
  // Runs until the query's columns are known (connecting, with retries
  // when polling); throws DatabaseError when it cannot (and a stop was asked
  // for, when polling).
  void Describe();
  std::istream& stream();
  // The names of the columns of a date or time type.
  const std::vector<std::string>& date_columns() const;
  // The member that carries the key, as the database spells it.
  const std::string& key_member() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// --on-settled: a statement run with the record's key as its parameter; one
// with two parameters gets the outcome ("delivered" or "rejected") first and
// the key second, as in "UPDATE t SET status = ? WHERE id = ?".
class SettledStatement {
 public:
  SettledStatement(std::string connection, std::string statement);
  ~SettledStatement();
  // Throws DatabaseError with the driver's message.
  void Run(const std::string& key_json, const std::string& outcome);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tarn::hl7
