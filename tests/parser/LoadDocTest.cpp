// Loading real NAS files end to end: parser, writer and the prepared database.
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>

#include "ParserFixture.h"
#include "RunOnTestDatabase.h"
#include "TimeZone.h"
#include "platform/db/ZDatabase.h"

namespace {

class LoadDocTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        form = std::make_unique<TfrmKelpora>();
        PrepareRun(*form, db);
    }
    // What an import run prepares before its first file.
    static void PrepareRun(TfrmKelpora& window, TTestDatabase& database) {
        ConnectRunToTestDatabase(window, database);
        window.StartRunState();
        window.ReadRunLookups();
    }
    void TearDown() override {
        form->cmd.reset();
        form->conn.reset();
    }

    // Parsers still alive as children of the window.
    int ParsersLeft() const {
        int n = 0;
        for (QObject* child : form->children())
            n += dynamic_cast<TBrenkoSaxReader*>(child) != nullptr;
        return n;
    }

    std::string Log() const {
        std::string text;
        for (const std::string& line : form->LogLines())
            text += line + "\n";
        return text;
    }

    TFakeDialogs dialogs;
    TTestDatabase db;
    std::unique_ptr<TfrmKelpora> form;
};

// One column of a query's rows, NULL as "NULL".
std::vector<std::string> Column(TTestDatabase& db, const std::string& sql) {
    std::vector<std::string> out;
    for (const auto& row : db.Query(sql))
        out.push_back(row[0].value_or("NULL"));
    return out;
}

TEST_F(LoadDocTest, ExtractThenUpdate) {
    form->LoadDoc(TestDataDir() + "/bestand_bonn.xml");
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(form->sFileID, "bestand_bonn");
    EXPECT_EQ(form->iParsedFeatures, 12);

    // One row per feature, in the table of its type, every geometry accepted by PostGIS.
    EXPECT_EQ(
        Column(db, "SELECT tablename || ' ' || gml_id || ' ' || beginn FROM public.ax_objects ORDER BY 1"),
        (std::vector<std::string>{
            "ax_aufnahmepunkt DENW36AL10000JBJ 2013-02-27 15:45:05",
            "ax_besondereflurstuecksgrenze DENW36AL10000MvI 2024-10-15 07:55:13",
            "ax_boeschungkliff DENW36AL1UL0001j 2024-10-15 07:55:13",
            "ax_fahrwegachse DENW36ALEC00007H 2025-03-18 14:09:03",
            "ax_flurstueck DENW36AL10000Ehc 2024-10-15 07:55:13",
            "ax_gebaeude DENW36AL10000Egu 2024-10-15 07:55:13",
            "ax_lagebezeichnungohnehausnummer DENW36AL10000FFW 2013-02-27 15:45:05",
            "ax_punktortau DENW36AL1IC000L6 2024-10-15 07:55:13",
            "ax_strassenverkehr DENW36AL10000v8R 2024-10-15 07:55:13",
            "ax_turm DENW36ALVk00002s 2024-10-15 07:55:13",
            "ax_wald DENW36AL10000KFq 2024-10-15 07:55:13",
            "ax_wohnbauflaeche DENW36AL2mD000Cg 2024-10-15 07:55:13",
        }));
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.ax_objects WHERE geo IS NOT NULL AND st_isvalid(geo) "
                        "AND st_srid(geo) = 25832"),
              "9");
    EXPECT_EQ(db.Scalar("SELECT st_geometrytype(geo) || ' ' || modellart FROM public.ax_flurstueck"),
              "ST_MultiPolygon 10000000000000000000");
    EXPECT_EQ(db.Scalar("SELECT gebaeudefunktion FROM public.ax_gebaeude"), "2500");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM alkistemp.ax_objects"), "0");
    EXPECT_EQ(Column(db, "SELECT gml_id || ' ' || id_ref || ' ' || typ FROM public.id_refs ORDER BY 1"),
              (std::vector<std::string>{
                  "DENW36AL10000Egu DENW36AL10000AAA 2",
                  "DENW36AL10000Egu DENW36AL10000BBB 4",
                  "DENW36AL10000Egu DENW36AL10000K6p 3",
                  "DENW36AL10000Ehc DENW36AL10000H9b 2",
                  "DENW36AL10000Ehc DENW36AL10000Lqn 1",
                  "DENW36AL10000Ehc DENW36ALl800005x 6",
                  "DENW36AL1IC000L6 DENW36AL1IC000KO 6",
              }));
    EXPECT_EQ(db.Scalar("SELECT gml_id || ' ' || processor_organisationname FROM ax_li_processstep_punktort"),
              "DENW36AL1IC000L6 Amt für Bodenmanagement und Geoinformation Bonn");
    // Portion header and the announced reference system.
    ASSERT_EQ(form->obFiles.size(), 1u);
    const TPortionFile& extract = *form->obFiles[0];
    EXPECT_EQ(extract.name, "bestand_bonn");
    EXPECT_EQ(extract.typ, "Bestandsdatenauszug");
    EXPECT_EQ(extract.antragsnr, "Bonn_241016080000_0001");
    EXPECT_EQ(extract.koordRefSys, "ETRS89_UTM32");
    ASSERT_EQ(form->obKoRefs->size(), 1u);
    EXPECT_EQ((*form->obKoRefs)[0]->nks, 3);
    EXPECT_EQ(form->obKoRefs->GetStdCRS(), "ETRS89_UTM32");
    // The step of the file in the log window, the status bar and the run log; the caches are dropped.
    EXPECT_EQ(form->StatusText(0), "Temporäre Daten integrieren ... ");
    EXPECT_EQ(form->StatusText(2), "");
    const std::string step = ": Temporäre Daten integrieren ...";
    const std::string last = form->LogLines().back();
    EXPECT_EQ(last.size(), TfrmKelpora::TimeOfDay().size() + step.size()) << last;
    EXPECT_TRUE(last.ends_with(step)) << last;
    EXPECT_EQ(Column(db, "SELECT beschreibung FROM logs WHERE meldetyp = 0 AND beschreibung LIKE 'Temp%'"),
              std::vector<std::string>{"Temporäre Daten integrieren ..."});
    EXPECT_TRUE(form->obTables->Empty());
    EXPECT_EQ(form->obParseTable, nullptr);

    const std::string before = db.Scalar("SELECT date_trunc('second', now() AT TIME ZONE 'UTC')");
    form->LoadDoc(TestDataDir() + "/nba_bonn.xml");
    EXPECT_TRUE(dialogs.messages.empty());
    // The replaced building: old version closed at the new version's begin, new version current.
    EXPECT_EQ(Column(db, "SELECT beginn || ' ' || ende || ' ' || gebaeudefunktion FROM public.ax_gebaeude "
                         "WHERE gml_id = 'DENW36AL10000Egu' ORDER BY beginn"),
              (std::vector<std::string>{"2024-10-15 07:55:13 2024-10-16 08:00:00 2500",
                                        "2024-10-16 08:00:00 1899-12-30 00:00:00 2000"}));
    // The deleted tower is closed now.
    EXPECT_EQ(
        db.Scalar("SELECT ende >= '" + before + "' AND ende <= now() AT TIME ZONE 'UTC' FROM public.ax_turm"),
        "t");
    // The inserted building, under its object identifier without the version's time stamp, as the
    // replaces, deletes and references of later updates name it.
    EXPECT_EQ(
        db.Scalar(
            "SELECT beginn || ' ' || gebaeudefunktion || ' ' || st_isvalid(geo) FROM public.ax_gebaeude "
            "WHERE gml_id = 'DENW36ALTEST0001'"),
        "2024-10-16 08:00:00 1000 true");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.ax_objects WHERE length(gml_id) <> 16"), "0");
    EXPECT_EQ(
        db.Scalar("SELECT count(*) FROM public.id_refs WHERE gml_id = 'DENW36AL10000Egu' AND ende IS NULL"),
        "3");
    EXPECT_EQ(form->iParsedFeatures, 15);
    EXPECT_EQ(ParsersLeft(), 0);
    ASSERT_EQ(form->obFiles.size(), 2u);
    const TPortionFile& update = *form->obFiles[1];
    EXPECT_EQ(update.typ, "Nutzerbezogene Bestandsdatenaktualisierung");
    EXPECT_EQ(update.lfdNr, "1");
    EXPECT_EQ(update.anzPort, "1");
    EXPECT_EQ(form->obKoRefs->size(), 2u);
}

