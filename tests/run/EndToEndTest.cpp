// Whole runs through the window against the prepared database: the real extract, its update, a broken
// file in the middle of a run.
#include <QLocale>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "RunFixture.h"
#include "platform/shell/AppDir.h"
#include "platform/xml/XmlDom.h"
#include "run/RunSupport.h"

namespace {
std::string Real(const char* name) {
    return TestDataDir() + "/" + name;
}

std::string SizeText(const std::string& path) {
    return FileSizeMBText(static_cast<double>(std::filesystem::file_size(path)),
                          QLocale::system().decimalPoint().toStdString());
}

class EndToEnd : public RunFixture {};

// The files a run read, by their log window lines.
std::vector<std::string> FilesRead(const std::vector<std::string>& lines) {
    std::vector<std::string> reading;
    for (const auto& l : lines)
        if (l.rfind(": Lese Datei: ", 0) == 0)
            reading.push_back(l.substr(0, l.find(" - ")));
    return reading;
}

// The notes of what the sample's features hold and the import keeps by design.
std::string LinkNote(const std::string& type) {
    return "Die Eigenschaft zeigtAufExternes von " + type +
           " der Datei bestand_bonn wird nicht gespeichert: Verweise auf Fachdaten übernimmt der Import "
           "nicht.";
}
std::string SourceNote(const std::string& type, const std::string& file = "bestand_bonn") {
    return "Die Eigenschaft qualitaetsangaben_herkunft/LI_Source/description von " + type + " der Datei " +
           file +
           " wird nicht gespeichert: von den Qualitätsangaben werden nur die Prozessschritte gespeichert.";
}

// Calls `onError` when the general error display opens, so a test can look at the window's state then.
class TErrorStateDialogs : public TFakeDialogs {
public:
    void ShowErrorMessage(const std::string& text) override {
        if (onError)
            onError();
        TFakeDialogs::ShowErrorMessage(text);
    }
    std::function<void()> onError;
};
} // namespace

