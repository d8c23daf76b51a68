#include "app/OdbcConnection.h"

#include <memory>
#include <sql.h>
#include <sqlext.h>

namespace {

// The PostgreSQL ODBC driver's settings for the test connection.
const char* const kDriverOptions =
    ";SSLmode=disable;ReadOnly=0;Protocol=7.4;FakeOidIndex=0;ShowOidColumn=0;"
    "RowVersioning=0;ShowSystemTables=0;ConnSettings=;Fetch=100;Socket=4096;"
    "UnknownSizes=0;"
    "MaxVarcharSize=254;MaxLongVarcharSize=8190;Debug=0;CommLog=0;Optimizer=1;"
    "Ksqo=1;"
    "UseDeclareFetch=0;TextAsLongVarchar=1;UnknownsAsLongVarchar=0;BoolsAsChar=1;"
    "Parse=0;"
    "CancelAsFreeStmt=0;ExtraSysTablePrefixes=dd_;LFConversion=1;"
    "UpdatableCursors=1;"
    "DisallowPremature=0;TrueIsMinus1=0;BI=0;ByteaAsLongVarBinary=0;"
    "UseServerSidePrepare=0;LowerCaseIdentifier=0;XaOpt=1";

struct THandle {
    SQLSMALLINT type;
    SQLHANDLE handle = SQL_NULL_HANDLE;
    explicit THandle(SQLSMALLINT t) : type(t) {}
    ~THandle() {
        if (handle != SQL_NULL_HANDLE)
            SQLFreeHandle(type, handle);
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
};

bool Ok(SQLRETURN r) {
    return r == SQL_SUCCESS || r == SQL_SUCCESS_WITH_INFO;
}

std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::string out;
    SQLCHAR state[6];
    SQLCHAR text[1024];
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    for (SQLSMALLINT i = 1; Ok(SQLGetDiagRec(type, handle, i, state, &native, text, sizeof text, &len));
         ++i) {
        if (!out.empty())
            out += "\n";
        out += reinterpret_cast<const char*>(text);
    }
    return out.empty() ? std::string("ODBC error") : out;
}

} // namespace

std::string OdbcConnectionString(const TOdbcSettings& s) {
    return "DRIVER={" + s.driver + "};DATABASE=" + s.database + ";SERVER=" + s.server + ";PORT=" + s.port +
           ";UID=" + s.user + ";PWD=" + s.password + kDriverOptions;
}

bool OdbcTryConnect(const std::string& connectionString, std::string& error) {
    THandle env(SQL_HANDLE_ENV);
    if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env.handle))) {
        error = "no ODBC environment";
        return false;
    }
    SQLSetEnvAttr(env.handle, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    THandle dbc(SQL_HANDLE_DBC);
    if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, env.handle, &dbc.handle))) {
        error = Diagnostics(SQL_HANDLE_ENV, env.handle);
        return false;
    }
    SQLSetConnectAttr(dbc.handle, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
    std::string text = connectionString;
    SQLCHAR out[2048];
    SQLSMALLINT outLen = 0;
    const SQLRETURN r = SQLDriverConnect(dbc.handle, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                         static_cast<SQLSMALLINT>(text.size()), out, sizeof out, &outLen,
                                         SQL_DRIVER_NOPROMPT);
    if (!Ok(r)) {
        error = Diagnostics(SQL_HANDLE_DBC, dbc.handle);
        return false;
    }
    SQLDisconnect(dbc.handle);
    return true;
}
