// Closing the lifespans of stored versions (replace, delete) and writing the relations of new ones.
#include <algorithm>
#include <string>
#include <vector>

#include "app/FormKelpora.h"
#include "model/DateTime.h"
#include "platform/db/ZDatabase.h"
#include "writer/DbSupport.h"
#include "writer/FeatureWork.h"

namespace {

std::string EndText(const TAXObject& r) {
    return DateTimeToDbText(r.wfsType == twfsReplace  ? r.dtBegin
                            : r.wfsType == twfsUpdate ? r.dtEnde
                                                      : Now());
}

// The open marker of the prepared database: no end, or the zero date-time.
const std::string kOpen = "(ende IS NULL OR ende = '1899-12-30 00:00:00')";
const std::string kOpenAndBegunBefore = kOpen + " AND beginn < CAST(:ende AS timestamp)";
const std::string kOpenAndBegunBy = kOpen + " AND beginn <= CAST(:ende AS timestamp)";

void BindText(TZQuery& q, const std::string& name, const std::string& value) {
    TZParam& p = q.ParamByName(name);
    p.SetDataType(TFieldType::ftString);
    p.SetValue(value);
}

// The table the versions of an object type are closed in.
std::string ClosingTable(const TfrmKelpora& form, const std::string& oa) {
    const std::string t =
        form.oNachFolien ? "og_" + (form.obOAGruppen ? form.obOAGruppen->Value(oa) : std::string()) : oa;
    // The object type of a delete is free text of the file: only a plain identifier becomes a table name.
    return SqlIdentifier(t);
}

const std::string kStaging = "alkistemp.";

bool IsStaging(const std::string& table) {
    return table.compare(0, kStaging.size(), kStaging) == 0;
}

// What the file staged is closed by the same rules through kelpora_close_staged(): the staging tables grow
// while the file is read, so its statements are planned anew each time, for the rows there are by then (a
// plan the session kept from the file's first closing would read the whole table at every later one).
void SetUpCloseStaged(TZQuery& q, const std::string& table, const TClosing& c, bool relations) {
    q.SQL().Clear();
    q.SQL().Add(relations
                    ? "SELECT kelpora_close_staged(NULL, :gml_id, CAST(:ende AS timestamp), CAST(:replace "
                      "AS boolean), true)"
                    : "SELECT kelpora_close_staged(CAST(:t AS regclass), :gml_id, CAST(:ende AS "
                      "timestamp), CAST(:replace AS boolean), false)");
    if (!relations)
        BindText(q, "t", table);
    BindText(q, "gml_id", c.id);
    BindText(q, "ende", c.endText);
    BindText(q, "replace", c.isReplace ? "true" : "false");
}

// Only versions still open and begun before the end close: a version closed by an earlier replace keeps
// its end, and a new version that is already stored (the same update imported again) stays current.
void SetUpCloseVersions(TZQuery& q, const std::string& table, const TClosing& c) {
    if (IsStaging(table))
        return SetUpCloseStaged(q, table, c, false);
    q.SQL().Clear();
    q.SQL().Add("UPDATE " + table + " SET ende=:ende WHERE gml_id=:gml_id AND " + kOpenAndBegunBefore);
    BindText(q, "ende", c.endText);
    BindText(q, "gml_id", c.id);
}

// A relation addresses an object, not a version: a replace closes only the relations of the versions it
// ends (its new version brings its own, which begin when the old ones end), a delete also those that
// point to the object.
void SetUpCloseRelations(TZQuery& q, const std::string& table, const TClosing& c) {
    if (IsStaging(table))
        return SetUpCloseStaged(q, table, c, true);
    q.SQL().Clear();
    q.SQL().Add(c.isReplace
                    ? "UPDATE " + table + " SET ende=:ende WHERE gml_id=:gml_id AND " + kOpenAndBegunBefore
                    : "UPDATE " + table +
                          " SET ende=:ende WHERE ((gml_id=:gml_id) or (id_ref=:gml_id1)) AND " +
                          kOpenAndBegunBy);
    BindText(q, "ende", c.endText);
    BindText(q, "gml_id", c.id);
    if (!c.isReplace)
        BindText(q, "gml_id1", c.id);
}

} // namespace

