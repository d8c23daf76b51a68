#include <gtest/gtest.h>
#include <string>

#include "SchemaFixture.h"
#include "TestDatabase.h"

TEST(Install, ProvidesTheTablesAndFunctionsTheImporterUses) {
    TTestDatabase db;
    for (const char* table : {"public.ax_objects", "alkistemp.ax_objects", "public.id_refs",
                              "public.statistics", "public.ax_li_processstep_punktort", "public.modellarten",
                              "public.crs", "public.parserelations", "public.parse"})
        EXPECT_EQ(db.Scalar(std::string("SELECT to_regclass('") + table + "') IS NOT NULL"), "t") << table;
    for (const char* function :
         {"temp2alkis()", "fkt_umsetzung()", "fkt_create_indizes()", "fkt_add_geometry_column()",
          "fkt_transformprj(integer, text)", "intohoehenfestpunkte()", "alkis_nachbearbeitung()",
          "alb_nachbearbeitung()"})
        EXPECT_EQ(db.Scalar(std::string("SELECT to_regprocedure('") + function + "') IS NOT NULL"), "t")
            << function;

    // The importer creates these itself; its creation paths would never run if they existed.
    for (const char* table : {"logs", "invalids", "alkistemp.id_refs"})
        EXPECT_EQ(db.Scalar(std::string("SELECT to_regclass('") + table + "') IS NULL"), "t") << table;

    // Unqualified names mean the integrated data, never the staging schema.
    EXPECT_EQ(db.Scalar("SELECT current_schemas(false)::text"), "{public}");
}

TEST(Install, ObjectRowsTakeTheImportersDateTimeTextAndCountInTheParent) {
    TTestDatabase db;
    CreateObjectTables(db, "AX_Gebaeude");
    db.Exec(
        "INSERT INTO alkistemp.ax_gebaeude (gml_id, tablename, beginn, ende, modellart, geo) VALUES "
        "('DENW36AL10000Egu', 'ax_gebaeude', '2024-10-15 07:55:13', '1899-12-30', '10000000000000000000', "
        " ST_GeometryFromText('POINT(363609.477 5614790.107)', 25832)),"
        "('DENW36ALTEST0001', 'ax_gebaeude', '2024-10-16', '1899-12-30', '10000000000000000000', NULL)");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM alkistemp.ax_objects"), "2");
    EXPECT_EQ(db.Scalar("SELECT beginn FROM alkistemp.ax_gebaeude WHERE gml_id = 'DENW36AL10000Egu'"),
              "2024-10-15 07:55:13");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM alkistemp.ax_objects WHERE kelpora_is_current(ende)"), "2");
    EXPECT_EQ(db.Scalar("SELECT max(st_srid(geo)) FROM ax_objects"), "<null>");
    EXPECT_EQ(db.Scalar("SELECT max(st_srid(geo)) FROM alkistemp.ax_objects"), "25832");
}

TEST(Install, RunningItTwiceKeepsDataAndLocalConfiguration) {
    TTestDatabase db;
    CreateObjectTables(db, "AX_Wald");
    db.Exec("INSERT INTO ax_wald (gml_id, beginn, ende) VALUES ('DENW36AL2mD000Cg', '2024-10-15 07:55:13', "
            "'1899-12-30')");
    db.Exec("INSERT INTO parse (oa, oakennung, attrart, attrartkennung, attrtyp) "
            "VALUES ('AX_Wald', 43002, 'zustand', 'zustand', 1)");
    db.Exec("UPDATE crs SET epsg = 4647 WHERE crs = 'ETRS89_UTM32'");
    // The importer reads whatever the tables hold; duplicates and gaps are content, not errors.
    db.Exec("INSERT INTO crs VALUES ('ETRS89_UTM32', 4326); INSERT INTO modellarten VALUES ('DLKM', NULL)");
    const std::string counts =
        "SELECT (SELECT count(*) FROM parse) || '/' || (SELECT count(*) FROM crs) || '/' || "
        "(SELECT count(*) FROM modellarten) || '/' || (SELECT count(*) FROM parserelations) "
        "|| '/' || (SELECT count(*) FROM spatial_ref_sys)";
    const std::string before = db.Scalar(counts);

    ASSERT_EQ(RunInstallAgain(db), 0);

    EXPECT_EQ(db.Scalar(counts), before);
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM ax_wald"), "1");
    EXPECT_EQ(
        db.Scalar("SELECT string_agg(epsg::text, ',' ORDER BY epsg) FROM crs WHERE crs = 'ETRS89_UTM32'"),
        "4326,4647");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM parse WHERE oa = 'AX_Wald' AND attrart = 'zustand'"), "1");
    db.Exec("SELECT temp2alkis()");
}

