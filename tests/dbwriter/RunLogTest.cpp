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

TEST_F(RunLog, InitLogTableFailureGoesToTheWindowOnly) {
    db.Exec("CREATE TABLE public.logs(something integer)");
    EXPECT_EQ(form->InitLogTable(), 0);
    const auto lines = NewLogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(StartsWithTimeAnd(lines[0], "Fehler beim Lesen/Anlegen der Tabelle logs")) << lines[0];
    EXPECT_EQ(lines[1], "\tcolumn \"lfd_nr_umsetz\" does not exist");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM logs"), "0");
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
