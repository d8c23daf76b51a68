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

// The advisory locks of Kelpora, in the two-key form of the server's advisory lock functions (its own key
// space, apart from the one-key form): the first key says "Kelpora" (the bytes of "KELP"), the second
// what is locked.
inline constexpr int kKelporaLockKey = 0x4B454C50;
// Taken by the transaction of every file before it writes anything: imports into one database follow one
// another file by file.
inline constexpr int kImportLock = 0;
// Taken while a run makes the table logs or chooses its number.
inline constexpr int kRunLogLock = 1;
// The run numbers in use: a run's session holds the lock (kRunNumberLockKey, its number) from the choice
// of its number to its end, so that runs that start together never get the same one.
inline constexpr int kRunNumberLockKey = 0x4B454C52; // "KELR"
