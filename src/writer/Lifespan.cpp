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

// A delete ends the versions at the moment of the import, on the clock of the begins it is compared with:
// those are stored in UTC, whatever the zone of the machine that imports.
std::string EndText(const TAXObject& r) {
    return DateTimeToDbText(r.wfsType == twfsReplace  ? r.dtBegin
                            : r.wfsType == twfsUpdate ? r.dtEnde
                                                      : NowUtc());
}

void BindText(TZQuery& q, const std::string& name, const std::string& value) {
    TZParam& p = q.ParamByName(name);
    p.SetDataType(TFieldType::ftString);
    p.SetValue(value);
}

// The staging table of the plan by its schema-qualified name, or NULL for none.
void BindTable(TZQuery& q, const std::string& name, const std::string& table) {
    TZParam& p = q.ParamByName(name);
    p.SetDataType(TFieldType::ftString);
    if (table.empty())
        p.SetNull();
    else
        p.SetValue(table);
}

// The open marker of the prepared database: no end, or the zero date-time.
const std::string kOpen = "(ende IS NULL OR ende = '1899-12-30 00:00:00')";
const std::string kOpenAndBegunBefore = kOpen + " AND beginn < CAST(:ende AS timestamp)";
const std::string kOpenAndBegunBy = kOpen + " AND beginn <= CAST(:ende AS timestamp)";
// Set by the closing of the versions to "ended:" and the object's identifier when it ended any.
const std::string kVersionsEnded = "current_setting('kelpora.closed_object', true) = 'ended:' || :gml_id";

// The table the versions of an object type are closed in.
std::string ClosingTable(const TfrmKelpora& form, const std::string& oa) {
    const std::string t =
        form.oNachFolien ? "og_" + (form.obOAGruppen ? form.obOAGruppen->Value(oa) : std::string()) : oa;
    // The object type of a delete is free text of the file: only a plain identifier becomes a table name.
    return SqlIdentifier(t);
}

// Only versions still open and begun before the end close: a version closed by an earlier replace keeps
// its end, and a new version that is already stored (the same update imported again) stays current. The
// integrated table goes by its schema-qualified name in a statement of its own text, so that its plan is
// kept; the staged versions are ended by the database function, which refuses any table that is no
// object table of the staging schema, and counts what both ended. A group table holds the objects of
// several types: there only versions of the type the operation names close, and the function refuses the
// closing when the object is stored as another type of the group (passed for the integrated table).
void SetUpCloseVersions(TZQuery& q, const TClosing& c, const TClosingPlan& plan) {
    const std::string ofType = plan.matchesType ? " AND lower(oa) = lower(:oa)" : "";
    const std::string typeArguments = !plan.matchesType ? ""
                                      : plan.integrated.empty()
                                          ? ", :oa, NULL"
                                          : ", :oa, (SELECT min(oa) FROM " + plan.integrated +
                                                " WHERE gml_id=:gml_id AND " + kOpenAndBegunBefore +
                                                " AND lower(oa) <> lower(:oa))";
    q.SQL().Clear();
    if (plan.integrated.empty()) {
        q.SQL().Add(
            "SELECT kelpora_close_versions(CAST(:staging AS regclass), :gml_id, CAST(:ende AS timestamp), "
            "0" +
            typeArguments + ")");
    } else {
        q.SQL().Add("WITH ended AS (UPDATE " + plan.integrated +
                    " SET ende=CAST(:ende AS timestamp) WHERE gml_id=:gml_id AND " + kOpenAndBegunBefore +
                    ofType +
                    " RETURNING 1) SELECT kelpora_close_versions(CAST(:staging AS regclass), :gml_id, "
                    "CAST(:ende AS timestamp), (SELECT count(*) FROM ended)" +
                    typeArguments + ")");
    }
    BindTable(q, "staging", plan.staging);
    BindText(q, "gml_id", c.id);
    BindText(q, "ende", c.endText);
    if (plan.matchesType)
        BindText(q, "oa", c.oa);
}

