// The fast import path (transactions of several features in flight, the validity question and the
// quality data rows inside each feature's transaction) against the reference way that sends every
// statement alone and waits for its answer: the same files imported both ways into two fresh databases
// must leave the same database contents, the same `logs` rows in the same order, the same log window
// lines and the same insert counts.
#include <gtest/gtest.h>

#include <QComboBox>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

#include "FakeDialogs.h"
#include "QtApp.h"
#include "RunOnTestDatabase.h"
#include "TestDatabase.h"
#include "app/FormKelpora.h"
#include "platform/db/ZDatabase.h"

namespace {

// ---- a generated full extract with failures mixed in -------------------------------------------

const char* const kFeatureNamespaces = "xmlns:adv=\"http://www.adv-online.de/namespaces/adv/gid/7.1\" "
                                       "xmlns:gml=\"http://www.opengis.net/gml/3.2\" "
                                       "xmlns:xlink=\"http://www.w3.org/1999/xlink\"";

std::string Oid(int n) {
    char id[32];
    std::snprintf(id, sizeof id, "DENW36ALT%07d", n);
    return id;
}

std::string Head(const std::string& type, const std::string& oid) {
    return "<adv:" + type + " gml:id=\"" + oid + "\" " + kFeatureNamespaces +
           "><adv:lebenszeitintervall><adv:AA_Lebenszeitintervall><adv:beginnt>2024-10-15T07:55:13Z</"
           "adv:beginnt>"
           "</adv:AA_Lebenszeitintervall></adv:lebenszeitintervall><adv:modellart><adv:AA_Modellart>"
           "<adv:advStandardModell>DLKM</adv:advStandardModell></adv:AA_Modellart></adv:modellart>";
}

std::string Ring(const std::string& posList) {
    return "<gml:patches><gml:PolygonPatch><gml:exterior><gml:Ring><gml:curveMember><gml:Curve><gml:segments>"
           "<gml:LineStringSegment><gml:posList>" +
           posList +
           "</gml:posList></gml:LineStringSegment></gml:segments></gml:Curve></gml:curveMember></gml:Ring>"
           "</gml:exterior></gml:PolygonPatch></gml:patches>";
}

std::string Square(double x, double y) {
    char b[256];
    std::snprintf(b, sizeof b, "%.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f", x, y, x + 10, y, x + 10,
                  y + 10, x, y + 10, x, y);
    return b;
}

std::string Bowtie(double x, double y) {
    char b[256];
    std::snprintf(b, sizeof b, "%.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f", x, y, x + 10, y + 10,
                  x + 10, y, x, y + 10, x, y);
    return b;
}

std::string Building(const std::string& oid, const std::string& posList, const std::string& srs,
                     const std::string& floors, const std::string& target) {
    return Head("AX_Gebaeude", oid) + "<adv:position><gml:Surface srsName=\"urn:adv:crs:" + srs + "\">" +
           Ring(posList) + "</gml:Surface></adv:position><adv:gebaeudefunktion>2000</adv:gebaeudefunktion>" +
           "<adv:anzahlDerOberirdischenGeschosse>" + floors + "</adv:anzahlDerOberirdischenGeschosse>" +
           "<adv:zeigtAuf xlink:href=\"urn:adv:oid:" + target + "\"/></adv:AX_Gebaeude>";
}

// A parcel whose ring closes with two arcs: the conversion asks the database while earlier features
// may still be on their way. A broken arc of two points is a question the database refuses.
std::string Parcel(const std::string& oid, double x, double y, const std::string& target, bool brokenArc) {
    char b[768];
    std::snprintf(
        b, sizeof b,
        "<gml:LineStringSegment><gml:posList>%.3f %.3f %.3f %.3f %.3f %.3f</gml:posList>"
        "</gml:LineStringSegment><gml:Arc><gml:posList>%.3f %.3f %.3f %.3f %.3f %.3f</gml:posList>"
        "</gml:Arc><gml:Arc><gml:posList>%.3f %.3f%s %.3f %.3f</gml:posList></gml:Arc>",
        x, y, x + 20, y, x + 20, y + 20, x + 20, y + 20, x + 13, y + 22.5, x + 10, y + 23, x + 10, y + 23,
        brokenArc ? "" : (" " + std::to_string(x + 5) + " " + std::to_string(y + 22)).c_str(), x, y);
    return Head("AX_Flurstueck", oid) +
           "<adv:position><gml:Surface srsName=\"urn:adv:crs:ETRS89_UTM32\"><gml:patches><gml:PolygonPatch>"
           "<gml:exterior><gml:Ring><gml:curveMember><gml:Curve><gml:segments>" +
           b +
           "</gml:segments></gml:Curve></gml:curveMember></gml:Ring></gml:exterior></gml:PolygonPatch>"
           "</gml:patches></gml:Surface></adv:position><adv:flurnummer>25</adv:flurnummer>"
           "<adv:istGebucht xlink:href=\"urn:adv:oid:" +
           target + "\"/></adv:AX_Flurstueck>";
}

// A point with quality data: its process step is a row of its own before the feature's INSERT. A
// `posText` of "-" leaves the position empty, which the conversion refuses.
std::string Point(const std::string& oid, double x, double y, const std::string& posText) {
    char pos[128];
    std::snprintf(pos, sizeof pos, "%.3f %.3f", x, y);
    return Head("AX_PunktortAU", oid) +
           "<adv:position><gml:Point srsName=\"urn:adv:crs:ETRS89_UTM32\"><gml:pos>" +
           (posText.empty()  ? std::string(pos)
            : posText == "-" ? std::string()
                             : posText) +
           "</gml:pos></gml:Point></adv:position><adv:kartendarstellung>true</adv:kartendarstellung>"
           "<adv:qualitaetsangaben><adv:AX_DQPunktort><adv:herkunft>"
           "<gmd:LI_Lineage "
           "xmlns:gmd=\"http://www.isotc211.org/2005/gmd\"><gmd:processStep><gmd:LI_ProcessStep>"
           "<gmd:description><adv:AX_LI_ProcessStep_Punktort_Description>Erhebung"
           "</adv:AX_LI_ProcessStep_Punktort_Description></gmd:description><gmd:dateTime>"
           "<gco:DateTime xmlns:gco=\"http://www.isotc211.org/2005/gco\">2017-07-20T11:20:04Z</gco:DateTime>"
           "</gmd:dateTime></gmd:LI_ProcessStep></gmd:processStep></gmd:LI_Lineage></adv:herkunft>"
           "</adv:AX_DQPunktort></adv:qualitaetsangaben></adv:AX_PunktortAU>";
}

std::string Address(const std::string& oid, int n) {
    return Head("AX_LagebezeichnungOhneHausnummer", oid) +
           "<adv:lagebezeichnung><adv:AX_Lagebezeichnung><adv:unverschluesselt>Weg " + std::to_string(n) +
           "</adv:unverschluesselt></adv:AX_Lagebezeichnung></adv:lagebezeichnung>"
           "</adv:AX_LagebezeichnungOhneHausnummer>";
}

// 60 features of four kinds; every other building from the sixth feature on fails in one of four ways (an
// invalid geometry, a reference system nobody knows, an identifier already stored under the staging table's
// key, a non-numeric number of floors); one point has a geometry the database cannot read, one a position
// without coordinates, one (with quality data) a lifespan begin that is no date. There is no
// standard reference system, so the unknown one is not replaced. Without parcels (addresses in their
// place) no arc question interrupts the features in flight. Without `failures` the refused arc is the
// only thing that goes wrong: the transaction the features in flight share fails on an arc question.
// With `standardAfter` a block naming the standard reference system follows that feature: the unknown
// system of the building just before it stays unknown, the one of a later building is replaced. With
// `parcelEvery` above 4 only every such feature is a parcel (the others of its kind addresses): the
// answers to a parcel's arc questions are read when many features without arcs came after it.
std::string FailuresExtract(bool parcels, bool failures = true, int standardAfter = -1, int parcelEvery = 4) {
    std::string body;
    int failure = 0;
    for (int i = 0; i < 60; ++i) {
        const double x = 360000.0 + (i % 10) * 50.0, y = 5610000.0 + (i / 10) * 50.0;
        std::string feature;
        switch (i % 4) {
        case 0:
            feature = parcels && i % parcelEvery == 0 ? Parcel(Oid(i), x, y, Oid(i + 1), i == 40)
                                                      : Address(Oid(i), i);
            break;
        case 1:
            if (failures && i % 8 == 5) {
                switch (failure++ % 4) {
                case 0:
                    feature = Building(Oid(i), Bowtie(x, y), "ETRS89_UTM32", "2", Oid(i - 1));
                    break;
                case 1:
                    feature = Building(Oid(i), Square(x, y), "NIRGENDWO", "2", Oid(i - 1));
                    break;
                case 2:
                    feature = Building(Oid(1), Square(x, y), "ETRS89_UTM32", "2", Oid(i - 1));
                    break;
                default:
                    feature = Building(Oid(i), Square(x, y), "ETRS89_UTM32", "drei", Oid(i - 1));
                }
            } else {
                feature = Building(Oid(i), Square(x, y), "ETRS89_UTM32", std::to_string(i % 5), Oid(i - 1));
            }
            break;
        case 2:
            // The empty position follows a duplicate whose answer may still be on its way.
            feature = Point(Oid(i), x, y, !failures ? "" : i == 22 ? "-" : i == 30 ? "1.0 nicht-zahl" : "");
            if (failures && i == 38)
                feature.replace(feature.find("2024-10-15T07:55:13Z"), 20, "2024-13-45T00:00:00Z");
            break;
        default:
            feature = Address(Oid(i), i);
        }
        body += "<gml:featureMember>" + feature + "</gml:featureMember>\n";
        if (i == standardAfter)
            body +=
                "</wfs:FeatureCollection></enthaelt><koordinatenangaben><AA_Koordinatenreferenzsystemangaben>"
                "<crs xlink:href=\"urn:adv:crs:ETRS89_UTM32\"/><standard>true</standard>"
                "</AA_Koordinatenreferenzsystemangaben></koordinatenangaben><enthaelt>"
                "<wfs:FeatureCollection gml:id=\"FC_2\">\n";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<AX_Bestandsdatenauszug "
           "xmlns=\"http://www.adv-online.de/namespaces/adv/gid/6.0\" "
           "xmlns:gml=\"http://www.opengis.net/gml/3.2\" "
           "xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
           "xmlns:wfs=\"http://www.adv-online.de/namespaces/adv/gid/wfs\">"
           "<erfolgreich>true</erfolgreich><enthaelt><wfs:FeatureCollection gml:id=\"FC_1\">\n" +
           body + "</wfs:FeatureCollection></enthaelt></AX_Bestandsdatenauszug>\n";
}

// An update of the generated extract: buildings replaced (one new version an invalid geometry, which
// fails the shared transaction with the closings in it, one a begin that is no date, which closes
// nothing), addresses and points deleted, and two deletes that fail: one of a type without a table, one
// whose type is no identifier.
std::string UpdateOfFailures() {
    const auto fid = [](int i) {
        return "<ogc:Filter><ogc:FeatureId fid=\"" + Oid(i) + "20241015T075513Z\"/></ogc:Filter>";
    };
    const auto del = [&](const std::string& type, int i) {
        return "<wfs:Delete typeName=\"" + type + "\">" + fid(i) + "</wfs:Delete>\n";
    };
    std::string body;
    for (int i = 0; i < 60; ++i) {
        const double x = 360000.0 + (i % 10) * 50.0, y = 5610000.0 + (i / 10) * 50.0;
        if (i % 8 == 1) {
            std::string building =
                Building(Oid(i), i == 17 ? Bowtie(x, y) : Square(x, y), "ETRS89_UTM32", "4", Oid(i + 2));
            building.replace(building.find("2024-10-15T07:55:13Z"), 20,
                             i == 33 ? "gestern" : "2025-02-01T10:00:00Z");
            body += "<wfsext:Replace vendorId=\"AdV\" safeToIgnore=\"false\">" + building + fid(i) +
                    "</wfsext:Replace>\n";
        } else if (i % 4 == 3) {
            body += del("AX_LagebezeichnungOhneHausnummer", i);
        } else if (i % 8 == 2) {
            body += del("AX_PunktortAU", i);
        }
        if (i == 20)
            body += del("AX_Unbekannt", 999) + del("AX_Gebaeude; DROP TABLE logs", 998);
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<AX_NutzerbezogeneBestandsdatenaktualisierung_NBA "
           "xmlns=\"http://www.adv-online.de/namespaces/adv/gid/6.0\" "
           "xmlns:gml=\"http://www.opengis.net/gml/3.2\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
           "xmlns:wfs=\"http://www.adv-online.de/namespaces/adv/gid/wfs\" "
           "xmlns:wfsext=\"http://www.adv-online.de/namespaces/adv/gid/wfsext\" "
           "xmlns:ogc=\"http://www.adv-online.de/namespaces/adv/gid/ogc\"><geaenderteObjekte>"
           "<wfs:Transaction version=\"1.0.0\" service=\"WFS\">\n" +
           body +
           "</wfs:Transaction></geaenderteObjekte></AX_NutzerbezogeneBestandsdatenaktualisierung_NBA>\n";
}

// A parcel whose position holds an element of a type no conversion knows, with arcs inside it: the
// conversion shows its box once.
std::string UnknownGeometryParcel(const std::string& oid, double x, double y) {
    std::string parcel = Parcel(oid, x, y, Oid(1), false);
    const std::size_t open = parcel.find("<gml:Surface");
    const std::size_t close = parcel.find("</adv:position>");
    std::string unknown = parcel.substr(open, close - open);
    unknown.replace(0, std::string("<gml:Surface").size(), "<gml:Sphere");
    unknown.replace(unknown.rfind("</gml:Surface>"), std::string("</gml:Surface>").size(), "</gml:Sphere>");
    parcel.replace(open, close - open, unknown);
    return parcel;
}

// A few features, failures among them whose reports are still on their way at the end, then the
// export protocol with its counts; with `unknownGeometry` the last parcel has a geometry of an unknown
// type.
std::string SmallExtract(bool protocolAfter, bool unknownGeometry) {
    std::string body;
    for (int i = 0; i < 6; ++i) {
        const double x = 360000.0 + i * 50.0, y = 5610000.0;
        std::string feature;
        switch (i) {
        case 0:
            feature = Parcel(Oid(i), x, y, Oid(1), false);
            break;
        case 1:
            feature = Building(Oid(i), Square(x, y), "ETRS89_UTM32", "drei", Oid(0));
            break;
        case 2:
            // A geometry the database cannot read: its report comes when its answer is read.
            feature = Building(Oid(i), "1.0 nicht-zahl 2.0 3.0 1.0 2.0", "ETRS89_UTM32", "2", Oid(0));
            break;
        case 3:
            // Right behind the building whose report is still on its way.
            feature =
                unknownGeometry ? UnknownGeometryParcel(Oid(i), x, y) : Parcel(Oid(i), x, y, Oid(0), false);
            break;
        case 4:
            feature = Address(Oid(i), i);
            break;
        default:
            // Its validity question goes alone: not in front of the unknown geometry.
            feature = Point(Oid(i), x, y, "");
        }
        body += "<gml:featureMember>" + feature + "</gml:featureMember>\n";
    }
    const std::string protocol =
        "<erlaeuterung>&lt;Protocol&gt;&lt;statistik&gt;&lt;objektmenge objektart=\"AX_Flurstueck\"&gt;"
        "&lt;objektanzahl&gt;2&lt;/objektanzahl&gt;&lt;/objektmenge&gt;&lt;objektmenge "
        "objektart=\"AX_Gebaeude\"&gt;&lt;objektanzahl&gt;2&lt;/objektanzahl&gt;&lt;/objektmenge&gt;"
        "&lt;/statistik&gt;&lt;/Protocol&gt;</erlaeuterung>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<AX_Bestandsdatenauszug "
           "xmlns=\"http://www.adv-online.de/namespaces/adv/gid/6.0\" "
           "xmlns:gml=\"http://www.opengis.net/gml/3.2\" "
           "xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
           "xmlns:wfs=\"http://www.adv-online.de/namespaces/adv/gid/wfs\">" +
           (protocolAfter ? std::string() : protocol) +
           "<erfolgreich>true</erfolgreich><enthaelt><wfs:FeatureCollection gml:id=\"FC_1\">\n" + body +
           "</wfs:FeatureCollection></enthaelt>" + (protocolAfter ? protocol : std::string()) +
           "</AX_Bestandsdatenauszug>\n";
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1))
        ++n;
    return n;
}

// The part of DatabaseContents that shows one table.
std::string Section(const std::string& contents, const std::string& table) {
    const std::size_t start = contents.find("== " + table + "\n");
    if (start == std::string::npos)
        return {};
    const std::size_t end = contents.find("\n== ", start);
    return contents.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// ---- one import run -----------------------------------------------------------------------------

// Times of day in texts ("hh:mm:ss") differ between any two runs.
std::string WithoutTimes(const std::string& text) {
    static const std::regex time("[0-9]{2}:[0-9]{2}:[0-9]{2}");
    return std::regex_replace(text, time, "hh:mm:ss");
}

struct TRunResult {
    std::string contents; // every table of the two schemas, and the `logs` rows in the order written
    std::vector<std::string> log;
    std::vector<std::string> inserts;
    std::int64_t batched = 0;
    // For each message box: its text and the number of log window lines shown when it came up.
    std::vector<std::pair<std::string, std::size_t>> boxes;
};

// Message boxes, each with the log window lines shown by then.
class TBoxesAfterLines : public TFakeDialogs {
public:
    explicit TBoxesAfterLines(TfrmKelpora& f) : form(f) {}
    int MessageDlg(const std::string& text, TMsgDlgType type, unsigned buttons, int defaultButton,
                   const std::string& caption) override {
        boxes.emplace_back(text, form.LogLines().size());
        return TFakeDialogs::MessageDlg(text, type, buttons, defaultButton, caption);
    }
    TfrmKelpora& form;
    std::vector<std::pair<std::string, std::size_t>> boxes;
};

// The complete contents of the schemas public and alkistemp: each table's columns and its rows in a
// fixed order; `logs` in the order its rows were written, without the time column.
std::string DatabaseContents(TTestDatabase& db) {
    std::string out;
    for (const auto& t :
         db.Query("SELECT schemaname, tablename FROM pg_catalog.pg_tables WHERE schemaname IN "
                  "('public', 'alkistemp') ORDER BY 1, 2")) {
        const std::string table = *t[0] + "." + *t[1];
        out += "== " + table + "\n";
        for (const auto& c :
             db.Query("SELECT column_name || ' ' || data_type FROM information_schema.columns "
                      "WHERE table_schema = '" +
                      *t[0] + "' AND table_name = '" + *t[1] + "' ORDER BY ordinal_position"))
            out += "  " + *c[0] + "\n";
        const std::string rows = *t[1] == "logs" ? "SELECT concat_ws('|', lfd_nr_umsetz, meldetyp, "
                                                   "beschreibung) FROM public.logs ORDER BY ctid"
                                                 : "SELECT r::text FROM " + table + " r ORDER BY 1";
        for (const auto& r : db.Query(rows))
            out += WithoutTimes(r[0].value_or("<null>")) + "\n";
    }
    return out;
}

// The session the arc questions go to: as usual, none to be had, or one the server ends whenever it has
// waited a millisecond for the next question.
enum class TSecondSession { ssAsUsual, ssNone, ssEndedWhenIdle };

TRunResult Import(TTestDatabase& db, const std::vector<std::string>& files, bool reference, int depth,
                  const std::string& keyedTable, bool groups,
                  TSecondSession second = TSecondSession::ssAsUsual) {
    TfrmKelpora form;
    ConnectRunToTestDatabase(form, db);
    // Connected already: what follows concerns further sessions of this login only (the arc questions
    // ask on one).
    if (second == TSecondSession::ssNone)
        form.conn->HostName = "/nonexistent/kelpora-no-server";
    if (second == TSecondSession::ssEndedWhenIdle)
        form.conn->Properties.Add("options=-c idle_session_timeout=1");
    form.oNachFolien = groups;
    form.StartRunState();
    form.ReadRunLookups();
    if (!keyedTable.empty()) {
        // A prepared database may hold a key on a staging table: a second row of an identifier fails.
        EXPECT_TRUE(form.EnsureObjectTable(keyedTable));
        db.Exec("ALTER TABLE alkistemp." + LowerCaseAscii(keyedTable) + " ADD PRIMARY KEY (gml_id)");
    }
    form.oOneStatementAtATime = reference;
    form.iPipelineDepth = depth;
    TBoxesAfterLines dialogs(form);
    for (const std::string& file : files) {
        try {
            form.LoadDoc(file);
        } catch (const std::exception&) {
            // a file that does not parse: what it stored and showed until then is compared
        }
    }
    form.FlushPendingFeatures();

    TRunResult result;
    for (const std::string& line : form.LogLines())
        result.log.push_back(WithoutTimes(line));
    result.inserts = form.obInserts.Lines();
    result.batched = form.iBatchedInserts;
    result.boxes = dialogs.boxes;
    form.conn->Disconnect();
    result.contents = DatabaseContents(db);
    return result;
}

class ImportPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQApplication();
        char name[] = "/tmp/kelpora-importpath-XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        generated = name;
        std::ofstream(generated, std::ios::binary) << FailuresExtract(true);
        withoutArcs = generated + "-no-arcs";
        std::ofstream(withoutArcs, std::ios::binary) << FailuresExtract(false);
        onlyRefusedArc = generated + "-refused-arc";
        std::ofstream(onlyRefusedArc, std::ios::binary) << FailuresExtract(true, false);
        standardLater = generated + "-standard-later";
        std::ofstream(standardLater, std::ios::binary) << FailuresExtract(true, true, 15);
        sparseArcs = generated + "-sparse-arcs";
        std::ofstream(sparseArcs, std::ios::binary) << FailuresExtract(true, true, -1, 20);
        // Broken off in the middle of the 46th feature, behind failures whose reports may still be on
        // their way when the parser meets the end.
        const std::string whole = FailuresExtract(true);
        std::size_t cut = 0;
        for (int i = 0; i < 46; ++i)
            cut = whole.find("<gml:featureMember>", cut + 1);
        brokenOff = generated + "-broken-off";
        std::ofstream(brokenOff, std::ios::binary) << whole.substr(0, cut + 200);
        protocolAfter = generated + "-protocol-after";
        std::ofstream(protocolAfter, std::ios::binary) << SmallExtract(true, false);
        protocolBefore = generated + "-protocol-before";
        std::ofstream(protocolBefore, std::ios::binary) << SmallExtract(false, false);
        unknownGeometry = generated + "-unknown-geometry";
        std::ofstream(unknownGeometry, std::ios::binary) << SmallExtract(true, true);
        update = generated + "-update";
        std::ofstream(update, std::ios::binary) << UpdateOfFailures();
    }
    void TearDown() override {
        std::remove(generated.c_str());
        std::remove(withoutArcs.c_str());
        std::remove(onlyRefusedArc.c_str());
        std::remove(standardLater.c_str());
        std::remove(sparseArcs.c_str());
        std::remove(brokenOff.c_str());
        for (const std::string* file : {&protocolAfter, &protocolBefore, &unknownGeometry, &update})
            std::remove(file->c_str());
    }

