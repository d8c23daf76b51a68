// The feature writer against the real server: rows, geometry, mask, lifespans, counts, reports.
#include <map>

#include "WriterFixture.h"
#include "gml/GML2WKT.h"

namespace {

// A function, not a global: the date routines' own constants are not yet set while globals are made.
TDateTime Begin() {
    return EncodeDate(2019, 3, 14) + EncodeTime(10, 7, 2, 0);
}

// Columns of the test type, in the order of the row text below, with the value of an absent attribute.
const std::vector<std::pair<std::string, std::string>> kColumns = {
    {"zahl", "-99"}, {"wert", "null"}, {"flag", "0"},  {"kurz", ""},     {"text", ""},
    {"h5783", ""},   {"h7837", ""},    {"dhhn92", ""}, {"dhhn2016", ""}, {"etrs89h", ""},
};

// The stored row of one identifier as text: lifespan, mask, geometry (SRID and WKT) and columns.
std::string RowText(TTestDatabase& db, const std::string& table, const std::string& id) {
    std::string sql = "SELECT concat_ws('|', gml_id, tablename, beginn, ende, modellart, "
                      "coalesce(ST_SRID(geo) || ':' || ST_AsText(geo), 'nogeo')";
    for (const auto& c : kColumns)
        sql += ", coalesce(" + c.first + "::text, 'null')";
    return db.Scalar(sql + ") FROM alkistemp." + table + " WHERE gml_id = '" + id + "'");
}

std::string ExpectedRow(const std::string& id, const std::string& geo, const std::string& mask,
                        const std::map<std::string, std::string>& values,
                        const std::string& ende = "1899-12-30 00:00:00") {
    std::string row = id + "|ax_prueftyp|2019-03-14 10:07:02|" + ende + "|" + mask + "|" + geo;
    for (const auto& c : kColumns) {
        const auto it = values.find(c.first);
        row += "|" + (it == values.end() ? c.second : it->second);
    }
    return row;
}

const std::string kZeros(20, '0');

struct TWriteCase {
    const char* name;
    // input
    std::string position;
    std::vector<std::string> attributes;
    std::vector<std::string> models;
    std::string stdCrs; // the standard reference system of the run's files
    int storedSrid;     // iSRIDDB
    int target;         // selected target code
    // expected
    std::string row;     // "<none>": nothing inserted
    std::string geoLine; // third line of the statement ("" = not checked)
    std::vector<std::string> errors;
    int invalids;
};

std::string Point(const std::string& srs, const std::string& pos) {
    return "<gml:Point" + (srs.empty() ? std::string() : " srsName=\"" + srs + "\"") + "><gml:pos>" + pos +
           "</gml:pos></gml:Point>";
}

const std::string kValues = ") VALUES(:gml_id, :tablename, :beginn, :ende, :modellart, ";

std::vector<TWriteCase> Cases() {
    return {
        {"no geometry",
         "",
         {},
         {},
         "",
         0,
         25832,
         ExpectedRow("ID", "nogeo", kZeros, {}),
         ") VALUES(:gml_id, :tablename, :beginn, :ende, :modellart",
         {},
         0},
        {"prefix in capitals",
         Point("URN:ADV:CRS:ETRS89_UTM32", "363609.477 5614790.107"),
         {},
         {},
         "",
         0,
         25832,
         ExpectedRow("ID", "25832:POINT(363609.477 5614790.107)", kZeros, {}),
         kValues + "ST_GeometryFromText(:geo, 25832)",
         {},
         0},
        {"prefix twice keeps the second",
         Point("urn:adv:crs:urn:adv:crs:ETRS89_UTM32", "1 2"),
         {},
         {},
         "",
         0,
         25832,
         ExpectedRow("ID", "nogeo", kZeros, {}),
         "",
         {"CRS unbekannt: (urn:adv:crs:ETRS89_UTM32)AX_Prueftyp: ID"},
         0},
        {"no srsName: standard system of the run",
         Point("", "363609.477 5614790.107"),
         {},
         {},
         "ETRS89_UTM32",
         0,
         25832,
         ExpectedRow("ID", "25832:POINT(363609.477 5614790.107)", kZeros, {}),
         "",
         {},
         0},
        {"unknown system, standard one unknown too",
         Point("urn:adv:crs:KT_NIX", "1 2"),
         {},
         {},
         "KT_AUCHNIX",
         0,
         25832,
         ExpectedRow("ID", "nogeo", kZeros, {}),
         "",
         {"CRS unbekannt: (KT_NIX)AX_Prueftyp: ID"},
         0},
        {"no srsName, no standard system",
         Point("", "1 2"),
         {},
         {},
         "",
         0,
         25832,
         ExpectedRow("ID", "nogeo", kZeros, {}),
         "",
         {"CRS unbekannt: ()AX_Prueftyp: ID"},
         0},
        {"DHHN92 height",
         Point("urn:adv:crs:DE_DHHN92_NH", "123.456"),
         {},
         {},
         "",
         0,
         25832,
         ExpectedRow("ID", "nogeo", kZeros, {{"h5783", "123,456"}, {"dhhn92", "123,456"}}),
         ") VALUES(:gml_id, :tablename, :beginn, :ende, :modellart",
         {},
         0},
        {"DHHN2016 height replaces a line",
         Point("urn:adv:crs:DE_DHHN2016_NH", "7.5"),
         {"hoehe_7837=alt"},
         {},
         "",
         0,
         25832,
         ExpectedRow("ID", "nogeo", kZeros, {{"h7837", "7,5"}, {"dhhn2016", "7,5"}}),
         "",
         {},
         0},
        {"ellipsoidal height with three values",
         Point("urn:adv:crs:ETRS89_h", "45.1 56.2 12.3"),
         {},
         {},
         "",
         0,
         25832,
         ExpectedRow("ID", "nogeo", kZeros, {{"etrs89h", "45,1 56,2 12,3"}}),
         "",
         {},
         0},
        {"height of a multi-point sets nothing",
         "<gml:MultiPoint srsName=\"urn:adv:crs:DE_DHHN92_NH\"><gml:pointMember><gml:Point><gml:pos>1.5"
         "</gml:pos></gml:Point></gml:pointMember><gml:pointMember><gml:Point><gml:pos>2.5</gml:pos>"
         "</gml:Point></gml:pointMember></gml:MultiPoint>",
         {},
         {},
         "",
         0,
         25832,
         ExpectedRow("ID", "nogeo", kZeros, {}),
         ") VALUES(:gml_id, :tablename, :beginn, :ende, :modellart",
         {},
         0},
        {"height of a line sets nothing",
         "<gml:LineString srsName=\"urn:adv:crs:ETRS89_h\"><gml:posList>1 2 3 "
         "4</gml:posList></gml:LineString>",
         {},
         {},
         "",
         0,
         25832,
         ExpectedRow("ID", "nogeo", kZeros, {}),
         "",
         {},
         0},
        {"nothing stored yet: no transformation",
         Point("urn:adv:crs:KT_GK4", "580000 5620000"),
         {},
         {},
         "",
         0,
         25832,
         ExpectedRow("ID", "31468:POINT(580000 5620000)", kZeros, {}),
         kValues + "ST_GeometryFromText(:geo, 31468)",
         {},
         0},
        {"zone 4 shifted and transformed",
         Point("urn:adv:crs:KT_GK4", "580000 5620000"),
         {},
         {},
         "",
         25832,
         25832,
         "",
         kValues + "ST_Transform(ST_Translate(ST_GeometryFromText(:geo, 31468),4000000,0,0), 25832)",
         {},
         0},
        {"zone 5 shifted",
         Point("urn:adv:crs:KT_GK5", "400000 5620000"),
         {},
         {},
         "",
         25832,
         25832,
         "",
         kValues + "ST_Transform(ST_Translate(ST_GeometryFromText(:geo, 31469),5000000,0,0), 25832)",
         {},
         0},
        {"stored code: as it comes",
         Point("urn:adv:crs:ETRS89_UTM33", "400000 5620000"),
         {},
         {},
         "",
         25833,
         25832,
         ExpectedRow("ID", "25833:POINT(400000 5620000)", kZeros, {}),
         kValues + "ST_GeometryFromText(:geo, 25833)",
         {},
         0},
        {"other code: to the selection even when it is its own",
         Point("urn:adv:crs:ETRS89_UTM33", "400000 5620000"),
         {},
         {},
         "",
         25832,
         25833,
         ExpectedRow("ID", "25833:POINT(400000 5620000)", kZeros, {}),
         kValues + "ST_Transform(ST_GeometryFromText(:geo, 25833), 25833)",
         {},
         0},
        {"mask positions 1 and 20",
         "",
         {},
         {"KT1", "KT20", "KT1"},
         "",
         0,
         25832,
         ExpectedRow("ID", "nogeo", "1" + std::string(18, '0') + "1", {}),
         "",
         {},
         0},
        {"index 21 and unknown codes change nothing",
         "",
         {},
         {"KT21", "kt1", "NIX"},
         "",
         0,
         25832,
         ExpectedRow("ID", "nogeo", kZeros, {}),
         "",
         {},
         0},
        {"present values by type",
         "",
         {"zahl=42", "wert=12.5", "flag=true", "kurz=ab", "text=frei|text"},
         {},
         "",
         0,
         25832,
         ExpectedRow(
             "ID", "nogeo", kZeros,
             {{"zahl", "42"}, {"wert", "12.5"}, {"flag", "1"}, {"kurz", "ab"}, {"text", "frei|text"}}),
         "",
         {},
         0},
        {"names ignore case, flag only for exactly true",
         "",
         {"ZAHL=7", "Flag=True"},
         {},
         "",
         0,
         25832,
         ExpectedRow("ID", "nogeo", kZeros, {{"zahl", "7"}}),
         "",
         {},
         0},
        {"invalid geometry is skipped and said",
         "<gml:Polygon srsName=\"urn:adv:crs:ETRS89_UTM32\"><gml:exterior><gml:LinearRing><gml:posList>0 0 "
         "10 10 10 0 "
         "0 10 0 0</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon>",
         {},
         {},
         "",
         0,
         25832,
         "<none>",
         "",
         {"Fehler beim Import bei AX_Prueftyp: ID - ungültige Geometrie (in der Tabelle invalids)"},
         1},
        {"value too long for its column",
         "",
         {"kurz=zulang"},
         {},
         "",
         0,
         25832,
         "<none>",
         "",
         {"Fehler beim Import bei AX_Prueftyp: ID - value too long for type character(4)"},
         0},
    };
}

class FeatureWriter : public WriterTest {
protected:
    void SetUp() override {
        WriterTest::SetUp();
        db.Exec(
            "DELETE FROM parse WHERE oa = 'AX_Prueftyp';"
            "INSERT INTO parse(oa, oakennung, attrart, attrartkennung, attrtyp) VALUES "
            "('AX_Prueftyp', '99001', 'zahl', 'ZAHL', 2), ('AX_Prueftyp', '99001', 'wert', 'wert', 3),"
            "('AX_Prueftyp', '99001', 'flag', 'flag', 4), ('AX_Prueftyp', '99001', 'kurz', 'kurz', 1),"
            "('AX_Prueftyp', '99001', 'text', 'text', 9), ('AX_Prueftyp', '99001', 'hoehe_5783', 'h5783', 9),"
            "('AX_Prueftyp', '99001', 'hoehe_7837', 'h7837', 9),"
            "('AX_Prueftyp', '99001', 'DE_DHHN92_NH', 'dhhn92', 9),"
            "('AX_Prueftyp', '99001', 'DE_DHHN2016_NH', 'dhhn2016', 9),"
            "('AX_Prueftyp', '99001', 'ETRS89_h', 'etrs89h', 9);"
            "INSERT INTO modellarten(modellart, modellidx) VALUES ('KT1', 1), ('KT20', 20), ('KT21', 21);"
            "INSERT INTO crs(crs, epsg) VALUES ('KT_GK4', 31468), ('KT_GK5', 31469);"
            "INSERT INTO crs(crs, epsg) SELECT 'ETRS89_UTM32', 25832 WHERE NOT EXISTS "
            "  (SELECT 1 FROM crs WHERE lower(crs) = 'etrs89_utm32');"
            "INSERT INTO crs(crs, epsg) SELECT 'ETRS89_UTM33', 25833 WHERE NOT EXISTS "
            "  (SELECT 1 FROM crs WHERE lower(crs) = 'etrs89_utm33');"
            "INSERT INTO parserelations(typ, typbez) VALUES (901, 'ktVerweis');");
        ReadLookupTables();
    }