const char* const kInsertIdRefSql =
    "INSERT INTO alkistemp.id_refs (gml_id, id_ref, typ, beginn) VALUES(:gml_id, :id_ref, :typ, :beginn)";

void BindIdRef(TZQuery& q, const std::string& gmlId, const std::string& idRef, std::int32_t typ,
               const std::string& beginText) {
    BindText(q, "gml_id", gmlId);
    BindText(q, "id_ref", idRef);
    q.ParamByName("typ").SetDataType(TFieldType::ftInteger);
    q.ParamByName("typ").SetAsInteger(typ);
    BindText(q, "beginn", beginText);
}

// The operations of a file take effect in their order, as if each were a file of its own: a replace or
// delete closes the versions and relations the integrated tables hold and those the file staged before
// it. A name that public holds for anything but an object table (a configuration table, the relation
// table, the run log) is refused: closing there would change rows that are no versions.
TfrmKelpora::TClosingPlan TfrmKelpora::PlanClosing(const TClosing& c) {
    TClosingPlan plan;
    const std::string table = ClosingTable(*this, c.oa);
    auto known = closingTables.find(table);
    if (known == closingTables.end()) {
        TZQuery& q = SharedStatement(cmd);
        q.SQL().Clear();
        q.SQL().Add(
            "SELECT c.relkind = 'r' AND EXISTS (SELECT 1 FROM pg_catalog.pg_inherits i WHERE i.inhrelid "
            "= c.oid AND i.inhparent = 'public.ax_objects'::regclass) FROM pg_catalog.pg_class c JOIN "
            "pg_catalog.pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = 'public' AND "
            "c.relname = :t");
        q.Prepare();
        BindText(q, "t", table);
        q.Open();
        TClosingTable standing;
        for (; !q.Eof(); q.Next())
            (q.Fields(0).AsBoolean() ? standing.publicObjectTable : standing.publicOther) = true;
        q.Close();
        known = closingTables.emplace(table, standing).first;
    }
    TClosingTable& standing = known->second;
    if (standing.publicOther)
        throw EDatabaseError("Keine Objekttabelle: " + table);
    const std::string groupOrType = oNachFolien ? table : c.oa;
    const bool staged = obTables && std::any_of(obTables->Lines().begin(), obTables->Lines().end(),
                                                [&groupOrType](const std::string& t) {
                                                    return SameTextAscii(t, groupOrType);
                                                });
    // A type neither integrated nor staged: the statement on its name fails and says so.
    if (standing.publicObjectTable || !staged)
        plan.versionTables.push_back(table);
    const bool ownStaged = stagedObjects.MayHold(c.id);
    if (staged && ownStaged) {
        if (!standing.stagingIndexed) {
            EnsureClosingIndex("alkistemp." + table);
            standing.stagingIndexed = true;
        }
        plan.versionTables.push_back("alkistemp." + table);
    }
    if (c.referenzen) {
        plan.relationTables.push_back("id_refs");
        // A relation is staged with its holder's version; a delete also ends those pointing to it.
        if (oTableExistsIdRefs && (ownStaged || (!c.isReplace && stagedTargets.MayHold(c.id)))) {
            if (!stagedRelationsIndexed) {
                EnsureClosingIndex("alkistemp.id_refs");
                stagedRelationsIndexed = true;
            }
            plan.relationTables.push_back("alkistemp.id_refs");
        }
    }
    return plan;
}

// The staging tables are searched by identifier only by closings: their index is made for the file that
// needs it (on the few rows staged so far) and dropped with the rows at the integration.
void TfrmKelpora::EnsureClosingIndex(const std::string& stagingTable) {
    TZQuery& q = SharedStatement(cmd);
    q.SQL().Clear();
    q.SQL().Add("SELECT kelpora_closing_index(CAST(:t AS regclass))");
    q.Prepare();
    BindText(q, "t", stagingTable);
    q.ExecSQL();
}

