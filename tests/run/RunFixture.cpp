#include "RunFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "QtApp.h"
#include "platform/shell/AppDir.h"
#include "run/FormFiles.h"

void RunFixture::SetUp() {
    EnsureQApplication();
    SetApplicationDir(dir.path().toStdString());
    std::filesystem::copy_file(KELPORA_SOURCE_DIR "/resources/Kelpora.XSL",
                               dir.filePath("Kelpora.XSL").toStdString());
    db = std::make_unique<TTestDatabase>();
    fake = std::make_unique<TFakeDialogs>();
    w = std::make_unique<TfrmKelpora>();
    WriteIni("ATKIS");
}

void RunFixture::TearDown() {
    watcher.reset();
    w.reset();
    fake.reset();
    db.reset();
    SetApplicationDir("");
}

void RunFixture::WriteIni(const std::string& schema, const std::string& extra) {
    std::ofstream(dir.filePath("Kelpora.ini").toStdString())
        << "[Verbindung]\nServer=127.0.0.1\nPort=" << TTestDatabase::Port() << "\nDatenbank=" << db->Name()
        << "\nUser=" << TTestDatabase::User() << "\nPasswort=" << TTestDatabase::Password()
        << "\n[Allgemein]\nSchema=" << schema << "\n"
        << extra;
}

void RunFixture::ChooseFiles(std::vector<std::string> files, bool postprocessing, const std::string& button) {
    fake->modalActions.push_back([this, files, postprocessing, button](QDialog& d) {
        auto& f = dynamic_cast<TfrmFiles&>(d);
        fake->fileAnswers.push_back(files);
        f.btnAdd->click();
        f.cbPostprocessing->setChecked(postprocessing);
        if (button == "import")
            f.btnImport->click();
        else if (button == "post")
            f.btnPostprocessing->click();
        else
            f.btnAbbruch->click();
        return f.result();
    });
}

std::vector<std::string> RunFixture::Lines() const {
    static const std::regex time(R"(^\d{1,2}:\d{2}:\d{2}(\s?[AaPp]\.?[Mm]\.?)?)");
    std::vector<std::string> out;
    const auto all = w->LogLines();
    for (std::size_t i = 1; i < all.size(); ++i)
        out.push_back(std::regex_replace(all[i], time, "", std::regex_constants::format_first_only));
    return out;
}

std::vector<std::string> RunFixture::LogRows(int run) {
    std::vector<std::string> out;
    // In the order written: a row that fits the free space of an earlier page goes there, so the place of a
    // row alone does not tell; the transaction (or savepoint) that wrote it does, as every row of the
    // importer's own is written after the statement before it.
    for (const auto& row : db->Query("SELECT meldetyp, beschreibung FROM logs WHERE lfd_nr_umsetz=" +
                                     std::to_string(run) + " ORDER BY xmin::text::bigint, ctid"))
        out.push_back(row[0].value_or("<null>") + "|" + row[1].value_or("<null>"));
    return out;
}

void RunFixture::WatchStatus(std::function<void(const std::string&)> onStatus) {
    watcher = std::make_unique<QTimer>();
    watcher->setInterval(0);
    QObject::connect(watcher.get(), &QTimer::timeout, [this, onStatus] {
        const std::string s = w->StatusText(0);
        if (statusSeen.empty() || statusSeen.back() != s)
            statusSeen.push_back(s);
        if (onStatus)
            onStatus(s);
    });
    watcher->start();
}

void RunFixture::TracePostProcessing() {
    db->Exec("CREATE TABLE IF NOT EXISTS calls (n serial, call text)");
    for (const char* f : {"fkt_umsetzung", "fkt_create_indizes", "fkt_add_geometry_column",
                          "intoHoehenfestpunkte", "alkis_nachbearbeitung", "alb_nachbearbeitung"}) {
        db->Exec(std::string("DROP FUNCTION IF EXISTS ") + f + "() CASCADE");
        db->Exec(std::string("CREATE FUNCTION ") + f +
                 "() RETURNS void LANGUAGE sql AS $$ INSERT INTO calls(call) " + "VALUES ('" + f + "') $$");
    }
    db->Exec("DROP FUNCTION IF EXISTS fkt_transformprj(integer, text) CASCADE");
    // The answer of a transformation that found nothing it could not take.
    db->Exec("CREATE FUNCTION fkt_transformprj(srid integer, path text, OUT transformed bigint, OUT failed "
             "bigint, OUT failed_ids text, OUT failure text) LANGUAGE sql AS $$ "
             "INSERT INTO calls(call) VALUES ('fkt_transformprj(' || srid || ',' || quote_literal(path) || "
             "')') RETURNING 0::bigint, 0::bigint, NULL::text, NULL::text $$");
}

std::vector<std::string> RunFixture::TracedCalls() {
    std::vector<std::string> out;
    for (const auto& row : db->Query("SELECT call FROM calls ORDER BY n"))
        out.push_back(row[0].value_or("<null>"));
    return out;
}

std::string RunFixture::ReadFile(const std::string& name) const {
    std::ifstream in(dir.filePath(QString::fromStdString(name)).toStdString(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void RunFixture::ExpectCleanedUp() {
    EXPECT_FALSE(w->conn);
    EXPECT_FALSE(w->cmd);
    EXPECT_FALSE(w->obTables);
    EXPECT_FALSE(w->obKoRefs);
    EXPECT_FALSE(w->oRunFiles);
    EXPECT_FALSE(w->runBusy);
    EXPECT_TRUE(w->nachFolien1->isEnabled());
    // The server ends a backend shortly after the client has gone, so give it a moment.
    std::string sessions;
    for (int i = 0; i < 50; ++i) {
        sessions = db->Scalar("SELECT count(*) FROM pg_stat_activity WHERE datname='" + db->Name() +
                              "' AND application_name='Kelpora'");
        if (sessions == "0")
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(sessions, "0");
}
