// The run log table "logs" and the one way every database operation reports its own failure.
#include <libpq-fe.h>

#include <limits>
#include <string>

#include "app/FormKelpora.h"
#include "model/DateTime.h"
#include "platform/db/ZDatabase.h"
#include "writer/DbSupport.h"

bool TfrmKelpora::ConnectionLost() const {
    return conn && conn->Lost();
}

void TfrmKelpora::ReportConnectionLost() {
    if (connectionLostReported)
        return;
    connectionLostReported = true;
    AddLogLine(TimeOfDay() + ": " + kConnectionLostText);
}

bool TfrmKelpora::ServerFailed() const {
    return conn && conn->ServerFailure();
}

bool TfrmKelpora::FailureToBeSaid() {
    if (ConnectionLost()) {
        ReportConnectionLost();
        return false;
    }
    if (!ServerFailed())
        return true;
    if (serverFailureReported)
        return false;
    serverFailureReported = true;
    return true;
}

bool TfrmKelpora::ServerFailureSaid(const std::exception& e) const {
    return serverFailureReported && FailureKindOf(SqlStateOf(e)) == TFailureKind::fkServer;
}

namespace {
void AddFailureLines(TfrmKelpora& form, const std::string& M, const std::string& E, bool withTimeAndTab) {
    if (withTimeAndTab) {
        form.AddLogLine(TfrmKelpora::TimeOfDay() + ": " + M);
        form.AddLogLine("\t" + E);
    } else {
        form.AddLogLine(M);
        form.AddLogLine(E);
    }
}
} // namespace

void TfrmKelpora::ReportFailureLines(const std::string& M, const std::string& E, bool withTimeAndTab) {
    if (FailureToBeSaid())
        AddFailureLines(*this, M, E, withTimeAndTab);
}

void TfrmKelpora::ReportFailure(const std::string& M, const std::string& T, const std::string& E,
                                bool withTimeAndTab) {
    if (!FailureToBeSaid())
        return;
    AddFailureLines(*this, M, E, withTimeAndTab);
    WriteLog(1, T);
}

void TfrmKelpora::ReportFailure(const std::string& M, const std::string& E) {
    ReportFailure(M, M + " - " + E, E);
}

namespace {

std::string LockCall(const char* function, int key, std::int64_t number) {
    return std::string("SELECT pg_catalog.") + function + "(" + std::to_string(key) + ", " +
           std::to_string(number) + ")";
}

std::string FirstValue(TZQuery& q, const std::string& sql) {
    q.SetSQL(sql);
    q.Open();
    std::string value = q.Eof() ? std::string() : q.Fields(0).AsString();
    q.Close();
    return value;
}

// The highest run number of logs, 0 when there is none.
std::int64_t HighestRunNumber(TZQuery& q) {
    q.SQL().Clear();
    q.SQL().Add("SELECT MAX(lfd_nr_umsetz) FROM logs");
    q.Open();
    const std::int64_t highest = q.Eof() ? 0 : q.Fields(0).AsInteger();
    q.Close();
    if (highest >= std::numeric_limits<std::int32_t>::max())
        throw EDatabaseError("Die höchste Laufnummer in logs lässt keine weitere zu");
    return highest;
}

} // namespace

