#include "TimeZone.h"
#include "WriterFixture.h"
#include "model/DateTime.h"

class Lifespan : public WriterTest {
protected:
    void SetUp() override {
        WriterTest::SetUp();
        CreateLogs();
        db.Exec("CREATE TABLE public.ax_gebaeude () INHERITS (public.ax_objects);"
                "INSERT INTO ax_gebaeude (gml_id, beginn, ende) VALUES "
                "('DEBWL0010000001a', '2010-01-01', NULL), ('DEBWL0010000001a', '2005-01-01', '2010-01-01'), "
                "('DEBWL0010000002b', '2010-01-01', NULL);"
                "DELETE FROM id_refs;"
                "INSERT INTO id_refs (gml_id, id_ref, typ, beginn) VALUES "
                "('DEBWL0010000001a', 'DEBWL0010000009z', 1, '2010-01-01'), "
                "('DEBWL0010000008y', 'DEBWL0010000001a', 2, '2010-01-01'), "
                "('DEBWL0010000002b', 'DEBWL0010000009z', 1, '2010-01-01');");
    }
    std::unique_ptr<TAXObject> Record(const std::string& type, const std::string& id, TAAObjectType kind) {
        auto r = std::make_unique<TAXObject>();
        r->SetObjektart(type);
        r->identifikator = id;
        r->wfsType = kind;
        r->dtBegin = EncodeDate(2019, 3, 14) + EncodeTime(10, 7, 2, 0);
        return r;
    }
    std::vector<std::string> Ends(const std::string& sql) {
        std::vector<std::string> out;
        for (auto& r : db.Query(sql))
            out.push_back(r[0].value_or("<null>"));
        return out;
    }
};

TEST_F(Lifespan, ReplaceClosesOnlyTheOpenVersionAndTheObjectsOwnRelations) {
    auto r = Record("AX_Gebaeude", "DEBWL0010000001a", twfsReplace);
    EXPECT_TRUE(form->DeleteFromDB(r.get()));
    // The version closed earlier keeps its end; the relation that points to the object stays open.
    EXPECT_EQ(Ends("SELECT ende::text FROM ax_gebaeude ORDER BY gml_id, beginn"),
              (std::vector<std::string>{"2010-01-01 00:00:00", "2019-03-14 10:07:02", "<null>"}));
    EXPECT_EQ(Ends("SELECT coalesce(ende::date::text, '<null>') FROM id_refs ORDER BY typ, gml_id"),
              (std::vector<std::string>{"2019-03-14", "<null>", "<null>"}));
    EXPECT_TRUE(NewLogLines().empty());
}

// A delete ends the versions at the moment of the import in UTC, the clock of the stored begins, whatever
// the zone of the machine: a version begun a minute ago ends (west of UTC the local clock lies before its
// begin), and no later than now (east of UTC it lies hours ahead).
TEST_F(Lifespan, DeleteEndsNowInUtcAndRelationsOffLeaveRelationsAlone) {
    form->oReferenzen = false;
    const std::string utcNow = "date_trunc('second', now() AT TIME ZONE 'UTC')";
    int n = 0;
    for (const TZoneCase& c : kZonesAroundUtc) {
        SCOPED_TRACE(c.zone);
        const TTimeZoneForTest zone(c.zone);
        const std::string id = "DEBWL00100000" + std::to_string(30 + ++n) + "c";
        db.Exec("INSERT INTO ax_gebaeude (gml_id, beginn, ende) VALUES ('" + id + "', " + utcNow +
                " - interval '1 minute', NULL)");
        const std::string before = db.Scalar("SELECT " + utcNow);
        auto r = Record("AX_Gebaeude", id, twfsDelete);
        EXPECT_TRUE(form->DeleteFromDB(r.get()));
        const std::string after = db.Scalar("SELECT " + utcNow);
        EXPECT_EQ(db.Scalar("SELECT concat_ws('|', (ende >= '" + before + "')::text, (ende <= '" + after +
                            "')::text) FROM ax_gebaeude WHERE gml_id='" + id + "'"),
                  "true|true")
            << db.Scalar("SELECT coalesce(ende::text, 'open') FROM ax_gebaeude WHERE gml_id='" + id + "'")
            << " not within " << before << " .. " << after;
    }
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM id_refs WHERE ende IS NOT NULL"), "0");
    EXPECT_TRUE(NewLogLines().empty());
}