    void SelectTarget(int srid) {
        for (int i = 0; i < form->cboSRID->count(); ++i) {
            form->cboSRID->setCurrentIndex(i);
            if (form->SelectedTargetSRID() == srid)
                return;
        }
        FAIL() << "no target " << srid;
    }

    static std::unique_ptr<TAXObject> Record(const std::string& type, const std::string& id) {
        auto r = std::make_unique<TAXObject>();
        r->SetObjektart(type);
        r->identifikator = id;
        r->dtBegin = Begin();
        return r;
    }
};

} // namespace

TEST_F(FeatureWriter, EdgeCases) {
    for (const TWriteCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        db.Exec("DELETE FROM logs; DELETE FROM invalids");
        if (form->PgTableExists("alkistemp", "ax_prueftyp") > 0)
            db.Exec("DELETE FROM alkistemp.ax_prueftyp");
        form->iSRIDDB = c.storedSrid;
        SelectTarget(c.target);
        form->obKoRefs = std::make_unique<TKooRefSysteme>();
        if (!c.stdCrs.empty()) {
            form->obKoRefs->push_back(std::make_unique<TKooRefSys>("KT_ANDERS"));
            form->obKoRefs->push_back(std::make_unique<TKooRefSys>(c.stdCrs));
            form->obKoRefs->back()->standard = true;
        }
        auto r = Record("AX_Prueftyp", "ID");
        r->position = c.position;
        for (const std::string& a : c.attributes)
            r->attribute.Add(a);
        for (const std::string& m : c.models)
            r->modellarten.Add(m);

        const bool written = form->WriteToDB(r.get());

        EXPECT_EQ(written, c.row != "<none>");
        if (!c.row.empty()) {
            EXPECT_EQ(RowText(db, "ax_prueftyp", "ID"), c.row);
        }
        if (!c.geoLine.empty()) {
            ASSERT_EQ(form->cmd->SQL().Count(), 4);
            EXPECT_EQ(form->cmd->SQL()[2], c.geoLine);
        }
        EXPECT_EQ(ErrorRows(), c.errors);
        EXPECT_EQ(db.Scalar("SELECT count(*) FROM invalids WHERE gml_id = 'ID'"), std::to_string(c.invalids));
    }
}