// A file that cannot be read ends the load with its error: its portion header stays, nothing is
// integrated; the identifier is the name without folder and extension.
TEST_F(LoadDocTest, MissingFileKeepsItsPortionHeaderAndPassesTheErrorOn) {
    const struct {
        std::string path, id;
    } cases[] = {{"/nonexistent/nas_0001.xml", "nas_0001"},
                 {"/nonexistent/a.b.xml", "a.b"},
                 {"/nonexistent/data.old/nas", "nas"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const std::size_t files = form->obFiles.size();
        EXPECT_ANY_THROW(form->LoadDoc(c.path));
        EXPECT_EQ(form->sFileID, c.id);
        ASSERT_EQ(form->obFiles.size(), files + 1);
        EXPECT_EQ(form->obFiles.back()->name, c.id);
        EXPECT_TRUE(form->obFiles.back()->typ.empty());
    }
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM logs WHERE beschreibung LIKE 'Temp%'"), "0");
    EXPECT_EQ(ParsersLeft(), 0);
}

TEST_F(LoadDocTest, ParseErrorIsShownAndPassedOnWithoutIntegration) {
    form->obTables->Add("ax_gebaeude");
    EXPECT_ANY_THROW(form->LoadDoc(TestDataDir() + "/hostile/billionlaugh.xml"));
    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_EQ(dialogs.messages[0].type, TMsgDlgType::mtError);
    EXPECT_EQ(form->obFiles.back()->name, "billionlaugh");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM logs WHERE beschreibung LIKE 'Temp%'"), "0");
    // What the file created is rolled back with it, so the caches that knew of it are empty; the parser
    // is gone.
    EXPECT_TRUE(form->obTables->Empty());
    EXPECT_EQ(ParsersLeft(), 0);
}

// Files in the forms of GeoInfoDok 7 are not read; each says so once, in the window and in the run log.
TEST_F(LoadDocTest, GeoInfoDok7FormIsReportedOncePerFile) {
    // The extract's features are not recognised at all; of the update, the deletes and the versions
    // its replaces end are not.
    for (const char* name : {"bestand_bonn_gid71.xml", "nba_bonn_gid71.xml"}) {
        SCOPED_TRACE(name);
        const std::string path = TestDataDir() + "/" + name;
        db.Exec("DELETE FROM logs");
        form->LoadDoc(path);
        const std::string text =
            "Die Datei " + path +
            " hat die Form der GeoInfoDok 7 (wfs:member, fes:ResourceId), die nicht gelesen wird.";
        int lines = 0;
        for (const std::string& line : form->LogLines())
            lines += line.ends_with(": " + text);
        EXPECT_EQ(lines, 1) << Log();
        EXPECT_EQ(
            Column(db, "SELECT beschreibung FROM logs WHERE meldetyp = 1 AND beschreibung LIKE 'Die Datei%'"),
            std::vector<std::string>{text});
    }
    EXPECT_EQ(form->iFilesNotRead, 2);
    db.Exec("DELETE FROM logs");
    // A file of GeoInfoDok 6 says nothing of the kind.
    form->LoadDoc(TestDataDir() + "/bestand_bonn.xml");
    EXPECT_EQ(form->iFilesNotRead, 2);
    EXPECT_EQ(db.Scalar(std::string("SELECT count(*) FROM logs WHERE meldetyp = 1 AND ") + kNoDesignNote),
              "0");
}

// A file whose integration fails is not applied at all: its failure is said once, nothing of it stays
// staged or integrated, and the rows its run log got stay.
TEST_F(LoadDocTest, FailedIntegrationIsReportedAndNothingOfTheFileStays) {
    db.Exec("DROP FUNCTION temp2alkis(); DELETE FROM logs");
    const std::string path = TestDataDir() + "/bestand_bonn.xml";
    form->LoadDoc(path);
    const std::vector<std::string> log = form->LogLines();
    ASSERT_GE(log.size(), 3u);
    const std::string failure = log[log.size() - 3];
    const std::string message = ": Fehler beim Integrieren der temporären Daten  ";
    EXPECT_EQ(failure.size(), TfrmKelpora::TimeOfDay().size() + message.size()) << failure;
    EXPECT_TRUE(failure.ends_with(message)) << failure;
    EXPECT_EQ(log[log.size() - 2].rfind("\tfunction temp2alkis() does not exist", 0), 0u)
        << log[log.size() - 2];
    const std::string notApplied =
        "Die Datei " + path + " wurde nicht übernommen: nichts von ihr ist in der Datenbank.";
    EXPECT_TRUE(log.back().ends_with(": " + notApplied)) << log.back();
    EXPECT_EQ(Column(db, std::string("SELECT beschreibung FROM logs WHERE ") + kNoDesignNote +
                             " ORDER BY zeitpunkt, meldetyp"),
              (std::vector<std::string>{"Temporäre Daten integrieren ...",
                                        "Fehler beim Integrieren der temporären Daten.  - " +
                                            log[log.size() - 2].substr(1),
                                        notApplied}));
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM alkistemp.ax_objects"), "0");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.ax_objects"), "0");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM pg_tables WHERE tablename = 'ax_gebaeude'"), "0");
    EXPECT_TRUE(form->obTables->Empty());
    EXPECT_TRUE(form->oFileNotApplied);
    EXPECT_EQ(form->iFilesNotRead, 1);
    EXPECT_TRUE(form->obInserts.Empty()) << "counted what was not stored";
}

} // namespace

// A year of updates in small: an extract, two replaces of one address, the second replace imported
// again (after a crash, by mistake) and the extract once more. Every version keeps its own lifespan,
// the building's relation to the address survives the replaces, and the repeated files add nothing.
namespace history {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Writes `text` as the file `name` of `dir`; its path.
std::string WriteFile(const QTemporaryDir& dir, const std::string& name, const std::string& text) {
    const std::string path = dir.filePath(QString::fromStdString(name)).toStdString();
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

const char* kEnvelopeStart =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<AX_NutzerbezogeneBestandsdatenaktualisierung_NBA "
    "xmlns=\"http://www.adv-online.de/namespaces/adv/gid/6.0\" "
    "xmlns:gml=\"http://www.opengis.net/gml/3.2\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
    "xmlns:wfs=\"http://www.adv-online.de/namespaces/adv/gid/wfs\" "
    "xmlns:wfsext=\"http://www.adv-online.de/namespaces/adv/gid/wfsext\" "
    "xmlns:ogc=\"http://www.adv-online.de/namespaces/adv/gid/ogc\">\n";

std::string Feature(const std::string& type, const std::string& id, const std::string& begin,
                    const std::string& body) {
    return "<" + type + " gml:id=\"" + id + "\"><lebenszeitintervall><AA_Lebenszeitintervall><beginnt>" +
           begin + "</beginnt></AA_Lebenszeitintervall></lebenszeitintervall>" + body + "</" + type + ">\n";
}

// The address in its version of `begin`, with its house number and its own relation.
std::string Address(const std::string& begin, const std::string& number) {
    return Feature("AX_LagebezeichnungMitHausnummer", "DEHIST0000ADDR01", begin,
                   "<hausnummer>" + number +
                       "</hausnummer><hat xlink:href=\"urn:adv:oid:DEHIST0000OTHER1\"/>");
}

std::string Extract() {
    std::string punktort = ReadFile(TestDataDir() + "/slices/AX_PunktortAU.xml");
    punktort.erase(0, punktort.find("?>") + 2);
    return std::string(kEnvelopeStart) + "<enthaelt><wfs:FeatureCollection><gml:featureMember>" +
           Feature("AX_Gebaeude", "DEHIST0000BLDG01", "2024-01-10T08:00:00Z",
                   "<gebaeudefunktion>2000</gebaeudefunktion><zeigtAuf "
                   "xlink:href=\"urn:adv:oid:DEHIST0000ADDR01\"/>") +
           "</gml:featureMember><gml:featureMember>" + Address("2024-01-10T08:00:00Z", "1") +
           "</gml:featureMember><gml:featureMember>" + punktort +
           "</gml:featureMember></wfs:FeatureCollection></enthaelt>"
           "</AX_NutzerbezogeneBestandsdatenaktualisierung_NBA>\n";
}

std::string ReplaceOfAddress(const std::string& oldBegin, const std::string& begin,
                             const std::string& number) {
    return std::string(kEnvelopeStart) +
           "<geaenderteObjekte><wfs:Transaction><wfsext:Replace vendorId=\"AdV\" safeToIgnore=\"false\">" +
           Address(begin, number) + "<ogc:Filter><ogc:FeatureId fid=\"DEHIST0000ADDR01" + oldBegin +
           "\"/></ogc:Filter></wfsext:Replace></wfs:Transaction></geaenderteObjekte>"
           "</AX_NutzerbezogeneBestandsdatenaktualisierung_NBA>\n";
}

} // namespace history

TEST_F(LoadDocTest, UpdatesKeepEveryVersionAndRepeatedFilesChangeNothing) {
    QTemporaryDir dir;
    const auto file = [&](const std::string& name, const std::string& text) {
        return history::WriteFile(dir, name, text);
    };
    const std::string extract = file("extract.xml", history::Extract());
    const std::string first =
        file("replace1.xml", history::ReplaceOfAddress("20240110T080000Z", "2024-03-05T09:00:00Z", "2"));
    const std::string second =
        file("replace2.xml", history::ReplaceOfAddress("20240305T090000Z", "2024-06-07T10:00:00Z", "3"));
    const auto versions = [&] {
        return Column(db, "SELECT beginn || ' ' || ende || ' ' || hausnummer FROM "
                          "public.ax_lagebezeichnungmithausnummer ORDER BY beginn");
    };
    const auto relations = [&] {
        return Column(
            db, "SELECT gml_id || '>' || id_ref || ' ' || beginn || ' ' || coalesce(ende::text, 'open') "
                "FROM public.id_refs WHERE gml_id LIKE 'DEHIST%' ORDER BY gml_id, beginn");
    };
    const auto counts = [&] {
        return Column(db, "SELECT (SELECT count(*) FROM public.ax_objects) || ' ' || (SELECT count(*) FROM "
                          "public.id_refs) || ' ' || (SELECT count(*) FROM ax_li_processstep_punktort)");
    };

    form->LoadDoc(extract);
    const std::string stepsOfExtract = db.Scalar("SELECT count(*) FROM ax_li_processstep_punktort");
    form->LoadDoc(first);
    form->LoadDoc(second);
    const std::vector<std::string> expectedVersions = {"2024-01-10 08:00:00 2024-03-05 09:00:00 1",
                                                       "2024-03-05 09:00:00 2024-06-07 10:00:00 2",
                                                       "2024-06-07 10:00:00 1899-12-30 00:00:00 3"};
    const std::vector<std::string> expectedRelations = {
        "DEHIST0000ADDR01>DEHIST0000OTHER1 2024-01-10 08:00:00 2024-03-05 09:00:00",
        "DEHIST0000ADDR01>DEHIST0000OTHER1 2024-03-05 09:00:00 2024-06-07 10:00:00",
        "DEHIST0000ADDR01>DEHIST0000OTHER1 2024-06-07 10:00:00 open",
        "DEHIST0000BLDG01>DEHIST0000ADDR01 2024-01-10 08:00:00 open"};
    EXPECT_EQ(versions(), expectedVersions);
    EXPECT_EQ(relations(), expectedRelations);
    // The derived buildings still know their address, in its current version.
    db.Exec("SELECT alkis_nachbearbeitung()");
    EXPECT_EQ(db.Scalar("SELECT gml_id || ' ' || adresse FROM alkis_gebaeude"), "DEHIST0000BLDG01 3");
    const std::vector<std::string> countsAfterUpdates = counts();

    struct Repeat {
        const char* what;
        std::string path;
    } repeats[] = {{"the second replace again", second}, {"the extract again", extract}};
    for (const Repeat& r : repeats) {
        form->LoadDoc(r.path);
        EXPECT_EQ(versions(), expectedVersions) << r.what;
        EXPECT_EQ(relations(), expectedRelations) << r.what;
        EXPECT_EQ(counts(), countsAfterUpdates) << r.what;
    }
    EXPECT_EQ(db.Scalar("SELECT gebaeudefunktion || ' ' || ende FROM public.ax_gebaeude"),
              "2000 1899-12-30 00:00:00");
    // The quality data of the point came with the extract only once.
    EXPECT_NE(stepsOfExtract, "0");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM ax_li_processstep_punktort"), stepsOfExtract);
    EXPECT_TRUE(dialogs.messages.empty());
}

// An update whose replace or delete carries a lifespan date that is none, or a replace whose Filter names
// another object than its new version: the transaction is refused whole, said once in its place, and the
// stored versions stay as they were, open; the transactions after it in the file are done.
TEST_F(LoadDocTest, ATransactionWithADateThatIsNoneOrAReplaceOfAnotherObjectClosesNothing) {
    QTemporaryDir dir;
    const auto file = [&](const std::string& name, const std::string& text) {
        return history::WriteFile(dir, name, text);
    };
    const std::string deleteOfBuilding =
        std::string(history::kEnvelopeStart) +
        "<geaenderteObjekte><wfs:Transaction><wfs:Delete typeName=\"AX_Gebaeude\"><lebenszeitintervall>"
        "<AA_Lebenszeitintervall><endet>2024-02-30T00:00:00Z</endet></AA_Lebenszeitintervall>"
        "</lebenszeitintervall><ogc:Filter><ogc:FeatureId fid=\"DEHIST0000BLDG0120240110T080000Z\"/>"
        "</ogc:Filter></wfs:Delete></wfs:Transaction></geaenderteObjekte>"
        "</AX_NutzerbezogeneBestandsdatenaktualisierung_NBA>\n";
    std::string replaceOfAnother = history::ReplaceOfAddress("20240110T080000Z", "2024-02-01T09:00:00Z", "9");
    replaceOfAnother.replace(replaceOfAnother.find("fid=\"DEHIST0000ADDR01"), 21, "fid=\"DEHIST0000BLDG01");
    struct Case {
        const char* what;
        std::string text;
        std::string said;
    } cases[] = {
        {"a replace whose Filter names another object", replaceOfAnother,
         "Fehler beim Import bei AX_LagebezeichnungMitHausnummer: DEHIST0000ADDR01 - Der Filter der "
         "Ersetzung nennt das Objekt DEHIST0000BLDG01, die neue Version gehört zum Objekt DEHIST0000ADDR01."},
        {"a replace", history::ReplaceOfAddress("20240110T080000Z", "gestern", "2"),
         "Fehler beim Import bei AX_LagebezeichnungMitHausnummer: DEHIST0000ADDR01 - 'gestern' ist keine "
         "gültige Datums- und Uhrzeitangabe (beginnt, Zeile 3)"},
        {"a delete", deleteOfBuilding,
         "Fehler beim Import bei AX_Gebaeude: DEHIST0000BLDG01 - '2024-02-30T00:00:00Z' ist keine gültige "
         "Datums- und Uhrzeitangabe (endet, Zeile 3)"},
    };
    form->LoadDoc(file("extract.xml", history::Extract()));
    const auto stored = [&] {
        return Column(db, "SELECT gml_id || ' ' || beginn || ' ' || ende FROM public.ax_objects WHERE gml_id "
                          "LIKE 'DEHIST%' ORDER BY 1");
    };
    const std::vector<std::string> before = stored();
    ASSERT_EQ(before.size(), 2u);
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        db.Exec("DELETE FROM logs");
        // A sound replace of the address follows the refused transaction in the same file.
        std::string text = c.text;
        const std::string later = history::ReplaceOfAddress("20240110T080000Z", "2024-03-05T09:00:00Z", "2");
        const std::size_t transaction = later.find("<wfsext:Replace");
        text.insert(text.find("</wfs:Transaction>"),
                    later.substr(transaction, later.find("</wfs:Transaction>") - transaction));
        form->LoadDoc(file("update" + std::to_string(++n) + ".xml", text));
        EXPECT_EQ(Column(db, "SELECT beschreibung FROM logs WHERE meldetyp = 1"),
                  std::vector<std::string>{c.said});
        const std::vector<std::string> now = stored();
        EXPECT_EQ(now.size(), before.size() + 1);
        EXPECT_NE(
            std::find(now.begin(), now.end(), "DEHIST0000BLDG01 2024-01-10 08:00:00 1899-12-30 00:00:00"),
            now.end());
        EXPECT_EQ(
            db.Scalar("SELECT count(*) FROM public.ax_objects WHERE gml_id = 'DEHIST0000ADDR01' AND beginn = "
                      "'2024-03-05 09:00:00' AND ende = '1899-12-30'"),
            "1");
        db.Exec("DELETE FROM public.ax_objects WHERE beginn = '2024-03-05 09:00:00'");
        db.Exec("UPDATE public.ax_objects SET ende = '1899-12-30' WHERE gml_id = 'DEHIST0000ADDR01'");
    }
    EXPECT_TRUE(dialogs.messages.empty());
}

