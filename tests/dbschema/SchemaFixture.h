#pragma once
// Helpers for the tests of the prepared database: object tables built with the statements the
// importer sends, and SQL that is expected to fail.
#include <string>
#include <vector>

#include "TestDatabase.h"

// Runs SQL on a connection of its own; the server's primary error message, or "" on success.
std::string ExecError(const TTestDatabase& db, const std::string& sql);

// Prepares sql with parameters of unspecified type (as the importer's database layer does) and runs
// it with the values; the server's primary error message, or "" on success.
std::string ExecPreparedError(const TTestDatabase& db, const std::string& sql,
                              const std::vector<std::string>& values);

// The CREATE statements the importer sends for a new object table: staging table and public twin.
// In group mode key is the two-digit group code, otherwise the object type.
struct TObjectTableSql {
    std::string staging;
    std::string publicTwin;
};
TObjectTableSql ObjectTableSql(TTestDatabase& db, const std::string& key, bool groupMode);

// Creates the staging table (and, when asked, its public twin) of an object type as the importer does.
void CreateObjectTables(TTestDatabase& db, const std::string& objectType, bool withPublicTwin = true);

// alkistemp.id_refs exactly as the importer creates it on the first relation of a run.
void CreateStagingIdRefs(TTestDatabase& db);

std::string Lower(std::string text);
