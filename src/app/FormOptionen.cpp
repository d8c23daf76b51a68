#include "app/FormOptionen.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/FormKelpora.h"
#include "app/IniFile.h"
#include "app/OdbcConnection.h"
#include "platform/dialogs/Dialogs.h"
#include "platform/shell/AppDir.h"

TForm2* Form2 = nullptr;

namespace {
const char* const kSchemaItems[] = {"ATKIS", "AFIS", "ALKIS"};

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
std::string S(const QLineEdit* e) {
    return e->text().toStdString();
}
} // namespace

TForm2::TForm2(QWidget* parent) : QDialog(parent, Qt::Tool) {
    setWindowTitle(QStringLiteral("Optionen"));
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    setFixedSize(331, 292);

    rgSchema = new QGroupBox(QStringLiteral("Daten importieren aus"), this);
    rgSchema->setGeometry(8, 4, 315, 48);
    auto* row = new QHBoxLayout(rgSchema);
    row->setContentsMargins(8, 2, 8, 4);
    auto* group = new QButtonGroup(rgSchema);
    for (const char* item : kSchemaItems) {
        auto* b = new QRadioButton(QString::fromLatin1(item), rgSchema);
        row->addWidget(b);
        group->addButton(b);
        rgSchemaItems.push_back(b);
    }

    GroupBox1 = new QGroupBox(QStringLiteral("Verbindung zur PostGIS-Datenbank"), this);
    GroupBox1->setGeometry(8, 56, 315, 200);
    auto addField = [this](const char* caption, int top, QLabel*& label, QLineEdit*& edit) {
        label = new QLabel(QString::fromUtf8(caption), GroupBox1);
        label->setGeometry(12, top + 3, 80, 16);
        edit = new QLineEdit(GroupBox1);
        edit->setGeometry(96, top, 205, 21);
        label->setBuddy(edit);
    };
    addField("Treibername:", 20, Label6, tbDriver);
    addField("Server:", 44, Label1, tbServer);
    addField("Port:", 68, Label2, tbPort);
    addField("Datenbank:", 92, Label3, tbDatenbank);
    addField("Benutzer:", 116, Label4, tbUser);
    addField("Passwort:", 140, Label5, tbPasswort); // shown as typed, as the file holds it

    btnTest = new QPushButton(QStringLiteral("&Test"), GroupBox1);
    btnTest->setGeometry(12, 168, 75, 25);
    lblVerbindung = new QLabel(QStringLiteral("nicht verbunden"), GroupBox1);
    lblVerbindung->setGeometry(96, 172, 205, 16);
    btnSpeichern = new QPushButton(QStringLiteral("&Speichern"), this);
    btnSpeichern->setGeometry(167, 262, 75, 25);
    btnBeenden = new QPushButton(QStringLiteral("&Beenden"), this);
    btnBeenden->setGeometry(248, 262, 75, 25);
    for (auto* b : {btnTest, btnSpeichern, btnBeenden}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    QWidget* order[] = {rgSchemaItems[0], rgSchemaItems[1], rgSchemaItems[2], tbDriver,
                        tbServer,         tbPort,           tbDatenbank,      tbUser,
                        tbPasswort,       btnTest,          btnSpeichern,     btnBeenden};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(btnTest, &QPushButton::clicked, this, [this] { btnTestClick(); });
    connect(btnSpeichern, &QPushButton::clicked, this, [this] { btnSpeichernClick(); });
    connect(btnBeenden, &QPushButton::clicked, this, [this] { btnBeendenClick(); });
}

std::string TForm2::IniFileName() {
    return ApplicationFile("Kelpora.ini");
}

int TForm2::SchemaItemIndex() const {
    for (std::size_t i = 0; i < rgSchemaItems.size(); ++i)
        if (rgSchemaItems[i]->isChecked())
            return static_cast<int>(i);
    return -1;
}

void TForm2::SetSchemaItemIndex(int index) {
    if (index >= 0 && index < static_cast<int>(rgSchemaItems.size()))
        rgSchemaItems[static_cast<std::size_t>(index)]->setChecked(true);
}

std::string TForm2::SchemaItemText() const {
    const int i = SchemaItemIndex();
    return i < 0 ? std::string() : kSchemaItems[i];
}

int TForm2::Execute() {
    FormShow();
    return Dialogs().ShowModal(*this);
}

void TForm2::FormShow() {
    try {
        const TIniFile ini(IniFileName());
        tbDriver->setText(Q(ini.ReadString("Verbindung", "Driver", "PostgreSQL Unicode")));
        tbServer->setText(Q(ini.ReadString("Verbindung", "Server", "")));
        tbDatenbank->setText(Q(ini.ReadString("Verbindung", "Datenbank", "")));
        tbUser->setText(Q(ini.ReadString("Verbindung", "User", "")));
        tbPasswort->setText(Q(ini.ReadString("Verbindung", "Passwort", "")));
        tbPort->setText(Q(ini.ReadString("Verbindung", "Port", "")));
        const std::string schema = ini.ReadString("Allgemein", "Schema", "ATKIS");
        SetSchemaItemIndex(schema == "AFIS" ? 1 : schema == "ALKIS" ? 2 : 0);
    } catch (const std::exception&) {
        Dialogs().MessageDlg("Fehler beim Lesen der Verbindungsdaten aus der ini-Datei.",
                             TMsgDlgType::mtError, mbOK, mrOk);
    }
}

void TForm2::btnSpeichernClick() {
    try {
        TIniFile ini(IniFileName());
        ini.WriteString("Verbindung", "Driver", S(tbDriver));
        ini.WriteString("Verbindung", "Server", S(tbServer));
        ini.WriteString("Verbindung", "Datenbank", S(tbDatenbank));
        ini.WriteString("Verbindung", "User", S(tbUser));
        ini.WriteString("Verbindung", "Passwort", S(tbPasswort));
        ini.WriteString("Verbindung", "Port", S(tbPort));
        ini.WriteString("Allgemein", "Schema", SchemaItemText());
        ini.UpdateFile();
    } catch (const std::exception&) {
        Dialogs().MessageDlg("Fehler beim Schreiben der Verbindungsdaten in die ini-Datei.",
                             TMsgDlgType::mtError, mbOK, mrOk);
    }
}

void TForm2::btnTestClick() {
    const TOdbcSettings settings{S(tbDriver),    S(tbServer), S(tbPort),
                                 S(tbDatenbank), S(tbUser),   S(tbPasswort)};
    std::string error; // the dialog shows only the outcome
    const bool ok = OdbcTryConnect(OdbcConnectionString(settings), error);
    QPalette palette = lblVerbindung->palette();
    palette.setColor(QPalette::WindowText,
                     ok ? this->palette().color(QPalette::WindowText) : QColor(Qt::red));
    lblVerbindung->setPalette(palette);
    lblVerbindung->setText(ok ? QStringLiteral("Verbindung erfolgreich!")
                              : QStringLiteral("Verbindung fehlgeschlagen!"));
}

void TForm2::btnBeendenClick() {
    done(mrCancel);
}

void TfrmKelpora::ToolButton2Click() {
    if (!Form2)
        Form2 = new TForm2(this);
    Form2->Execute();
}