// One update file whose Insert holds two features, whose Delete names two objects and whose Update ends two
// (one of them inserted by the same file) at its endet: every one of them takes effect, in file order.
TEST_F(LoadDocTest, EveryFeatureOfAnInsertAndEveryIdOfADeleteAndAnUpdateTakeEffect) {
    QTemporaryDir dir;
    const auto file = [&](const std::string& name, const std::string& text) {
        return history::WriteFile(dir, name, text);
    };
    const auto building = [](int n, const std::string& begin) {
        return history::Feature("AX_Gebaeude", "DEMULT000000000" + std::to_string(n), begin,
                                "<gebaeudefunktion>" + std::to_string(1000 + n) + "</gebaeudefunktion>");
    };
    std::string extract = std::string(history::kEnvelopeStart) + "<enthaelt><wfs:FeatureCollection>";
    for (int n = 1; n <= 4; ++n)
        extract += "<gml:featureMember>" + building(n, "2024-01-10T08:00:00Z") + "</gml:featureMember>";
    extract += "</wfs:FeatureCollection></enthaelt></AX_NutzerbezogeneBestandsdatenaktualisierung_NBA>\n";
    const std::string update =
        std::string(history::kEnvelopeStart) + "<geaenderteObjekte><wfs:Transaction><wfs:Insert>" +
        building(5, "2024-03-01T09:00:00Z") + building(6, "2024-03-01T09:00:00Z") +
        "</wfs:Insert><wfs:Delete typeName=\"adv:AX_Gebaeude\"><ogc:Filter>"
        "<ogc:FeatureId fid=\"DEMULT000000000120240110T080000Z\"/>"
        "<ogc:FeatureId fid=\"DEMULT000000000220240110T080000Z\"/></ogc:Filter></wfs:Delete>"
        "<wfs:Update typeName=\"adv:AX_Gebaeude\"><wfs:Property><wfs:Name>"
        "adv:lebenszeitintervall/adv:AA_Lebenszeitintervall/adv:endet</wfs:Name>"
        "<wfs:Value>2024-03-02T10:00:00Z</wfs:Value></wfs:Property><wfs:Property><wfs:Name>adv:anlass"
        "</wfs:Name><wfs:Value>010102</wfs:Value></wfs:Property><ogc:Filter>"
        "<ogc:FeatureId fid=\"DEMULT000000000320240110T080000Z\"/>"
        "<ogc:FeatureId fid=\"DEMULT000000000620240301T090000Z\"/></ogc:Filter></wfs:Update>"
        "</wfs:Transaction></geaenderteObjekte></AX_NutzerbezogeneBestandsdatenaktualisierung_NBA>\n";

    form->LoadDoc(file("extract.xml", extract));
    const std::string before = db.Scalar("SELECT date_trunc('second', now() AT TIME ZONE 'UTC')");
    form->LoadDoc(file("update.xml", update));
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(Column(db, "SELECT beschreibung FROM logs WHERE meldetyp = 1"), std::vector<std::string>{});
    EXPECT_EQ(
        Column(db, "SELECT gml_id || ' ' || beginn || ' ' || CASE WHEN ende = '1899-12-30' THEN 'open' "
                   "WHEN ende >= '" +
                       before +
                       "' AND ende <= now() AT TIME ZONE 'UTC' THEN 'now' ELSE ende::text END || ' ' || "
                       "gebaeudefunktion FROM public.ax_gebaeude ORDER BY 1"),
        (std::vector<std::string>{
            "DEMULT0000000001 2024-01-10 08:00:00 now 1001",
            "DEMULT0000000002 2024-01-10 08:00:00 now 1002",
            "DEMULT0000000003 2024-01-10 08:00:00 2024-03-02 10:00:00 1003",
            "DEMULT0000000004 2024-01-10 08:00:00 open 1004",
            "DEMULT0000000005 2024-03-01 09:00:00 open 1005",
            "DEMULT0000000006 2024-03-01 09:00:00 2024-03-02 10:00:00 1006",
        }));
}

