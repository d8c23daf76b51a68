#include <gtest/gtest.h>
#include <string>

#include "SchemaFixture.h"
#include "TestDatabase.h"

namespace {
const char* const kSquare = "ST_GeometryFromText('POLYGON((363600 5614700,363610 5614700,363610 5614710,"
                            "363600 5614710,363600 5614700))', 25832)";

// One staged building row as the writer inserts it (date-time text, open end as 1899-12-30).
std::string StageBuilding(const std::string& gmlId, const std::string& beginn, const std::string& funktion) {
    return "INSERT INTO alkistemp.ax_gebaeude (gml_id, tablename, beginn, ende, modellart, geo, "
           "gebaeudefunktion) "
           "VALUES ('" +
           gmlId + "', 'ax_gebaeude', '" + beginn + "', '1899-12-30', '10000000000000000000', " + kSquare +
           ", '" + funktion + "');";
}

} // namespace

TEST(Temp2Alkis, IntegratesStagedVersionsOnceAndOnlyOnce) {
    TTestDatabase db;
    CreateObjectTables(db, "AX_Gebaeude");
    db.Exec(StageBuilding("DENW36AL10000Egu", "2024-10-15 07:55:13", "2500") +
            StageBuilding("DENW36ALTEST0001", "2024-10-16 08:00:00", "1000"));

    EXPECT_EQ(db.Scalar("SELECT temp2alkis()"), "2");
    EXPECT_EQ(
        db.Scalar("SELECT string_agg(gml_id || ':' || gebaeudefunktion || ':' || ende, ' ' ORDER BY gml_id) "
                  "FROM public.ax_gebaeude"),
        "DENW36AL10000Egu:2500:1899-12-30 00:00:00 DENW36ALTEST0001:1000:1899-12-30 00:00:00");
    EXPECT_EQ(db.Scalar("SELECT ST_Area(geo) FROM ax_gebaeude WHERE gml_id = 'DENW36AL10000Egu'"), "100");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM alkistemp.ax_objects"), "0");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.ax_objects"), "2");

    EXPECT_EQ(db.Scalar("SELECT temp2alkis()"), "0");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.ax_gebaeude"), "2");
}

TEST(Temp2Alkis, KeepsAVersionThatIsAlreadyIntegratedOrStagedTwice) {
    TTestDatabase db;
    CreateObjectTables(db, "AX_Gebaeude");
    db.Exec(StageBuilding("DENW36AL10000Egu", "2024-10-15 07:55:13", "2500"));
    db.Exec("SELECT temp2alkis()");
    // The same file again, a new version of the building and a feature written twice in one file.
    db.Exec(StageBuilding("DENW36AL10000Egu", "2024-10-15 07:55:13", "9999") +
            StageBuilding("DENW36AL10000Egu", "2024-10-16 08:00:00", "2000") +
            StageBuilding("DENW36ALTEST0001", "2024-10-16 08:00:00", "1000") +
            StageBuilding("DENW36ALTEST0001", "2024-10-16 08:00:00", "1001"));

    EXPECT_EQ(db.Scalar("SELECT temp2alkis()"), "2");
    EXPECT_EQ(db.Scalar("SELECT string_agg(gml_id || '@' || beginn || ':' || gebaeudefunktion, ' ' "
                        "ORDER BY gml_id, beginn) FROM ax_gebaeude"),
              "DENW36AL10000Egu@2024-10-15 07:55:13:2500 DENW36AL10000Egu@2024-10-16 08:00:00:2000 "
              "DENW36ALTEST0001@2024-10-16 08:00:00:1000");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM alkistemp.ax_gebaeude"), "0");
}

TEST(Temp2Alkis, CreatesAMissingTwinWithKeyAndInheritance) {
    TTestDatabase db;
    CreateObjectTables(db, "AX_Turm", false);
    db.Exec("INSERT INTO alkistemp.ax_turm (gml_id, tablename, beginn, ende, modellart, bauwerksfunktion, "
            "objekthoehe) "
            "VALUES ('DENW36ALVk00002s', 'ax_turm', '2024-10-15 07:55:13', '1899-12-30', '1', '1012', 32.5)");

    EXPECT_EQ(db.Scalar("SELECT temp2alkis()"), "1");
    EXPECT_EQ(db.Scalar("SELECT bauwerksfunktion || '/' || objekthoehe FROM public.ax_turm"), "1012/32.5");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.ax_objects"), "1");
    EXPECT_EQ(db.Scalar("SELECT pg_get_constraintdef(oid) FROM pg_constraint WHERE conname = 'ax_turm_pkey'"),
              "PRIMARY KEY (gml_id, beginn)");
    // Closing by the importer addresses the twin without schema.
    db.Exec("UPDATE ax_turm SET ende='2024-10-16 08:00:00' WHERE gml_id='DENW36ALVk00002s'");
    EXPECT_EQ(db.Scalar("SELECT ende FROM public.ax_turm"), "2024-10-16 08:00:00");
}

