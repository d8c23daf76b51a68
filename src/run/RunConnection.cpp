// The connection of an import or overview run, made from Kelpora.ini, and the start of its run log.
#include <QDate>
#include <QLocale>

#include "app/FormKelpora.h"
#include "app/FormOptionen.h"
#include "app/IniFile.h"
#include "model/Utils.h"
#include "platform/db/ZDatabase.h"
#include "platform/dialogs/Dialogs.h"
#include "platform/xml/XmlDom.h"

namespace {
constexpr int kConnectTimeoutSeconds = 10;
} // namespace

std::shared_ptr<TZConnection> TfrmKelpora::CreateConnection(bool startRunLog) {
    std::string server, database, user, password, port;
    try {
        const TIniFile ini(TForm2::IniFileName());
        server = ini.ReadString("Verbindung", "Server", "");
        database = ini.ReadString("Verbindung", "Datenbank", "");
        user = ini.ReadString("Verbindung", "User", "");
        password = ini.ReadString("Verbindung", "Passwort", "");
        port = ini.ReadString("Verbindung", "Port", "");
    } catch (const std::exception&) {
        Dialogs().MessageDlg(
            "Ini-Datei nicht gefunden!\r\nBitte geben Sie erst eine Datenbankverbindung ein!",
            TMsgDlgType::mtInformation, mbOK, mrOk);
        if (!Form2)
            Form2 = new TForm2(this);
        Form2->Execute();
        return nullptr;
    }

    try {
        TXmlNode root;
        if (startRunLog) {
            xmlDocLog->Active = true;
            root = xmlDocLog->Root();
            if (root.IsNull())
                root = xmlDocLog->CreateRoot("import");
            else
                root.RemoveChildren();
            const QString date = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
            root.AddChild("date").AddText(date.toStdString());
        }
        auto connection = std::make_shared<TZConnection>();
        connection->Protocol = "postgresql";
        connection->HostName = server;
        connection->Port = SafeStrToInt(port);
        connection->Database = database;
        connection->User = user;
        connection->Password = password;
        // The settings are all there is: nothing blank is filled from the environment, and a blank
        // server, database or user fails the opening with its own message instead of landing elsewhere.
        connection->EnvironmentDefaults = false;
        // A server that accepts the connection and never answers must not hold the window for ever.
        connection->Properties.SetValue("connect_timeout", std::to_string(kConnectTimeoutSeconds));
        if (startRunLog) {
            TXmlNode output = root.AddChild("output");
            output.AddChild("server").AddText(server);
            output.AddChild("database").AddText(database);
        }
        return connection;
    } catch (const std::exception&) {
        Dialogs().MessageDlg("Fehler beim Verbinden zur Datenbank.", TMsgDlgType::mtError, mbOK, mrOk);
        return nullptr;
    }
}