// The server ends the session in the middle of an update, after the replace closed the old version and
// before its new version was staged: nothing of the update stays, the database is that of the extract,
// and importing the update again on a new connection gives exactly the state of a clean extract + update
// import.
TEST_F(LoadDocTest, UpdateBrokenByALostConnectionIsMendedByImportingItAgain) {
    const std::string extract = TestDataDir() + "/bestand_bonn.xml";
    const std::string update = TestDataDir() + "/nba_bonn.xml";
    // A delete without an end date ends its object at the time of the import: that time differs
    // between the two databases, its being there does not.
    const auto state = [](TTestDatabase& database) {
        std::vector<std::string> rows = Column(
            database,
            "SELECT tablename || ' ' || gml_id || ' ' || beginn || ' ' || CASE WHEN ende >= "
            "now() AT TIME ZONE 'UTC' - interval '1 day' THEN 'at the import' ELSE ende::text END FROM "
            "public.ax_objects ORDER BY 1");
        for (const std::string& r :
             Column(database, "SELECT gml_id || '>' || id_ref || ' ' || typ || ' ' || beginn FROM "
                              "public.id_refs WHERE ende IS NULL ORDER BY 1"))
            rows.push_back("open " + r);
        rows.push_back(database.Scalar("SELECT count(*) FROM public.ax_objects") + " objects, " +
                       database.Scalar("SELECT count(*) FROM public.id_refs") + " relations");
        return rows;
    };

    TTestDatabase clean;
    TfrmKelpora cleanForm;
    PrepareRun(cleanForm, clean);
    cleanForm.LoadDoc(extract);
    cleanForm.LoadDoc(update);
    const std::vector<std::string> expected = state(clean);
    cleanForm.cmd.reset();
    cleanForm.conn.reset();

    form->LoadDoc(extract);
    const std::vector<std::string> afterExtract = state(db);
    // The second row the update stages (the replace's new version) ends the session.
    db.Exec("CREATE SEQUENCE staged_rows");
    db.Exec("CREATE FUNCTION end_session() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
            "IF nextval('staged_rows') = 2 THEN PERFORM pg_terminate_backend(pg_backend_pid()); END IF; "
            "RETURN NEW; END $$");
    const std::vector<std::string> staging =
        Column(db, "SELECT c.relname FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid WHERE "
                   "i.inhparent = 'alkistemp.ax_objects'::regclass");
    for (const std::string& table : staging)
        db.Exec("CREATE TRIGGER end_session BEFORE INSERT ON alkistemp." + table +
                " FOR EACH ROW EXECUTE FUNCTION end_session()");
    // One statement at a time, so that the closing has been done before the session ends.
    form->oOneStatementAtATime = true;
    EXPECT_THROW(form->LoadDoc(update), EDatabaseError);
    form->oOneStatementAtATime = false;
    EXPECT_EQ(state(db), afterExtract);
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.ax_objects WHERE ende <> '1899-12-30'"), "0");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM alkistemp.ax_objects"), "0");

    for (const std::string& table : staging)
        db.Exec("DROP TRIGGER end_session ON alkistemp." + table);
    form->conn->Connect();
    form->LoadDoc(update);
    EXPECT_EQ(state(db), expected);
    // Once more changes nothing.
    form->LoadDoc(update);
    EXPECT_EQ(state(db), expected);
}

// A role beyond the first configured ones: an address that also refers to its person.
TEST_F(LoadDocTest, AlsoReferringRelationReachesTheRelationTable) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string file = dir.path().toStdString() + "/anschrift.xml";
    std::ofstream(file, std::ios::binary) << Doc(
        "<enthaelt><wfs:FeatureCollection>" +
        Member("<AX_Anschrift gml:id=\"DENW36AL0000Ans1\"><lebenszeitintervall><AA_Lebenszeitintervall>"
               "<beginnt>2024-10-15T07:55:13Z</beginnt></AA_Lebenszeitintervall></lebenszeitintervall>"
               "<ort_Post>Bonn</ort_Post>"
               "<beziehtSichAuchAuf xlink:href=\"urn:adv:oid:DENW36AL0000Per1\"/></AX_Anschrift>") +
        "</wfs:FeatureCollection></enthaelt>");
    form->LoadDoc(file);
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM ax_anschrift WHERE gml_id = 'DENW36AL0000Ans1'"), "1");
    EXPECT_EQ(
        db.Scalar("SELECT string_agg(r.gml_id || '>' || r.id_ref || ':' || p.typbez, ',') FROM id_refs r "
                  "JOIN parserelations p ON p.typ = r.typ"),
        "DENW36AL0000Ans1>DENW36AL0000Per1:beziehtSichAuchAuf");
}

namespace {

// A feature of the given element name, as a full extract carries it.
std::string Feature(const std::string& type, const std::string& id) {
    return Member("<" + type + " gml:id=\"" + id +
                  "\"><lebenszeitintervall><AA_Lebenszeitintervall><beginnt>2024-10-15T07:55:13Z</beginnt>"
                  "</AA_Lebenszeitintervall></lebenszeitintervall><name>x</name></" +
                  type + ">");
}

std::string Extract(const std::string& members) {
    return Doc("<enthaelt><wfs:FeatureCollection>" + members + "</wfs:FeatureCollection></enthaelt>");
}

// What a hostile object type must not change: the configuration and system tables, their columns and rows.
std::string SystemTables(TTestDatabase& db) {
    return db.Scalar(
        "SELECT (SELECT string_agg(table_name || '.' || column_name, ',' ORDER BY table_name, "
        "ordinal_position) "
        "FROM information_schema.columns WHERE table_schema = 'public' AND table_name IN ('logs', 'parse', "
        "'modellarten', 'parserelations', 'spatial_ref_sys', 'ax_objects', 'id_refs')) || '/' || "
        "(SELECT count(*) FROM parse) || '/' || (SELECT count(*) FROM modellarten) || '/' || "
        "(SELECT count(*) FROM parserelations) || '/' || (SELECT count(*) FROM spatial_ref_sys) || '/' || "
        "(SELECT count(*) FROM ONLY public.ax_objects)");
}

} // namespace

// Any element name under featureMember is an object type; none may take a relation that is not an
// object table, nor break the integration of the files after it.
TEST_F(LoadDocTest, ObjectTypeNamedLikeAnotherRelationIsRefusedAndLaterFilesIntegrate) {
    struct Case {
        std::string type;
        bool refused;
    };
    const std::vector<Case> cases = {
        {"logs", true},
        {"parse", true},
        {"modellarten", true},
        {"ax_gebaeude_pkey", true},
        {"spatial_ref_sys", true},
        {"ax_objects", true},
        {"AX_" + std::string(61, 'l'), true},  // 64 characters: the server would cut it
        {"AX_" + std::string(60, 'k'), false}, // 63 characters: its key name must not be cut to its own
        {"AX_Neueobjektart", false},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string before = SystemTables(db);
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        ++n;
        const std::string normal = "DENW36AL0000Nor" + std::to_string(n % 10);
        const std::string file = dir.path().toStdString() + "/case" + std::to_string(n) + ".xml";
        std::ofstream(file, std::ios::binary) << Extract(
            Feature("AX_Gebaeude", normal) + Feature(c.type, "DENW36AL0000Hos" + std::to_string(n % 10)));
        const std::size_t logStart = form->LogLines().size();
        form->LoadDoc(file);
        const std::vector<std::string> log = form->LogLines();
        std::string added;
        for (std::size_t i = logStart; i < log.size(); ++i)
            added += log[i] + "\n";
        EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.ax_gebaeude WHERE gml_id = '" + normal + "'"), "1");
        EXPECT_EQ(added.find("Fehler beim Integrieren") == std::string::npos, true) << added;
        EXPECT_EQ(added.find("Fehler beim Anlegen der Tabelle") != std::string::npos, c.refused) << added;
        const std::string table = LowerCaseAscii(c.type);
        EXPECT_EQ(db.Scalar("SELECT count(*) FROM kelpora_object_tables('public') WHERE table_name = '" +
                            table + "'"),
                  c.refused ? "0" : "1");
        EXPECT_EQ(db.Scalar("SELECT count(*) FROM alkistemp.ax_objects"), "0");
        EXPECT_EQ(SystemTables(db), before);
        form->obTables->Clear();
    }
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.ax_objects WHERE gml_id LIKE 'DENW36AL0000Hos%'"), "2");

    // A clean file afterwards integrates as ever.
    const std::string clean = dir.path().toStdString() + "/clean.xml";
    std::ofstream(clean, std::ios::binary) << Extract(Feature("AX_Gebaeude", "DENW36AL0000Cln1"));
    form->LoadDoc(clean);
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.ax_gebaeude WHERE gml_id = 'DENW36AL0000Cln1'"), "1");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM alkistemp.ax_objects"), "0");
}

