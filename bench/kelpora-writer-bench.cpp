// Writes N synthetic buildings (a polygon, an attribute, two relations) through WriteToDB into a fresh
// database and prints the rate. The server comes from the libpq environment (PGHOST, PGPORT, PGUSER,
// PGPASSWORD); the fresh database is cloned from KELPORA_BENCH_TEMPLATE (default kelpora_template, a
// database with db/install.sql loaded) and dropped afterwards.
//
//   kelpora-writer-bench [N]
#include <libpq-fe.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "app/FormKelpora.h"
#include "gml/GML2WKT.h"
#include "platform/db/ZDatabase.h"

namespace {

std::string Env(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

bool Admin(const std::string& sql) {
    PGconn* c = PQconnectdb("dbname=postgres");
    bool ok = PQstatus(c) == CONNECTION_OK;
    if (ok) {
        PGresult* r = PQexec(c, sql.c_str());
        ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        if (!ok)
            std::fprintf(stderr, "%s: %s", sql.c_str(), PQerrorMessage(c));
        PQclear(r);
    } else {
        std::fprintf(stderr, "connection: %s", PQerrorMessage(c));
    }
    PQfinish(c);
    return ok;
}

// A building of the Bonn data moved by `i` metres, with its function and two relations.
std::unique_ptr<TAXObject> Building(int i) {
    auto r = std::make_unique<TAXObject>();
    r->SetObjektart("AX_Gebaeude");
    char id[32];
    std::snprintf(id, sizeof id, "DENWBENCH%07d", i);
    r->identifikator = id;
    r->dtBegin = EncodeDate(2024, 10, 15) + EncodeTime(7, 55, 13, 0);
    r->modellarten.Add("DLKM");
    const double x = 363609.477 + (i % 1000) * 20.0, y = 5614790.107 + (i / 1000) * 20.0;
    auto p = [&](double dx, double dy) {
        char b[64];
        std::snprintf(b, sizeof b, "%.3f %.3f", x + dx, y + dy);
        return std::string(b);
    };
    r->position =
        "<gml:Surface srsName=\"urn:adv:crs:ETRS89_UTM32\"><gml:patches><gml:PolygonPatch><gml:exterior>"
        "<gml:Ring><gml:curveMember><gml:Curve><gml:segments><gml:LineStringSegment><gml:posList>" +
        p(0, 0) + " " + p(10, 0) + " " + p(10, 10) + " " + p(0, 10) + " " + p(0, 0) +
        "</gml:posList></gml:LineStringSegment></gml:segments></gml:Curve></gml:curveMember></gml:Ring>"
        "</gml:exterior></gml:PolygonPatch></gml:patches></gml:Surface>";
    r->attribute.Add("gebaeudefunktion=2500");
    r->AddRelation("zeigtAuf", std::string("DENWBENCHL") + std::to_string(i % 997));
    r->AddRelation("hat", std::string("DENWBENCHH") + std::to_string(i % 991));
    return r;
}

} // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 20000;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

    const std::string dbName = "kelpora_writer_bench_" + std::to_string(::getpid());
    if (!Admin("CREATE DATABASE " + dbName + " TEMPLATE " +
               Env("KELPORA_BENCH_TEMPLATE", "kelpora_template")))
        return 1;
    int status = 0;
    {
        TfrmKelpora form;
        form.conn = std::make_shared<TZConnection>();
        form.conn->HostName = Env("PGHOST", "localhost");
        form.conn->Port = std::atoi(Env("PGPORT", "5432").c_str());
        form.conn->User = Env("PGUSER", "postgres");
        form.conn->Password = Env("PGPASSWORD", "");
        form.conn->Database = dbName;
        form.conn->Connect();
        form.cmd = std::make_shared<TZQuery>(form.conn.get());
        try {
            form.StartRunState();
        } catch (const std::exception& e) {
            // A database that takes no run log (read-only, say): nothing to measure.
            std::fprintf(stderr, "kelpora-writer-bench: %s\n", e.what());
            return 1;
        }
        form.ReadRunLookups();
        ExecPostGISSQL = [&form](const std::string& sql) { return form.PostGISCommand(sql); };
        // KELPORA_BENCH_RELATIONS=0 measures the writer with the "Referenzen" option off.
        form.oReferenzen = Env("KELPORA_BENCH_RELATIONS", "1") != "0";

        // KELPORA_BENCH_PIPELINE: features in flight (0: each call waits for its own answers).
        form.iPipelineDepth = std::atoi(Env("KELPORA_BENCH_PIPELINE", "256").c_str());

        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < n; ++i)
            form.WriteToDB(Building(i).get());
        form.FlushPendingFeatures();
        const int written = std::atoi(form.obInserts.Value("AX_Gebaeude").c_str());
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ExecPostGISSQL = nullptr;

        std::printf("WriteToDB: %d of %d features written in %.2f s: %.0f features/s\n", written, n, seconds,
                    n / seconds);
        if (written != n) {
            std::fprintf(stderr, "not every feature was written; first log lines:\n");
            const auto lines = form.LogLines();
            for (std::size_t i = 0; i < lines.size() && i < 10; ++i)
                std::fprintf(stderr, "%s\n", lines[i].c_str());
            status = 1;
        }
        form.conn->Disconnect();
    }
    Admin("DROP DATABASE " + dbName);
    return status;
}