TEST_F(EndToEnd, ExtractThenUpdateWithAlkisPostProcessing) {
    WriteIni("ALKIS");
    WatchStatus();
    ChooseFiles({Real("bestand_bonn.xml")}, true);
    w->ToolButton3Click();
    ASSERT_TRUE(fake->errors.empty()) << fake->errors[0];
    // What the sample holds that the import keeps by design is said once per object type and property,
    // in the log window and as error rows.
    std::vector<std::string> notes;
    for (const char* type : {"AX_Flurstueck", "AX_BesondereFlurstuecksgrenze", "AX_PunktortAU"})
        notes.push_back(LinkNote(type));
    notes.push_back(SourceNote("AX_PunktortAU"));
    notes.push_back(SourceNote("AX_Gebaeude"));
    notes.push_back(LinkNote("AX_Turm"));
    notes.push_back(SourceNote("AX_Turm"));
    for (const char* type :
         {"AX_Wohnbauflaeche", "AX_Strassenverkehr", "AX_Wald", "AX_Fahrwegachse", "AX_BoeschungKliff"})
        notes.push_back(LinkNote(type));
    std::vector<std::string> notesShown, notesWritten;
    for (const std::string& l : Lines())
        if (IsDesignNote(l))
            notesShown.push_back(l);
    for (const std::string& r : LogRows(1))
        if (IsDesignNote(r))
            notesWritten.push_back(r.substr(r.find('|') + 1));
    EXPECT_EQ(notesShown, notes);
    EXPECT_EQ(notesWritten, notes);
    EXPECT_EQ(WithoutDesignNotes(Lines()),
              (std::vector<std::string>{
                  ": Lese Datei: bestand_bonn.xml - Größe ca. " + SizeText(Real("bestand_bonn.xml")) + " MB",
                  ": Temporäre Daten integrieren ...", ": Aktualisiere Umsetzungstabelle...",
                  ": Erzeuge Indizes ...", ": Bearbeite geometry_columns ...",
                  ": Transformiere Geometrien ...", ": Nachbereitung ALKIS ...", ": Aufbereitung ALB ...",
                  ": Erzeuge Log-Datei...", ": Import abgeschlossen."}));
    EXPECT_EQ(w->StatusText(0), "Der Import ist abgeschlossen.");
    EXPECT_NE(std::find(statusSeen.begin(), statusSeen.end(), "Lese Datei 1 von 1 - (0%)"), statusSeen.end());
    auto rows = WithoutDesignNotes(LogRows(1));
    ASSERT_EQ(rows.size(), 14u);
    const std::string report = rows[12];
    rows.erase(rows.begin() + 12);
    for (auto& r :
         std::vector<std::string*>{&rows[0], &rows[1], &rows[2]}) // the lookup rows carry their time
        *r = std::regex_replace(*r, std::regex(R"(^0\|[^:]*:\d\d:\d\d)"), "0|time");
    EXPECT_EQ(rows,
              (std::vector<std::string>{
                  "0|time: Lese der modellarten-Tabelle", "0|time: Lesen der Relationstypen-Tabelle",
                  "0|time: Lesen der Koordinatensystem-Tabelle",
                  "0|Lese Datei: bestand_bonn.xml - Größe ca. " + SizeText(Real("bestand_bonn.xml")) + " MB",
                  "0|Temporäre Daten integrieren ...", "0|Aktualisiere Umsetzungstabelle ...",
                  "0|Erzeuge Indizes ...", "0|Bearbeite geometry_columns ... ",
                  "0|Transformiere Geometrien ... ", "0|Nachbereitung ALKIS ...", "0|Aufbereitung ALB ...",
                  "0|Erzeuge Log-Datei...", "0|Import abgeschlossen."}));
    ASSERT_EQ(report.rfind("2|", 0), 0u);
    EXPECT_EQ(report.substr(2), TXmlDocument::LoadXml(ReadFile("log.html"))->Xml());

    // the objects are integrated; the report counts them per type and lists the file
    const int stored = std::stoi(db->Scalar("SELECT count(*) FROM public.ax_objects"));
    EXPECT_GE(stored, 10);
    EXPECT_EQ(db->Scalar("SELECT count(*) FROM alkistemp.ax_objects"), "0");
    const std::string html = ReadFile("log.html");
    EXPECT_NE(html.find("<td>AX_Flurstueck</td>"), std::string::npos);
    EXPECT_NE(html.find("<td>bestand_bonn</td>"), std::string::npos);
    EXPECT_NE(html.find("<td>Bonn_241016080000_0001</td>"), std::string::npos); // the portion header
    EXPECT_NE(report.find("<td>AX_Flurstueck</td>"), std::string::npos);
    const auto tmp = TXmlDocument::LoadFile(ApplicationFile("tmp.xml"));
    int counted = 0;
    for (const auto& o : tmp->Root().ElementsByName("objects")[0].ChildNodes())
        counted += std::stoi(o.Text());
    EXPECT_GE(counted, 10);

    // the update: a second run of the same program run, number 2, no transformation any more
    ChooseFiles({Real("nba_bonn.xml")}, true);
    const std::size_t before = Lines().size();
    w->ToolButton3Click();
    ASSERT_TRUE(fake->errors.empty()) << fake->errors[0];
    EXPECT_EQ(w->iLfdNrUmsetzung, 2);
    EXPECT_EQ(w->iSRIDDB, 25832);
    const auto lines = Lines();
    const std::vector<std::string> update(lines.begin() + static_cast<long>(before), lines.end());
    ASSERT_GE(update.size(), 2u);
    EXPECT_EQ(update[1], SourceNote("AX_Gebaeude", "nba_bonn")); // its replaced building's
    EXPECT_EQ(WithoutDesignNotes(update),
              (std::vector<std::string>{
                  ": Lese Datei: nba_bonn.xml - Größe ca. " + SizeText(Real("nba_bonn.xml")) + " MB",
                  ": Temporäre Daten integrieren ...", ": Aktualisiere Umsetzungstabelle...",
                  ": Erzeuge Indizes ...", ": Bearbeite geometry_columns ...", ": Nachbereitung ALKIS ...",
                  ": Aufbereitung ALB ...", ": Erzeuge Log-Datei...", ": Import abgeschlossen."}));
    EXPECT_GT(std::stoi(db->Scalar("SELECT count(*) FROM public.ax_objects WHERE ende IS NOT NULL")), 0);
    // the report of the second run lists the files of both
    const auto tmp2 = TXmlDocument::LoadFile(ApplicationFile("tmp.xml"));
    EXPECT_EQ(tmp2->Root().ElementsByName("file").size(), 2u);
    ExpectCleanedUp();
}

