#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

#include <libpq-fe.h>
#include <string>
#include <vector>

#include "TestDatabase.h"
#include "platform/db/ZDatabase.h"

namespace {

// A connection to the test's own database through the socket folder of the test server.
class ZDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        conn.HostName = TTestDatabase::Host();
        conn.Port = TTestDatabase::Port();
        conn.Database = db.Name();
        conn.User = TTestDatabase::User();
        conn.Connect();
    }
    TTestDatabase db;
    TZConnection conn;
};

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EDatabaseError& e) {
        return e.what();
    }
    return "<no error>";
}

} // namespace

TEST_F(ZDatabaseTest, SessionCarriesApplicationNameAndUtf8) {
    TZQuery q(&conn);
    q.SetSQL("SELECT current_setting('application_name') AS app, current_setting('client_encoding') AS enc");
    q.Open();
    EXPECT_EQ(q.FieldByName("app").AsString(), "Kelpora");
    EXPECT_EQ(q.FieldByName("ENC").AsString(), "UTF8");

    // Further connection keywords, values with "=" included.
    conn.Properties.Add("options=-c work_mem=8MB");
    conn.Connect();
    q.SetSQL("SHOW work_mem");
    q.Open();
    EXPECT_EQ(q.Fields(0).AsString(), "8MB");

    conn.SetSessionSetting("search_path", "alkistemp, public");
    q.SetSQL("SHOW search_path");
    q.Open();
    EXPECT_EQ(q.Fields(0).AsString(), "alkistemp, public");
}

TEST_F(ZDatabaseTest, ConnectFailureCarriesLibpqText) {
    TZConnection bad;
    bad.HostName = TTestDatabase::Host();
    bad.Port = TTestDatabase::Port();
    bad.Database = "no_such_database_kelpora";
    bad.User = TTestDatabase::User();
    const std::string e = ErrorOf([&] { bad.Connect(); });
    EXPECT_NE(e.find("no_such_database_kelpora"), std::string::npos) << e;
    EXPECT_FALSE(bad.Connected());
    EXPECT_NE(ErrorOf([&] { TZQuery(&bad).ExecSQL(); }), "<no error>");
}

TEST_F(ZDatabaseTest, PasswordLoginOverTcp) {
    TZConnection tcp;
    tcp.HostName = "127.0.0.1";
    tcp.Port = TTestDatabase::Port();
    tcp.Database = db.Name();
    tcp.User = TTestDatabase::User();
    tcp.Password = "wrong";
    EXPECT_NE(ErrorOf([&] { tcp.Connect(); }).find("password authentication failed"), std::string::npos);
    tcp.Password = TTestDatabase::Password();
    tcp.Connect();
    EXPECT_TRUE(tcp.Connected());
    tcp.Disconnect();
    EXPECT_FALSE(tcp.Connected());
}

// Where ":" starts a parameter and where it does not.
TEST_F(ZDatabaseTest, ParameterNamesOutsideLiteralsIdentifiersAndCasts) {
    struct Case {
        const char* sql;
        const char* serverSql;
        int params;
    } cases[] = {
        {"SELECT :a, :b, :A", "SELECT $1, $2, $1", 2},
        {"SELECT ':a', \"x:y\", 1::int, :c::text", "SELECT ':a', \"x:y\", 1::int, $1::text", 1},
        {"SELECT 'it''s :no', :yes", "SELECT 'it''s :no', $1", 1},
        {"SELECT E'\\' :no', :yes", "SELECT E'\\' :no', $1", 1},
        {"SELECT $$ :no $$, $f$ :no $f$, :yes -- :no\n/* :no /* :no */ */",
         "SELECT $$ :no $$, $f$ :no $f$, $1 -- :no\n/* :no /* :no */ */", 1},
        {"SELECT arr[1:2] FROM t", "SELECT arr[1:2] FROM t", 0},
    };
    for (const auto& c : cases) {
        TZQuery q(&conn);
        q.SetSQL(c.sql);
        EXPECT_EQ(q.ServerSQL(), c.serverSql) << c.sql;
        EXPECT_EQ(q.ParamCount(), c.params) << c.sql;
    }
    TZQuery q(&conn);
    q.SetSQL("SELECT :a");
    EXPECT_EQ(ErrorOf([&] { q.ParamByName("b"); }), "Parameter 'b' not found");
}