TEST_F(FeatureWriter, ShiftedAndTransformedGeometryAsPostGISComputesIt) {
    form->iSRIDDB = 25832;
    SelectTarget(25832);
    auto r = Record("AX_Prueftyp", "GK");
    r->position = Point("urn:adv:crs:KT_GK4", "580000 5620000");
    ASSERT_TRUE(form->WriteToDB(r.get()));
    EXPECT_EQ(db.Scalar("SELECT ST_SRID(geo) || ':' || (ST_AsText(geo) = ST_AsText(ST_Transform(ST_Translate("
                        "ST_GeomFromText('POINT(580000 5620000)', 31468), 4000000, 0, 0), 25832))) "
                        "FROM alkistemp.ax_prueftyp"),
              "25832:true");
}

TEST_F(FeatureWriter, StatementTextLineByLine) {
    db.Exec("DELETE FROM parse WHERE oa = 'AX_Gebaeude';"
            "INSERT INTO parse(oa, oakennung, attrart, attrartkennung, attrtyp) VALUES "
            "('AX_Gebaeude', '31001', 'x', 'a', 9), ('AX_Gebaeude', '31001', 'y', 'b', 9)");
    auto r = Record("AX_Gebaeude", "DENW36AL10000Egu");
    r->position = Point("urn:adv:crs:ETRS89_UTM32", "363609.477 5614790.107");
    ASSERT_TRUE(form->WriteToDB(r.get()));
    EXPECT_EQ(form->cmd->SQL().Lines(),
              (std::vector<std::string>{"INSERT INTO alkistemp.ax_gebaeude",
                                        " (gml_id, tablename, beginn, ende, modellart, geo, a, b",
                                        kValues + "ST_GeometryFromText(:geo, 25832)", ",:a ,:b )"}));
}

TEST_F(FeatureWriter, GroupModeNamesTheTableByGroupAndStoresTheType) {
    form->oNachFolien = true;
    form->obOAGruppen = form->ReadOAGruppen();
    ASSERT_EQ(form->obOAGruppen->Value("ax_prueftyp"), "99");
    auto r = Record("AX_Prueftyp", "G1");
    r->attribute.Add("zahl=5");
    ASSERT_TRUE(form->WriteToDB(r.get()));
    EXPECT_EQ(form->cmd->SQL()[1].rfind(" (gml_id, tablename, beginn, ende, modellart, oa, ", 0), 0u);
    EXPECT_EQ(form->cmd->SQL()[2], ") VALUES(:gml_id, :tablename, :beginn, :ende, :modellart, 'AX_Prueftyp'");
    EXPECT_EQ(
        db.Scalar("SELECT tablename || '|' || oa || '|' || zahl FROM alkistemp.og_99 WHERE gml_id = 'G1'"),
        "og_99|AX_Prueftyp|5");

    // A type without a group goes to "og_", a table of the group column alone.
    auto unknown = Record("AX_OhneGruppe", "G2");
    EXPECT_TRUE(form->WriteToDB(unknown.get()));
    EXPECT_EQ(ErrorRows().size(), 0u);
    EXPECT_EQ(db.Scalar("SELECT oa FROM alkistemp.og_ WHERE gml_id = 'G2'"), "AX_OhneGruppe");
    EXPECT_EQ(form->obInserts.Value("AX_OhneGruppe"), "1");
}