// A relation addresses an object, not a version: a replace closes only the relations of the versions it
// ends (its new version brings its own, which begin when the old ones end), a delete also those that
// point to the object; and only when the statement before ended a version of the object, so that an
// update imported again, or the delete of an object that is gone already, ends no relation brought since.
void SetUpCloseRelations(TZQuery& q, const TClosing& c) {
    q.SQL().Clear();
    q.SQL().Add(c.isReplace
                    ? "UPDATE public.id_refs SET ende=CAST(:ende AS timestamp) WHERE " + kVersionsEnded +
                          " AND gml_id=:gml_id AND " + kOpenAndBegunBefore
                    : "UPDATE public.id_refs SET ende=CAST(:ende AS timestamp) WHERE " + kVersionsEnded +
                          " AND (gml_id=:gml_id OR id_ref=:gml_id) AND " + kOpenAndBegunBy);
    BindText(q, "ende", c.endText);
    BindText(q, "gml_id", c.id);
}

// The same for the relations the file staged.
void SetUpCloseStagedRelations(TZQuery& q, const TClosing& c) {
    q.SQL().Clear();
    q.SQL().Add("SELECT kelpora_close_staged_relations(:gml_id, CAST(:ende AS timestamp), CAST(:replace AS "
                "boolean))");
    BindText(q, "gml_id", c.id);
    BindText(q, "ende", c.endText);
    BindText(q, "replace", c.isReplace ? "true" : "false");
}