// The shared statement of a run takes turns between a few texts; each text met again is the same
// statement, and a parameter keeps its value exactly while its name stays in the text.
TEST_F(ZDatabaseTest, TextsTakingTurnsKeepPlaceholdersAndValues) {
    TZQuery q(&conn);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        q.SetSQL("SELECT :a, :B, :a");
        EXPECT_EQ(q.ServerSQL(), "SELECT $1, $2, $1");
        EXPECT_TRUE(q.ParamByName("a").IsNull());
        q.ParamByName("a").SetValue("1");
        q.ParamByName("b").SetValue("2");
        q.SetSQL("SELECT :b || :c");
        EXPECT_EQ(q.ServerSQL(), "SELECT $1 || $2");
        EXPECT_EQ(q.ParamByName("B").Text(), "2");
        EXPECT_TRUE(q.ParamByName("c").IsNull());
        q.ParamByName("c").SetValue("3");
        q.SetSQL("SELECT 1");
        EXPECT_EQ(q.ParamCount(), 0);
    }
    q.SetSQL("SELECT :a, :B, :a");
    q.ParamByName("a").SetValue("x");
    q.ParamByName("b").SetValue("y");
    q.Open();
    EXPECT_EQ(q.Fields(0).AsString() + q.Fields(1).AsString() + q.Fields(2).AsString(), "xyx");
}

TEST_F(ZDatabaseTest, SqlBuiltLineByLineAndParametersBound) {
    db.Exec("CREATE TABLE t(i integer, f double precision, s text, w varchar)");
    TZQuery q(&conn);
    q.SQL().Clear();
    q.SQL().Add("INSERT INTO t (i, f, s, w)");
    q.SQL().Add("VALUES (:i, :f, :s, :w)");
    q.Prepare();
    const std::string hostile = "x'); DROP TABLE t; --\n\"zwei\"\tZeilen Größe";
    q.ParamByName("i").SetDataType(TFieldType::ftInteger);
    q.ParamByName("i").SetValue(" -42");
    q.ParamByName("f").SetDataType(TFieldType::ftFloat);
    q.ParamByName("f").SetValue("3,25");
    q.ParamByName("s").SetDataType(TFieldType::ftString);
    q.ParamByName("s").SetValue(hostile);
    q.ParamByName("w").SetDataType(TFieldType::ftWideString);
    q.ParamByName("w").SetNull();
    q.ExecSQL();
    EXPECT_EQ(q.RowsAffected(), 1);
    q.ParamByName("i").SetAsInteger(7);
    q.ParamByName("f").SetAsFloat(0.1);
    q.ParamByName("w").SetValue("");
    q.ExecSQL();

    auto rows = db.Query("SELECT i, f, s, w FROM t ORDER BY i");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "-42");
    EXPECT_EQ(rows[0][1], "3.25");
    EXPECT_EQ(rows[0][2], hostile);
    EXPECT_EQ(rows[0][3], std::nullopt);
    EXPECT_EQ(rows[1][1], "0.1");
    EXPECT_EQ(rows[1][3], "");
}

TEST_F(ZDatabaseTest, ValuesOfTheWrongFormFailTheStatement) {
    db.Exec("CREATE TABLE t(i integer, f double precision)");
    TZQuery q(&conn);
    q.SetSQL("INSERT INTO t VALUES (:i, :f)");
    q.ParamByName("i").SetDataType(TFieldType::ftInteger);
    q.ParamByName("f").SetDataType(TFieldType::ftFloat);
    struct Case {
        const char* i;
        const char* f;
        const char* error;
    } cases[] = {
        {"12a", "1", "'12a' is not a valid integer value for parameter i"},
        {"", "1", "'' is not a valid integer value for parameter i"},
        {"1", "1,2,3", "'1,2,3' is not a valid floating point value for parameter f"},
        {"1", "abc", "'abc' is not a valid floating point value for parameter f"},
    };
    for (const auto& c : cases) {
        q.ParamByName("i").SetValue(c.i);
        q.ParamByName("f").SetValue(c.f);
        EXPECT_EQ(ErrorOf([&] { q.ExecSQL(); }), c.error);
    }
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM t"), "0");
}