TEST_F(Lifespan, FailuresOfEitherStepAreReportedPerObject) {
    struct Case {
        const char* type;
        bool groups;
        bool relations;
        bool result;
        std::vector<std::string> messages; // the first log line of each report
    } cases[] = {
        {"AX_NieImportiert",
         false,
         true,
         false,
         {"Fehler beim Löschen des Objektes AX_NieImportiert: DEBWL0010000001a"}},
        {"AX_NieImportiert",
         false,
         false,
         false,
         {"Fehler beim Löschen des Objektes AX_NieImportiert: DEBWL0010000001a"}},
        {"AX_Gebaeude; DROP TABLE id_refs",
         false,
         false,
         false,
         {"Fehler beim Löschen des Objektes AX_Gebaeude; DROP TABLE id_refs: DEBWL0010000001a"}},
        {"AX_Gebaeude",
         true,
         true,
         false,
         {"Fehler beim Löschen des Objektes AX_Gebaeude: DEBWL0010000001a"}},
    };
    for (const auto& c : cases) {
        form->oNachFolien = c.groups;
        form->oReferenzen = c.relations;
        form->obOAGruppen = std::make_unique<TStringList>(); // no group known: table "og_"
        db.Exec("DELETE FROM logs");
        auto r = Record(c.type, "DEBWL0010000001a", twfsDelete);
        EXPECT_EQ(form->DeleteFromDB(r.get()), c.result) << c.type;
        const auto lines = NewLogLines();
        ASSERT_EQ(lines.size(), 2 * c.messages.size()) << c.type;
        const auto rows = LogRows();
        ASSERT_EQ(rows.size(), c.messages.size());
        for (std::size_t i = 0; i < c.messages.size(); ++i) {
            EXPECT_EQ(lines[2 * i], c.messages[i]);         // no time of day
            EXPECT_NE(lines[2 * i + 1].substr(0, 1), "\t"); // no tab
            EXPECT_EQ(rows[i], "1|" + c.messages[i] + " - " + lines[2 * i + 1]);
        }
    }
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM ax_gebaeude WHERE ende > '2019-01-01'"), "0");
    EXPECT_EQ(db.Scalar("SELECT to_regclass('public.id_refs') IS NOT NULL"), "t");
    // A type without an object table closes no relation of the object either.
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM id_refs WHERE ende IS NOT NULL"), "0");

    // The relations' own step failing is reported with its own text.
    db.Exec("DELETE FROM logs; ALTER TABLE id_refs RENAME TO id_refs_alt");
    form->oNachFolien = false;
    form->oReferenzen = true;
    auto r = Record("AX_Gebaeude", "DEBWL0010000002b", twfsDelete);
    EXPECT_TRUE(form->DeleteFromDB(r.get()));
    const auto lines = NewLogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Fehler beim Löschen der Referenzen des Objektes AX_Gebaeude: DEBWL0010000002b");
    EXPECT_EQ(lines[1], "relation \"public.id_refs\" does not exist");
}

