#include <QAction>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QProgressBar>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "RunFixture.h"
#include "app/FormOptionen.h"
#include "platform/db/ZDatabase.h"
#include "platform/shell/AppDir.h"
#include "platform/xml/XmlDom.h"
#include "run/FormFiles.h"
#include "run/RunSupport.h"

namespace {
const char* const kAxObjects =
    "CREATE TABLE IF NOT EXISTS public.ax_objects (gml_id varchar, tablename varchar, "
    "modellart varchar, beginn timestamp, ende timestamp, geo geometry)";

std::string Real(const char* name) {
    return TestDataDir() + "/" + name;
}

std::vector<std::string> ChildNames(const TXmlNode& n) {
    std::vector<std::string> out;
    for (const auto& c : n.ChildNodes())
        if (c.IsElement())
            out.push_back(c.NodeName());
    return out;
}

class ImportCommand : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        db->Exec(kAxObjects);
    }
};
} // namespace

TEST(RunTexts, PercentRoundsHalfToEven) {
    struct Case {
        double done, total;
        int pct;
    } cases[] = {{0, 100, 0},   {10, 100, 10}, {40, 100, 40}, {1, 8, 12}, {5, 1000, 0}, {15, 1000, 2},
                 {25, 1000, 2}, {35, 1000, 4}, {0, 0, 0},     {3, 0, 0},  {-1, -2, 0},  {7, 5, 100}};
    for (const auto& c : cases)
        EXPECT_EQ(ImportPercent(c.done, c.total), c.pct) << c.done << "/" << c.total;
}

