// The run log table "logs" and the one way every database operation reports its own failure.
#include <limits>

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

std::int32_t TfrmKelpora::InitLogTable() {
    try {
        TZQuery& q = SharedStatement(cmd);
        q.SQL().Clear();
        q.SQL().Add(
            "SELECT COUNT(*) FROM pg_catalog.pg_tables WHERE schemaname='public' and tablename = 'logs'");
        q.Open();
        std::int64_t count = 0;
        for (; !q.Eof(); q.Next())
            count = q.Fields(0).AsInteger();
        q.SQL().Clear();
        if (count > 0) {
            q.SQL().Add("SELECT MAX(lfd_nr_umsetz) FROM logs");
            q.Open();
            const TZField last = q.Fields(0);
            if (last.IsNull())
                return 1;
            const std::int64_t highest = last.AsInteger();
            if (highest >= std::numeric_limits<std::int32_t>::max())
                throw EDatabaseError("Die höchste Laufnummer in logs lässt keine weitere zu");
            return static_cast<std::int32_t>(highest + 1);
        }
        q.SQL().Add("CREATE TABLE public.logs( lfd_nr_umsetz integer, zeitpunkt timestamp without time zone, "
                    "meldetyp integer, beschreibung text)");
        q.ExecSQL();
        return 1;
    } catch (const std::exception& e) {
        ReportFailureLines("Fehler beim Lesen/Anlegen der Tabelle logs", e.what());
        return 0;
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
