// Closing the lifespans of stored versions (replace, delete) and writing the relations of new ones.
#include "app/FormKelpora.h"
#include "model/DateTime.h"
#include "platform/db/ZDatabase.h"
#include "writer/DbSupport.h"

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

bool TfrmKelpora::DeleteFromDB(TAXObject* obAXObject) {
    bool result = false;
    if (!obAXObject)
        return result;
    const TAXObject& r = *obAXObject;
    // Per-object form: no time of day, no tab.
    const auto report = [&](const std::string& prefix, const std::exception& e) {
        const std::string M = prefix + r.objektart() + ": " + r.identifikator;
        ReportFailure(M, M + " - " + e.what(), e.what(), false);
    };
    try {
        const std::string t = oNachFolien
                                  ? "og_" + (obOAGruppen ? obOAGruppen->Value(r.objektart()) : std::string())
                                  : r.objektart();
        // The object type of a delete is free text of the file: only a plain identifier becomes a table name.
        const std::string table = SqlIdentifier(t);
        TZQuery& q = SharedStatement(cmd);
        q.SQL().Clear();
        // Only versions still open and begun before the end close: a version closed by an earlier
        // replace keeps its end, and a new version that is already stored (the same update imported
        // again) stays current.
        q.SQL().Add("UPDATE " + table + " SET ende=:ende WHERE gml_id=:gml_id AND " + kOpenAndBegunBefore);
        BindText(q, "ende", EndText(r));
        BindText(q, "gml_id", r.identifikator);
        q.ExecSQL();
        result = true;
    } catch (const std::exception& e) {
        report("Fehler beim Löschen des Objektes ", e);
    }
    if (WriteSettings().referenzen) {
        try {
            TZQuery& q = SharedStatement(cmd);
            q.SQL().Clear();
            // A relation addresses an object, not a version: a replace closes only the object's own
            // relations (its new version brings its own), a delete also those that point to it.
            // Relations begin on the day of their version, so the new version's own rows, when
            // already stored, begin on the day the end falls on and stay open.
            q.SQL().Add(
                r.wfsType == twfsReplace
                    ? "UPDATE id_refs SET ende=:ende WHERE gml_id=:gml_id AND " + kOpenAndBegunBeforeDay
                    : "UPDATE id_refs SET ende=:ende WHERE ((gml_id=:gml_id) or (id_ref=:gml_id1)) AND " +
                          kOpenAndBegunBy);
            BindText(q, "ende", EndText(r));
            BindText(q, "gml_id", r.identifikator);
            if (r.wfsType != twfsReplace)
                BindText(q, "gml_id1", r.identifikator);
            q.ExecSQL();
            result = true;
        } catch (const std::exception& e) {
            report("Fehler beim Löschen der Referenzen des Objektes ", e);
        }
    }
    ProcessMessages();
    return result;
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