TEST_F(ZDatabaseTest, ServerErrorsCarryThePrimaryMessageExactly) {
    db.Exec("CREATE TABLE k(id text PRIMARY KEY)");
    TZQuery q(&conn);
    q.SetSQL("INSERT INTO k VALUES (:id)");
    q.ParamByName("id").SetValue("a");
    q.ExecSQL();
    try {
        q.ExecSQL();
        FAIL() << "duplicate accepted";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(std::string(e.what()), "duplicate key value violates unique constraint \"k_pkey\"");
        EXPECT_EQ(e.SqlState(), "23505");
    }
    q.SetSQL("SELECT * FROM missing_table");
    EXPECT_EQ(ErrorOf([&] { q.Open(); }), "relation \"missing_table\" does not exist");
    EXPECT_FALSE(q.Active());
}

// What a failure means is told by its SQLSTATE alone, whatever language the server words its message in.
// XX000 is what PostGIS raises for a geometry it cannot read: the statement's own failure. A lock not to be
// had, a deadlock, a serialization failure, a read-only database or missing rights say that the server
// cannot do the work (now), as a full disk does.
TEST(FailureKind, ToldBySqlStateAlone) {
    const struct {
        const char* state;
        TFailureKind kind;
    } cases[] = {
        {"23505", TFailureKind::fkDuplicateKey},
        {"23503", TFailureKind::fkStatement},
        {"23502", TFailureKind::fkStatement},
        {"22012", TFailureKind::fkStatement},
        {"22P02", TFailureKind::fkStatement},
        {"42P01", TFailureKind::fkStatement},
        {"42601", TFailureKind::fkStatement},
        {"P0001", TFailureKind::fkStatement},
        {"25P02", TFailureKind::fkAborted},
        {"26000", TFailureKind::fkStaleStatement},
        {"0A000", TFailureKind::fkStaleStatement},
        {"08006", TFailureKind::fkConnection},
        {"08000", TFailureKind::fkConnection},
        {"53100", TFailureKind::fkServer},
        {"53200", TFailureKind::fkServer},
        {"53300", TFailureKind::fkServer},
        {"57014", TFailureKind::fkServer},
        {"57P01", TFailureKind::fkServer},
        {"58030", TFailureKind::fkServer},
        {"XX000", TFailureKind::fkStatement},
        {"XX001", TFailureKind::fkServer},
        {"XX002", TFailureKind::fkServer},
        {"55P03", TFailureKind::fkServer},
        {"55000", TFailureKind::fkServer},
        {"55006", TFailureKind::fkServer},
        {"40P01", TFailureKind::fkServer},
        {"40001", TFailureKind::fkServer},
        {"40000", TFailureKind::fkServer},
        {"25006", TFailureKind::fkServer},
        {"25001", TFailureKind::fkServer},
        {"25P03", TFailureKind::fkServer},
        {"42501", TFailureKind::fkServer},
        {"3B001", TFailureKind::fkServer},
        {"72000", TFailureKind::fkServer},
        {"2D000", TFailureKind::fkServer},
        {"0B000", TFailureKind::fkServer},
        {"", TFailureKind::fkClient},
        {"5310", TFailureKind::fkClient},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FailureKindOf(c.state), c.kind) << c.state;
    EXPECT_EQ(SqlStateOf(EDatabaseError("voll", "53100")), "53100");
    EXPECT_EQ(SqlStateOf(EDatabaseError("Parameter 'x' not found")), "");
    EXPECT_EQ(SqlStateOf(std::runtime_error("kein Datenbankfehler")), "");
}

