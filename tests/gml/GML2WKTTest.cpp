#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "FakeDialogs.h"
#include "GmlFragments.h"
#include "gml/GML2WKT.h"

namespace {

// ------------------------------------------------------------------------------------- builder cases

struct BuilderCase {
    const char* name;
    TGMLGeomType type;
    std::function<void(TGMLGeometry&)> build;
    const char* wkt; // expected text; the caller's text starts as "before"
};

void Add(TGMLGeometry& g, TGMLPointList points) {
    g.AddPoints(points);
}

TEST(GMLGeometry, WritesWKTAsTheItemsSay) {
    const BuilderCase cases[] = {
        {"point", tPoint, [](TGMLGeometry& g) { Add(g, {"3 4"}); }, "Point(3 4)"},
        {"point keeps all its points", tPoint,
         [](TGMLGeometry& g) {
             Add(g, {"1 2", "3 4"});
         },
         "Point(1 2,3 4)"},
        {"multi-point without inner parentheses", tMultiPoint,
         [](TGMLGeometry& g) {
             Add(g, {"1 2"});
             Add(g, {"3 4"});
         },
         "MultiPoint(1 2,3 4)"},
        {"joint point once", tLineString,
         [](TGMLGeometry& g) {
             Add(g, {"1 2", "5 6"});
             Add(g, {"5 6", "7 8"});
         },
         "LineString(1 2,5 6,7 8)"},
        {"joint written differently twice", tLineString,
         [](TGMLGeometry& g) {
             Add(g, {"1 2", "5 6"});
             Add(g, {"5.0 6", "7 8"});
         },
         "LineString(1 2,5 6,5.0 6,7 8)"},
        {"dropped joint matches only an empty text", tLineString,
         [](TGMLGeometry& g) {
             Add(g, {"1 2", "5 6"});
             Add(g, {"5 6"}); // the list now ends in an empty text
             Add(g, {"5 6", "7 8"});
         },
         "LineString(1 2,5 6,5 6,7 8)"},
        {"polygon with hole", tPolygon,
         [](TGMLGeometry& g) {
             AddRing(g, {});
             Add(g, {"0 0", "4 0", "4 4", "0 0"});
             AddRing(g, {{}, tInterior});
             Add(g, {"1 1", "2 1", "2 2", "1 1"});
         },
         "Polygon((0 0,4 0,4 4,0 0),(1 1,2 1,2 2,1 1))"},
        {"polygon with an empty ring", tPolygon, [](TGMLGeometry& g) { AddRing(g, {}); }, "Polygon(())"},
        {"points before the first ring are dropped", tPolygon,
         [](TGMLGeometry& g) {
             Add(g, {"9 9"});
             AddRing(g, {});
             Add(g, {"0 0", "1 0", "1 1", "0 0"});
         },
         "Polygon((0 0,1 0,1 1,0 0))"},
        {"multi-polygon", tMultiPolygon,
         [](TGMLGeometry& g) {
             g.AddPolygon();
             AddRing(g, {});
             Add(g, {"0 0", "1 0", "1 1", "0 0"});
             g.AddPolygon(); // without rings: written not at all
             g.AddPolygon();
             AddRing(g, {});
             Add(g, {"5 5", "6 5", "6 6", "5 5"});
         },
         "MultiPolygon(((0 0,1 0,1 1,0 0)),((5 5,6 5,6 6,5 5)))"},
        {"multi-polygon of polygons without rings", tMultiPolygon,
         [](TGMLGeometry& g) {
             g.AddPolygon();
             g.AddPolygon();
         },
         "MultiPolygon()"},
        {"multi-polygon drops rings and points without polygon", tMultiPolygon,
         [](TGMLGeometry& g) {
             AddRing(g, {});
             Add(g, {"9 9"});
             g.AddPolygon();
             Add(g, {"8 8"});
             AddRing(g, {});
             Add(g, {"0 0", "1 0", "1 1", "0 0"});
         },
         "MultiPolygon(((0 0,1 0,1 1,0 0)))"},
        {"multi-line with an empty line", tMultiLineString,
         [](TGMLGeometry& g) {
             g.AddLine();
             Add(g, {"1 2", "3 4"});
             g.AddLine();
         },
         "MultiLineString((1 2,3 4),())"},
        {"multi-line: lines do not share joints", tMultiLineString,
         [](TGMLGeometry& g) {
             g.AddLine();
             Add(g, {"1 2", "3 4"});
             g.AddLine();
             Add(g, {"3 4", "5 6"});
         },
         "MultiLineString((1 2,3 4),(3 4,5 6))"},
        {"no items leaves the text", tLineString, [](TGMLGeometry& g) { Add(g, {}); }, "before"},
        {"polygon without rings leaves the text", tPolygon, [](TGMLGeometry& g) { Add(g, {"1 2"}); },
         "before"},
        {"multi-line without lines leaves the text", tMultiLineString,
         [](TGMLGeometry& g) { Add(g, {"1 2"}); }, "before"},
        {"only empty texts", tLineString,
         [](TGMLGeometry& g) {
             Add(g, {"", ""});
         },
         "LineString()"},
        {"lines are ignored by a polygon, rings by a line", tPolygon,
         [](TGMLGeometry& g) {
             g.AddLine();
             g.AddPolygon();
             AddRing(g, {});
             Add(g, {"1 1"});
         },
         "Polygon((1 1))"},
    };
    for (const BuilderCase& c : cases) {
        SCOPED_TRACE(c.name);
        TGMLGeometry geometry(c.type);
        c.build(geometry);
        std::string wkt = "before";
        geometry.GenerateWKT(wkt);
        EXPECT_EQ(wkt, c.wkt);
    }
}

TEST(GMLGeometry, AddPointsEmptiesTheCallersJointPoint) {
    TGMLGeometry line(tLineString);
    TGMLPointList first{"1 2", "5 6"};
    line.AddPoints(first);
    TGMLPointList second{"5 6", "7 8"};
    line.AddPoints(second);
    EXPECT_EQ(second, (TGMLPointList{"", "7 8"}));
    EXPECT_EQ(line.Lines().at(0), (TGMLPointList{"1 2", "5 6", "", "7 8"}));
}

TEST(GMLText, PointsToTextAndRemoveTrailingComma) {
    EXPECT_EQ(PointsToText(nullptr), "");
    EXPECT_EQ(PointsToText(TGMLPointList{}), "");
    EXPECT_EQ(PointsToText(TGMLPointList{"", ""}), "");
    EXPECT_EQ(PointsToText(TGMLPointList{"", "1 2", "", "3 4", ""}), "1 2,3 4");
    const std::pair<std::string, std::string> trims[] = {{"", ""},    {",", ""},  {"a,", "a"},
                                                         {",,", ","}, {"a", "a"}, {"a, ", "a, "}};
    for (auto [in, out] : trims) {
        RemoveTrailingComma(in);
        EXPECT_EQ(in, out);
    }
}

// ---------------------------------------------------------------------------------- conversion cases

// Answers arc queries from a table (unknown queries answer "", as a failed statement does) and records them.
struct TFakeExecutor {
    std::map<std::string, std::string> answers;
    std::vector<std::string> queries;
    TPostGISCommandFunc Func() {
        return [this](const std::string& sql) {
            queries.push_back(sql);
            const auto it = answers.find(sql);
            return it == answers.end() ? std::string() : it->second;
        };
    }
};

std::string ArcQuery(const std::string& points) {
    return "SELECT ST_AsText(ST_CurveToLine(ST_GeomFromText('CIRCULARSTRING(" + points + ")')))";
}

std::string Ring(const std::string& posList) {
    return "<gml:LinearRing><gml:posList>" + posList + "</gml:posList></gml:LinearRing>";
}
std::string PolygonOf(const std::string& exterior, const std::string& attrs = "") {
    return "<gml:Polygon" + attrs + "><gml:exterior>" + Ring(exterior) + "</gml:exterior></gml:Polygon>";
}
std::string Segment(const std::string& posList) {
    return "<gml:LineStringSegment><gml:posList>" + posList + "</gml:posList></gml:LineStringSegment>";
}
std::string Arc(const std::string& posList) {
    return "<gml:Arc><gml:posList>" + posList + "</gml:posList></gml:Arc>";
}
std::string CurveOf(const std::string& segments) {
    return "<gml:Curve><gml:segments>" + segments + "</gml:segments></gml:Curve>";
}

struct ConversionCase {
    std::string name;
    std::string fragment; // children of "position"
    std::string wkt;
    int kind;                                                   // -1: left as the caller set it
    std::string srs = "";                                       // GetSrsName
    std::string message = "";                                   // the message box, "" for none
    std::vector<std::pair<std::string, std::string>> arcs = {}; // expected queries and their answers
};

const std::string kSquare = "0 0 1 0 1 1 0 0";
const std::string kSquare5 = "5 5 6 5 6 6 5 5";

std::vector<ConversionCase> ConversionCases() {
    return {
        {"point with srsName",
         "<gml:Point gml:id=\"p1\" srsName=\"urn:adv:crs:ETRS89_UTM32\"><gml:pos>385000.5 "
         "5800000.25</gml:pos>"
         "</gml:Point>",
         "Point(385000.5 5800000.25)", 0, "urn:adv:crs:ETRS89_UTM32"},
        {"point texts trimmed, CDATA read",
         "<gml:MultiPoint><gml:pointMember><gml:Point><gml:pos><![CDATA[ 3 4 ]]></gml:pos></gml:Point>"
         "</gml:pointMember><gml:pointMember><gml:Point><gml:pos>\n\t 1.10 2 \r\n</gml:pos></gml:Point>"
         "</gml:pointMember></gml:MultiPoint>",
         "MultiPoint(3 4,1.10 2)", 0},
        {"line of three pos, each once",
         "<gml:LineString><gml:pos>1 2</gml:pos><gml:pos>3 4</gml:pos><gml:pos>5 "
         "6</gml:pos></gml:LineString>",
         "LineString(1 2,3 4,5 6)", 1},
        {"3-D posList: three values a point",
         "<gml:LineString><gml:posList srsDimension=\"3\">1 2 3\n4 5 6</gml:posList></gml:LineString>",
         "LineString(1 2 3,4 5 6)", 1},
        {"3-D pos", "<gml:Point><gml:pos srsDimension=\"3\">1 2 3</gml:pos></gml:Point>", "Point(1 2 3)", 0},
        {"3-D polygon, the dimension inherited from the polygon",
         PolygonOf("363620 5614800 1 363630 5614800 2 363630 5614810 3 363620 5614800 1",
                   " srsDimension=\"3\""),
         "Polygon((363620 5614800 1,363630 5614800 2,363630 5614810 3,363620 5614800 1))", 2},
        {"3-D surface: the dimension inherited from the surface through patch and ring",
         "<gml:Surface srsDimension=\"3\"><gml:patches><gml:PolygonPatch><gml:exterior>" +
             Ring("0 0 9 1 0 9 1 1 9 0 0 9") +
             "</gml:exterior></gml:PolygonPatch></gml:patches></gml:Surface>",
         "Polygon((0 0 9,1 0 9,1 1 9,0 0 9))", 2},
        {"the nearest dimension counts, and a declared 2 is the default",
         "<gml:MultiCurve srsDimension=\"3\"><gml:curveMember><gml:LineString srsDimension=\" +2 \">"
         "<gml:posList>1 2 3 4</gml:posList></gml:LineString></gml:curveMember><gml:curveMember>"
         "<gml:LineString><gml:posList>5 6 7 8 9 10</gml:posList></gml:LineString></gml:curveMember>"
         "</gml:MultiCurve>",
         "MultiLineString((1 2,3 4),(5 6 7,8 9 10))", 1},
        {"3-D pos children of a line",
         "<gml:LineString srsDimension=\"3\"><gml:pos>1 2 3</gml:pos><gml:pos>4 5 "
         "6</gml:pos></gml:LineString>",
         "LineString(1 2 3,4 5 6)", 1},
        {"3-D arc string, taken as straight points",
         CurveOf("<gml:ArcString><gml:posList srsDimension=\"3\">0 0 1 1 1 2 2 0 "
                 "3</gml:posList></gml:ArcString>"),
         "LineString(0 0 1,1 1 2,2 0 3)", 1},
        {"a height point keeps its one value, declared or not",
         "<gml:Point srsName=\"urn:adv:crs:DE_DHHN92_NH\"><gml:pos>123.456</gml:pos></gml:Point><gml:Point "
         "srsName=\"urn:adv:crs:DE_DHHN92_NH\" srsDimension=\"1\"><gml:pos>7.5</gml:pos></gml:Point>",
         "Point(7.5)", 0, "urn:adv:crs:DE_DHHN92_NH"},
        {"3-D arc: the database's line of three values a point",
         "<gml:Curve srsDimension=\"3\"><gml:segments>" + Segment("5 5 1 0 0 1") + Arc("0 0 1 1 1 2 2 0 3") +
             "</gml:segments></gml:Curve>",
         "LineString(5 5 1,0 0 1,0.5 0.9 1.5,1 1 2,2 0 3)",
         1,
         "",
         "",
         {{ArcQuery("0 0 1,1 1 2,2 0 3"), "LINESTRING Z (0 0 1,0.5 0.9 1.5,1 1 2,2 0 3)"}}},
        {"posList split at any white space, paired two by two",
         "<gml:LineString><gml:posList>\n1 2 3\t4  5 6\r\n</gml:posList></gml:LineString>",
         "LineString(1 2,3 4,5 6)", 1},
        {"polygon with interior",
         "<gml:Polygon><gml:exterior>" + Ring("0 0 4 0 4 4 0 0") + "</gml:exterior><gml:interior>" +
             Ring("1 1 2 1 2 2 1 1") + "</gml:interior></gml:Polygon>",
         "Polygon((0 0,4 0,4 4,0 0),(1 1,2 1,2 2,1 1))", 2},
        {"surface ring of a segment and an arc",
         "<gml:Surface><gml:patches><gml:PolygonPatch><gml:exterior><gml:Ring><gml:curveMember>" +
             CurveOf(Segment("10 10 0 10 0 0 10 0") + Arc("10 0 11.0 5 10 10")) +
             "</gml:curveMember></gml:Ring></gml:exterior></gml:PolygonPatch></gml:patches></gml:Surface>",
         "Polygon((10 10,0 10,0 0,10 0,10.5 2.5,11 5,10.5 7.5,10 10))",
         2,
         "",
         "",
         {{ArcQuery("10 0,11.0 5,10 10"), "LINESTRING(10 0,10.5 2.5,11 5,10.5 7.5,10 10)"}}},
        {"arc points in the database's number form do not join",
         CurveOf(Segment("0 0 2.000 0") + Arc("2.000 0 3 1 4 0")),
         "LineString(0 0,2.000 0,2 0,3 1,4 0)",
         1,
         "",
         "",
         {{ArcQuery("2.000 0,3 1,4 0"), "LINESTRING(2 0,3 1,4 0)"}}},
        {"curve segments sharing a joint", CurveOf(Segment("1 1 2 2") + Segment("2 2 3 3")),
         "LineString(1 1,2 2,3 3)", 1},
        {"joint written differently stays twice", CurveOf(Segment("1 1 2 2") + Segment("2.0 2 3 3")),
         "LineString(1 1,2 2,2.0 2,3 3)", 1},
        {"multi-surface of two polygons",
         "<gml:MultiSurface><gml:surfaceMember>" + PolygonOf(kSquare) +
             "</gml:surfaceMember><gml:surfaceMember>" + PolygonOf(kSquare5) +
             "</gml:surfaceMember></gml:MultiSurface>",
         "MultiPolygon(((0 0,1 0,1 1,0 0)),((5 5,6 5,6 6,5 5)))", 2},
        {"multi-polygon ring outside a polygon is dropped",
         "<gml:MultiPolygon><gml:exterior>" + Ring("9 9 8 8") + "</gml:exterior><gml:polygonMember>" +
             PolygonOf(kSquare) + "</gml:polygonMember></gml:MultiPolygon>",
         "MultiPolygon(((0 0,1 0,1 1,0 0)))", 2},
        {"surface with two patches is one polygon",
         "<gml:Surface><gml:patches><gml:PolygonPatch><gml:exterior>" + Ring(kSquare) +
             "</gml:exterior></gml:PolygonPatch><gml:PolygonPatch><gml:exterior>" + Ring(kSquare5) +
             "</gml:exterior></gml:PolygonPatch></gml:patches></gml:Surface>",
         "Polygon((0 0,1 0,1 1,0 0),(5 5,6 5,6 6,5 5))", 2},
        {"multi-curve of two lines",
         "<gml:MultiCurve><gml:curveMember><gml:LineString><gml:posList>1 2 3 "
         "4</gml:posList></gml:LineString>"
         "</gml:curveMember><gml:curveMember><gml:LineString><gml:posList>5 6 7 "
         "8</gml:posList></gml:LineString>"
         "</gml:curveMember></gml:MultiCurve>",
         "MultiLineString((1 2,3 4),(5 6,7 8))", 1},
        {"composite curve gives one line per member",
         "<gml:CompositeCurve><gml:curveMember>" + CurveOf(Segment("1 1 2 2")) +
             "</gml:curveMember><gml:curveMember>" + CurveOf(Segment("2 2 3 3")) +
             "</gml:curveMember></gml:CompositeCurve>",
         "MultiLineString((1 1,2 2),(2 2,3 3))", 1},
        {"multi-point through point members",
         "<gml:MultiPoint><gml:pointMember><gml:Point><gml:pos>1 2</gml:pos></gml:Point></gml:pointMember>"
         "<gml:pointMember><gml:Point><gml:pos>3 4</gml:pos></gml:Point></gml:pointMember></gml:MultiPoint>",
         "MultiPoint(1 2,3 4)", 0},
        {"points through property elements",
         "<gml:LineString><gml:pointProperty><gml:Point><gml:pos>1 "
         "2</gml:pos></gml:Point></gml:pointProperty>"
         "<gml:pointProperty><gml:Point><gml:pos>3 "
         "4</gml:pos></gml:Point></gml:pointProperty></gml:LineString>",
         "LineString(1 2,3 4)", 1},
        {"other curve segments taken as straight points",
         CurveOf("<gml:ArcString><gml:posList>0 0 1 1 2 0</gml:posList></gml:ArcString>"),
         "LineString(0 0,1 1,2 0)", 1},
        {"coordinates element adds nothing",
         "<gml:LineString><gml:coordinates>1,2 3,4</gml:coordinates></gml:LineString>", "", 1},
        {"point without pos", "<gml:Point srsName=\"\"/>", "", 0},
        {"unknown top element", "<gml:OrientableSurface/>", "", -1, "",
         "Unknown type of geometry: gml:OrientableSurface"},
        {"gml element under another prefix",
         "<x:Point xmlns:x=\"http://www.opengis.net/gml/3.2\"><x:pos>1 2</x:pos></x:Point>", "", -1, "",
         "Unknown type of geometry: x:Point"},
        {"gml element without prefix",
         "<Point xmlns=\"http://www.opengis.net/gml/3.2\"><pos>1 2</pos></Point>", "", -1, "",
         "Unknown type of geometry: Point"},
        {"names are case-sensitive", "<gml:point><gml:pos>1 2</gml:pos></gml:point>", "", -1, "",
         "Unknown type of geometry: gml:point"},
        {"the last geometry wins",
         "<gml:Point><gml:pos>1 2</gml:pos></gml:Point><gml:LineString><gml:posList>3 4 5 6</gml:posList>"
         "</gml:LineString>",
         "LineString(3 4,5 6)", 1},
        {"a later geometry without points keeps the text, not the kind",
         "<gml:LineString><gml:posList>3 4 5 6</gml:posList></gml:LineString><gml:Point/>",
         "LineString(3 4,5 6)", 0},
        {"an unknown element ends the conversion",
         "<gml:Point><gml:pos>1 2</gml:pos></gml:Point><gml:Solid/><gml:LineString><gml:posList>3 4 5 6"
         "</gml:posList></gml:LineString>",
         "", 0, "", "Unknown type of geometry: gml:Solid"},
        {"srsName down the chain of first children",
         "<gml:MultiSurface><gml:surfaceMember>" + PolygonOf(kSquare, " srsName=\"A\"") +
             "</gml:surfaceMember></gml:MultiSurface>",
         "MultiPolygon(((0 0,1 0,1 1,0 0)))", 2, "A"},
        {"srsName on a later member is not found",
         "<gml:MultiSurface><gml:surfaceMember>" + PolygonOf(kSquare) +
             "</gml:surfaceMember><gml:surfaceMember>" + PolygonOf(kSquare5, " srsName=\"B\"") +
             "</gml:surfaceMember></gml:MultiSurface>",
         "MultiPolygon(((0 0,1 0,1 1,0 0)),((5 5,6 5,6 6,5 5)))", 2, ""},
        {"an empty srsName ends the search",
         "<gml:MultiSurface srsName=\"\"><gml:surfaceMember>" + PolygonOf(kSquare, " srsName=\"B\"") +
             "</gml:surfaceMember></gml:MultiSurface>",
         "MultiPolygon(((0 0,1 0,1 1,0 0)))", 2, ""},
        {"arc of pos elements is skipped",
         CurveOf("<gml:Arc><gml:pos>0 0</gml:pos><gml:pos>1 1</gml:pos><gml:pos>2 0</gml:pos></gml:Arc>") +
             "<gml:Curve><gml:segments><gml:Arc/></gml:segments></gml:Curve>",
         "", 1},
        {"a quote in an arc's values stays inside the literal",
         CurveOf(Arc("0 0 1 1 2 0');DROP/**/TABLE/**/t;-- 5 6")),
         "",
         1,
         "",
         "",
         {{ArcQuery("0 0,1 1,2 0'');DROP/**/TABLE/**/t;--,5 6"), ""}}},
        {"arc answer without a line adds nothing",
         CurveOf(Segment("5 5 0 0") + Arc("0 0 1 1 2 0")),
         "LineString(5 5,0 0)",
         1,
         "",
         "",
         {{ArcQuery("0 0,1 1,2 0"), "GEOMETRYCOLLECTION EMPTY"}}},
    };
}

TEST(GMLGeometryToWKT, ConvertsTheGeometryForms) {
    for (const ConversionCase& c : ConversionCases()) {
        SCOPED_TRACE(c.name);
        TFakeDialogs dialogs;
        TFakeExecutor executor;
        for (const auto& [query, answer] : c.arcs)
            executor.answers[query] = answer;
        TExecutorScope scope(executor.Func());

        const auto doc = TXmlDocument::LoadXml(WrapFragment(c.fragment));
        EXPECT_EQ(GetSrsName(doc->Root()), c.srs);
        int kind = -1;
        std::string wkt;
        GMLGeometryToWKT(doc->Root(), kind, wkt);
        EXPECT_EQ(wkt, c.wkt);
        EXPECT_EQ(kind, c.kind);

        std::vector<std::string> expectedQueries;
        for (const auto& arc : c.arcs)
            expectedQueries.push_back(arc.first);
        EXPECT_EQ(executor.queries, expectedQueries);

        if (c.message.empty()) {
            EXPECT_TRUE(dialogs.messages.empty());
        } else {
            ASSERT_EQ(dialogs.messages.size(), 1u);
            EXPECT_EQ(dialogs.messages[0].text, c.message);
            EXPECT_EQ(dialogs.messages[0].buttons, unsigned(mbOK));
        }
    }
}

TEST(GMLGeometryToWKT, KeepsTheCallersValuesWhenNothingIsConverted) {
    TFakeDialogs dialogs;
    for (const char* fragment : {"", "<gml:LineString/>"}) {
        SCOPED_TRACE(fragment);
        const auto doc = TXmlDocument::LoadXml(WrapFragment(fragment));
        int kind = 7;
        std::string wkt = "Point(9 9)";
        GMLGeometryToWKT(doc->Root(), kind, wkt);
        EXPECT_EQ(wkt, "Point(9 9)");
        EXPECT_EQ(kind, *fragment ? 1 : 7);
        EXPECT_EQ(GetSrsName(doc->Root()), "");
    }
    // The short forms start from an empty text and report the type of the last converted element.
    const auto doc = TXmlDocument::LoadXml(WrapFragment(PolygonOf(kSquare)));
    TGMLGeomType type = tPoint;
    EXPECT_EQ(GMLGeometryToWKT(doc->Root(), type), "Polygon((0 0,1 0,1 1,0 0))");
    EXPECT_EQ(type, tPolygon);
    EXPECT_EQ(GMLGeometryToWKT(doc->Root()), "Polygon((0 0,1 0,1 1,0 0))");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST(GMLGeometryToWKT, MissingCoordinateTextFailsTheConversion) {
    const std::string cases[] = {
        "<gml:Point><gml:pos/></gml:Point>",
        "<gml:Point><gml:pos><x>1 2</x></gml:pos></gml:Point>",
        "<gml:LineString><gml:posList></gml:posList></gml:LineString>",
        "<gml:LineString><gml:pos>1 2</gml:pos><gml:pos/></gml:LineString>",
        // all children of a node with several "gml:pos" must be texts
        "<gml:LineString><gml:pos>1 2</gml:pos><gml:pointProperty><gml:Point><gml:pos>3 "
        "4</gml:pos></gml:Point>"
        "</gml:pointProperty></gml:LineString>",
        CurveOf("<gml:Arc><gml:posList/></gml:Arc>"),
    };
    TFakeDialogs dialogs;
    TFakeExecutor executor;
    TExecutorScope scope(executor.Func());
    for (const std::string& fragment : cases) {
        SCOPED_TRACE(fragment);
        const auto doc = TXmlDocument::LoadXml(WrapFragment(fragment));
        int kind = 0;
        std::string wkt;
        EXPECT_THROW(GMLGeometryToWKT(doc->Root(), kind, wkt), EGMLError);
    }
    EXPECT_TRUE(executor.queries.empty());
    EXPECT_TRUE(dialogs.messages.empty());
}

// Coordinates that make no points, and dimensions no geometry has, end the conversion with a message that
// names the element and the counts (the writer reports it in the feature's error row); no arc is asked.
TEST(GMLGeometryToWKT, CoordinatesThatMakeNoPointsFailTheConversion) {
    const struct {
        const char* name;
        std::string fragment;
        std::string message;
    } cases[] = {
        {"odd number of values, 2 a point by default",
         "<gml:LineString><gml:posList>1 2 3 4 5</gml:posList></gml:LineString>",
         "Die Koordinaten von gml:posList lassen sich nicht in Punkte teilen: 5 Werte, 2 je Punkt."},
        {"3-D surface, a count that is no multiple of 3",
         "<gml:Surface srsDimension=\"3\"><gml:patches><gml:PolygonPatch><gml:exterior>" +
             Ring("0 0 9 1 0 9 1 1 9 0 0") + "</gml:exterior></gml:PolygonPatch></gml:patches></gml:Surface>",
         "Die Koordinaten von gml:posList lassen sich nicht in Punkte teilen: 11 Werte, 3 je Punkt."},
        {"3-D values in a 2-D list are no multiple of 2",
         PolygonOf("363620 5614800 1 363630 5614800 2 363630 5614810 3"),
         "Die Koordinaten von gml:posList lassen sich nicht in Punkte teilen: 9 Werte, 2 je Punkt."},
        {"arc of odd values", CurveOf(Segment("5 5 0 0") + Arc("0 0 1 1 2")),
         "Die Koordinaten von gml:posList lassen sich nicht in Punkte teilen: 5 Werte, 2 je Punkt."},
        {"3-D arc of eight values",
         "<gml:Curve srsDimension=\"3\"><gml:segments>" + Arc("0 0 1 1 1 2 2 0") +
             "</gml:segments></gml:Curve>",
         "Die Koordinaten von gml:posList lassen sich nicht in Punkte teilen: 8 Werte, 3 je Punkt."},
        {"dimension 4",
         "<gml:LineString srsDimension=\"4\"><gml:posList>1 2 3 4 5 6 7 8</gml:posList></gml:LineString>",
         "srsDimension=\"4\" an gml:LineString für gml:posList wird nicht unterstützt: ein Punkt hat 2 oder "
         "3 "
         "Koordinaten."},
        {"dimension 1 on a list",
         "<gml:LineString><gml:posList srsDimension=\"1\">1 2</gml:posList></gml:LineString>",
         "srsDimension=\"1\" an gml:posList für gml:posList wird nicht unterstützt: ein Punkt hat 2 oder 3 "
         "Koordinaten."},
        {"a dimension that is no number", PolygonOf(kSquare, " srsDimension=\"zwei\""),
         "srsDimension=\"zwei\" an gml:Polygon für gml:posList wird nicht unterstützt: ein Punkt hat 2 oder "
         "3 "
         "Koordinaten."},
        {"a point of two values where 3 are declared",
         "<gml:Point srsDimension=\"3\"><gml:pos>1 2</gml:pos></gml:Point>",
         "Der Punkt gml:pos hat 2 Koordinaten, srsDimension verlangt 3."},
        {"a point of four values where 2 are declared",
         "<gml:Point><gml:pos srsDimension=\"2\">1 2 3 4</gml:pos></gml:Point>",
         "Der Punkt gml:pos hat 4 Koordinaten, srsDimension verlangt 2."},
        {"a point of dimension 4", "<gml:Point srsDimension=\"4\"><gml:pos>1 2 3 4</gml:pos></gml:Point>",
         "srsDimension=\"4\" an gml:Point für gml:pos wird nicht unterstützt: ein Punkt hat 1, 2 oder 3 "
         "Koordinaten."},
        {"one pos of a 3-D line short of a value",
         "<gml:LineString srsDimension=\"3\"><gml:pos>1 2 3</gml:pos><gml:pos>4 5</gml:pos></gml:LineString>",
         "Der Punkt gml:pos hat 2 Koordinaten, srsDimension verlangt 3."},
    };
    TFakeDialogs dialogs;
    TFakeExecutor executor;
    TExecutorScope scope(executor.Func());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto doc = TXmlDocument::LoadXml(WrapFragment(c.fragment));
        try {
            GMLGeometryToWKT(doc->Root());
            ADD_FAILURE() << "no error";
        } catch (const EGMLError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
    EXPECT_TRUE(executor.queries.empty());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST(GMLGeometryToWKT, ArcWithoutExecutorAddsNothing) {
    TExecutorScope scope(nullptr);
    const auto doc = TXmlDocument::LoadXml(WrapFragment(CurveOf(Segment("5 5 0 0") + Arc("0 0 1 1 2 0"))));
    EXPECT_EQ(GMLGeometryToWKT(doc->Root()), "LineString(5 5,0 0)");
}

TEST(GMLHelpers, NodeTextPosListAndChildTexts) {
    const auto doc = TXmlDocument::LoadXml(
        "<r><a> \t1 2\n</a><b>1 2 3 4 5 6</b><c>1 2 3</c><d><a>x</a><a> y </a></d><e/><f><g/></f>"
        "<h srsDimension=\"3\">1 2 3 4 5 6</h></r>");
    const auto children = doc->Root().ChildNodes();
    EXPECT_EQ(NodeText(children[0]), "1 2");

    TGMLPointList points{"kept"};
    PosListToPoints(children[1], points);
    EXPECT_EQ(points, (TGMLPointList{"kept", "1 2", "3 4", "5 6"}));
    EXPECT_THROW(PosListToPoints(children[2], points), EGMLError) << "odd number of values";
    EXPECT_EQ(points.size(), 4u);
    PosListToPoints(children[6], points);
    EXPECT_EQ(points, (TGMLPointList{"kept", "1 2", "3 4", "5 6", "1 2 3", "4 5 6"}));
    EXPECT_EQ(SrsDimension(children[6], 2), 3);
    EXPECT_EQ(SrsDimension(children[1], 2), 0);

    EXPECT_EQ(ChildTexts(children[3]), (TGMLPointList{"x", "y"}));
    EXPECT_EQ(ChildTexts(children[4]), TGMLPointList{});
    EXPECT_THROW(NodeText(children[4]), EGMLError);
    EXPECT_THROW(NodeText(children[5]), EGMLError);
    EXPECT_THROW(ChildTexts(children[5]), EGMLError);
}

} // namespace
