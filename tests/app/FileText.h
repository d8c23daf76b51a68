#pragma once
// Whole-file reads and writes for the tests of the configuration file.
#include <fstream>
#include <sstream>
#include <string>

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteAll(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}
