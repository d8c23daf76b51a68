// Per-feature cost of the statements the writer's services add to every feature: the validity check
// of the geometry and the relation insert, each through the real main-window operation, next to the same
// statement sent as literal SQL text (what a layer without cached prepared statements would do).
//
// Needs a PostgreSQL server with PostGIS reachable through the libpq environment (PGHOST, PGPORT,
// PGUSER); bench/kelpora-dbwriter-bench.sh starts a throwaway one. Creates and drops its own database.
// Usage: kelpora-dbwriter-bench [features]   (default 20000)
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <libpq-fe.h>
#include <string>
#include <unistd.h>

#include "app/FormKelpora.h"
#include "model/DateTime.h"
#include "platform/db/ZDatabase.h"

namespace {

using Clock = std::chrono::steady_clock;

void Admin(const std::string& sql) {
    PGconn* c = PQconnectdb("dbname=postgres");
    PGresult* r = PQexec(c, sql.c_str());
    if (PQresultStatus(r) != PGRES_COMMAND_OK) {
        std::fprintf(stderr, "%s: %s\n", sql.c_str(), PQerrorMessage(c));
        std::exit(1);
    }
    PQclear(r);
    PQfinish(c);
}

// A building outline as the files carry it: a ring of 12 points with 3-decimal coordinates.
std::string Polygon(int i) {
    const double x = 350000 + (i % 1000) * 25.0, y = 5600000 + (i / 1000) * 25.0;
    std::string wkt = "POLYGON((";
    const double dx[] = {0, 10.125, 10.125, 14.5, 14.5, 20.25, 20.25, 8.75, 8.75, 3.5, 3.5, 0};
    const double dy[] = {0, 0, 4.25, 4.25, 0, 0, 12.5, 12.5, 15.75, 15.75, 12.5, 12.5};
    for (int k = 0; k < 12; ++k)
        wkt += std::to_string(x + dx[k]) + " " + std::to_string(y + dy[k]) + ",";
    return wkt + std::to_string(x) + " " + std::to_string(y) + "))";
}

double MicrosPer(Clock::time_point start, int n) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / n;
}

} // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 20000;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const std::string dbName = "kelpora_bench_" + std::to_string(::getpid());
    Admin("CREATE DATABASE " + dbName);
    int status = 0;
    {
        TfrmKelpora form;
        form.conn = std::make_shared<TZConnection>();
        form.conn->Database = dbName;
        form.conn->Connect();
        form.cmd = std::make_shared<TZQuery>(form.conn.get());
        TZQuery setup(form.conn.get());
        setup.SetSQL(
            "CREATE EXTENSION IF NOT EXISTS postgis; CREATE SCHEMA alkistemp; CREATE TABLE public.logs( "
            "lfd_nr_umsetz integer, zeitpunkt timestamp, meldetyp integer, beschreibung text)");
        setup.ExecSQL();
        form.EnsureInvalidsTable();
        const TDateTime begin = EncodeDate(2019, 3, 14) + EncodeTime(10, 7, 2, 0);
        form.WriteIdRef("warmup", "warmup", begin, 1); // creates the relation table

        std::vector<std::string> wkts;
        for (int i = 0; i < n; ++i)
            wkts.push_back(Polygon(i));

        auto t = Clock::now();
        int valid = 0;
        for (int i = 0; i < n; ++i)
            valid += form.CheckGeometry("DEBWL00100" + std::to_string(i), wkts[i]) ? 1 : 0;
        const double check = MicrosPer(t, n);

        t = Clock::now();
        for (int i = 0; i < n; ++i) {
            const std::string sql = "SELECT ST_IsValid(ST_GeomFromText('" + wkts[i] + "'))";
            PQclear(PQexec(form.conn->Handle(), sql.c_str()));
        }
        const double checkLiteral = MicrosPer(t, n);

        // The same prepared statement straight through libpq: what the layer itself costs on top.
        PGresult* prep =
            PQprepare(form.conn->Handle(), "raw_check", "SELECT ST_IsValid(ST_GeomFromText($1))", 1, nullptr);
        PQclear(prep);
        t = Clock::now();
        for (int i = 0; i < n; ++i) {
            const char* values[1] = {wkts[i].c_str()};
            PQclear(PQexecPrepared(form.conn->Handle(), "raw_check", 1, values, nullptr, nullptr, 0));
        }
        const double checkRaw = MicrosPer(t, n);

        t = Clock::now();
        for (int i = 0; i < n; ++i)
            form.WriteIdRef("DEBWL00100" + std::to_string(i), "DEBWL00200" + std::to_string(i), begin, 4);
        const double relation = MicrosPer(t, n);

        t = Clock::now();
        for (int i = 0; i < n; ++i) {
            const std::string sql = "INSERT INTO alkistemp.id_refs (gml_id, id_ref, typ, beginn) VALUES('L" +
                                    std::to_string(i) + "','R" + std::to_string(i) +
                                    "',4, '2019-03-14 10:07:02')";
            PQclear(PQexec(form.conn->Handle(), sql.c_str()));
        }
        const double relationLiteral = MicrosPer(t, n);

        const bool problems = form.LogLines().size() > 1 || valid != n;
        std::printf("features: %d (valid: %d)\n", n, valid);
        std::printf("CheckGeometry  %8.1f us/feature  (literal SQL %8.1f us, bare libpq prepared %8.1f us)\n",
                    check, checkLiteral, checkRaw);
        std::printf("WriteIdRef     %8.1f us/relation (literal SQL %8.1f us)\n", relation, relationLiteral);
        std::printf("statements prepared on the server by the layer: %zu\n", form.conn->PreparedCount());
        if (problems) {
            std::fprintf(stderr, "unexpected failures reported in the log window\n");
            status = 1;
        }
        form.cmd.reset();
        form.conn.reset();
    }
    Admin("DROP DATABASE " + dbName);
    return status;
}