// A replace or delete whose type names a table that holds no versions (the relation table, the run log,
// a configuration table, the parent of all object tables, a catalogue table the search path would find, a
// data type, a type never imported) is refused with the per-object report: nothing is closed there, nor
// in the relation table.
TEST_F(Lifespan, NamesOfOtherTablesAreRefusedAndCloseNothing) {
    const auto contents = [&] {
        return Ends("SELECT concat_ws('|', gml_id, id_ref, beginn, ende) FROM id_refs UNION ALL SELECT "
                    "concat_ws('|', tablename, gml_id, beginn, ende) FROM ax_objects ORDER BY 1");
    };
    const std::vector<std::string> before = contents();
    for (const char* type :
         {"id_refs", "ID_REFS", "ax_objects", "logs", "parse", "statistics", "spatial_ref_sys",
          "AX_GibtEsNicht", "pg_class", "pg_toast", "pg_namespace", "geometry", "AX_Lagebezeichnung"}) {
        for (const TAAObjectType kind : {twfsDelete, twfsReplace, twfsUpdate}) {
            SCOPED_TRACE(type);
            db.Exec("DELETE FROM logs");
            auto r = Record(type, "DEBWL0010000001a", kind);
            EXPECT_FALSE(form->DeleteFromDB(r.get()));
            const auto lines = NewLogLines();
            ASSERT_EQ(lines.size(), 2u);
            EXPECT_EQ(lines[0],
                      std::string("Fehler beim Löschen des Objektes ") + type + ": DEBWL0010000001a");
            EXPECT_EQ(lines[1], "Keine Objekttabelle: " + LowerCaseAscii(type));
            EXPECT_EQ(LogRows(), std::vector<std::string>{"1|" + lines[0] + " - " + lines[1]});
        }
    }
    EXPECT_EQ(contents(), before);
}

TEST_F(Lifespan, RelationTableCreatedOncePerRun) {
    ASSERT_EQ(db.Scalar("SELECT to_regclass('alkistemp.id_refs') IS NULL"), "t");
    const TDateTime begin = EncodeDate(2019, 3, 14) + EncodeTime(10, 7, 2, 0);
    form->WriteIdRef("DEBWL0010000001a", "DEBWL0010000009z", begin, 3);
    EXPECT_TRUE(form->oTableExistsIdRefs);
    form->WriteIdRef("DEBWL0010000001a", "DEBWL'); DROP TABLE ax_gebaeude; --", begin, -1);
    form->WriteIdRef("DEBWL0010000002b", "DEBWL0010000009z", EncodeDate(2020, 1, 1), 7);
    EXPECT_TRUE(NewLogLines().empty());
    const auto rows =
        db.Query("SELECT gml_id, id_ref, typ::text, beginn::text, ende FROM alkistemp.id_refs ORDER BY typ");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][1], "DEBWL'); DROP TABLE ax_gebaeude; --");
    EXPECT_EQ(rows[0][2], "-1");
    EXPECT_EQ(rows[1][0], "DEBWL0010000001a");
    // The begin keeps its time: a version replaced on its first day closes its own relations only.
    EXPECT_EQ(rows[1][3], "2019-03-14 10:07:02");
    EXPECT_EQ(rows[1][4], std::nullopt);
    EXPECT_EQ(rows[2][3], "2020-01-01 00:00:00");
    EXPECT_EQ(db.Scalar("SELECT to_regclass('public.ax_gebaeude') IS NOT NULL"), "t");

    // Within the run the table is not looked for again: a vanished table fails the relation.
    db.Exec("DROP TABLE alkistemp.id_refs");
    form->WriteIdRef("DEBWL0010000003c", "DEBWL0010000009z", begin, 1);
    const auto lines = NewLogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(StartsWithTimeAnd(lines[0], "Fehler beim Schreiben in die id_ref-Tabelle")) << lines[0];
    EXPECT_EQ(lines[1], "\trelation \"alkistemp.id_refs\" does not exist");
    EXPECT_EQ(
        LogRows().back(),
        "1|Fehler beim Schreiben in die id_ref-Tabelle - relation \"alkistemp.id_refs\" does not exist");

    // The next run asks once more and creates it again.
    form->oTableExistsIdRefs = false;
    form->WriteIdRef("DEBWL0010000003c", "DEBWL0010000009z", begin, 1);
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM alkistemp.id_refs"), "1");
    EXPECT_TRUE(NewLogLines().empty());
}