// A failure of the server's resources or state (here an injected "out of memory", SQLSTATE 53200) inside
// a guarded transaction: every further statement of it is refused with that error without reaching the
// server, and its commit rolls it back. A failure of a statement's own costs only that statement, and
// outside the transaction nothing is refused.
TEST_F(ZDatabaseTest, ServerFailureRefusesTheRestOfTheGuardedTransaction) {
    db.Exec("CREATE TABLE t(i integer); CREATE SEQUENCE s");
    const std::string outOfMemory =
        "DO $$ BEGIN RAISE EXCEPTION 'kein Speicher mehr' USING ERRCODE = '53200'; END $$";
    TZQuery insert(&conn), next(&conn), raise(&conn);
    insert.SetSQL("INSERT INTO t VALUES (:i)");
    next.SetSQL("SELECT nextval('s')");
    raise.SetSQL(outOfMemory);
    const auto stateOf = [](const std::function<void()>& f) {
        try {
            f();
        } catch (const EDatabaseError& e) {
            return e.SqlState() + " " + e.what();
        }
        return std::string("<no error>");
    };

    conn.BeginGuardedTransaction();
    insert.ParamByName("i").SetAsInteger(1);
    insert.ExecSQL();
    TZQuery divide(&conn);
    divide.SetSQL("SELECT 1/0");
    EXPECT_EQ(stateOf([&] { divide.Open(); }), "22012 division by zero");
    EXPECT_EQ(conn.ServerFailure(), nullptr);
    insert.ParamByName("i").SetAsInteger(2);
    insert.ExecSQL();

    EXPECT_EQ(stateOf([&] { raise.ExecSQL(); }), "53200 kein Speicher mehr");
    ASSERT_NE(conn.ServerFailure(), nullptr);
    EXPECT_EQ(conn.ServerFailure()->SqlState(), "53200");
    insert.ParamByName("i").SetAsInteger(3);
    EXPECT_EQ(stateOf([&] { insert.ExecSQL(); }), "53200 kein Speicher mehr");
    EXPECT_EQ(stateOf([&] { next.Open(); }), "53200 kein Speicher mehr");
    TZQuery fresh(&conn);
    fresh.SetSQL("SELECT count(*) FROM t WHERE i = :i");
    fresh.ParamByName("i").SetAsInteger(1);
    EXPECT_EQ(stateOf([&] { fresh.Open(); }), "53200 kein Speicher mehr");
    EXPECT_EQ(stateOf([&] { conn.CommitGuardedTransaction(); }), "53200 kein Speicher mehr");
    EXPECT_FALSE(conn.Guarded());
    EXPECT_EQ(conn.ServerFailure(), nullptr);
    // Nothing of the transaction stays; the sequence, which no rollback resets, was never asked.
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM t"), "0");
    EXPECT_EQ(db.Scalar("SELECT is_called FROM s"), "f");

    // Outside a guarded transaction the same failure costs only its statement.
    EXPECT_EQ(stateOf([&] { raise.ExecSQL(); }), "53200 kein Speicher mehr");
    EXPECT_EQ(conn.ServerFailure(), nullptr);
    next.Open();
    EXPECT_EQ(next.Fields(0).AsString(), "1");
}

// Statements that stand or fall together: the failure of the last of a unit rolls back the ones before it,
// a kept unit stays, and the statements of the transaction before the unit are untouched either way; the
// transaction goes on after a unit that failed. Without a transaction of its own a unit makes one.
TEST_F(ZDatabaseTest, StatementUnitStandsOrFallsTogether) {
    db.Exec("CREATE TABLE t(i integer CHECK (i < 100))");
    TZQuery insert(&conn);
    insert.SetSQL("INSERT INTO t VALUES (:i)");
    const auto put = [&insert](int i) {
        insert.ParamByName("i").SetAsInteger(i);
        insert.ExecSQL();
    };
    TZQuery simple(&conn);
    const auto rows = [this] { return db.Scalar("SELECT string_agg(i::text, ',' ORDER BY i) FROM t"); };

    conn.BeginGuardedTransaction();
    put(1);
    {
        TZStatementUnit unit(conn);
        put(2);
        simple.SetSQL("INSERT INTO t VALUES (3); INSERT INTO t VALUES (4)");
        simple.ExecSQL();
        EXPECT_NE(ErrorOf([&] { put(100); }), "<no error>");
    }
    {
        TZStatementUnit unit(conn);
        put(5);
        unit.Keep();
    }
    {
        // Left without Keep (a failure of the caller's own): rolled back all the same.
        TZStatementUnit unit(conn);
        put(6);
    }
    put(7);
    conn.CommitGuardedTransaction();
    EXPECT_EQ(rows(), "1,5,7");

    db.Exec("DELETE FROM t");
    {
        TZStatementUnit unit(conn);
        put(8);
        EXPECT_NE(ErrorOf([&] { put(200); }), "<no error>");
    }
    {
        TZStatementUnit unit(conn);
        put(9);
        unit.Keep();
    }
    EXPECT_FALSE(conn.Guarded());
    EXPECT_EQ(rows(), "9");

    // A prepared statement the session lost is prepared again and run; but inside a unit whose statements
    // its failure rolled back, that would keep the unit's last statement without the ones before it.
    db.Exec("DELETE FROM t");
    conn.BeginGuardedTransaction();
    {
        TZStatementUnit unit(conn);
        put(10);
        simple.SetSQL("DEALLOCATE ALL");
        simple.ExecSQL();
        EXPECT_NE(ErrorOf([&] { put(11); }), "<no error>");
    }
    put(12);
    conn.CommitGuardedTransaction();
    EXPECT_EQ(rows(), "12");
}

