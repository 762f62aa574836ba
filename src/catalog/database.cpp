#include "catalog/database.hpp"

#include <utility>

namespace tarvik::catalog {

Statement::Statement(sqlite3* db, std::string_view sql) {
  if (db && sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement::Statement(Statement&& other) noexcept
    : stmt_(std::exchange(other.stmt_, nullptr)), lastStatus_(other.lastStatus_) {}

Statement& Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(stmt_);
    stmt_ = std::exchange(other.stmt_, nullptr);
    lastStatus_ = other.lastStatus_;
  }
  return *this;
}

Statement& Statement::Bind(int i, std::int64_t value) {
  if (stmt_) sqlite3_bind_int64(stmt_, i, value);
  return *this;
}

Statement& Statement::Bind(int i, std::string_view text) {
  if (stmt_) sqlite3_bind_text64(stmt_, i, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  return *this;
}

Statement& Statement::BindStatic(int i, std::string_view text) {
  if (stmt_) sqlite3_bind_text64(stmt_, i, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
  return *this;
}

Statement& Statement::BindNull(int i) {
  if (stmt_) sqlite3_bind_null(stmt_, i);
  return *this;
}

bool Statement::Step() {
  if (!stmt_) return false;
  lastStatus_ = sqlite3_step(stmt_);
  return lastStatus_ == SQLITE_ROW;
}

bool Statement::Run() {
  if (!stmt_) return false;
  while (Step()) {
  }
  const bool ok = lastStatus_ == SQLITE_DONE;
  Reset();
  return ok;
}

void Statement::Reset() {
  if (!stmt_) return;
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

std::int64_t Statement::Int(int column) const { return stmt_ ? sqlite3_column_int64(stmt_, column) : 0; }

std::string Statement::Text(int column) const {
  if (!stmt_) return {};
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  return text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
              : std::string();
}

bool Statement::IsNull(int column) const { return !stmt_ || sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

Database::~Database() { sqlite3_close_v2(db_); }

bool Database::Open(const std::string& path, bool readOnly) {
  const int flags = readOnly ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) return false;
  sqlite3_busy_timeout(db_, 60000);
  return true;
}

bool Database::Exec(std::string_view sql) {
  return db_ && sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::string Database::Error() const { return db_ ? sqlite3_errmsg(db_) : "cannot open the database"; }

}  // namespace tarvik::catalog
