// The import command: connection, settings and the database's reference system, the file selection,
// the file loop with progress and cancel, post-processing, report, and the clean-up on every way out.
#include <QLocale>
#include <filesystem>
#include <memory>

#include "app/FormKelpora.h"
#include "app/FormOptionen.h"
#include "app/IniFile.h"
#include "model/Utils.h"
#include "platform/db/ZDatabase.h"
#include "platform/dialogs/Dialogs.h"
#include "run/FormFiles.h"
#include "run/RunSupport.h"

namespace {
constexpr std::int32_t kExpectedDatabaseSRID = 25832;

std::string BaseName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

// Runs the clean-up of a run when it goes out of scope, whichever way the command ends.
class TRunCleanup {
public:
    TRunCleanup(TfrmKelpora& form, bool& readModellarten) : form(form), readModellarten(readModellarten) {}
    ~TRunCleanup() { Run(); }
    // Runs the clean-up now (once); the destructor then has nothing left to do.
    void Run() {
        if (done)
            return;
        done = true;
        form.cmd.reset();
        if (form.conn) {
            try {
                if (form.conn->Connected())
                    form.conn->Disconnect();
            } catch (...) {
                // the connection is released all the same
            }
            form.conn.reset();
        }
        form.obTables.reset();
        if (readModellarten)
            form.obModellArten.reset();
        form.obKoRefs.reset();
        form.oRunFiles = false;
        form.runBusy = false;
        form.LockTableLayoutChoice(false);
    }
    TRunCleanup(const TRunCleanup&) = delete;
    TRunCleanup& operator=(const TRunCleanup&) = delete;

private:
    TfrmKelpora& form;
    bool& readModellarten;
    bool done = false;
};
} // namespace

namespace {

// Reads the code of the stored geometries and, when it is not the expected one, asks whether to go on.
// False when the user did not answer Yes (the run then ends).
bool ConfirmDatabaseSRID(TfrmKelpora& form) {
    if (form.sSchema == "AFIS") {
        // No code is read for AFIS; a code left over from an earlier run would transform for nothing.
        form.iSRIDDB = 0;
        return true;
    }
    form.iSRIDDB = form.GetDatabaseSRID();
    if (form.iSRIDDB <= 0 || form.iSRIDDB == kExpectedDatabaseSRID)
        return true;
    const std::string code = std::to_string(form.iSRIDDB);
    const int answer = Dialogs().MessageDlg(
        "Die Datenbank enthält Geometrien im Räumlichen Bezugssystem mit der SRID " + code +
            ". Sollen die einzulesenden Daten in dieses System transformiert werden oder möchten Sie den "
            "Import "
            "abbrechen?",
        TMsgDlgType::mtConfirmation, mbYes | mbAbort, mrYes);
    if (answer == mrYes)
        return true;
    form.AddLogLine(TfrmKelpora::TimeOfDay() + "SRID der Datenbank: " + code +
                    " - Import nicht durchgeführt");
    return false;
}

// Sizes the chosen files, reads the lookup tables and loads the files one after the other, with the
// progress by bytes in the status bar, until the last file or a cancel.
void LoadChosenFiles(TfrmKelpora& form, const TStringList& chosen, bool& readModellarten) {
    form.ShowProgressBar(true);
    form.ProcessMessages();
    form.SetStatusText(0, "Ermittle Dateigrößen ...");
    std::vector<double> sizes;
    double total = 0;
    for (const auto& name : chosen.Lines()) {
        sizes.push_back(static_cast<double>(FileSizeByName(name)));
        total += sizes.back();
    }
    form.ReadRunLookups();
    readModellarten = true;
    form.oRunFiles = true;
    const std::string decimal = QLocale::system().decimalPoint().toStdString();
    const int n = chosen.Count();
    double done = 0;
    for (int j = 1; j <= n && form.oRunFiles; ++j) {
        const std::string& name = chosen[j - 1];
        const double size = sizes[static_cast<std::size_t>(j - 1)];
        const int pct = ImportPercent(done, total);
        done += size;
        form.SetStatusText(0, "Lese Datei " + std::to_string(j) + " von " + std::to_string(n) + " - (" +
                                  std::to_string(pct) + "%)");
        const std::string text =
            "Lese Datei: " + BaseName(name) + " - Größe ca. " + FileSizeMBText(size, decimal) + " MB";
        form.LogAndWriteLog(0, text);
        // The window shows which file is read, and a click on cancel from now on ends the run after it.
        form.ProcessMessages();
        form.LoadDoc(name);
        form.ProcessMessages();
        if (form.oFileNotApplied) {
            if (j < n) {
                const int rest = n - j;
                form.LogAndWriteLog(0, rest == 1 ? std::string("Die weitere Datei wird nicht gelesen.")
                                                 : "Die " + std::to_string(rest) +
                                                       " weiteren Dateien werden nicht gelesen.");
            }
            break;
        }
    }
}

} // namespace