// A transaction begun with a first statement gives that statement's answer in the same round trip; a
// statement that waits for a lock lets the caller's work run while it waits, and the server's
// lock_timeout ends the wait as a failure of the server, which refuses the rest of the transaction.
TEST_F(ZDatabaseTest, FirstStatementAndWaitingForALock) {
    EXPECT_EQ(conn.BeginGuardedTransaction("SELECT pg_try_advisory_xact_lock(77, 1)"), "t");
    PGconn* other = PQconnectdb(db.ConnInfo().c_str());
    ASSERT_EQ(PQstatus(other), CONNECTION_OK);
    const auto otherAsks = [other](const char* sql) {
        PGresult* r = PQexec(other, sql);
        std::string answer =
            PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0 ? PQgetvalue(r, 0, 0) : "";
        PQclear(r);
        return answer;
    };
    EXPECT_EQ(otherAsks("SELECT pg_try_advisory_xact_lock(77, 1)"), "f");
    conn.CommitGuardedTransaction();
    EXPECT_EQ(otherAsks("SELECT pg_try_advisory_lock(77, 1)"), "t"); // the transaction's lock went with it

    // The other session holds it now: the wait ends when it lets go, which it does while the wait runs.
    conn.BeginGuardedTransaction();
    int calls = 0;
    conn.ExecSimpleWaiting("SELECT pg_advisory_xact_lock(77, 1)", [&] {
        if (++calls == 2)
            otherAsks("SELECT pg_advisory_unlock(77, 1)::text");
    });
    EXPECT_GE(calls, 2);
    EXPECT_EQ(conn.ServerFailure(), nullptr);
    conn.CommitGuardedTransaction();

    // Held for good: lock_timeout ends the wait.
    EXPECT_EQ(otherAsks("SELECT pg_try_advisory_lock(77, 1)"), "t");
    conn.SetSessionSetting("lock_timeout", "50ms");
    conn.BeginGuardedTransaction();
    std::string state;
    try {
        conn.ExecSimpleWaiting("SELECT pg_advisory_xact_lock(77, 1)", [] {});
    } catch (const EDatabaseError& e) {
        state = e.SqlState();
    }
    EXPECT_EQ(state, "55P03");
    ASSERT_NE(conn.ServerFailure(), nullptr);
    EXPECT_EQ(conn.ServerFailure()->SqlState(), "55P03");
    EXPECT_EQ(ErrorOf([&] { conn.CommitGuardedTransaction(); }), "canceling statement due to lock timeout");
    PQfinish(other);
}