TEST(RunTexts, SizeInMegabytes) {
    struct Case {
        double bytes;
        const char* sep;
        const char* text;
    } cases[] = {
        {1572864, ",", "1,5"},
        {1572864, ".", "1.5"},
        {0, ",", "0,0"},
        {-1, ",", "0,0"}, // a missing file
        {85105, ",", "0,1"},
        {52425, ",", "0,0"},   // 0.049996: rounded once, not first to 0.05000
        {1100964, ",", "1,0"}, // 1.049961
        {999.96 * 1048576, ",", "1000,0"},
        {1234.56 * 1048576, ",", "1235,0"}, // four significant digits
        {9999.4 * 1048576, ",", "9999,0"},
        {9999.7 * 1048576, ",", "10000,0"},
        {12345.67 * 1048576, ",", "12345,7"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileSizeMBText(c.bytes, c.sep), c.text) << c.bytes;
}

TEST_F(ImportCommand, EmptyImportWithAlkisPostProcessingAndReport) {
    TracePostProcessing();
    WriteIni("ALKIS");
    ChooseFiles({}, true);
    w->ToolButton3Click();

    EXPECT_EQ(Lines(),
              (std::vector<std::string>{": Aktualisiere Umsetzungstabelle...", ": Erzeuge Indizes ...",
                                        ": Bearbeite geometry_columns ...", ": Transformiere Geometrien ...",
                                        ": Nachbereitung ALKIS ...", ": Aufbereitung ALB ...",
                                        ": Erzeuge Log-Datei...", ": Import abgeschlossen."}));
    EXPECT_EQ(TracedCalls(),
              (std::vector<std::string>{"fkt_umsetzung", "fkt_create_indizes", "fkt_add_geometry_column",
                                        "fkt_transformprj(25832,'')", "alkis_nachbearbeitung",
                                        "alb_nachbearbeitung"}));
    EXPECT_EQ(w->iLfdNrUmsetzung, 1);
    auto rows = LogRows(1);
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_EQ(std::vector<std::string>(rows.begin(), rows.begin() + 7),
              (std::vector<std::string>{"0|Aktualisiere Umsetzungstabelle ...", "0|Erzeuge Indizes ...",
                                        "0|Bearbeite geometry_columns ... ",
                                        "0|Transformiere Geometrien ... ", "0|Nachbereitung ALKIS ...",
                                        "0|Aufbereitung ALB ...", "0|Erzeuge Log-Datei..."}));
    EXPECT_EQ(rows[8], "0|Import abgeschlossen.");
    ASSERT_EQ(rows[7].rfind("2|", 0), 0u);
    EXPECT_NE(rows[7].find("<td>127.0.0.1</td>"), std::string::npos);
    EXPECT_NE(rows[7].find("<td>" + db->Name() + "</td>"), std::string::npos);
    EXPECT_EQ(w->StatusText(0), "Der Import ist abgeschlossen.");
    EXPECT_FALSE(w->ProgressBar1->isVisible());
    EXPECT_TRUE(fake->errors.empty());
    EXPECT_TRUE(fake->messages.empty());
    ExpectCleanedUp();

    // tmp.xml holds the completed run log; log.html the report; the run log is inactive now
    const auto tmp = TXmlDocument::LoadFile(ApplicationFile("tmp.xml"));
    EXPECT_EQ(ChildNames(tmp->Root()), (std::vector<std::string>{"date", "output", "objects", "files"}));
    EXPECT_EQ(tmp->Root().ChildNodes()[1].Xml(),
              "<output><server>127.0.0.1</server><database>" + db->Name() + "</database></output>");
    EXPECT_FALSE(w->xmlDocLog->Active);
    const auto html = TXmlDocument::LoadXml(ReadFile("log.html"));
    EXPECT_EQ(html->Root().NodeName(), "html");
    EXPECT_NE(ReadFile("log.html").find("Summe"), std::string::npos);
}

TEST_F(ImportCommand, PostProcessingOnlyBySchema) {
    TracePostProcessing();
    struct Case {
        const char* schema;
        int storedSrid; // 0: no geometry stored
        int targetIndex;
        const char* extraIni;
        std::vector<const char*> dropped;
        std::vector<std::string> calls;
    } cases[] = {
        {"ATKIS", 25832, 7, "", {}, {"fkt_umsetzung", "fkt_create_indizes", "fkt_add_geometry_column"}},
        {"AFIS",
         0,
         0,
         "",
         {},
         {"fkt_umsetzung", "fkt_create_indizes", "fkt_add_geometry_column", "intoHoehenfestpunkte"}},
        {"alkis",
         0,
         7,
         "[transformation]\npath31468=/grid/BETA2007.gsb\n",
         {},
         {"fkt_umsetzung", "fkt_create_indizes", "fkt_add_geometry_column",
          "fkt_transformprj(25832,'/grid/BETA2007.gsb')"}},
        {"ALKIS",
         31468,
         4,
         "",
         {},
         {"fkt_umsetzung", "fkt_create_indizes", "fkt_add_geometry_column", "alkis_nachbearbeitung",
          "alb_nachbearbeitung"}},
        {"ALKIS",
         0,
         15,
         "",
         {"fkt_create_indizes", "alkis_nachbearbeitung"},
         {"fkt_umsetzung", "fkt_add_geometry_column", "fkt_transformprj(325833,'')", "alb_nachbearbeitung"}},
    };
    std::size_t lastBefore = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.schema) + " " + std::to_string(c.storedSrid));
        db->Exec("TRUNCATE calls; DELETE FROM ax_objects");
        if (c.storedSrid)
            db->Exec("INSERT INTO ax_objects(gml_id, geo) VALUES ('x', ST_SetSRID(ST_MakePoint(1, 2), " +
                     std::to_string(c.storedSrid) + "))");
        for (const char* f : c.dropped)
            db->Exec(std::string("DROP FUNCTION ") + f + "()");
        WriteIni(c.schema, c.extraIni);
        w->cboSRID->setCurrentIndex(c.targetIndex);
        fake->answers.push_back(mrYes); // the question about 31468
        ChooseFiles({Real("bestand_bonn.xml")}, true, "post");
        const std::size_t before = lastBefore = Lines().size();
        w->ToolButton3Click();
        EXPECT_EQ(TracedCalls(), c.calls);
        const auto lines = Lines();
        ASSERT_GT(lines.size(), before);
        // a failed step: the run does not end as a success
        const bool failed = !c.dropped.empty();
        EXPECT_EQ(lines.back(), failed ? ": Import mit Fehlern abgeschlossen." : ": Import abgeschlossen.");
        const bool transformed = std::any_of(c.calls.begin(), c.calls.end(), [](const std::string& call) {
            return call.starts_with("fkt_transformprj");
        });
        EXPECT_EQ(std::count(lines.begin() + static_cast<long>(before), lines.end(),
                             ": Transformiere Geometrien ..."),
                  transformed ? 1 : 0);
        for (std::size_t i = before; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].find("Lese Datei"), std::string::npos) << lines[i];
            EXPECT_EQ(lines[i].find("Erzeuge Log-Datei"), std::string::npos) << lines[i];
        }
        EXPECT_EQ(db->Scalar("SELECT count(*) FROM logs WHERE meldetyp=2 AND lfd_nr_umsetz=" +
                             std::to_string(w->iLfdNrUmsetzung)),
                  "0");
        EXPECT_EQ(w->StatusText(0),
                  failed ? "Der Import ist mit Fehlern abgeschlossen." : "Der Import ist abgeschlossen.");
        EXPECT_FALSE(w->obModellArten);
        ExpectCleanedUp();
    }
    // the failing steps of the last case: their lines and error rows, and the next step still ran
    const auto lines = Lines();
    const auto at =
        std::find(lines.begin() + static_cast<long>(lastBefore), lines.end(), ": Erzeuge Indizes ...");
    ASSERT_NE(at, lines.end());
    EXPECT_EQ(*(at + 1), ": Fehler beim Erzeugen der Indizes. ");
    EXPECT_EQ(*(at + 2), "\tfunction fkt_create_indizes() does not exist");
    EXPECT_EQ(*(at + 3), ": Bearbeite geometry_columns ...");
    const auto alk = std::find(lines.begin(), lines.end(), ": Fehler bei der Nachbereitung der ALK-Daten ");
    ASSERT_NE(alk, lines.end());
    EXPECT_EQ(*(alk + 2), ": Aufbereitung ALB ...");
    const auto rows = LogRows(w->iLfdNrUmsetzung);
    EXPECT_NE(
        std::find(rows.begin(), rows.end(),
                  "1|Fehler beim Erzeugen der Indizes.  - function fkt_create_indizes() does not exist"),
        rows.end());
    EXPECT_NE(
        std::find(rows.begin(), rows.end(),
                  "1|Fehler bei der Nachbereitung der ALK-Daten.  - function alkis_nachbearbeitung() does "
                  "not exist"),
        rows.end());
}