// Object types that real deliveries hold beside the parcels and buildings keep their attributes: label
// texts, valuations, soil estimation, historical parcels, building points and the key of a Gemeinde. A
// property the catalogue lacks is said, not dropped without a word.
TEST_F(LoadDocTest, AttributesOfTheWholeCatalogueAreStored) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto feature = [](const std::string& type, const std::string& id, const std::string& body) {
        return Member("<" + type + " gml:id=\"" + id +
                      "\"><lebenszeitintervall><AA_Lebenszeitintervall>"
                      "<beginnt>2024-10-15T07:55:13Z</beginnt></AA_Lebenszeitintervall></lebenszeitintervall>"
                      "<anlass>000000</anlass>" +
                      body + "</" + type + ">");
    };
    const std::string point = "<position><gml:Point srsName=\"urn:adv:crs:ETRS89_UTM32\"><gml:pos>"
                              "363609.477 5614790.107</gml:pos></gml:Point></position>";
    const std::string file = dir.path().toStdString() + "/katalog.xml";
    std::ofstream(file, std::ios::binary) << Doc(
        "<enthaelt><wfs:FeatureCollection>" +
        feature("AP_PTO", "DERP12AL0000PTO1",
                point +
                    "<schriftinhalt>Am Rhein</schriftinhalt><art>Strasse</art><drehwinkel>12.5</drehwinkel>"
                    "<horizontaleAusrichtung>linksbündig</horizontaleAusrichtung>"
                    "<darstellungsprioritaet>200</darstellungsprioritaet>") +
        feature("AX_Bewertung", "DERP12AL0000Bew1",
                "<klassifizierung>1100</klassifizierung><eigenschaftOhneSpalte>x</eigenschaftOhneSpalte>") +
        feature("AX_Bodenschaetzung", "DERP12AL0000Bod1",
                "<kulturart>1000</kulturart><bodenart>4100</bodenart>"
                "<entstehungsartOderKlimastufeWasserverhaeltnisse>1100"
                "</entstehungsartOderKlimastufeWasserverhaeltnisse>"
                "<entstehungsartOderKlimastufeWasserverhaeltnisse>7100"
                "</entstehungsartOderKlimastufeWasserverhaeltnisse>"
                "<bodenzahlOderGruenlandgrundzahl>65</bodenzahlOderGruenlandgrundzahl>"
                "<ackerzahlOderGruenlandzahl>63</ackerzahlOderGruenlandzahl>") +
        feature("AX_HistorischesFlurstueckALB", "DERP12AL0000Alb1",
                "<gemarkung><AX_Gemarkung_Schluessel><land>07</land><gemarkungsnummer>1234</gemarkungsnummer>"
                "</AX_Gemarkung_Schluessel></gemarkung>"
                "<flurstuecksnummer><AX_Flurstuecksnummer><zaehler>17</zaehler><nenner>2</nenner>"
                "</AX_Flurstuecksnummer></flurstuecksnummer>"
                "<flurstueckskennzeichen>071234003000170002__</flurstueckskennzeichen>"
                "<amtlicheFlaeche>512</amtlicheFlaeche>"
                "<nachfolgerFlurstueckskennzeichen>071234003000180000__</nachfolgerFlurstueckskennzeichen>"
                "<nachfolgerFlurstueckskennzeichen>071234003000190000__</nachfolgerFlurstueckskennzeichen>") +
        feature("AX_BesondererGebaeudepunkt", "DERP12AL0000Gpk1",
                "<punktkennung>323635614440465</punktkennung>") +
        feature(
            "AX_Gemeinde", "DERP12AL0000Gem1",
            "<schluesselGesamt>07314000</schluesselGesamt><bezeichnung>Ludwigshafen am Rhein</bezeichnung>"
            "<gemeindekennzeichen><AX_Gemeindekennzeichen><land>07</land><regierungsbezirk>3"
            "</regierungsbezirk><kreis>14</kreis><gemeinde>000</gemeinde></AX_Gemeindekennzeichen>"
            "</gemeindekennzeichen>") +
        // not a data type for the parser: the members of the key are lines of their own
        feature("AX_Verwaltungsgemeinschaft", "DERP12AL0000Vwg1",
                "<schluessel><AX_Verwaltungsgemeinschaft_Schluessel><land>07</land><regierungsbezirk>3"
                "</regierungsbezirk><kreis>14</kreis><verwaltungsgemeinschaft>1234</verwaltungsgemeinschaft>"
                "</AX_Verwaltungsgemeinschaft_Schluessel></schluessel>") +
        "</wfs:FeatureCollection></enthaelt>");
    form->LoadDoc(file);
    EXPECT_EQ(form->iParsedFeatures, 7);

    EXPECT_EQ(db.Scalar("SELECT concat_ws('|', schriftinhalt, art, drehwinkel, horizontaleausrichtung, "
                        "darstellungsprioritaet, anlass, st_astext(geo)) FROM public.ap_pto"),
              "Am Rhein|Strasse|12.5|linksbündig|200|000000|POINT(363609.477 5614790.107)");
    EXPECT_EQ(db.Scalar("SELECT klassifizierung FROM public.ax_bewertung"), "1100");
    EXPECT_EQ(
        db.Scalar(
            "SELECT concat_ws('|', kulturart, bodenart, entstehungsartoderklimastufewasserverhaeltnisse, "
            "bodenzahlodergruenlandgrundzahl, ackerzahlodergruenlandzahl) FROM public.ax_bodenschaetzung"),
        "1000|4100|1100|7100|65|63");
    EXPECT_EQ(
        db.Scalar(
            "SELECT concat_ws('|', trim(gemarkung_land), gemarkung_gemarkungsnummer, "
            "flurstuecksnummer_zaehler, flurstuecksnummer_nenner, flurstueckskennzeichen, amtlicheflaeche, "
            "nachfolgerflurstueckskennzeichen) FROM public.ax_historischesflurstueckalb"),
        "07|1234|17|2|071234003000170002__|512|071234003000180000__|071234003000190000__");
    EXPECT_EQ(db.Scalar("SELECT punktkennung FROM public.ax_besonderergebaeudepunkt"), "323635614440465");
    EXPECT_EQ(
        db.Scalar("SELECT concat_ws('|', schluesselgesamt, bezeichnung, trim(gemeindekennzeichen_land), "
                  "trim(gemeindekennzeichen_regierungsbezirk), trim(gemeindekennzeichen_kreis), "
                  "trim(gemeindekennzeichen_gemeinde)) FROM public.ax_gemeinde"),
        "07314000|Ludwigshafen am Rhein|07|3|14|000");
    EXPECT_EQ(
        db.Scalar("SELECT concat_ws('|', land, trim(regierungsbezirk), trim(kreis), verwaltungsgemeinschaft) "
                  "FROM public.ax_verwaltungsgemeinschaft"),
        "07|3|14|1234");
    // Only the property the catalogue does not know is said, once.
    EXPECT_EQ(Column(db, "SELECT beschreibung FROM logs WHERE meldetyp = 1"),
              std::vector<std::string>{
                  "Die Eigenschaft eigenschaftOhneSpalte von AX_Bewertung der Datei katalog hat "
                  "keine Spalte in der Tabelle parse und wird nicht gespeichert."});
}

