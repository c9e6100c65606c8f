// A procedure call whose output parameter must come back on an ODBC
// connection: the ODBC backend binds every parameter as input, so this one
// call goes straight to the driver manager on the session's own connection
// handle (and so inside its transaction).
#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstring>
#include <soci/odbc/soci-odbc.h>

#include "processing/db_internal.h"
#include "qsmlib/except.h"

namespace {

struct OdbcApi {
  SQLRETURN (*allocHandle)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*);
  SQLRETURN (*bindParameter)(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLSMALLINT, SQLSMALLINT, SQLULEN, SQLSMALLINT,
                             SQLPOINTER, SQLLEN, SQLLEN*);
  SQLRETURN (*execDirect)(SQLHSTMT, SQLCHAR*, SQLINTEGER);
  SQLRETURN (*freeHandle)(SQLSMALLINT, SQLHANDLE);
  SQLRETURN (*getDiagRec)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR*, SQLINTEGER*, SQLCHAR*, SQLSMALLINT,
                          SQLSMALLINT*);
};

// The driver manager the backend has already loaded.
const OdbcApi& Api() {
  static OdbcApi api = [] {
    void* lib = ::dlopen("libodbc.so.2", RTLD_LAZY | RTLD_NOLOAD);
    if (lib == nullptr) lib = ::dlopen("libodbc.so.2", RTLD_LAZY);
    if (lib == nullptr) throw Exception("Gerenciador ODBC (libodbc.so.2) nao encontrado.");
    OdbcApi a{};
    a.allocHandle = reinterpret_cast<decltype(a.allocHandle)>(::dlsym(lib, "SQLAllocHandle"));
    a.bindParameter = reinterpret_cast<decltype(a.bindParameter)>(::dlsym(lib, "SQLBindParameter"));
    a.execDirect = reinterpret_cast<decltype(a.execDirect)>(::dlsym(lib, "SQLExecDirect"));
    a.freeHandle = reinterpret_cast<decltype(a.freeHandle)>(::dlsym(lib, "SQLFreeHandle"));
    a.getDiagRec = reinterpret_cast<decltype(a.getDiagRec)>(::dlsym(lib, "SQLGetDiagRec"));
    if (!a.allocHandle || !a.bindParameter || !a.execDirect || !a.freeHandle || !a.getDiagRec)
      throw Exception("Gerenciador ODBC incompleto.");
    return a;
  }();
  return api;
}

std::string Diagnostics(SQLHSTMT statement) {
  SQLCHAR state[6] = {};
  SQLCHAR text[1024] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(Api().getDiagRec(SQL_HANDLE_STMT, statement, 1, state, &native, text, sizeof text, &length)))
    return "erro ODBC sem diagnostico";
  return std::string(reinterpret_cast<char*>(text)) + " (SQL state " + reinterpret_cast<char*>(state) + ")";
}

}  // namespace

// Runs "CALL proc(?, ?)" with input as the first parameter and returns the
// second, an output parameter, as text.
std::string OdbcCallWithOutput(const std::string& procedure, const std::string& input) {
  soci::session& session = DbSession();
  if (session.get_backend_name() != "odbc") throw Exception("A conexao nao e ODBC.");
  auto* backend = static_cast<soci::odbc_session_backend*>(session.get_backend());
  const OdbcApi& api = Api();

  SQLHSTMT statement = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(api.allocHandle(SQL_HANDLE_STMT, backend->hdbc_, &statement)))
    throw Exception("Nao foi possivel criar o comando ODBC.");
  char in[256] = {};
  std::memcpy(in, input.data(), std::min(input.size(), sizeof in - 1));
  SQLLEN inLength = SQL_NTS;
  char out[256] = {};
  SQLLEN outLength = 0;
  const std::string sql = "CALL " + procedure + "(?, ?)";
  SQLRETURN rc = api.bindParameter(statement, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, sizeof in - 1, 0, in,
                                   sizeof in, &inLength);
  if (SQL_SUCCEEDED(rc))
    rc = api.bindParameter(statement, 2, SQL_PARAM_OUTPUT, SQL_C_CHAR, SQL_VARCHAR, sizeof out - 1, 0, out,
                           sizeof out, &outLength);
  if (SQL_SUCCEEDED(rc))
    rc = api.execDirect(statement, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
  if (!SQL_SUCCEEDED(rc)) {
    const std::string message = Diagnostics(statement);
    api.freeHandle(SQL_HANDLE_STMT, statement);
    throw Exception(message);
  }
  api.freeHandle(SQL_HANDLE_STMT, statement);
  if (outLength == SQL_NULL_DATA) return {};
  const std::size_t n = outLength < 0 ? std::strlen(out) : std::min<std::size_t>(outLength, sizeof out - 1);
  return std::string(out, n);
}
