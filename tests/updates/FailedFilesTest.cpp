// A file that fails is applied not at all: after a parse error, a lost connection, a failed integration, a
// session that ends while the integration runs or a failure of the server's resources (a full disk), the
// database is as before the file and nothing of it is staged; importing the file again then gives exactly
// what one clean import gives.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "FakeDialogs.h"
#include "QtApp.h"
#include "RunOnTestDatabase.h"
#include "TestDatabase.h"
#include "app/FormKelpora.h"
#include "platform/db/ZDatabase.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Everything an import writes besides the run log. A delete ends its object at the time of the import:
// that time differs between two databases, its being there does not.
std::vector<std::string> State(TTestDatabase& db) {
    std::vector<std::string> out;
    const char* const queries[] = {
        "SELECT schemaname || '.' || tablename FROM pg_tables WHERE schemaname IN ('public', 'alkistemp') "
        "AND "
        "tablename NOT IN ('logs') ORDER BY 1",
        "SELECT concat_ws('|', tablename, gml_id, beginn, CASE WHEN ende >= now() AT TIME ZONE 'UTC' - "
        "interval '1 "
        "day' "
        "THEN 'at the import' ELSE ende::text END, modellart, st_astext(geo)) FROM public.ax_objects ORDER "
        "BY 1",
        "SELECT concat_ws('|', gml_id, id_ref, typ, beginn, CASE WHEN ende >= now() AT TIME ZONE 'UTC' - "
        "interval '1 "
        "day' "
        "THEN 'at the import' ELSE ende::text END) FROM public.id_refs ORDER BY 1",
        "SELECT concat_ws('|', fileid, obj_art, obj_anzahl) FROM statistics ORDER BY 1",
        "SELECT concat_ws('|', gml_id, beginn, description, datetime) FROM ax_li_processstep_punktort ORDER "
        "BY 1",
        "SELECT 'staged ' || ((SELECT count(*) FROM alkistemp.ax_objects) + (SELECT count(*) FROM "
        "alkistemp.id_refs))",
    };
    for (const char* sql : queries)
        for (const auto& row : db.Query(sql))
            out.push_back(row[0].value_or("<null>"));
    return out;
}

struct TRun {
    TTestDatabase db;
    TfrmKelpora form;
    explicit TRun(bool oneStatementAtATime) {
        ConnectRunToTestDatabase(form, db);
        form.StartRunState();
        form.ReadRunLookups();
        form.oOneStatementAtATime = oneStatementAtATime;
    }
    ~TRun() {
        form.cmd.reset();
        form.conn.reset();
    }
};

// Makes a statement of the next import fail, in the way of the case; `Mend` takes it back.
struct TCase {
    const char* name;
    std::function<void(TTestDatabase&)> spoil;
    std::function<void(TTestDatabase&)> mend;
    bool truncated = false;      // the update is cut off before its end
    bool ends = false;           // LoadDoc raises
    bool connectionLost = false; // and the session is gone
    // A text that the log window and the run log each say exactly once, however many statements met it.
    const char* saidOnce = nullptr;
};

// A trigger on `table` that runs `action` for the row of `gml_id` (or for any row).
std::string Trigger(const std::string& table, const std::string& action) {
    return "CREATE FUNCTION spoil() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN " + action +
           "; RETURN NEW; END $$; CREATE TRIGGER spoil BEFORE INSERT ON " + table +
           " FOR EACH ROW EXECUTE FUNCTION spoil()";
}

const char* const kUndoTrigger = "DROP FUNCTION spoil() CASCADE";

// A trigger `when` (BEFORE INSERT, BEFORE UPDATE) on every object table of `schema` that raises the server
// error `sqlState`, as a server out of disk space or memory does for every statement that needs some.
std::string ServerErrorOnEveryTable(const std::string& schema, const std::string& when,
                                    const std::string& sqlState, const std::string& message) {
    return "CREATE FUNCTION spoil() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION '" +
           message + "' USING ERRCODE = '" + sqlState +
           "'; END $$; DO $$ DECLARE t text; BEGIN FOR t IN SELECT c.relname FROM pg_inherits i JOIN "
           "pg_class "
           "c ON c.oid = i.inhrelid WHERE i.inhparent = '" +
           schema + ".ax_objects'::regclass LOOP EXECUTE format('CREATE TRIGGER spoil " + when + " ON " +
           schema + ".%I FOR EACH ROW EXECUTE FUNCTION spoil()', t); END LOOP; END $$";
}

const char* const kDiskFull = "could not extend file \"base/16384/16385\": No space left on device";

