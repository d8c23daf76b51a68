// Real features of the Bonn slices, filled into records by hand the way the NAS parser fills them, and
// the rows the writer makes of them checked with SQL.
#include "WriterFixture.h"
#include "gml/GML2WKT.h"

namespace {

std::string Slice(const std::string& type) {
    return WriterTest::ReadFile(TestDataDir() + "/slices/" + type + ".xml");
}

// The text between the first `open` tag and the next `close` tag.
std::string Between(const std::string& text, const std::string& open, const std::string& close) {
    const std::size_t b = text.find(open);
    const std::size_t e = text.find(close, b);
    if (b == std::string::npos || e == std::string::npos)
        return {};
    return text.substr(b + open.size(), e - b - open.size());
}

// The GML fragment as the parser hands it over: the geometry element and its content, white space
// between the tags dropped.
std::string Fragment(const std::string& slice) {
    const std::string inner = Between(slice, "<adv:position>", "</adv:position>");
    std::string out;
    std::size_t i = 0;
    while (i < inner.size()) {
        const std::size_t lt = inner.find('<', i);
        const std::string text = inner.substr(i, lt == std::string::npos ? std::string::npos : lt - i);
        if (text.find_first_not_of(" \t\r\n") != std::string::npos)
            out += text;
        if (lt == std::string::npos)
            break;
        const std::size_t gt = inner.find('>', lt);
        out += inner.substr(lt, gt - lt + 1);
        i = gt + 1;
    }
    return out;
}

// The fragment as PostGIS' own GML reader takes it: with the GML 3.2 namespace declared on it and
// without the AdV name of the reference system, which PostGIS does not know (the code is passed instead).
std::string ForPostGIS(std::string fragment) {
    if (const std::size_t srs = fragment.find(" srsName=\""); srs != std::string::npos)
        fragment.erase(srs, fragment.find('"', srs + 10) + 1 - srs);
    const std::size_t end = fragment.find_first_of(" >");
    return fragment.substr(0, end) + " xmlns:gml=\"http://www.opengis.net/gml/3.2\"" + fragment.substr(end);
}

std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (const char c : s)
        q += c == '\'' ? std::string("''") : std::string(1, c);
    return q + "'";
}

// How the stored geometry is compared with the file: with PostGIS' own reading of the GML where its
// reader takes the geometry, else by the set of vertices (its reader has no rings of curve members), and
// for arcs, which the server linearises, by the number of points.
enum class TCheck { postgis, vertices, arcs };

// Every coordinate pair of the fragment's pos and posList elements as one multi-point WKT text.
std::string Vertices(const std::string& fragment) {
    std::vector<std::string> numbers;
    for (const char* tag : {"<gml:posList>", "<gml:pos>"}) {
        const std::string open = tag, close = "</" + open.substr(1);
        for (std::size_t b = fragment.find(open); b != std::string::npos; b = fragment.find(open, b + 1)) {
            std::stringstream in(fragment.substr(b + open.size(), fragment.find(close, b) - b - open.size()));
            for (std::string n; in >> n;)
                numbers.push_back(n);
        }
    }
    std::string wkt = "MULTIPOINT(";
    for (std::size_t i = 0; i + 1 < numbers.size(); i += 2)
        wkt += (i ? "," : "") + numbers[i] + " " + numbers[i + 1];
    return wkt + ")";
}

struct TSlice {
    const char* type;
    const char* id;
    TDateTime begin;
    std::vector<std::string> attributes;
    std::vector<std::pair<std::string, std::string>> relations;
    TCheck check;
};