// The ALKIS object types and attributes beyond the common ones, as GeoInfoDok 6 deliveries bring them:
// each value lands in its column, repeated data types joined, and none is said to have no column.
TEST_F(LoadDocTest, ObjectTypesAndAttributesOfTheWholeAlkisCatalogueAreStored) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto key = [](const std::string& property, const std::string& type, const std::string& members) {
        return "<" + property + "><" + type + ">" + members + "</" + type + "></" + property + ">";
    };
    const auto dienststelle = [&key](const std::string& property, const std::string& land,
                                     const std::string& stelle) {
        return key(property, "AX_Dienststelle_Schluessel",
                   "<land>" + land + "</land><stelle>" + stelle + "</stelle>");
    };
    const std::string point = "<position><gml:Point srsName=\"urn:adv:crs:ETRS89_UTM32\"><gml:pos>"
                              "363609.477 5614790.107</gml:pos></gml:Point></position>";
    const std::string buchung =
        key("buchung", "AX_Buchung_HistorischesFlurstueck",
            "<blattart>1000</blattart><buchungsart>1100</buchungsart>"
            "<buchungsblattkennzeichen>071234000012300</buchungsblattkennzeichen>" +
                key("buchungsblattbezirk", "AX_Buchungsblattbezirk_Schluessel",
                    "<land>07</land><bezirk>1234</bezirk>") +
                "<buchungsblattnummerMitBuchstabenerweiterung>0000123</"
                "buchungsblattnummerMitBuchstabenerweiterung>"
                "<laufendeNummerDerBuchungsstelle>1</laufendeNummerDerBuchungsstelle>");
    const std::string buchungZwei =
        key("buchung", "AX_Buchung_HistorischesFlurstueck",
            "<blattart>5000</blattart><buchungsart>2101</buchungsart>"
            "<buchungsblattkennzeichen>071235000004500</buchungsblattkennzeichen>" +
                key("buchungsblattbezirk", "AX_Buchungsblattbezirk_Schluessel",
                    "<land>07</land><bezirk>1235</bezirk>") +
                "<buchungsblattnummerMitBuchstabenerweiterung>0000045</"
                "buchungsblattnummerMitBuchstabenerweiterung>"
                "<laufendeNummerDerBuchungsstelle>2</laufendeNummerDerBuchungsstelle>");
    const std::string lagebezeichnung = key(
        "lagebezeichnung", "AX_Lagebezeichnung",
        key("verschluesselt", "AX_VerschluesselteLagebezeichnung",
            "<land>07</land><regierungsbezirk>3</regierungsbezirk><kreis>14</kreis><gemeinde>000</gemeinde>"
            "<lage>01234</lage>"));
    const std::string unverschluesselt =
        key("lagebezeichnung", "AX_Lagebezeichnung", "<unverschluesselt>Leinpfad</unverschluesselt>");
    const std::string gemarkung = key("gemarkung", "AX_Gemarkung_Schluessel",
                                      "<land>07</land><gemarkungsnummer>1234</gemarkungsnummer>");
    const std::string lineage =
        "<qualitaetsangaben><AX_DQMitDatenerhebung><herkunft><gmd:LI_Lineage><gmd:processStep><gmd:LI_"
        "ProcessStep>"
        "<gmd:dateTime><gco:DateTime>2019-05-06T10:00:00Z</gco:DateTime></gmd:dateTime>"
        "</gmd:LI_ProcessStep></gmd:processStep></gmd:LI_Lineage></herkunft></AX_DQMitDatenerhebung>"
        "</qualitaetsangaben>";
    struct Case {
        std::string type;
        std::string body;
        std::string columns; // of its table, comma-separated
        std::string values;  // joined by "|"; NULL as "NULL"
    };
    const std::vector<Case> cases = {
        {"AX_BesondererTopographischerPunkt",
         point + "<punktkennung>326215560001234</punktkennung>" +
             dienststelle("zustaendigeStelle", "07", "1200") +
             "<sonstigeEigenschaft>Kirchturm</sonstigeEigenschaft>",
         "punktkennung, zustaendigestelle_land, zustaendigestelle_stelle, sonstigeeigenschaft, anlass",
         "326215560001234|07|1200|Kirchturm|000000"},
        {"AX_GeoreferenzierteGebaeudeadresse",
         point +
             "<qualitaetsangaben>1000</qualitaetsangaben><land>07</land><regierungsbezirk>3</"
             "regierungsbezirk>"
             "<kreis>14</kreis><gemeinde>000</gemeinde><ortsteil>0001</ortsteil><postleitzahl>67059"
             "</postleitzahl><ortsnamePost>Ludwigshafen am Rhein</ortsnamePost><zusatzOrtsname>Mitte"
             "</zusatzOrtsname><strassenname>Rheinuferstraße</strassenname><strassenschluessel>01234"
             "</strassenschluessel><hausnummer>12</hausnummer><adressierungszusatz>a</adressierungszusatz>",
         "qualitaetsangaben, land, regierungsbezirk, kreis, gemeinde, ortsteil, postleitzahl, ortsnamepost, "
         "zusatzortsname, strassenname, strassenschluessel, hausnummer, adressierungszusatz",
         "1000|07|3|14|000|0001|67059|Ludwigshafen am Rhein|Mitte|Rheinuferstraße|01234|12|a"},
        {"AX_SonstigesRecht",
         "<artDerFestlegung>9450</artDerFestlegung>" + dienststelle("ausfuehrendeStelle", "07", "7310") +
             "<bezeichnung>Umlegung Süd</bezeichnung><funktion>1000</funktion>" + lineage,
         "artderfestlegung, ausfuehrendestelle_land, ausfuehrendestelle_stelle, bezeichnung, funktion",
         "9450|07|7310|Umlegung Süd|1000"},
        {"AX_BauRaumOderBodenordnungsrecht",
         "<artDerFestlegung>1750</artDerFestlegung>" + dienststelle("ausfuehrendeStelle", "07", "7320") +
             "<datumAnordnung>2001-03-04</datumAnordnung><name>Bodenordnung Nord</name>",
         "artderfestlegung, ausfuehrendestelle_land, ausfuehrendestelle_stelle, datumanordnung, name",
         "1750|07|7320|2001-03-04|Bodenordnung Nord"},
        {"AX_Forstrecht",
         "<artDerFestlegung>3900</artDerFestlegung><besondereFunktion>1000</besondereFunktion>",
         "artderfestlegung, besonderefunktion", "3900|1000"},
        {"AX_HistorischesFlurstueckALB",
         gemarkung + "<flurstueckskennzeichen>071234003000170002__</flurstueckskennzeichen>" + buchung +
             buchungZwei +
             "<zeitpunktDerEntstehungDesBezugsflurstuecks>1985-04-01</"
             "zeitpunktDerEntstehungDesBezugsflurstuecks>"
             "<flurstuecksfolge>00</flurstuecksfolge><laufendeNummerDerFortfuehrung>123"
             "</laufendeNummerDerFortfuehrung><fortfuehrungsart>Zerlegung</fortfuehrungsart>",
         "gemarkung_land, buchung_blattart, buchung_buchungsart, buchung_buchungsblattkennzeichen, "
         "buchung_buchungsblattbezirk_land, buchung_buchungsblattbezirk_bezirk, "
         "buchung_buchungsblattnummermitbuchstabenerweiterung, buchung_laufendenummerderbuchungsstelle, "
         "zeitpunktderentstehungdesbezugsflurstuecks, flurstuecksfolge, laufendenummerderfortfuehrung, "
         "fortfuehrungsart",
         "07|1000|5000|1100|2101|071234000012300|071235000004500|07|07|1234|1235|0000123|0000045|1|2|1985-04-"
         "01|"
         "00|123|Zerlegung"},
        {"AX_HistorischesFlurstueck", gemarkung + buchung,
         "gemarkung_gemarkungsnummer, buchung_blattart, buchung_buchungsblattbezirk_bezirk",
         "1234|1000|1234"},
        {"AX_Flurstueck", gemarkung + "<flurstuecksfolge>01</flurstuecksfolge>",
         "gemarkung_gemarkungsnummer, flurstuecksfolge", "1234|01"},
        {"AX_Grenzpunkt",
         "<punktkennung>326215560005678</punktkennung><besonderePunktnummer>17a"
         "</besonderePunktnummer>",
         "punktkennung, besonderepunktnummer", "326215560005678|17a"},
        {"AX_Anschrift",
         "<ort_Post>Wien</ort_Post><strasse>Ring</strasse><hausnummer>1</hausnummer>"
         "<bestimmungsland>Österreich</bestimmungsland><organisationName>Stadtwerke</organisationName>",
         "ort_post, strasse, hausnummer, bestimmungsland, organisationname",
         "Wien|Ring|1|Österreich|Stadtwerke"},
        {"AX_Strassenverkehr", "<funktion>2312</funktion><name>Rheinuferstraße</name>" + lagebezeichnung,
         "funktion, name, lagebezeichnung_verschluesselt_land, "
         "lagebezeichnung_verschluesselt_regierungsbezirk, "
         "lagebezeichnung_verschluesselt_kreis, lagebezeichnung_verschluesselt_gemeinde, "
         "lagebezeichnung_verschluesselt_lage",
         "2312|Rheinuferstraße|07|3|14|000|01234"},
        {"AX_Weg", "<funktion>5210</funktion>" + unverschluesselt,
         "funktion, lagebezeichnung_unverschluesselt", "5210|Leinpfad"},
        {"AX_Platz", lagebezeichnung, "lagebezeichnung_verschluesselt_lage", "01234"},
        {"AX_Fliessgewaesser", unverschluesselt, "lagebezeichnung_unverschluesselt", "Leinpfad"},
        {"AX_Gemarkung",
         key("schluessel", "AX_Gemarkung_Schluessel",
             "<land>07</land><gemarkungsnummer>1234</gemarkungsnummer>") +
             dienststelle("istAmtsbezirkVon", "07", "7310") + dienststelle("istAmtsbezirkVon", "07", "1200"),
         "schluessel_land, schluessel_gemarkungsnummer, istamtsbezirkvon_land, istamtsbezirkvon_stelle",
         "07|1234|07|07|7310|1200"},
        {"AX_Gemeindeteil",
         key("gemeindekennzeichen", "AX_Gemeindekennzeichen",
             "<land>07</land><regierungsbezirk>3</regierungsbezirk><kreis>14</kreis><gemeinde>000</gemeinde>"
             "<gemeindeteil>01</gemeindeteil>") +
             "<administrativeFunktion>1001</administrativeFunktion>",
         "gemeindekennzeichen_land, gemeindekennzeichen_kreis, gemeindekennzeichen_gemeindeteil, "
         "administrativefunktion",
         "07|14|01|1001"},
        {"AX_Verwaltungsgemeinschaft", "<bezeichnungArt>1000</bezeichnungArt>", "bezeichnungart", "1000"},
        {"AX_Dienststelle", dienststelle("schluessel", "07", "7310") + "<kennung>KA7310</kennung>",
         "schluessel_stelle, kennung", "7310|KA7310"},
        {"AX_Reservierung",
         "<art>1300</art><nummer>1234</nummer>" + dienststelle("vergebendeStelle", "07", "7310") +
             "<ablaufDerReservierung>2025-12-31</ablaufDerReservierung><auftragsnummer>A-17</auftragsnummer>",
         "art, nummer, vergebendestelle_land, vergebendestelle_stelle, ablaufderreservierung, auftragsnummer",
         "1300|1234|07|7310|2025-12-31|A-17"},
        {"AX_PunktkennungUntergegangen", "<punktkennung>326215560009999</punktkennung><art>1000</art>",
         "punktkennung, art", "326215560009999|1000"},
        {"AX_FortfuehrungsnachweisDeckblatt",
         "<uri>urn:adv:fna:0712342019</uri><fortfuehrungsfallnummernbereich>1-20</"
         "fortfuehrungsfallnummernbereich>" +
             key("ingemarkung", "AX_Gemarkung_Schluessel",
                 "<land>07</land><gemarkungsnummer>1234</gemarkungsnummer>") +
             key("fortfuehrungsnachweisnummer", "AX_Fortfuehrungsnummer",
                 "<laufendeNummer>17</laufendeNummer>") +
             "<titel>Zerlegung</titel><erstelltAm>2019-05-06</"
             "erstelltAm><fortfuehrungsentscheidungAm>2019-05-20"
             "</fortfuehrungsentscheidungAm><fortfuehrungsentscheidungVon>Katasteramt</"
             "fortfuehrungsentscheidungVon>"
             "<bemerkung>ohne Befund</bemerkung>",
         "uri, fortfuehrungsfallnummernbereich, ingemarkung_land, ingemarkung_gemarkungsnummer, "
         "laufendenummer, "
         "titel, erstelltam, fortfuehrungsentscheidungam, fortfuehrungsentscheidungvon, bemerkung",
         "urn:adv:fna:0712342019|1-20|07|1234|17|Zerlegung|2019-05-06|2019-05-20|Katasteramt|ohne Befund"},
        {"AX_Fortfuehrungsfall",
         "<fortfuehrungsfallnummer>3</fortfuehrungsfallnummer><laufendeNummer>1</laufendeNummer>"
         "<ueberschriftImFortfuehrungsnachweis>1000</ueberschriftImFortfuehrungsnachweis>"
         "<ueberschriftImFortfuehrungsnachweis>2000</ueberschriftImFortfuehrungsnachweis>"
         "<anzahlDerFortfuehrungsmitteilungen>2</anzahlDerFortfuehrungsmitteilungen><bemerkung>Teilung</"
         "bemerkung>",
         "fortfuehrungsfallnummer, laufendenummer, ueberschriftimfortfuehrungsnachweis, "
         "anzahlderfortfuehrungsmitteilungen, bemerkung",
         "3|1|1000|2000|2|Teilung"},
        {"AX_Verwaltung", "", "anlass", "000000"},
        {"AX_Vertretung", "", "anlass", "000000"},
        {"AX_WirtschaftlicheEinheit", "", "anlass", "000000"},
        {"AX_SonstigesBauwerkOderSonstigeEinrichtung",
         "<bauwerksfunktion>1780</bauwerksfunktion><funktion>1000"
         "</funktion>",
         "bauwerksfunktion, funktion", "1780|1000"},
        {"AX_Soll", point + "<name>Pfuhl</name>", "name", "Pfuhl"},
        {"AX_Gelaendekante", "<artDerGelaendekante>1220</artDerGelaendekante>", "artdergelaendekante",
         "1220"},
        {"AX_BesondererHoehenpunkt", point + "<besondereBedeutung>1000</besondereBedeutung>",
         "besonderebedeutung", "1000"},
        {"AX_Baublock", "<baublockbezeichnung>0815</baublockbezeichnung><art>1000</art>",
         "baublockbezeichnung, art", "0815|1000"},
        {"AX_Gebaeudeausgestaltung", "<darstellung>1030</darstellung>", "darstellung", "1030"},
        {"AX_TopographischeLinie",
         "<liniendarstellung>1000</liniendarstellung><sonstigeEigenschaft>Mauer"
         "</sonstigeEigenschaft>",
         "liniendarstellung, sonstigeeigenschaft", "1000|Mauer"},
    };
    std::string members;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const std::string id = "DERP12AL" + std::string(i < 10 ? "0000" : "000") + std::to_string(i) + "Cat";
        members +=
            Member("<" + c.type + " gml:id=\"" + id +
                   "\"><lebenszeitintervall><AA_Lebenszeitintervall><beginnt>2024-10-15T07:55:13Z</beginnt>"
                   "</AA_Lebenszeitintervall></lebenszeitintervall><anlass>000000</anlass>" +
                   c.body + "</" + c.type + ">");
    }
    const std::string file = dir.path().toStdString() + "/alkis.xml";
    std::ofstream(file, std::ios::binary)
        << Doc("<enthaelt><wfs:FeatureCollection>" + members + "</wfs:FeatureCollection></enthaelt>");
    form->LoadDoc(file);
    EXPECT_EQ(form->iParsedFeatures, static_cast<std::int64_t>(cases.size()));
    // Nothing is said to have no column, and no feature failed.
    EXPECT_EQ(Column(db, "SELECT beschreibung FROM logs WHERE meldetyp = 1"), std::vector<std::string>{});

    for (const Case& c : cases) {
        std::string select;
        for (std::size_t from = 0;;) {
            const std::size_t comma = c.columns.find(',', from);
            std::string column = c.columns.substr(from, comma == std::string::npos ? comma : comma - from);
            column.erase(0, column.find_first_not_of(' '));
            select += std::string(select.empty() ? "" : ", ") + "coalesce(" + column + "::text, 'NULL')";
            if (comma == std::string::npos)
                break;
            from = comma + 1;
        }
        EXPECT_EQ(db.Scalar("SELECT concat_ws('|', " + select + ") FROM public." + LowerCaseAscii(c.type)),
                  c.values)
            << c.type;
    }
    // The lineage of the right keeps its process step.
    EXPECT_EQ(
        db.Scalar("SELECT count(*) || ' ' || max(datetime) FROM ax_li_processstep_punktort WHERE gml_id = "
                  "'DERP12AL00002Cat'"),
        "1 2019-05-06T10:00:00Z");
}