TEST_F(ImportCommand, DatabaseReferenceSystemQuestion) {
    const std::string question =
        "Die Datenbank enthält Geometrien im Räumlichen Bezugssystem mit der SRID 31468. "
        "Sollen die einzulesenden Daten in dieses System transformiert werden oder "
        "möchten Sie den Import abbrechen?";
    struct Case {
        const char* name;
        const char* schema;
        const char* setup;
        int targetIndex;
        int answer;
        bool asked;
        bool dialogShown;
        int srid;
    } cases[] = {
        {"31468 answered Abort", "ATKIS",
         "INSERT INTO ax_objects(geo) VALUES (ST_SetSRID(ST_MakePoint(1,2),31468))", 4, mrAbort, true, false,
         31468},
        {"31468 answered Yes", "ATKIS", "", 7, mrYes, true, true, 31468},
        {"25832 with another target", "ATKIS", "UPDATE ax_objects SET geo=ST_SetSRID(geo,25832)", 4, mrAbort,
         false, true, 25832},
        {"AFIS reads no code", "AFIS", "UPDATE ax_objects SET geo=ST_SetSRID(geo,31468)", 7, mrAbort, false,
         true, 0},
        {"no geometry", "ATKIS", "DELETE FROM ax_objects", 7, mrAbort, false, true, 0},
        {"no table", "ATKIS", "DROP TABLE ax_objects", 7, mrAbort, false, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (*c.setup)
            db->Exec(c.setup);
        WriteIni(c.schema);
        w->cboSRID->setCurrentIndex(c.targetIndex);
        fake->messages.clear();
        fake->shownDialogs.clear();
        fake->modalActions.clear();
        fake->answers.clear();
        fake->answers.push_back(c.answer);
        ChooseFiles({}, false, "abbruch");
        const std::size_t before = Lines().size();
        w->ToolButton3Click();
        const auto lines = Lines();
        const std::vector<std::string> added(lines.begin() + static_cast<long>(before), lines.end());
        ASSERT_EQ(fake->messages.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(fake->messages[0].text, question);
            EXPECT_EQ(fake->messages[0].type, TMsgDlgType::mtConfirmation);
            EXPECT_EQ(fake->messages[0].buttons, unsigned(mbYes | mbAbort));
            EXPECT_EQ(fake->messages[0].defaultButton, mrYes);
        }
        EXPECT_EQ(fake->shownDialogs.size(), c.dialogShown ? 1u : 0u);
        EXPECT_EQ(w->iSRIDDB, c.srid);
        if (std::string(c.name) == "31468 answered Abort") {
            EXPECT_EQ(added,
                      std::vector<std::string>{"SRID der Datenbank: 31468 - Import nicht durchgeführt"});
            EXPECT_EQ(db->Scalar("SELECT to_regclass('public.logs') IS NULL"), "t"); // no run number drawn
        } else if (std::string(c.name) == "no table") {
            ASSERT_EQ(added.size(), 2u);
            EXPECT_EQ(added[0], ": Fehler beim Lesen der aktuellen SRID");
            EXPECT_EQ(added[1], "\trelation \"ax_objects\" does not exist");
        } else {
            EXPECT_TRUE(added.empty()) << (added.empty() ? "" : added[0]);
        }
        ExpectCleanedUp();
    }
}

TEST_F(ImportCommand, ConnectionSettingsAndRunLogHeader) {
    struct Case {
        const char* port;
        int expected;
    } cases[] = {{"5432", 5432}, {"", -1}, {"54x", -1}, {"-7", -7}};
    for (const auto& c : cases) {
        std::ofstream(dir.filePath("Kelpora.ini").toStdString())
            << "[verbindung]\nserver=h\nDatenbank=d\nUSER=u\nPasswort=p\nPort=" << c.port << "\n";
        const auto conn = w->CreateConnection(false);
        ASSERT_TRUE(conn);
        EXPECT_EQ(conn->Port, c.expected) << c.port;
        EXPECT_EQ(conn->Protocol, "postgresql");
        EXPECT_EQ(conn->HostName, "h");
        EXPECT_EQ(conn->Database, "d");
        EXPECT_EQ(conn->User, "u");
        EXPECT_EQ(conn->Password, "p");
        EXPECT_FALSE(conn->Connected());
    }
    // no run-log start asked: the document stays as it is
    EXPECT_TRUE(w->xmlDocLog->Root().IsNull());

    // every start gives a root of exactly date and output, nothing of an earlier run log remains
    for (int run = 0; run < 2; ++run) {
        w->xmlDocLog->Root().IsNull() ? void() : (void)w->xmlDocLog->Root().AddChild("objects");
        w->xmlDocLog->Active = false;
        ASSERT_TRUE(w->CreateConnection(true));
        EXPECT_TRUE(w->xmlDocLog->Active);
        const TXmlNode root = w->xmlDocLog->Root();
        EXPECT_EQ(root.NodeName(), "import");
        EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"date", "output"}));
        EXPECT_EQ(root.ChildNodes()[0].Text(),
                  QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat).toStdString());
        EXPECT_EQ(root.ChildNodes()[1].Xml(), "<output><server>h</server><database>d</database></output>");
    }

    // a missing file is no failure: every value is empty
    std::filesystem::remove(dir.filePath("Kelpora.ini").toStdString());
    const auto empty = w->CreateConnection(false);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->HostName, "");
    EXPECT_EQ(empty->Port, -1);
    EXPECT_TRUE(fake->messages.empty());
}

TEST_F(ImportCommand, UnreadableIniShowsTheNoticeAndTheSettings) {
    std::filesystem::remove(dir.filePath("Kelpora.ini").toStdString());
    std::filesystem::create_directory(dir.filePath("Kelpora.ini").toStdString());
    Form2 = new TForm2(w.get());
    w->ToolButton3Click();
    ASSERT_GE(fake->messages.size(), 1u);
    EXPECT_EQ(fake->messages[0].text,
              "Ini-Datei nicht gefunden!\r\nBitte geben Sie erst eine Datenbankverbindung ein!");
    EXPECT_EQ(fake->messages[0].type, TMsgDlgType::mtInformation);
    EXPECT_EQ(fake->messages[0].buttons, unsigned(mbOK));
    ASSERT_EQ(fake->shownDialogs.size(), 1u);
    EXPECT_EQ(fake->shownDialogs[0], Form2);
    EXPECT_FALSE(w->conn);
    EXPECT_FALSE(w->runBusy);
    Form2 = nullptr; // owned by the window
}