TEST_F(EndToEnd, MalformedSecondOfThreeEndsTheRun) {
    std::ifstream in(Real("nba_bonn.xml"), std::ios::binary);
    std::stringstream whole;
    whole << in.rdbuf();
    const std::string broken = dir.filePath("broken.xml").toStdString();
    std::ofstream(broken, std::ios::binary) << whole.str().substr(0, whole.str().size() / 2) << "<</";
    fake.reset(); // uninstalls itself; the replacement installs itself
    auto errorState = std::make_unique<TErrorStateDialogs>();
    bool runActiveAtError = true, connectedAtError = true;
    errorState->onError = [&] {
        runActiveAtError = w->oRunFiles || w->runBusy;
        connectedAtError = w->conn != nullptr;
    };
    fake = std::move(errorState);
    ChooseFiles({Real("bestand_bonn.xml"), broken, Real("nba_bonn.xml")}, true);
    w->ToolButton3Click();

    ASSERT_EQ(fake->errors.size(), 1u); // the general error display
    EXPECT_EQ(fake->errors[0], "StartTag: invalid element name");
    // the clean-up came first: while the box is open the run is over and the connection released
    EXPECT_FALSE(runActiveAtError);
    EXPECT_FALSE(connectedAtError);
    ASSERT_EQ(fake->messages.size(), 1u); // the parser's own box came first
    EXPECT_EQ(fake->messages[0].text.rfind("(68) StartTag: invalid element name", 0), 0u)
        << fake->messages[0].text;
    const auto lines = Lines();
    const std::vector<std::string> reading = FilesRead(lines);
    EXPECT_EQ(reading,
              (std::vector<std::string>{": Lese Datei: bestand_bonn.xml", ": Lese Datei: broken.xml"}));
    EXPECT_EQ(std::find(lines.begin(), lines.end(), ": Erzeuge Log-Datei..."), lines.end());
    EXPECT_EQ(std::find(lines.begin(), lines.end(), ": Import abgeschlossen."), lines.end());
    EXPECT_EQ(std::find(lines.begin(), lines.end(), ": Aktualisiere Umsetzungstabelle..."), lines.end());
    EXPECT_GE(std::stoi(db->Scalar("SELECT count(*) FROM public.ax_objects")), 10); // the first file's data
    EXPECT_EQ(w->obFiles.size(), 2u);
    ExpectCleanedUp();

    // the next click starts a new run
    ChooseFiles({}, false, "abbruch");
    w->ToolButton3Click();
    EXPECT_EQ(fake->shownDialogs.size(), 2u);
}

// The second of three files cannot be integrated: it is rolled back and said to be not applied, the third
// is not read (an update may build on the second), and the run goes on with its post-processing and its
// report on the data of the first.
TEST_F(EndToEnd, FailedIntegrationOfTheSecondOfThreeLeavesTheThirdUnread) {
    WriteIni("ALKIS");
    db->Exec("CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
             "IF NEW.beginn > '2024-10-16' THEN RAISE EXCEPTION 'kein Platz'; END IF; RETURN NEW; END $$");
    db->Exec("CREATE TABLE public.ax_gebaeude (LIKE alkistemp.ax_objects) INHERITS (public.ax_objects)");
    const std::string third = dir.filePath("third.xml").toStdString();
    std::filesystem::copy_file(Real("bestand_bonn.xml"), third);
    // The update's new building version is the row the integration cannot place.
    db->Exec(
        "CREATE TRIGGER refuse BEFORE INSERT ON public.ax_gebaeude FOR EACH ROW EXECUTE FUNCTION refuse()");
    ChooseFiles({Real("bestand_bonn.xml"), Real("nba_bonn.xml"), third}, true);
    w->ToolButton3Click();

    EXPECT_TRUE(fake->errors.empty());
    const auto lines = Lines();
    const std::vector<std::string> reading = FilesRead(lines);
    EXPECT_EQ(reading,
              (std::vector<std::string>{": Lese Datei: bestand_bonn.xml", ": Lese Datei: nba_bonn.xml"}));
    const auto said = [&lines](const std::string& text) {
        return std::count(lines.begin(), lines.end(), text);
    };
    EXPECT_EQ(said(": Die Datei " + Real("nba_bonn.xml") +
                   " wurde nicht übernommen: nichts von ihr ist in der Datenbank."),
              1);
    EXPECT_EQ(said(": Die weitere Datei wird nicht gelesen."), 1);
    EXPECT_EQ(said(": Aktualisiere Umsetzungstabelle..."), 1);
    EXPECT_EQ(said(": Erzeuge Log-Datei..."), 1);
    EXPECT_EQ(lines.back(), ": Import mit Fehlern abgeschlossen.");
    // Only the extract: the update's replace, delete and insert are not there.
    EXPECT_EQ(db->Scalar("SELECT count(*) FROM public.ax_objects"), "12");
    EXPECT_EQ(db->Scalar("SELECT count(*) FROM public.ax_objects WHERE ende <> '1899-12-30'"), "0");
    EXPECT_EQ(db->Scalar("SELECT count(*) FROM alkistemp.ax_objects"), "0");
    ExpectCleanedUp();
}