TEST(Temp2Alkis, MatchesColumnsByNameWhenTheTwinWasMadeUnderAnotherConfiguration) {
    TTestDatabase db;
    CreateObjectTables(db, "AX_Wald", false);
    db.Exec("CREATE TABLE public.ax_wald (name character varying, vegetationsmerkmal character varying, "
            "extra integer, "
            "CONSTRAINT ax_wald_pkey PRIMARY KEY (gml_id, beginn)) INHERITS (public.ax_objects)");
    db.Exec("INSERT INTO alkistemp.ax_wald (gml_id, beginn, ende, vegetationsmerkmal, nutzung, name) VALUES "
            "('DENW36AL0000wald', '2024-10-15 07:55:13', '1899-12-30', '1100', '2000', 'Kottenforst')");

    EXPECT_EQ(db.Scalar("SELECT temp2alkis()"), "1");
    // Matching columns by name; the twin's own extra column stays empty, the one it lacked is added.
    EXPECT_EQ(
        db.Scalar(
            "SELECT name || '/' || vegetationsmerkmal || '/' || coalesce(extra::text, 'null') || '/' || "
            "nutzung FROM public.ax_wald"),
        "Kottenforst/1100/null/2000");
}

TEST(Temp2Alkis, IntegratesTablesPerObjectTypeGroup) {
    TTestDatabase db;
    const TObjectTableSql sql = ObjectTableSql(db, "41", true);
    db.Exec(sql.staging);
    db.Exec("INSERT INTO alkistemp.og_41 (gml_id, tablename, beginn, ende, oa, artderbebauung) VALUES "
            "('DENW36AL2mD000Cg', 'og_41', '2024-10-15 07:55:13', '1899-12-30', 'AX_Wohnbauflaeche', '1000'),"
            "('DENW36AL2mD000Ch', 'og_41', '2024-10-15 07:55:13', '1899-12-30', 'AX_Friedhof', NULL)");

    EXPECT_EQ(db.Scalar("SELECT temp2alkis()"), "2");
    EXPECT_EQ(db.Scalar("SELECT string_agg(oa, ',' ORDER BY oa) FROM public.og_41"),
              "AX_Friedhof,AX_Wohnbauflaeche");
}

TEST(Temp2Alkis, MovesRelationsAndKeepsACurrentRelationOnce) {
    TTestDatabase db;
    EXPECT_EQ(db.Scalar("SELECT temp2alkis()"), "0"); // no staging relation table yet: nothing to do
    CreateStagingIdRefs(db);
    db.Exec("INSERT INTO public.id_refs (gml_id, id_ref, typ, beginn, ende) VALUES "
            "('DENW36AL10000Ehc', 'DENW36AL10000Lqn', 1, '2024-10-15', NULL),"
            "('DENW36AL10000Egu', 'DENW36AL10000K6p', 3, '2024-10-15', '2024-10-15 12:00:00')");
    db.Exec("INSERT INTO alkistemp.id_refs (gml_id, id_ref, typ, beginn) VALUES "
            "('DENW36AL10000Ehc', 'DENW36AL10000Lqn', 1, '2024-10-15'),"  // already current in public
            "('DENW36AL10000Ehc', 'DENW36AL10000H9b', 2, '2024-10-15'),"  // new
            "('DENW36AL10000Egu', 'DENW36AL10000K6p', 3, '2024-10-15')"); // closed already: a file again

    EXPECT_EQ(db.Scalar("SELECT temp2alkis()"), "1");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM alkistemp.id_refs"), "0");
    EXPECT_EQ(
        db.Scalar("SELECT string_agg(gml_id || '>' || id_ref || ':' || typ || ':' || coalesce(ende::text, "
                  "'open'), ' ' ORDER BY gml_id, typ, ende) FROM id_refs"),
        "DENW36AL10000Egu>DENW36AL10000K6p:3:2024-10-15 12:00:00 "
        "DENW36AL10000Ehc>DENW36AL10000Lqn:1:open DENW36AL10000Ehc>DENW36AL10000H9b:2:open");
    EXPECT_EQ(db.Scalar("SELECT temp2alkis()"), "0");
}