    std::string generated;
    std::string withoutArcs;
    std::string onlyRefusedArc;
    std::string standardLater;
    std::string sparseArcs;
    std::string brokenOff;
    std::string protocolAfter;
    std::string protocolBefore;
    std::string unknownGeometry;
    std::string update;
};

TEST_F(ImportPathTest, SameContentsLogsAndCountsAsOneStatementAtATime) {
    const std::string real = TestDataDir() + "/";
    struct TCase {
        const char* name;
        std::vector<std::string> files;
        std::string keyedTable;
        int depth;
        bool groups = false;
        TSecondSession second = TSecondSession::ssAsUsual;
    };
    const std::vector<TCase> cases = {
        {"real extract and update", {real + "bestand_bonn.xml", real + "nba_bonn.xml"}, "", 256},
        {"real extract and update, three in flight",
         {real + "bestand_bonn.xml", real + "nba_bonn.xml"},
         "",
         3},
        {"real extract and update, tables per group",
         {real + "bestand_bonn.xml", real + "nba_bonn.xml"},
         "",
         256,
         true},
        {"generated with failures", {generated}, "AX_Gebaeude", 256},
        {"generated with failures, two in flight", {generated}, "AX_Gebaeude", 2},
        {"generated with failures, no arcs", {withoutArcs}, "AX_Gebaeude", 256},
        {"generated, a refused arc its only failure", {onlyRefusedArc}, "", 256},
        {"generated with failures, broken off", {brokenOff}, "AX_Gebaeude", 256},
        {"generated with failures, a parcel every 20th feature", {sparseArcs}, "AX_Gebaeude", 256},
        {"generated with failures, no second session to be had for the arc questions",
         {generated, update},
         "AX_Gebaeude",
         256,
         false,
         TSecondSession::ssNone},
        {"generated with failures, a parcel every 20th feature, the second session ended when idle",
         {sparseArcs, update},
         "AX_Gebaeude",
         256,
         false,
         TSecondSession::ssEndedWhenIdle},
        {"generated with failures, the standard reference system named after 16 features",
         {standardLater},
         "AX_Gebaeude",
         256},
        {"generated with failures, then its update with failures", {generated, update}, "", 256},
        {"generated with failures, then its update with failures, two in flight", {generated, update}, "", 2},
        {"generated with failures, then its update with failures, tables per group",
         {generated, update},
         "",
         256,
         true},
        {"small, the export protocol after the features", {protocolAfter}, "", 256},
        {"small, the export protocol before the features", {protocolBefore}, "", 256},
        {"small, a geometry of unknown type with an arc", {unknownGeometry}, "", 256},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TTestDatabase referenceDb, fastDb;
        const TRunResult reference = Import(referenceDb, c.files, true, 0, c.keyedTable, c.groups);
        const TRunResult fast = Import(fastDb, c.files, false, c.depth, c.keyedTable, c.groups, c.second);
        EXPECT_EQ(reference.batched, 0);
        EXPECT_GT(fast.batched, 0) << "the fast path was not taken";
        EXPECT_EQ(fast.contents, reference.contents);
        EXPECT_EQ(fast.log, reference.log);
        EXPECT_EQ(fast.inserts, reference.inserts);
        EXPECT_EQ(fast.boxes, reference.boxes);
        if (c.files.front() == brokenOff) {
            EXPECT_FALSE(reference.boxes.empty()) << "no parse error shown";
        }
        if (c.groups) {
            EXPECT_NE(reference.contents.find("== alkistemp.og_"), std::string::npos) << "no group table";
        }
        if (c.files.front() == onlyRefusedArc) {
            const auto refused =
                std::find_if(reference.log.begin(), reference.log.end(), [](const std::string& l) {
                    return l.find("Fehler beim Ausführen des PostGIS-Kommandos") != std::string::npos;
                });
            EXPECT_NE(refused, reference.log.end()) << "the arc was not refused";
        }
        if (c.files.front() == standardLater) {
            // Read before the block, the building keeps its unknown system; read after it, it has the
            // standard.
            EXPECT_NE(reference.contents.find("CRS unbekannt: (NIRGENDWO)AX_Gebaeude: DENW36ALT0000013"),
                      std::string::npos);
            EXPECT_EQ(reference.contents.find("CRS unbekannt: (NIRGENDWO)AX_Gebaeude: DENW36ALT0000045"),
                      std::string::npos);
        }
        if (c.files.front() == protocolAfter || c.files.front() == protocolBefore) {
            // Each feature once, and the counts of the protocol stored, on both paths.
            for (const TRunResult* run : {&reference, &fast}) {
                const std::string objects = Section(run->contents, "public.ax_objects");
                for (int i : {0, 3, 4, 5})
                    EXPECT_EQ(Occurrences(objects, "(" + Oid(i) + ","), 1u) << Oid(i);
                const std::string rows = Section(run->contents, "public.statistics");
                EXPECT_EQ(Occurrences(rows, ",AX_Flurstueck,2)"), 1u) << rows;
                EXPECT_EQ(Occurrences(rows, ",AX_Gebaeude,2)"), 1u) << rows;
            }
        }
        if (c.files.front() == unknownGeometry) {
            for (const TRunResult* run : {&reference, &fast}) {
                const auto shown = std::count_if(run->boxes.begin(), run->boxes.end(), [](const auto& box) {
                    return box.first == "Unknown type of geometry: gml:Sphere";
                });
                EXPECT_EQ(shown, 1) << "the box of the unknown geometry";
            }
            // It came after the reports of the failed buildings parsed before it.
            ASSERT_FALSE(reference.boxes.empty());
            EXPECT_NE(std::find_if(reference.log.begin(),
                                   reference.log.begin() +
                                       static_cast<std::ptrdiff_t>(
                                           std::min(reference.log.size(), reference.boxes.front().second)),
                                   [](const std::string& l) {
                                       return l.find("Fehler beim Import bei AX_Gebaeude: " + Oid(1)) !=
                                              std::string::npos;
                                   }),
                      reference.log.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                  reference.log.size(), reference.boxes.front().second)));
        }
        if (c.files.back() == update) {
            // The replace whose begin is no date closed nothing: the extract's version stays open.
            EXPECT_NE(
                reference.contents.find("Fehler beim Import bei AX_Gebaeude: DENW36ALT0000033 - 'gestern' "
                                        "ist keine gültige Datums- und Uhrzeitangabe (beginnt, Zeile "),
                std::string::npos);
            const std::string objects = Section(reference.contents, "public.ax_objects");
            EXPECT_EQ(Occurrences(objects, "(DENW36ALT0000033,"), 1u);
            const std::size_t row = objects.find("(DENW36ALT0000033,");
            EXPECT_NE(objects.find(",\"2024-10-15 hh:mm:ss\",\"1899-12-30 hh:mm:ss\",", row),
                      std::string::npos)
                << objects.substr(row, objects.find('\n', row) - row);
        }
        if (c.keyedTable.empty())
            continue;
        // The failures happened, in both runs alike.
        for (const char* expected :
             {"Objekt schon vorhanden: AX_Gebaeude: DENW36ALT0000001",
              "CRS unbekannt: (NIRGENDWO)AX_Gebaeude: ", "Fehler beim Import bei AX_Gebaeude",
              "Fehler beim Prüfen der Geometrie von Objekt mit gml_id: DENW36ALT0000030",
              "Fehler beim Import bei AX_PunktortAU: DENW36ALT0000022",
              "Fehler beim Import bei AX_PunktortAU: DENW36ALT0000038 - '2024-13-45Thh:mm:ssZ' ist keine "
              "gültige "
              "Datums- und Uhrzeitangabe (beginnt, Zeile "})
            EXPECT_NE(reference.contents.find(expected), std::string::npos) << expected;
        if (c.files.front() == brokenOff) {
            // The file is rolled back: its failures are said, nothing of it stays, its invalid geometries
            // included.
            for (const TRunResult* run : {&reference, &fast}) {
                EXPECT_EQ(Section(run->contents, "public.invalids"),
                          "== public.invalids\n  gml_id character varying\n  geo USER-DEFINED");
                EXPECT_EQ(Occurrences(run->contents, "(DENW36ALT"), 0u) << "staged or integrated rows";
            }
            continue;
        }
        EXPECT_NE(
            reference.contents.find("== public.invalids\n  gml_id character varying\n  geo USER-DEFINED\n"
                                    "(DENW36ALT0000005,"),
            std::string::npos)
            << "no invalid geometry stored";
    }
}

