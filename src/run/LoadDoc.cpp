// Loading one NAS file: parse it into the staging schema, let the database integrate it, drop the
// caches that hold for one file only.
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "app/FormKelpora.h"
#include "parser/BrenkoSaxReader.h"
#include "platform/db/ZDatabase.h"
#include "platform/xml/XmlDom.h"
#include "run/FileImport.h"
#include "run/RunSupport.h"
#include "writer/DbSupport.h"

namespace {
// The file name without folder and extension (only a dot of the name itself starts an extension).
std::string FileIdOf(const std::string& fileName) {
    const std::size_t slash = fileName.find_last_of('/');
    std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    if (const std::size_t dot = name.rfind('.'); dot != std::string::npos)
        name.erase(dot);
    return name;
}
// Features in flight while a file is read, unless the caller chose a depth (or the reference way).
constexpr std::int32_t kImportPipelineDepth = 256;

class TImportPipeline {
public:
    explicit TImportPipeline(TfrmKelpora& f) : form(f), before(f.iPipelineDepth) {
        if (before == 0)
            form.iPipelineDepth = kImportPipelineDepth;
        form.StartPipelineFile();
        // The writer prepares each of its statements once and runs it for every feature: one plan for
        // the parameters' types serves them all, where the default plans the validity question anew for
        // every geometry. Only while the file is read; the integration plans as the server is set up.
        try {
            if (!form.conn || !form.conn->Connected())
                return;
            TZQuery q(form.conn.get());
            q.SetSQL("SELECT pg_catalog.current_setting('plan_cache_mode')");
            q.Open();
            const std::string mode = q.Fields(0).AsString();
            form.conn->SetSessionSetting("plan_cache_mode", "force_generic_plan");
            planCacheMode = mode;
        } catch (const std::exception&) {
            // Only a speed-up: the file is read all the same.
        }
    }
    ~TImportPipeline() {
        form.EndPipelineFile();
        form.iPipelineDepth = before;
        try {
            if (!planCacheMode.empty() && form.conn && form.conn->Connected())
                form.conn->SetSessionSetting("plan_cache_mode", planCacheMode);
        } catch (const std::exception&) {
            // A lost connection ends the run anyway.
        }
    }
    TImportPipeline(const TImportPipeline&) = delete;
    TImportPipeline& operator=(const TImportPipeline&) = delete;

private:
    TfrmKelpora& form;
    std::int32_t before;
    std::string planCacheMode;
};

// A lost connection ends the file with its one report and an error that ends the run: the rest of the
// file, its integration and every further file could only fail, one statement after the other.
void EndFileIfConnectionLost(TfrmKelpora& form) {
    if (!form.ConnectionLost())
        return;
    form.recordQueue.clear();
    form.queuedBytes = 0;
    form.ReportConnectionLost();
    throw EDatabaseError(kConnectionLostText);
}
// Said of every file that was rolled back after it had begun to be written.
void ReportNotApplied(TfrmKelpora& form, const std::string& fileName) {
    const std::string text =
        "Die Datei " + fileName + " wurde nicht übernommen: nichts von ihr ist in der Datenbank.";
    form.LogAndWriteLog(1, text);
}
// Half a file would leave replaced objects without their new versions: all of it goes. The files after
// it are not read, since an update may build on it.
void EndFileNotApplied(TfrmKelpora& form, TFileImport& file, const std::string& fileName) {
    file.RollBack();
    ++form.iFilesNotRead;
    form.oFileNotApplied = true;
    ReportNotApplied(form, fileName);
}
// A failure of the server's resources or state (a full disk, no memory, a shutdown) ends the file at
// once, as a failed integration does: every further statement of it would fail the same way. It is said
// once (here, when no operation said it), and the run log rows go in after the rollback.
bool EndFileIfServerFailed(TfrmKelpora& form, TFileImport& file, const std::string& fileName) {
    if (!form.ServerFailed())
        return false;
    form.recordQueue.clear();
    form.queuedBytes = 0;
    const std::string failure = form.conn->ServerFailure()->what();
    if (form.FailureToBeSaid())
        form.ReportFailure("Fehler beim Import der Datei " + fileName, failure);
    EndFileNotApplied(form, file, fileName);
    return true;
}
} // namespace