std::vector<TCase> Cases() {
    return {
        {"a parse error at the end of the update", [](TTestDatabase&) {}, [](TTestDatabase&) {}, true, true},
        {"the connection lost while the update is staged",
         [](TTestDatabase& db) {
             db.Exec("CREATE SEQUENCE staged_rows");
             db.Exec(
                 Trigger("alkistemp.ax_gebaeude",
                         "IF nextval('staged_rows') = 2 THEN PERFORM pg_terminate_backend(pg_backend_pid()); "
                         "END IF"));
         },
         [](TTestDatabase& db) { db.Exec(kUndoTrigger); }, false, true, true},
        {"the integration failing",
         [](TTestDatabase& db) {
             db.Exec(Trigger("public.ax_gebaeude", "RAISE EXCEPTION 'kein Platz für %', NEW.gml_id"));
         },
         [](TTestDatabase& db) { db.Exec(kUndoTrigger); }},
        {"the session ending while the integration runs",
         [](TTestDatabase& db) {
             db.Exec(Trigger("public.ax_gebaeude", "PERFORM pg_terminate_backend(pg_backend_pid())"));
         },
         [](TTestDatabase& db) { db.Exec(kUndoTrigger); }, false, true, true},
        {"the disk full while the update is staged",
         [](TTestDatabase& db) {
             db.Exec(ServerErrorOnEveryTable("alkistemp", "BEFORE INSERT", "53100", kDiskFull));
         },
         [](TTestDatabase& db) { db.Exec(kUndoTrigger); }, false, false, false, kDiskFull},
        {"the disk full while the replaced versions are closed",
         [](TTestDatabase& db) {
             db.Exec(ServerErrorOnEveryTable("public", "BEFORE UPDATE", "53100", kDiskFull));
         },
         [](TTestDatabase& db) { db.Exec(kUndoTrigger); }, false, false, false, kDiskFull},
        {"the disk full while the update's relations are staged",
         [](TTestDatabase& db) {
             db.Exec(Trigger("alkistemp.id_refs",
                             std::string("RAISE EXCEPTION '") + kDiskFull + "' USING ERRCODE = '53100'"));
         },
         [](TTestDatabase& db) { db.Exec(kUndoTrigger); }, false, false, false, kDiskFull},
        {"the server's input and output failing in the integration",
         [](TTestDatabase& db) {
             db.Exec(ServerErrorOnEveryTable("public", "BEFORE INSERT", "58030", "could not write block 7"));
         },
         [](TTestDatabase& db) { db.Exec(kUndoTrigger); }, false, false, false, "could not write block 7"},
    };
}

// How often the log window and the run log say `text`.
std::pair<std::size_t, std::size_t> TimesSaid(TRun& run, const std::string& text) {
    std::pair<std::size_t, std::size_t> said{0, 0};
    for (const std::string& line : run.form.LogLines())
        said.first += line.find(text) != std::string::npos;
    for (const auto& row : run.db.Query("SELECT beschreibung FROM logs"))
        said.second += row[0].value_or("").find(text) != std::string::npos;
    return said;
}

TEST(FailedFiles, LeaveTheDatabaseAsBeforeAndAreMendedByImportingThemAgain) {
    EnsureQApplication();
    TFakeDialogs dialogs;
    const std::string extract = TestDataDir() + "/bestand_bonn.xml";
    const std::string update = TestDataDir() + "/nba_bonn.xml";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string truncated = dir.filePath("nba_bonn.xml").toStdString();
    {
        const std::string whole = ReadFile(update);
        std::ofstream(truncated, std::ios::binary) << whole.substr(0, whole.rfind("</wfs:Transaction>"));
    }

    for (const bool oneStatementAtATime : {false, true}) {
        SCOPED_TRACE(oneStatementAtATime ? "one statement at a time" : "with features in flight");
        std::vector<std::string> clean;
        {
            TRun run(oneStatementAtATime);
            run.form.LoadDoc(extract);
            run.form.LoadDoc(update);
            clean = State(run.db);
        }
        for (const TCase& c : Cases()) {
            SCOPED_TRACE(c.name);
            TRun run(oneStatementAtATime);
            run.form.LoadDoc(extract);
            const std::vector<std::string> before = State(run.db);
            const std::int64_t rowsBefore = std::stoll(run.db.Scalar("SELECT count(*) FROM logs"));
            c.spoil(run.db);
            const std::string file = c.truncated ? truncated : update;
            if (c.ends)
                EXPECT_ANY_THROW(run.form.LoadDoc(file));
            else
                EXPECT_NO_THROW(run.form.LoadDoc(file));
            c.mend(run.db);
            EXPECT_EQ(State(run.db), before);
            if (!c.connectionLost) {
                // What happened is in the run log.
                EXPECT_GT(std::stoll(run.db.Scalar("SELECT count(*) FROM logs")), rowsBefore);
            } else {
                EXPECT_TRUE(run.form.ConnectionLost());
                run.form.conn->Connect();
            }
            if (c.saidOnce) {
                EXPECT_EQ(TimesSaid(run, c.saidOnce), std::make_pair(std::size_t{1}, std::size_t{1}));
            }
            if (!c.ends) {
                EXPECT_TRUE(run.form.oFileNotApplied);
                EXPECT_EQ(run.db.Scalar("SELECT count(*) FROM logs WHERE beschreibung = 'Die Datei " + file +
                                        " wurde nicht übernommen: nichts von ihr ist in der Datenbank.'"),
                          "1");
            }
            run.form.LoadDoc(update);
            EXPECT_FALSE(run.form.oFileNotApplied);
            EXPECT_EQ(State(run.db), clean);
        }
    }
}

// A file in the forms of GeoInfoDok 7 is said to be not read: it changes nothing, not even the tables.
TEST(FailedFiles, GeoInfoDok7UpdateChangesNothing) {
    EnsureQApplication();
    TFakeDialogs dialogs;
    for (const bool oneStatementAtATime : {false, true}) {
        TRun run(oneStatementAtATime);
        run.form.LoadDoc(TestDataDir() + "/bestand_bonn.xml");
        const std::vector<std::string> before = State(run.db);
        run.form.LoadDoc(TestDataDir() + "/nba_bonn_gid71.xml");
        EXPECT_EQ(State(run.db), before);
        EXPECT_EQ(
            run.db.Scalar(std::string("SELECT count(*) FROM logs WHERE meldetyp = 1 AND ") + kNoDesignNote),
            "1");
    }
}

} // namespace