TEST_F(ImportCommand, FailedLoginEndsTheCommandAndTheNextClickStartsAfresh) {
    std::ofstream(dir.filePath("Kelpora.ini").toStdString())
        << "[Verbindung]\nServer=127.0.0.1\nPort=" << TTestDatabase::Port() << "\nDatenbank=" << db->Name()
        << "\nUser=" << TTestDatabase::User() << "\nPasswort=wrong\n";
    w->ToolButton3Click();
    ASSERT_EQ(fake->errors.size(), 1u);
    EXPECT_NE(fake->errors[0].find("password authentication failed"), std::string::npos) << fake->errors[0];
    EXPECT_TRUE(fake->shownDialogs.empty());
    ExpectCleanedUp();

    WriteIni("ATKIS");
    ChooseFiles({}, false, "abbruch");
    w->ToolButton3Click();
    EXPECT_EQ(fake->shownDialogs.size(), 1u);
    EXPECT_EQ(fake->errors.size(), 1u);
}

TEST_F(ImportCommand, CancelBetweenFilesAndIdleCommands) {
    // idle: cancel does nothing
    w->SetStatusText(0, "idle");
    w->ToolButton4Click();
    EXPECT_EQ(w->StatusText(0), "idle");

    std::vector<std::string> files{Real("bestand_bonn.xml"), Real("nba_bonn.xml"),
                                   Real("nba_bonn_gid71.xml")};
    ChooseFiles(files, false);
    bool clickedDuringRun = false;
    WatchStatus([&](const std::string& s) {
        if (s.rfind("Lese Datei 2 von 3", 0) == 0 && w->oRunFiles) {
            EXPECT_FALSE(w->nachFolien1->isEnabled()); // the table layout is fixed during a run
            const auto opened = fake->opened.size();
            w->ToolButton3Click(); // a second import while loading: nothing
            w->ToolButton5Click(); // the overview while loading: nothing
            EXPECT_EQ(fake->opened.size(), opened);
            w->ToolButton4Click();
            EXPECT_EQ(w->StatusText(0), "Der Import wird abgebrochen...");
            clickedDuringRun = true;
        }
    });
    w->ToolButton3Click();
    EXPECT_TRUE(clickedDuringRun);
    EXPECT_EQ(fake->shownDialogs.size(), 1u);
    std::vector<std::string> reading;
    for (const auto& l : Lines())
        if (l.find("Lese Datei: ") != std::string::npos)
            reading.push_back(l);
    ASSERT_EQ(reading.size(), 2u);
    EXPECT_EQ(reading[0], ": Lese Datei: bestand_bonn.xml - Größe ca. " +
                              FileSizeMBText(85105, QLocale::system().decimalPoint().toStdString()) + " MB");
    EXPECT_EQ(reading[1].rfind(": Lese Datei: nba_bonn.xml - Größe ca. ", 0), 0u);
    const auto lines = Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], ": Erzeuge Log-Datei...");
    EXPECT_EQ(lines.back(), ": Import abgeschlossen.");
    EXPECT_EQ(w->StatusText(0), "Der Import ist abgeschlossen.");
    EXPECT_EQ(db->Scalar("SELECT count(*) FROM logs WHERE meldetyp=2"), "1");
    // percentages by bytes before each file
    const double a = 85105, b = 13691, c = 13658;
    EXPECT_NE(std::find(statusSeen.begin(), statusSeen.end(),
                        "Lese Datei 2 von 3 - (" + std::to_string(ImportPercent(a, a + b + c)) + "%)"),
              statusSeen.end());
    ExpectCleanedUp();
}

