// The conversion against the PostGIS of the test server: arcs linearised by the database, and the
// geometry of every real slice accepted as a valid geometry.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include <libpq-fe.h>

#include "FakeDialogs.h"
#include "GmlFragments.h"
#include "TestDatabase.h"
#include "gml/GML2WKT.h"

namespace {

struct TResultFree {
    void operator()(PGresult* r) const { PQclear(r); }
};
using TResult = std::unique_ptr<PGresult, TResultFree>;

// A libpq connection of the test's own, with the arc executor the parser would install.
class TPostGIS {
public:
    explicit TPostGIS(const std::string& connInfo) : conn(PQconnectdb(connInfo.c_str()), PQfinish) {
        if (PQstatus(conn.get()) != CONNECTION_OK)
            throw std::runtime_error(PQerrorMessage(conn.get()));
    }

    // The first column of the last row, "" when the statement fails (the failure is kept).
    std::string Command(const std::string& sql) {
        queries.push_back(sql);
        TResult r(PQexec(conn.get(), sql.c_str()));
        if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
            failures.push_back(PQresultErrorMessage(r.get()));
            return {};
        }
        const int rows = PQntuples(r.get());
        return rows > 0 && PQnfields(r.get()) > 0 ? PQgetvalue(r.get(), rows - 1, 0) : std::string();
    }
    TPostGISCommandFunc Executor() {
        return [this](const std::string& sql) { return Command(sql); };
    }

    // One value of a query with text parameters; the error text prefixed with "ERROR: " on failure.
    std::string Value(const std::string& sql, const std::vector<std::string>& params) {
        std::vector<const char*> values;
        for (const std::string& p : params)
            values.push_back(p.c_str());
        TResult r(PQexecParams(conn.get(), sql.c_str(), static_cast<int>(values.size()), nullptr,
                               values.data(), nullptr, nullptr, 0));
        if (PQresultStatus(r.get()) != PGRES_TUPLES_OK)
            return std::string("ERROR: ") + PQresultErrorMessage(r.get());
        return PQntuples(r.get()) > 0 ? PQgetvalue(r.get(), 0, 0) : "<none>";
    }

    std::vector<std::string> queries;
    std::vector<std::string> failures;

private:
    std::unique_ptr<PGconn, void (*)(PGconn*)> conn;
};

std::string SlicePath(const std::string& name) {
    return TestDataDir() + "/slices/" + name + ".xml";
}

std::vector<std::string> CoordinatePairs(const std::string& posList) {
    std::istringstream in(posList);
    std::vector<std::string> pairs;
    std::string x, y;
    while (in >> x >> y)
        pairs.push_back(x + " " + y);
    return pairs;
}

// Every coordinate pair of the "gml:pos" and "gml:posList" elements below `root`.
std::vector<std::string> FilePairs(const TXmlNode& root) {
    std::vector<std::string> pairs;
    for (const char* name : {"gml:pos", "gml:posList"})
        for (const TXmlNode& list : root.ElementsByName(name))
            for (const std::string& pair : CoordinatePairs(list.Text()))
                pairs.push_back(pair);
    return pairs;
}

std::string Join(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& p : parts)
        text += (text.empty() ? "" : ",") + p;
    return text;
}

// The same outline as a curve polygon in the database's own curve types, straight segments and arcs kept
// apart, so that the database can linearise it as a whole.
std::string CurvePolygonOf(const TXmlNode& position) {
    std::vector<std::string> members;
    for (const TXmlNode& segments : position.ElementsByName("gml:segments"))
        for (const TXmlNode& segment : segments.ChildNodes()) {
            const std::string points = Join(CoordinatePairs(segment.FirstChild().Text()));
            members.push_back(segment.NodeName() == "gml:Arc" ? "CIRCULARSTRING(" + points + ")"
                                                              : "(" + points + ")");
        }
    return "CURVEPOLYGON(COMPOUNDCURVE(" + Join(members) + "))";
}

} // namespace