class RealFeatures : public WriterTest {
protected:
    void SetUp() override {
        WriterTest::SetUp();
        ExecPostGISSQL = [this](const std::string& sql) { return form->PostGISCommand(sql); };
        db.Exec(
            "INSERT INTO modellarten(modellart, modellidx) SELECT 'DLKM', 2 WHERE NOT EXISTS "
            "  (SELECT 1 FROM modellarten WHERE modellart = 'DLKM');"
            "INSERT INTO crs(crs, epsg) SELECT 'ETRS89_UTM32', 25832 WHERE NOT EXISTS "
            "  (SELECT 1 FROM crs WHERE lower(crs) = 'etrs89_utm32');"
            "INSERT INTO parserelations(typ, typbez) SELECT 9000 + i, n FROM unnest(ARRAY['zeigtAuf', 'hat', "
            "'gehoertZu']) WITH ORDINALITY AS t(n, i) WHERE NOT EXISTS "
            "(SELECT 1 FROM parserelations WHERE typbez = n);"
            "DELETE FROM parse WHERE oa IN ('AX_Gebaeude', 'AX_PunktortAU');"
            "INSERT INTO parse(oa, oakennung, attrart, attrartkennung, attrtyp) VALUES "
            "('AX_Gebaeude', '31001', 'gebaeudefunktion', 'GFK', 2),"
            "('AX_PunktortAU', '14003', 'kartendarstellung', 'kdt', 4),"
            "('AX_PunktortAU', '14003', 'koordinatenstatus', 'kst', 2),"
            "('AX_PunktortAU', '14003', 'qualitaetsangaben_herkunft', 'herkunft', 6)");
        ReadLookupTables();
        form->obKoRefs->push_back(std::make_unique<TKooRefSys>("ETRS89_UTM32"));
        form->obKoRefs->back()->standard = true;
    }
    void TearDown() override { ExecPostGISSQL = nullptr; }

    std::string Mask() {
        std::string mask(20, '0');
        mask[static_cast<std::size_t>(
            std::stoi(db.Scalar("SELECT modellidx FROM modellarten WHERE modellart = 'DLKM' "
                                "LIMIT 1")) -
            1)] = '1';
        return mask;
    }
};

} // namespace

TEST_F(RealFeatures, GeometryLifespanMaskAndRelations) {
    const TDateTime bonn = EncodeDate(2024, 10, 15) + EncodeTime(7, 55, 13, 0);
    const std::vector<TSlice> slices = {
        {"AX_Gebaeude",
         "DENW36AL10000Egu",
         bonn,
         {"gebaeudefunktion=2500"},
         {{"zeigtAuf", "DENW36AL10000AAA"}, {"hat", "DENW36AL10000K6p"}, {"gehoertZu", "DENW36AL10000BBB"}},
         TCheck::vertices},
        {"AX_Flurstueck", "DENW36AL10000Ehc", bonn, {}, {}, TCheck::vertices},
        {"AX_Fahrwegachse",
         "DENW36ALEC00007H",
         EncodeDate(2025, 3, 18) + EncodeTime(14, 9, 3, 0),
         {},
         {},
         TCheck::postgis},
        {"AX_Turm", "DENW36ALVk00002s", bonn, {}, {}, TCheck::vertices},
        {"AX_Wald", "DENW36AL10000KFq", bonn, {}, {}, TCheck::arcs},
    };
    for (const TSlice& s : slices) {
        SCOPED_TRACE(s.type);
        const std::string slice = Slice(s.type);
        auto r = std::make_unique<TAXObject>();
        r->SetObjektart(s.type);
        r->identifikator = s.id;
        r->dtBegin = s.begin;
        r->modellarten.Add("DLKM");
        r->position = Fragment(slice);
        ASSERT_FALSE(r->position.empty());
        for (const std::string& a : s.attributes)
            r->attribute.Add(a);
        for (const auto& [typ, target] : s.relations)
            r->AddRelation(typ, target);

        ASSERT_TRUE(form->WriteToDB(r.get()));

        const std::string table = "alkistemp." + LowerCaseAscii(s.type);
        const std::string where = " FROM " + table + " WHERE gml_id = '" + s.id + "'";
        EXPECT_EQ(
            db.Scalar(
                "SELECT concat_ws('|', tablename, beginn, ende, modellart, ST_SRID(geo), ST_IsValid(geo))" +
                where),
            LowerCaseAscii(s.type) + "|" + DateTimeToDbText(s.begin) + "|1899-12-30 00:00:00|" + Mask() +
                "|25832|t");
        if (s.check == TCheck::postgis) {
            EXPECT_EQ(db.Scalar("SELECT ST_Equals(geo, ST_GeomFromGML(" + Quoted(ForPostGIS(r->position)) +
                                ", 25832))" + where),
                      "t");
        } else if (s.check == TCheck::vertices) {
            EXPECT_EQ(db.Scalar("SELECT GeometryType(geo) LIKE '%POLYGON' AND ST_Equals(ST_Points(geo), "
                                "ST_GeomFromText('" +
                                Vertices(r->position) + "', 25832))" + where),
                      "t");
        } else {
            // Arcs are linearised by the server: more vertices than the file lists, and every listed
            // point (the arc's middle one included) on the boundary within a few centimetres.
            const std::string v = "ST_GeomFromText('" + Vertices(r->position) + "', 25832)";
            EXPECT_EQ(db.Scalar("SELECT ST_NPoints(geo) > ST_NPoints(ST_UnaryUnion(" + v +
                                ")) + 1 AND "
                                "ST_Covers(ST_Buffer(ST_Boundary(geo), 0.05), " +
                                v + ")" + where),
                      "t");
        }
    }
    EXPECT_EQ(db.Scalar("SELECT gfk FROM alkistemp.ax_gebaeude"), "2500");
    EXPECT_EQ(
        db.Scalar("SELECT string_agg(id_ref || ':' || typ || ':' || beginn, ',' ORDER BY ctid) FROM "
                  "alkistemp.id_refs WHERE gml_id = 'DENW36AL10000Egu'"),
        "DENW36AL10000AAA:" + db.Scalar("SELECT typ FROM parserelations WHERE typbez = 'zeigtAuf' LIMIT 1") +
            ":2024-10-15 07:55:13,DENW36AL10000K6p:" +
            db.Scalar("SELECT typ FROM parserelations WHERE typbez = 'hat' LIMIT 1") +
            ":2024-10-15 07:55:13,DENW36AL10000BBB:" +
            db.Scalar("SELECT typ FROM parserelations WHERE typbez = 'gehoertZu' LIMIT 1") +
            ":2024-10-15 07:55:13");
    EXPECT_EQ(form->obInserts.Count(), 5);
    EXPECT_TRUE(ErrorRows().empty());
}

