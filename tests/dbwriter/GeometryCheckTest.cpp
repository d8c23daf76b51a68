#include "WriterFixture.h"

using GeometryCheck = WriterTest;

TEST_F(GeometryCheck, InvalidsTableCreatedOnlyWhenNoSchemaHasOne) {
    form->EnsureInvalidsTable();
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM pg_tables WHERE tablename='invalids' AND schemaname='public'"),
              "1");
    form->EnsureInvalidsTable(); // no second CREATE, so no failure
    EXPECT_TRUE(NewLogLines().empty());

    db.Exec("DROP TABLE public.invalids; CREATE TABLE alkistemp.invalids(gml_id varchar, geo geometry)");
    form->EnsureInvalidsTable();
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM pg_tables WHERE tablename='invalids'"), "1");
    EXPECT_TRUE(NewLogLines().empty());
}

TEST_F(GeometryCheck, InvalidGeometriesAreKeptAndRejected) {
    CreateLogs();
    form->EnsureInvalidsTable();
    const std::string bowTie = "POLYGON((0 0,10 10,10 0,0 10,0 0))";
    EXPECT_TRUE(form->CheckGeometry("DEBWL001", "POLYGON((0 0,10 0,10 10,0 10,0 0))"));
    EXPECT_FALSE(form->CheckGeometry("DEBWL'002", bowTie));
    EXPECT_TRUE(form->CheckGeometry("DEBWL003", "LINESTRING(1 1,2 2)"));
    const auto rows = db.Query("SELECT gml_id, ST_AsText(geo), ST_SRID(geo) FROM invalids");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "DEBWL'002");
    EXPECT_EQ(rows[0][1], bowTie);
    EXPECT_EQ(rows[0][2], "0");
    EXPECT_TRUE(NewLogLines().empty());

    // A text the database cannot read: reported with the identifier, no row.
    EXPECT_FALSE(form->CheckGeometry("DEBWL004", ""));
    auto lines = NewLogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(
        StartsWithTimeAnd(lines[0], "Fehler beim Prüfen der Geometrie von Objekt mit gml_id: DEBWL004"));
    EXPECT_EQ(LogRows().back(),
              "1|Fehler beim Prüfen der Geometrie von Objekt mit gml_id: DEBWL004 - " + lines[1].substr(1));
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM invalids"), "1");

    // Found invalid but the row cannot be written: still False (the feature is skipped), reported.
    db.Exec("DROP TABLE invalids");
    EXPECT_FALSE(form->CheckGeometry("DEBWL005", bowTie));
    lines = NewLogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "\trelation \"invalids\" does not exist");
}

TEST_F(GeometryCheck, SqlExecutorGivesTheLastRowsFirstColumn) {
    CreateLogs();
    form->cmd->SetSQL("SELECT :kept");
    form->cmd->ParamByName("kept").SetValue("bleibt");
    struct Case {
        const char* sql;
        const char* result;
        bool fails;
    } cases[] = {
        {"SELECT 'x' WHERE false", "", false},
        {"SELECT v, 'other' FROM (VALUES ('a'), ('b'), ('c')) AS t(v)", "c", false},
        {"SELECT ST_AsText(ST_GeomFromText('POINT(1 2)'))", "POINT(1 2)", false},
        {"SELECT NULL::text", "", true},
        {"SELECT v FROM (VALUES (1, 'a'), (2, NULL), (3, 'c')) AS t(n, v) ORDER BY n", "a", true},
        {"SELECT * FROM no_such_table", "", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(form->PostGISCommand(c.sql), c.result) << c.sql;
        const auto lines = NewLogLines();
        if (!c.fails) {
            EXPECT_TRUE(lines.empty()) << c.sql;
            continue;
        }
        ASSERT_EQ(lines.size(), 2u) << c.sql;
        EXPECT_TRUE(StartsWithTimeAnd(lines[0],
                                      std::string("Fehler beim Ausführen des PostGIS-Kommandos: ") + c.sql));
        EXPECT_EQ(LogRows().back(), std::string("1|Fehler beim Ausführen des PostGIS-Kommandos: ") + c.sql +
                                        " - " + lines[1].substr(1));
    }
    // The shared statement was not touched.
    form->cmd->Open();
    EXPECT_EQ(form->cmd->Fields(0).AsString(), "bleibt");
}
