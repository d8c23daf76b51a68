#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "SchemaFixture.h"
#include "TestDatabase.h"

namespace {
// The object types of the real Bonn data: one slice file per type, and the features the composed
// extracts and updates hold (the element after the one that opens a feature).
std::vector<std::string> RealObjectTypes() {
    std::vector<std::string> types;
    for (const auto& entry : std::filesystem::directory_iterator(TestDataDir() + "/slices"))
        if (entry.path().extension() == ".xml")
            types.push_back(entry.path().stem().string());
    const std::regex feature(
        R"(<(?:\w+:)?(?:featureMember|member|Insert|Replace)(?:\s[^>]*)?>\s*<(?:\w+:)?(\w+))");
    for (const auto& entry : std::filesystem::directory_iterator(TestDataDir()))
        if (entry.path().extension() == ".xml") {
            std::ifstream in(entry.path());
            const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            for (std::sregex_iterator m(text.begin(), text.end(), feature), end; m != end; ++m)
                types.push_back((*m)[1]);
        }
    return types;
}

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

// One column of the list of ALKIS object types and attribute columns (tests/dbschema/alkis_catalogue.tsv):
// the attribute lines of parse that hold its values, or the relation role it is.
struct TListColumn {
    std::string oa;
    std::string kennung;
    std::string column;
    std::string sqlType;
    std::vector<std::string> lines;
    std::string relation;
    std::string where;
};

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    for (std::size_t from = 0;;) {
        const std::size_t at = text.find(separator, from);
        pieces.push_back(text.substr(from, at == std::string::npos ? at : at - from));
        if (at == std::string::npos)
            return pieces;
        from = at + 1;
    }
}

std::vector<TListColumn> ListColumns() {
    const std::string path = KELPORA_SOURCE_DIR "/tests/dbschema/alkis_catalogue.tsv";
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << path;
    std::vector<TListColumn> columns;
    std::string text;
    for (int number = 1; std::getline(in, text); ++number) {
        if (text.empty() || text[0] == '#')
            continue;
        const std::vector<std::string> fields = Split(text, '\t');
        const std::string where = "alkis_catalogue.tsv:" + std::to_string(number);
        EXPECT_EQ(fields.size(), 5u) << where;
        if (fields.size() != 5)
            continue;
        TListColumn c{fields[0], fields[1], fields[2], fields[3], {}, {}, where};
        constexpr std::string_view kRelation = "relation:";
        if (fields[4].starts_with(kRelation))
            c.relation = fields[4].substr(kRelation.size());
        else
            c.lines = Split(fields[4], ',');
        columns.push_back(std::move(c));
    }
    return columns;
}

// A row of parse: its column and type code.
struct TParseRow {
    std::string column;
    int attrtyp;
};

// The rows of parse by object type and attribute line.
std::map<std::pair<std::string, std::string>, TParseRow> ParseRows(TTestDatabase& db) {
    std::map<std::pair<std::string, std::string>, TParseRow> rows;
    for (const auto& row : db.Query("SELECT oa, attrart, attrartkennung, attrtyp FROM parse"))
        rows[{*row[0], *row[1]}] = {*row[2], std::stoi(*row[3])};
    return rows;
}
} // namespace