// A closing changes something only where it ends an open version: the delete of an object whose versions
// are all closed (deleted before, the same update imported again), or of one never stored, and a replace
// that finds no open version begun before it, leave every relation as it is, also those brought since.
TEST_F(Lifespan, ObjectsWithoutAnOpenVersionKeepTheirRelations) {
    db.Exec("INSERT INTO ax_gebaeude (gml_id, beginn, ende) VALUES "
            "('DEBWL0010000003c', '2005-01-01', '2010-01-01'), ('DEBWL0010000005e', '2020-01-01', NULL);"
            "INSERT INTO id_refs (gml_id, id_ref, typ, beginn) VALUES "
            "('DEBWL0010000003c', 'DEBWL0010000009z', 1, '2012-01-01'), "
            "('DEBWL0010000007x', 'DEBWL0010000003c', 2, '2012-01-01'), "
            "('DEBWL0010000006w', 'DEBWL0010000004d', 2, '2012-01-01'), "
            "('DEBWL0010000005e', 'DEBWL0010000009z', 1, '2010-01-01');");
    const auto contents = [&] {
        return Ends("SELECT concat_ws('|', gml_id, id_ref, beginn, ende) FROM id_refs UNION ALL SELECT "
                    "concat_ws('|', gml_id, beginn, ende) FROM ax_gebaeude ORDER BY 1");
    };
    const std::vector<std::string> before = contents();
    struct Case {
        const char* id;
        TAAObjectType kind;
    } cases[] = {
        {"DEBWL0010000003c", twfsDelete}, {"DEBWL0010000003c", twfsReplace},
        {"DEBWL0010000003c", twfsUpdate}, {"DEBWL0010000004d", twfsDelete},
        {"DEBWL0010000004d", twfsUpdate}, {"DEBWL0010000005e", twfsReplace}, // begun after the replace
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.id) + " " + std::to_string(static_cast<int>(c.kind)));
        auto r = Record("AX_Gebaeude", c.id, c.kind);
        r->dtEnde = EncodeDate(2019, 5, 6);
        EXPECT_TRUE(form->DeleteFromDB(r.get()));
        EXPECT_EQ(contents(), before);
        EXPECT_TRUE(NewLogLines().empty());
    }
}

// An update that sets the end of an object's lifespan ends its open versions at that end, with the
// relations from and to the object, as a delete would.
TEST_F(Lifespan, UpdateWithAnEndClosesAtThatEnd) {
    auto r = Record("AX_Gebaeude", "DEBWL0010000001a", twfsUpdate);
    r->dtEnde = EncodeDate(2020, 5, 6) + EncodeTime(11, 12, 13, 0);
    EXPECT_TRUE(form->DeleteFromDB(r.get()));
    EXPECT_EQ(Ends("SELECT concat_ws('|', gml_id, beginn, ende) FROM ax_gebaeude ORDER BY gml_id, beginn"),
              (std::vector<std::string>{"DEBWL0010000001a|2005-01-01 00:00:00|2010-01-01 00:00:00",
                                        "DEBWL0010000001a|2010-01-01 00:00:00|2020-05-06 11:12:13",
                                        "DEBWL0010000002b|2010-01-01 00:00:00"}));
    EXPECT_EQ(Ends("SELECT concat_ws('|', gml_id, id_ref, ende::date) FROM id_refs ORDER BY gml_id"),
              (std::vector<std::string>{"DEBWL0010000001a|DEBWL0010000009z|2020-05-06",
                                        "DEBWL0010000002b|DEBWL0010000009z",
                                        "DEBWL0010000008y|DEBWL0010000001a|2020-05-06"}));
    EXPECT_TRUE(NewLogLines().empty());
}
