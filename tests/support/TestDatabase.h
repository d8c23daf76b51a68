#pragma once
// A fresh database for one test, cloned from the template that scripts/test.sh prepared (PostGIS and
// the target schema of db/), and dropped again when the test ends. The server is found through the
// usual libpq environment variables (PGHOST, PGPORT, PGUSER).
#include <optional>
#include <string>
#include <vector>

struct pg_conn;

class TTestDatabase {
public:
    TTestDatabase();
    ~TTestDatabase();
    TTestDatabase(const TTestDatabase&) = delete;
    TTestDatabase& operator=(const TTestDatabase&) = delete;

    const std::string& Name() const { return name; }
    static std::string Host();
    static int Port();
    static std::string User();
    // The password of the test server's user (for TCP connections).
    static std::string Password();
    // A libpq connection string for this database.
    std::string ConnInfo() const;

    // Runs SQL (several statements allowed); fails the test on an error.
    void Exec(const std::string& sql);
    // Runs one query; every row as its column texts (NULL as std::nullopt). Fails the test on an error.
    std::vector<std::vector<std::optional<std::string>>> Query(const std::string& sql);
    // The first column of the first row as text ("<null>" for NULL, "<none>" without rows).
    std::string Scalar(const std::string& sql);

private:
    std::string name;
    pg_conn* conn = nullptr;
};

// The folder of the shared test data (real NAS files).
std::string TestDataDir();

// Loads db/install.sql into the test's database once more, as a second install would, from a folder
// other than db/ (its parts are found relative to the script); the exit status of psql.
int RunInstallAgain(const TTestDatabase& db);

// The notes that what a feature holds by design of the import is not stored (its links to specialist
// data, zeigtAufExternes, and the source description of its quality data): the real test files carry
// both, and tests of other reports leave these notes aside. As a condition on `logs.beschreibung`, and
// for a line of the log window or a run log row.
inline const char* const kNoDesignNote =
    "beschreibung NOT LIKE 'Die Eigenschaft % wird nicht gespeichert: %'";
bool IsDesignNote(const std::string& line);
std::vector<std::string> WithoutDesignNotes(const std::vector<std::string>& lines);