TEST_F(FeatureWriter, CountsRelationsAndProgress) {
    form->obStatistics.Add("AX_Prueftyp=4");
    form->sFileID = "datei";
    db.Exec("INSERT INTO statistics(fileid, obj_art, obj_anzahl) VALUES ('datei', 'AX_Prueftyp', 4)");
    form->obInserts.Add("AX_Anderer=998");
    for (const char* id : {"R1", "R2"}) {
        auto r = Record("AX_Prueftyp", id);
        r->AddRelation("ktVerweis", "Z1");
        r->AddRelation("unbekannt", "Z2");
        r->AddRelation("ktVerweis", "Z3");
        ASSERT_TRUE(form->WriteToDB(r.get()));
        // The total over all types reaches 1000 with the second insert only.
        EXPECT_EQ(form->StatusText(2), std::string(id) == "R1" ? "" : "50% der aktuellen Datei");
    }
    EXPECT_EQ(form->obInserts.Value("ax_prueftyp"), "2");
    EXPECT_EQ(form->obInserts.Lines(), (std::vector<std::string>{"AX_Anderer=998", "AX_Prueftyp=2"}));
    std::vector<std::string> refs;
    for (const auto& row :
         db.Query("SELECT concat_ws('|', gml_id, id_ref, typ, beginn, coalesce(ende::text, 'null')) "
                  "FROM alkistemp.id_refs ORDER BY ctid"))
        refs.push_back(row[0].value_or(""));
    EXPECT_EQ(refs, (std::vector<std::string>{
                        "R1|Z1|901|2019-03-14 10:07:02|null", "R1|Z3|901|2019-03-14 10:07:02|null",
                        "R1|Z2|-1|2019-03-14 10:07:02|null", "R2|Z1|901|2019-03-14 10:07:02|null",
                        "R2|Z3|901|2019-03-14 10:07:02|null", "R2|Z2|-1|2019-03-14 10:07:02|null"}));

    // With relations off nothing more reaches id_refs.
    form->oReferenzen = false;
    auto r = Record("AX_Prueftyp", "R3");
    r->AddRelation("ktVerweis", "Z9");
    ASSERT_TRUE(form->WriteToDB(r.get()));
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM alkistemp.id_refs"), "6");
}

TEST_F(FeatureWriter, FailedInsertWithTotalZeroStillReadsProgress) {
    form->obStatistics.Add("AX_Prueftyp=4");
    form->sFileID = "leer";
    auto r = Record("AX_Prueftyp", "F1");
    r->attribute.Add("zahl=keine Zahl");
    EXPECT_FALSE(form->WriteToDB(r.get()));
    const auto log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "Fehler beim Import bei AX_Prueftyp: F1");
    const auto rows = ErrorRows();
    ASSERT_EQ(rows.size(), 2u); // the import failure, then the progress query finding no statistics
    EXPECT_EQ(rows[0], "Fehler beim Import bei AX_Prueftyp: F1 - " + log[1]);
    EXPECT_EQ(rows[1].rfind("Fehler beim Lesen des Dateilese-Fortschritts - ", 0), 0u);
    EXPECT_EQ(form->StatusText(2), "0% der aktuellen Datei");
    EXPECT_TRUE(form->obInserts.Empty());
}

// A reference system a file names but `crs` lacks is stored as the standard one; the user is told once
// per file and name which system stood in, so that the name can be added to `crs`. A missing srsName
// takes the standard one without a word.
TEST_F(FeatureWriter, NamedSystemMissingFromCrsIsSaidOncePerFileAndName) {
    form->obKoRefs->push_back(std::make_unique<TKooRefSys>("ETRS89_UTM32"));
    form->obKoRefs->back()->standard = true;
    const struct {
        const char* file; // a new file when it differs from the one before
        const char* srs;  // "" for no srsName
    } writes[] = {
        {"rlp", "LOKAL_RP_UTM32000"}, {"rlp", "LOKAL_RP_UTM32000"},
        {"rlp", "LOKAL_RP_UTM32101"}, {"rlp", ""},
        {"rlp", "ETRS89_UTM32"},      {"rlp_2", "LOKAL_RP_UTM32000"},
        {"rlp", "LOKAL_RP_UTM32000"}, {"rlp", "urn:adv:crs:DE_DHHN92_NH"},
    };
    const auto said = [](const std::string& file, const std::string& name) {
        return "Das Bezugssystem " + name + " der Datei " + file +
               " steht nicht in der Tabelle crs; seine Geometrien werden als ETRS89_UTM32 (SRID 25832) "
               "gespeichert.";
    };
    std::string file;
    int n = 0;
    for (const auto& write : writes) {
        if (file != write.file) {
            // as loading a file does: its portion header and its id
            file = write.file;
            form->obFiles.push_back(std::make_unique<TPortionFile>(file));
            form->sFileID = file;
        }
        auto r = Record("AX_Prueftyp", "P" + std::to_string(++n));
        const std::string srs = write.srs;
        r->position = Point(srs.empty() || srs.starts_with("urn:") ? srs : "urn:adv:crs:" + srs,
                            "32349600.5 5500000.25");
        EXPECT_TRUE(form->WriteToDB(r.get())) << r->identifikator;
    }
    const std::vector<std::string> expected = {
        said("rlp", "LOKAL_RP_UTM32000"), said("rlp", "LOKAL_RP_UTM32101"),
        said("rlp_2", "LOKAL_RP_UTM32000"), said("rlp", "LOKAL_RP_UTM32000")};
    EXPECT_EQ(ErrorRows(), expected);
    EXPECT_EQ(Log(), expected);
    // stored as before: in the standard system, apart from the height
    EXPECT_EQ(db.Scalar("SELECT string_agg(coalesce(ST_SRID(geo)::text, '-'), ',' ORDER BY gml_id) "
                        "FROM alkistemp.ax_prueftyp"),
              "25832,25832,25832,25832,25832,25832,25832,-");
}

