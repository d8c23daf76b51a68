// A file that fails is applied not at all: after a parse error, a lost connection, a failed integration, a
// session that ends while the integration runs, a failure of the server's resources (a full disk) or a
// server that makes the file wait too long or gives it up (a lock held by another session past
// lock_timeout, a deadlock, a serialization failure, a read-only transaction), the database is as before
// the file, nothing of it is staged and no object has two current versions; importing the file again then
// gives exactly what one clean import gives.
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

#include <libpq-fe.h>

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

// Objects that have more than one current version (no end, or the zero date-time), by identifier.
std::string TwoCurrentVersions(TTestDatabase& db) {
    return db.Scalar(
        "SELECT coalesce(string_agg(gml_id, ','), '') FROM (SELECT gml_id FROM public.ax_objects "
        "WHERE ende IS NULL OR ende = '1899-12-30 00:00:00' GROUP BY gml_id HAVING count(*) > 1) c");
}

// A second session on the test's database that holds locks while an import runs: what `sql` locks, in a
// transaction that ends with the session.
class TLockHolder {
public:
    void Hold(const TTestDatabase& db, const std::string& sql) {
        Release();
        session = PQconnectdb(db.ConnInfo().c_str());
        ASSERT_EQ(PQstatus(session), CONNECTION_OK) << PQerrorMessage(session);
        PGresult* r = PQexec(session, ("BEGIN; " + sql).c_str());
        const ExecStatusType status = PQresultStatus(r);
        PQclear(r);
        ASSERT_TRUE(status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) << PQerrorMessage(session);
    }
    void Release() {
        if (session)
            PQfinish(session);
        session = nullptr;
    }
    ~TLockHolder() { Release(); }

private:
    PGconn* session = nullptr;
};

struct TRun {
    TTestDatabase db;
    TfrmKelpora form;
    TLockHolder holder;
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
    std::function<void(TRun&)> spoil;
    std::function<void(TRun&)> mend;
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

// A case's step on the test's database alone.
std::function<void(TRun&)> OnDb(std::function<void(TTestDatabase&)> step) {
    return [step](TRun& run) { step(run.db); };
}

// Another session holds what `sql` locks, and the import's session waits for a lock no longer than a tenth
// of a second (lock_timeout, as a server may be set up).
std::function<void(TRun&)> HeldLock(const std::string& sql) {
    return [sql](TRun& run) {
        run.holder.Hold(run.db, sql);
        run.form.conn->SetSessionSetting("lock_timeout", "100ms");
    };
}

void ReleaseLock(TRun& run) {
    run.holder.Release();
    run.form.conn->SetSessionSetting("lock_timeout", "0");
}

const char* const kLockTimeout = "canceling statement due to lock timeout";

std::vector<TCase> Cases() {
    const auto undoTrigger = OnDb([](TTestDatabase& db) { db.Exec(kUndoTrigger); });
    const auto exec = [](const std::string& sql) { return OnDb([sql](TTestDatabase& db) { db.Exec(sql); }); };
    return {
        {"a parse error at the end of the update", [](TRun&) {}, [](TRun&) {}, true, true},
        {"the connection lost while the update is staged", OnDb([](TTestDatabase& db) {
             db.Exec("CREATE SEQUENCE staged_rows");
             db.Exec(
                 Trigger("alkistemp.ax_gebaeude",
                         "IF nextval('staged_rows') = 2 THEN PERFORM pg_terminate_backend(pg_backend_pid()); "
                         "END IF"));
         }),
         undoTrigger, false, true, true},
        {"the integration failing",
         exec(Trigger("public.ax_gebaeude", "RAISE EXCEPTION 'kein Platz für %', NEW.gml_id")), undoTrigger},
        {"the session ending while the integration runs",
         exec(Trigger("public.ax_gebaeude", "PERFORM pg_terminate_backend(pg_backend_pid())")), undoTrigger,
         false, true, true},
        {"the disk full while the update is staged",
         exec(ServerErrorOnEveryTable("alkistemp", "BEFORE INSERT", "53100", kDiskFull)), undoTrigger, false,
         false, false, kDiskFull},
        {"the disk full while the replaced versions are closed",
         exec(ServerErrorOnEveryTable("public", "BEFORE UPDATE", "53100", kDiskFull)), undoTrigger, false,
         false, false, kDiskFull},
        {"the disk full while the update's relations are staged",
         exec(Trigger("alkistemp.id_refs",
                      std::string("RAISE EXCEPTION '") + kDiskFull + "' USING ERRCODE = '53100'")),
         undoTrigger, false, false, false, kDiskFull},
        {"the server's input and output failing in the integration",
         exec(ServerErrorOnEveryTable("public", "BEFORE INSERT", "58030", "could not write block 7")),
         undoTrigger, false, false, false, "could not write block 7"},
        // The server makes the work wait or gives it up: the file ends as it does for a full disk.
        {"the replaced building's row locked by another session past lock_timeout",
         HeldLock("SELECT 1 FROM public.ax_gebaeude WHERE gml_id = 'DENW36AL10000Egu' FOR UPDATE"),
         ReleaseLock, false, false, false, kLockTimeout},
        // Said in the place of the delete, as its closing's failure, on both paths.
        {"the deleted tower's row locked by another session past lock_timeout",
         HeldLock("SELECT 1 FROM public.ax_turm WHERE gml_id = 'DENW36ALVk00002s' FOR UPDATE"), ReleaseLock,
         false, false, false, "Fehler beim Löschen des Objektes AX_Turm: DENW36ALVk00002s"},
        {"the buildings' table locked by another session past lock_timeout",
         HeldLock("LOCK TABLE public.ax_gebaeude IN ACCESS EXCLUSIVE MODE"), ReleaseLock, false, false, false,
         kLockTimeout},
        {"a table the integration fills locked by another session past lock_timeout",
         HeldLock("LOCK TABLE public.ax_flurstueck IN SHARE MODE"), ReleaseLock, false, false, false,
         kLockTimeout},
        {"a deadlock while the replaced versions are closed",
         exec(ServerErrorOnEveryTable("public", "BEFORE UPDATE", "40P01", "deadlock detected")), undoTrigger,
         false, false, false, "deadlock detected"},
        {"a serialization failure while the update is staged",
         exec(ServerErrorOnEveryTable("alkistemp", "BEFORE INSERT", "40001",
                                      "could not serialize access due to concurrent update")),
         undoTrigger, false, false, false, "could not serialize access due to concurrent update"},
        {"a read-only transaction while the update is staged",
         exec(ServerErrorOnEveryTable("alkistemp", "BEFORE INSERT", "25006",
                                      "cannot execute INSERT in a read-only transaction")),
         undoTrigger, false, false, false, "cannot execute INSERT in a read-only transaction"},
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
            c.spoil(run);
            const std::string file = c.truncated ? truncated : update;
            if (c.ends)
                EXPECT_ANY_THROW(run.form.LoadDoc(file));
            else
                EXPECT_NO_THROW(run.form.LoadDoc(file));
            c.mend(run);
            EXPECT_EQ(TwoCurrentVersions(run.db), "");
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
            EXPECT_EQ(TwoCurrentVersions(run.db), "");
            EXPECT_EQ(State(run.db), clean);
        }
    }
}

