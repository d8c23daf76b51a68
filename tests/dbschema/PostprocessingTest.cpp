#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "SchemaFixture.h"
#include "TestDatabase.h"

namespace {
std::string Row(const std::string& table, const std::string& gmlId, const std::string& beginn,
                const std::string& ende, const std::string& geo) {
    return "INSERT INTO public." + table + " (gml_id, tablename, beginn, ende, geo) VALUES ('" + gmlId +
           "', '" + table + "', '" + beginn + "', " + ende + ", " + geo + ");";
}

const char* const kGkPoint = "ST_GeometryFromText('POINT(2577000 5622000)', 31466)";
const char* const kUtmSquare = "ST_GeometryFromText('POLYGON((363600 5614700,363610 5614700,363610 5614710,"
                               "363600 5614710,363600 5614700))', 25832)";
} // namespace

TEST(Umsetzung, CountsVersionsAndOpenVersionsPerObjectTable) {
    TTestDatabase db;
    CreateObjectTables(db, "AX_Gebaeude");
    db.Exec(ObjectTableSql(db, "41", true).publicTwin);
    db.Exec(Row("ax_gebaeude", "A", "2024-10-15 07:55:13", "'1899-12-30'", "NULL") +
            Row("ax_gebaeude", "B", "2024-10-15 07:55:13", "NULL", "NULL") +
            Row("ax_gebaeude", "C", "2020-01-01", "'2024-10-16 08:00:00'", "NULL"));
    db.Exec("INSERT INTO og_41 (gml_id, beginn, oa) VALUES ('D', '2024-01-01', 'AX_Wohnbauflaeche'), "
            "('E', '2024-01-01', 'AX_Friedhof')");

    EXPECT_EQ(db.Scalar("SELECT fkt_umsetzung()"), "2");
    EXPECT_EQ(
        db.Scalar(
            "SELECT string_agg(tablename || ':' || objektart || ':' || anzahl || ':' || aktuell || ':' || "
            "letzte_aenderung, ' ' ORDER BY tablename) FROM umsetzung"),
        "ax_gebaeude:AX_Gebaeude:3:2:2024-10-16 08:00:00 og_41:AX_Friedhof,AX_Wohnbauflaeche:2:2:2024-01-01 "
        "00:00:00");

    db.Exec("DROP TABLE og_41; " + Row("ax_gebaeude", "D", "2024-10-17", "'1899-12-30'", "NULL"));
    EXPECT_EQ(db.Scalar("SELECT fkt_umsetzung()"), "1");
    EXPECT_EQ(
        db.Scalar("SELECT string_agg(tablename || ':' || anzahl || ':' || aktuell, ' ') FROM umsetzung"),
        "ax_gebaeude:4:3");
}

TEST(CreateIndizes, CreatesTheIndexesOnceForEveryObjectTable) {
    TTestDatabase db;
    CreateObjectTables(db, "AX_Gebaeude");
    const std::string longName(56, 'x');
    db.Exec("CREATE TABLE public.ax_" + longName +
            "a () INHERITS (public.ax_objects); CREATE TABLE public.ax_" + longName +
            "b () INHERITS (public.ax_objects)");

    // Three object tables, two indexes each; the relation indexes come with the prepared database.
    EXPECT_EQ(db.Scalar("SELECT fkt_create_indizes()"), "6");
    EXPECT_EQ(db.Scalar("SELECT fkt_create_indizes()"), "0");
    EXPECT_EQ(
        db.Scalar("SELECT string_agg(indexdef, ' | ' ORDER BY indexname) FROM pg_indexes WHERE tablename = "
                  "'ax_gebaeude' AND indexname <> 'ax_gebaeude_pkey'"),
        "CREATE INDEX ax_gebaeude_geo_gist ON public.ax_gebaeude USING gist (geo) | CREATE INDEX "
        "ax_gebaeude_gml_id_idx ON public.ax_gebaeude USING btree (gml_id)");
    EXPECT_EQ(
        db.Scalar("SELECT string_agg(indexdef, ' | ' ORDER BY indexname) FROM pg_indexes WHERE tablename = "
                  "'id_refs'"),
        "CREATE INDEX id_refs_gml_id_idx ON public.id_refs USING btree (gml_id) | CREATE INDEX "
        "id_refs_id_ref_idx ON public.id_refs USING btree (id_ref) | CREATE INDEX id_refs_relation_idx ON "
        "public.id_refs USING btree (gml_id, id_ref, typ, beginn)");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM pg_indexes WHERE tablename LIKE 'ax_xxxx%'"), "4");
    // Staging tables are emptied after every file and need no indexes.
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM pg_indexes WHERE schemaname = 'alkistemp'"), "0");
}