TEST(ParseTable, CoversTheRealObjectTypesAndTheCommonAlkisTypes) {
    TTestDatabase db;
    std::vector<std::string> types = RealObjectTypes();
    ASSERT_GE(std::set<std::string>(types.begin(), types.end()).size(), 12u);
    ASSERT_GE(types.size(), 12u + 12u * 2 + 2u); // the extracts' features and the updates' insert and replace
    for (const char* common : {"AX_Flurstueck",
                               "AX_Gebaeude",
                               "AX_LagebezeichnungMitHausnummer",
                               "AX_LagebezeichnungOhneHausnummer",
                               "AX_PunktortAU",
                               "AX_PunktortAG",
                               "AX_PunktortTA",
                               "AX_Aufnahmepunkt",
                               "AX_Grenzpunkt",
                               "AX_Buchungsblatt",
                               "AX_Buchungsstelle",
                               "AX_Namensnummer",
                               "AX_Person",
                               "AX_Anschrift",
                               "AX_Gemarkung",
                               "AX_Gemeinde",
                               "AX_Wohnbauflaeche",
                               "AX_IndustrieUndGewerbeflaeche",
                               "AX_FlaecheGemischterNutzung",
                               "AX_SportFreizeitUndErholungsflaeche",
                               "AX_Friedhof",
                               "AX_Strassenverkehr",
                               "AX_Weg",
                               "AX_Platz",
                               "AX_Bahnverkehr",
                               "AX_Landwirtschaft",
                               "AX_Wald",
                               "AX_Gehoelz",
                               "AX_Heide",
                               "AX_Fliessgewaesser",
                               "AX_StehendesGewaesser",
                               "AX_Hoehenfestpunkt"})
        types.push_back(common);
    // beside them in real deliveries (a Rheinland-Pfalz extract)
    for (const char* delivered : {"AP_PTO",
                                  "AP_PPO",
                                  "AP_LPO",
                                  "AP_LTO",
                                  "AP_Darstellung",
                                  "AX_Bewertung",
                                  "AX_Bodenschaetzung",
                                  "AX_HistorischesFlurstueckALB",
                                  "AX_BesondererGebaeudepunkt",
                                  "AX_BesondereGebaeudelinie",
                                  "AX_Bauteil",
                                  "AX_GrablochDerBodenschaetzung",
                                  "AX_MusterLandesmusterUndVergleichsstueck",
                                  "AX_BauwerkOderAnlageFuerIndustrieUndGewerbe",
                                  "AX_SonstigesBauwerkOderSonstigeEinrichtung",
                                  "AX_BauwerkImVerkehrsbereich",
                                  "AX_KlassifizierungNachStrassenrecht",
                                  "AX_Denkmalschutzrecht",
                                  "AX_Gemeindeteil",
                                  "AX_Verwaltungsgemeinschaft",
                                  "AX_Gewann",
                                  "AX_KommunalesGebiet"})
        types.push_back(delivered);
    for (const std::string& type : types) {
        EXPECT_NE(db.Scalar("SELECT count(*) FROM parse WHERE oa = " + Quote(type)), "0") << type;
        // "nach Objektartengruppen" needs exactly one group per type.
        EXPECT_EQ(
            db.Scalar(
                "SELECT count(*) FROM (select distinct oa, substring(cast (oakennung as varchar) from 1 "
                "for 2) as og from parse order by oa) g WHERE oa = " +
                Quote(type)),
            "1")
            << type;
    }
    EXPECT_EQ(db.Scalar("SELECT DISTINCT oakennung FROM parse WHERE oa = 'AX_Flurstueck'"), "11001");
    EXPECT_EQ(db.Scalar("SELECT DISTINCT oakennung FROM parse WHERE oa = 'AX_Gebaeude'"), "31001");
    EXPECT_EQ(db.Scalar("SELECT DISTINCT oakennung FROM parse WHERE oa = 'AX_Bewertung'"), "72004");
    EXPECT_EQ(db.Scalar("SELECT DISTINCT oakennung FROM parse WHERE oa = 'AX_Gemeinde'"), "73005");
}