// A replace is one operation also when its old version cannot be ended: a closing the database refuses for
// that object alone (a trigger's RAISE EXCEPTION, the statement's own failure) stores no new version either,
// said once as the failed import of the object, and the rest of the file is applied.
TEST(FailedFiles, AReplaceWhoseOldVersionCannotBeEndedStoresNoNewVersion) {
    EnsureQApplication();
    TFakeDialogs dialogs;
    for (const bool oneStatementAtATime : {false, true}) {
        SCOPED_TRACE(oneStatementAtATime ? "one statement at a time" : "with features in flight");
        TRun run(oneStatementAtATime);
        run.form.LoadDoc(TestDataDir() + "/bestand_bonn.xml");
        run.db.Exec(
            "CREATE FUNCTION spoil() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF OLD.gml_id = "
            "'DENW36AL10000Egu' THEN RAISE EXCEPTION 'Gebäude % gesperrt', OLD.gml_id; END IF; RETURN "
            "NEW; END $$; CREATE TRIGGER spoil BEFORE UPDATE ON public.ax_gebaeude FOR EACH ROW EXECUTE "
            "FUNCTION spoil()");
        const std::string errorsBefore =
            run.db.Scalar(std::string("SELECT count(*) FROM logs WHERE meldetyp = 1 AND ") + kNoDesignNote);
        run.form.LoadDoc(TestDataDir() + "/nba_bonn.xml");
        EXPECT_FALSE(run.form.oFileNotApplied);
        EXPECT_EQ(TwoCurrentVersions(run.db), "");
        // The building keeps its one version, open; the insert and the delete of the file are there.
        EXPECT_EQ(run.db.Scalar("SELECT string_agg(beginn || ' ' || ende, ',') FROM public.ax_gebaeude WHERE "
                                "gml_id = 'DENW36AL10000Egu'"),
                  "2024-10-15 07:55:13 1899-12-30 00:00:00");
        EXPECT_EQ(run.db.Scalar("SELECT count(*) FROM public.ax_gebaeude WHERE gml_id = 'DENW36ALTEST0001'"),
                  "1");
        EXPECT_EQ(
            run.db.Scalar("SELECT count(*) FROM public.ax_turm WHERE gml_id = 'DENW36ALVk00002s' AND ende "
                          "<> '1899-12-30'"),
            "1");
        EXPECT_EQ(
            run.db.Scalar(
                std::string("SELECT string_agg(beschreibung, '|') FROM (SELECT beschreibung FROM logs WHERE "
                            "meldetyp = 1 AND ") +
                kNoDesignNote + " ORDER BY ctid OFFSET " + errorsBefore + ") e"),
            "Fehler beim Import bei AX_Gebaeude: DENW36AL10000Egu - Gebäude "
            "DENW36AL10000Egu gesperrt");
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
