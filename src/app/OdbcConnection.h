#pragma once
// The connection test of the settings dialog goes through the ODBC driver manager with the PostgreSQL
// ODBC driver, independent of the client library an import uses.
#include <string>

struct TOdbcSettings {
    std::string driver, server, port, database, user, password;
};

// The driver connection string: DRIVER, DATABASE, SERVER, PORT, UID and PWD as given (no value is
// escaped, so a ";" in a value ends it there), then the fixed options of the PostgreSQL ODBC driver.
std::string OdbcConnectionString(const TOdbcSettings& settings);

// Opens a connection with `connectionString` and closes it again. True when the driver connected;
// otherwise false, with the driver's diagnostics in `error`.
bool OdbcTryConnect(const std::string& connectionString, std::string& error);
