// Fragments converted per second: the writer's work per feature (load the wrapped fragment as a DOM,
// find the srsName, convert to WKT) over the geometries of the real slices, on one core. Arcs are answered
// by a fixed line instead of a database, so the figure is the conversion's own cost.
//
// Usage: kelpora-gml-bench [slices folder] [seconds per slice]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "../tests/gml/GmlFragments.h"
#include "gml/GML2WKT.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs `work` repeatedly for about `seconds`; gives runs per second.
template <typename Work> double Rate(double seconds, Work work) {
    std::size_t n = 0;
    const auto start = Clock::now();
    const auto until = start + std::chrono::duration<double>(seconds);
    auto now = start;
    do {
        for (int i = 0; i < 100; ++i)
            work();
        n += 100;
        now = Clock::now();
    } while (now < until);
    return static_cast<double>(n) / std::chrono::duration<double>(now - start).count();
}

} // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 && *argv[1] ? argv[1] : KELPORA_BENCH_TESTDATA_DIR "/nas-real/slices";
    if (!std::filesystem::is_directory(folder)) {
        std::fprintf(stderr, "kelpora-gml-bench: no folder %s\n", folder.c_str());
        return 1;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 1.0;
    TExecutorScope scope([](const std::string&) { return std::string("LINESTRING(0 0,0.5 0.5,1 1)"); });

    std::size_t checksum = 0;
    double totalTime = 0;
    double totalConvertTime = 0;
    std::size_t totalFragments = 0;
    // "load+convert" is the writer's work per feature; "convert" leaves out the DOM load.
    std::printf("%-36s %8s %14s %14s\n", "slice", "bytes", "load+convert/s", "convert/s");
    for (const std::string& path : SliceFiles(folder)) {
        for (const std::string& fragment : PositionFragments(path)) {
            const std::string wrapped = WrapFragment(fragment);
            const double rate = Rate(seconds, [&] {
                const auto doc = TXmlDocument::LoadXml(wrapped);
                checksum += GetSrsName(doc->Root()).size();
                checksum += GMLGeometryToWKT(doc->Root()).size();
            });
            const auto loaded = TXmlDocument::LoadXml(wrapped);
            const double convertRate = Rate(seconds, [&] {
                checksum += GetSrsName(loaded->Root()).size();
                checksum += GMLGeometryToWKT(loaded->Root()).size();
            });
            std::printf("%-36s %8zu %14.0f %14.0f\n", std::filesystem::path(path).stem().c_str(),
                        wrapped.size(), rate, convertRate);
            totalTime += 1.0 / rate;
            totalConvertTime += 1.0 / convertRate;
            ++totalFragments;
        }
    }
    if (totalFragments == 0) {
        std::fprintf(stderr, "kelpora-gml-bench: no geometry in %s\n", folder.c_str());
        return 1;
    }
    // The rate of a mix holding each slice's geometry once.
    std::printf("%-36s %8s %14.0f %14.0f\n", "mix of all slices", "",
                static_cast<double>(totalFragments) / totalTime,
                static_cast<double>(totalFragments) / totalConvertTime);
    std::printf("(checksum %zu)\n", checksum);
    return 0;
}
