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

// Runs the benchmark; its standard output, and its exit status in `status`.
std::string RunBench(const std::string& args, int& status) {
    std::string out;
    FILE* p = popen((BenchProgram() + " " + args + " 2>/dev/null").c_str(), "r");
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

} // namespace