namespace {
// A trigger on each table `tables` (a query of their names) that raises `raise` (a RAISE statement of
// PL/pgSQL) for each row `when` holds for.
void RaiseOn(TTestDatabase& db, const std::string& tables, const std::string& when,
             const std::string& raise) {
    db.Exec("DROP FUNCTION IF EXISTS spoil() CASCADE");
    db.Exec("CREATE FUNCTION spoil() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF " + when + " THEN " +
            raise + "; END IF; RETURN NEW; END $$");
    db.Exec("DO $$ DECLARE t text; BEGIN FOR t IN " + tables +
            " LOOP EXECUTE format('CREATE TRIGGER spoil BEFORE INSERT ON %s FOR EACH ROW EXECUTE FUNCTION "
            "spoil()', t); END LOOP; END $$");
}

const char* const kStagingTables =
    "SELECT inhrelid::regclass::text FROM pg_inherits WHERE inhparent = 'alkistemp.ax_objects'::regclass";

std::size_t LinesWith(const std::vector<std::string>& lines, const std::string& part) {
    return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&part](const std::string& l) {
        return l.find(part) != std::string::npos;
    }));
}
} // namespace

// The disk fills up while the first of three files is written: from the third staged row on, or for its
// quality data, every row is refused with the server's SQLSTATE 53100. The file ends at once with one
// report of the server's message (not one per feature), nothing of it stays, the two files after it are
// not read, and the run goes on with its post-processing and its report and ends with failures; with
// features in flight as one statement at a time.
TEST_F(EndToEnd, FullDiskEndsTheFileAtOnceAndTheFurtherFilesAreNotRead) {
    WriteIni("ALKIS");
    ChooseFiles({Real("bestand_bonn.xml")}, false);
    w->ToolButton3Click(); // makes the staging tables
    ASSERT_TRUE(fake->errors.empty());
    const std::string stored = db->Scalar("SELECT count(*) FROM public.ax_objects");
    const std::string third = dir.filePath("third.xml").toStdString();
    std::filesystem::copy_file(Real("bestand_bonn.xml"), third);
    const std::string diskFull = "could not extend file \"base/16384/16385\": No space left on device";
    const std::string raise = "RAISE EXCEPTION '" + diskFull + "' USING ERRCODE = '53100'";
    db->Exec("CREATE SEQUENCE staged_rows");
    const struct {
        const char* where;
        std::string tables;
        const char* when;
        const char* report; // the start of the report's run log row
        const char* first;  // SQL run before the import
    } cases[] = {
        {"staged rows", kStagingTables, "nextval('staged_rows') >= 3", "1|Fehler beim Import bei ", ""},
        // A row of quality data already there is not written again.
        {"quality data", "SELECT 'public.ax_li_processstep_punktort'", "true", "1|Fehler",
         "DELETE FROM ax_li_processstep_punktort"},
    };
    int run = 1;
    for (const auto& c : cases) {
        RaiseOn(*db, c.tables, c.when, raise);
        for (const bool oneStatementAtATime : {false, true}) {
            SCOPED_TRACE(std::string(c.where) +
                         (oneStatementAtATime ? ", one statement at a time" : ", with features in flight"));
            db->Exec("SELECT setval('staged_rows', 1, false)");
            if (*c.first)
                db->Exec(c.first);
            const std::string steps = db->Scalar("SELECT count(*) FROM ax_li_processstep_punktort");
            w->oOneStatementAtATime = oneStatementAtATime;
            const std::size_t before = Lines().size();
            ChooseFiles({Real("bestand_bonn.xml"), Real("nba_bonn.xml"), third}, true);
            w->ToolButton3Click();
            ++run;

            EXPECT_TRUE(fake->errors.empty());
            const std::vector<std::string> all = Lines();
            const std::vector<std::string> lines(all.begin() + static_cast<long>(before), all.end());
            EXPECT_EQ(FilesRead(lines), std::vector<std::string>{": Lese Datei: bestand_bonn.xml"});
            EXPECT_EQ(LinesWith(lines, diskFull), 1u);
            EXPECT_EQ(LinesWith(lines, "Fehler "), 1u);
            EXPECT_EQ(LinesWith(lines, ": Die Datei " + Real("bestand_bonn.xml") +
                                           " wurde nicht übernommen: nichts von ihr ist in der Datenbank."),
                      1u);
            EXPECT_EQ(LinesWith(lines, ": Die 2 weiteren Dateien werden nicht gelesen."), 1u);
            EXPECT_EQ(LinesWith(lines, ": Aktualisiere Umsetzungstabelle..."), 1u);
            EXPECT_EQ(LinesWith(lines, ": Erzeuge Log-Datei..."), 1u);
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines.back(), ": Import mit Fehlern abgeschlossen.");
            // The one report is in the run log too, written after the file's rollback.
            std::vector<std::string> errorRows;
            for (const std::string& row : WithoutDesignNotes(LogRows(run)))
                if (row.rfind("1|", 0) == 0)
                    errorRows.push_back(row);
            ASSERT_EQ(errorRows.size(), 2u);
            EXPECT_EQ(errorRows[0].rfind(c.report, 0), 0u) << errorRows[0];
            EXPECT_NE(errorRows[0].find(diskFull), std::string::npos) << errorRows[0];
            EXPECT_NE(errorRows[1].find("wurde nicht übernommen"), std::string::npos) << errorRows[1];
            EXPECT_EQ(db->Scalar("SELECT count(*) FROM public.ax_objects"), stored);
            EXPECT_EQ(db->Scalar("SELECT count(*) FROM ax_li_processstep_punktort"), steps);
            EXPECT_EQ(db->Scalar("SELECT count(*) FROM alkistemp.ax_objects"), "0");
            ExpectCleanedUp();
        }
    }
}

