// The statements that the writer's database operations leave in the shared statement, word for word:
// other tools of the target database read the same catalogue and tables, so the texts are fixed.
#include <functional>

#include "WriterFixture.h"
#include "model/DateTime.h"

namespace {

struct TTextCase {
    const char* name;
    std::function<void(TfrmKelpora&, TTestDatabase&)> run;
    std::vector<std::string> lines;
};

std::unique_ptr<TAXObject> Replace(const std::string& type) {
    auto r = std::make_unique<TAXObject>();
    r->SetObjektart(type);
    r->identifikator = "DEBWL0010000001a";
    r->wfsType = twfsReplace;
    r->dtBegin = EncodeDate(2019, 3, 14);
    return r;
}

const std::vector<TTextCase>& Cases() {
    static const std::vector<TTextCase> cases = {
        {"catalogue count of a table",
         [](TfrmKelpora& f, TTestDatabase&) { f.PgTableExists("AlkisTemp", "AX_Gebaeude"); },
         {"SELECT COUNT(*) FROM pg_catalog.pg_tables WHERE schemaname='alkistemp' and tablename = "
          "'ax_gebaeude'"}},
        {"closing the object",
         [](TfrmKelpora& f, TTestDatabase&) {
             f.oReferenzen = false;
             f.DeleteFromDB(Replace("AX_Gebaeude").get());
         },
         {"WITH ended AS (UPDATE public.\"ax_gebaeude\" SET ende=CAST(:ende AS timestamp) WHERE "
          "gml_id=:gml_id AND "
          "(ende IS NULL OR ende = '1899-12-30 00:00:00') AND beginn < CAST(:ende AS timestamp) RETURNING 1) "
          "SELECT kelpora_close_versions(CAST(:staging AS regclass), :gml_id, CAST(:ende AS timestamp), "
          "(SELECT "
          "count(*) FROM ended))"}},
        {"closing its relations",
         [](TfrmKelpora& f, TTestDatabase&) { f.DeleteFromDB(Replace("AX_Gebaeude").get()); },
         {"UPDATE public.id_refs SET ende=CAST(:ende AS timestamp) WHERE "
          "current_setting('kelpora.closed_object', "
          "true) = 'ended:' || :gml_id AND gml_id=:gml_id AND (ende IS NULL OR ende = '1899-12-30 00:00:00') "
          "AND beginn "
          "< "
          "CAST(:ende AS timestamp)"}},
        {"invalids present: counted only",
         [](TfrmKelpora& f, TTestDatabase& db) {
             db.Exec("CREATE TABLE invalids(gml_id varchar, geo geometry)");
             f.EnsureInvalidsTable();
         },
         {"SELECT COUNT(*) FROM pg_catalog.pg_tables WHERE tablename = 'invalids'"}},
        {"invalids missing: created",
         [](TfrmKelpora& f, TTestDatabase&) { f.EnsureInvalidsTable(); },
         {"CREATE TABLE invalids( gml_id character varying, geo geometry)"}},
        {"validity question",
         [](TfrmKelpora& f, TTestDatabase&) {
             f.EnsureInvalidsTable();
             f.CheckGeometry("ID", "POINT(1 2)");
         },
         {"SELECT ST_IsValid(ST_GeomFromText(:wkt))"}},
        {"invalid geometry kept",
         [](TfrmKelpora& f, TTestDatabase&) {
             f.EnsureInvalidsTable();
             f.CheckGeometry("ID", "POLYGON((0 0,10 10,10 0,0 10,0 0))");
         },
         {"INSERT INTO invalids (gml_id, geo) VALUES(:gml_id, :geo)"}},
        {"run log missing: created",
         [](TfrmKelpora& f, TTestDatabase& db) {
             db.Exec("DROP TABLE public.logs");
             f.InitLogTable();
         },
         {"CREATE TABLE public.logs( lfd_nr_umsetz integer, zeitpunkt timestamp without time zone, meldetyp "
          "integer, beschreibung text)"}},
        {"run log present: highest number",
         [](TfrmKelpora& f, TTestDatabase&) { f.InitLogTable(); },
         {"SELECT MAX(lfd_nr_umsetz) FROM logs"}},
        {"attribute columns per type",
         [](TfrmKelpora& f, TTestDatabase&) { f.GetAttributList("AX_Gebaeude", ""); },
         {"SELECT * FROM parse WHERE oa=:oa"}},
        {"attribute columns per group",
         [](TfrmKelpora& f, TTestDatabase&) {
             f.oNachFolien = true;
             f.GetAttributList("og_31", "31");
         },
         {"select distinct attrart, attrartkennung, attrtyp from parse where substring(cast(oakennung as "
          "varchar) from 1 for 2) =:oa"}},
        {"object-type groups",
         [](TfrmKelpora& f, TTestDatabase&) { f.ReadOAGruppen(); },
         {"select distinct oa, substring(cast (oakennung as varchar) from 1 for 2) as og from parse order by "
          "oa"}},
        {"model types",
         [](TfrmKelpora& f, TTestDatabase&) { f.ReadModellarten(); },
         {"select modellart, modellidx from modellarten"}},
        {"relation types",
         [](TfrmKelpora& f, TTestDatabase&) { f.ReadRelationsTypen(); },
         {"select typ, typbez from parserelations"}},
        {"reference systems",
         [](TfrmKelpora& f, TTestDatabase&) { f.ReadCRS(); },
         {"select crs, epsg from crs"}},
    };
    return cases;
}

class StatementTexts : public WriterTest {};

} // namespace

TEST_F(StatementTexts, EachOperationLeavesItsOwnText) {
    db.Exec("CREATE TABLE public.ax_gebaeude () INHERITS (public.ax_objects)");
    for (const TTextCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        db.Exec(
            "DROP TABLE IF EXISTS invalids; CREATE TABLE IF NOT EXISTS public.logs( lfd_nr_umsetz integer, "
            "zeitpunkt timestamp without time zone, meldetyp integer, beschreibung text)");
        form->oNachFolien = false;
        form->oReferenzen = true;
        form->obParseTable.reset();
        c.run(*form, db);
        EXPECT_EQ(form->cmd->SQL().Lines(), c.lines);
        EXPECT_TRUE(NewLogLines().empty());
    }
}