// A database prepared before the catalogue grew gains the new rows on the next install; a table made
// before keeps its columns until its staging table is made again (as README says), and then takes the
// new attribute, in the table of the integrated data as well, beside the rows it holds.
TEST_F(LoadDocTest, ATableMadeBeforeTheCatalogueGrewTakesItsNewColumnsOnceMadeAgain) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto load = [&](const std::string& name, const std::string& id, const std::string& body) {
        const std::string file = dir.path().toStdString() + "/" + name + ".xml";
        std::ofstream(file, std::ios::binary)
            << Doc("<enthaelt><wfs:FeatureCollection>" +
                   Member("<AX_SonstigesRecht gml:id=\"" + id +
                          "\"><lebenszeitintervall><AA_Lebenszeitintervall><beginnt>2024-10-15T07:55:13Z"
                          "</beginnt></AA_Lebenszeitintervall></lebenszeitintervall><anlass>000000</anlass>"
                          "<artDerFestlegung>9450</artDerFestlegung>" +
                          body + "</AX_SonstigesRecht>") +
                   "</wfs:FeatureCollection></enthaelt>");
        form->LoadDoc(file);
    };
    const std::string rows = "SELECT count(*) FROM parse WHERE oa = 'AX_SonstigesRecht' AND attrart LIKE "
                             "'ausfuehrendeStelle%'";
    EXPECT_EQ(db.Scalar(rows), "2");
    db.Exec("DELETE FROM parse WHERE attrart LIKE 'ausfuehrendeStelle%'");
    load("vorher", "DERP12AL0000Alt1", "");
    ASSERT_EQ(db.Scalar("SELECT count(*) FROM public.ax_sonstigesrecht"), "1");

    ASSERT_EQ(RunInstallAgain(db), 0);
    EXPECT_EQ(db.Scalar(rows), "2");
    // Not yet made again, the table stores the feature without the attribute it has no column for, and
    // says that once.
    const std::string stelle = "<ausfuehrendeStelle><AX_Dienststelle_Schluessel><land>07</land><stelle>7310"
                               "</stelle></AX_Dienststelle_Schluessel></ausfuehrendeStelle>";
    load("mitte", "DERP12AL0000Mit1", stelle + stelle);
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.ax_sonstigesrecht"), "2");
    const std::vector<std::string> said = {
        "Die Eigenschaft ausfuehrendeStelle_land von AX_SonstigesRecht der Datei mitte hat keine Spalte in "
        "der "
        "Tabelle alkistemp.ax_sonstigesrecht, die vor ihrer Zeile in parse angelegt wurde, und wird nicht "
        "gespeichert.",
        "Die Eigenschaft ausfuehrendeStelle_stelle von AX_SonstigesRecht der Datei mitte hat keine Spalte in "
        "der Tabelle alkistemp.ax_sonstigesrecht, die vor ihrer Zeile in parse angelegt wurde, und wird "
        "nicht "
        "gespeichert."};
    EXPECT_EQ(Column(db, "SELECT beschreibung FROM logs WHERE meldetyp = 1 ORDER BY beschreibung"), said);
    // The statements db/README.md gives for this: every staging table that lacks a column of parse.
    const std::vector<std::string> drops = Column(
        db,
        "SELECT DISTINCT format('DROP TABLE alkistemp.%I', c.relname) FROM pg_class c JOIN pg_inherits i ON "
        "i.inhrelid = c.oid AND i.inhparent = 'alkistemp.ax_objects'::regclass JOIN parse p ON c.relname IN "
        "(lower(p.oa), 'og_' || substring(p.oakennung::text FROM 1 FOR 2)) WHERE NOT EXISTS (SELECT 1 FROM "
        "pg_attribute a WHERE a.attrelid = c.oid AND a.attname = p.attrartkennung)");
    EXPECT_EQ(drops, std::vector<std::string>{"DROP TABLE alkistemp.ax_sonstigesrecht"});
    for (const std::string& drop : drops)
        db.Exec(drop);
    load("nachher", "DERP12AL0000Neu1",
         "<ausfuehrendeStelle><AX_Dienststelle_Schluessel><land>07</land><stelle>7310</stelle>"
         "</AX_Dienststelle_Schluessel></ausfuehrendeStelle>");

    EXPECT_EQ(Column(db,
                     "SELECT gml_id || ' ' || coalesce(ausfuehrendestelle_land::text, 'NULL') || ' ' || "
                     "coalesce(ausfuehrendestelle_stelle, 'NULL') FROM public.ax_sonstigesrecht ORDER BY 1"),
              (std::vector<std::string>{"DERP12AL0000Alt1 NULL NULL", "DERP12AL0000Mit1 NULL NULL",
                                        "DERP12AL0000Neu1 07 7310"}));
    EXPECT_EQ(Column(db, "SELECT beschreibung FROM logs WHERE meldetyp = 1 ORDER BY beschreibung"), said);
}

// Update files built from small pieces: an extract of features, and transactions of operations.
namespace operations {

std::string ExtractOf(const std::vector<std::string>& features) {
    std::string text = std::string(history::kEnvelopeStart) + "<enthaelt><wfs:FeatureCollection>";
    for (const std::string& f : features)
        text += "<gml:featureMember>" + f + "</gml:featureMember>";
    return text + "</wfs:FeatureCollection></enthaelt></AX_NutzerbezogeneBestandsdatenaktualisierung_NBA>\n";
}

std::string Transaction(const std::string& operations) {
    return std::string(history::kEnvelopeStart) + "<geaenderteObjekte><wfs:Transaction>" + operations +
           "</wfs:Transaction></geaenderteObjekte></AX_NutzerbezogeneBestandsdatenaktualisierung_NBA>\n";
}

std::string Filter(const std::string& fid) {
    return "<ogc:Filter><ogc:FeatureId fid=\"" + fid + "\"/></ogc:Filter>";
}

std::string Delete(const std::string& type, const std::string& fid) {
    return "<wfs:Delete typeName=\"" + type + "\">" + Filter(fid) + "</wfs:Delete>";
}

std::string Update(const std::string& type, const std::string& fid, const std::string& end) {
    return "<wfs:Update typeName=\"" + type +
           "\"><wfs:Property><wfs:Name>lebenszeitintervall/AA_Lebenszeitintervall/endet</wfs:Name>"
           "<wfs:Value>" +
           end + "</wfs:Value></wfs:Property>" + Filter(fid) + "</wfs:Update>";
}

std::string Replace(const std::string& feature, const std::string& fid) {
    return "<wfsext:Replace vendorId=\"AdV\" safeToIgnore=\"false\">" + feature + Filter(fid) +
           "</wfsext:Replace>";
}

const char* const kParcel = "DEGRUP0000PARC01";

// The parcel with its own relation, and a building whose relation points to it.
std::string Parcel(const std::string& id, const std::string& begin) {
    return history::Feature(
        "AX_Flurstueck", id, begin,
        "<flurnummer>25</flurnummer><istGebucht xlink:href=\"urn:adv:oid:DEGRUP0000BUCH01\"/>");
}
std::string BuildingOnParcel(const std::string& id = "DEGRUP0000BLDG01",
                             const std::string& begin = "2024-01-10T08:00:00Z") {
    return history::Feature("AX_Gebaeude", id, begin,
                            "<gebaeudefunktion>2000</gebaeudefunktion><zeigtAuf xlink:href=\"urn:adv:oid:" +
                                std::string(kParcel) + "\"/>");
}

} // namespace operations

