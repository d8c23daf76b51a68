#include "TestDatabase.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <stdexcept>
#include <unistd.h>

namespace {
std::string Env(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

std::string Quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'' || c == '\\')
            out += c;
        out += c;
    }
    return out + "'";
}

PGconn* Connect(const std::string& db) {
    const std::string info = "dbname=" + Quoted(db) + " application_name=kelpora-tests";
    PGconn* c = PQconnectdb(info.c_str());
    if (PQstatus(c) != CONNECTION_OK) {
        std::string msg = PQerrorMessage(c);
        while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' '))
            msg.pop_back();
        PQfinish(c);
        throw std::runtime_error(
            "test database: cannot connect to " + db + ": " + msg +
            " (the database tests need a PostgreSQL server with PostGIS that PGHOST, PGPORT and PGUSER "
            "reach, "
            "a template database with db/ loaded named in KELPORA_TEST_TEMPLATE and the password of PGUSER "
            "in KELPORA_TEST_PASSWORD; scripts/test.sh sets them up, README \"Running the tests\" tells how "
            "to use a server of one's own)");
    }
    return c;
}

void ExecOn(PGconn* c, const std::string& sql) {
    PGresult* r = PQexec(c, sql.c_str());
    const auto st = PQresultStatus(r);
    const std::string msg = PQresultErrorMessage(r);
    PQclear(r);
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
        throw std::runtime_error("test database: " + sql + ": " + msg);
}
} // namespace

std::string TestDataDir() {
    return KELPORA_TESTDATA_DIR "/nas-real";
}

int RunInstallAgain(const TTestDatabase& db) {
    const std::string command = "cd / && PGDATABASE=" + db.Name() +
                                " psql -X -q -v ON_ERROR_STOP=1 -f '" KELPORA_SOURCE_DIR
                                "/db/install.sql' >/dev/null 2>&1";
    return std::system(command.c_str());
}

std::string TTestDatabase::Host() {
    return Env("PGHOST", "localhost");
}
int TTestDatabase::Port() {
    return std::atoi(Env("PGPORT", "5432").c_str());
}
std::string TTestDatabase::User() {
    return Env("PGUSER", "postgres");
}
std::string TTestDatabase::Password() {
    return Env("KELPORA_TEST_PASSWORD", "");
}

TTestDatabase::TTestDatabase() {
    static std::atomic<int> counter{0};
    name = "kt_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
    const std::string templ = Env("KELPORA_TEST_TEMPLATE", "template1");
    PGconn* admin = Connect("postgres");
    try {
        ExecOn(admin, "DROP DATABASE IF EXISTS " + name);
        ExecOn(admin, "CREATE DATABASE " + name + " TEMPLATE " + templ);
    } catch (...) {
        PQfinish(admin);
        throw;
    }
    PQfinish(admin);
    conn = Connect(name);
}

TTestDatabase::~TTestDatabase() {
    if (conn)
        PQfinish(conn);
    try {
        PGconn* admin = Connect("postgres");
        ExecOn(admin, "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
        PQfinish(admin);
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
    }
}

std::string TTestDatabase::ConnInfo() const {
    return "host=" + Quoted(Host()) + " port=" + std::to_string(Port()) + " dbname=" + Quoted(name) +
           " user=" + Quoted(User());
}

void TTestDatabase::Exec(const std::string& sql) {
    ExecOn(conn, sql);
}

std::vector<std::vector<std::optional<std::string>>> TTestDatabase::Query(const std::string& sql) {
    PGresult* r = PQexec(conn, sql.c_str());
    if (PQresultStatus(r) != PGRES_TUPLES_OK) {
        const std::string msg = PQresultErrorMessage(r);
        PQclear(r);
        throw std::runtime_error("test database: " + sql + ": " + msg);
    }
    std::vector<std::vector<std::optional<std::string>>> rows;
    for (int i = 0; i < PQntuples(r); ++i) {
        auto& row = rows.emplace_back();
        for (int j = 0; j < PQnfields(r); ++j) {
            if (PQgetisnull(r, i, j))
                row.emplace_back(std::nullopt);
            else
                row.emplace_back(PQgetvalue(r, i, j));
        }
    }
    PQclear(r);
    return rows;
}

std::string TTestDatabase::Scalar(const std::string& sql) {
    const auto rows = Query(sql);
    if (rows.empty() || rows[0].empty())
        return "<none>";
    return rows[0][0] ? *rows[0][0] : "<null>";
}

bool IsDesignNote(const std::string& line) {
    const std::size_t said = line.find("Die Eigenschaft ");
    return said != std::string::npos && line.find(" wird nicht gespeichert: ", said) != std::string::npos;
}

std::vector<std::string> WithoutDesignNotes(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& line : lines)
        if (!IsDesignNote(line))
            out.push_back(line);
    return out;
}