std::int32_t TfrmKelpora::InitLogTable() {
    TZConnection* c = nullptr;
    try {
        TZQuery& q = SharedStatement(cmd);
        c = q.Connection();
        if (c->Guarded())
            throw EDatabaseError("Die Laufnummer wird nicht in der Transaktion einer Datei gewählt");
        // The statements around the table's own go on a statement of their own.
        TZQuery own(c);
        // A number this session claimed for an earlier run is free again.
        if (claimedRunNumber > 0 && claimedRunHandle == c->Handle())
            FirstValue(own, LockCall("pg_advisory_unlock", kRunNumberLockKey, claimedRunNumber));
        claimedRunNumber = 0;
        // One run at a time makes the table or chooses its number.
        own.SetSQL("BEGIN; " + LockCall("pg_advisory_xact_lock", kKelporaLockKey, kRunLogLock));
        own.ExecSQL();
        q.SQL().Clear();
        q.SQL().Add(
            "SELECT COUNT(*) FROM pg_catalog.pg_tables WHERE schemaname='public' and tablename = 'logs'");
        q.Open();
        std::int64_t count = 0;
        for (; !q.Eof(); q.Next())
            count = q.Fields(0).AsInteger();
        q.SQL().Clear();
        std::int64_t highest = 0;
        if (count > 0) {
            highest = HighestRunNumber(q);
        } else {
            q.SQL().Add("CREATE TABLE public.logs( lfd_nr_umsetz integer, zeitpunkt timestamp without time "
                        "zone, meldetyp integer, beschreibung text)");
            q.ExecSQL();
        }
        // The number after the highest stored that no run going on holds. A run that held it and has
        // ended since has its rows in the table by now: the highest is read once more after the claim.
        std::int64_t number = highest + 1;
        for (;;) {
            while (FirstValue(own, LockCall("pg_try_advisory_lock", kRunNumberLockKey, number)) != "t")
                ++number;
            highest = HighestRunNumber(own);
            if (highest < number)
                break;
            FirstValue(own, LockCall("pg_advisory_unlock", kRunNumberLockKey, number));
            number = highest + 1;
        }
        claimedRunNumber = static_cast<std::int32_t>(number);
        claimedRunHandle = c->Handle();
        // The run's rows must be writable: a database that takes none (read-only) or a table the login may
        // not write ends the run before it starts, instead of losing every report of it.
        own.SetSQL("SAVEPOINT kelpora_logs; INSERT INTO logs (lfd_nr_umsetz, zeitpunkt, meldetyp, "
                   "beschreibung) VALUES (" +
                   std::to_string(number) +
                   ", localtimestamp(0), 0, ''); ROLLBACK TO SAVEPOINT kelpora_logs; "
                   "COMMIT");
        own.ExecSQL();
        return claimedRunNumber;
    } catch (const std::exception& e) {
        // A number claimed goes with the session at the run's end.
        if (c && c->Connected() && !c->Guarded())
            PQclear(PQexec(c->Handle(), "ROLLBACK"));
        const std::string error = e.what();
        const std::string text =
            SqlStateOf(e).starts_with("25")
                ? "Die Datenbank nimmt keine Änderungen an: " + error + " - der Import wird nicht begonnen."
                : "Fehler beim Lesen/Anlegen der Tabelle logs: " + error +
                      " - der Import wird nicht begonnen.";
        AddLogLine(TimeOfDay() + ": " + text);
        throw EDatabaseError(text, SqlStateOf(e));
    }
}

// The row goes through a statement of its own on the run's connection, so that a statement another
// operation is binding on `cmd` (SQL text and parameters) stays as it was. The values are bound, so the
// stored text equals `s` whatever quotes or line breaks it holds.
void TfrmKelpora::LogAndWriteLog(int meldetyp, const std::string& text) {
    AddLogLine(TimeOfDay() + ": " + text);
    WriteLog(meldetyp, text);
}

void TfrmKelpora::WriteLog(int meldetyp, const std::string& s) {
    if (ConnectionLost()) {
        ReportConnectionLost();
        return;
    }
    const std::string zeitpunkt = DateTimeToDbText(Now());
    // The file's transaction would refuse the row: it is written when the file is rolled back.
    if (!ServerFailed())
        InsertLogRow(zeitpunkt, meldetyp, s);
    if (heldLogRows)
        heldLogRows->push_back({zeitpunkt, meldetyp, s});
}

void TfrmKelpora::InsertLogRow(const std::string& zeitpunkt, int meldetyp, const std::string& s) {
    try {
        TZQuery q(SharedStatement(cmd).Connection());
        q.SetSQL("INSERT INTO logs (lfd_nr_umsetz, zeitpunkt, meldetyp, beschreibung) "
                 "VALUES(:lfd_nr_umsetz, :zeitpunkt, :meldetyp, :beschreibung)");
        q.ParamByName("lfd_nr_umsetz").SetAsInteger(iLfdNrUmsetzung);
        q.ParamByName("zeitpunkt").SetDataType(TFieldType::ftString);
        q.ParamByName("zeitpunkt").SetValue(zeitpunkt);
        q.ParamByName("meldetyp").SetAsInteger(meldetyp);
        q.ParamByName("beschreibung").SetDataType(TFieldType::ftWideString);
        q.ParamByName("beschreibung").SetValue(s);
        q.ExecSQL();
    } catch (const std::exception& e) {
        // The server failure the file ended with was said in the log window; that it keeps the run log
        // from being written as well adds nothing.
        if (ServerFailureSaid(e))
            return;
        ReportFailureLines("Fehler beim Schreiben in die Log-Tabelle", e.what());
    }
}
