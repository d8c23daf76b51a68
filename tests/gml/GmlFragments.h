#pragma once
// GML fragments of real NAS features, cut out of the slices the way the parser hands them to the writer
// (the geometry element inside "position", without white space between elements), and wrapped the way
// the writer wraps them, and the arc executor of a test. Shared by the tests, the fuzz target and the
// benchmark.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "gml/GML2WKT.h"
#include "platform/xml/XmlDom.h"

inline const std::string kGml32Namespace = "http://www.opengis.net/gml/3.2";

inline std::string WrapFragment(const std::string& fragment) {
    return "<position xmlns:gml=\"" + kGml32Namespace + "\">" + fragment + "</position>";
}

// The geometry element of every "adv:position" of the file, serialised.
inline std::vector<std::string> PositionFragments(const std::string& path) {
    std::vector<std::string> fragments;
    const auto doc = TXmlDocument::LoadFile(path);
    for (const TXmlNode& position : doc->Root().ElementsByName("adv:position"))
        if (!position.FirstChild().IsNull())
            fragments.push_back(position.FirstChild().Xml());
    return fragments;
}

// The slice files of a folder, sorted by name.
inline std::vector<std::string> SliceFiles(const std::string& folder) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".xml")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// Installs an arc executor for the lifetime of the scope and restores the one before.
class TExecutorScope {
public:
    explicit TExecutorScope(TPostGISCommandFunc executor) : saved(std::move(ExecPostGISSQL)) {
        ExecPostGISSQL = std::move(executor);
    }
    ~TExecutorScope() { ExecPostGISSQL = std::move(saved); }
    TExecutorScope(const TExecutorScope&) = delete;
    TExecutorScope& operator=(const TExecutorScope&) = delete;

private:
    TPostGISCommandFunc saved;
};