// The relation statements of a closing, one after the other on `q`.
template <typename TRun>
void ForEachRelationStatement(TZQuery& q, const TClosing& c, const TClosingPlan& plan, TRun&& run) {
    SetUpCloseRelations(q, c);
    run();
    if (plan.stagedRelations) {
        SetUpCloseStagedRelations(q, c);
        run();
    }
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
// it. Only object tables of public and of the staging schema are closed in: any other name (a
// configuration table, the relation table, the run log, a catalogue table, a type never imported) is
// refused, and nothing is closed for it, relations included.
TClosingPlan TfrmKelpora::PlanClosing(const TClosing& c) {
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
    const std::string groupOrType = oNachFolien ? table : c.oa;
    const bool staged = obTables && std::any_of(obTables->Lines().begin(), obTables->Lines().end(),
                                                [&groupOrType](const std::string& t) {
                                                    return SameTextAscii(t, groupOrType);
                                                });
    if (standing.publicOther || (!standing.publicObjectTable && !staged))
        throw EDatabaseError("Keine Objekttabelle: " + table);
    if (standing.publicObjectTable)
        plan.integrated = "public.\"" + table + "\"";
    plan.matchesType = oNachFolien;
    const bool ownStaged = stagedObjects.MayHold(c.id);
    if (staged && ownStaged) {
        if (!standing.stagingIndexed) {
            EnsureClosingIndex("alkistemp." + table);
            standing.stagingIndexed = true;
        }
        plan.staging = "alkistemp." + table;
    }
    plan.relations = c.referenzen && !plan.ClosesNothing();
    // A relation is staged with its holder's version; a delete also ends those pointing to it.
    if (plan.relations && oTableExistsIdRefs &&
        (ownStaged || (!c.isReplace && stagedTargets.MayHold(c.id)))) {
        if (!stagedRelationsIndexed) {
            EnsureClosingIndex("alkistemp.id_refs");
            stagedRelationsIndexed = true;
        }
        plan.stagedRelations = true;
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

TClosing TfrmKelpora::ClosingOf(const TAXObject& r) {
    return TClosing{r.objektart(), r.identifikator, r.wfsType == twfsReplace, EndText(r),
                    WriteSettings().referenzen};
}

bool TfrmKelpora::DeleteFromDB(TAXObject* obAXObject) {
    if (!obAXObject)
        return false;
    const TClosing closing = ClosingOf(*obAXObject);
    // With features in flight the closing travels with them: it waits for nobody, and the features
    // after it find the versions closed, as one statement after the other would leave them.
    if (!oOneStatementAtATime && iPipelineDepth > 0 && SendClosingAtOnce(closing)) {
        ProcessMessagesNowAndThen();
        return true;
    }
    return CloseStoredVersions(closing);
}

namespace {

const char* const kVersionsFailure = "Fehler beim Löschen des Objektes ";
const char* const kRelationsFailure = "Fehler beim Löschen der Referenzen des Objektes ";

// Per-object form: no time of day, no tab.
void ReportClosingFailure(TfrmKelpora& form, const std::string& prefix, const TClosing& c,
                          const std::string& error) {
    const std::string M = prefix + c.oa + ": " + c.id;
    form.ReportFailure(M, M + " - " + error, error, false);
}

} // namespace

void TfrmKelpora::ReportClosingFailure(const TClosing& c, bool ofRelations, const std::string& error) {
    ::ReportClosingFailure(*this, ofRelations ? kRelationsFailure : kVersionsFailure, c, error);
}

void TfrmKelpora::CloseReplacedVersions(const TClosing& c, const TClosingPlan& plan) {
    if (plan.ClosesNothing())
        return;
    TZQuery& q = SharedStatement(cmd);
    SetUpCloseVersions(q, c, plan);
    q.ExecSQL();
    if (plan.relations)
        ForEachRelationStatement(q, c, plan, [&q] { q.ExecSQL(); });
}

bool TfrmKelpora::PlanClosingOrReport(const TClosing& c, TClosingPlan& plan) {
    try {
        plan = PlanClosing(c);
        return true;
    } catch (const std::exception& e) {
        // No table that holds versions: nothing is closed, not even relations.
        ReportClosingFailure(c, false, e.what());
        return false;
    }
}

bool TfrmKelpora::CloseStoredVersions(const TClosing& c) {
    TClosingPlan plan;
    if (!PlanClosingOrReport(c, plan)) {
        ProcessMessagesNowAndThen();
        return false;
    }
    return CloseStoredVersions(c, plan);
}

bool TfrmKelpora::CloseStoredVersions(const TClosing& c, const TClosingPlan& plan) {
    bool result = plan.ClosesNothing(); // nothing of the object can be stored: nothing to do
    bool versionsClosed = false;
    if (!plan.ClosesNothing()) {
        try {
            TZQuery& q = SharedStatement(cmd);
            SetUpCloseVersions(q, c, plan);
            q.ExecSQL();
            versionsClosed = true;
            result = true;
        } catch (const std::exception& e) {
            ReportClosingFailure(c, false, e.what());
        }
    }
    // The relations follow the versions the statement before ended: after its failure there are none.
    if (plan.relations && versionsClosed) {
        try {
            TZQuery& q = SharedStatement(cmd);
            ForEachRelationStatement(q, c, plan, [&q] { q.ExecSQL(); });
        } catch (const std::exception& e) {
            ReportClosingFailure(c, true, e.what());
        }
    }
    ProcessMessagesNowAndThen();
    return result;
}

void AddClosingCalls(TZConnection* connection, const TClosing& c, const TClosingPlan& plan,
                     std::vector<TPreparedCall>& batch) {
    if (plan.ClosesNothing())
        return;
    TZQuery q(connection);
    SetUpCloseVersions(q, c, plan);
    batch.push_back(TakePreparedCall(q));
    if (plan.relations)
        ForEachRelationStatement(q, c, plan, [&q, &batch] { batch.push_back(TakePreparedCall(q)); });
}

bool TfrmKelpora::SendClosingAtOnce(const TClosing& c) {
    TFeatureWork w;
    w.closesOnly = true;
    w.closing = c;
    w.oa = c.oa;
    w.id = c.id;
    try {
        w.closingPlan = PlanClosing(c);
        AddClosingCalls(conn.get(), c, w.closingPlan, w.batch);
    } catch (const std::exception&) {
        return false; // the one-at-a-time way meets the same error and reports it
    }
    if (w.batch.empty())
        return true; // nothing to close
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