TEST_F(ZDatabaseTest, RowsFieldsAndNulls) {
    TZQuery q(&conn);
    q.SetSQL("SELECT * FROM (VALUES (1, 'a', true, 1.5), (2, NULL, false, NULL), (3, 'c', NULL, 2.0)) "
             "AS v(n, s, b, f) ORDER BY n");
    q.Open();
    EXPECT_TRUE(q.Active());
    EXPECT_EQ(q.RecordCount(), 3);
    std::vector<std::string> seen;
    for (; !q.Eof(); q.Next()) {
        auto s = q.FieldByName("s");
        seen.push_back(std::to_string(q.Fields(0).AsInteger()) + ":" + (s.IsNull() ? "null" : s.AsString()) +
                       ":" + (q.FieldByName("b").AsBoolean() ? "t" : "f") + ":" +
                       std::to_string(q.FieldByName("f").AsFloat()));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"1:a:t:1.500000", "2:null:f:0.000000", "3:c:f:2.000000"}));
    q.First();
    EXPECT_EQ(q.Fields(1).ValueAsString(), "a");
    q.Next();
    EXPECT_EQ(ErrorOf([&] { q.FieldByName("s").ValueAsString(); }),
              "The field s is NULL and cannot be read as text");
    EXPECT_EQ(ErrorOf([&] { q.FieldByName("nope"); }), "Field 'nope' not found");
    EXPECT_EQ(ErrorOf([&] { q.Fields(1).AsInteger(); }), "<no error>"); // NULL reads as 0
    EXPECT_EQ(ErrorOf([&] { q.Fields(9); }), "Field index out of range");
    q.Close();
    EXPECT_FALSE(q.Active());
    EXPECT_TRUE(q.Eof());

    q.SetSQL("SELECT 'x1'");
    q.Open();
    EXPECT_EQ(ErrorOf([&] { q.Fields(0).AsInteger(); }), "'x1' is not a valid integer value");
}

TEST_F(ZDatabaseTest, PreparedStatementsAreCachedPerConnectionBySqlText) {
    db.Exec("CREATE TABLE t(i integer)");
    const auto preparedOnServer = [&] {
        TZQuery q(&conn);
        q.SetSQL("SELECT count(*) FROM pg_prepared_statements");
        q.Open();
        return q.Fields(0).AsInteger();
    };
    {
        TZQuery a(&conn), b(&conn);
        for (int i = 0; i < 5; ++i) {
            TZQuery& q = i % 2 ? a : b;
            q.SetSQL("INSERT INTO t VALUES (:i)");
            q.ParamByName("i").SetAsInteger(i);
            q.ExecSQL();
        }
    }
    EXPECT_EQ(conn.PreparedCount(), 1u);
    EXPECT_EQ(preparedOnServer(), 1);
    EXPECT_EQ(db.Scalar("SELECT sum(i) FROM t"), "10");

    // A plan that no longer fits the table is prepared again instead of failing.
    TZQuery star(&conn);
    star.SetSQL("SELECT * FROM t WHERE i = :i");
    star.ParamByName("i").SetAsInteger(3);
    star.Open();
    EXPECT_EQ(star.FieldCount(), 1);
    TZQuery alter(&conn);
    alter.SetSQL("ALTER TABLE t ADD COLUMN j integer");
    alter.ExecSQL();
    star.Open();
    EXPECT_EQ(star.FieldCount(), 2);

    // A new connection starts with an empty cache.
    conn.Disconnect();
    EXPECT_EQ(conn.PreparedCount(), 0u);
    conn.Connect();
    star.Open();
    EXPECT_EQ(star.RecordCount(), 1);
}

TEST_F(ZDatabaseTest, StatementsWithoutParametersMayHoldSeveralCommands) {
    TZQuery q(&conn);
    q.SetSQL("CREATE TABLE m(x int); INSERT INTO m VALUES (1), (2); SELECT sum(x) FROM m");
    q.Open();
    EXPECT_EQ(q.Fields(0).AsString(), "3");
    // Parameter values survive a change of the text that keeps their name.
    q.SetSQL("SELECT :v::int + 1");
    q.ParamByName("v").SetValue("41");
    q.Open();
    EXPECT_EQ(q.Fields(0).AsInteger(), 42);
    q.SetSQL("SELECT :v::int + 2");
    q.Open();
    EXPECT_EQ(q.Fields(0).AsInteger(), 43);
}

TEST_F(ZDatabaseTest, HandleGivesLibpqAccessAndParamValuesFeedIt) {
    TZQuery q(&conn);
    q.SetSQL("SELECT :a::text || :b::text");
    q.ParamByName("a").SetValue("x");
    q.ParamByName("b").SetNull();
    std::vector<const char*> values;
    q.ParamValues(values);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_STREQ(values[0], "x");
    EXPECT_EQ(values[1], nullptr);
    PGresult* r = PQexecPrepared(conn.Handle(), q.PreparedStatementName().c_str(), 2, values.data(), nullptr,
                                 nullptr, 0);
    EXPECT_EQ(PQresultStatus(r), PGRES_TUPLES_OK);
    EXPECT_TRUE(PQgetisnull(r, 0, 0));
    PQclear(r);
}