// A property with a value but without a column of its type is not stored: said once per file, object
// type and property, in the log window and as an error row. An empty line (a data type's container)
// loses nothing; a column is found whatever the case of the line. In group mode the group's columns count.
TEST_F(FeatureWriter, PropertyWithoutColumnIsSaidOncePerFileTypeAndProperty) {
    db.Exec("INSERT INTO parse(oa, oakennung, attrart, attrartkennung, attrtyp) VALUES "
            "('AX_Prueftyp2', '99002', 'extra', 'extra', 0)");
    const struct {
        const char* file; // a new file when it differs from the one before
        const char* type;
        std::vector<std::string> lines;
        std::vector<std::string> said; // the properties said, in order
    } writes[] = {
        {"rlp", "AX_Prueftyp", {"zahl=5", "fremd=1", "behaelter=", "ZAHL=6"}, {"fremd"}},
        {"rlp", "AX_Prueftyp", {"fremd=2", "anders=a|b"}, {"anders"}},
        {"rlp", "AX_Prueftyp2", {"fremd=3", "extra=4"}, {"fremd"}},
        {"rlp", "AX_Prueftyp", {"fremd=5", "anders=c"}, {}},
        {"rlp_2", "AX_Prueftyp", {"anders=d", "fremd=6"}, {"anders", "fremd"}},
        {"rlp_2", "AX_Prueftyp", {"fremd=7"}, {}},
    };
    const auto text = [](const std::string& property, const std::string& type, const std::string& file) {
        return "Die Eigenschaft " + property + " von " + type + " der Datei " + file +
               " hat keine Spalte in der Tabelle parse und wird nicht gespeichert.";
    };
    const auto run = [&](const std::string& prefix) {
        std::vector<std::string> expected;
        std::string file;
        int n = 0;
        for (const auto& write : writes) {
            if (file != write.file) {
                file = write.file;
                form->obFiles.push_back(std::make_unique<TPortionFile>(prefix + file));
                form->sFileID = prefix + file;
            }
            auto r = Record(write.type, prefix + "P" + std::to_string(++n));
            for (const std::string& line : write.lines)
                r->attribute.Add(line);
            EXPECT_TRUE(form->WriteToDB(r.get())) << r->identifikator;
            for (const std::string& property : write.said)
                expected.push_back(text(property, write.type, prefix + file));
        }
        return expected;
    };
    const std::vector<std::string> perType = run("");
    EXPECT_EQ(ErrorRows(), perType);
    EXPECT_EQ(Log(), perType);
    EXPECT_EQ(db.Scalar("SELECT string_agg(zahl::text, ',' ORDER BY gml_id) FROM alkistemp.ax_prueftyp"),
              "5,-99,-99,-99,-99");

    // Tables per group: AX_Prueftyp stores "extra" in the column that AX_Prueftyp2 brings to group 99.
    db.Exec("DELETE FROM logs");
    form->oNachFolien = true;
    form->obOAGruppen = form->ReadOAGruppen();
    form->obTables->Clear();
    form->obParseTable.reset();
    form->obFiles.push_back(std::make_unique<TPortionFile>("og"));
    form->sFileID = "og";
    auto r = Record("AX_Prueftyp", "G1");
    r->attribute.Add("extra=8");
    r->attribute.Add("fremd=9");
    EXPECT_TRUE(form->WriteToDB(r.get()));
    EXPECT_EQ(ErrorRows(), std::vector<std::string>{text("fremd", "AX_Prueftyp", "og")});
    EXPECT_EQ(Log().back(), text("fremd", "AX_Prueftyp", "og"));
    EXPECT_EQ(db.Scalar("SELECT extra FROM alkistemp.og_99 WHERE gml_id = 'G1'"), "8");

    // A file of ever new names: a thousand are said one by one, the rest at once.
    db.Exec("DELETE FROM logs");
    form->obFiles.push_back(std::make_unique<TPortionFile>("viele"));
    form->sFileID = "viele";
    for (int feature = 0; feature < 3; ++feature) {
        auto many = Record("AX_Prueftyp", "M" + std::to_string(feature));
        for (int k = 0; k < (feature == 0 ? 999 : 2); ++k)
            many->attribute.Add("p" + std::to_string(feature) + "_" + std::to_string(k) + "=1");
        EXPECT_TRUE(form->WriteToDB(many.get()));
    }
    const std::vector<std::string> rows = ErrorRows();
    ASSERT_EQ(rows.size(), 1001u);
    EXPECT_EQ(rows[998], text("p0_998", "AX_Prueftyp", "viele"));
    EXPECT_EQ(rows[999], text("p1_0", "AX_Prueftyp", "viele"));
    EXPECT_EQ(rows[1000], "Weitere nicht gespeicherte Eigenschaften werden in der Datei viele nicht mehr "
                          "einzeln genannt.");
    // The links to specialist data share the bound: past it nothing more is said of the file, in the next
    // file they are said once again.
    for (const char* file : {"viele", "danach"}) {
        if (form->sFileID != file) {
            form->obFiles.push_back(std::make_unique<TPortionFile>(file));
            form->sFileID = file;
        }
        for (const char* id : {"L1", "L2"}) {
            auto linked = Record("AX_Prueftyp", std::string(file) + id);
            linked->zeigtAufExternes = true;
            EXPECT_TRUE(form->WriteToDB(linked.get()));
        }
    }
    EXPECT_EQ(ErrorRows().size(), 1002u);
    EXPECT_EQ(ErrorRows().back(),
              "Die Eigenschaft zeigtAufExternes von AX_Prueftyp der Datei danach wird nicht "
              "gespeichert: Verweise auf Fachdaten übernimmt der Import nicht.");
}

TEST_F(FeatureWriter, DuplicateKeyIsReportedAsPresentObject) {
    auto first = Record("AX_Prueftyp", "D1");
    ASSERT_TRUE(form->WriteToDB(first.get()));
    db.Exec("CREATE UNIQUE INDEX kt_unique ON alkistemp.ax_prueftyp(gml_id)");
    auto again = Record("AX_Prueftyp", "D1");
    EXPECT_FALSE(form->WriteToDB(again.get()));
    EXPECT_EQ(Log(), std::vector<std::string>{"Objekt schon vorhanden: AX_Prueftyp: D1"});
    EXPECT_EQ(ErrorRows(), std::vector<std::string>{"Objekt schon vorhanden: AX_Prueftyp: D1"});
    EXPECT_EQ(form->obInserts.Value("AX_Prueftyp"), "1");
}

