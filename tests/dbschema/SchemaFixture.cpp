#include "SchemaFixture.h"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <memory>

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

namespace {
using TConnection = std::unique_ptr<PGconn, decltype(&PQfinish)>;
using TResult = std::unique_ptr<PGresult, decltype(&PQclear)>;

std::string ErrorOf(const TResult& res) {
    const auto status = PQresultStatus(res.get());
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        return "";
    const char* primary = PQresultErrorField(res.get(), PG_DIAG_MESSAGE_PRIMARY);
    return primary ? primary : PQresultErrorMessage(res.get());
}

TConnection Connect(const TTestDatabase& db) {
    return TConnection(PQconnectdb(db.ConnInfo().c_str()), &PQfinish);
}
} // namespace

std::string ExecError(const TTestDatabase& db, const std::string& sql) {
    const TConnection conn = Connect(db);
    if (PQstatus(conn.get()) != CONNECTION_OK)
        return std::string("connection failed: ") + PQerrorMessage(conn.get());
    return ErrorOf(TResult(PQexec(conn.get(), sql.c_str()), &PQclear));
}

std::string ExecPreparedError(const TTestDatabase& db, const std::string& sql,
                              const std::vector<std::string>& values) {
    const TConnection conn = Connect(db);
    if (PQstatus(conn.get()) != CONNECTION_OK)
        return std::string("connection failed: ") + PQerrorMessage(conn.get());
    const int count = static_cast<int>(values.size());
    const std::string prepareError =
        ErrorOf(TResult(PQprepare(conn.get(), "statement", sql.c_str(), count, nullptr), &PQclear));
    if (!prepareError.empty())
        return prepareError;
    std::vector<const char*> params;
    for (const std::string& v : values)
        params.push_back(v.c_str());
    return ErrorOf(TResult(PQexecPrepared(conn.get(), "statement", count, params.data(), nullptr, nullptr, 0),
                           &PQclear));
}

namespace {
std::string ColumnPiece(const std::string& typeCode) {
    if (typeCode == "2" || typeCode == "4")
        return " integer,";
    if (typeCode == "3")
        return " double precision,";
    if (typeCode == "1")
        return " character(4),";
    return " character varying,";
}

std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}
} // namespace

TObjectTableSql ObjectTableSql(TTestDatabase& db, const std::string& key, bool groupMode) {
    const std::string table = Lower(groupMode ? "og_" + key : key);
    std::string s = "CREATE TABLE alkistemp." + table + " (";
    const std::string query =
        groupMode ? "select distinct attrart, attrartkennung, attrtyp from parse where "
                    "substring(cast(oakennung as varchar) from 1 for 2) =" +
                        Quote(key)
                  : "SELECT attrart, attrartkennung, attrtyp FROM parse WHERE oa=" + Quote(key);
    if (groupMode)
        s += "oa character varying, ";
    for (const auto& row : db.Query(query)) {
        if (!row[0] || row[0]->empty() || !row[1] || row[1]->empty() || !row[2])
            continue;
        s += Lower(*row[1]) + ColumnPiece(*row[2]);
    }
    if (!s.empty() && s.back() == ',')
        s.pop_back();

    TObjectTableSql sql;
    sql.staging = s + ") INHERITS (alkistemp.ax_objects)";
    std::string twin = s;
    twin.replace(twin.find("alkistemp"), 9, "public");
    if (twin.find_last_not_of(" \t\r\n") != std::string::npos &&
        twin[twin.find_last_not_of(" \t\r\n")] != '(')
        twin += ", ";
    twin += "\n CONSTRAINT " + table + "_pkey PRIMARY KEY (gml_id, beginn)";
    twin += "\n) INHERITS (public.ax_objects)";
    sql.publicTwin = twin;
    return sql;
}

void CreateObjectTables(TTestDatabase& db, const std::string& objectType, bool withPublicTwin) {
    const TObjectTableSql sql = ObjectTableSql(db, objectType, false);
    db.Exec(sql.staging);
    if (withPublicTwin)
        db.Exec(sql.publicTwin);
}

void CreateStagingIdRefs(TTestDatabase& db) {
    db.Exec("CREATE TABLE alkistemp.id_refs (gml_id character varying NOT NULL, id_ref character varying NOT "
            "NULL, "
            "typ integer NOT NULL, beginn date NOT NULL, ende date) WITH (OIDS=FALSE)");
}