TEST(Temp2Alkis, IsOneTransaction) {
    TTestDatabase db;
    CreateObjectTables(db, "AX_Gebaeude");
    CreateObjectTables(db, "AX_Wald", false);
    db.Exec(
        "CREATE TABLE public.ax_wald (name integer, CONSTRAINT ax_wald_pkey PRIMARY KEY (gml_id, beginn)) "
        "INHERITS (public.ax_objects)");
    CreateStagingIdRefs(db);
    db.Exec(StageBuilding("DENW36AL10000Egu", "2024-10-15 07:55:13", "2500"));
    db.Exec("INSERT INTO alkistemp.id_refs (gml_id, id_ref, typ, beginn) VALUES ('a', 'b', 1, '2024-10-15')");
    db.Exec("INSERT INTO alkistemp.ax_wald (gml_id, beginn, name) VALUES ('DENW36AL0000wald', '2024-10-15', "
            "'Kottenforst')");

    EXPECT_NE(ExecError(db, "SELECT temp2alkis()"), "");
    EXPECT_EQ(
        db.Scalar("SELECT (SELECT count(*) FROM alkistemp.ax_objects) || '/' || (SELECT count(*) FROM "
                  "alkistemp.id_refs) || '/' || (SELECT count(*) FROM public.ax_objects) || '/' || (SELECT "
                  "count(*) FROM public.id_refs)"),
        "2/1/0/0");
}

TEST(Temp2Alkis, RegisteredGeometryColumnsDoNotBlockALaterImport) {
    TTestDatabase db;
    CreateObjectTables(db, "AX_Gebaeude");
    db.Exec(StageBuilding("DENW36AL10000Egu", "2024-10-15 07:55:13", "2500"));
    db.Exec("SELECT temp2alkis(); SELECT fkt_add_geometry_column();");
    ASSERT_EQ(
        db.Scalar("SELECT type FROM geometry_columns WHERE f_table_schema = 'public' AND f_table_name = "
                  "'ax_gebaeude'"),
        "POLYGON");
    db.Exec("INSERT INTO alkistemp.ax_gebaeude (gml_id, beginn, ende, geo) VALUES ('DENW36ALTEST0002', "
            "'2024-10-16', '1899-12-30', ST_GeometryFromText('MULTIPOLYGON(((0 0,1 0,1 1,0 0)))', 25832))");

    EXPECT_EQ(db.Scalar("SELECT temp2alkis()"), "1");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM ax_gebaeude"), "2");
}

// Staging tables left by an earlier importer under names that public holds for something else:
// integration leaves those relations alone and still integrates the rest.
TEST(Temp2Alkis, TouchesObjectTablesAlone) {
    TTestDatabase db;
    CreateObjectTables(db, "AX_Gebaeude");
    const std::string longName = "ax_" + std::string(60, 'k'); // its key name would be cut to its own
    db.Exec("CREATE VIEW public.ax_sicht AS SELECT 1 AS x");
    for (const std::string& name : {std::string("parse"), std::string("spatial_ref_sys"),
                                    std::string("ax_gebaeude_pkey"), std::string("ax_sicht"), longName})
        db.Exec("CREATE TABLE alkistemp." + name +
                " () INHERITS (alkistemp.ax_objects); INSERT INTO alkistemp." + name +
                " (gml_id, beginn) VALUES ('DENW36AL0000Hos1', '2024-10-15')");
    db.Exec(StageBuilding("DENW36AL10000Egu", "2024-10-15 07:55:13", "2500"));
    const std::string columns =
        "SELECT string_agg(table_name || '.' || column_name, ',' ORDER BY table_name, "
        "column_name) FROM information_schema.columns WHERE table_schema = 'public' AND "
        "table_name IN ('parse', 'spatial_ref_sys', 'ax_sicht')";
    const std::string before = db.Scalar(columns);

    EXPECT_EQ(db.Scalar("SELECT temp2alkis()"), "2");
    EXPECT_EQ(db.Scalar(columns), before);
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.ax_gebaeude"), "1");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM public." + longName), "1");
    EXPECT_EQ(
        db.Scalar("SELECT pg_get_constraintdef(c.oid) FROM pg_constraint c WHERE c.conrelid = 'public." +
                  longName + "'::regclass AND c.contype = 'p'"),
        "PRIMARY KEY (gml_id, beginn)");
    // What could not go anywhere stays staged for the user to look at.
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM alkistemp.ax_objects"), "4");
}

