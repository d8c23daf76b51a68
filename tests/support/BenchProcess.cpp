#include "BenchProcess.h"

#include <array>
#include <filesystem>
#include <sys/wait.h>

std::string BenchProgram() {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "bench" /
            "kelpora-import-bench")
        .string();
}

namespace {
// Everything the process writes, then its exit status.
std::string ReadAll(FILE* p, int& status) {
    std::string out;
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), p))
        out += buffer.data();
    const int raw = pclose(p);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}
} // namespace

std::string RunBench(const std::string& args, int& status, const std::string& errors) {
    FILE* p = popen((BenchProgram() + " " + args + " 2>" + errors).c_str(), "r");
    if (!p) {
        status = -1;
        return {};
    }
    return ReadAll(p, status);
}

TBenchProcess::TBenchProcess(const std::string& args)
    : pipe(popen((BenchProgram() + " " + args + " 2>&1").c_str(), "r")) {}

TBenchProcess::~TBenchProcess() {
    Finish();
}

std::string TBenchProcess::Finish() {
    if (pipe) {
        out = ReadAll(pipe, status);
        pipe = nullptr;
    }
    return out;
}