TEST(AddGeometryColumn, GeometryColumnsShowsCodeAndTypeWhereTheRowsAgree) {
    TTestDatabase db;
    struct Case {
        const char* type;
        std::vector<std::string> geometries;
        const char* expected; // dimension:srid:type in geometry_columns
    };
    const std::vector<Case> cases = {
        {"AX_Gebaeude", {kUtmSquare, kUtmSquare}, "2:25832:POLYGON"},
        {"AX_Flurstueck",
         {kUtmSquare, "ST_GeometryFromText('MULTIPOLYGON(((0 0,1 0,1 1,0 0)))', 25832)"},
         "2:25832:GEOMETRY"},
        {"AX_Aufnahmepunkt", {kGkPoint}, "2:31466:POINT"},
        {"AX_Turm", {}, "2:0:GEOMETRY"},
    };
    for (const Case& c : cases) {
        CreateObjectTables(db, c.type);
        int n = 0;
        for (const std::string& geo : c.geometries)
            db.Exec(Row(Lower(c.type), "G" + std::to_string(n++), "2024-10-15", "NULL", geo));
    }
    EXPECT_EQ(db.Scalar("SELECT fkt_add_geometry_column()"), "3");
    EXPECT_EQ(db.Scalar("SELECT fkt_add_geometry_column()"), "3");
    for (const Case& c : cases)
        EXPECT_EQ(
            db.Scalar("SELECT coord_dimension || ':' || srid || ':' || type FROM geometry_columns WHERE "
                      "f_table_schema = 'public' AND f_table_name = '" +
                      Lower(c.type) + "'"),
            c.expected)
            << c.type;
}

TEST(TransformPrj, TransformsEveryGeometryOfAnotherCode) {
    TTestDatabase db;
    CreateObjectTables(db, "AX_Gebaeude");
    CreateObjectTables(db, "AX_Aufnahmepunkt");
    db.Exec(Row("ax_gebaeude", "UTM", "2024-10-15", "NULL", kUtmSquare) +
            Row("ax_aufnahmepunkt", "GK2", "2024-10-15", "NULL", kGkPoint) +
            Row("ax_aufnahmepunkt", "NOCODE", "2024-10-15", "NULL", "ST_GeomFromText('POINT(1 2)')") +
            Row("ax_aufnahmepunkt", "NOGEO", "2024-10-15", "NULL", "NULL"));
    db.Exec("SELECT fkt_add_geometry_column()");
    const std::string expected =
        db.Scalar(std::string("SELECT ST_AsText(ST_Transform(") + kGkPoint + ", 25832))");
    const std::string square = db.Scalar("SELECT ST_AsText(geo) FROM ax_gebaeude");

    // Sent as the post-processing sends it: parameters of unspecified type.
    EXPECT_EQ(ExecPreparedError(db, "SELECT * FROM fkt_transformprj($1, $2)", {"25832", ""}), "");
    EXPECT_EQ(
        db.Scalar("SELECT ST_SRID(geo) || ' ' || ST_AsText(geo) FROM ax_aufnahmepunkt WHERE gml_id = 'GK2'"),
        "25832 " + expected);
    EXPECT_EQ(db.Scalar("SELECT ST_AsText(geo) FROM ax_gebaeude"), square);
    EXPECT_EQ(db.Scalar("SELECT ST_SRID(geo) FROM ax_aufnahmepunkt WHERE gml_id = 'NOCODE'"), "0");
    EXPECT_EQ(db.Scalar("SELECT fkt_transformprj(25832, '')"), "(0,0,,)");

    // Into a zone-prefixed system: same projection, easting + 32 000 000.
    EXPECT_EQ(db.Scalar("SELECT transformed FROM fkt_transformprj(35832, NULL)"), "2");
    EXPECT_EQ(
        db.Scalar("SELECT ST_AsText(ST_SnapToGrid(geo, 0.001)) FROM ax_gebaeude"),
        "POLYGON((32363600 5614700,32363610 5614700,32363610 5614710,32363600 5614710,32363600 5614700))");
    EXPECT_EQ(
        db.Scalar("SELECT srid FROM geometry_columns WHERE f_table_schema = 'public' AND f_table_name = "
                  "'ax_gebaeude'"),
        "35832");
}

TEST(TransformPrj, UsesTheNtv2GridForGaussKruegerZone4) {
    TTestDatabase db;
    CreateObjectTables(db, "AX_Grenzpunkt");
    const std::string point = "ST_GeometryFromText('POINT(4590000 5820000)', 31468)";
    db.Exec(Row("ax_grenzpunkt", "GK4", "2024-10-15", "NULL", point));
    const std::string grid = "/usr/share/proj/BETA2007.gsb";

    // A grid that cannot be read is an error, not a silent fallback; nothing is changed.
    EXPECT_EQ(ExecError(db, "SELECT fkt_transformprj(25833, '/nonexistent/BETA2007.gsb')")
                  .rfind("NTv2-Datei nicht verwendbar: /nonexistent/BETA2007.gsb", 0),
              0u);
    EXPECT_NE(ExecError(db, "SELECT fkt_transformprj(25833, '/path with blanks/BETA2007.gsb')"), "");
    EXPECT_NE(ExecError(db, "SELECT fkt_transformprj(999999, '')"), "");
    EXPECT_EQ(db.Scalar("SELECT ST_SRID(geo) FROM ax_grenzpunkt"), "31468");

    const std::string throughGrid = db.Scalar(
        "SELECT ST_AsText(ST_SnapToGrid(ST_Transform(" + point +
        ", '+proj=tmerc +lat_0=0 +lon_0=12 +k=1 +x_0=4500000 +y_0=0 +ellps=bessel +nadgrids=" + grid +
        " +units=m +no_defs', 25833), 0.001))");
    EXPECT_EQ(db.Scalar("SELECT transformed || '/' || failed FROM fkt_transformprj(25833, '" + grid + "')"),
              "1/0");
    EXPECT_EQ(
        db.Scalar("SELECT ST_SRID(geo) || ' ' || ST_AsText(ST_SnapToGrid(geo, 0.001)) FROM ax_grenzpunkt"),
        "25833 " + throughGrid);
}

