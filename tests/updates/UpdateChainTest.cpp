// Update data as delivered, checked against a small model of what the database must hold. An extract and
// a chain of update files mixing everything real deliveries hold (an object replaced twice in one file,
// inserted and replaced, inserted and deleted, replaced and deleted, a relation to an object deleted later
// in the file, relations to an object deleted before in the file, replaces on the day their old version
// began, identifiers with and without the version's time stamp, begins given as a day alone) and what they
// should not hold (new versions whose geometry is invalid, deletes naming no object table, a replace whose
// Filter names another object) are imported in order, then every
// file again, then an old file after the newer ones: after each file public holds what the model says,
// nothing stays staged, a file imported again changes nothing, and the run log holds exactly the error
// rows the refused operations call for. On the pipelined path, one statement at a time, and with tables
// per object-type group.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "FakeDialogs.h"
#include "QtApp.h"
#include "RunOnTestDatabase.h"
#include "TestDatabase.h"
#include "app/FormKelpora.h"
#include "platform/db/ZDatabase.h"

namespace {

// ---- the operations of a delivery ----------------------------------------------------------------------

// Update: a wfs:Update that sets the end of the object's lifespan ("begin" holds that end).
enum class TKind { Insert, Replace, Delete, Update };

// The geometry of a building's new version: a valid square, or one that cannot be stored (a ring crossing
// itself, a coordinate that is no number or too large for one, an arc whose points lie on one line and
// double back).
enum class TGeo { Valid, BowTie, NaN, Huge, CollinearArc };

struct TOp {
    TKind kind;
    std::string type; // AX_Gebaeude or AX_LagebezeichnungOhneHausnummer
    std::string oid;
    std::string begin; // the new version's begin as the database writes it, "yyyy-mm-dd hh:mm:ss"
    std::vector<std::pair<std::string, std::string>> relations; // role, target object
    bool stampedId = false;      // the version named by object identifier and time stamp (32 characters)
    bool stampedTargets = false; // the references too
    TGeo geo = TGeo::Valid;
    // Travels in the same wfs:Insert, wfs:Delete or wfs:Update as the operation before it.
    bool joined = false;
    // The object a replace's Filter names, when not its own.
    std::string filterOid = {};
    // The begin (an update's end) as the file writes it, when not as a date-time in UTC: a date alone,
    // with or without an offset.
    std::string beginText = {};
};

struct TFile {
    std::string name;
    bool extract = false;
    std::vector<TOp> ops;
};

const std::string kBuilding = "AX_Gebaeude";
const std::string kAddress = "AX_LagebezeichnungOhneHausnummer";

std::string Oid(const std::string& kind, int n) {
    char id[32];
    std::snprintf(id, sizeof id, "DEUPD%s%08d", kind.c_str(), n);
    return id; // 5 + 3 + 8 = 16 characters
}

// "2025-02-01 08:00:00" as the file writes it, and as the time stamp of an identifier.
std::string IsoTime(const std::string& t) {
    return t.substr(0, 10) + "T" + t.substr(11) + "Z";
}
std::string Stamp(const std::string& t) {
    std::string s;
    for (char c : IsoTime(t))
        if (c != '-' && c != ':')
            s += c;
    return s;
}

std::string Square(int n) {
    const double x = 360000.0 + (n % 20) * 30.0, y = 5610000.0 + (n / 20) * 30.0;
    char b[256];
    std::snprintf(b, sizeof b, "%.1f %.1f %.1f %.1f %.1f %.1f %.1f %.1f %.1f %.1f", x, y, x + 10, y, x + 10,
                  y + 10, x, y + 10, x, y);
    return b;
}

std::string Ring(TGeo geo, int serial) {
    const std::string ring = "<gml:exterior><gml:LinearRing><gml:posList>";
    const std::string end = "</gml:posList></gml:LinearRing></gml:exterior>";
    switch (geo) {
    case TGeo::Valid:
        return ring + Square(serial) + end;
    case TGeo::BowTie:
        return ring + "360000 5610000 360010 5610010 360010 5610000 360000 5610010 360000 5610000" + end;
    case TGeo::NaN:
        return ring + "360000 5610000 360010 5610000 NaN 5610010 360000 5610010 360000 5610000" + end;
    case TGeo::Huge:
        return ring + "360000 5610000 360010 5610000 1e400 5610010 360000 5610010 360000 5610000" + end;
    case TGeo::CollinearArc:
        return "<gml:exterior><gml:Ring><gml:curveMember><gml:Curve><gml:segments><gml:Arc><gml:posList>"
               "360000 5610000 360010 5610000 360005 5610000</gml:posList></gml:Arc><gml:LineStringSegment>"
               "<gml:posList>360005 5610000 360010 5610010 360000 5610010 360000 5610000</gml:posList>"
               "</gml:LineStringSegment></gml:segments></gml:Curve></gml:curveMember></gml:Ring>"
               "</gml:exterior>";
    }
    return {};
}

std::string BeginText(const TOp& op) {
    return op.beginText.empty() ? IsoTime(op.begin) : op.beginText;
}

std::string FeatureText(const TOp& op, int serial) {
    const std::string id = op.stampedId ? op.oid + Stamp(op.begin) : op.oid;
    std::string f = "<" + op.type + " gml:id=\"" + id +
                    "\"><lebenszeitintervall><AA_Lebenszeitintervall><beginnt>" + BeginText(op) +
                    "</beginnt></AA_Lebenszeitintervall></lebenszeitintervall>";
    if (op.type == kBuilding)
        f += "<position><gml:Surface srsName=\"urn:adv:crs:ETRS89_UTM32\"><gml:patches><gml:PolygonPatch>" +
             Ring(op.geo, serial) +
             "</gml:PolygonPatch></gml:patches></gml:Surface></position><gebaeudefunktion>2000</"
             "gebaeudefunktion>";
    else
        f += "<lagebezeichnung><AX_Lagebezeichnung><unverschluesselt>Weg " + std::to_string(serial) +
             "</unverschluesselt></AX_Lagebezeichnung></lagebezeichnung>";
    for (const auto& [role, target] : op.relations)
        f += "<" + role + " xlink:href=\"urn:adv:oid:" + target + (op.stampedTargets ? Stamp(op.begin) : "") +
             "\"/>";
    return f + "</" + op.type + ">";
}

const char* const kNamespaces = "xmlns=\"http://www.adv-online.de/namespaces/adv/gid/6.0\" "
                                "xmlns:gml=\"http://www.opengis.net/gml/3.2\" "
                                "xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
                                "xmlns:wfs=\"http://www.adv-online.de/namespaces/adv/gid/wfs\" "
                                "xmlns:wfsext=\"http://www.adv-online.de/namespaces/adv/gid/wfsext\" "
                                "xmlns:ogc=\"http://www.adv-online.de/namespaces/adv/gid/ogc\"";

// The beginning and the end of the transaction element an operation travels in.
std::pair<std::string, std::string> TransactionElement(const TOp& op) {
    switch (op.kind) {
    case TKind::Insert:
        return {"<wfs:Insert>", "</wfs:Insert>\n"};
    case TKind::Replace:
        return {"<wfsext:Replace vendorId=\"AdV\" safeToIgnore=\"false\">", "</wfsext:Replace>\n"};
    case TKind::Delete:
        return {"<wfs:Delete typeName=\"" + op.type + "\"><ogc:Filter>", "</ogc:Filter></wfs:Delete>\n"};
    case TKind::Update:
        // With the namespace prefix real updates carry.
        return {"<wfs:Update typeName=\"adv:" + op.type +
                    "\"><wfs:Property><wfs:Name>adv:lebenszeitintervall/adv:AA_Lebenszeitintervall/adv:endet"
                    "</wfs:Name><wfs:Value>" +
                    BeginText(op) + "</wfs:Value></wfs:Property><ogc:Filter>",
                "</ogc:Filter></wfs:Update>\n"};
    }
    return {};
}

std::string FileText(const TFile& file) {
    std::string body;
    int serial = 0;
    std::string closing;
    for (const TOp& op : file.ops) {
        ++serial;
        // The filter names the stored version; only its first 16 characters, the object, count.
        const std::string featureId =
            "<ogc:FeatureId fid=\"" + (op.filterOid.empty() ? op.oid : op.filterOid) + "20240101T000000Z\"/>";
        if (file.extract) {
            body += "<gml:featureMember>" + FeatureText(op, serial) + "</gml:featureMember>\n";
            continue;
        }
        if (!op.joined || op.kind == TKind::Replace) {
            const auto [begins, ends] = TransactionElement(op);
            body += closing + begins;
            closing = ends;
        }
        if (op.kind == TKind::Insert)
            body += FeatureText(op, serial);
        else if (op.kind == TKind::Replace)
            body += FeatureText(op, serial) + "<ogc:Filter>" + featureId + "</ogc:Filter>";
        else
            body += featureId;
    }
    body += closing;
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (file.extract)
        return head + "<AX_Bestandsdatenauszug " + kNamespaces +
               "><enthaelt><wfs:FeatureCollection gml:id=\"FC\">\n" + body +
               "</wfs:FeatureCollection></enthaelt></AX_Bestandsdatenauszug>\n";
    return head + "<AX_NutzerbezogeneBestandsdatenaktualisierung_NBA " + kNamespaces +
           "><geaenderteObjekte><wfs:Transaction version=\"1.0.0\" service=\"WFS\">\n" + body +
           "</wfs:Transaction></geaenderteObjekte></AX_NutzerbezogeneBestandsdatenaktualisierung_NBA>\n";
}

// ---- the model -------------------------------------------------------------------------------------------

const std::string kOpen = "open";
const std::string kDeleted = "deleted"; // ended at the time of the import

// An error row of the run log the model expects: its beginning and its end (the identifier in between may
// carry the version's time stamp, the table name the mode's).
struct TErrorRow {
    std::string begins;
    std::string ends;
    bool Matches(const std::string& row) const {
        return row.size() >= begins.size() + ends.size() && row.starts_with(begins) && row.ends_with(ends);
    }
};

// What public must hold: every version with its end, every relation row with its end. Each operation of a
// file takes effect in file order, as if it were a file of its own; a version or relation that is there
// already is kept as it is. An operation that ends no open version ends no relation either; an operation
// whose new version cannot be stored, or whose type names no object table, changes nothing and is named in
// an error row.
struct TModel {
    std::map<std::pair<std::string, std::string>, std::string> versions; // (object, begin) -> end
    std::map<std::vector<std::string>, std::string> relations; // (holder, target, role, begin) -> end
    std::map<std::string, std::string> types;