// Tables that are still empty (the first import of a type, the first relations of a database) take
// their rows before their keys and indexes; afterwards they hold the same rows and the same keys and
// indexes, under the same names, as when the rows go in one by one. A unique index beyond the version
// key keeps refusing rows silently, as it does for a table that holds rows already.
TEST(Temp2Alkis, EmptyTablesEndWithTheSameRowsKeysAndIndexes) {
    const std::string indexes = "SELECT string_agg(indexdef, ' | ' ORDER BY indexname) FROM pg_indexes WHERE "
                                "schemaname = 'public' AND tablename = ";
    const std::string buildings =
        "SELECT string_agg(gml_id || '@' || beginn || ':' || gebaeudefunktion, ' ' ORDER BY gml_id, beginn) "
        "FROM public.ax_gebaeude";
    struct TCase {
        const char* name;
        const char* extraIndexes; // on the empty twin before the import
        const char* expectedBuildings;
    };
    const TCase cases[] = {
        {"the key alone", "",
         "DENW36AL10000Egu@2024-10-15 07:55:13:2500 DENW36AL10000Egu@2024-10-16 08:00:00:2000 "
         "DENW36ALTEST0001@2024-10-16 08:00:00:1000"},
        {"the key and indexes of the user",
         "CREATE INDEX ax_gebaeude_geo_idx ON public.ax_gebaeude USING gist (geo);"
         "CREATE INDEX ax_gebaeude_funktion_idx ON public.ax_gebaeude (gebaeudefunktion) WHERE ende IS NULL;",
         "DENW36AL10000Egu@2024-10-15 07:55:13:2500 DENW36AL10000Egu@2024-10-16 08:00:00:2000 "
         "DENW36ALTEST0001@2024-10-16 08:00:00:1000"},
        {"a unique index beyond the key",
         "CREATE UNIQUE INDEX ax_gebaeude_funktion_key ON public.ax_gebaeude (gebaeudefunktion);",
         "DENW36AL10000Egu@2024-10-15 07:55:13:2500 DENW36AL10000Egu@2024-10-16 08:00:00:2000 "
         "DENW36ALTEST0001@2024-10-16 08:00:00:1000"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TTestDatabase db;
        CreateObjectTables(db, "AX_Gebaeude");
        CreateStagingIdRefs(db);
        if (*c.extraIndexes)
            db.Exec(c.extraIndexes);
        const std::string twinIndexes = db.Scalar(indexes + "'ax_gebaeude'");
        const std::string relationIndexes = db.Scalar(indexes + "'id_refs'");
        // A version staged twice keeps the first; with the unique index the last building shares its
        // function with the first and is refused.
        db.Exec(StageBuilding("DENW36AL10000Egu", "2024-10-15 07:55:13", "2500") +
                StageBuilding("DENW36AL10000Egu", "2024-10-16 08:00:00", "2000") +
                StageBuilding("DENW36AL10000Egu", "2024-10-16 08:00:00", "2001") +
                StageBuilding("DENW36ALTEST0001", "2024-10-16 08:00:00", "1000"));
        if (std::string(c.name) == "a unique index beyond the key")
            db.Exec(StageBuilding("DENW36ALTEST0002", "2024-10-16 08:00:00", "2500"));
        db.Exec("INSERT INTO alkistemp.id_refs (gml_id, id_ref, typ, beginn, ende) VALUES "
                "('DENW36AL10000Egu', 'DENW36AL10000K6p', 3, '2024-10-15', NULL),"
                "('DENW36AL10000Egu', 'DENW36AL10000K6p', 3, '2024-10-15', '2024-10-16 08:00:00'),"
                "('DENW36ALTEST0001', 'DENW36AL10000K6p', 3, '2024-10-16', NULL)");

        EXPECT_EQ(db.Scalar("SELECT temp2alkis()"), "5");
        EXPECT_EQ(db.Scalar(buildings), c.expectedBuildings);
        EXPECT_EQ(
            db.Scalar("SELECT string_agg(gml_id || '>' || id_ref || ':' || coalesce(ende::text, 'open'), "
                      "' ' ORDER BY gml_id) FROM public.id_refs"),
            "DENW36AL10000Egu>DENW36AL10000K6p:open DENW36ALTEST0001>DENW36AL10000K6p:open");
        EXPECT_EQ(db.Scalar(indexes + "'ax_gebaeude'"), twinIndexes);
        EXPECT_EQ(db.Scalar(indexes + "'id_refs'"), relationIndexes);
        EXPECT_EQ(db.Scalar("SELECT pg_get_constraintdef(oid) FROM pg_constraint WHERE conname = "
                            "'ax_gebaeude_pkey'"),
                  "PRIMARY KEY (gml_id, beginn)");
        // The key still keeps a version once when the same file comes again.
        db.Exec(StageBuilding("DENW36AL10000Egu", "2024-10-15 07:55:13", "9999"));
        EXPECT_EQ(db.Scalar("SELECT temp2alkis()"), "0");
    }
}