TEST(ParseTable, NamesTheAttributeLinesOfTheRealDataAsTheParserBuildsThem) {
    TTestDatabase db;
    struct Case {
        const char* oa;
        const char* attrart;
        const char* column;
        int attrtyp;
    };
    // Lines the parser makes from the Bonn features; data-type members are outer_inner.
    const std::vector<Case> cases = {
        {"AX_Flurstueck", "gemarkung_land", "gemarkung_land", 1},
        {"AX_Flurstueck", "gemarkung_gemarkungsnummer", "gemarkung_gemarkungsnummer", 1},
        {"AX_Flurstueck", "flurstuecksnummer_zaehler", "flurstuecksnummer_zaehler", 2},
        {"AX_Flurstueck", "flurstueckskennzeichen", "flurstueckskennzeichen", 0},
        {"AX_Flurstueck", "amtlicheFlaeche", "amtlicheflaeche", 3},
        {"AX_Flurstueck", "flurnummer", "flurnummer", 2},
        {"AX_Flurstueck", "abweichenderRechtszustand", "abweichenderrechtszustand", 4},
        {"AX_Flurstueck", "rechtsbehelfsverfahren", "rechtsbehelfsverfahren", 4},
        {"AX_Flurstueck", "zeitpunktDerEntstehung", "zeitpunktderentstehung", 0},
        {"AX_Flurstueck", "gemeindezugehoerigkeit_gemeinde", "gemeindezugehoerigkeit_gemeinde", 1},
        {"AX_BesondereFlurstuecksgrenze", "artDerFlurstuecksgrenze", "artderflurstuecksgrenze", 0},
        {"AX_Aufnahmepunkt", "punktkennung", "punktkennung", 0},
        {"AX_Aufnahmepunkt", "zustaendigeStelle_stelle", "zustaendigestelle_stelle", 0}, // "U2129"
        {"AX_Aufnahmepunkt", "vermarkung_Marke", "vermarkung_marke", 1},
        {"AX_Aufnahmepunkt", "sonstigeEigenschaft", "sonstigeeigenschaft", 0},
        {"AX_Fahrwegachse", "funktion", "funktion", 1},
        {"AX_Fahrwegachse", "breiteDesVerkehrsweges", "breitedesverkehrsweges", 3},
        {"AX_Gebaeude", "gebaeudefunktion", "gebaeudefunktion", 1},
        {"AX_LagebezeichnungOhneHausnummer", "lagebezeichnung_unverschluesselt",
         "lagebezeichnung_unverschluesselt", 0},
        {"AX_PunktortAU", "kartendarstellung", "kartendarstellung", 4},
        {"AX_PunktortAU", "koordinatenstatus", "koordinatenstatus", 1},
        {"AX_PunktortAU", "qualitaetsangaben_herkunft", "qualitaetsangaben_herkunft", 6},
        {"AX_PunktortAU", "qualitaetsangaben_genauigkeitsstufe", "qualitaetsangaben_genauigkeitsstufe", 1},
        {"AX_PunktortAU", "hoehe_5783", "hoehe_5783", 0},
        {"AX_PunktortAU", "DE_DHHN2016_NH", "de_dhhn2016_nh", 0},
        {"AX_PunktortAU", "ETRS89_h", "etrs89_h", 0},
        {"AX_Strassenverkehr", "name_unverschluesselt", "name_unverschluesselt", 0},
        {"AX_Turm", "bauwerksfunktion", "bauwerksfunktion", 1},
        {"AX_Wald", "vegetationsmerkmal", "vegetationsmerkmal", 1},
        {"AX_Hoehenfestpunkt", "hoehe_7837", "hoehe_7837", 0},
        {"AX_Gebaeude", "qualitaetsangaben_herkunft", "qualitaetsangaben_herkunft", 6},
        {"AX_Turm", "qualitaetsangaben_herkunft", "qualitaetsangaben_herkunft", 6},
        // attributes every object type inherits
        {"AX_Flurstueck", "anlass", "anlass", 0},
        {"AP_PTO", "anlass", "anlass", 0},
        // the object types of real deliveries beside them
        {"AP_PTO", "schriftinhalt", "schriftinhalt", 0},
        {"AP_PTO", "drehwinkel", "drehwinkel", 3},
        {"AP_PTO", "horizontaleAusrichtung", "horizontaleausrichtung", 0}, // "linksbündig"
        {"AP_PTO", "darstellungsprioritaet", "darstellungsprioritaet", 2},
        {"AP_PPO", "signaturnummer", "signaturnummer", 0},
        {"AX_Bewertung", "klassifizierung", "klassifizierung", 1},
        {"AX_Bodenschaetzung", "kulturart", "kulturart", 1},
        {"AX_Bodenschaetzung", "entstehungsartOderKlimastufeWasserverhaeltnisse",
         "entstehungsartoderklimastufewasserverhaeltnisse", 0}, // repeatable
        {"AX_Bodenschaetzung", "bodenzahlOderGruenlandgrundzahl", "bodenzahlodergruenlandgrundzahl", 0},
        {"AX_HistorischesFlurstueckALB", "flurstueckskennzeichen", "flurstueckskennzeichen", 0},
        {"AX_HistorischesFlurstueckALB", "flurstuecksnummer_zaehler", "flurstuecksnummer_zaehler", 2},
        {"AX_HistorischesFlurstueckALB", "nachfolgerFlurstueckskennzeichen",
         "nachfolgerflurstueckskennzeichen", 0},
        {"AX_BesondererGebaeudepunkt", "punktkennung", "punktkennung", 0},
        {"AX_Gemeinde", "gemeindekennzeichen_land", "gemeindekennzeichen_land", 1},
        {"AX_Gemeinde", "gemeindekennzeichen_regierungsbezirk", "gemeindekennzeichen_regierungsbezirk", 1},
        {"AX_Gemeinde", "gemeindekennzeichen_kreis", "gemeindekennzeichen_kreis", 1},
        {"AX_Gemeinde", "gemeindekennzeichen_gemeinde", "gemeindekennzeichen_gemeinde", 1},
        {"AX_Gemeinde", "schluesselGesamt", "schluesselgesamt", 0},
        // a data type the parser does not flatten: its members are lines of their own
        {"AX_Verwaltungsgemeinschaft", "verwaltungsgemeinschaft", "verwaltungsgemeinschaft", 1},
        {"AX_Verwaltungsgemeinschaft", "land", "land", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(db.Scalar(std::string("SELECT attrartkennung || '|' || attrtyp FROM parse WHERE oa = '") +
                            c.oa + "' AND attrart = '" + c.attrart + "'"),
                  std::string(c.column) + "|" + std::to_string(c.attrtyp))
            << c.oa << " " << c.attrart;
}

// A column has one name, one spelling of its line and one type in every object type, so that a group's
// table gets it once and a value fits it in every type.
TEST(ParseTable, OneColumnHasOneTypeEverywhere) {
    TTestDatabase db;
    EXPECT_EQ(
        db.Scalar("SELECT coalesce(string_agg(attrartkennung, ', '), '') FROM (SELECT attrartkennung FROM "
                  "parse GROUP BY attrartkennung HAVING count(DISTINCT attrtyp) > 1 OR "
                  "count(DISTINCT attrart) > 1) c"),
        "");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM (SELECT oa FROM parse GROUP BY oa, attrartkennung "
                        "HAVING count(*) > 1) d"),
              "0");
}

// db/parse.sql is the script's output from the catalogue source, as committed.
TEST(ParseTable, IsGeneratedFromTheCatalogueSource) {
    if (std::system("python3 --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3 is needed to check db/parse.sql against db/parse_catalogue.txt";
    EXPECT_EQ(std::system("python3 '" KELPORA_SOURCE_DIR "/db/parse_generate.py' --check"), 0);
}

// A line that typed a column otherwise than the other lines would change the type of a column that
// databases prepared before hold: the generator refuses it, and takes the same catalogue typed one way.
TEST(ParseTable, TheGeneratorRefusesAColumnTypedTwoWays) {
    if (std::system("python3 --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3 is needed to run db/parse_generate.py";
    char name[] = "/tmp/kelpora-catalogue-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    const auto build = [&name](const std::string& secondFunktion) {
        std::ofstream(name) << "AA_Objekt -\n    anlass AA_Anlassart *\n"
                               "AX_Halde 41003\n    funktion AX_Funktion_Halde 1 E\n"
                               "AX_Friedhof 41009\n    funktion "
                            << secondFunktion << "\n";
        const std::string command = "python3 -c \"import sys; sys.path.insert(0, '" KELPORA_SOURCE_DIR
                                    "/db'); import parse_generate as g; g.build(g.read_catalogue('" +
                                    std::string(name) + "'))\" 2>/dev/null";
        return std::system(command.c_str());
    };
    EXPECT_EQ(build("AX_Funktion_Friedhof 1 E"), 0);
    EXPECT_NE(build("AX_Funktion_Friedhof *"), 0);
    EXPECT_NE(build("CharacterString 1"), 0);
    std::remove(name);
}

// The importer builds its CREATE statements from parse without quoting; every object type and every
// object-type group must give statements the server accepts (no duplicate or reserved column names).
TEST(ParseTable, EveryTypeAndGroupGivesTablesTheImporterCanCreate) {
    TTestDatabase db;
    for (const auto& row : db.Query("SELECT DISTINCT oa FROM parse ORDER BY oa")) {
        const TObjectTableSql sql = ObjectTableSql(db, *row[0], false);
        EXPECT_EQ(ExecError(db, sql.staging + ";" + sql.publicTwin), "") << sql.staging;
    }
    for (const auto& row : db.Query("SELECT DISTINCT substring(oakennung::text from 1 for 2) FROM parse")) {
        const TObjectTableSql sql = ObjectTableSql(db, *row[0], true);
        EXPECT_EQ(ExecError(db, sql.staging + ";" + sql.publicTwin), "") << sql.staging;
    }
    // Column names never collide with the columns every object row has.
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM parse WHERE attrartkennung IN "
                        "('gml_id', 'tablename', 'modellart', 'beginn', 'ende', 'geo', 'oa')"),
              "0");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM parse WHERE attrartkennung <> lower(attrartkennung)"), "0");
}

// Real values, bound the way the importer binds each type code, fit their columns. A repeated
// property arrives joined by "|" and would overflow a character(4) column.
TEST(ParseTable, RealValuesFitTheirColumns) {
    TTestDatabase db;
    struct Case {
        const char* oa;
        const char* attrart;
        const char* value;
    };
    const std::vector<Case> cases = {
        {"AX_BesondereFlurstuecksgrenze", "artDerFlurstuecksgrenze", "3000|7003|7104"},
        {"AX_Flurstueck", "flurstueckskennzeichen", "05432002500008______"},
        {"AX_Flurstueck", "amtlicheFlaeche", "110397.0"},
        {"AX_Flurstueck", "gemarkung_gemarkungsnummer", "4320"},
        {"AX_Flurstueck", "flurstuecksnummer_zaehler", "8"},
        {"AX_Flurstueck", "zeitpunktDerEntstehung", "1861-01-01"},
        {"AX_Flurstueck", "abweichenderRechtszustand", "false"},
        {"AX_Aufnahmepunkt", "punktkennung", "323635614440465"},
        {"AX_Aufnahmepunkt", "sonstigeEigenschaft", "GK25755615140465"},
        {"AX_Fahrwegachse", "breiteDesVerkehrsweges", "6"},
        {"AX_LagebezeichnungOhneHausnummer", "lagebezeichnung_unverschluesselt", "Katzenlochbach"},
        {"AX_Strassenverkehr", "name_unverschluesselt", "Autobahn Bonn-Meckenheim"},
        {"AX_PunktortAU", "kartendarstellung", "true"},
        {"AX_PunktortAU", "qualitaetsangaben_genauigkeitsstufe", "2100"},
        {"AX_PunktortAU", "hoehe_5783", "123,456"},
        {"AX_PunktortAU", "ETRS89_h", "45,1 56,2 12,3"},
        {"AX_Gebaeude", "gebaeudefunktion", "2500"},
        {"AX_Wald", "vegetationsmerkmal", "1100"},
        {"AP_PTO", "schriftinhalt", "Ludwigshafen am Rhein"},
        {"AP_PTO", "horizontaleAusrichtung", "linksbündig"},
        {"AP_PTO", "drehwinkel", "12.5"},
        {"AX_Bewertung", "klassifizierung", "1100"},
        {"AX_Bodenschaetzung", "entstehungsartOderKlimastufeWasserverhaeltnisse", "1100|7100"},
        {"AX_Bodenschaetzung", "sonstigeAngaben", "1100|2100"},
        {"AX_HistorischesFlurstueckALB", "nachfolgerFlurstueckskennzeichen",
         "071234003000180000__|071234003000190000__"},
        {"AX_Gemeinde", "gemeindekennzeichen_gemeinde", "000"},
        {"AX_Gemeinde", "schluesselGesamt", "07314000"},
    };
    std::set<std::string> created;
    for (const Case& c : cases) {
        if (created.insert(c.oa).second)
            CreateObjectTables(db, c.oa, false);
        const auto rows = db.Query(std::string("SELECT attrartkennung, attrtyp FROM parse WHERE oa = '") +
                                   c.oa + "' AND attrart = '" + c.attrart + "'");
        ASSERT_EQ(rows.size(), 1u) << c.oa << " " << c.attrart;
        const std::string column = *rows[0][0], type = *rows[0][1];
        std::string value = std::string("'") + c.value + "'";
        if (type == "4")
            value = std::string(c.value) == "true" ? "1" : "0";
        EXPECT_EQ(ExecError(db, "INSERT INTO alkistemp." + Lower(c.oa) + " (gml_id, beginn, " + column +
                                    ") VALUES ('DENW36AL10000001', '2024-10-15 07:55:13', " + value + ")"),
                  "")
            << c.oa << " " << c.attrart << " = " << c.value;
    }
}

// Every ALKIS object type of GeoInfoDok 6 has its rows, under its Kennung: the tables per object-type
// group put it by the Kennung's first two digits.
TEST(ParseTable, HoldsEveryAlkisObjectTypeUnderItsKennung) {
    TTestDatabase db;
    // Kennungen that databases prepared before hold for these types: a Kennung of another group would put
    // the type into another table of its group.
    const std::map<std::string, std::string> kept = {{"AX_HistorischesFlurstueck", "11005"},
                                                     {"AX_HistorischesFlurstueckALB", "11004"},
                                                     {"AX_HistorischesFlurstueckOhneRaumbezug", "11006"},
                                                     {"AX_Buchungsblatt", "22001"},
                                                     {"AX_Buchungsstelle", "22002"},
                                                     {"AX_LagebezeichnungKatalogeintrag", "73012"}};
    std::map<std::string, std::string> kennungen;
    for (const TListColumn& c : ListColumns()) {
        const auto [at, added] = kennungen.emplace(c.oa, c.kennung);
        EXPECT_EQ(at->second, c.kennung) << c.where << ": " << c.oa << " has one Kennung";
    }
    ASSERT_EQ(kennungen.size(), 133u);
    std::map<std::string, std::string> inParse;
    for (const auto& row :
         db.Query("SELECT oa, string_agg(DISTINCT oakennung::text, ',') FROM parse GROUP BY oa"))
        inParse[*row[0]] = *row[1];
    for (const auto& [oa, kennung] : kennungen) {
        const auto found = kept.find(oa);
        // The codes of the presentation objects begin with a 0 that an integer does not keep.
        const std::string expected = std::to_string(std::stoi(found == kept.end() ? kennung : found->second));
        EXPECT_EQ(inParse.count(oa) ? inParse[oa] : "no rows", expected) << oa;
        if (found != kept.end()) {
            EXPECT_NE(found->second, kennung) << oa << " has the Kennung of the list now";
        }
    }
}

// Every attribute column of the list has the lines the parser builds for its values, each with the column
// named after it in lower case. The list's SQL types are its own choices, but where they say that a value
// repeats, is a real number or is longer than four characters, a column of another kind could not take it.
TEST(ParseTable, HoldsEveryAlkisAttributeUnderTheParsersLineName) {
    TTestDatabase db;
    const auto rows = ParseRows(db);
    std::size_t attributes = 0;
    for (const TListColumn& c : ListColumns()) {
        attributes += c.relation.empty();
        for (const std::string& line : c.lines) {
            const auto row = rows.find({c.oa, line});
            if (row == rows.end()) {
                ADD_FAILURE() << c.where << ": " << c.oa << " has no line " << line << " (" << c.column
                              << ")";
                continue;
            }
            const TParseRow& r = row->second;
            EXPECT_EQ(r.column, Lower(line)) << c.where;
            if (c.sqlType.ends_with("[]")) {
                EXPECT_TRUE(r.attrtyp == 0 || r.attrtyp == 6)
                    << c.where << ": " << line << " repeats, type " << r.attrtyp;
            }
            if (c.sqlType == "double precision") {
                EXPECT_EQ(r.attrtyp, 3) << c.where << ": " << line;
            }
            if (c.sqlType.starts_with("character(") && std::stoi(c.sqlType.substr(10)) > 4) {
                EXPECT_NE(r.attrtyp, 1) << c.where << ": " << line << " is longer than four characters";
            }
        }
    }
    // The list's 785 attribute columns less the 28 under zeigtAufExternes and one relation it counts among
    // them, and two of the columns it counts among its relations.
    EXPECT_EQ(attributes, 758u);
}

// The relation columns of the list are relation types (rows of id_refs), not attribute columns.
TEST(ParseTable, TheAlkisRelationsAreRelationTypesNotColumns) {
    TTestDatabase db;
    const auto rows = ParseRows(db);
    std::size_t relations = 0;
    for (const TListColumn& c : ListColumns()) {
        if (c.relation.empty())
            continue;
        ++relations;
        EXPECT_EQ(db.Scalar("SELECT count(*) FROM parserelations WHERE typbez = " + Quote(c.relation)), "1")
            << c.where << ": " << c.relation;
        EXPECT_EQ(rows.count({c.oa, c.relation}), 0u) << c.where << ": " << c.oa << " " << c.relation;
    }
    // The list's 58 relation columns less the two that are attributes and the two of AX_Fortfuehrungsfall
    // that are no relation types, and the one it counts among its attributes.
    EXPECT_EQ(relations, 55u);
}
