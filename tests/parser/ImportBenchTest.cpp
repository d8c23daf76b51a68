// The import benchmark runs the file loop of an import run: its summary line and its exit status.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

#include "BenchProcess.h"
#include "ParserFixture.h"
#include "TestDatabase.h"

namespace {

std::string Quoted(const std::string& s) {
    return "'" + s + "'";
}

TEST(ImportBench, ImportsFilesAndPrintsItsSummary) {
    TTestDatabase db;
    int status = 0;
    const std::string out = RunBench("--db " + Quoted(db.ConnInfo()) + " --no-relations " + TestDataDir() +
                                         "/bestand_bonn.xml " + TestDataDir() + "/nba_bonn.xml",
                                     status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("bestand_bonn.xml: features: 12, written: 12, seconds: ")))
        << out;
    EXPECT_TRUE(std::regex_search(
        out,
        std::regex(
            "\nfeatures: 15, seconds: [0-9]+\\.[0-9]+, features/s: [0-9]+, peak RSS MiB: [0-9]+\\.[0-9]\n$")))
        << out;
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.ax_objects WHERE ende = '1899-12-30'"), "12");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.id_refs"), "0");
}

TEST(ImportBench, ParseFailureEndsWithStatusOne) {
    TTestDatabase db;
    int status = 0;
    RunBench("--db " + Quoted(db.ConnInfo()) + " " + TestDataDir() + "/hostile/billionlaugh.xml", status);
    EXPECT_EQ(status, 1);
    RunBench("--db " + Quoted(db.ConnInfo()) + " --target-srid 4711 " + TestDataDir() + "/bestand_bonn.xml",
             status);
    EXPECT_EQ(status, 2);
}

// The message boxes a run showed, from the benchmark's standard error (one line each).
std::vector<std::string> Boxes(const std::string& path) {
    std::vector<std::string> boxes;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with("message: ") || line.starts_with("error: "))
            boxes.push_back(line);
    return boxes;
}

// A polygon whose ring has `points` points on a circle, as one coordinate list.
std::string LargePolygon(int points) {
    std::string posList;
    char point[64];
    for (int i = 0; i <= points; ++i) {
        const double a = 2 * 3.14159265358979 * (i % points) / points;
        std::snprintf(point, sizeof point, "%s%.3f %.3f", i == 0 ? "" : " ", 385000 + 1000 * std::cos(a),
                      5800000 + 1000 * std::sin(a));
        posList += point;
    }
    return "<position><gml:Polygon srsName=\"urn:adv:crs:ETRS89_UTM32\"><gml:exterior><gml:LinearRing>"
           "<gml:posList>" +
           posList + "</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon></position>";
}

