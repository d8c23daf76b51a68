// Closing the lifespans of stored versions (replace, delete) and writing the relations of new ones.
#include "app/FormKelpora.h"
#include "model/DateTime.h"
#include "platform/db/ZDatabase.h"
#include "writer/DbSupport.h"
#include "writer/FeatureWork.h"

namespace {

std::string EndText(const TAXObject& r) {
    return DateTimeToDbText(r.wfsType == twfsReplace ? r.dtBegin : Now());
}

// The open marker of the prepared database: no end, or the zero date-time.
const std::string kOpen = "(ende IS NULL OR ende = '1899-12-30 00:00:00')";
const std::string kOpenAndBegunBefore = kOpen + " AND beginn < CAST(:ende AS timestamp)";
const std::string kOpenAndBegunBeforeDay =
    kOpen + " AND beginn < date_trunc('day', CAST(:ende AS timestamp))";
const std::string kOpenAndBegunBy = kOpen + " AND beginn <= CAST(:ende AS timestamp)";

void BindText(TZQuery& q, const std::string& name, const std::string& value) {
    TZParam& p = q.ParamByName(name);
    p.SetDataType(TFieldType::ftString);
    p.SetValue(value);
}

} // namespace

namespace {

// The table the versions of an object type are closed in.
std::string ClosingTable(const TfrmKelpora& form, const std::string& oa) {
    const std::string t =
        form.oNachFolien ? "og_" + (form.obOAGruppen ? form.obOAGruppen->Value(oa) : std::string()) : oa;
    // The object type of a delete is free text of the file: only a plain identifier becomes a table name.
    return SqlIdentifier(t);
}

// Only versions still open and begun before the end close: a version closed by an earlier replace keeps
// its end, and a new version that is already stored (the same update imported again) stays current.
void SetUpCloseVersions(TZQuery& q, const std::string& table, const TClosing& c) {
    q.SQL().Clear();
    q.SQL().Add("UPDATE " + table + " SET ende=:ende WHERE gml_id=:gml_id AND " + kOpenAndBegunBefore);
    BindText(q, "ende", c.endText);
    BindText(q, "gml_id", c.id);
}

// A relation addresses an object, not a version: a replace closes only the object's own relations (its
// new version brings its own), a delete also those that point to it. Relations begin on the day of their
// version, so the new version's own rows, when already stored, begin on the day the end falls on and
// stay open.
void SetUpCloseRelations(TZQuery& q, const TClosing& c) {
    q.SQL().Clear();
    q.SQL().Add(c.isReplace
                    ? "UPDATE id_refs SET ende=:ende WHERE gml_id=:gml_id AND " + kOpenAndBegunBeforeDay
                    : "UPDATE id_refs SET ende=:ende WHERE ((gml_id=:gml_id) or (id_ref=:gml_id1)) AND " +
                          kOpenAndBegunBy);
    BindText(q, "ende", c.endText);
    BindText(q, "gml_id", c.id);
    if (!c.isReplace)
        BindText(q, "gml_id1", c.id);
}

} // namespace

bool TfrmKelpora::DeleteFromDB(TAXObject* obAXObject) {
    if (!obAXObject)
        return false;
    const TAXObject& r = *obAXObject;
    const TClosing closing{r.objektart(), r.identifikator, r.wfsType == twfsReplace, EndText(r),
                           WriteSettings().referenzen};
    // With features in flight the closing travels with them: it waits for nobody, and the features
    // after it find the versions closed, as one statement after the other would leave them.
    if (!oOneStatementAtATime && iPipelineDepth > 0 && SendClosingAtOnce(closing)) {
        ProcessMessages();
        return true;
    }
    return CloseStoredVersions(closing);
}

bool TfrmKelpora::CloseStoredVersions(const TClosing& c) {
    bool result = false;
    // Per-object form: no time of day, no tab.
    const auto report = [&](const std::string& prefix, const std::exception& e) {
        const std::string M = prefix + c.oa + ": " + c.id;
        ReportFailure(M, M + " - " + e.what(), e.what(), false);
    };
    try {
        const std::string table = ClosingTable(*this, c.oa);
        TZQuery& q = SharedStatement(cmd);
        SetUpCloseVersions(q, table, c);
        q.ExecSQL();
        result = true;
    } catch (const std::exception& e) {
        report("Fehler beim Löschen des Objektes ", e);
    }
    if (c.referenzen) {
        try {
            TZQuery& q = SharedStatement(cmd);
            SetUpCloseRelations(q, c);
            q.ExecSQL();
            result = true;
        } catch (const std::exception& e) {
            report("Fehler beim Löschen der Referenzen des Objektes ", e);
        }
    }
    ProcessMessages();
    return result;
}

bool TfrmKelpora::SendClosingAtOnce(const TClosing& c) {
    TFeatureWork w;
    w.closesOnly = true;
    w.closing = c;
    w.oa = c.oa;
    w.id = c.id;
    try {
        TZQuery versions(conn.get());
        SetUpCloseVersions(versions, ClosingTable(*this, c.oa), c);
        w.batch.push_back(TakePreparedCall(versions));
        if (c.referenzen) {
            TZQuery relations(conn.get());
            SetUpCloseRelations(relations, c);
            w.batch.push_back(TakePreparedCall(relations));
        }
    } catch (const std::exception&) {
        return false; // the one-at-a-time way meets the same error and reports it
    }
    return QueueClosing(std::move(w));
}

// The identifiers and the start date are bound as parameters: an identifier holding a quote is stored
// as it is instead of breaking the statement.
void TfrmKelpora::WriteIdRef(const std::string& gmlId, const std::string& idRef, TDateTime dtBegin,
                             std::int32_t typ) {
    try {
        TZQuery& q = SharedStatement(cmd);
        // A table created here is counted once more before the row goes in; two passes always suffice.
        for (int pass = 0; pass < 2 && !oTableExistsIdRefs; ++pass) {
            q.SQL().Clear();
            q.SQL().Add(
                "SELECT COUNT(*) FROM pg_catalog.pg_tables WHERE schemaname='alkistemp' and tablename = "
                "'id_refs'");
            q.Open();
            std::int64_t count = 0;
            for (; !q.Eof(); q.Next())
                count = q.Fields(0).AsInteger();
            oTableExistsIdRefs = count > 0;
            if (count == 0) {
                q.SQL().Clear();
                q.SQL().Add(
                    "CREATE TABLE alkistemp.id_refs (gml_id character varying NOT NULL, id_ref character "
                    "varying NOT NULL, typ integer NOT NULL, beginn date NOT NULL, ende date) WITH "
                    "(OIDS=FALSE)");
                q.ExecSQL();
            }
        }
        if (!oTableExistsIdRefs)
            throw EDatabaseError("Die Tabelle alkistemp.id_refs ist nach dem Anlegen nicht zu finden");
        q.SQL().Clear();
        q.SQL().Add(
            "INSERT INTO alkistemp.id_refs (gml_id, id_ref, typ, beginn) VALUES(:gml_id, :id_ref, :typ, "
            ":beginn)");
        BindText(q, "gml_id", gmlId);
        BindText(q, "id_ref", idRef);
        q.ParamByName("typ").SetDataType(TFieldType::ftInteger);
        q.ParamByName("typ").SetAsInteger(typ);
        BindText(q, "beginn", DateTimeToDbText(dtBegin));
        q.ExecSQL();
    } catch (const std::exception& e) {
        ReportFailure("Fehler beim Schreiben in die id_ref-Tabelle", e.what());
    }
}