// With tables per object-type group a group table holds the objects of several types: a Delete, an Update
// or a Replace naming the type of another object of the group closes nothing of it (not its relations
// either) and says so, as the table of a type that holds no such object would; naming the object's own
// type, in any case, closes it. The same when the file itself brought the object. Both write paths.
TEST_F(LoadDocTest, GroupTablesCloseOnlyVersionsOfTheNamedType) {
    using namespace operations;
    const std::string fid = std::string(kParcel) + "20240110T080000Z";
    const std::string other = "AX_BesondereFlurstuecksgrenze";
    const std::string refused = "Fehler beim Löschen des Objektes " + other + ": " + kParcel +
                                " - Das Objekt ist vom Typ AX_Flurstueck: nichts beendet";
    struct Case {
        const char* what;
        std::string operations;
        bool closed;
        std::string said; // the error row, empty for none
    };
    const std::vector<Case> cases = {
        {"a delete of another type", Delete(other, fid), false, refused},
        {"an update of another type", Update("adv:" + other, fid, "2024-05-06T07:08:09Z"), false, refused},
        // A replace is one operation: its closing refused, its new version is not stored either.
        {"a replace by another type",
         Replace(history::Feature(other, kParcel, "2024-05-06T07:08:09Z", ""), fid), false,
         "Fehler beim Import bei " + other + ": " + kParcel +
             " - Das Objekt ist vom Typ AX_Flurstueck: nichts beendet"},
        {"a delete of the type the file inserted before, named as another type",
         "<wfs:Insert>" + Parcel("DEGRUP0000PARC02", "2024-03-01T09:00:00Z") + "</wfs:Insert>" +
             Delete(other, "DEGRUP0000PARC02") + Delete(other, fid),
         false,
         "Fehler beim Löschen des Objektes " + other +
             ": DEGRUP0000PARC02 - Das Objekt ist vom Typ AX_Flurstueck: nichts beendet\n" + refused},
        {"a delete of its own type", Delete("adv:AX_Flurstueck", fid), true, ""},
        {"an update of its own type in other letters", Update("ax_flurstueck", fid, "2024-05-06T07:08:09Z"),
         true, ""},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string extract = history::WriteFile(
        dir, "extract.xml", ExtractOf({Parcel(kParcel, "2024-01-10T08:00:00Z"), BuildingOnParcel()}));
    int n = 0;
    for (const Case& c : cases) {
        for (const bool oneStatementAtATime : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (oneStatementAtATime ? ", one statement at a time" : ""));
            TTestDatabase database;
            TfrmKelpora window;
            window.oNachFolien = true;
            PrepareRun(window, database);
            window.oOneStatementAtATime = oneStatementAtATime;
            window.LoadDoc(extract);
            ASSERT_EQ(database.Scalar("SELECT count(*) FROM public.og_11"), "1");
            window.LoadDoc(
                history::WriteFile(dir, "update" + std::to_string(++n) + ".xml", Transaction(c.operations)));
            const std::string parcel = database.Scalar(
                "SELECT string_agg(oa || ' ' || (ende = '1899-12-30')::text, ',' ORDER BY beginn) FROM "
                "public.og_11 WHERE gml_id = '" +
                std::string(kParcel) + "'");
            const std::string relations = database.Scalar(
                "SELECT string_agg(gml_id || '>' || id_ref || ' ' || (ende IS NULL)::text, ',' ORDER BY "
                "gml_id) FROM public.id_refs WHERE '" +
                std::string(kParcel) + "' IN (gml_id, id_ref) AND beginn = '2024-01-10 08:00:00'");
            if (c.closed) {
                EXPECT_EQ(parcel, "AX_Flurstueck false");
                EXPECT_EQ(relations, "DEGRUP0000BLDG01>DEGRUP0000PARC01 false,"
                                     "DEGRUP0000PARC01>DEGRUP0000BUCH01 false");
            } else {
                EXPECT_EQ(parcel, "AX_Flurstueck true") << "the parcel ended, or a second version came";
                EXPECT_EQ(relations, "DEGRUP0000BLDG01>DEGRUP0000PARC01 true,"
                                     "DEGRUP0000PARC01>DEGRUP0000BUCH01 true");
            }
            EXPECT_EQ(database.Scalar("SELECT count(*) FROM public.og_11 WHERE gml_id = 'DEGRUP0000PARC02' "
                                      "AND ende = '1899-12-30'"),
                      c.what == cases[3].what ? "1" : "0");
            const std::vector<std::string> rows =
                Column(database, std::string("SELECT beschreibung FROM logs WHERE meldetyp = 1 AND ") +
                                     kNoDesignNote + " ORDER BY ctid");
            std::string said;
            for (const std::string& row : rows)
                said += (said.empty() ? "" : "\n") + row;
            EXPECT_EQ(said, c.said);
            window.cmd.reset();
            window.conn.reset();
        }
    }
}

// A delete ends the object at the moment of the import in UTC, the clock of the begins the files carry,
// whatever the zone of the machine that imports; the times of the log stay those of the machine. Both
// write paths.
TEST_F(LoadDocTest, ADeleteEndsAtTheMomentOfTheImportInUtcInAnyZone) {
    using namespace operations;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string utcNow = "date_trunc('second', now() AT TIME ZONE 'UTC')";
    int n = 0;
    for (const TZoneCase& zoneCase : kZonesAroundUtc) {
        for (const bool oneStatementAtATime : {false, true}) {
            SCOPED_TRACE(std::string(zoneCase.zone) +
                         (oneStatementAtATime ? ", one statement at a time" : ""));
            const TTimeZoneForTest zone(zoneCase.zone);
            ++n;
            db.Exec("DELETE FROM logs");
            // Begun a minute ago.
            const std::string begin = db.Scalar("SELECT to_char(" + utcNow +
                                                " - interval '1 minute', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')");
            const std::string id = "DEZONE00000000" + std::to_string(10 + n);
            form->oOneStatementAtATime = oneStatementAtATime;
            form->LoadDoc(history::WriteFile(dir, "extract" + std::to_string(n) + ".xml",
                                             ExtractOf({BuildingOnParcel(id, begin)})));
            const std::string before = db.Scalar("SELECT " + utcNow);
            form->LoadDoc(history::WriteFile(dir, "delete" + std::to_string(n) + ".xml",
                                             Transaction(Delete("AX_Gebaeude", id))));
            const std::string after = db.Scalar("SELECT " + utcNow);
            EXPECT_EQ(db.Scalar("SELECT concat_ws(' ', (ende >= '" + before + "')::text, (ende <= '" + after +
                                "')::text) FROM public.ax_gebaeude WHERE gml_id = '" + id + "'"),
                      "true true")
                << db.Scalar("SELECT ende FROM public.ax_gebaeude WHERE gml_id = '" + id + "'") << " not in "
                << before << " .. " << after;
            EXPECT_EQ(
                db.Scalar("SELECT count(*) FROM public.id_refs WHERE gml_id = '" + id + "' AND ende IS NULL"),
                "0");
            // The run log's own times are those of the machine's clock.
            const std::string logged =
                db.Scalar("SELECT max(zeitpunkt) FROM logs WHERE beschreibung LIKE 'Temporäre Daten%'");
            EXPECT_LE(logged, DateTimeToDbText(Now()));
            EXPECT_GE(logged, DateTimeToDbText(Now() - 1.0 / 24 / 60));
            EXPECT_EQ(Column(db, std::string("SELECT beschreibung FROM logs WHERE meldetyp = 1 AND ") +
                                     kNoDesignNote),
                      std::vector<std::string>{});
        }
    }
}

// What a feature holds and the import keeps by design (its links to specialist data, the source
// description of its quality data) is said once per file, object type and property, in the log window and
// as an error row, as a property without a column is; an empty link or a source without a description
// loses nothing and says nothing.
TEST_F(LoadDocTest, LinksToSpecialistDataAndSourceDescriptionsAreSaidOncePerFileTypeAndProperty) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto lineage = [](const std::string& source) {
        return "<qualitaetsangaben><AX_DQPunktort><herkunft><gmd:LI_Lineage "
               "xmlns:gmd=\"http://www.isotc211.org/2005/gmd\"><gmd:processStep><gmd:LI_ProcessStep>"
               "<gmd:description><AX_LI_ProcessStep_Punktort_Description>Erhebung"
               "</AX_LI_ProcessStep_Punktort_Description></gmd:description></gmd:LI_ProcessStep>"
               "</gmd:processStep><gmd:source><gmd:LI_Source><gmd:description>" +
               source +
               "</gmd:description></gmd:LI_Source></gmd:source></gmd:LI_Lineage></herkunft></AX_DQPunktort>"
               "</qualitaetsangaben>";
    };
    const std::string link = "<zeigtAufExternes><AA_Fachdatenverbindung><art>urn:adv:fdv:0901</art>"
                             "<fachdatenobjekt><AA_Fachdatenobjekt><name>4711</name></AA_Fachdatenobjekt>"
                             "</fachdatenobjekt></AA_Fachdatenverbindung></zeigtAufExternes>";
    const std::string point = "<position><gml:Point srsName=\"urn:adv:crs:ETRS89_UTM32\"><gml:pos>"
                              "369818.203 5614520.625</gml:pos></gml:Point></position>";
    const auto feature = [](const std::string& type, const std::string& id, const std::string& body) {
        return history::Feature(type, id, "2024-10-15T07:55:13Z", body);
    };
    const auto file = [&](const std::string& name, const std::string& prefix) {
        return history::WriteFile(
            dir, name + ".xml",
            operations::ExtractOf(
                {feature("AX_PunktortAU", prefix + "PUNKT001",
                         link + point +
                             lineage("<AX_Datenerhebung_Punktort>"
                                     "9998</AX_Datenerhebung_"
                                     "Punktort>")),
                 feature("AX_PunktortAU", prefix + "PUNKT002",
                         "<zeigtAufExternes xlink:href=\"urn:adv:fdv:4712\"/>" + point +
                             lineage("<gco:CharacterString xmlns:gco=\"http://www.isotc211.org/2005/gco\">"
                                     "Digitalisierung</gco:CharacterString>")),
                 feature("AX_Flurstueck", prefix + "FLURS001", link + "<flurnummer>3</flurnummer>"),
                 // nothing of these is lost
                 feature("AX_PunktortTA", prefix + "PUNKT003",
                         "<zeigtAufExternes> </zeigtAufExternes>" + point + lineage(" ")),
                 feature("AX_Gebaeude", prefix + "GEBAE001", "<gebaeudefunktion>2000</gebaeudefunktion>")}));
    };
    const auto said = [](const std::string& property, const std::string& type, const std::string& name) {
        return "Die Eigenschaft " + property + " von " + type + " der Datei " + name +
               " wird nicht gespeichert: " +
               (property == "zeigtAufExternes"
                    ? "Verweise auf Fachdaten übernimmt der Import nicht."
                    : "von den Qualitätsangaben werden nur die Prozessschritte gespeichert.");
    };
    std::vector<std::string> expected;
    for (const std::string name : {"erste", "zweite"}) {
        const std::size_t logStart = form->LogLines().size();
        form->LoadDoc(file(name, name == "erste" ? "DEZEIG01" : "DEZEIG02"));
        const std::vector<std::string> here = {
            said("zeigtAufExternes", "AX_PunktortAU", name),
            said("qualitaetsangaben_herkunft/LI_Source/description", "AX_PunktortAU", name),
            said("zeigtAufExternes", "AX_Flurstueck", name)};
        expected.insert(expected.end(), here.begin(), here.end());
        const std::vector<std::string> log = form->LogLines();
        std::vector<std::string> notes;
        for (std::size_t i = logStart; i < log.size(); ++i)
            if (log[i].find("Die Eigenschaft") != std::string::npos ||
                log[i].find("Fehler") != std::string::npos)
                notes.push_back(log[i]);
        EXPECT_EQ(notes, here) << name;
        EXPECT_EQ(Column(db, "SELECT beschreibung FROM logs WHERE meldetyp = 1 ORDER BY ctid"), expected);
    }
    // Still not stored: the links have no column, the points keep their process step alone.
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.ax_objects"), "10");
    EXPECT_EQ(
        db.Scalar("SELECT string_agg(description, ',') FROM ax_li_processstep_punktort WHERE gml_id LIKE "
                  "'DEZEIG01PUNKT00%'"),
        "Erhebung,Erhebung,Erhebung");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM information_schema.columns WHERE table_schema = 'public' AND "
                        "column_name LIKE '%zeigtaufexternes%'"),
              "0");
}
