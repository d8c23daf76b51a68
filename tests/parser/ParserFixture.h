#pragma once
// Parses small NAS documents with a real parser and SAX2 reader bound to a main window without a
// database; the records, protocols and message boxes the parse produces are captured as text.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "FakeDialogs.h"
#include "QtApp.h"
#include "TestDatabase.h"
#include "app/FormKelpora.h"
#include "parser/BrenkoSaxReader.h"
#include "sax/SAX.h"

// Namespaces the fixtures use, declared on their root element.
inline const std::string kNasNamespaces =
    "xmlns=\"http://www.adv-online.de/namespaces/adv/gid/6.0\" xmlns:gml=\"http://www.opengis.net/gml/3.2\" "
    "xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
    "xmlns:wfs=\"http://www.adv-online.de/namespaces/adv/gid/wfs\" "
    "xmlns:wfsext=\"http://www.adv-online.de/namespaces/adv/gid/wfsext\" "
    "xmlns:ogc=\"http://www.adv-online.de/namespaces/adv/gid/ogc\" "
    "xmlns:gmd=\"http://www.isotc211.org/2005/gmd\" xmlns:gco=\"http://www.isotc211.org/2005/gco\"";

// A document whose root element `root` holds `body`.
inline std::string Doc(const std::string& body, const std::string& root = "AX_Bestandsdatenauszug",
                       const std::string& prolog = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + prolog + "<" + root + " " + kNasNamespaces + ">" +
           body + "</" + root + ">";
}

// A feature of a full extract.
inline std::string Member(const std::string& feature) {
    return "<gml:featureMember>" + feature + "</gml:featureMember>";
}

// A record as text: kind, object type and identifier, then one line per attribute line ("A "),
// relation target ("R type target"), model type ("M "), set lifespan date ("B "/"E "), the fragment
// ("P "), why the writer is to refuse it ("X ") and that its links to specialist data held a value ("Z").
inline std::string Dump(const TAXObject& r) {
    static const char* kinds[] = {"Insert", "Replace", "Delete", "Update"};
    std::string out =
        std::string(kinds[static_cast<int>(r.wfsType)]) + " " + r.objektart() + " " + r.identifikator + "\n";
    for (const std::string& line : r.attribute.Lines())
        out += "A " + line + "\n";
    for (const auto& list : r.relationen)
        for (const std::string& target : list->Lines())
            out += "R " + list->RelTyp + " " + target + "\n";
    for (const std::string& m : r.modellarten.Lines())
        out += "M " + m + "\n";
    if (r.dtBegin != 0)
        out += "B " + DateTimeToDbText(r.dtBegin) + "\n";
    if (r.dtEnde != 0)
        out += "E " + DateTimeToDbText(r.dtEnde) + "\n";
    if (!r.position.empty())
        out += "P " + r.position + "\n";
    if (!r.refusal.empty())
        out += "X " + r.refusal + "\n";
    if (r.zeigtAufExternes)
        out += "Z zeigtAufExternes\n";
    return out;
}

class ParserTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        form = std::make_unique<TfrmKelpora>();
        form->obKoRefs = std::make_unique<TKooRefSysteme>();
        form->obRelationsTypen = std::make_unique<TRelationTypen>();
        form->obRelationsTypen->push_back(std::make_unique<TRelationTyp>("istGebucht", 0));
        form->obRelationsTypen->push_back(std::make_unique<TRelationTyp>("zeigtAuf", 3));
        char name[] = "/tmp/kelpora-parser-XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        path = name;
    }
    void TearDown() override { std::remove(path.c_str()); }

    // Parses `xml` with a fresh parser; records and protocols are captured. Gives false when the parse
    // failed (its error text in `parseError`).
    bool Parse(const std::string& xml) {
        std::ofstream(path, std::ios::binary) << xml;
        TBrenkoSaxReader parser(form.get());
        parser.currPortion = &portion;
        parser.RecordSink = [this](TAXObject& r) { records.push_back(Dump(r)); };
        parser.ProtocolSink = [this](const std::string& p) { protocols.push_back(p); };
        struct TNoNas {
            std::string& to;
            const TBrenkoSaxReader& parser;
            ~TNoNas() { to = parser.oNoNasData ? parser.sNoNasData : std::string(); }
        } noNas{noNasData, parser};
        try {
            parser.FSAXReader->Parse(path);
        } catch (const std::exception& e) {
            parseError = e.what();
            return false;
        }
        return true;
    }

    TFakeDialogs dialogs;
    std::unique_ptr<TfrmKelpora> form;
    TPortionFile portion{"file"};
    std::string path;
    std::vector<std::string> records;
    std::vector<std::string> protocols;
    std::string parseError;
    // What the parser said of a file without NAS data (empty for NAS data).
    std::string noNasData;
};