void TfrmKelpora::StartRunState() {
    iFilesNotRead = 0;
    iPostProcessingFailures = 0;
    iLfdNrUmsetzung = InitLogTable();
    obTables = std::make_unique<TStringList>();
    oTableExistsIdRefs = false;
    obKoRefs = std::make_unique<TKooRefSysteme>();
    if (oNachFolien)
        obOAGruppen = ReadOAGruppen();
    EnsureInvalidsTable();
}

bool TfrmKelpora::RunHadFailures() const {
    return iFilesNotRead > 0 || iPostProcessingFailures > 0;
}

void TfrmKelpora::ReadRunLookups() {
    ReadModellarten();
    ReadRelationsTypen();
    ReadCRS();
}

void TfrmKelpora::ToolButton3Click() {
    if (oRunFiles || runBusy)
        return;
    conn = CreateConnection(true);
    if (!conn)
        return;
    bool readModellarten = false;
    connectionLostReported = false;
    serverFailureReported = false;
    runBusy = true;
    // The table layout (per object type or per group) is fixed for the run: the group table is read
    // only at its start.
    LockTableLayoutChoice(true);
    TRunCleanup cleanup(*this, readModellarten);
    try {
        conn->Connect();
        cmd = std::make_shared<TZQuery>(conn.get());
        sSchema = ReadSchemaSetting();
        if (!ConfirmDatabaseSRID(*this))
            return;
        StartRunState();

        TStringList chosen;
        int outcome;
        {
            auto dialog = std::make_unique<TfrmFiles>(this);
            dialog->obFiles = &chosen;
            outcome = Dialogs().ShowModal(*dialog);
        }
        const bool import = outcome == mrOk || outcome == mrYes;
        if (!import && outcome != mrRetry)
            return; // cancelled
        if (import && chosen.Count() > 0)
            LoadChosenFiles(*this, chosen, readModellarten);
        if (outcome != mrOk)
            PostProcessing();
        if (import) {
            LogAndWriteLog(0, "Erzeuge Log-Datei...");
            CreateRunReport();
        }
        const TRunEnding ending = RunEnding(RunHadFailures());
        LogAndWriteLog(0, ending.logText);
        ShowProgressBar(false);
        SetStatusText(0, ending.statusText);
    } catch (const std::exception& e) {
        // What no operation caught ends the run here; the clean-up still runs.
        ShowProgressBar(false);
        // The error box comes after the clean-up: while it is open no run is active any more.
        const std::string message = e.what();
        cleanup.Run();
        Dialogs().ShowErrorMessage(message);
    }
}

void TfrmKelpora::ToolButton4Click() {
    if (!oRunFiles)
        return;
    oRunFiles = false;
    SetStatusText(0, "Der Import wird abgebrochen...");
}

std::string TfrmKelpora::ReadSchemaSetting() {
    try {
        const TIniFile ini(TForm2::IniFileName());
        return ini.ReadString("Allgemein", "Schema", "ATKIS");
    } catch (const std::exception& e) {
        ReportFailure("Fehler beim Lesen der INI (Schema) ",
                      std::string("Fehler beim Lesen der INI\".  - ") + e.what(), e.what());
        return "ATKIS";
    }
}

std::int32_t TfrmKelpora::GetDatabaseSRID() {
    std::int32_t result = 0;
    try {
        cmd->SetSQL("select max(st_srid(geo)) from ax_objects");
        cmd->Open();
        for (cmd->First(); !cmd->Eof(); cmd->Next())
            if (!cmd->Fields(0).IsNull())
                result = static_cast<std::int32_t>(cmd->Fields(0).AsInteger());
        cmd->Close();
    } catch (const std::exception& e) {
        ReportFailureLines("Fehler beim Lesen der aktuellen SRID", e.what());
        result = 0;
    }
    return result;
}