TEST_F(FeatureWriter, ReplaceAndDelete) {
    // The integrated version the update refers to.
    auto old = Record("AX_Prueftyp", "V1");
    old->dtBegin = EncodeDate(2018, 1, 1);
    ASSERT_TRUE(form->WriteToDB(old.get()));
    db.Exec("INSERT INTO public.ax_prueftyp(gml_id, beginn) VALUES ('V1', '2018-01-01')");

    auto replace = Record("AX_Prueftyp", "V1");
    replace->wfsType = twfsReplace;
    replace->attribute.Add("zahl=2");
    EXPECT_TRUE(form->WriteToDB(replace.get()));
    EXPECT_EQ(db.Scalar("SELECT ende FROM public.ax_prueftyp WHERE gml_id = 'V1'"), "2019-03-14 10:07:02");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM alkistemp.ax_prueftyp WHERE gml_id = 'V1' AND zahl = 2"), "1");

    // A replace whose geometry is invalid writes no new version and leaves the one it would replace (the
    // version the first replace staged) open, and says so.
    auto broken = Record("AX_Prueftyp", "V1");
    broken->wfsType = twfsReplace;
    broken->dtBegin = EncodeDate(2020, 5, 5);
    broken->position =
        "<gml:Polygon srsName=\"urn:adv:crs:ETRS89_UTM32\"><gml:exterior><gml:LinearRing><gml:posList>"
        "0 0 10 10 10 0 0 10 0 0</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon>";
    db.Exec("DELETE FROM logs");
    EXPECT_FALSE(form->WriteToDB(broken.get()));
    // The stored version was closed by the first replace and keeps that end.
    EXPECT_EQ(db.Scalar("SELECT ende FROM public.ax_prueftyp WHERE gml_id = 'V1'"), "2019-03-14 10:07:02");
    EXPECT_EQ(db.Scalar("SELECT string_agg(beginn || ' ' || ende, ', ' ORDER BY beginn) FROM "
                        "alkistemp.ax_prueftyp WHERE gml_id = 'V1'"),
              "2018-01-01 00:00:00 2019-03-14 10:07:02, 2019-03-14 10:07:02 1899-12-30 00:00:00");
    EXPECT_EQ(ErrorRows(), std::vector<std::string>{"Fehler beim Import bei AX_Prueftyp: V1 - ungültige "
                                                    "Geometrie (in der Tabelle invalids)"});
    EXPECT_EQ(form->obInserts.Value("AX_Prueftyp"), "2");

    // A delete only closes.
    auto del = Record("AX_Prueftyp", "V1");
    del->wfsType = twfsDelete;
    EXPECT_TRUE(form->WriteToDB(del.get()));
    EXPECT_EQ(db.Scalar("SELECT ende FROM public.ax_prueftyp WHERE gml_id = 'V1'"), "2019-03-14 10:07:02");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM alkistemp.ax_prueftyp WHERE gml_id = 'V1'"), "2");
    EXPECT_EQ(form->obInserts.Value("AX_Prueftyp"), "2");
    EXPECT_FALSE(form->WriteToDB(nullptr));
}

// A replace is one operation: when its new version cannot be stored (an invalid geometry, a geometry that
// does not convert, an INSERT the database refuses), the old version stays open with its relations and the
// error row names the object; one statement at a time, sent with the INSERT, and with features in flight.
TEST_F(FeatureWriter, ReplaceWhoseNewVersionIsRefusedLeavesTheOldOneOpen) {
    ASSERT_TRUE(form->EnsureObjectTable("AX_Prueftyp"));
    const struct {
        const char* name;
        std::string position;
        std::string attribute;
        std::string reason; // "" = the error's own text
    } cases[] = {
        {"invalid geometry",
         "<gml:Polygon srsName=\"urn:adv:crs:ETRS89_UTM32\"><gml:exterior><gml:LinearRing><gml:posList>0 0 "
         "10 "
         "10 10 0 0 10 0 0</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon>",
         "", "ungültige Geometrie (in der Tabelle invalids)"},
        {"geometry that does not convert",
         "<gml:Point srsName=\"urn:adv:crs:ETRS89_UTM32\"><gml:pos/></gml:Point>", "", ""},
        {"INSERT refused", Point("urn:adv:crs:ETRS89_UTM32", "1 2"), "zahl=keine Zahl", ""},
    };
    const struct {
        const char* name;
        bool oneAtATime;
        int depth;
    } modes[] = {
        {"one statement at a time", true, 0}, {"sent with the INSERT", false, 0}, {"in flight", false, 256}};
    int n = 0;
    for (const auto& mode : modes) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(mode.name) + ": " + c.name);
            const std::string id = "RV" + std::to_string(++n);
            db.Exec("DELETE FROM logs; INSERT INTO public.ax_prueftyp(gml_id, beginn) VALUES ('" + id +
                    "', '2018-01-01'); INSERT INTO id_refs (gml_id, id_ref, typ, beginn) VALUES ('" + id +
                    "', 'ZIEL', 1, '2018-01-01'), ('HALTER', '" + id + "', 1, '2018-01-01')");
            form->oOneStatementAtATime = mode.oneAtATime;
            form->iPipelineDepth = mode.depth;
            auto r = Record("AX_Prueftyp", id);
            r->wfsType = twfsReplace;
            r->position = c.position;
            if (!c.attribute.empty())
                r->attribute.Add(c.attribute);
            form->WriteToDB(r.get());
            form->FlushPendingFeatures();
            EXPECT_EQ(
                db.Scalar("SELECT coalesce(ende::text, 'open') FROM public.ax_prueftyp WHERE gml_id = '" +
                          id + "'"),
                "open");
            EXPECT_EQ(db.Scalar("SELECT count(*) FROM id_refs WHERE (gml_id = '" + id + "' OR id_ref = '" +
                                id + "') AND ende IS NULL"),
                      "2");
            EXPECT_EQ(db.Scalar("SELECT count(*) FROM alkistemp.ax_prueftyp WHERE gml_id = '" + id + "'"),
                      "0");
            const std::vector<std::string> rows = ErrorRows();
            ASSERT_EQ(rows.size(), 1u);
            EXPECT_EQ(rows[0].rfind("Fehler beim Import bei AX_Prueftyp: " + id + " - ", 0), 0u) << rows[0];
            if (!c.reason.empty()) {
                EXPECT_EQ(rows[0], "Fehler beim Import bei AX_Prueftyp: " + id + " - " + c.reason);
            }
        }
    }
}

