// fuzz-sources: src/gml/*.cpp src/platform/xml/*.cpp src/platform/dialogs/*.cpp
// fuzz-packages: libxml-2.0 libxslt Qt6Widgets
//
// Arbitrary bytes as the GML fragment of a feature, wrapped and loaded the way the writer does it, then
// the srsName search and the conversion. An input holding an "adv:position" element (the real NAS files of
// the seed corpus) gives the content of the first one, as the parser would hand it over. Malformed XML and
// coordinates that make no points (no text, a count or srsDimension that does not fit) are expected
// failures; anything else escaping, or a crash, is a finding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "gml/GML2WKT.h"
#include "platform/dialogs/Dialogs.h"
#include "platform/xml/XmlDom.h"

namespace {

// Answers every message box at once; the fuzzer must never wait for a user.
class TSilentDialogs : public TDialogs {
public:
    int MessageDlg(const std::string&, TMsgDlgType, unsigned, int defaultButton,
                   const std::string&) override {
        return defaultButton;
    }
    void ShowErrorMessage(const std::string&) override {}
    std::vector<std::string> OpenFileNames(QWidget*, const std::string&, const std::string&, bool) override {
        return {};
    }
    int ShowModal(QDialog&) override { return mrCancel; }
    bool ShellOpen(const std::string&) override { return false; }
};

// Stands in for the database: a line for most arcs, a failure for some, so both answers are walked.
std::string FakeArcAnswer(const std::string& sql) {
    if (sql.size() % 3 == 0)
        return {};
    if (sql.size() % 3 == 1)
        return "LINESTRING(0 0,0.5 0.25,1 1)";
    return "xLINESTRING(,";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TSilentDialogs dialogs;
    static const bool installed = [] {
        SetDialogs(&dialogs);
        ExecPostGISSQL = FakeArcAnswer;
        return true;
    }();
    (void)installed;

    std::string fragment(reinterpret_cast<const char*>(data), size);
    const std::string open = "<adv:position>";
    if (const auto begin = fragment.find(open); begin != std::string::npos) {
        const auto end = fragment.find("</adv:position>", begin);
        if (end != std::string::npos)
            fragment = fragment.substr(begin + open.size(), end - begin - open.size());
    }
    try {
        const auto doc = TXmlDocument::LoadXml("<position xmlns:gml=\"http://www.opengis.net/gml/3.2\">" +
                                               fragment + "</position>");
        (void)GetSrsName(doc->Root());
        int kind = 0;
        std::string wkt;
        GMLGeometryToWKT(doc->Root(), kind, wkt);
        if (kind < 0 || kind > 2)
            __builtin_trap();
    } catch (const EXmlError&) {
    } catch (const EGMLError&) {
    }
    return 0;
}
