#pragma once
// A thin owner of an SQLite connection and its prepared statements: errors come back as
// false plus the library's message, nothing throws.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik::catalog {

class Statement {
 public:
  Statement() = default;
  Statement(sqlite3* db, std::string_view sql);
  ~Statement();
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool Valid() const { return stmt_ != nullptr; }
  // Binds by position (1-based); chainable.
  Statement& Bind(int i, std::int64_t value);
  Statement& Bind(int i, std::string_view text);
  Statement& Bind(int i, const char* text) { return Bind(i, std::string_view(text)); }
  Statement& BindNull(int i);
  // Binds text that stays where it is, unchanged, until the statement is next reset: it is
  // not copied.
  Statement& BindStatic(int i, std::string_view text);
  // Binds such text, or NULL when empty.
  Statement& BindStaticOrNull(int i, std::string_view text) { return text.empty() ? BindNull(i) : BindStatic(i, text); }
  // Binds text, or NULL when empty.
  Statement& BindText(int i, std::string_view text) { return text.empty() ? BindNull(i) : Bind(i, text); }
  // One step: true while a row is there. Done() tells whether the statement ran to its end.
  bool Step();
  bool Done() const { return lastStatus_ == SQLITE_DONE; }
  // Runs to the end and resets for the next use; false on an error.
  bool Run();
  void Reset();
  std::int64_t Int(int column) const;
  std::string Text(int column) const;
  bool IsNull(int column) const;

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int lastStatus_ = SQLITE_OK;
};

class Database {
 public:
  Database() = default;
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  bool Open(const std::string& path, bool readOnly);
  bool Exec(std::string_view sql);
  Statement Prepare(std::string_view sql) { return Statement(db_, sql); }
  std::string Error() const;
  std::int64_t Changes() const { return db_ ? sqlite3_changes64(db_) : 0; }
  sqlite3* Handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace tarvik::catalog