TEST_F(ImportCommand, OverviewShowsTheStoredReportOfTheCurrentRun) {
    // a database without the run log table: the failure lines; outside a run no row can be written
    w->ToolButton5Click();
    EXPECT_TRUE(fake->opened.empty());
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], ": Fehler beim Anzeigen der Übersicht");
    EXPECT_EQ(lines[1], "\trelation \"logs\" does not exist");
    EXPECT_FALSE(w->conn);

    // before any import of this program run: run 0, an empty page
    db->Exec("CREATE TABLE logs (lfd_nr_umsetz integer, zeitpunkt timestamp, meldetyp integer, beschreibung "
             "text)");
    db->Exec("INSERT INTO logs VALUES (1, now(), 2, 'report of an earlier program run')");
    w->ToolButton5Click();
    ASSERT_EQ(fake->opened.size(), 1u);
    const QFileInfo page(QString::fromStdString(fake->opened[0]));
    EXPECT_EQ(page.suffix(), "html");
    EXPECT_TRUE(page.fileName().startsWith("ZOQ"));
    EXPECT_TRUE(page.exists());
    EXPECT_EQ(page.size(), 0);
    EXPECT_TRUE(fake->errors.empty());
    EXPECT_FALSE(w->conn);

    ChooseFiles({}, false);
    w->ToolButton3Click();
    w->ToolButton5Click();
    ASSERT_EQ(fake->opened.size(), 2u);
    std::ifstream in(fake->opened[1], std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(w->iLfdNrUmsetzung, 2);
    EXPECT_EQ(text.str(),
              db->Scalar("SELECT beschreibung FROM logs WHERE meldetyp=2 AND lfd_nr_umsetz=2") + "\n");
    EXPECT_FALSE(w->conn);

    // after a run whose file selection was cancelled: that run has no report, the page is empty
    ChooseFiles({}, false, "abbruch");
    w->ToolButton3Click();
    EXPECT_EQ(w->iLfdNrUmsetzung, 3);
    w->ToolButton5Click();
    ASSERT_EQ(fake->opened.size(), 3u);
    EXPECT_EQ(std::filesystem::file_size(fake->opened[2]), 0u);

    // a missing style sheet: tmp.xml written, the failure reported, no new report row
    std::filesystem::remove(ApplicationFile("Kelpora.XSL"));
    std::filesystem::remove(ApplicationFile("log.html"));
    ChooseFiles({}, false);
    w->ToolButton3Click();
    lines = Lines();
    const auto at = std::find(lines.begin(), lines.end(), ": Fehler beim Erzeugen der Log-Datei");
    ASSERT_NE(at, lines.end());
    EXPECT_EQ((at + 1)->rfind("\t", 0), 0u);
    EXPECT_EQ(lines.back(), ": Import abgeschlossen.");
    EXPECT_TRUE(std::filesystem::exists(ApplicationFile("tmp.xml")));
    EXPECT_FALSE(std::filesystem::exists(ApplicationFile("log.html")));
    EXPECT_EQ(db->Scalar("SELECT count(*) FROM logs WHERE meldetyp=2"), "2");
    EXPECT_EQ(db->Scalar("SELECT count(*) FROM logs WHERE meldetyp=1 AND beschreibung LIKE "
                         "'Fehler beim Erzeugen der Log-Datei - %' AND lfd_nr_umsetz=" +
                         std::to_string(w->iLfdNrUmsetzung)),
              "1");
}

TEST_F(ImportCommand, RunLogThatCannotBeSavedIsReportedAndTheRunCompletes) {
    std::filesystem::create_directory(ApplicationFile("tmp.xml")); // no file can be written there
    ChooseFiles({}, false);
    w->ToolButton3Click();
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], ": Erzeuge Log-Datei...");
    EXPECT_EQ(lines[1], ": Fehler beim Erzeugen der Log-Datei");
    EXPECT_EQ(lines[2].rfind("\t", 0), 0u);
    EXPECT_EQ(lines[3], ": Import abgeschlossen.");
    EXPECT_TRUE(fake->errors.empty());
    EXPECT_FALSE(w->xmlDocLog->Active);
    EXPECT_EQ(db->Scalar("SELECT count(*) FROM logs WHERE meldetyp=1"), "1");
    ExpectCleanedUp();
    // the next run starts its log afresh and reports normally
    std::filesystem::remove(ApplicationFile("tmp.xml"));
    ChooseFiles({}, false);
    w->ToolButton3Click();
    EXPECT_EQ(db->Scalar("SELECT count(*) FROM logs WHERE meldetyp=2"), "1");
    EXPECT_EQ(ChildNames(TXmlDocument::LoadFile(ApplicationFile("tmp.xml"))->Root()),
              (std::vector<std::string>{"date", "output", "objects", "files"}));
}

TEST_F(ImportCommand, RunLogBodyListsInsertCountsAndPortionHeaders) {
    w->obInserts.Add("AX_Flurstueck=3");
    w->obInserts.Add("AX_Gebaeude=1");
    auto full = std::make_unique<TPortionFile>("bestand");
    full->typ = "Bestandsdatenauszug";
    full->antragsnr = "Bonn_0001";
    full->koordRefSys = "ETRS89_UTM32";
    full->lfdNr = "1";
    full->anzPort = "2";
    w->obFiles.push_back(std::move(full));
    w->obFiles.push_back(std::make_unique<TPortionFile>("ohne_kopf")); // a header without any field
    ASSERT_TRUE(w->CreateConnection(true));
    w->CreateRunReport();

    const auto tmp = TXmlDocument::LoadFile(ApplicationFile("tmp.xml"));
    const TXmlNode root = tmp->Root();
    ASSERT_EQ(ChildNames(root), (std::vector<std::string>{"date", "output", "objects", "files"}));
    EXPECT_EQ(root.ChildNodes()[2].Xml(),
              "<objects><AX_Flurstueck>3</AX_Flurstueck><AX_Gebaeude>1</AX_Gebaeude></objects>");
    std::string files = root.ChildNodes()[3].Xml();
    files = std::regex_replace(files, std::regex("<(lfdNr|portionen)/>"), "<$1></$1>");
    EXPECT_EQ(files,
              "<files><file typ=\"Bestandsdatenauszug\" antragsnr=\"Bonn_0001\" koordrefsys=\"ETRS89_UTM32\">"
              "<name>bestand</name><lfdNr>1</lfdNr><portionen>2</portionen></file>"
              "<file typ=\"\" antragsnr=\"\" koordrefsys=\"\"><name>ohne_kopf</name><lfdNr></lfdNr>"
              "<portionen></portionen></file></files>");
    EXPECT_FALSE(w->xmlDocLog->Active);
}