TEST(GMLGeometryToWKTPostGIS, ArcsAreLinearisedByTheDatabase) {
    TTestDatabase db;
    TPostGIS pg(db.ConnInfo());
    TFakeDialogs dialogs;
    TExecutorScope scope(pg.Executor());
    for (const char* slice : {"AX_Wald", "AX_Wohnbauflaeche"}) {
        SCOPED_TRACE(slice);
        pg.queries.clear();
        const auto fragments = PositionFragments(SlicePath(slice));
        ASSERT_EQ(fragments.size(), 1u);
        const auto doc = TXmlDocument::LoadXml(WrapFragment(fragments[0]));
        const std::size_t arcs = doc->Root().ElementsByName("gml:Arc").size();
        ASSERT_GT(arcs, 0u);

        int kind = -1;
        std::string wkt;
        GMLGeometryToWKT(doc->Root(), kind, wkt);
        EXPECT_EQ(kind, 2);
        EXPECT_EQ(pg.queries.size(), arcs) << "one query per arc";
        EXPECT_TRUE(pg.failures.empty()) << (pg.failures.empty() ? "" : pg.failures[0]);
        EXPECT_EQ(wkt.rfind("Polygon((", 0), 0u) << wkt;

        EXPECT_EQ(pg.Value("SELECT ST_IsValid(ST_GeomFromText($1))", {wkt}), "t");
        EXPECT_EQ(pg.Value("SELECT ST_IsClosed(ST_ExteriorRing(ST_GeomFromText($1)))", {wkt}), "t");
        // The same outline linearised by the database as one curve polygon lies on ours.
        const std::string curve = CurvePolygonOf(doc->Root());
        EXPECT_EQ(
            pg.Value("SELECT ST_HausdorffDistance(ST_GeomFromText($1), ST_CurveToLine(ST_GeomFromText($2)))"
                     " < 1e-6",
                     {wkt, curve}),
            "t")
            << curve;
        EXPECT_EQ(pg.Value("SELECT abs(ST_Area(ST_GeomFromText($1)) - ST_Area(ST_GeomFromText($2))) < 0.5",
                           {wkt, curve}),
                  "t");
    }
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST(GMLGeometryToWKTPostGIS, EverySliceGivesAValidGeometry) {
    struct Expected {
        std::string type; // "" when the feature has no geometry
        int kind;
        std::string srs;
    };
    const std::string utm32 = "urn:adv:crs:ETRS89_UTM32";
    const std::map<std::string, Expected> expected = {
        {"AX_Aufnahmepunkt", {"", 0, ""}},
        {"AX_BesondereFlurstuecksgrenze", {"LINESTRING", 1, ""}},
        {"AX_BoeschungKliff", {"", 0, ""}},
        {"AX_Fahrwegachse", {"LINESTRING", 1, ""}},
        {"AX_Flurstueck", {"MULTIPOLYGON", 2, utm32}},
        {"AX_Gebaeude", {"POLYGON", 2, utm32}},
        {"AX_LagebezeichnungOhneHausnummer", {"", 0, ""}},
        {"AX_PunktortAU", {"POINT", 0, ""}},
        {"AX_Strassenverkehr", {"POLYGON", 2, ""}},
        {"AX_Turm", {"POLYGON", 2, ""}},
        {"AX_Wald", {"POLYGON", 2, ""}},
        {"AX_Wohnbauflaeche", {"POLYGON", 2, ""}},
    };
    TTestDatabase db;
    TPostGIS pg(db.ConnInfo());
    TFakeDialogs dialogs;
    TExecutorScope scope(pg.Executor());

    std::size_t converted = 0;
    for (const std::string& path : SliceFiles(TestDataDir() + "/slices")) {
        const std::string name = std::filesystem::path(path).stem().string();
        SCOPED_TRACE(name);
        ASSERT_TRUE(expected.count(name)) << "a slice without expectation";
        const Expected& e = expected.at(name);
        const auto fragments = PositionFragments(path);
        ASSERT_EQ(fragments.size(), e.type.empty() ? 0u : 1u);
        for (const std::string& fragment : fragments) {
            const auto doc = TXmlDocument::LoadXml(WrapFragment(fragment));
            EXPECT_EQ(GetSrsName(doc->Root()), e.srs);
            int kind = -1;
            std::string wkt;
            GMLGeometryToWKT(doc->Root(), kind, wkt);
            EXPECT_EQ(kind, e.kind);
            EXPECT_EQ(pg.Value("SELECT ST_IsValid(ST_GeomFromText($1))", {wkt}), "t") << wkt;
            EXPECT_EQ(pg.Value("SELECT GeometryType(ST_GeomFromText($1))", {wkt}), e.type);
            if (doc->Root().ElementsByName("gml:Arc").empty()) {
                // Without arcs every coordinate reaches the text as the file wrote it, joints once.
                for (const std::string& pair : FilePairs(doc->Root()))
                    EXPECT_NE(wkt.find(pair), std::string::npos) << pair;
                EXPECT_EQ(pg.Value("SELECT ST_NPoints(g) = ST_NPoints(ST_RemoveRepeatedPoints(g)) FROM "
                                   "ST_GeomFromText($1) AS g",
                                   {wkt}),
                          "t")
                    << wkt;
            }
            ++converted;
        }
    }
    EXPECT_EQ(converted, 9u);
    EXPECT_TRUE(pg.failures.empty());
    EXPECT_TRUE(dialogs.messages.empty());
}

// An arc of odd values is no arc: the conversion fails before it asks the database anything.
TEST(GMLGeometryToWKTPostGIS, ArcWithOddValuesAsksNothing) {
    TTestDatabase db;
    TPostGIS pg(db.ConnInfo());
    TExecutorScope scope(pg.Executor());
    const auto doc = TXmlDocument::LoadXml(
        WrapFragment("<gml:Curve><gml:segments><gml:LineStringSegment><gml:posList>5 5 0 0</gml:posList>"
                     "</gml:LineStringSegment><gml:Arc><gml:posList>0 0 1 1 2</gml:posList></gml:Arc>"
                     "</gml:segments></gml:Curve>"));
    EXPECT_THROW(GMLGeometryToWKT(doc->Root()), EGMLError);
    EXPECT_TRUE(pg.queries.empty());
}

// A 3-D arc is linearised by the database with its third values, and the line joins the 3-D segment.
TEST(GMLGeometryToWKTPostGIS, ThreeDimensionalArcKeepsItsHeights) {
    TTestDatabase db;
    TPostGIS pg(db.ConnInfo());
    TExecutorScope scope(pg.Executor());
    const auto doc = TXmlDocument::LoadXml(WrapFragment(
        "<gml:Curve srsDimension=\"3\"><gml:segments><gml:LineStringSegment><gml:posList>5 5 1 0 0 1"
        "</gml:posList></gml:LineStringSegment><gml:Arc><gml:posList>0 0 1 1 1 2 2 0 "
        "3</gml:posList></gml:Arc>"
        "</gml:segments></gml:Curve>"));
    const std::string wkt = GMLGeometryToWKT(doc->Root());
    EXPECT_TRUE(pg.failures.empty()) << (pg.failures.empty() ? "" : pg.failures[0]);
    EXPECT_EQ(wkt.rfind("LineString(5 5 1,0 0 1,", 0), 0u) << wkt;
    EXPECT_EQ(pg.Value("SELECT ST_NDims(ST_GeomFromText($1))", {wkt}), "3") << wkt;
    EXPECT_GT(std::stoi(pg.Value("SELECT ST_NPoints(ST_GeomFromText($1))", {wkt})), 5) << wkt;
    EXPECT_EQ(pg.Value("SELECT ST_AsText(ST_EndPoint(ST_GeomFromText($1)))", {wkt}), "POINT Z (2 0 3)");
}

TEST(GMLGeometryToWKTPostGIS, ArcValuesCannotRunSQL) {
    TTestDatabase db;
    db.Exec("CREATE TABLE victim(x int)");
    TPostGIS pg(db.ConnInfo());
    TExecutorScope scope(pg.Executor());
    const auto doc = TXmlDocument::LoadXml(WrapFragment(
        "<gml:Curve><gml:segments><gml:Arc><gml:posList>0 0 1 1 2 0)')));DROP/**/TABLE/**/victim;-- 5 6"
        "</gml:posList></gml:Arc></gml:segments></gml:Curve>"));
    EXPECT_EQ(GMLGeometryToWKT(doc->Root()), "");
    EXPECT_EQ(db.Scalar("SELECT to_regclass('victim') IS NOT NULL"), "t");
    EXPECT_EQ(pg.failures.size(), 1u) << "the geometry text is rejected as a whole";
}
