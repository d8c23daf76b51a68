// The run's report: the run log completed with the inserted objects and the loaded files, saved as
// tmp.xml, turned into log.html by Kelpora.XSL and kept in the logs table; and the overview command that
// shows the stored report of the current run.
#include <filesystem>
#include <fstream>

#include "app/FormKelpora.h"
#include "model/Utils.h"
#include "platform/db/ZDatabase.h"
#include "platform/dialogs/Dialogs.h"
#include "platform/shell/AppDir.h"
#include "platform/xml/XmlDom.h"

namespace {
const char* const kReportFailure = "Fehler beim Erzeugen der Log-Datei";

void AddBody(TXmlNode root, const TStringList& inserts,
             const std::vector<std::unique_ptr<TPortionFile>>& files) {
    TXmlNode objects = root.AddChild("objects");
    for (int i = 0; i < inserts.Count(); ++i)
        objects.AddChild(inserts.Names(i)).AddText(inserts.ValueFromIndex(i));
    TXmlNode list = root.AddChild("files");
    for (const auto& f : files) {
        TXmlNode file = list.AddChild("file");
        file.SetAttribute("typ", f->typ);
        file.SetAttribute("antragsnr", f->antragsnr);
        file.SetAttribute("koordrefsys", f->koordRefSys);
        file.AddChild("name").AddText(f->name);
        file.AddChild("lfdNr").AddText(f->lfdNr);
        file.AddChild("portionen").AddText(f->anzPort);
    }
}
} // namespace

void TfrmKelpora::CreateRunReport() {
    // Every failure, also of saving and reloading the run log, is reported and the run completes.
    try {
        TXmlNode root = xmlDocLog->Root();
        if (root.IsNull())
            root = xmlDocLog->CreateRoot("import");
        AddBody(root, obInserts, obFiles);
        const std::string tmpFile = ApplicationFile("tmp.xml");
        xmlDocLog->SaveFile(tmpFile);
        xmlDocLog = TXmlDocument::LoadFile(tmpFile); // kept only when it loads again

        xmlDocLog->Active = false;
        const std::string styleSheet = ApplicationFile("Kelpora.XSL");
        xmlDocLog->Active = true;
        const std::string output = XSLPageProducer1->Transform(*xmlDocLog, styleSheet);
        const auto report = TXmlDocument::LoadXml(output);
        report->SaveFile(ApplicationFile("log.html"));
        WriteLog(2, report->Xml());
    } catch (const std::exception& e) {
        ReportFailure(kReportFailure, e.what());
    }
    xmlDocLog->Active = false;
}

void TfrmKelpora::ToolButton5Click() {
    if (oRunFiles || runBusy)
        return;
    const std::string tempFile = GetTempFileNameStr(GetTempPathStr(), "ZOQ", 0);
    const std::string overview = std::filesystem::path(tempFile).replace_extension(".html").string();
    runBusy = true;
    try {
        TStringList lines;
        conn = CreateConnection(true);
        if (conn) {
            if (!conn->Connected())
                conn->Connect();
            {
                TZQuery query(conn.get());
                query.SetSQL("select beschreibung from logs where lfd_nr_umsetz=" +
                             std::to_string(iLfdNrUmsetzung) + " AND meldetyp=2");
                query.Open();
                for (query.First(); !query.Eof(); query.Next())
                    lines.Add(query.FieldByName("beschreibung").AsString());
            }
            if (tempFile.empty())
                throw std::runtime_error("no temporary file");
            std::ofstream out(overview, std::ios::binary | std::ios::trunc);
            out << lines.Text();
            out.close();
            if (!out)
                throw std::runtime_error(overview + ": cannot be written");
            Dialogs().ShellOpen(overview);
        }
    } catch (const std::exception& e) {
        ReportFailure("Fehler beim Anzeigen der Übersicht", e.what());
    }
    if (conn) {
        try {
            if (conn->Connected())
                conn->Disconnect();
        } catch (...) {
            // released all the same
        }
        conn.reset();
    }
    runBusy = false;
}