// The server ends the session in the middle of the first of three files: that file ends with one report
// of the lost connection, and the run ends there, as after a file that failed to parse: no further file,
// no post-processing, no report, the error in the error display.
TEST_F(ImportCommand, LostConnectionEndsTheFileWithOneReportAndTheRun) {
    ChooseFiles({Real("bestand_bonn.xml"), Real("nba_bonn.xml"), Real("nba_bonn_gid71.xml")}, true);
    bool terminated = false;
    WatchStatus([&](const std::string& status) {
        if (terminated || status.rfind("Lese Datei 1 von 3", 0) != 0 || w->iParsedFeatures < 3)
            return;
        db->Exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = 'Kelpora' "
                 "AND datname = current_database()");
        terminated = true;
    });
    w->ToolButton3Click();
    ASSERT_TRUE(terminated);

    const std::vector<std::string> lines = Lines();
    int lost = 0, failures = 0, reading = 0;
    for (const std::string& line : lines) {
        lost += line.find("Die Verbindung zur Datenbank ist abgebrochen.") != std::string::npos;
        failures += line.find("Fehler") != std::string::npos;
        reading += line.find("Lese Datei: ") != std::string::npos;
    }
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(reading, 1);
    // The report is the last thing the run wrote.
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), ": Die Verbindung zur Datenbank ist abgebrochen.");
    EXPECT_EQ(fake->errors, std::vector<std::string>{"Die Verbindung zur Datenbank ist abgebrochen."});
    EXPECT_EQ(db->Scalar("SELECT count(*) FROM logs WHERE meldetyp <> 0"), "0");
    EXPECT_EQ(w->obFiles.size(), 1u);
    ExpectCleanedUp();
}

// Warnings the server raises while a file is integrated or post-processed reach the log window and the
// run log, each text once, after the step's own line; notices below warnings stay unsaid.
TEST_F(ImportCommand, ServerWarningsOfIntegrationAndPostProcessingAreSaid) {
    ChooseFiles({Real("bestand_bonn.xml")}, false);
    w->ToolButton3Click(); // makes the staging tables
    ASSERT_TRUE(fake->errors.empty());
    // Rows the integration cannot place: the real warning of temp2alkis.
    db->Exec("CREATE FUNCTION kt_no_begin() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
             "NEW.beginn := NULL; RETURN NEW; END $$;"
             "CREATE TRIGGER kt_no_begin BEFORE INSERT ON alkistemp.ax_gebaeude FOR EACH ROW "
             "EXECUTE FUNCTION kt_no_begin()");
    TracePostProcessing();
    db->Exec(
        "CREATE OR REPLACE FUNCTION fkt_create_indizes() RETURNS void LANGUAGE plpgsql AS $$ BEGIN "
        "RAISE WARNING 'Index auf x nicht angelegt'; RAISE NOTICE 'nur eine Notiz'; "
        "RAISE WARNING 'Index auf x nicht angelegt'; RAISE WARNING 'Index auf y nicht angelegt'; END $$");
    // A step that warns for every row it meets: a hundred texts, then how many more.
    db->Exec("CREATE OR REPLACE FUNCTION fkt_add_geometry_column() RETURNS void LANGUAGE plpgsql AS $$ "
             "BEGIN FOR i IN 1..130 LOOP RAISE WARNING 'Zeile %', i; END LOOP; END $$");
    const std::size_t before = Lines().size();
    ChooseFiles({Real("bestand_bonn.xml")}, true);
    w->ToolButton3Click();

    const std::vector<std::string> all = Lines();
    const std::vector<std::string> lines(all.begin() + static_cast<long>(before), all.end());
    const std::string staged = "Warnung der Datenbank: temp2alkis: 1 rows of alkistemp.ax_gebaeude without "
                               "gml_id or beginn stay in the staging table";
    const std::vector<std::string> said = {"Temporäre Daten integrieren ...", staged, "Erzeuge Indizes ...",
                                           "Warnung der Datenbank: Index auf x nicht angelegt",
                                           "Warnung der Datenbank: Index auf y nicht angelegt"};
    std::vector<std::string> seen;
    for (const std::string& line : lines)
        if (std::find(said.begin(), said.end(), line.substr(2)) != said.end())
            seen.push_back(line.substr(2));
    EXPECT_EQ(seen, said);
    for (const std::string& line : lines)
        EXPECT_EQ(line.find("Notiz"), std::string::npos) << line;
    const auto rows = WithoutDesignNotes(LogRows(w->iLfdNrUmsetzung));
    std::vector<std::string> errorRows;
    for (const std::string& row : rows)
        if (row.starts_with("1|"))
            errorRows.push_back(row.substr(2));
    ASSERT_EQ(errorRows.size(), 3u + 100u + 1u);
    EXPECT_EQ(std::vector<std::string>(errorRows.begin(), errorRows.begin() + 3),
              (std::vector<std::string>{staged, said[3], said[4]}));
    EXPECT_EQ(errorRows[3], "Warnung der Datenbank: Zeile 1");
    EXPECT_EQ(errorRows[102], "Warnung der Datenbank: Zeile 100");
    EXPECT_EQ(errorRows[103], "30 weitere Warnungen der Datenbank");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), ": 30 weitere Warnungen der Datenbank"), 1);
}

