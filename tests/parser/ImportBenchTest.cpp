// The import benchmark runs the file loop of an import run: its summary line and its exit status.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <sys/wait.h>

#include "TestDatabase.h"

namespace {

// The benchmark program next to this test's folder in the build tree.
std::string BenchProgram() {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "bench" /
            "kelpora-import-bench")
        .string();
}

// Runs the benchmark; its standard output (with its error output when `withErrors`), and its exit status
// in `status`.
std::string RunBench(const std::string& args, int& status, bool withErrors = false) {
    std::string out;
    FILE* p = popen((BenchProgram() + " " + args + (withErrors ? " 2>&1" : " 2>/dev/null")).c_str(), "r");
    if (!p) {
        status = -1;
        return out;
    }
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), p))
        out += buffer.data();
    const int raw = pclose(p);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

std::string Quoted(const std::string& s) {
    return "'" + s + "'";
}

TEST(ImportBench, ImportsFilesAndPrintsItsSummary) {
    TTestDatabase db;
    int status = 0;
    const std::string out = RunBench("--db " + Quoted(db.ConnInfo()) + " --no-relations " + TestDataDir() +
                                         "/bestand_bonn.xml " + TestDataDir() + "/nba_bonn.xml",
                                     status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("bestand_bonn.xml: features: 12, written: 12, seconds: ")))
        << out;
    EXPECT_TRUE(std::regex_search(
        out,
        std::regex(
            "\nfeatures: 15, seconds: [0-9]+\\.[0-9]+, features/s: [0-9]+, peak RSS MiB: [0-9]+\\.[0-9]\n$")))
        << out;
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.ax_objects WHERE ende = '1899-12-30'"), "12");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM public.id_refs"), "0");
}

TEST(ImportBench, ParseFailureEndsWithStatusOne) {
    TTestDatabase db;
    int status = 0;
    RunBench("--db " + Quoted(db.ConnInfo()) + " " + TestDataDir() + "/hostile/billionlaugh.xml", status);
    EXPECT_EQ(status, 1);
    RunBench("--db " + Quoted(db.ConnInfo()) + " --target-srid 4711 " + TestDataDir() + "/bestand_bonn.xml",
             status);
    EXPECT_EQ(status, 2);
}

// The server ends the benchmark's session at the third feature the first file writes (a trigger on the
// staging tables terminates its own backend): the run stops with status 1 and the one message of the lost
// connection, and the second file is not read.
TEST(ImportBench, LostConnectionEndsTheRunWithStatusOne) {
    TTestDatabase db;
    const std::string conninfo = "--db " + Quoted(db.ConnInfo()) + " --no-relations ";
    int status = 0;
    RunBench(conninfo + TestDataDir() + "/bestand_bonn.xml", status); // makes the staging tables
    ASSERT_EQ(status, 0);
    db.Exec("CREATE SEQUENCE staged_rows");
    db.Exec("CREATE FUNCTION end_session() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
            "IF nextval('staged_rows') = 3 THEN PERFORM pg_terminate_backend(pg_backend_pid()); END IF; "
            "RETURN NEW; END $$");
    db.Exec("DO $$ DECLARE t text; BEGIN FOR t IN SELECT c.relname FROM pg_inherits i JOIN pg_class c ON "
            "c.oid = i.inhrelid WHERE i.inhparent = 'alkistemp.ax_objects'::regclass LOOP EXECUTE "
            "format('CREATE TRIGGER end_session BEFORE INSERT ON alkistemp.%I FOR EACH ROW EXECUTE FUNCTION "
            "end_session()', t); END LOOP; END $$");

    const std::string out = RunBench(
        conninfo + TestDataDir() + "/bestand_bonn.xml " + TestDataDir() + "/nba_bonn.xml", status, true);
    EXPECT_EQ(status, 1) << out;
    const std::string lost = "Die Verbindung zur Datenbank ist abgebrochen.";
    const std::size_t first = out.find(lost);
    ASSERT_NE(first, std::string::npos) << out;
    EXPECT_EQ(out.find(lost, first + 1), std::string::npos) << out;
    EXPECT_EQ(out.find("Fehler"), std::string::npos) << out;
    EXPECT_EQ(out.find("bestand_bonn.xml: features:"), std::string::npos) << out;
    EXPECT_EQ(out.find("nba_bonn.xml"), std::string::npos) << out;
}

} // namespace