TEST_F(RealFeatures, PointWithQualityData) {
    const std::string slice = Slice("AX_PunktortAU");
    auto r = std::make_unique<TAXObject>();
    r->SetObjektart("AX_PunktortAU");
    r->identifikator = "DENW36AL1IC000L6";
    r->dtBegin = EncodeDate(2024, 10, 15) + EncodeTime(7, 55, 13, 0);
    r->modellarten.Add("DLKM");
    r->position = Fragment(slice);
    r->attribute.Add("kartendarstellung=true");
    r->attribute.Add("koordinatenstatus=1000");
    r->attribute.Add(
        "qualitaetsangaben_herkunft=" +
        ("<gmd:LI_Lineage" + Between(slice, "<gmd:LI_Lineage", "</gmd:LI_Lineage>") + "</gmd:LI_Lineage>"));
    ASSERT_TRUE(form->WriteToDB(r.get()));
    EXPECT_EQ(db.Scalar("SELECT concat_ws('|', ST_AsText(geo), ST_SRID(geo), kdt, kst, herkunft = '') "
                        "FROM alkistemp.ax_punktortau"),
              "POINT(369818.203 5614520.625)|25832|1|1000|t");
    // The description of these files is written under the "adv" prefix, which the quality data do not
    // recognise; the other three values are taken.
    EXPECT_EQ(
        db.Scalar("SELECT concat_ws('|', gml_id, beginn, description, datetime, processor_organisationname, "
                  "processor_role) FROM AX_LI_ProcessStep_Punktort"),
        "DENW36AL1IC000L6|2024-10-15 07:55:13||2017-07-20T11:20:04Z|Amt für Bodenmanagement und "
        "Geoinformation "
        "Bonn|processor");
    // How the point was collected (its LI_Source description, 1000) is not among them, and is said.
    EXPECT_EQ(ErrorRows(), std::vector<std::string>{"Die Eigenschaft qualitaetsangaben_herkunft/LI_Source/"
                                                    "description von AX_PunktortAU der Datei  wird nicht "
                                                    "gespeichert: von den Qualitätsangaben werden nur die "
                                                    "Prozessschritte gespeichert."});
}