// The target reference system and the relations switch are those of the moment a record was handed
// over, also when they change while the record waits behind the parser or is on its way.
TEST(ImportPathSettings, RecordsKeepTheSettingsTheyWereHandedOverWith) {
    EnsureQApplication();
    struct TCase {
        const char* name;
        bool changeTarget; // otherwise the relations switch
        bool relationsBefore;
        bool inFlight; // changed while on its way, not while waiting behind the parser
    };
    const std::vector<TCase> cases = {
        {"target changed while waiting", true, true, false},
        {"relations switched off while waiting", false, true, false},
        {"relations switched on while waiting", false, false, false},
        {"relations switched on while on its way", false, false, true},
    };
    const int kHandedOverTarget = 3, kLaterTarget = 0; // 31467, 4326 in the target list
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TTestDatabase db;
        TfrmKelpora form;
        ConnectRunToTestDatabase(form, db);
        form.StartRunState();
        form.ReadRunLookups();
        form.iSRIDDB = 25833; // the fragment's system differs: the geometry is transformed into the target
        form.iPipelineDepth = 256;
        form.cboSRID->setCurrentIndex(kHandedOverTarget);
        form.oReferenzen = c.relationsBefore;
        TBoxesAfterLines dialogs(form);
        form.WriteIdRef(Oid(50), Oid(51), 45000, 1); // the relation table is there before the run

        auto record = std::make_unique<TAXObject>();
        record->SetObjektart("AX_Gebaeude");
        record->identifikator = Oid(7);
        record->dtBegin = 45000;
        record->position = "<gml:Surface srsName=\"urn:adv:crs:ETRS89_UTM32\">" +
                           Ring(Square(360000, 5610000)) + "</gml:Surface>";
        record->AddRelation("zeigtAuf", Oid(8));
        form.HandOverToWriter(std::move(record), false);
        if (c.inFlight)
            form.WriteQueuedRecords(0);
        if (c.changeTarget)
            form.cboSRID->setCurrentIndex(kLaterTarget);
        else
            form.oReferenzen = !c.relationsBefore;
        form.FlushPendingFeatures();

        const auto srid =
            db.Query("SELECT ST_SRID(geo) FROM alkistemp.ax_gebaeude WHERE gml_id = '" + Oid(7) + "'");
        ASSERT_EQ(srid.size(), 1u) << "the record was not written";
        EXPECT_EQ(srid[0][0].value_or(""), "31467");
        const auto relations =
            db.Query("SELECT count(*) FROM alkistemp.id_refs WHERE gml_id = '" + Oid(7) + "'");
        EXPECT_EQ(relations[0][0].value_or(""), c.relationsBefore ? "1" : "0");
        form.conn->Disconnect();
    }
}

} // namespace
