#include "run/FileImport.h"

#include <exception>
#include <string>

#include "app/FormKelpora.h"
#include "platform/db/ZDatabase.h"
#include "writer/DbSupport.h"

namespace {

std::string ImportLockSql(const char* function) {
    return std::string("SELECT pg_catalog.") + function + "(" + std::to_string(kKelporaLockKey) + ", " +
           std::to_string(kImportLock) + ")";
}

} // namespace

const char* const kWaitingForImportText = "Warte auf einen anderen Import in diese Datenbank ...";
const char* const kWaitingFailedText = "Fehler beim Warten auf den anderen Import in diese Datenbank";

TFileImport::TFileImport(TfrmKelpora& f) : form(f) {
    TZConnection& conn = *SharedStatement(form.cmd).Connection();
    // Session settings made inside the transaction would go with a rollback: the import's are made first.
    form.TuneImportConnection();
    insertsBefore = form.obInserts.Lines();
    // Imports into one database follow one another file by file: two files replacing the same objects at
    // the same time would each close the versions the other cannot see yet. The lock is asked for in the
    // round trip that begins the transaction, so while no other import writes it costs nothing.
    const bool free = conn.BeginGuardedTransaction(ImportLockSql("pg_try_advisory_xact_lock")) == "t";
    if (!free) {
        // Said outside the file's transaction, so that its row is in logs at once, and shown before the
        // wait begins.
        conn.RollbackGuardedTransaction();
        form.LogAndWriteLog(0, kWaitingForImportText);
        form.ProcessMessages();
        conn.BeginGuardedTransaction();
    }
    open = true;
    form.heldLogRows = &logRows;
    if (!free) {
        try {
            // The window stays responsive while the other import's file is written.
            conn.ExecSimpleWaiting(ImportLockSql("pg_advisory_xact_lock"),
                                   [this] { form.ProcessMessages(); });
        } catch (const std::exception& e) {
            // Waited too long (lock_timeout): the file ends as after any failure of the server, said once.
            if (!form.ServerFailed()) {
                RollBack();
                throw;
            }
            form.ReportFailure(kWaitingFailedText, e.what());
            return;
        }
    }
    if (form.oReferenzen) {
        // Known from the first feature on, the relation table lets every feature's relations travel with
        // it, in its place among the closings.
        try {
            form.EnsureIdRefsTable();
        } catch (const std::exception&) {
            // The first relation meets this again and reports it.
        }
    }
}

TFileImport::~TFileImport() {
    if (open)
        RollBack();
}

void TFileImport::End() {
    open = false;
    form.heldLogRows = nullptr;
    form.ResetFileCaches();
}

void TFileImport::Commit() {
    if (!open)
        return;
    try {
        SharedStatement(form.cmd).Connection()->CommitGuardedTransaction();
    } catch (const std::exception&) {
        RollBack();
        throw;
    }
    End();
}

void TFileImport::RollBack() {
    if (!open)
        return;
    if (form.conn)
        form.conn->RollbackGuardedTransaction();
    End();
    // What the file created is gone: the tables known to exist, the relation table and the settings made
    // inside it are found out again.
    form.oTableExistsIdRefs = false;
    form.tunedHandle = nullptr;
    form.obInserts.Clear();
    for (const std::string& line : insertsBefore)
        form.obInserts.Add(line);
    if (!form.ConnectionLost())
        for (const TLogRow& row : logRows)
            form.InsertLogRow(row.zeitpunkt, row.meldetyp, row.text);
}
