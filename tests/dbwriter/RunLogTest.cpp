#include <cctype>
#include <functional>

#include "WriterFixture.h"
#include "model/DateTime.h"

using RunLog = WriterTest;

TEST_F(RunLog, RunNumbersStartAtOneAndFollowTheHighestStored) {
    ASSERT_EQ(db.Scalar("SELECT to_regclass('public.logs') IS NULL"), "t");
    EXPECT_EQ(form->InitLogTable(), 1); // creates the table
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM pg_tables WHERE schemaname='public' AND tablename='logs'"),
              "1");
    EXPECT_EQ(form->InitLogTable(), 1); // exists, still empty
    form->iLfdNrUmsetzung = 1;
    form->WriteLog(0, "erste");
    EXPECT_EQ(form->InitLogTable(), 2);
    db.Exec("INSERT INTO logs VALUES (41, now(), 0, 'x')");
    EXPECT_EQ(form->InitLogTable(), 42);
    EXPECT_TRUE(NewLogLines().empty());
}

// A run log that cannot be read, made or written ends the run before it starts, with one line in the log
// window (the run could report nothing): a table without the run number's column, and a database that takes
// no changes, whether the table is to be made or only written. Nothing is written.
TEST_F(RunLog, InitLogTableFailureEndsTheRunBeforeItStarts) {
    const struct {
        const char* what;
        const char* setup;
        bool readOnly;
        const char* line;
    } cases[] = {
        {"a table without the run number", "CREATE TABLE public.logs(something integer)", false,
         "Fehler beim Lesen/Anlegen der Tabelle logs: column \"lfd_nr_umsetz\" does not exist - der Import "
         "wird nicht begonnen."},
        {"a read-only database without the table", "", true,
         "Die Datenbank nimmt keine Änderungen an: cannot execute CREATE TABLE in a read-only transaction - "
         "der "
         "Import wird nicht begonnen."},
        {"a read-only database with the table",
         "CREATE TABLE public.logs( lfd_nr_umsetz integer, zeitpunkt timestamp without time zone, meldetyp "
         "integer, beschreibung text)",
         true,
         "Die Datenbank nimmt keine Änderungen an: cannot execute INSERT in a read-only transaction - der "
         "Import "
         "wird nicht begonnen."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        db.Exec("DROP TABLE IF EXISTS public.logs; ALTER DATABASE " + db.Name() +
                " RESET default_transaction_read_only");
        if (*c.setup)
            db.Exec(c.setup);
        if (c.readOnly)
            db.Exec("ALTER DATABASE " + db.Name() + " SET default_transaction_read_only = on");
        form->conn->Connect(); // takes the database's settings
        std::string error;
        try {
            form->InitLogTable();
        } catch (const EDatabaseError& e) {
            error = e.what();
        }
        EXPECT_EQ(error, c.line);
        const auto lines = NewLogLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(StartsWithTimeAnd(lines[0], c.line)) << lines[0];
        if (*c.setup)
            EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.logs"), "0");
        else
            EXPECT_EQ(db.Scalar("SELECT to_regclass('public.logs') IS NULL"), "t");
        // The session can go on: its transaction was ended.
        EXPECT_EQ(db.Scalar("SELECT count(*) FROM pg_stat_activity WHERE datname = '" + db.Name() +
                            "' AND state LIKE 'idle in transaction%'"),
                  "0");
    }
}

// Runs that start together get numbers of their own, though none of them has written a row yet: a number
// is held by its run's session until the run ends, and a number whose run has ended with rows is not
// given again.
TEST_F(RunLog, RunsStartingTogetherGetNumbersOfTheirOwn) {
    CreateLogs();
    db.Exec("INSERT INTO logs VALUES (6, now(), 0, 'x')");
    TfrmKelpora second, third;
    ConnectRunToTestDatabase(second, db);
    ConnectRunToTestDatabase(third, db);
    EXPECT_EQ(form->InitLogTable(), 7);
    EXPECT_EQ(second.InitLogTable(), 8);
    // The first run writes its rows and ends; the second is still going.
    form->iLfdNrUmsetzung = 7;
    form->WriteLog(0, "erste");
    form->conn->Disconnect();
    EXPECT_EQ(third.InitLogTable(), 9);
    // A run whose session started no other run since takes a new number when it starts again.
    EXPECT_EQ(second.InitLogTable(), 8);
    second.iLfdNrUmsetzung = 8;
    second.WriteLog(0, "zweite");
    EXPECT_EQ(second.InitLogTable(), 10);
    for (TfrmKelpora* f : {&second, &third}) {
        f->cmd.reset();
        f->conn.reset();
    }
}

TEST_F(RunLog, RowsStoreTheTextUnchanged) {
    CreateLogs();
    form->iLfdNrUmsetzung = 42;
    const std::string text = "Wert 'a''b' nicht gültig;\nzweite Zeile\t\\n -- ); DROP TABLE logs; --";
    const TDateTime before = Now();
    form->WriteLog(1, text);
    form->WriteLog(2, "<html><body>\n<p class=\"x\">Bericht</p></body></html>");
    const auto rows =
        db.Query("SELECT lfd_nr_umsetz, zeitpunkt::text, meldetyp, beschreibung FROM logs ORDER BY ctid");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "42");
    EXPECT_EQ(rows[0][2], "1");
    EXPECT_EQ(rows[0][3], text);
    EXPECT_EQ(rows[1][2], "2");
    EXPECT_EQ(rows[1][3], "<html><body>\n<p class=\"x\">Bericht</p></body></html>");
    // The moment of writing, to the second, in the database's own text form.
    const std::string written = rows[0][1].value_or("");
    EXPECT_TRUE(written == DateTimeToDbText(before) || written == DateTimeToDbText(Now())) << written;
    EXPECT_TRUE(NewLogLines().empty());
}