// A geometry the target cannot take stays as it was and holds back no other: a real extract stores points
// of a zone-prefixed system the crs table lacks as 25832 with an easting of 32 363 620, which lie outside
// the domain of the projection into 4326. A table whose geometries all transform takes one UPDATE; only a
// table with one that cannot goes row by row (a statement that fails changes nothing and is not counted).
TEST(TransformPrj, GeometriesTheTargetCannotTakeStayAndAreNamed) {
    const std::string utm = "ST_GeometryFromText('POINT(363620 5614700)', 25832)";
    const std::string prefixed = "ST_GeometryFromText('POINT(32363620 5614700)', 25832)";
    struct Case {
        const char* what;
        std::vector<std::string> pointIds; // "P..." a zone-prefixed point, others a sound one
        const char* answer;                // transformed|failed|failed_ids|failure
        const char* updates;               // UPDATE statements that changed ax_aufnahmepunkt
        const char* registeredSrid;        // of ax_aufnahmepunkt in geometry_columns afterwards
    };
    const std::vector<Case> cases = {
        {"all sound: one UPDATE per table, nothing failed", {"A1", "A2", "A3"}, "4|0||", "1", "4326"},
        {"one prefixed among sound ones",
         {"A1", "P1", "A2"},
         "3|1|ax_aufnahmepunkt P1|transform: Point outside of projection domain (2050)",
         "2",
         "0"},
        {"more prefixed than are named",
         {"P12", "A1", "P01", "P02", "P03", "P04", "P05", "P06", "P07", "P08", "P09", "P10", "P11"},
         "2|12|ax_aufnahmepunkt P01, ax_aufnahmepunkt P02, ax_aufnahmepunkt P03, ax_aufnahmepunkt P04, "
         "ax_aufnahmepunkt P05, ax_aufnahmepunkt P06, ax_aufnahmepunkt P07, ax_aufnahmepunkt P08, "
         "ax_aufnahmepunkt P09, ax_aufnahmepunkt P10|transform: Point outside of projection domain (2050)",
         "1",
         "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TTestDatabase db;
        CreateObjectTables(db, "AX_Aufnahmepunkt");
        CreateObjectTables(db, "AX_Gebaeude");
        std::string rows = Row("ax_gebaeude", "G1", "2024-10-15", "NULL", kUtmSquare);
        for (const std::string& id : c.pointIds)
            rows += Row("ax_aufnahmepunkt", id, "2024-10-15", "NULL", id[0] == 'P' ? prefixed : utm);
        db.Exec(rows);
        // Counts the UPDATE statements that change the table; a statement that fails counts none.
        db.Exec("CREATE TABLE updates (n int); CREATE FUNCTION count_update() RETURNS trigger LANGUAGE "
                "plpgsql AS $$ BEGIN INSERT INTO updates VALUES (1); RETURN NULL; END $$; CREATE TRIGGER "
                "count_update AFTER UPDATE ON public.ax_aufnahmepunkt FOR EACH STATEMENT EXECUTE FUNCTION "
                "count_update()");
        db.Exec("SELECT fkt_add_geometry_column()");
        const std::string expected = db.Scalar("SELECT ST_AsText(ST_Transform(" + utm + ", 4326))");

        EXPECT_EQ(db.Scalar("SELECT concat_ws('|', transformed, failed, coalesce(failed_ids, ''), "
                            "coalesce(failure, '')) FROM fkt_transformprj(4326, '')"),
                  c.answer);
        EXPECT_EQ(db.Scalar("SELECT count(*) FROM updates"), c.updates);
        for (const std::string& id : c.pointIds)
            EXPECT_EQ(db.Scalar("SELECT ST_SRID(geo) || ' ' || ST_AsText(geo) FROM ax_aufnahmepunkt WHERE "
                                "gml_id = '" +
                                id + "'"),
                      id[0] == 'P' ? "25832 POINT(32363620 5614700)" : "4326 " + expected)
                << id;
        EXPECT_EQ(db.Scalar("SELECT ST_SRID(geo) FROM ax_gebaeude"), "4326");
        // The table is registered again, with the code of its rows where they agree.
        EXPECT_EQ(db.Scalar("SELECT srid FROM geometry_columns WHERE f_table_schema = 'public' AND "
                            "f_table_name = 'ax_aufnahmepunkt'"),
                  c.registeredSrid);
    }
}
