// kelpora-import-bench: imports NAS files through the code path of an import run's file loop and
// reports the throughput.
//
//   kelpora-import-bench --db "host=... dbname=..." [--groups] [--no-relations] [--target-srid N]
//                        [--schema ATKIS|AFIS|ALKIS] [--post-processing] FILE...
//
// The run is prepared as the import command prepares it (the code of the stored geometries, unless the
// schema is AFIS; run log, invalids table, tables per object-type group when --groups is given, model
// types, relation types, reference systems); then every file goes through LoadDoc, which parses it,
// writes its features into the staging schema and calls temp2alkis(). With --post-processing the
// post-processing sequence of the schema (default ATKIS) follows the last file, outside the timing; the
// log window lines it wrote go to stderr ("log: " and the line).
// Nothing modal is shown: message boxes go to stderr and are answered with their default button. One
// line per file, then
//   features: N, seconds: S, features/s: R, peak RSS MiB: M
// where N counts the feature records the parser handed over (inserts, replaces, deletes); the line of a
// file also gives the objects written, which leaves out features the writer skipped (invalid geometry). Exit
// status 0 when every file parsed, 1 on a parse failure or a lost connection (its message on stderr; the
// files after it and the post-processing are left out), when a file could not be applied (its integration
// or commit failed, or a failure of the server's resources such as a full disk ended it; the files after it
// are not read; also when the server made it wait too long, for a lock or in a deadlock), when a file's
// form is not read (GeoInfoDok 7; the files after it are), when a post-processing step failed (the run's
// ending on stderr) and when the run cannot start because the database takes no run log (read-only; its
// message on stderr, no file is read), 2 on bad arguments or no connection.
#include <QApplication>
#include <QComboBox>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <libpq-fe.h>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "app/Application.h"
#include "app/FormKelpora.h"
#include "platform/db/ZDatabase.h"
#include "platform/dialogs/Dialogs.h"
#include "run/RunSupport.h"

namespace {

// Prints every modal interaction to stderr and takes its default answer.
class TConsoleDialogs : public TDialogs {
public:
    int MessageDlg(const std::string& text, TMsgDlgType, unsigned, int defaultButton,
                   const std::string&) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        return defaultButton != mrNone ? defaultButton : mrOk;
    }
    void ShowErrorMessage(const std::string& text) override {
        std::fprintf(stderr, "error: %s\n", text.c_str());
    }
    std::vector<std::string> OpenFileNames(QWidget*, const std::string&, const std::string&, bool) override {
        return {};
    }
    int ShowModal(QDialog&) override { return mrCancel; }
    bool ShellOpen(const std::string&) override { return false; }
};

struct TOptions {
    std::string conninfo;
    bool groups = false;
    bool relations = true;
    int targetSrid = 25832;
    std::string schema = "ATKIS";
    bool postProcessing = false;
    std::vector<std::string> files;
};

int Usage(const char* message) {
    std::fprintf(stderr, "kelpora-import-bench: %s\n", message);
    std::fprintf(stderr, "usage: kelpora-import-bench --db CONNINFO [--groups] [--no-relations] "
                         "[--target-srid N] [--schema ATKIS|AFIS|ALKIS] [--post-processing] FILE...\n");
    return 2;
}

// The connection's fields from a libpq connection string; keywords without a field of their own go to
// the connection's extra keywords.
bool ConfigureConnection(TZConnection& conn, const std::string& conninfo) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
    if (!options) {
        std::fprintf(stderr, "kelpora-import-bench: --db: %s", error ? error : "cannot be read\n");
        PQfreemem(error);
        return false;
    }
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        if (!o->val)
            continue;
        const std::string key = o->keyword, value = o->val;
        if (key == "host" || key == "hostaddr")
            conn.HostName = value;
        else if (key == "port")
            conn.Port = std::atoi(value.c_str());
        else if (key == "dbname")
            conn.Database = value;
        else if (key == "user")
            conn.User = value;
        else if (key == "password")
            conn.Password = value;
        else
            conn.Properties.Add(key + "=" + value);
    }
    PQconninfoFree(options);
    return true;
}

std::int64_t ObjectsWritten(const TfrmKelpora& form) {
    std::int64_t n = 0;
    for (int i = 0; i < form.obInserts.Count(); ++i)
        n += std::atoll(form.obInserts.ValueFromIndex(i).c_str());
    return n;
}

double PeakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

} // namespace

int main(int argc, char** argv) {
    KeepFreedHeap(); // as the program does
    TOptions opt;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--db" && i + 1 < argc)
            opt.conninfo = argv[++i];
        else if (a == "--groups")
            opt.groups = true;
        else if (a == "--no-relations")
            opt.relations = false;
        else if (a == "--target-srid" && i + 1 < argc)
            opt.targetSrid = std::atoi(argv[++i]);
        else if (a == "--schema" && i + 1 < argc)
            opt.schema = argv[++i];
        else if (a == "--post-processing")
            opt.postProcessing = true;
        else if (a.rfind("--", 0) == 0)
            return Usage(("unknown option " + a).c_str());
        else
            opt.files.push_back(a);
    }
    if (opt.conninfo.empty() || opt.files.empty())
        return Usage("--db and at least one file are needed");

    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    TConsoleDialogs dialogs;
    SetDialogs(&dialogs);
    TfrmKelpora form;

    bool targetFound = false;
    for (int i = 0; i < form.cboSRID->count() && !targetFound; ++i) {
        form.cboSRID->setCurrentIndex(i);
        targetFound = form.SelectedTargetSRID() == opt.targetSrid;
    }
    if (!targetFound)
        return Usage("--target-srid is not in the list of target systems");

    form.conn = std::make_shared<TZConnection>();
    if (!ConfigureConnection(*form.conn, opt.conninfo))
        return 2;
    try {
        form.conn->Connect();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kelpora-import-bench: %s\n", e.what());
        return 2;
    }
    form.cmd = std::make_shared<TZQuery>(form.conn.get());
    form.oNachFolien = opt.groups;
    form.oReferenzen = opt.relations;

    // As the import command prepares a run (without its question about a stored code other than 25832).
    form.sSchema = opt.schema;
    form.iSRIDDB = opt.schema == "AFIS" ? 0 : form.GetDatabaseSRID();
    try {
        form.StartRunState();
    } catch (const std::exception& e) {
        // A database that takes no run log (read-only, say): the run does not start.
        std::fprintf(stderr, "kelpora-import-bench: %s\n", e.what());
        form.cmd.reset();
        form.conn.reset();
        SetDialogs(nullptr);
        return 1;
    }
    form.ReadRunLookups();
    form.oRunFiles = true;

    using TClock = std::chrono::steady_clock;
    const TClock::time_point start = TClock::now();
    int status = 0;
    for (const std::string& file : opt.files) {
        const TClock::time_point fileStart = TClock::now();
        const std::int64_t before = ObjectsWritten(form);
        const std::int64_t parsedBefore = form.iParsedFeatures;
        try {
            form.LoadDoc(file);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kelpora-import-bench: %s: %s\n", file.c_str(), e.what());
            status = 1;
            break;
        }
        form.ProcessMessages();
        const bool stop = form.oFileNotApplied; // later files may build on it
        const double seconds = std::chrono::duration<double>(TClock::now() - fileStart).count();
        std::printf("%s: features: %lld, written: %lld, seconds: %.2f\n", file.c_str(),
                    static_cast<long long>(form.iParsedFeatures - parsedBefore),
                    static_cast<long long>(ObjectsWritten(form) - before), seconds);
        if (stop)
            break;
    }
    const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
    const std::int64_t features = form.iParsedFeatures;
    std::printf("features: %lld, seconds: %.2f, features/s: %.0f, peak RSS MiB: %.1f\n",
                static_cast<long long>(features), seconds,
                seconds > 0 ? static_cast<double>(features) / seconds : 0.0, PeakRssMiB());
    if (status == 0 && opt.postProcessing) {
        const std::size_t before = form.LogLines().size();
        form.PostProcessing();
        const std::vector<std::string> lines = form.LogLines();
        for (std::size_t i = before; i < lines.size(); ++i)
            std::fprintf(stderr, "log: %s\n", lines[i].c_str());
    }
    if (status == 0 && form.RunHadFailures()) {
        std::fprintf(stderr, "kelpora-import-bench: %s\n", RunEnding(true).logText);
        status = 1;
    }
    form.oRunFiles = false;
    form.cmd.reset();
    form.conn.reset();
    SetDialogs(nullptr);
    return status;
}