    void Insert(const TOp& op) {
        versions.try_emplace({op.oid, op.begin}, kOpen);
        types[op.oid] = op.type;
        for (const auto& [role, target] : op.relations)
            relations.try_emplace({op.oid, target, role, op.begin}, kOpen);
    }
    // The versions of the object open and begun before `before` (all open ones when empty) end at `end`;
    // whether there were any.
    bool EndVersions(const std::string& oid, const std::string& before, const std::string& end) {
        bool any = false;
        for (auto& [key, e] : versions)
            if (key.first == oid && e == kOpen && (before.empty() || key.second < before)) {
                e = end;
                any = true;
            }
        return any;
    }
    // Applies the operation; the error rows it calls for are added to `errors`.
    void Apply(const TOp& op, std::vector<TErrorRow>& errors) {
        if (op.geo != TGeo::Valid) {
            errors.push_back({"Fehler beim Import bei " + op.type + ": " + op.oid,
                              " - ungültige Geometrie (in der Tabelle invalids)"});
            return;
        }
        if (op.kind == TKind::Replace && !op.filterOid.empty() && op.filterOid != op.oid) {
            errors.push_back({"Fehler beim Import bei " + op.type + ": " + op.oid,
                              " - Der Filter der Ersetzung nennt das Objekt " + op.filterOid +
                                  ", die neue Version gehört zum Objekt " + op.oid + "."});
            return;
        }
        if (op.type != kBuilding && op.type != kAddress) {
            errors.push_back(
                {"Fehler beim Löschen des Objektes " + op.type + ": " + op.oid + " - Keine Objekttabelle: ",
                 ""});
            return;
        }
        if (op.kind == TKind::Insert) {
            Insert(op);
        } else if (op.kind == TKind::Replace) {
            // The versions it ends, and exactly their relations.
            if (EndVersions(op.oid, op.begin, op.begin))
                for (auto& [key, end] : relations)
                    if (key[0] == op.oid && end == kOpen && key[3] < op.begin)
                        end = op.begin;
            Insert(op);
        } else if (op.kind == TKind::Delete) {
            if (EndVersions(op.oid, "", kDeleted))
                for (auto& [key, end] : relations)
                    if ((key[0] == op.oid || key[1] == op.oid) && end == kOpen)
                        end = kDeleted;
        } else if (EndVersions(op.oid, op.begin, op.begin)) {
            // An update ends the object at its end as a delete would now.
            for (auto& [key, end] : relations)
                if ((key[0] == op.oid || key[1] == op.oid) && end == kOpen && key[3] <= op.begin)
                    end = op.begin;
        }
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        for (const auto& [key, end] : versions)
            out.push_back("version " + key.first + " " + key.second + " " + end);
        for (const auto& [key, end] : relations)
            out.push_back("relation " + key[0] + ">" + key[1] + " " + key[2] + " " + key[3] + " " + end);
        std::sort(out.begin(), out.end());
        return out;
    }
    std::set<std::string> LivingBuildings() const {
        std::set<std::string> out;
        for (const auto& [key, end] : versions)
            if (end == kOpen && types.at(key.first) == kBuilding)
                out.insert(key.first);
        return out;
    }
};

// ---- the deliveries ------------------------------------------------------------------------------------

TOp Make(TKind kind, const std::string& type, const std::string& oid, const std::string& begin,
         std::vector<std::pair<std::string, std::string>> relations = {}) {
    return TOp{kind, type, oid, begin, std::move(relations)};
}

TOp WithGeometry(TOp op, TGeo geo) {
    op.geo = geo;
    return op;
}

// An extract of 12 buildings and 12 addresses, each building pointing to its address, and updates with
// every mix named above.
std::vector<TFile> HandMadeChain() {
    const auto b = [](int n) { return Oid("BLD", n); };
    const auto a = [](int n) { return Oid("ADR", n); };
    TFile extract{"extract", true, {}};
    for (int i = 1; i <= 12; ++i) {
        extract.ops.push_back(Make(TKind::Insert, kAddress, a(i), "2024-10-15 07:55:13"));
        extract.ops.push_back(
            Make(TKind::Insert, kBuilding, b(i), "2024-10-15 07:55:13", {{"zeigtAuf", a(i)}}));
    }
    TFile first{"update1", false, {}};
    const auto add = [](TFile& f, TOp op, bool stampedId = false, bool stampedTargets = false) {
        op.stampedId = stampedId;
        op.stampedTargets = stampedTargets;
        f.ops.push_back(std::move(op));
    };
    // One object replaced twice in the file, its relations changing each time.
    add(first, Make(TKind::Replace, kBuilding, b(1), "2025-02-01 08:00:00",
                    {{"zeigtAuf", a(1)}, {"zeigtAuf", a(2)}}));
    add(first, Make(TKind::Replace, kBuilding, b(1), "2025-02-01 09:00:00", {{"zeigtAuf", a(2)}}));
    // Inserted under identifier and time stamp, with a stamped reference, then replaced under its object
    // identifier.
    add(first, Make(TKind::Insert, kBuilding, b(20), "2025-02-01 08:10:00", {{"zeigtAuf", a(3)}}), true,
        true);
    add(first, Make(TKind::Replace, kBuilding, b(20), "2025-02-01 08:20:00", {{"zeigtAuf", a(4)}}));
    // Inserted and deleted.
    add(first, Make(TKind::Insert, kAddress, a(21), "2025-02-01 08:30:00"), true);
    add(first, Make(TKind::Delete, kAddress, a(21), ""));
    // Replaced and deleted.
    add(first, Make(TKind::Replace, kBuilding, b(2), "2025-02-01 08:40:00", {{"zeigtAuf", a(2)}}));
    add(first, Make(TKind::Delete, kBuilding, b(2), ""));
    // A relation of the extract and one of this file to an address deleted later in the file.
    add(first, Make(TKind::Insert, kBuilding, b(22), "2025-02-01 08:50:00", {{"zeigtAuf", a(5)}}));
    add(first, Make(TKind::Delete, kAddress, a(5), ""));
    // An address inserted with its plain identifier, referred to with a stamped one.
    add(first, Make(TKind::Insert, kAddress, a(23), "2025-02-01 09:10:00"));
    add(first, Make(TKind::Insert, kBuilding, b(23), "2025-02-01 09:20:00", {{"zeigtAuf", a(23)}}), true,
        true);
    // Replaced on the day its version began, with a relation the new version drops.
    add(first, Make(TKind::Replace, kBuilding, b(3), "2025-02-01 09:30:00",
                    {{"zeigtAuf", a(3)}, {"gehoertZu", b(4)}}));
    // Relations to an address deleted before them in the file, from a new object and from a new version:
    // importing the file again ends none of them.
    add(first, Make(TKind::Delete, kAddress, a(6), ""));
    add(first, Make(TKind::Insert, kBuilding, b(24), "2025-02-01 09:40:00", {{"zeigtAuf", a(6)}}));
    add(first, Make(TKind::Replace, kBuilding, b(6), "2025-02-01 09:45:00", {{"zeigtAuf", a(6)}}));
    // New versions that cannot be stored: each old version stays open with its relations, and a new
    // object is not stored at all.
    add(first,
        WithGeometry(Make(TKind::Replace, kBuilding, b(7), "2025-02-01 09:50:00", {{"zeigtAuf", a(8)}}),
                     TGeo::BowTie));
    add(first, WithGeometry(Make(TKind::Replace, kBuilding, b(8), "2025-02-01 09:51:00"), TGeo::NaN));
    add(first, WithGeometry(Make(TKind::Replace, kBuilding, b(9), "2025-02-01 09:52:00"), TGeo::Huge), true);
    add(first,
        WithGeometry(Make(TKind::Replace, kBuilding, b(10), "2025-02-01 09:53:00"), TGeo::CollinearArc));
    add(first,
        WithGeometry(Make(TKind::Insert, kBuilding, b(25), "2025-02-01 09:54:00", {{"zeigtAuf", a(9)}}),
                     TGeo::BowTie));
    // Deletes whose type names no object table close nothing, not even the relations to the object.
    add(first, Make(TKind::Delete, "AX_GibtEsNicht", a(7), ""));
    add(first, Make(TKind::Delete, "pg_class", b(11), ""));
    add(first, Make(TKind::Delete, "AX_Lagebezeichnung", a(10), ""));

    TFile second{"update2", false, {}};
    // The same day, later: the versions begun in the morning end, with exactly their relations.
    add(second, Make(TKind::Replace, kBuilding, b(1), "2025-02-01 15:00:00", {{"zeigtAuf", a(1)}}));
    add(second, Make(TKind::Replace, kBuilding, b(3), "2025-02-01 15:10:00", {{"zeigtAuf", a(3)}}));
    add(second, Make(TKind::Replace, kBuilding, b(20), "2025-02-01 15:20:00", {{"zeigtAuf", a(4)}}), true);
    add(second, Make(TKind::Delete, kBuilding, b(23), ""));
    // The version a refused replace left open ends with the next one.
    add(second, Make(TKind::Replace, kBuilding, b(7), "2025-02-01 15:30:00", {{"zeigtAuf", a(7)}}));

    TFile third{"update3", false, {}};
    add(third, Make(TKind::Delete, kBuilding, b(20), ""));
    add(third, Make(TKind::Replace, kAddress, a(1), "2025-02-02 10:00:00"));
    add(third, Make(TKind::Replace, kAddress, a(1), "2025-02-02 10:05:00"), true);
    add(third, Make(TKind::Delete, kAddress, a(4), ""));

    TFile fourth{"update4", false, {}};
    const auto join = [&add](TFile& f, TOp op) {
        op.joined = true;
        add(f, std::move(op));
    };
    // Several features in one Insert, several objects in one Delete and in one Update (which ends them at
    // its end), an Update of an object deleted before, and a relation to an object the Update ended.
    add(fourth, Make(TKind::Insert, kAddress, a(30), "2025-02-03 08:00:00"));
    join(fourth, Make(TKind::Insert, kBuilding, b(30), "2025-02-03 08:00:00", {{"zeigtAuf", a(30)}}));
    join(fourth, Make(TKind::Insert, kBuilding, b(31), "2025-02-03 08:00:00", {{"zeigtAuf", a(11)}}));
    add(fourth, Make(TKind::Delete, kAddress, a(11), ""));
    join(fourth, Make(TKind::Delete, kAddress, a(12), ""));
    add(fourth, Make(TKind::Update, kBuilding, b(12), "2025-02-03 12:00:00"));
    join(fourth, Make(TKind::Update, kBuilding, b(30), "2025-02-03 12:00:00"));
    join(fourth, Make(TKind::Update, kBuilding, b(2), "2025-02-03 12:00:00"));
    add(fourth, Make(TKind::Update, kAddress, a(30), "2025-02-03 12:30:00"));
    add(fourth, Make(TKind::Insert, kBuilding, b(32), "2025-02-03 13:00:00", {{"zeigtAuf", a(30)}}));

    TFile fifth{"update5", false, {}};
    const auto written = [](TOp op, const std::string& text) {
        op.beginText = text;
        return op;
    };
    // Begins and an end given as a day alone: its midnight, an offset converted to UTC.
    add(fifth, written(Make(TKind::Replace, kBuilding, b(4), "2025-02-04 00:00:00", {{"zeigtAuf", a(4)}}),
                       "2025-02-04"));
    add(fifth, written(Make(TKind::Replace, kAddress, a(3), "2025-02-04 22:00:00"), "2025-02-05+02:00"));
    add(fifth, written(Make(TKind::Insert, kBuilding, b(33), "2025-02-05 00:00:00", {{"zeigtAuf", a(3)}}),
                       "2025-02-05Z"));
    add(fifth, written(Make(TKind::Update, kAddress, a(2), "2025-02-06 00:00:00"), "2025-02-06"));
    // A replace whose Filter names another object than its new version replaces nothing: neither object
    // is closed, and the new version is not stored.
    TOp other = Make(TKind::Replace, kBuilding, b(5), "2025-02-06 08:00:00", {{"zeigtAuf", a(7)}});
    other.filterOid = b(6);
    add(fifth, other, true);
    return {extract, first, second, third, fourth, fifth};
}

// Random operations over a pool of objects, on days two files share: seeded, so every run meets the same.
// As in real deliveries, an object is replaced, deleted or referred to only while it lives: an identifier
// never comes back after its delete.
std::vector<TFile> RandomChain(unsigned seed) {
    std::mt19937 random(seed);
    const auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    std::vector<std::pair<std::string, std::string>> objects; // the living ones: oid, type
    std::vector<std::string> gone;                            // the deleted ones, still referred to
    TFile extract{"random-extract", true, {}};
    for (int i = 0; i < 20; ++i) {
        const std::string type = i % 2 ? kBuilding : kAddress;
        const std::string oid = Oid(i % 2 ? "RBL" : "RAD", i);
        objects.emplace_back(oid, type);
        TOp op = Make(TKind::Insert, type, oid, "2024-10-15 07:55:13");
        if (i > 0)
            op.relations.push_back({"zeigtAuf", objects[static_cast<std::size_t>(pick(i))].first});
        extract.ops.push_back(op);
    }
    std::vector<TFile> files{extract};
    const char* const days[] = {"2025-03-01", "2025-03-01", "2025-03-02", "2025-03-02"};
    int minute = 0;
    int newObjects = 0;
    for (int f = 0; f < 4; ++f) {
        TFile file{"random-update" + std::to_string(f + 1), false, {}};
        // Files of one day follow each other in the day.
        if (f % 2 == 0)
            minute = 0;
        for (int k = 0; k < 30; ++k) {
            char begin[32];
            ++minute;
            std::snprintf(begin, sizeof begin, "%s %02d:%02d:00", days[f], 8 + minute / 60, minute % 60);
            const int choice = pick(10);
            TOp op;
            if (choice < 3) {
                const std::string type = pick(2) ? kBuilding : kAddress;
                const std::string oid = Oid(type == kBuilding ? "RBL" : "RAD", 100 + newObjects++);
                objects.emplace_back(oid, type);
                op = Make(TKind::Insert, type, oid, begin);
                op.stampedId = pick(2) == 0;
            } else {
                const std::size_t which = static_cast<std::size_t>(pick(static_cast<int>(objects.size())));
                const auto [oid, type] = objects[which];
                const TKind kind = choice < 8 ? TKind::Replace : choice == 8 ? TKind::Delete : TKind::Update;
                op = Make(kind, type, oid, kind == TKind::Delete ? "" : begin);
                op.stampedId = op.kind == TKind::Replace && pick(3) == 0;
                if (op.kind == TKind::Delete || op.kind == TKind::Update) {
                    gone.push_back(oid);
                    objects.erase(objects.begin() + static_cast<std::ptrdiff_t>(which));
                }
            }
            // Inserts, deletes and updates of one type join the one before them now and then (updates
            // taking its end).
            const TOp* before = file.ops.empty() ? nullptr : &file.ops.back();
            if (before && before->kind == op.kind && op.kind != TKind::Replace &&
                (op.kind == TKind::Insert || before->type == op.type) && pick(2) == 0) {
                op.joined = true;
                if (op.kind == TKind::Update)
                    op.begin = before->begin;
            }
            const bool ends = op.kind == TKind::Delete || op.kind == TKind::Update;
            // Now and then a new version that cannot be stored, or a relation to a deleted object.
            if (!ends && op.type == kBuilding && pick(8) == 0)
                op.geo = static_cast<TGeo>(1 + pick(4));
            if (!ends)
                for (int r = pick(3); r > 0; --r)
                    op.relations.push_back(
                        {r == 1 ? "zeigtAuf" : "beziehtSichAuchAuf",
                         !gone.empty() && pick(4) == 0
                             ? gone[static_cast<std::size_t>(pick(static_cast<int>(gone.size())))]
                             : objects[static_cast<std::size_t>(pick(static_cast<int>(objects.size())))]
                                   .first});
            op.stampedTargets = !op.relations.empty() && pick(4) == 0;
            file.ops.push_back(op);
        }
        files.push_back(file);
    }
    return files;
}

// ---- the database --------------------------------------------------------------------------------------

// What public holds, in the model's terms: an end at or after `importsBegan` is that of a delete.
std::vector<std::string> Holds(TTestDatabase& db, const std::string& importsBegan) {
    std::vector<std::string> out;
    const auto end = [&importsBegan](const std::optional<std::string>& e) {
        if (!e || *e == "1899-12-30 00:00:00")
            return kOpen;
        return *e >= importsBegan ? kDeleted : *e;
    };
    for (const auto& row : db.Query("SELECT gml_id, beginn::text, ende::text FROM public.ax_objects"))
        out.push_back("version " + *row[0] + " " + *row[1] + " " + end(row[2]));
    for (const auto& row :
         db.Query("SELECT r.gml_id, r.id_ref, coalesce(p.typbez, r.typ::text), r.beginn::text, "
                  "r.ende::text FROM public.id_refs r LEFT JOIN (SELECT DISTINCT ON (typ) typ, "
                  "typbez FROM parserelations ORDER BY typ, typbez) p ON p.typ = r.typ"))
        out.push_back("relation " + *row[0] + ">" + *row[1] + " " + *row[2] + " " + *row[3] + " " +
                      end(row[4]));
    std::sort(out.begin(), out.end());
    return out;
}

// Everything exactly, the times of deletes included, sorted.
std::vector<std::string> Exactly(TTestDatabase& db) {
    std::vector<std::string> out;
    for (const char* sql :
         {"SELECT concat_ws('|', tablename, gml_id, beginn, ende, modellart) FROM public.ax_objects",
          "SELECT concat_ws('|', gml_id, id_ref, typ, beginn, ende) FROM public.id_refs",
          "SELECT 'staged ' || count(*) FROM alkistemp.ax_objects"})
        for (const auto& row : db.Query(sql))
            out.push_back(row[0].value_or("<null>"));
    std::sort(out.begin(), out.end());
    return out;
}

// The error rows of the run log that the model does not expect, and those it expects that are missing.
std::string ErrorRowsDiffer(TTestDatabase& db, std::vector<TErrorRow> expected) {
    std::string out;
    for (const auto& row : db.Query("SELECT beschreibung FROM logs WHERE meldetyp = 1 ORDER BY ctid")) {
        const std::string text = row[0].value_or("<null>");
        const auto it = std::find_if(expected.begin(), expected.end(),
                                     [&text](const TErrorRow& e) { return e.Matches(text); });
        if (it == expected.end())
            out += "  unexpected: " + text + "\n";
        else
            expected.erase(it);
    }
    for (const TErrorRow& e : expected)
        out += "  missing:    " + e.begins + " ..." + e.ends + "\n";
    return out;
}

// The lines only one side has, for a readable failure.
std::string Difference(const std::vector<std::string>& database, const std::vector<std::string>& model) {
    std::string out;
    for (const std::string& line : database)
        if (!std::binary_search(model.begin(), model.end(), line))
            out += "  database only: " + line + "\n";
    for (const std::string& line : model)
        if (!std::binary_search(database.begin(), database.end(), line))
            out += "  model only:    " + line + "\n";
    return out;
}

struct TMode {
    const char* name;
    bool oneStatementAtATime;
    bool groups;
};

void RunChain(const TMode& mode, const std::vector<TFile>& files) {
    SCOPED_TRACE(mode.name);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::vector<std::string> paths;
    for (const TFile& file : files) {
        paths.push_back(dir.filePath(QString::fromStdString(file.name + ".xml")).toStdString());
        std::ofstream(paths.back(), std::ios::binary) << FileText(file);
    }
    TTestDatabase db;
    TfrmKelpora form;
    TFakeDialogs dialogs;
    ConnectRunToTestDatabase(form, db);
    form.oNachFolien = mode.groups;
    form.StartRunState();
    form.ReadRunLookups();
    form.oOneStatementAtATime = mode.oneStatementAtATime;
    const std::string importsBegan = db.Scalar("SELECT date_trunc('second', now() AT TIME ZONE 'UTC')::text");

    TModel model;
    std::vector<std::vector<TErrorRow>> fileErrors(files.size());
    std::vector<TErrorRow> expectedErrors;
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].name);
        form.LoadDoc(paths[i]);
        for (const TOp& op : files[i].ops)
            model.Apply(op, fileErrors[i]);
        expectedErrors.insert(expectedErrors.end(), fileErrors[i].begin(), fileErrors[i].end());
        EXPECT_EQ(ErrorRowsDiffer(db, expectedErrors), "");
        EXPECT_EQ(Difference(Holds(db, importsBegan), model.Lines()), "");
        EXPECT_EQ(db.Scalar("SELECT (SELECT count(*) FROM alkistemp.ax_objects) + (SELECT count(*) FROM "
                            "alkistemp.id_refs)"),
                  "0")
            << "left staged";
    }
    // The derived buildings are the living ones.
    db.Exec("SELECT alkis_nachbearbeitung()");
    std::set<std::string> derived;
    for (const auto& row : db.Query("SELECT gml_id FROM alkis_gebaeude"))
        derived.insert(*row[0]);
    EXPECT_EQ(derived, model.LivingBuildings());

    const std::vector<std::string> once = Exactly(db);
    // Each import of a file says again what it refused.
    for (std::size_t i = 0; i < files.size(); ++i) {
        form.LoadDoc(paths[i]);
        EXPECT_EQ(Difference(Exactly(db), once), "") << files[i].name << " imported again";
        expectedErrors.insert(expectedErrors.end(), fileErrors[i].begin(), fileErrors[i].end());
    }
    form.LoadDoc(paths[1]);
    EXPECT_EQ(Difference(Exactly(db), once), "") << files[1].name << " imported after the newer files";
    expectedErrors.insert(expectedErrors.end(), fileErrors[1].begin(), fileErrors[1].end());
    EXPECT_EQ(ErrorRowsDiffer(db, expectedErrors), "");
    EXPECT_TRUE(dialogs.messages.empty());
    form.conn->Disconnect();
}