void TfrmKelpora::LoadDoc(const std::string& fileName) {
    if (!ConnectionLost())
        connectionLostReported = false; // a connection made again may be lost again
    serverFailureReported = false;
    oFileNotApplied = false;
    sFileID = FileIdOf(fileName);
    // Released on every way out, also when the parse or the integration raises.
    const std::unique_ptr<TBrenkoSaxReader> parser = std::make_unique<TBrenkoSaxReader>(this);
    obFiles.push_back(std::make_unique<TPortionFile>(sFileID));
    parser->currPortion = obFiles.back().get();

    // Rolled back on every way out but its commit.
    std::optional<TFileImport> begun;
    try {
        begun.emplace(*this);
    } catch (...) {
        EndFileIfConnectionLost(*this);
        throw;
    }
    TFileImport& file = *begun;
    // The server ended the wait for another import: nothing of the file was read.
    if (EndFileIfServerFailed(*this, file, fileName))
        return;
    {
        // The features of the file go to the server without waiting for each answer (see WriteToDB);
        // all of them are answered and reported before the file counts as read, also when its parse fails.
        const TImportPipeline inFlight(*this);
        try {
            parser->FSAXReader->Parse(fileName);
        } catch (...) {
            FlushPendingFeatures();
            EndFileIfConnectionLost(*this);
            if (EndFileIfServerFailed(*this, file, fileName))
                return; // the reading of files ends as after a failed integration, not the run
            file.RollBack();
            ReportNotApplied(*this, fileName);
            throw;
        }
        FlushPendingFeatures();
    }
    EndFileIfConnectionLost(*this);
    if (EndFileIfServerFailed(*this, file, fileName))
        return;
    if (parser->oGeoInfoDok7Form) {
        // Nothing in such a file is read; an import that looks like any other would leave the user
        // believing it was.
        file.RollBack();
        ++iFilesNotRead;
        const std::string text =
            "Die Datei " + fileName +
            " hat die Form der GeoInfoDok 7 (wfs:member, fes:ResourceId), die nicht gelesen wird.";
        LogAndWriteLog(1, text);
        return;
    }
    if (parser->oNoNasData) {
        // An exception report of a WFS, or any other XML: the parser took nothing of it.
        file.RollBack();
        ++iFilesNotRead;
        const std::string text = "Die Datei " + fileName + " enthält keine NAS-Daten (" + parser->sNoNasData +
                                 ") und wird nicht gelesen.";
        LogAndWriteLog(1, text);
        return;
    }
    bool applied = IntegrateTempData();
    EndFileIfConnectionLost(*this);
    if (applied) {
        try {
            file.Commit();
        } catch (const std::exception& e) {
            EndFileIfConnectionLost(*this);
            ReportFailure("Fehler beim Übernehmen der Datei", e.what());
            applied = false;
        }
    }
    if (!applied)
        EndFileNotApplied(*this, file, fileName);
}

void TfrmKelpora::ResetFileCaches() {
    obParseTable.reset();
    if (obTables)
        obTables->Clear();
    closingTables.clear();
    stagedRelationsIndexed = false;
    stagedObjects.Clear();
    stagedTargets.Clear();
}

bool TfrmKelpora::IntegrateTempData() {
    const std::string step = "Temporäre Daten integrieren ...";
    SetStatusText(0, step + " ");
    SetStatusText(2, "");
    LogAndWriteLog(0, step);
    try {
        TZQuery& q = SharedStatement(cmd);
        q.SQL().Clear();
        q.SQL().Add("SELECT temp2alkis()");
        WithServerWarnings(*this, [&q] { q.ExecSQL(); });
        return true;
    } catch (const std::exception& e) {
        ReportFailure("Fehler beim Integrieren der temporären Daten  ",
                      std::string("Fehler beim Integrieren der temporären Daten.  - ") + e.what(), e.what());
        return false;
    }
}