bool TfrmKelpora::DeleteFromDB(TAXObject* obAXObject) {
    if (!obAXObject)
        return false;
    const TAXObject& r = *obAXObject;
    const TClosing closing{r.objektart(), r.identifikator, r.wfsType == twfsReplace, EndText(r),
                           WriteSettings().referenzen};
    // With features in flight the closing travels with them: it waits for nobody, and the features
    // after it find the versions closed, as one statement after the other would leave them.
    if (!oOneStatementAtATime && iPipelineDepth > 0 && SendClosingAtOnce(closing)) {
        ProcessMessagesNowAndThen();
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
    TClosingPlan plan;
    try {
        plan = PlanClosing(c);
    } catch (const std::exception& e) {
        // No table that holds versions: nothing is closed, not even relations.
        report("Fehler beim Löschen des Objektes ", e);
        ProcessMessagesNowAndThen();
        return false;
    }
    try {
        TZQuery& q = SharedStatement(cmd);
        for (const std::string& table : plan.versionTables) {
            SetUpCloseVersions(q, table, c);
            q.ExecSQL();
        }
        result = true;
    } catch (const std::exception& e) {
        report("Fehler beim Löschen des Objektes ", e);
    }
    if (!plan.relationTables.empty()) {
        try {
            TZQuery& q = SharedStatement(cmd);
            for (const std::string& table : plan.relationTables) {
                SetUpCloseRelations(q, table, c);
                q.ExecSQL();
            }
            result = true;
        } catch (const std::exception& e) {
            report("Fehler beim Löschen der Referenzen des Objektes ", e);
        }
    }
    ProcessMessagesNowAndThen();
    return result;
}

bool TfrmKelpora::SendClosingAtOnce(const TClosing& c) {
    TFeatureWork w;
    w.closesOnly = true;
    w.closing = c;
    w.oa = c.oa;
    w.id = c.id;
    try {
        const TClosingPlan plan = PlanClosing(c);
        TZQuery q(conn.get());
        for (const std::string& table : plan.versionTables) {
            SetUpCloseVersions(q, table, c);
            w.batch.push_back(TakePreparedCall(q));
        }
        for (const std::string& table : plan.relationTables) {
            SetUpCloseRelations(q, table, c);
            w.batch.push_back(TakePreparedCall(q));
        }
    } catch (const std::exception&) {
        return false; // the one-at-a-time way meets the same error and reports it
    }
    return QueueClosing(std::move(w));
}

bool TfrmKelpora::EnsureIdRefsTable() {
    TZQuery& q = SharedStatement(cmd);
    // A table created here is counted once more; two passes always suffice.
    for (int pass = 0; pass < 2 && !oTableExistsIdRefs; ++pass) {
        q.SQL().Clear();
        q.SQL().Add("SELECT COUNT(*) FROM pg_catalog.pg_tables WHERE schemaname='alkistemp' and tablename = "
                    "'id_refs'");
        q.Open();
        std::int64_t count = 0;
        for (; !q.Eof(); q.Next())
            count = q.Fields(0).AsInteger();
        oTableExistsIdRefs = count > 0;
        if (count == 0) {
            // The begin is that of the holding object's version, with its time: a version replaced on the
            // day it began closes exactly its own relations.
            q.SQL().Clear();
            q.SQL().Add("CREATE TABLE alkistemp.id_refs (gml_id character varying NOT NULL, id_ref character "
                        "varying NOT NULL, typ integer NOT NULL, beginn timestamp NOT NULL, ende timestamp) "
                        "WITH (OIDS=FALSE)");
            q.ExecSQL();
        }
    }
    return oTableExistsIdRefs;
}

// The identifiers and the start are bound as parameters: an identifier holding a quote is stored as it
// is instead of breaking the statement.
void TfrmKelpora::WriteIdRef(const std::string& gmlId, const std::string& idRef, TDateTime dtBegin,
                             std::int32_t typ) {
    try {
        if (!EnsureIdRefsTable())
            throw EDatabaseError("Die Tabelle alkistemp.id_refs ist nach dem Anlegen nicht zu finden");
        TZQuery& q = SharedStatement(cmd);
        q.SQL().Clear();
        q.SQL().Add(kInsertIdRefSql);
        BindIdRef(q, gmlId, idRef, typ, DateTimeToDbText(dtBegin));
        q.ExecSQL();
    } catch (const std::exception& e) {
        ReportFailure("Fehler beim Schreiben in die id_ref-Tabelle", e.what());
    }
}