TEST_F(FeatureWriter, QualityFailureLeavesTheInsertWhole) {
    db.Exec("INSERT INTO parse(oa, oakennung, attrart, attrartkennung, attrtyp) VALUES "
            "('AX_Prueftyp', '99001', 'herkunft', 'herkunft', 6);"
            "ALTER TABLE AX_LI_ProcessStep_Punktort ADD CONSTRAINT kaputt CHECK (description <> 'kaputt')");
    ReadLookupTables();
    form->obParseTable.reset();
    auto r = Record("AX_Prueftyp", "Q1");
    r->attribute.Add("zahl=11");
    r->attribute.Add("herkunft=<gmd:LI_Lineage><gmd:processStep><gmd:LI_ProcessStep><gmd:description>"
                     "<AX_LI_ProcessStep_Punktort_Description>kaputt</AX_LI_ProcessStep_Punktort_Description>"
                     "</gmd:description></gmd:LI_ProcessStep></gmd:processStep></gmd:LI_Lineage>");
    r->attribute.Add("text=danach");
    EXPECT_TRUE(form->WriteToDB(r.get()));
    EXPECT_EQ(Log().at(0), "Fehler beim Auswerten der Qualitätsangaben für Q1");
    EXPECT_EQ(ErrorRows().size(), 1u);
    EXPECT_EQ(
        db.Scalar(
            "SELECT zahl || '|' || herkunft || '|' || text FROM alkistemp.ax_prueftyp WHERE gml_id = 'Q1'"),
        "11||danach");
    EXPECT_EQ(form->cmd->SQL()[0], "INSERT INTO alkistemp.ax_prueftyp");
}

// INSERT and relations of a feature travel together; a failure among them is reported as the one-at-a-time
// way reports it, for the feature it belongs to, and the features after it are written as usual.
TEST_F(FeatureWriter, FailureInsideABatchIsReportedForItsFeature) {
    const auto write = [this](const std::string& id, std::vector<std::string> targets) {
        auto r = Record("AX_Prueftyp", id);
        for (const std::string& t : targets)
            r->AddRelation("ktVerweis", t);
        return form->WriteToDB(r.get());
    };
    EXPECT_TRUE(write("W", {"W1"})); // the first relation of the run finds and creates the table
    db.Exec("ALTER TABLE alkistemp.id_refs ADD CONSTRAINT kaputt CHECK (id_ref <> 'kaputt')");
    const std::int64_t batchedBefore = form->iBatchedInserts;

    EXPECT_TRUE(write("A", {"A1", "kaputt", "A3"}));
    EXPECT_EQ(form->iBatchedInserts, batchedBefore); // rolled back, then written one at a time
    const auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    ExpectTimed(log[0], "Fehler beim Schreiben in die id_ref-Tabelle");
    EXPECT_NE(log[1].find("kaputt"), std::string::npos);
    EXPECT_EQ(ErrorRows(),
              std::vector<std::string>{"Fehler beim Schreiben in die id_ref-Tabelle - " + log[1].substr(1)});

    EXPECT_TRUE(write("B", {"B1", "B2"}));
    EXPECT_EQ(form->iBatchedInserts, batchedBefore + 1);

    // A failing INSERT inside a batch: reported as such, none of its relations stored.
    db.Exec("CREATE UNIQUE INDEX kt_unique ON alkistemp.ax_prueftyp(gml_id)");
    EXPECT_FALSE(write("B", {"C1"}));
    EXPECT_EQ(Log().back(), "Objekt schon vorhanden: AX_Prueftyp: B");
    EXPECT_TRUE(write("D", {"D1"}));
    EXPECT_EQ(form->iBatchedInserts, batchedBefore + 2);

    EXPECT_EQ(db.Scalar("SELECT string_agg(gml_id, ',' ORDER BY ctid) FROM alkistemp.ax_prueftyp"),
              "W,A,B,D");
    EXPECT_EQ(
        db.Scalar("SELECT string_agg(gml_id || ':' || id_ref, ',' ORDER BY ctid) FROM alkistemp.id_refs"),
        "W:W1,A:A1,A:A3,B:B1,B:B2,D:D1");
    EXPECT_EQ(form->obInserts.Value("AX_Prueftyp"), "4");
    EXPECT_EQ(ErrorRows().size(), 2u);
}