// Broken and hostile files, each beside a sound feature, run through the whole import: what the user
// is shown, what is stored, what the `logs` table says, and the exit status. A file that fails shows one
// box and stores nothing; a feature that fails is said once, in its place, and the rest of its file stored.
TEST(ImportBench, BrokenAndHostileFilesEndAsTheyShould) {
    const std::string sound = Member("<AX_Gebaeude gml:id=\"DEHOST0000000001\"><lebenszeitintervall>"
                                     "<AA_Lebenszeitintervall><beginnt>2024-01-10T08:00:00Z</beginnt>"
                                     "</AA_Lebenszeitintervall></lebenszeitintervall>"
                                     "<gebaeudefunktion>2000</gebaeudefunktion></AX_Gebaeude>");
    // A feature of any type name, as a file may bring it.
    const auto feature = [](const std::string& type, const std::string& id, const std::string& body) {
        return Member("<" + type + " gml:id=\"" + id +
                      "\"><lebenszeitintervall><AA_Lebenszeitintervall><beginnt>2024-01-10T08:00:00Z"
                      "</beginnt></AA_Lebenszeitintervall></lebenszeitintervall>" +
                      body + "</" + type + ">");
    };
    const auto building = [&feature](const std::string& id, const std::string& body) {
        return feature("AX_Gebaeude", id, body);
    };
    const auto dated = [](const std::string& id, const std::string& begin, const std::string& end) {
        return Member("<AX_Gebaeude gml:id=\"" + id +
                      "\"><lebenszeitintervall><AA_Lebenszeitintervall><beginnt>" + begin + "</beginnt>" +
                      (end.empty() ? "" : "<endet>" + end + "</endet>") +
                      "</AA_Lebenszeitintervall></lebenszeitintervall></AX_Gebaeude>");
    };
    // A number of floors that is no number fails the feature's INSERT, whose report comes when its answer
    // is read.
    const auto floors = [&](const std::string& id, const std::string& n) {
        return building(id, "<anzahlDerOberirdischenGeschosse>" + n + "</anzahlDerOberirdischenGeschosse>");
    };
    const std::string piece(7'000'000, 'x');
    std::string warnings;
    for (int i = 0; i < 1000; ++i)
        warnings += "<name xml:space=\"bogus\">w</name>";
    const auto point = [&building](const std::string& id, const std::string& srs) {
        return building(id, "<position><gml:Point srsName=\"urn:adv:crs:" + srs +
                                "\"><gml:pos>32349600.5 5500000.25</gml:pos></gml:Point></position>");
    };
    const auto position3d = [](const std::string& posList) {
        return "<position><gml:Polygon srsName=\"urn:adv:crs:ETRS89_UTM32\" srsDimension=\"3\"><gml:exterior>"
               "<gml:LinearRing><gml:posList>" +
               posList + "</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon></position>";
    };
    const std::string standardUtm32 =
        "<koordinatenangaben><AA_Koordinatenreferenzsystemangaben><crs "
        "xlink:href=\"urn:adv:crs:ETRS89_UTM32\"/>"
        "<standard>true</standard></AA_Koordinatenreferenzsystemangaben></koordinatenangaben>";
    const std::string protocol =
        "<erlaeuterung>&lt;Protocol&gt;&lt;statistik&gt;&lt;objektmenge objektart=\"AX_Gebaeude\"&gt;"
        "&lt;objektanzahl&gt;1&lt;/objektanzahl&gt;&lt;/objektmenge&gt;&lt;/statistik&gt;&lt;/Protocol&gt;"
        "</erlaeuterung>";
    const std::string typeZeroRows =
        "SELECT string_agg(beschreibung, '|' ORDER BY ctid) FROM logs WHERE meldetyp = 0 AND beschreibung "
        "NOT LIKE '%-Tabelle'"; // the steps, without the reading of the lookup tables
    const auto systems = [](int n, std::size_t nameLength) {
        std::string blocks;
        for (int i = 0; i < n; ++i)
            blocks +=
                "<koordinatenangaben><AA_Koordinatenreferenzsystemangaben><crs xlink:href=\"urn:adv:crs:" +
                std::string(nameLength, 'A') + std::to_string(i) +
                "\"/></AA_Koordinatenreferenzsystemangaben></koordinatenangaben>";
        return blocks;
    };
    // A file that began to be written and is rolled back says so.
    const std::string notApplied = "wurde nicht übernommen: nichts von ihr ist in der Datenbank.";
    std::string noGmlPrefix = Doc(sound);
    noGmlPrefix.replace(noGmlPrefix.find("xmlns:gml="), 10, "xmlns:gmx=");
    const struct {
        const char* what;
        std::string text;
        int status;
        std::size_t boxes;
        const char* firstBox;            // part of the first box's text
        const char* stored;              // objects in public and rows of statistics afterwards
        std::vector<std::string> errors; // the error rows of `logs`, each by a part of its text, in order
        std::size_t warnings = 0;        // rows of `logs` that are warnings
        std::string options = {};        // further arguments of the benchmark
        int times = 1;                   // how often the file is named
        std::string setup = {};          // SQL run on the database first
        std::string query = {};          // SQL whose answer is checked afterwards
        std::string answer = {};
    } cases[] = {
        {"a sound file", Doc(sound), 0, 0, "", "1/0", {}},
        {"an undeclared namespace prefix, once per element, ends the file at the first",
         noGmlPrefix,
         1,
         1,
         "Namespace prefix gml",
         "0/0",
         {notApplied}},
        {"an undefined entity is not dropped from the text: the file ends",
         Doc(sound + building("DEHOST0000000002", "<name>M&uuml;ller</name>")),
         1,
         1,
         "Entity 'uuml' not defined",
         "0/0",
         {notApplied}},
        {"an empty position gives an object without geometry, the next feature is untouched",
         Doc(building("DEHOST0000000002", "<position/>") + sound),
         0,
         0,
         "",
         "2/0",
         {}},
        {"lifespan dates that are none refuse their features alone, said in file order among other failures",
         Doc(sound + floors("DEHOST0000000002", "drei") + dated("DEHOST0000000003", "gestern", "") +
             dated("DEHOST0000000004", "2024-01-10T08:00:00Z", "2024-13-45T00:00:00Z") +
             floors("DEHOST0000000005", "vier")),
         0,
         0,
         "",
         "1/0",
         {"Fehler beim Import bei AX_Gebaeude: DEHOST0000000002 - ",
          "Fehler beim Import bei AX_Gebaeude: DEHOST0000000003 - 'gestern' ist keine gültige Datums- und "
          "Uhrzeitangabe (beginnt, Zeile 2)",
          "Fehler beim Import bei AX_Gebaeude: DEHOST0000000004 - '2024-13-45T00:00:00Z' ist keine gültige "
          "Datums- und Uhrzeitangabe (endet, Zeile 2)",
          "Fehler beim Import bei AX_Gebaeude: DEHOST0000000005 - "}},
        {"dates that are no xs:dateTime refuse their features alone: a text after the date, an empty one, a "
         "short year; an offset goes to UTC",
         Doc(dated("DEHOST0000000002", "2011-01-01'; drop table logs; --", "") +
             dated("DEHOST0000000003", "", "") + dated("DEHOST0000000004", "1-01-01T00:00:00Z", "") +
             dated("DEHOST0000000005", "2024-01-10T09:00:00+01:00", "2024-01-11T00:00:00+14:00") + sound),
         0,
         0,
         "",
         "2/0",
         {"Fehler beim Import bei AX_Gebaeude: DEHOST0000000002 - '2011-01-01'; drop table logs; --' ist "
          "keine "
          "gültige Datums- und Uhrzeitangabe (beginnt, Zeile 2)",
          "Fehler beim Import bei AX_Gebaeude: DEHOST0000000003 - '' ist keine gültige Datums- und "
          "Uhrzeitangabe (beginnt, Zeile 2)",
          "Fehler beim Import bei AX_Gebaeude: DEHOST0000000004 - '1-01-01T00:00:00Z' ist keine gültige "
          "Datums- und Uhrzeitangabe (beginnt, Zeile 2)"},
         0,
         "",
         1,
         "",
         "SELECT beginn || '/' || ende FROM public.ax_objects WHERE gml_id = 'DEHOST0000000005'",
         "2024-01-10 08:00:00/2024-01-10 10:00:00"},
        {"a begin or end that is a date alone is that day at midnight, an offset converted to UTC",
         Doc(dated("DEHOST0000000002", "2020-05-06", "2020-05-07+02:00") + sound),
         0,
         0,
         "",
         "2/0",
         {},
         0,
         "",
         1,
         "",
         "SELECT beginn || '/' || ende FROM public.ax_objects WHERE gml_id = 'DEHOST0000000002'",
         "2020-05-06 00:00:00/2020-05-06 22:00:00"},
        {"features named like the parser's data types or like lifespan elements are stored with their "
         "geometry and relation",
         [&] {
             std::string text;
             int n = 1;
             for (const char* type :
                  {"AX_Lagebezeichnung", "AX_DQPunktort", "AX_FOLGEVA", "AX_Gemeindekennzeichen",
                   "AX_Flurstuecksnummer", "AX_Anteil", "beginnt", "lebenszeitintervall"})
                 text += feature(type, "DEHOST000000010" + std::to_string(n++),
                                 LargePolygon(8) + "<zeigtAuf xlink:href=\"urn:adv:oid:DEHOST0000000001\"/>");
             return Doc(sound + text);
         }(),
         0,
         0,
         "",
         "9/0",
         {},
         0,
         "",
         1,
         "",
         "SELECT (SELECT string_agg(tablename, ',' ORDER BY gml_id) FROM public.ax_objects WHERE geo IS "
         "NOT NULL AND st_isvalid(geo)) || '/' || (SELECT count(*) FROM public.id_refs WHERE id_ref = "
         "'DEHOST0000000001')",
         "ax_lagebezeichnung,ax_dqpunktort,ax_folgeva,ax_gemeindekennzeichen,ax_flurstuecksnummer,ax_anteil,"
         "beginnt,lebenszeitintervall/8"},
        {"a replace whose Filter names another object, or whose fid is empty or overlong, closes nothing and "
         "stores nothing; the sound replace after them is done",
         [&] {
             const auto replace = [](const std::string& begin, const std::string& filter) {
                 return "<wfsext:Replace><AX_Gebaeude gml:id=\"DEHOST0000000002\"><lebenszeitintervall>"
                        "<AA_Lebenszeitintervall><beginnt>" +
                        begin +
                        "</beginnt></AA_Lebenszeitintervall></lebenszeitintervall></AX_Gebaeude>"
                        "<ogc:Filter>" +
                        filter + "</ogc:Filter></wfsext:Replace>";
             };
             return Doc(
                 sound + building("DEHOST0000000002", "") +
                 replace("2024-02-01T08:00:00Z",
                         "<ogc:FeatureId fid=\"DEHOST000000000120240110T080000Z\"/>") +
                 replace("2024-02-02T08:00:00Z", "<ogc:FeatureId fid=\"\"/>") +
                 replace("2024-02-03T08:00:00Z", "<ogc:FeatureId fid=\"" + std::string(300, 'F') + "\"/>") +
                 replace("2024-02-04T08:00:00Z",
                         "<ogc:FeatureId fid=\"DEHOST000000000220240110T080000Z\"/>"));
         }(),
         0,
         0,
         "",
         "3/0",
         {"Fehler beim Import bei AX_Gebaeude: DEHOST0000000002 - Der Filter der Ersetzung nennt das Objekt "
          "DEHOST0000000001, die neue Version gehört zum Objekt DEHOST0000000002.",
          "Fehler beim Import bei AX_Gebaeude: DEHOST0000000002 - Im Filter der Ersetzung: Der Identifikator "
          "ist leer",
          "Fehler beim Import bei AX_Gebaeude: DEHOST0000000002 - Im Filter der Ersetzung: Der Identifikator "
          "ist länger als 255 Zeichen (300)"},
         0,
         "",
         1,
         "",
         "SELECT (SELECT string_agg(gml_id || ' ' || beginn || ' ' || ende, ',' ORDER BY gml_id, beginn) "
         "FROM public.ax_objects) || '/' || (SELECT count(*) FROM alkistemp.ax_objects)",
         "DEHOST0000000001 2024-01-10 08:00:00 1899-12-30 00:00:00,DEHOST0000000002 2024-01-10 08:00:00 "
         "2024-02-04 08:00:00,DEHOST0000000002 2024-02-04 08:00:00 1899-12-30 00:00:00/0"},
        {"a 3-D polygon is stored with its third values",
         Doc(building("DEHOST0000000002", position3d("363620 5614800 1 363630 5614800 2 363630 5614810 3 "
                                                     "363620 5614800 1")) +
             sound),
         0,
         0,
         "",
         "2/0",
         {},
         0,
         "",
         1,
         "",
         "SELECT ST_AsText(geo) FROM public.ax_objects WHERE gml_id = 'DEHOST0000000002'",
         "POLYGON Z ((363620 5614800 1,363630 5614800 2,363630 5614810 3,363620 5614800 1))"},
        {"a 3-D coordinate list whose count is no multiple of 3 refuses its feature alone",
         Doc(building("DEHOST0000000002",
                      position3d("363620 5614800 1 363630 5614800 2 363630 5614810 363620 5614800 1")) +
             sound),
         0,
         0,
         "",
         "1/0",
         {"Fehler beim Import bei AX_Gebaeude: DEHOST0000000002 - Die Koordinaten von gml:posList lassen "
          "sich "
          "nicht in Punkte teilen: 11 Werte, 3 je Punkt."}},
        {"two geometries in one feature refuse it alone",
         Doc(building(
                 "DEHOST0000000002",
                 "<position><gml:Point srsName=\"urn:adv:crs:ETRS89_UTM32\"><gml:pos>363620 5614800</gml:pos>"
                 "</gml:Point><gml:Point><gml:pos>1 2</gml:pos></gml:Point></position>") +
             sound),
         0,
         0,
         "",
         "1/0",
         {"Fehler beim Import bei AX_Gebaeude: DEHOST0000000002 - Das Objekt hat mehr als eine Geometrie: "
          "ein "
          "weiteres Element gml:Point in position (Zeile 2, Spalte "}},
        {"a thousand warnings show one box, each is a row, and the file is read",
         Doc(building("DEHOST0000000002", warnings) + sound),
         0,
         1,
         "for xml:space",
         "2/0",
         {},
         1000},
        {"a text over the parser's size limit ends the file",
         Doc(sound + building("DEHOST0000000002", "<name>" + std::string(10'500'000, 'x') + "</name>")),
         1,
         1,
         "Ein Text ist zu groß: mehr als 10.000.000 Bytes am Stück",
         "0/0",
         {notApplied}},
        {"a feature past its bound is refused alone",
         Doc(sound +
             building("DEHOST0000000002",
                      "<name>" + piece + "<!-- -->" + piece + "<!-- -->" + piece + "</name>") +
             building("DEHOST0000000003", "")),
         0,
         0,
         "",
         "2/0",
         {"Fehler beim Import bei AX_Gebaeude: DEHOST0000000002 - Das Objekt ist zu groß: mehr als "
          "20.000.000 Bytes liest der Parser für ein Objekt nicht (Zeile 2, Spalte "}},
        {"a namespace prefix on typeName is dropped: the delete and the update close what they name",
         Doc(sound + building("DEHOST0000000002", "") + building("DEHOST0000000003", "") +
             "<wfs:Delete typeName=\"adv:AX_Gebaeude\"><ogc:Filter><ogc:FeatureId fid=\"DEHOST0000000002\"/>"
             "</ogc:Filter></wfs:Delete><wfs:Update typeName=\"adv:AX_Gebaeude\"><wfs:Property><wfs:Name>"
             "adv:lebenszeitintervall/adv:AA_Lebenszeitintervall/adv:endet</wfs:Name><wfs:Value>"
             "2024-02-01T00:00:00Z</wfs:Value></wfs:Property><ogc:Filter><ogc:FeatureId "
             "fid=\"DEHOST000000000320240110T080000Z\"/></ogc:Filter></wfs:Update>"),
         0,
         0,
         "",
         "3/0",
         {},
         0,
         "",
         1,
         "",
         "SELECT string_agg(gml_id || ' ' || CASE WHEN ende = '1899-12-30' THEN 'open' WHEN ende = "
         "'2024-02-01' THEN 'endet' ELSE 'closed' END, ',' ORDER BY gml_id) FROM public.ax_gebaeude",
         "DEHOST0000000001 open,DEHOST0000000002 closed,DEHOST0000000003 endet"},
        {"deletes whose typeName names no object table close nothing, not even the relations to the object",
         Doc(sound + building("DEHOST0000000002", "<zeigtAuf xlink:href=\"urn:adv:oid:DEHOST0000000001\"/>") +
             [] {
                 std::string text;
                 for (const char* type : {"pg_class", "pg_toast", "AX_GibtEsNicht", "AX_Lagebezeichnung"})
                     text +=
                         std::string("<wfs:Delete typeName=\"") + type +
                         "\"><ogc:Filter><ogc:FeatureId fid=\"DEHOST0000000001\"/></ogc:Filter></wfs:Delete>";
                 return text;
             }()),
         0,
         0,
         "",
         "2/0",
         {"Fehler beim Löschen des Objektes pg_class: DEHOST0000000001 - Keine Objekttabelle: pg_class",
          "Fehler beim Löschen des Objektes pg_toast: DEHOST0000000001 - Keine Objekttabelle: pg_toast",
          "Fehler beim Löschen des Objektes AX_GibtEsNicht: DEHOST0000000001 - Keine Objekttabelle: "
          "ax_gibtesnicht",
          "Fehler beim Löschen des Objektes AX_Lagebezeichnung: DEHOST0000000001 - Keine Objekttabelle: "
          "ax_lagebezeichnung"},
         0,
         "",
         1,
         "",
         "SELECT (SELECT count(*) FROM public.ax_objects WHERE ende <> '1899-12-30') || '/' || (SELECT "
         "count(*) "
         "FROM public.id_refs) || '/' || (SELECT count(*) FROM public.id_refs WHERE ende IS NOT NULL)",
         "0/1/0"},
        {"an overlong gml:id refuses its feature alone, quoted cut; the rest of the file is stored",
         Doc(sound + building(std::string(3000, 'L'), "") + building(std::string(1'000'000, 'M'), "") +
             building("DEHOST0000000003", "")),
         0,
         0,
         "",
         "2/0",
         {"Fehler beim Import bei AX_Gebaeude: " + std::string(40, 'L') +
              "… - Der Identifikator ist länger als 255 Zeichen (3000)",
          "Fehler beim Import bei AX_Gebaeude: " + std::string(40, 'M') +
              "… - Der Identifikator ist länger als 255 Zeichen (1000000)"}},
        {"a feature element named like a header element is the feature, not a header",
         Doc(sound +
             Member(
                 "<crs gml:id=\"DEHOST0000000002\"><gml:identifier "
                 "codeSpace=\"x\">urn:adv:oid:DEHOST0000000002"
                 "</gml:identifier><lebenszeitintervall><AA_Lebenszeitintervall><beginnt>2024-01-10T08:00:00Z"
                 "</beginnt></AA_Lebenszeitintervall></lebenszeitintervall></crs>") +
             building("DEHOST0000000003", "")),
         0,
         0,
         "",
         "2/0",
         {"Fehler beim Anlegen der Tabelle - Name bereits von einer anderen Relation belegt: crs",
          "Fehler beim Import bei crs: DEHOST0000000002 - Die Objektart hat keine Tabelle, das Objekt "
          "wird nicht gespeichert."}},
        {"a geometry of some 9 MB loads",
         Doc(sound + building("DEHOST0000000002", LargePolygon(380'000))),
         0,
         0,
         "",
         "2/0",
         {}},
        {"an exception report of a WFS is no NAS data: said once, nothing taken over",
         "<?xml version=\"1.0\"?>\n<ows:ExceptionReport xmlns:ows=\"http://www.opengis.net/ows/1.1\" "
         "version=\"2.0.0\"><ows:Exception exceptionCode=\"OperationProcessingFailed\"><ows:ExceptionText>"
         "<![CDATA[java.lang.RuntimeException: timeout]]></ows:ExceptionText></ows:Exception>"
         "</ows:ExceptionReport>\n",
         1,
         0,
         "",
         "0/0",
         {"enthält keine NAS-Daten (Wurzelelement ows:ExceptionReport, erster Text: "
          "\"java.lang.RuntimeException: "
          "timeout\") und wird nicht gelesen."}},
        {"any other XML, though it holds a feature and a protocol, is no NAS data",
         std::string("<html><body><erlaeuterung><![CDATA[<Protocol><statistik><objektmenge "
                     "objektart=\"AX_Gebaeude\"><objektanzahl>1</objektanzahl></objektmenge></statistik>"
                     "</Protocol>]]></erlaeuterung>") +
             "<featureMember><AX_Gebaeude><gebaeudefunktion>2000</gebaeudefunktion></AX_Gebaeude>"
             "</featureMember></body></html>",
         1,
         0,
         "",
         "0/0",
         {"enthält keine NAS-Daten (Wurzelelement html, erster Text: \"<Protocol>"}},
        {"entities that expand without end",
         Doc(sound + building("DEHOST0000000002", "<name>&h;</name>"), "AX_Bestandsdatenauszug",
             "<!DOCTYPE AX_Bestandsdatenauszug [<!ENTITY a \"aaaaaaaaaa\">"
             "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
             "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
             "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">"
             "<!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\">]>"),
         1,
         1,
         "entit",
         "0/0",
         {notApplied}},
        {"one large entity referenced again and again",
         Doc(sound + building(
                         "DEHOST0000000002", "<name>" +
                                                 [] {
                                                     std::string refs;
                                                     for (int i = 0; i < 2000; ++i)
                                                         refs += "&big;";
                                                     return refs;
                                                 }() +
                                                 "</name>"),
             "AX_Bestandsdatenauszug",
             "<!DOCTYPE AX_Bestandsdatenauszug [<!ENTITY big \"" + std::string(100000, 'x') + "\">]>"),
         1,
         1,
         "zu viel Text",
         "0/0",
         {notApplied}},
        {"a file that is not XML",
         "{\"type\": \"FeatureCollection\"}\n",
         1,
         1,
         "Start tag expected",
         "0/0",
         {notApplied}},
        {"an attribute value over the parser's size limit",
         Doc(sound + building("DEHOST0000000002", "<name a=\"" + std::string(10'500'000, 'x') + "\"/>")),
         1,
         1,
         "zu groß",
         "0/0",
         {notApplied}},
        {"the forms of GeoInfoDok 7 are not read, and the run says so",
         Doc("<enthaelt><w:FeatureCollection xmlns:w=\"http://www.opengis.net/wfs/2.0\"><w:member>" +
             sound.substr(sound.find("<AX_"), sound.rfind("</gml:featureMember>") - sound.find("<AX_")) +
             "</w:member></w:FeatureCollection></enthaelt>"),
         1,
         0,
         "",
         "0/0",
         {"hat die Form der GeoInfoDok 7 (wfs:member, fes:ResourceId), die nicht gelesen wird."}},
        {"a reference system the crs table lacks: stored as the standard one, said once a file",
         Doc(standardUtm32 + point("DEHOST0000000002", "LOKAL_RP_UTM32000") +
             point("DEHOST0000000003", "LOKAL_RP_UTM32000") + sound),
         0,
         0,
         "",
         "3/0",
         {"Das Bezugssystem LOKAL_RP_UTM32000 der Datei file steht nicht in der Tabelle crs; seine "
          "Geometrien werden als ETRS89_UTM32 (SRID 25832) gespeichert.",
          "Das Bezugssystem LOKAL_RP_UTM32000 der Datei file steht nicht in der Tabelle crs"},
         0,
         "",
         2},
        {"object types named like the database's own names are refused, their tables not made, the rest "
         "stored",
         Doc(feature("pg_class", "DEHOST0000000002", "") + feature("select", "DEHOST0000000003", "") +
             feature("alkistemp", "DEHOST0000000004", "") + sound),
         0,
         0,
         "",
         "1/0",
         {"Fehler beim Anlegen der Tabelle - Name ist der Datenbank vorbehalten, keine Objektart: pg_class",
          "Fehler beim Import bei pg_class: DEHOST0000000002 - Die Objektart hat keine Tabelle",
          "Fehler beim Anlegen der Tabelle - SQL-Schlüsselwort, keine Objektart: select",
          "Fehler beim Import bei select: DEHOST0000000003 - Die Objektart hat keine Tabelle",
          "Fehler beim Anlegen der Tabelle - Name ist der Datenbank vorbehalten, keine Objektart: alkistemp",
          "Fehler beim Import bei alkistemp: DEHOST0000000004 - Die Objektart hat keine Tabelle"},
         0,
         "",
         1,
         "",
         "SELECT count(*) FROM pg_tables WHERE schemaname IN ('public', 'alkistemp') AND tablename IN "
         "('pg_class', 'select', 'alkistemp')",
         "0"},
        {"points of a zone-prefixed system the crs table lacks cannot go to 4326: they stay and are named, "
         "the others are transformed, the run ends with failures",
         Doc(standardUtm32 + point("DEHOST0000000002", "LOKAL_RP_UTM32000") +
             building("DEHOST0000000003", "<position><gml:Point srsName=\"urn:adv:crs:ETRS89_UTM32\">"
                                          "<gml:pos>349600.5 5500000.25</gml:pos></gml:Point></position>") +
             sound),
         1,
         0,
         "",
         "3/0",
         {"Das Bezugssystem LOKAL_RP_UTM32000 der Datei file steht nicht in der Tabelle crs",
          "Fehler beim Transformieren der Geometrien\".  - 1 von 2 Geometrien lassen sich nicht nach SRID "
          "4326 "
          "transformieren und bleiben unverändert: ax_gebaeude DEHOST0000000002 (Grund bei der ersten: "
          "transform: Point outside of projection domain (2050))"},
         0,
         "--post-processing --target-srid 4326",
         1,
         "",
         "SELECT string_agg(gml_id || ' ' || ST_SRID(geo), ', ' ORDER BY gml_id) FROM ax_gebaeude WHERE geo "
         "IS NOT NULL",
         "DEHOST0000000002 25832, DEHOST0000000003 4326"},
        {"a reference system of a name longer than any real one is passed over, said once",
         Doc(systems(2, 300) + sound),
         0,
         0,
         "",
         "1/0",
         {"): ein Name von mehr als 255 Zeichen."}},
        {"more reference systems than any run announces: the rest is passed over, said once",
         Doc(systems(10'002, 10) + sound),
         0,
         0,
         "",
         "1/0",
         {"): mehr als 10.000 in einem Lauf."}},
        {"a file imported twice: its announced numbers count once",
         Doc(protocol + sound),
         0,
         0,
         "",
         "1/1",
         {},
         0,
         "",
         2,
         "",
         "SELECT string_agg(fileid || ':' || obj_art || '=' || obj_anzahl, ',') FROM statistics",
         "file:AX_Gebaeude=1"},
        {"a file whose parse fails counts none of its announced numbers",
         Doc(protocol + sound + building("DEHOST0000000002", "<name>M&uuml;ller</name>")),
         1,
         1,
         "Entity 'uuml' not defined",
         "0/0",
         {notApplied}},
        {"a failed integration: said once, nothing of the file stays, the file after it is not read",
         Doc(protocol + sound),
         1,
         0,
         "",
         "0/0",
         {"Fehler beim Integrieren der temporären Daten.  - function temp2alkis() does not exist",
          notApplied},
         0,
         "",
         2,
         "DROP FUNCTION temp2alkis()",
         "SELECT count(*) FROM alkistemp.ax_objects",
         "0"},
        {"post-processing after the file",
         Doc(sound),
         0,
         0,
         "",
         "1/0",
         {},
         0,
         "--post-processing",
         1,
         "",
         typeZeroRows,
         "Temporäre Daten integrieren ...|Aktualisiere Umsetzungstabelle ...|Erzeuge Indizes ...|"
         "Bearbeite geometry_columns ... |Transformiere Geometrien ... "},
        {"a failed post-processing step: said, the others run, the run ends with failures",
         Doc(sound),
         1,
         0,
         "",
         "1/0",
         {"Fehler beim Erzeugen der Indizes.  - function fkt_create_indizes() does not exist"},
         0,
         "--post-processing",
         1,
         "DROP FUNCTION fkt_create_indizes()",
         "SELECT string_agg(beschreibung, '|' ORDER BY ctid) FROM logs WHERE meldetyp = 1 OR beschreibung "
         "LIKE 'Bearbeite%'",
         "Fehler beim Erzeugen der Indizes.  - function fkt_create_indizes() does not exist|"
         "Bearbeite geometry_columns ... "},
        {"the connection lost in post-processing: the steps after it are skipped, the run ends with failures",
         Doc(sound),
         1,
         0,
         "",
         "1/0",
         {},
         0,
         "--post-processing",
         1,
         "DROP FUNCTION fkt_create_indizes(); CREATE FUNCTION fkt_create_indizes() RETURNS void LANGUAGE sql "
         "AS $$ SELECT pg_terminate_backend(pg_backend_pid()) $$",
         typeZeroRows,
         "Temporäre Daten integrieren ...|Aktualisiere Umsetzungstabelle ...|Erzeuge Indizes ..."},
    };
    // A folder of this run's own: runs of other checkouts may be going on at the same time.
    std::string dirTemplate = (std::filesystem::temp_directory_path() / "kelpora-hostile-XXXXXX").string();
    ASSERT_NE(mkdtemp(dirTemplate.data()), nullptr);
    const std::filesystem::path dir = dirTemplate;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TTestDatabase db;
        const std::string file = (dir / "file.xml").string(), errors = (dir / "errors.txt").string();
        std::ofstream(file, std::ios::binary) << c.text;
        if (!c.setup.empty())
            db.Exec(c.setup);
        std::string files;
        for (int i = 0; i < c.times; ++i)
            files += " " + file;
        int status = -1;
        const std::string out =
            RunBench("--db " + Quoted(db.ConnInfo()) + " " + c.options + files, status, errors);
        const std::vector<std::string> boxes = Boxes(errors);
        EXPECT_EQ(status, c.status) << out;
        ASSERT_EQ(boxes.size(), c.boxes) << (boxes.empty() ? out : boxes[0]);
        if (!boxes.empty()) {
            EXPECT_NE(boxes[0].find(c.firstBox), std::string::npos) << boxes[0];
        }
        EXPECT_EQ(db.Scalar("SELECT (SELECT count(*) FROM public.ax_objects) || '/' || (SELECT count(*) FROM "
                            "statistics)"),
                  c.stored);
        std::vector<std::string> errorRows;
        std::size_t warningRows = 0;
        for (const auto& row : db.Query("SELECT meldetyp, beschreibung FROM logs ORDER BY ctid")) {
            if (row[0] == "1")
                errorRows.push_back(row[1].value_or(""));
            warningRows += row[1].value_or("").starts_with("Warnung beim Lesen der Datei");
        }
        ASSERT_EQ(errorRows.size(), c.errors.size()) << (errorRows.empty() ? out : errorRows[0]);
        for (std::size_t i = 0; i < errorRows.size(); ++i)
            EXPECT_NE(errorRows[i].find(c.errors[i]), std::string::npos) << errorRows[i];
        EXPECT_EQ(warningRows, c.warnings);
        if (!c.query.empty()) {
            EXPECT_EQ(db.Scalar(c.query), c.answer);
        }
    }
    std::filesystem::remove_all(dir);
}

// A first run of the benchmark makes the staging tables; then every staging table runs `action` (a
// PL/pgSQL statement) for each row that `when` holds for, counting the rows in `staged_rows`. The
// benchmark's arguments up to the files.
std::string WithStagingTrigger(TTestDatabase& db, const std::string& when, const std::string& action) {
    const std::string conninfo = "--db " + Quoted(db.ConnInfo()) + " --no-relations ";
    int status = 0;
    RunBench(conninfo + TestDataDir() + "/bestand_bonn.xml", status);
    EXPECT_EQ(status, 0);
    db.Exec("CREATE SEQUENCE staged_rows");
    db.Exec("CREATE FUNCTION spoil() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF " + when + " THEN " +
            action + "; END IF; RETURN NEW; END $$");
    db.Exec("DO $$ DECLARE t text; BEGIN FOR t IN SELECT c.relname FROM pg_inherits i JOIN pg_class c ON "
            "c.oid = i.inhrelid WHERE i.inhparent = 'alkistemp.ax_objects'::regclass LOOP EXECUTE "
            "format('CREATE TRIGGER spoil BEFORE INSERT ON alkistemp.%I FOR EACH ROW EXECUTE FUNCTION "
            "spoil()', t); END LOOP; END $$");
    return conninfo;
}

// The server ends the benchmark's session at the third feature the first file writes (a trigger on the
// staging tables terminates its own backend): the run stops with status 1 and the one message of the lost
// connection, and the second file is not read.
TEST(ImportBench, LostConnectionEndsTheRunWithStatusOne) {
    TTestDatabase db;
    const std::string conninfo = WithStagingTrigger(db, "nextval('staged_rows') = 3",
                                                    "PERFORM pg_terminate_backend(pg_backend_pid())");
    int status = 0;
    const std::string out = RunBench(
        conninfo + TestDataDir() + "/bestand_bonn.xml " + TestDataDir() + "/nba_bonn.xml", status, "&1");
    EXPECT_EQ(status, 1) << out;
    const std::string lost = "Die Verbindung zur Datenbank ist abgebrochen.";
    const std::size_t first = out.find(lost);
    ASSERT_NE(first, std::string::npos) << out;
    EXPECT_EQ(out.find(lost, first + 1), std::string::npos) << out;
    EXPECT_EQ(out.find("Fehler"), std::string::npos) << out;
    EXPECT_EQ(out.find("bestand_bonn.xml: features:"), std::string::npos) << out;
    EXPECT_EQ(out.find("nba_bonn.xml"), std::string::npos) << out;
}

// The disk fills up while the first of two files is staged (from the third row on, every staging table
// refuses its rows with the server's SQLSTATE 53100): the file ends with one report and is rolled back, the
// second file is not read, and the run ends with failures, status 1.
TEST(ImportBench, FullDiskEndsTheFileAndTheRunWithStatusOne) {
    TTestDatabase db;
    const std::string diskFull = "could not extend file \"base/16384/16385\": No space left on device";
    const std::string conninfo = WithStagingTrigger(
        db, "nextval('staged_rows') >= 3", "RAISE EXCEPTION '" + diskFull + "' USING ERRCODE = '53100'");
    const std::string stored = db.Scalar("SELECT count(*) FROM public.ax_objects");
    const std::string rowsBefore = db.Scalar("SELECT count(*) FROM logs");
    int status = 0;
    const std::string out = RunBench(
        conninfo + TestDataDir() + "/bestand_bonn.xml " + TestDataDir() + "/nba_bonn.xml", status, "&1");
    EXPECT_EQ(status, 1) << out;
    EXPECT_EQ(out.find("nba_bonn.xml"), std::string::npos) << out;
    EXPECT_NE(out.find("Import mit Fehlern abgeschlossen."), std::string::npos) << out;
    std::vector<std::string> errorRows;
    for (const auto& row : db.Query(std::string("SELECT beschreibung FROM logs WHERE meldetyp = 1 AND ") +
                                    kNoDesignNote + " ORDER BY ctid"))
        errorRows.push_back(row[0].value_or(""));
    ASSERT_EQ(errorRows.size(), 2u) << out;
    EXPECT_NE(errorRows[0].find(diskFull), std::string::npos) << errorRows[0];
    EXPECT_NE(errorRows[1].find("wurde nicht übernommen: nichts von ihr ist in der Datenbank."),
              std::string::npos)
        << errorRows[1];
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.ax_objects"), stored);
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM alkistemp.ax_objects"), "0");
    EXPECT_GT(std::stoll(db.Scalar("SELECT count(*) FROM logs")), std::stoll(rowsBefore));
}

// A database that takes no changes (default_transaction_read_only) is not reported as a success: the run
// does not start, says why once on standard error, reads no file and claims nothing written, and the status
// is 1; whether the run log is still to be made or only to be written.
TEST(ImportBench, ReadOnlyDatabaseEndsTheRunBeforeItStarts) {
    for (const bool logsThere : {false, true}) {
        SCOPED_TRACE(logsThere ? "with the run log there" : "without the run log");
        TTestDatabase db;
        if (logsThere)
            db.Exec("CREATE TABLE public.logs( lfd_nr_umsetz integer, zeitpunkt timestamp without time zone, "
                    "meldetyp integer, beschreibung text)");
        db.Exec("ALTER DATABASE " + db.Name() + " SET default_transaction_read_only = on");
        int status = 0;
        const std::string errors = ::testing::TempDir() + "kelpora-read-only-errors.txt";
        const std::string out = RunBench(
            "--db " + Quoted(db.ConnInfo()) + " " + TestDataDir() + "/bestand_bonn.xml", status, errors);
        EXPECT_EQ(status, 1) << out;
        EXPECT_EQ(out, ""); // no file read, nothing claimed written
        std::vector<std::string> said;
        std::ifstream in(errors);
        for (std::string line; std::getline(in, line);)
            if (line.find("kelpora-import-bench") != std::string::npos ||
                line.find("read-only") != std::string::npos)
                said.push_back(line);
        EXPECT_EQ(said,
                  std::vector<std::string>{std::string("kelpora-import-bench: Die Datenbank nimmt keine "
                                                       "Änderungen an: cannot execute ") +
                                           (logsThere ? "INSERT" : "CREATE TABLE") +
                                           " in a read-only transaction - der Import wird nicht begonnen."});
        EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.ax_objects"), "0");
        EXPECT_EQ(db.Scalar("SELECT to_regclass('public.logs') IS NULL"), logsThere ? "f" : "t");
    }
}

namespace {

// An extract of two buildings begun at 07:00, or an update replacing both with versions begun at `begin`.
std::string TwoBuildings(const std::string& begin, bool extract) {
    std::string body;
    for (const char* id : {"DECONC0000000001", "DECONC0000000002"}) {
        const std::string feature =
            std::string("<AX_Gebaeude gml:id=\"") + id +
            "\"><lebenszeitintervall><AA_Lebenszeitintervall><beginnt>" + begin +
            "</beginnt></AA_Lebenszeitintervall></lebenszeitintervall><gebaeudefunktion>" +
            (extract ? "2000" : "3000") +
            "</gebaeudefunktion><zeigtAuf xlink:href=\"urn:adv:oid:DECONC000000000" +
            (id[15] == '1' ? "2" : "1") + "\"/></AX_Gebaeude>";
        body += extract ? Member(feature)
                        : "<wfsext:Replace vendorId=\"AdV\" safeToIgnore=\"false\">" + feature +
                              "<ogc:Filter><ogc:FeatureId fid=\"" + id + "\"/></ogc:Filter></wfsext:Replace>";
    }
    return extract ? Doc(body)
                   : Doc("<geaenderteObjekte><wfs:Transaction version=\"1.0.0\" service=\"WFS\">" + body +
                             "</wfs:Transaction></geaenderteObjekte>",
                         "AX_NutzerbezogeneBestandsdatenaktualisierung_NBA");
}

// The versions and relations the database holds, begins and ends.
std::vector<std::string> VersionsAndRelations(TTestDatabase& db) {
    std::vector<std::string> out;
    for (const char* sql :
         {"SELECT concat_ws('|', gml_id, beginn, ende, gebaeudefunktion) FROM public.ax_gebaeude ORDER BY 1",
          "SELECT concat_ws('|', gml_id, id_ref, beginn, ende) FROM public.id_refs ORDER BY 1"})
        for (const auto& row : db.Query(sql))
            out.push_back(row[0].value_or("<null>"));
    return out;
}

// Whether `sessions` sessions wait for an advisory lock in the database (bounded: a few tens of seconds at
// most).
bool SessionsWaiting(TTestDatabase& db, int sessions) {
    for (int i = 0; i < 600; ++i) {
        if (db.Scalar(
                "SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND NOT granted AND database = "
                "(SELECT oid FROM pg_database WHERE datname = current_database())") ==
            std::to_string(sessions))
            return true;
        usleep(50'000);
    }
    return false;
}

} // namespace

// Two imports started together into one database, each replacing the same two buildings with versions of
// its own begin: the second waits for the first and says so, the two runs get numbers of their own, no
// building has two current versions, and the database holds exactly what the two files imported one after
// the other in a second database hold. So that both are surely under way at once, each first stops at its
// first staged row (a trigger waits for a lock the test holds) until both have started.
TEST(ImportBench, ImportsIntoOneDatabaseFollowOneAnother) {
    TTestDatabase db, sequential;
    std::string dirTemplate = (std::filesystem::temp_directory_path() / "kelpora-together-XXXXXX").string();
    ASSERT_NE(mkdtemp(dirTemplate.data()), nullptr);
    const std::filesystem::path dir = dirTemplate;
    const std::string extract = (dir / "extract.xml").string(), early = (dir / "early.xml").string(),
                      late = (dir / "late.xml").string();
    std::ofstream(extract) << TwoBuildings("2024-01-10T07:00:00Z", true);
    std::ofstream(early) << TwoBuildings("2024-01-10T08:00:00Z", false);
    std::ofstream(late) << TwoBuildings("2024-01-10T09:00:00Z", false);
    for (TTestDatabase* d : {&db, &sequential}) {
        int status = -1;
        RunBench("--db " + Quoted(d->ConnInfo()) + " " + extract, status);
        ASSERT_EQ(status, 0);
    }
    db.Exec("CREATE FUNCTION hold() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN PERFORM "
            "pg_advisory_xact_lock_shared(4242); RETURN NEW; END $$; CREATE TRIGGER hold BEFORE INSERT ON "
            "alkistemp.ax_gebaeude FOR EACH ROW EXECUTE FUNCTION hold()");
    db.Exec("SELECT pg_advisory_lock(4242)");
    TBenchProcess first("--db " + Quoted(db.ConnInfo()) + " " + early);
    EXPECT_TRUE(SessionsWaiting(db, 1));
    TBenchProcess second("--db " + Quoted(db.ConnInfo()) + " " + late);
    EXPECT_TRUE(SessionsWaiting(db, 2));
    db.Exec("SELECT pg_advisory_unlock(4242)");
    const std::string firstOut = first.Finish(), secondOut = second.Finish();
    EXPECT_EQ(first.status, 0) << firstOut;
    EXPECT_EQ(second.status, 0) << secondOut;

    // Each run has a number of its own, and the second said that it waited.
    EXPECT_EQ(
        db.Scalar("SELECT count(DISTINCT lfd_nr_umsetz) FROM logs WHERE beschreibung = 'Temporäre Daten "
                  "integrieren ...'"),
        "3");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM logs WHERE beschreibung = 'Warte auf einen anderen Import in "
                        "diese Datenbank ...'"),
              "1");
    // The order in which the files were written: a transaction's id is handed out at its first write, after
    // it got its lock.
    EXPECT_EQ(db.Scalar("SELECT (SELECT max(xmin::text::bigint) FROM public.ax_gebaeude WHERE beginn = "
                        "'2024-01-10 08:00') < (SELECT min(xmin::text::bigint) FROM public.ax_gebaeude WHERE "
                        "beginn = '2024-01-10 09:00')"),
              "t");
    EXPECT_EQ(
        db.Scalar("SELECT count(*) FROM (SELECT gml_id FROM public.ax_objects WHERE ende IS NULL OR ende = "
                  "'1899-12-30' GROUP BY gml_id HAVING count(*) > 1) c"),
        "0");
    for (const std::string& file : {early, late}) {
        int status = -1;
        RunBench("--db " + Quoted(sequential.ConnInfo()) + " " + file, status);
        EXPECT_EQ(status, 0);
    }
    EXPECT_EQ(VersionsAndRelations(db), VersionsAndRelations(sequential));
    EXPECT_EQ(VersionsAndRelations(db).size(),
              12u); // three versions of each building, each with its relation
    std::filesystem::remove_all(dir);
}

} // namespace
