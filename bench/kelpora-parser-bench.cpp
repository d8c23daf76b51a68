// kelpora-parser-bench: the parser on one feature with very many properties, on one feature with one property
// repeated very many times, and on one element with very many attributes.
//
//   kelpora-parser-bench [--count N] [--only properties|repeats|attributes]     (default 40000, all three)
//
// Writes three small documents into a temporary folder: a feature with N distinct properties, a feature
// with N repeats of one property, and a feature whose geometry element carries N attributes. Each goes
// through TBrenkoSaxReader (records taken by a sink, no database) and one line tells the seconds and the
// attribute lines of the record.
#include <QApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/FormKelpora.h"
#include "parser/BrenkoSaxReader.h"
#include "sax/SAX.h"

namespace {

const std::string kRoot = "<AX_Bestandsdatenauszug xmlns=\"http://www.adv-online.de/namespaces/adv/gid/6.0\" "
                          "xmlns:gml=\"http://www.opengis.net/gml/3.2\"><gml:featureMember>"
                          "<AX_Flurstueck gml:id=\"DENW36AL00000001\">";
const std::string kEnd = "</AX_Flurstueck></gml:featureMember></AX_Bestandsdatenauszug>\n";

std::string ManyProperties(int n) {
    std::string body;
    for (int i = 0; i < n; ++i) {
        const std::string k = std::to_string(i);
        body += "<p" + k + ">v" + k + "</p" + k + ">";
    }
    return kRoot + body + kEnd;
}

// The values of a repeated property are joined on its first line: that line grows with every repeat.
std::string RepeatedProperty(int n) {
    std::string body;
    for (int i = 0; i < n; ++i)
        body += "<gebaeudefunktion>" + std::to_string(1000 + i % 9000) + "</gebaeudefunktion>";
    return kRoot + body + kEnd;
}

std::string ManyAttributes(int n) {
    std::string tag = "<position><gml:Point";
    for (int i = 0; i < n; ++i)
        tag += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    return kRoot + tag + "><gml:pos>1 2</gml:pos></gml:Point></position>" + kEnd;
}

void Run(TfrmKelpora& form, const char* label, const std::string& path, const std::string& xml) {
    std::ofstream(path, std::ios::binary) << xml;
    TBrenkoSaxReader parser(&form);
    std::size_t lines = 0, geometry = 0;
    parser.RecordSink = [&](TAXObject& r) {
        lines = static_cast<std::size_t>(r.attribute.Count());
        geometry = r.position.size();
    };
    const auto start = std::chrono::steady_clock::now();
    parser.FSAXReader->Parse(path);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %.3f s, attribute lines: %zu, geometry bytes: %zu\n", label, seconds, lines, geometry);
}

} // namespace

int main(int argc, char** argv) {
    int n = 40000;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--count" && i + 1 < argc) {
            n = std::atoi(argv[++i]);
        } else if (a == "--only" && i + 1 < argc) {
            only = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: kelpora-parser-bench [--count N] [--only properties|repeats|attributes]\n");
            return 2;
        }
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    TfrmKelpora form;
    form.obKoRefs = std::make_unique<TKooRefSysteme>();
    form.obRelationsTypen = std::make_unique<TRelationTypen>();
    QTemporaryDir dir;
    if (!dir.isValid())
        return 2;
    const std::string path = dir.filePath("bench.xml").toStdString();
    const struct {
        const char* name;
        std::string (*document)(int);
    } cases[] = {
        {"properties", ManyProperties}, {"repeats", RepeatedProperty}, {"attributes", ManyAttributes}};
    for (const auto& c : cases)
        if (only.empty() || only == c.name)
            Run(form, (std::string(c.name) + " " + std::to_string(n)).c_str(), path, c.document(n));
    return 0;
}