// A database prepared before the catalogue grew gains the rows it lacks on the next install; the rows
// it has, with local changes, stay as they are.
TEST(Install, RunningItAgainAddsTheMissingCatalogueRows) {
    TTestDatabase db;
    const std::string rows = "SELECT count(*) FROM parse WHERE oa = 'AX_Bewertung' OR "
                             "(oa = 'AX_Gemeinde' AND attrart LIKE 'gemeindekennzeichen%')";
    const std::string all = db.Scalar("SELECT count(*) FROM parse");
    EXPECT_EQ(db.Scalar(rows), "7"); // klassifizierung, anlass and five key members
    db.Exec("DELETE FROM parse WHERE oa = 'AX_Bewertung' OR "
            "(oa = 'AX_Gemeinde' AND attrart LIKE 'gemeindekennzeichen%')");
    db.Exec("UPDATE parse SET attrtyp = 0 WHERE oa = 'AX_Gebaeude' AND attrart = 'gebaeudefunktion'");

    ASSERT_EQ(RunInstallAgain(db), 0);

    EXPECT_EQ(db.Scalar(rows), "7");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM parse"), all);
    EXPECT_EQ(
        db.Scalar("SELECT attrtyp FROM parse WHERE oa = 'AX_Gebaeude' AND attrart = 'gebaeudefunktion'"),
        "0");
}

// The statements the importer sends to the prepared tables, as it sends them.
TEST(Install, AcceptsTheImportersStatementsOnThePreparedTables) {
    TTestDatabase db;
    CreateObjectTables(db, "AX_PunktortAU");
    db.Exec("INSERT INTO statistics(fileid, obj_art, obj_anzahl) VALUES('nas_0001','AX_PunktortAU',8)");
    db.Exec(
        "INSERT INTO alkistemp.ax_punktortau (gml_id, beginn, ende) VALUES ('DENW36AL1IC000L6', "
        "'2024-10-15 07:55:13', '1899-12-30'), ('DENW36AL1IC000L7', '2024-10-15 07:55:13', '1899-12-30')");
    EXPECT_EQ(
        db.Scalar("SELECT round((100.0*(select count(*) from alkistemp.ax_objects)) /sum(obj_anzahl)) as p  "
                  "FROM statistics WHERE statistics.fileid='nas_0001'"),
        "25");

    db.Exec("INSERT INTO AX_LI_ProcessStep_Punktort (gml_id, beginn, description, dateTime, "
            "processor_organisationName, processor_role) VALUES ('DENW36AL1IC000L6', '2024-10-15 07:55:13', "
            "'Erhebung', '2017-07-20T11:20:04Z', 'Amt für Bodenmanagement und Geoinformation Bonn', "
            "'processor'), "
            "('DENW36AL1IC000L7', '2024-10-15', '', '1899-12-30', '', '')");
    EXPECT_EQ(db.Scalar("SELECT string_agg(datetime || '/' || processor_role, ',' ORDER BY gml_id) FROM "
                        "ax_li_processstep_punktort"),
              "2017-07-20T11:20:04Z/processor,1899-12-30/");

    // Closing relations of the integrated data: a date-time text into id_refs.
    db.Exec("INSERT INTO id_refs (gml_id, id_ref, typ, beginn) VALUES ('DENW36AL1IC000L6', "
            "'DENW36AL1IC000KO', 6, "
            "'2024-10-15')");
    db.Exec("UPDATE id_refs SET ende='2019-03-14 10:07:02' WHERE (gml_id='DENW36AL1IC000KO') or "
            "(id_ref='DENW36AL1IC000KO')");
    EXPECT_EQ(db.Scalar("SELECT ende FROM id_refs"), "2019-03-14 10:07:02");
}
