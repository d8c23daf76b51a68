#pragma once
// The import benchmark (bench/kelpora-import-bench) run from a test, as a process of its own: in the
// foreground, or started in the background so that several run at the same time.
#include <cstdio>
#include <string>

// The benchmark program next to the test's folder in the build tree.
std::string BenchProgram();

// Runs the benchmark; its standard output, and its exit status in `status`. Its standard error (the
// message boxes) goes to the file `errors`, or with "&1" to the output.
std::string RunBench(const std::string& args, int& status, const std::string& errors = "/dev/null");

// The benchmark started in the background, its standard error going with its output.
class TBenchProcess {
public:
    explicit TBenchProcess(const std::string& args);
    ~TBenchProcess();
    TBenchProcess(const TBenchProcess&) = delete;
    TBenchProcess& operator=(const TBenchProcess&) = delete;
    // Waits for its end: what it wrote, and its exit status in `status`.
    std::string Finish();
    int status = -1;

private:
    FILE* pipe;
    std::string out;
};
