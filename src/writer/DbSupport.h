#pragma once
// Small pieces the writer's database operations share.
#include <memory>
#include <string>

class TZQuery;

// The report, and the error a file ends with, when the server ended the session.
inline constexpr const char* kConnectionLostText = "Die Verbindung zur Datenbank ist abgebrochen.";

// The run's shared statement; throws EDatabaseError when no run holds a connection.
TZQuery& SharedStatement(const std::shared_ptr<TZQuery>& cmd);

// `name` in lower case when it is a plain SQL identifier (ASCII letters, digits and "_", not starting
// with a digit, at most 63 characters, which the server would otherwise cut short). Anything else, such
// as an object type name from a file holding quotes, blanks or semicolons, throws EDatabaseError, so
// that no text of a file can reach SQL as a piece of a statement.
std::string SqlIdentifier(const std::string& name);