TEST_F(RunLog, FailingWriteLogAddsTwoWindowLinesAndNothingElse) {
    // No table "logs": the row is lost, reported in the window only.
    form->WriteLog(0, "verloren");
    auto lines = NewLogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(StartsWithTimeAnd(lines[0], "Fehler beim Schreiben in die Log-Tabelle")) << lines[0];
    EXPECT_EQ(lines[1], "\trelation \"logs\" does not exist");
    EXPECT_TRUE(LogRows().empty());

    // Outside a run there is no statement to write with.
    form->cmd.reset();
    form->WriteLog(0, "ohne Lauf");
    lines = NewLogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "\tKeine Verbindung zur Datenbank");
}

TEST_F(RunLog, WriteLogLeavesAStatementInPreparationIntact) {
    CreateLogs();
    db.Exec("CREATE TABLE target(a integer, b text)");
    auto& q = *form->cmd;
    q.SQL().Clear();
    q.SQL().Add("INSERT INTO target (a, b)");
    q.SQL().Add("VALUES (:a, :b)");
    q.Prepare();
    q.ParamByName("a").SetAsInteger(5);
    form->WriteLog(1, "Zwischenmeldung");
    q.ParamByName("b").SetValue("weiter");
    q.ExecSQL();
    EXPECT_EQ(db.Scalar("SELECT a || b FROM target"), "5weiter");
    EXPECT_EQ(LogRows(), std::vector<std::string>{"1|Zwischenmeldung"});
}

// The failure report's three forms, checked once here for every operation that uses them.
TEST_F(RunLog, FailureReportForms) {
    CreateLogs();
    struct Case {
        const char* name;
        std::function<void(TfrmKelpora&)> report;
        std::vector<std::string> lines; // "<t>" stands for the time of day
        std::vector<std::string> rows;
    } cases[] = {
        {"standard",
         [](TfrmKelpora& f) { f.ReportFailure("Meldung M", "Fehlertext E"); },
         {"<t>: Meldung M", "\tFehlertext E"},
         {"1|Meldung M - Fehlertext E"}},
        {"own row text",
         [](TfrmKelpora& f) { f.ReportFailure("Meldung M", "Zeile T", "E", true); },
         {"<t>: Meldung M", "\tE"},
         {"1|Zeile T"}},
        {"per object",
         [](TfrmKelpora& f) { f.ReportFailure("Objekt M", "Objekt T", "E", false); },
         {"Objekt M", "E"},
         {"1|Objekt T"}},
        {"window only",
         [](TfrmKelpora& f) { f.ReportFailureLines("Nur Fenster", "E"); },
         {"<t>: Nur Fenster", "\tE"},
         {}},
    };
    for (const auto& c : cases) {
        db.Exec("DELETE FROM logs");
        c.report(*form);
        auto lines = NewLogLines();
        for (auto& l : lines)
            if (!l.empty() && std::isdigit(static_cast<unsigned char>(l[0])) &&
                l.find(": ") != std::string::npos)
                l = "<t>" + l.substr(l.find(": "));
        EXPECT_EQ(lines, c.lines) << c.name;
        EXPECT_EQ(LogRows(), c.rows) << c.name;
    }
}