// The validity question of a geometry goes with the INSERT once the type's columns are known; an invalid
// geometry is then stored in "invalids" and skipped exactly as when it is asked first. A type with
// quality data asks first, so that an invalid feature writes no quality rows.
TEST_F(FeatureWriter, ValidityTravelsWithTheInsert) {
    const std::string invalid =
        "<gml:Polygon srsName=\"urn:adv:crs:ETRS89_UTM32\"><gml:exterior><gml:LinearRing>"
        "<gml:posList>0 0 10 10 10 0 0 10 0 0</gml:posList></gml:LinearRing></gml:exterior>"
        "</gml:Polygon>";
    const auto write = [this](const std::string& type, const std::string& id, const std::string& position) {
        auto r = Record(type, id);
        r->position = position;
        r->attribute.Add("herkunft=<gmd:LI_Lineage><gmd:processStep/></gmd:LI_Lineage>");
        return form->WriteToDB(r.get());
    };
    const std::string valid = Point("urn:adv:crs:ETRS89_UTM32", "363609.477 5614790.107");
    // Creating the table has read the columns already, so even the first feature asks with its INSERT.
    EXPECT_TRUE(write("AX_Prueftyp", "V1", valid));
    EXPECT_EQ(form->iBatchedInserts, 1);
    EXPECT_TRUE(write("AX_Prueftyp", "V2", valid));
    EXPECT_EQ(form->iBatchedInserts, 2);
    EXPECT_FALSE(write("AX_Prueftyp", "X1", invalid));
    EXPECT_EQ(form->iBatchedInserts, 2);
    EXPECT_EQ(db.Scalar("SELECT string_agg(gml_id, ',' ORDER BY ctid) FROM alkistemp.ax_prueftyp"), "V1,V2");
    EXPECT_EQ(db.Scalar("SELECT string_agg(gml_id, ',') FROM invalids"), "X1");

    db.Exec("INSERT INTO parse(oa, oakennung, attrart, attrartkennung, attrtyp) VALUES "
            "('AX_Qualitaet', '99002', 'herkunft', 'herkunft', 6)");
    EXPECT_TRUE(write("AX_Qualitaet", "Q1", valid));
    EXPECT_FALSE(write("AX_Qualitaet", "Q2", invalid));
    EXPECT_TRUE(write("AX_Qualitaet", "Q3", valid));
    EXPECT_EQ(form->iBatchedInserts, 2);
    EXPECT_EQ(db.Scalar("SELECT string_agg(gml_id, ',' ORDER BY ctid) FROM invalids"), "X1,Q2");
    EXPECT_EQ(db.Scalar("SELECT string_agg(gml_id, ',' ORDER BY ctid) FROM alkistemp.ax_qualitaet"), "Q1,Q3");
    EXPECT_EQ(db.Scalar("SELECT string_agg(gml_id, ',' ORDER BY ctid) FROM AX_LI_ProcessStep_Punktort"),
              "Q1,Q3");
    // AX_Prueftyp has no column for the quality data: said once, for its first feature; both ways name
    // the skipped features alike.
    const std::string said = "Die Eigenschaft herkunft von AX_Prueftyp der Datei  hat keine Spalte "
                             "in der Tabelle parse und wird nicht gespeichert.";
    const std::string reason = " - ungültige Geometrie (in der Tabelle invalids)";
    EXPECT_EQ(ErrorRows(), (std::vector<std::string>{said, "Fehler beim Import bei AX_Prueftyp: X1" + reason,
                                                     "Fehler beim Import bei AX_Qualitaet: Q2" + reason}));
    ASSERT_FALSE(Log().empty());
    EXPECT_EQ(Log().front(), said);
}

// A fragment that does not load and one that does not convert are import failures of their feature,
// with the error text of the XML layer or of the conversion.
TEST_F(FeatureWriter, UnreadableGeometryIsAnImportFailure) {
    const std::string wrapper = "<position xmlns:gml=\"http://www.opengis.net/gml/3.2\">";
    struct TCase {
        const char* id;
        std::string position;
    };
    const TCase cases[] = {
        {"XML1", "<gml:Point><gml:pos>1 2</gml:pos>"},
        {"GML1", "<gml:Point srsName=\"urn:adv:crs:ETRS89_UTM32\"><gml:pos/></gml:Point>"},
    };
    std::vector<std::string> expectedRows;
    for (const TCase& c : cases) {
        std::string error;
        try {
            const auto doc = TXmlDocument::LoadXml(wrapper + c.position + "</position>");
            GMLGeometryToWKT(doc->Root());
        } catch (const std::exception& e) {
            error = e.what();
        }
        ASSERT_FALSE(error.empty()) << c.id;
        auto r = Record("AX_Prueftyp", c.id);
        r->position = c.position;
        EXPECT_FALSE(form->WriteToDB(r.get()));
        const auto log = Log();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[log.size() - 2], std::string("Fehler beim Import bei AX_Prueftyp: ") + c.id);
        EXPECT_EQ(log.back(), error);
        expectedRows.push_back(std::string("Fehler beim Import bei AX_Prueftyp: ") + c.id + " - " + error);
    }
    EXPECT_EQ(ErrorRows(), expectedRows);
    EXPECT_TRUE(form->obInserts.Empty());
}

// An error while the statement is built, with the validity question still waiting for the INSERT: the
// question is asked first, so an invalid geometry is skipped with its own report, as when asked up front.
TEST_F(FeatureWriter, BuildErrorAfterADeferredCheckAsksItFirst) {
    // A column code that is no parameter name: the statement cannot be bound.
    db.Exec("CREATE TABLE alkistemp.ax_sonder (\"1x\" text) INHERITS (alkistemp.ax_objects);"
            "INSERT INTO parse(oa, oakennung, attrart, attrartkennung, attrtyp) VALUES "
            "('AX_Sonder', '99003', 'x', '1x', 9)");
    const auto write = [this](const std::string& id, const std::string& position) {
        auto r = Record("AX_Sonder", id);
        r->position = position;
        return form->WriteToDB(r.get());
    };
    EXPECT_FALSE(write("S1", Point("urn:adv:crs:ETRS89_UTM32", "1 2")));
    ASSERT_EQ(ErrorRows().size(), 1u);
    EXPECT_EQ(ErrorRows()[0].rfind("Fehler beim Import bei AX_Sonder: S1 - ", 0), 0u);
    EXPECT_FALSE(write("S2",
                       "<gml:Polygon srsName=\"urn:adv:crs:ETRS89_UTM32\"><gml:exterior><gml:LinearRing>"
                       "<gml:posList>0 0 10 10 10 0 0 10 0 0</gml:posList></gml:LinearRing></gml:exterior>"
                       "</gml:Polygon>"));
    ASSERT_EQ(ErrorRows().size(), 2u);
    EXPECT_EQ(ErrorRows()[1],
              "Fehler beim Import bei AX_Sonder: S2 - ungültige Geometrie (in der Tabelle invalids)");
    EXPECT_EQ(db.Scalar("SELECT string_agg(gml_id, ',') FROM invalids"), "S2");
    EXPECT_FALSE(write("S3", Point("urn:adv:crs:ETRS89_UTM32", "1 2")));
    EXPECT_EQ(ErrorRows().size(), 3u);
}