TEST_F(ZDatabaseTest, FullCacheIsDeallocatedAndRefilled) {
    conn.MaxPrepared = 3;
    PQclear(PQexec(conn.Handle(), "PREPARE mine AS SELECT 1"));
    TZQuery q(&conn);
    for (int i = 0; i < 5; ++i) {
        q.SetSQL("SELECT :v::int + " + std::to_string(i));
        q.ParamByName("v").SetAsInteger(10);
        q.Open();
        EXPECT_EQ(q.Fields(0).AsInteger(), 10 + i);
    }
    EXPECT_EQ(conn.PreparedCount(), 2u); // 3 cached, dropped at the 4th, then the 4th and 5th
    TZQuery server(&conn);
    server.SetSQL("SELECT string_agg(name, ',' ORDER BY name) FROM pg_prepared_statements");
    server.Open();
    const std::string names = server.Fields(0).AsString();
    EXPECT_NE(names.find("mine"), std::string::npos) << names;
    EXPECT_EQ(std::count(names.begin(), names.end(), ','), 2) << names;
}

// Warnings and notices of the server reach the connection's callback with their severity and text, from
// statements with and without parameters, also from one that fails afterwards and after a new Connect.
TEST_F(ZDatabaseTest, ServerNoticesReachTheCallback) {
    db.Exec("CREATE FUNCTION kt_warn(t text) RETURNS int LANGUAGE plpgsql AS $$ BEGIN "
            "RAISE WARNING 'Warnung %', t; RETURN 1; END $$");
    std::vector<std::string> seen;
    conn.OnNotice = [&seen](const TServerNotice& n) { seen.push_back(n.severity + "|" + n.message); };
    const struct {
        const char* what;
        std::string sql;
        bool fails;
        std::vector<std::string> notices;
    } cases[] = {
        {"two kinds in one block",
         "DO $$ BEGIN RAISE WARNING 'eins %', 1; RAISE NOTICE 'zwei'; END $$",
         false,
         {"WARNING|eins 1", "NOTICE|zwei"}},
        {"from a function with a parameter", "SELECT kt_warn(:t)", false, {"WARNING|Warnung x"}},
        {"before the statement fails",
         "DO $$ BEGIN RAISE WARNING 'vorher'; RAISE EXCEPTION 'kaputt'; END $$",
         true,
         {"WARNING|vorher"}},
        {"none", "SELECT 1", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        seen.clear();
        TZQuery q(&conn);
        q.SetSQL(c.sql);
        if (q.ParamCount() > 0)
            q.ParamByName("t").SetValue("x");
        EXPECT_EQ(ErrorOf([&] { q.ExecSQL(); }) != "<no error>", c.fails);
        EXPECT_EQ(seen, c.notices);
    }
    seen.clear();
    conn.Connect();
    TZQuery q(&conn);
    q.SetSQL("SELECT kt_warn('neu')");
    q.Open();
    EXPECT_EQ(seen, std::vector<std::string>{"WARNING|Warnung neu"});
    // Without a callback they are dropped.
    conn.OnNotice = nullptr;
    q.Open();
    EXPECT_EQ(q.Fields(0).AsInteger(), 1);
}

TEST_F(ZDatabaseTest, LostConnectionIsAnErrorNotACrash) {
    TZQuery q(&conn);
    q.SetSQL("SELECT :v::int");
    q.ParamByName("v").SetAsInteger(1);
    q.Open();
    EXPECT_FALSE(conn.Lost());
    db.Exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = 'Kelpora' AND "
            "datname = current_database()");
    const std::string e = ErrorOf([&] { q.Open(); });
    EXPECT_NE(e, "<no error>");
    EXPECT_FALSE(e.empty());
    EXPECT_FALSE(conn.Connected());
    EXPECT_TRUE(conn.Lost());
    EXPECT_FALSE(q.Active());
    conn.Connect();
    EXPECT_FALSE(conn.Lost());
    q.Open();
    EXPECT_EQ(q.Fields(0).AsInteger(), 1);
}