// A run that left something undone does not end as a success: files not applied (GeoInfoDok 7), a failed
// post-processing step. The next run starts without the failures of the one before.
TEST_F(ImportCommand, RunWithFailuresEndsSayingSo) {
    TracePostProcessing();
    const struct {
        const char* what;
        std::vector<std::string> files;
        const char* button;
        const char* sql; // run on the database before
        bool failed;
    } cases[] = {
        {"a sound file with post-processing", {Real("bestand_bonn.xml")}, "import", "", false},
        {"a file that is not read", {Real("nba_bonn_gid71.xml")}, "import", "", true},
        {"a failed post-processing step",
         {Real("nba_bonn.xml")},
         "import",
         "DROP FUNCTION fkt_create_indizes()",
         true},
        {"post-processing alone, failing", {}, "post", "", true},
        {"post-processing alone",
         {},
         "post",
         "CREATE FUNCTION fkt_create_indizes() RETURNS void "
         "LANGUAGE sql AS $$ SELECT $$",
         false},
        {"a sound file after runs with failures", {Real("nba_bonn.xml")}, "import", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (*c.sql)
            db->Exec(c.sql);
        ChooseFiles(c.files, true, c.button);
        w->ToolButton3Click();
        const std::string ending = c.failed ? "Import mit Fehlern abgeschlossen." : "Import abgeschlossen.";
        ASSERT_FALSE(Lines().empty());
        EXPECT_EQ(Lines().back(), ": " + ending);
        EXPECT_EQ(LogRows(w->iLfdNrUmsetzung).back(), "0|" + ending);
        EXPECT_EQ(w->StatusText(0),
                  c.failed ? "Der Import ist mit Fehlern abgeschlossen." : "Der Import ist abgeschlossen.");
        EXPECT_TRUE(fake->errors.empty());
        ExpectCleanedUp();
    }
}

// Points of a zone-prefixed system stored under the plain code (an easting of 32 363 620 in 25832) lie
// outside what the projection into 4326 takes: the transformation says how many stay and which, with the
// database's reason, transforms the others, and the run ends with failures. With every geometry
// transformed the step says nothing more than its start.
TEST_F(ImportCommand, GeometriesTheTransformationCannotTakeAreSaidAndTheRunEndsWithFailures) {
    const std::string reason = "transform: Point outside of projection domain (2050)";
    const struct {
        const char* what;
        std::vector<std::string> prefixed; // beside the sound point A1
        std::vector<std::string> said;     // the log window lines from the step's start on
    } cases[] = {
        {"all transform", {}, {": Transformiere Geometrien ...", ": Import abgeschlossen."}},
        {"two that cannot",
         {"P2", "P1"},
         {": Transformiere Geometrien ...", ": Fehler beim Transformieren der Geometrien. ",
          "\t2 von 3 Geometrien lassen sich nicht nach SRID 4326 transformieren und bleiben unverändert: "
          "ax_aufnahmepunkt P1, ax_aufnahmepunkt P2 (Grund bei der ersten: " +
              reason + ")",
          ": Import mit Fehlern abgeschlossen."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string rows = "('A1', '2024-10-15', ST_SetSRID(ST_MakePoint(363620, 5614700), 25832))";
        for (const std::string& id : c.prefixed)
            rows += ", ('" + id + "', '2024-10-15', ST_SetSRID(ST_MakePoint(32363620, 5614700), 25832))";
        db->Exec("DROP TABLE IF EXISTS public.ax_aufnahmepunkt; CREATE TABLE public.ax_aufnahmepunkt () "
                 "INHERITS (public.ax_objects); INSERT INTO public.ax_aufnahmepunkt (gml_id, beginn, geo) "
                 "VALUES " +
                 rows);
        w->cboSRID->setCurrentIndex(0);
        ASSERT_EQ(w->SelectedTargetSRID(), 4326);
        ChooseFiles({}, true, "post");
        w->ToolButton3Click();

        const std::vector<std::string> lines = Lines();
        const auto start = std::find(lines.rbegin(), lines.rend(), ": Transformiere Geometrien ...");
        ASSERT_NE(start, lines.rend());
        EXPECT_EQ(std::vector<std::string>(start.base() - 1, lines.end()), c.said);
        std::vector<std::string> errorRows;
        for (const std::string& row : LogRows(w->iLfdNrUmsetzung))
            if (row.starts_with("1|"))
                errorRows.push_back(row);
        EXPECT_EQ(errorRows, c.prefixed.empty() ? std::vector<std::string>{}
                                                : std::vector<std::string>{
                                                      "1|Fehler beim Transformieren der Geometrien\".  - " +
                                                      c.said[2].substr(1)});
        EXPECT_EQ(db->Scalar("SELECT string_agg(gml_id || ' ' || ST_SRID(geo), ', ' ORDER BY gml_id) FROM "
                             "public.ax_aufnahmepunkt"),
                  c.prefixed.empty() ? "A1 4326" : "A1 4326, P1 25832, P2 25832");
        EXPECT_TRUE(fake->errors.empty());
        ExpectCleanedUp();
    }
}

// The server ends the session in the middle of post-processing: the lost connection is said once, the
// steps after it are skipped, and the run ends with failures, without an error box.
TEST_F(ImportCommand, LostConnectionDuringPostProcessingSkipsTheRestAndEndsWithFailures) {
    TracePostProcessing();
    WriteIni("ALKIS");
    db->Exec("CREATE OR REPLACE FUNCTION fkt_create_indizes() RETURNS void LANGUAGE sql AS $$ "
             "SELECT pg_terminate_backend(pg_backend_pid()) $$");
    ChooseFiles({Real("bestand_bonn.xml")}, true);
    w->ToolButton3Click();

    EXPECT_EQ(TracedCalls(), std::vector<std::string>{"fkt_umsetzung"});
    const std::vector<std::string> lines = Lines();
    const auto indexes = std::find(lines.begin(), lines.end(), ": Erzeuge Indizes ...");
    ASSERT_NE(indexes, lines.end());
    EXPECT_EQ(
        std::vector<std::string>(indexes, lines.end()),
        (std::vector<std::string>{": Erzeuge Indizes ...", ": Die Verbindung zur Datenbank ist abgebrochen.",
                                  ": Erzeuge Log-Datei...", ": Import mit Fehlern abgeschlossen."}));
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("Fehler b"), std::string::npos) << line;
    }
    EXPECT_EQ(w->StatusText(0), "Der Import ist mit Fehlern abgeschlossen.");
    EXPECT_TRUE(fake->errors.empty());
    EXPECT_NE(ReadFile("log.html").find("Summe"), std::string::npos); // the report is made all the same
    ExpectCleanedUp();
}

// A database that takes no changes (default_transaction_read_only) is not reported as a success: the run
// does not start. The log window says why once, the general error display shows it, the file dialog is
// not shown and nothing is written; the run is cleaned up, so the next click starts afresh.
TEST_F(ImportCommand, ReadOnlyDatabaseEndsTheRunBeforeItStarts) {
    db->Exec("ALTER DATABASE " + db->Name() + " SET default_transaction_read_only = on");
    ChooseFiles({Real("bestand_bonn.xml")}, true);
    w->ToolButton3Click();
    const std::string refused = "Die Datenbank nimmt keine Änderungen an: cannot execute CREATE TABLE in a "
                                "read-only transaction - der Import wird nicht begonnen.";
    EXPECT_EQ(fake->errors, std::vector<std::string>{refused});
    EXPECT_EQ(Lines(), std::vector<std::string>{": " + refused});
    EXPECT_TRUE(fake->shownDialogs.empty());
    EXPECT_EQ(w->iParsedFeatures, 0);
    EXPECT_EQ(db->Scalar("SELECT count(*) FROM public.ax_objects"), "0");
    EXPECT_EQ(db->Scalar("SELECT to_regclass('public.logs') IS NULL"), "t");
    ExpectCleanedUp();
}

namespace {
const std::string kImportLockArguments = std::to_string(0x4B454C50) + ", 0";
const char* const kWaiting = ": Warte auf einen anderen Import in diese Datenbank ...";
} // namespace

// While another import writes into the database (here a session that holds the import lock), the run's
// file waits and says so first: the log window shows the line, and window messages are let through while
// it waits. The other lets go from inside the message loop, the file is then read and applied, and the
// run ends as any other.
TEST_F(ImportCommand, FileWaitsForAnotherImportAndSaysSo) {
    db->Exec("SELECT pg_advisory_lock(" + kImportLockArguments + ")");
    bool released = false;
    std::size_t linesWhenReleased = 0;
    WatchStatus([&](const std::string&) {
        const std::vector<std::string> lines = Lines();
        if (released || std::find(lines.begin(), lines.end(), kWaiting) == lines.end())
            return;
        linesWhenReleased = lines.size();
        db->Exec("SELECT pg_advisory_unlock(" + kImportLockArguments + ")");
        released = true;
    });
    ChooseFiles({Real("bestand_bonn.xml")}, false);
    w->ToolButton3Click();
    ASSERT_TRUE(released);
    EXPECT_TRUE(fake->errors.empty());
    const std::vector<std::string> lines = Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind(": Lese Datei: bestand_bonn.xml", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], kWaiting);
    EXPECT_EQ(linesWhenReleased, 2u); // nothing of the file came before the wait ended
    EXPECT_EQ(lines.back(), ": Import abgeschlossen.");
    EXPECT_EQ(db->Scalar("SELECT count(*) FROM public.ax_objects"), "12");
    EXPECT_EQ(db->Scalar("SELECT count(*) FROM logs WHERE meldetyp = 0 AND beschreibung = '" +
                         std::string(kWaiting + 2) + "'"),
              "1");
    ExpectCleanedUp();
}