// A row that is there already is told by the server's SQLSTATE (unique_violation), not by its message,
// whose words depend on the server's language: a refusal worded in none of the server's languages is said
// as the duplicate it is, and the rest of the file is imported.
TEST_F(EndToEnd, DuplicateKeyIsToldByItsStateWhateverTheServersWords) {
    ChooseFiles({Real("bestand_bonn.xml")}, false);
    w->ToolButton3Click(); // makes the staging tables
    ASSERT_TRUE(fake->errors.empty());
    RaiseOn(*db, kStagingTables, "NEW.gml_id = 'DENW36AL10000Egu'",
            "RAISE EXCEPTION 'Eintrag % gibt es bereits', NEW.gml_id USING ERRCODE = 'unique_violation'");
    int run = 1;
    for (const bool oneStatementAtATime : {false, true}) {
        SCOPED_TRACE(oneStatementAtATime ? "one statement at a time" : "with features in flight");
        w->oOneStatementAtATime = oneStatementAtATime;
        const std::size_t before = Lines().size();
        ChooseFiles({Real("bestand_bonn.xml")}, false);
        w->ToolButton3Click();
        ++run;

        EXPECT_TRUE(fake->errors.empty());
        const std::vector<std::string> all = Lines();
        const std::vector<std::string> lines(all.begin() + static_cast<long>(before), all.end());
        EXPECT_EQ(LinesWith(lines, "Objekt schon vorhanden: AX_Gebaeude: DENW36AL10000Egu"), 1u);
        EXPECT_EQ(LinesWith(lines, "Fehler"), 0u);
        std::vector<std::string> errorRows;
        for (const std::string& row : WithoutDesignNotes(LogRows(run)))
            if (row.rfind("1|", 0) == 0)
                errorRows.push_back(row);
        EXPECT_EQ(errorRows,
                  std::vector<std::string>{"1|Objekt schon vorhanden: AX_Gebaeude: DENW36AL10000Egu"});
        // A feature that failed alone ends neither its file nor the run.
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), ": Import abgeschlossen.");
    }
}
