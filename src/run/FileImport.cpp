#include "run/FileImport.h"

#include <exception>

#include "app/FormKelpora.h"
#include "platform/db/ZDatabase.h"
#include "writer/DbSupport.h"

TFileImport::TFileImport(TfrmKelpora& f) : form(f) {
    TZConnection& conn = *SharedStatement(form.cmd).Connection();
    // Session settings made inside the transaction would go with a rollback: the import's are made first.
    form.TuneImportConnection();
    insertsBefore = form.obInserts.Lines();
    conn.BeginGuardedTransaction();
    open = true;
    form.heldLogRows = &logRows;
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