// The server ends the wait (lock_timeout): the file is not read and said to be not applied, the reason is
// said once, the files after it are not read, and the run ends with failures.
TEST_F(ImportCommand, WaitThatTheServerEndsLeavesTheFileUnapplied) {
    db->Exec("ALTER DATABASE " + db->Name() + " SET lock_timeout = '100ms'");
    db->Exec("SELECT pg_advisory_lock(" + kImportLockArguments + ")");
    ChooseFiles({Real("bestand_bonn.xml"), Real("nba_bonn.xml")}, false);
    w->ToolButton3Click();
    EXPECT_TRUE(fake->errors.empty());
    const std::vector<std::string> lines = Lines();
    std::vector<std::string> from;
    for (auto it = std::find(lines.begin(), lines.end(), kWaiting); it != lines.end(); ++it)
        from.push_back(*it);
    EXPECT_EQ(from, (std::vector<std::string>{
                        kWaiting, ": Fehler beim Warten auf den anderen Import in diese Datenbank",
                        "\tcanceling statement due to lock timeout",
                        ": Die Datei " + Real("bestand_bonn.xml") +
                            " wurde nicht übernommen: nichts von ihr ist in der Datenbank.",
                        ": Die weitere Datei wird nicht gelesen.", ": Erzeuge Log-Datei...",
                        ": Import mit Fehlern abgeschlossen."}));
    EXPECT_EQ(w->iParsedFeatures, 0);
    EXPECT_EQ(db->Scalar("SELECT count(*) FROM public.ax_objects"), "0");
    EXPECT_EQ(
        db->Scalar("SELECT string_agg(beschreibung, '|' ORDER BY ctid) FROM logs WHERE meldetyp = 1"),
        "Fehler beim Warten auf den anderen Import in diese Datenbank - canceling statement due to lock "
        "timeout|Die Datei " +
            Real("bestand_bonn.xml") + " wurde nicht übernommen: nichts von ihr ist in der Datenbank.");
    ExpectCleanedUp();
}