const TMode kModes[] = {
    {"with features in flight", false, false},
    {"one statement at a time", true, false},
    {"tables per object-type group", false, true},
};

TEST(UpdateChain, HandMadeMixesHoldWhatTheModelHolds) {
    EnsureQApplication();
    const std::vector<TFile> chain = HandMadeChain();
    for (const TMode& mode : kModes)
        RunChain(mode, chain);
}

TEST(UpdateChain, RandomMixesHoldWhatTheModelHolds) {
    EnsureQApplication();
    for (unsigned seed : {7u, 2024u}) {
        SCOPED_TRACE(seed);
        const std::vector<TFile> chain = RandomChain(seed);
        for (const TMode& mode : kModes)
            RunChain(mode, chain);
    }
}

// Two chains over objects of their own, their files imported at the same time by two imports into one
// database (two processes of the import benchmark): each file waits for the other import's file being
// written, so whatever their order public holds what the two models hold together, and nothing stays
// staged (the two share the staging tables).
TEST(UpdateChain, TwoChainsImportedTogetherHoldWhatBothModelsHold) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TTestDatabase db;
    const std::string importsBegan = db.Scalar("SELECT date_trunc('second', localtimestamp)::text");
    TModel model;
    std::vector<TErrorRow> expectedErrors;
    std::vector<std::string> arguments;
    for (const std::vector<TFile>& chain : {HandMadeChain(), RandomChain(7)}) {
        std::string args = "--db '" + db.ConnInfo() + "'";
        for (const TFile& file : chain) {
            const std::string path = dir.filePath(QString::fromStdString(file.name + ".xml")).toStdString();
            std::ofstream(path, std::ios::binary) << FileText(file);
            args += " " + path;
            for (const TOp& op : file.ops)
                model.Apply(op, expectedErrors);
        }
        arguments.push_back(args);
    }
    TBenchProcess first(arguments[0]), second(arguments[1]);
    const std::string firstOut = first.Finish(), secondOut = second.Finish();
    EXPECT_EQ(first.status, 0) << firstOut;
    EXPECT_EQ(second.status, 0) << secondOut;
    EXPECT_EQ(Difference(Holds(db, importsBegan), model.Lines()), "");
    EXPECT_EQ(ErrorRowsDiffer(db, expectedErrors), "");
    EXPECT_EQ(db.Scalar("SELECT (SELECT count(*) FROM alkistemp.ax_objects) + (SELECT count(*) FROM "
                        "alkistemp.id_refs)"),
              "0")
        << "left staged";
}

} // namespace
