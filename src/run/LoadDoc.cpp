// Loading one NAS file: parse it into the staging schema, let the database integrate it, drop the
// caches that hold for one file only.
#include <memory>

#include "app/FormKelpora.h"
#include "parser/BrenkoSaxReader.h"
#include "platform/db/ZDatabase.h"
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
} // namespace

void TfrmKelpora::LoadDoc(const std::string& fileName) {
    sFileID = FileIdOf(fileName);
    // Released on every way out, also when the parse or the integration raises.
    const std::unique_ptr<TBrenkoSaxReader> parser = std::make_unique<TBrenkoSaxReader>(this);
    obFiles.push_back(std::make_unique<TPortionFile>(sFileID));
    parser->currPortion = obFiles.back().get();

    parser->FSAXReader->Parse(fileName);
    IntegrateTempData();
    obParseTable.reset();
    if (obTables)
        obTables->Clear();
}

void TfrmKelpora::IntegrateTempData() {
    const std::string step = "Temporäre Daten integrieren ...";
    SetStatusText(0, step + " ");
    SetStatusText(2, "");
    AddLogLine(TimeOfDay() + ": " + step);
    WriteLog(0, step);
    try {
        TZQuery& q = SharedStatement(cmd);
        q.SQL().Clear();
        q.SQL().Add("SELECT temp2alkis()");
        q.ExecSQL();
    } catch (const std::exception& e) {
        ReportFailure("Fehler beim Integrieren der temporären Daten  ",
                      std::string("Fehler beim Integrieren der temporären Daten.  - ") + e.what(), e.what());
    }
}
