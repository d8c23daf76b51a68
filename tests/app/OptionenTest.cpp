#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

#include "FakeDialogs.h"
#include "FileText.h"
#include "QtApp.h"
#include "TestDatabase.h"
#include "app/FormKelpora.h"
#include "app/FormOptionen.h"
#include "app/OdbcConnection.h"
#include "platform/shell/AppDir.h"

namespace {
class Optionen : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        SetApplicationDir(dir.path().toStdString());
        ini = dir.filePath("Kelpora.ini").toStdString();
    }
    void TearDown() override { SetApplicationDir(""); }
    std::vector<std::string> Edits(const TForm2& f) {
        std::vector<std::string> out;
        for (const QLineEdit* e : {f.tbDriver, f.tbServer, f.tbPort, f.tbDatenbank, f.tbUser, f.tbPasswort})
            out.push_back(e->text().toStdString());
        return out;
    }
    QTemporaryDir dir;
    std::string ini;
    TFakeDialogs fake;
};

bool IsRed(const QLabel* l) {
    return l->palette().color(QPalette::WindowText) == QColor(Qt::red);
}
} // namespace

TEST_F(Optionen, ControlsAndDefaultsWithoutFile) {
    TForm2 f;
    EXPECT_EQ(f.windowTitle(), "Optionen");
    EXPECT_EQ(f.size(), QSize(331, 292));
    EXPECT_EQ(f.rgSchema->title(), "Daten importieren aus");
    EXPECT_EQ(f.GroupBox1->title(), "Verbindung zur PostGIS-Datenbank");
    std::vector<QString> captions;
    for (QLabel* l : {f.Label6, f.Label1, f.Label2, f.Label3, f.Label4, f.Label5})
        captions.push_back(l->text());
    EXPECT_EQ(captions, (std::vector<QString>{
                            "Treibername:", "Server:", "Port:", "Datenbank:", "Benutzer:", "Passwort:"}));
    EXPECT_EQ(f.tbPasswort->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(f.btnTest->text(), "&Test");
    EXPECT_EQ(f.btnSpeichern->text(), "&Speichern");
    EXPECT_EQ(f.btnBeenden->text(), "&Beenden");
    EXPECT_EQ(f.lblVerbindung->text(), "nicht verbunden");
    // tab order: schema items, the six edits, then the three buttons
    std::vector<QWidget*> order{f.rgSchemaItems[0]};
    for (QWidget* w = order.back()->nextInFocusChain(); order.size() < 12; w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus)
            order.push_back(w);
    EXPECT_EQ(order, (std::vector<QWidget*>{f.rgSchemaItems[0], f.rgSchemaItems[1], f.rgSchemaItems[2],
                                            f.tbDriver, f.tbServer, f.tbPort, f.tbDatenbank, f.tbUser,
                                            f.tbPasswort, f.btnTest, f.btnSpeichern, f.btnBeenden}));

    f.FormShow();
    EXPECT_EQ(Edits(f), (std::vector<std::string>{"PostgreSQL Unicode", "", "", "", "", ""}));
    EXPECT_EQ(f.SchemaItemText(), "ATKIS");
    // saving creates the file with its two sections
    f.btnSpeichernClick();
    EXPECT_EQ(ReadAll(ini),
              "[Verbindung]\nDriver=PostgreSQL Unicode\nServer=\nDatenbank=\nUser=\nPasswort=\nPort=\n\n"
              "[Allgemein]\nSchema=ATKIS\n");
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(Optionen, SchemaSelectionIsExact) {
    const std::pair<std::string, std::string> cases[] = {
        {"ALKIS", "ALKIS"}, {"AFIS", "AFIS"},      {"alkis", "ATKIS"}, {"", "ATKIS"},
        {"ATKIS", "ATKIS"}, {" ALKIS\t", "ALKIS"}, {" AFIS ", "AFIS"}};
    TForm2 f;
    for (const auto& [stored, shown] : cases) {
        WriteAll(ini, "[Allgemein]\nSchema=" + stored + "\n");
        f.SetSchemaItemIndex(1);
        f.FormShow();
        EXPECT_EQ(f.SchemaItemText(), shown) << stored;
    }
    // "alkis" shows ATKIS and is saved as such
    WriteAll(ini, "[Allgemein]\nSchema=alkis\n");
    f.FormShow();
    f.btnSpeichernClick();
    EXPECT_NE(ReadAll(ini).find("Schema=ATKIS\n"), std::string::npos);
}

TEST_F(Optionen, SaveRoundTripKeepsOtherSectionsAndBeendenDoesNotSave) {
    WriteAll(ini, "[Transformation]\nPath31468=/opt/beta2007.gsb\n");
    TForm2 f;
    f.FormShow();
    f.tbServer->setText(" host ");
    f.tbPort->setText("5433");
    f.tbDatenbank->setText("nas");
    f.tbUser->setText("u");
    f.tbPasswort->setText("p;w");
    f.SetSchemaItemIndex(2);
    f.btnSpeichern->click();
    EXPECT_EQ(ReadAll(ini), "[Transformation]\nPath31468=/opt/beta2007.gsb\n\n[Verbindung]\n"
                            "Driver=PostgreSQL Unicode\nServer= host \nDatenbank=nas\nUser=u\nPasswort=p;w\n"
                            "Port=5433\n\n[Allgemein]\nSchema=ALKIS\n");

    // edits without saving are lost: the next showing reads the file again
    const std::string before = ReadAll(ini);
    fake.modalActions.push_back([&](QDialog& d) {
        auto& dlg = dynamic_cast<TForm2&>(d);
        EXPECT_EQ(dlg.tbServer->text(), "host"); // blanks around a value are no part of it
        dlg.tbServer->setText("changed");
        dlg.btnBeenden->click();
        return dlg.result();
    });
    EXPECT_EQ(f.Execute(), mrCancel);
    EXPECT_EQ(ReadAll(ini), before);
    f.FormShow();
    EXPECT_EQ(Edits(f), (std::vector<std::string>{"PostgreSQL Unicode", "host", "5433", "nas", "u", "p;w"}));
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(Optionen, ReadAndWriteFailuresShowTheirBoxes) {
    std::filesystem::create_directory(ini); // a folder where the file should be
    TForm2 f;
    f.tbServer->setText("kept");
    f.FormShow();
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text, "Fehler beim Lesen der Verbindungsdaten aus der ini-Datei.");
    EXPECT_EQ(fake.messages[0].type, TMsgDlgType::mtError);
    EXPECT_EQ(fake.messages[0].buttons, unsigned(mbOK));
    EXPECT_EQ(f.tbServer->text(), "kept");

    SetApplicationDir(dir.filePath("missing-folder").toStdString());
    f.btnSpeichernClick();
    ASSERT_EQ(fake.messages.size(), 2u);
    EXPECT_EQ(fake.messages[1].text, "Fehler beim Schreiben der Verbindungsdaten in die ini-Datei.");
    EXPECT_EQ(fake.messages[1].buttons, unsigned(mbOK));
}

TEST(OdbcConnectionString, ValuesGoInUnescapedFollowedByTheDriverOptions) {
    const std::string s = OdbcConnectionString({"PostgreSQL Unicode", "h", "5432", "db", "u", "a;b"});
    EXPECT_EQ(
        s.rfind("DRIVER={PostgreSQL Unicode};DATABASE=db;SERVER=h;PORT=5432;UID=u;PWD=a;b;SSLmode=disable;"
                "ReadOnly=0;Protocol=7.4;",
                0),
        0u);
    EXPECT_NE(s.find("CommLog=0;Optimizer=1;Ksqo=1;UseDeclareFetch=0;"), std::string::npos);
    EXPECT_NE(s.find("UpdatableCursors=1;DisallowPremature=0;"), std::string::npos);
    EXPECT_TRUE(s.ends_with(";UseServerSidePrepare=0;LowerCaseIdentifier=0;XaOpt=1"));
}

TEST_F(Optionen, ConnectionTestThroughTheOdbcDriver) {
    TTestDatabase db;
    TForm2 f;
    f.FormShow();
    f.tbServer->setText("127.0.0.1");
    f.tbPort->setText(QString::number(TTestDatabase::Port()));
    f.tbDatenbank->setText(QString::fromStdString(db.Name()));
    f.tbUser->setText(QString::fromStdString(TTestDatabase::User()));
    struct Case {
        std::string password;
        const char* shown;
        bool red;
    } cases[] = {
        {"wrong", "Verbindung fehlgeschlagen!", true},
        {TTestDatabase::Password(), "Verbindung erfolgreich!", false},
        // nothing is escaped: the password ends at the ";", so the right one followed by more text works
        {TTestDatabase::Password() + ";x=1", "Verbindung erfolgreich!", false},
        {"wrong;" + TTestDatabase::Password(), "Verbindung fehlgeschlagen!", true},
        {TTestDatabase::Password(), "Verbindung erfolgreich!", false},
    };
    for (const auto& c : cases) {
        f.tbPasswort->setText(QString::fromStdString(c.password));
        f.btnTest->click();
        EXPECT_EQ(f.lblVerbindung->text(), c.shown) << c.password;
        EXPECT_EQ(IsRed(f.lblVerbindung), c.red) << c.password;
    }
    // a hand-edited file with blanks around the values tests the values themselves
    WriteAll(ini, "[Verbindung]\nServer = 127.0.0.1\nPort = " + std::to_string(TTestDatabase::Port()) +
                      " \nDatenbank = " + db.Name() + "\nUser = " + TTestDatabase::User() +
                      "\nPasswort = " + TTestDatabase::Password() + "\t\n");
    f.lblVerbindung->setText("nicht verbunden");
    f.FormShow();
    f.btnTestClick();
    EXPECT_EQ(f.lblVerbindung->text(), "Verbindung erfolgreich!");
    // a showing does not reset the last result
    f.FormShow();
    EXPECT_EQ(f.lblVerbindung->text(), "Verbindung erfolgreich!");
    f.tbDriver->setText("No Such Driver");
    f.btnTestClick();
    EXPECT_EQ(f.lblVerbindung->text(), "Verbindung fehlgeschlagen!");
}
