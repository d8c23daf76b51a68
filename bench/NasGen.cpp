// kelpora-nasgen: writes large synthetic NAS files for benchmarks.
//
//   kelpora-nasgen --features N --out file.xml [--small] [--nba [--new-from K]] [--entity-refs R]
//
// Without --nba: a full extract (AX_Bestandsdatenauszug, enthaelt/wfs:FeatureCollection/gml:featureMember)
// of N features that cycle through four shapes taken from real ALKIS data: parcels (AX_Flurstueck, a
// MultiSurface of curve segments with one arc per ring), buildings (AX_Gebaeude with lineage quality
// data), points with heights (AX_PunktortAU with lineage quality data) and address objects without
// geometry (AX_LagebezeichnungOhneHausnummer). Every gml:id is unique (16 characters).
// With --small: smaller features, half of them with an arc, about 2.7 KB a feature instead of 4.2 KB: the
// parcels have one surface instead of two, and special parcel boundaries (AX_BesondereFlurstuecksgrenze, a
// curve of a line segment and an arc) stand in for the buildings.
// With --nba: an update (AX_NutzerbezogeneBestandsdatenaktualisierung_NBA) whose wfs:Transaction holds N
// operations for the same N objects: a Replace (new version) for every third, a Delete for the next, and an
// Insert of a new object for the one after, so that it applies to the extract of the same N. The new objects
// are numbered from K on (default N): an update of N features for an extract of K >= N features.
// With --entity-refs R: a hostile file, for the memory bound of entity expansion. The document type declares
// one internal entity of 100 000 bytes, and the address text of the first address object references it R
// times (20 000 references: 2 GB of text from a file of some 60 KB plus 100 KB of declaration).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

long long EntityRefs = 0; // --entity-refs
bool Small = false;       // --small
bool EntityRefsWritten = false;

struct TWriter {
    std::FILE* f;
    void operator()(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
        va_list ap;
        va_start(ap, fmt);
        std::vfprintf(f, fmt, ap);
        va_end(ap);
    }
};

// A 16-character object identifier: "DENW36AL" and eight characters counting in base 62.
std::string Oid(long long n) {
    static const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::string s(8, '0');
    for (int i = 7; i >= 0; --i, n /= 62)
        s[static_cast<std::size_t>(i)] = digits[n % 62];
    return "DENW36AL" + s;
}

const char* const AdvNs =
    "xmlns:adv=\"http://www.adv-online.de/namespaces/adv/gid/7.1\" "
    "xmlns:gml=\"http://www.opengis.net/gml/3.2\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"";
const char* const Indent = "        ";

const char* TypeOf(long long i) {
    switch (i % 4) {
    case 0:
        return "AX_Flurstueck";
    case 1:
        return Small ? "AX_BesondereFlurstuecksgrenze" : "AX_Gebaeude";
    case 2:
        return "AX_PunktortAU";
    default:
        return "AX_LagebezeichnungOhneHausnummer";
    }
}

void Head(TWriter& w, const std::string& oid, const char* type, const char* idSuffix, const char* begins) {
    w("%s<adv:%s gml:id=\"%s%s\" %s>\n", Indent, type, oid.c_str(), idSuffix, AdvNs);
    w("%s  <gml:identifier codeSpace=\"http://www.adv-online.de/\">urn:adv:oid:%s</gml:identifier>\n", Indent,
      oid.c_str());
    w("%s  <adv:lebenszeitintervall>\n%s    <adv:AA_Lebenszeitintervall>\n"
      "%s      <adv:beginnt>%s</adv:beginnt>\n%s    </adv:AA_Lebenszeitintervall>\n%s  "
      "</adv:lebenszeitintervall>\n",
      Indent, Indent, Indent, begins, Indent, Indent);
    w("%s  <adv:modellart>\n%s    <adv:AA_Modellart>\n%s      "
      "<adv:advStandardModell>DLKM</adv:advStandardModell>\n"
      "%s    </adv:AA_Modellart>\n%s  </adv:modellart>\n",
      Indent, Indent, Indent, Indent, Indent);
    w("%s  <adv:anlass "
      "xlink:href=\"https://registry.gdi-de.org/codelist/de.adv-online.gid/AA_Anlassart/010704\" "
      "xlink:title=\"Qualitätssicherung und Datenpflege\"/>\n",
      Indent);
}

void Segment(TWriter& w, const std::string& oid, int& geom, const char* kind, const char* posList) {
    w("%s            <gml:curveMember>\n%s              <gml:Curve gml:id=\"%s.Geom_%d\">\n"
      "%s                <gml:segments>\n%s                  <gml:%s>\n"
      "%s                    <gml:posList>%s</gml:posList>\n%s                  </gml:%s>\n"
      "%s                </gml:segments>\n%s              </gml:Curve>\n%s            </gml:curveMember>\n",
      Indent, Indent, oid.c_str(), geom++, Indent, Indent, kind, Indent, posList, Indent, kind, Indent,
      Indent, Indent);
}

// A ring around the rectangle (x0,y0)-(x1,y1), counter-clockwise, its west side bulging out as an arc.
// The bulge stays narrower than the gap between neighbouring surfaces, so a parcel stays a valid
// multipolygon.
void Ring(TWriter& w, const std::string& oid, int& geom, double x0, double y0, double x1, double y1,
          bool arc) {
    char buf[256];
    w("%s        <gml:Ring>\n", Indent);
    std::snprintf(buf, sizeof buf, "%.3f %.3f %.3f %.3f", x0, y0, x1, y0);
    Segment(w, oid, geom, "LineStringSegment", buf);
    std::snprintf(buf, sizeof buf, "%.3f %.3f %.3f %.3f", x1, y0, x1, y1);
    Segment(w, oid, geom, "LineStringSegment", buf);
    std::snprintf(buf, sizeof buf, "%.3f %.3f %.3f %.3f", x1, y1, x0, y1);
    Segment(w, oid, geom, "LineStringSegment", buf);
    if (arc) {
        std::snprintf(buf, sizeof buf, "%.3f %.3f %.3f %.3f %.3f %.3f", x0, y1, x0 - (y1 - y0) * 0.1,
                      (y0 + y1) / 2, x0, y0);
        Segment(w, oid, geom, "Arc", buf);
    } else {
        std::snprintf(buf, sizeof buf, "%.3f %.3f %.3f %.3f", x0, y1, x0, y0);
        Segment(w, oid, geom, "LineStringSegment", buf);
    }
    w("%s        </gml:Ring>\n", Indent);
}

void SurfaceOpen(TWriter& w, const std::string& oid, int& geom, const char* srs) {
    w("%s    <gml:Surface gml:id=\"%s.Geom_%d\"%s>\n%s      <gml:patches>\n%s        <gml:PolygonPatch>\n"
      "%s          <gml:exterior>\n",
      Indent, oid.c_str(), geom++, srs, Indent, Indent, Indent);
}
void SurfaceClose(TWriter& w) {
    w("%s          </gml:exterior>\n%s        </gml:PolygonPatch>\n%s      </gml:patches>\n%s    "
      "</gml:Surface>\n",
      Indent, Indent, Indent, Indent);
}

void Lineage(TWriter& w, const char* dq, const char* description, const char* source, bool dated) {
    w("%s  <adv:qualitaetsangaben>\n%s    <adv:%s>\n%s      <adv:herkunft>\n"
      "%s        <gmd:LI_Lineage xmlns:gmd=\"http://www.isotc211.org/2005/gmd\">\n"
      "%s          <gmd:processStep>\n%s            <gmd:LI_ProcessStep>\n"
      "%s              <gmd:description>\n%s                <adv:%s>Erhebung</adv:%s>\n%s              "
      "</gmd:description>\n",
      Indent, Indent, dq, Indent, Indent, Indent, Indent, Indent, Indent, description, description, Indent);
    if (dated)
        w("%s              <gmd:dateTime>\n%s                <gco:DateTime "
          "xmlns:gco=\"http://www.isotc211.org/2005/gco\">2017-07-20T11:20:04Z</gco:DateTime>\n"
          "%s              </gmd:dateTime>\n",
          Indent, Indent, Indent);
    w("%s              <gmd:processor>\n%s                <gmd:CI_ResponsibleParty>\n"
      "%s                  <gmd:organisationName>\n%s                    <gco:CharacterString "
      "xmlns:gco=\"http://www.isotc211.org/2005/gco\">Amt für Bodenmanagement und Geoinformation "
      "Bonn</gco:CharacterString>\n"
      "%s                  </gmd:organisationName>\n%s                  <gmd:role>\n"
      "%s                    <gmd:CI_RoleCode codeList=\"http://www.isotc211.org/2005/gmd#CI_RoleCode\" "
      "codeListValue=\"processor\">processor</gmd:CI_RoleCode>\n"
      "%s                  </gmd:role>\n%s                </gmd:CI_ResponsibleParty>\n%s              "
      "</gmd:processor>\n",
      Indent, Indent, Indent, Indent, Indent, Indent, Indent, Indent, Indent, Indent);
    w("%s              <gmd:source>\n%s                <gmd:LI_Source>\n%s                  "
      "<gmd:description>\n"
      "%s                    <adv:%s>1000</adv:%s>\n%s                  </gmd:description>\n"
      "%s                </gmd:LI_Source>\n%s              </gmd:source>\n"
      "%s            </gmd:LI_ProcessStep>\n%s          </gmd:processStep>\n%s        </gmd:LI_Lineage>\n"
      "%s      </adv:herkunft>\n",
      Indent, Indent, Indent, Indent, source, source, Indent, Indent, Indent, Indent, Indent, Indent, Indent);
}

void Feature(TWriter& w, long long i, const std::string& oid, const char* idSuffix, const char* begins) {
    const char* type = TypeOf(i);
    // Objects on a grid of 50 m cells east and north of a corner in Bonn.
    const double x = 360000.0 + static_cast<double>(i % 1000) * 50.0;
    const double y = 5610000.0 + static_cast<double>((i / 1000) % 1000) * 50.0;
    int geom = 0;
    Head(w, oid, type, idSuffix, begins);
    switch (i % 4) {
    case 0: { // parcel
        w("%s  <adv:istTeilVon xlink:href=\"urn:adv:oid:DENW36ALl800005x\"/>\n", Indent);
        w("%s  <adv:position>\n%s    <gml:MultiSurface gml:id=\"%s.Geom_%d\" "
          "srsName=\"urn:adv:crs:ETRS89_UTM32\">\n",
          Indent, Indent, oid.c_str(), geom++);
        for (int part = 0; part < (Small ? 1 : 2); ++part) {
            w("%s    <gml:surfaceMember>\n", Indent);
            SurfaceOpen(w, oid, geom, "");
            Ring(w, oid, geom, x + 5 + part * 20, y + 5, x + 20 + part * 20, y + 40, true);
            SurfaceClose(w);
            w("%s    </gml:surfaceMember>\n", Indent);
        }
        w("%s    </gml:MultiSurface>\n%s  </adv:position>\n", Indent, Indent);
        w("%s  <adv:gemarkung>\n%s    <adv:AX_Gemarkung_Schluessel>\n%s      <adv:land>05</adv:land>\n"
          "%s      <adv:gemarkungsnummer>4320</adv:gemarkungsnummer>\n%s    </adv:AX_Gemarkung_Schluessel>\n"
          "%s  </adv:gemarkung>\n",
          Indent, Indent, Indent, Indent, Indent, Indent);
        w("%s  <adv:flurstuecksnummer>\n%s    <adv:AX_Flurstuecksnummer>\n%s      "
          "<adv:zaehler>%lld</adv:zaehler>\n"
          "%s    </adv:AX_Flurstuecksnummer>\n%s  </adv:flurstuecksnummer>\n",
          Indent, Indent, Indent, i / 4 + 1, Indent, Indent);
        w("%s  <adv:flurstueckskennzeichen>054320025%05lld______</adv:flurstueckskennzeichen>\n", Indent,
          (i / 4) % 100000);
        w("%s  <adv:amtlicheFlaeche uom=\"urn:adv:uom:m2\">%lld.0</adv:amtlicheFlaeche>\n", Indent,
          500 + i % 997);
        w("%s  <adv:flurnummer>25</adv:flurnummer>\n%s  "
          "<adv:zeitpunktDerEntstehung>1861-01-01</adv:zeitpunktDerEntstehung>\n",
          Indent, Indent);
        w("%s  <adv:gemeindezugehoerigkeit>\n%s    <adv:AX_Gemeindekennzeichen>\n%s      "
          "<adv:land>05</adv:land>\n"
          "%s      <adv:regierungsbezirk>3</adv:regierungsbezirk>\n%s      <adv:kreis>14</adv:kreis>\n"
          "%s      <adv:gemeinde>000</adv:gemeinde>\n%s    </adv:AX_Gemeindekennzeichen>\n"
          "%s  </adv:gemeindezugehoerigkeit>\n",
          Indent, Indent, Indent, Indent, Indent, Indent, Indent, Indent);
        w("%s  <adv:istGebucht xlink:href=\"urn:adv:oid:%s\"/>\n", Indent, Oid(i + 1).c_str());
        break;
    }
    case 1: { // building, or with --small a parcel boundary: a curve whose second segment is an arc
        if (Small) {
            w("%s  <adv:position>\n%s    <gml:Curve gml:id=\"%s.Geom_0\" "
              "srsName=\"urn:adv:crs:ETRS89_UTM32\">\n"
              "%s      <gml:segments>\n%s        <gml:LineStringSegment>\n"
              "%s          <gml:posList>%.3f %.3f %.3f %.3f</gml:posList>\n%s        "
              "</gml:LineStringSegment>\n"
              "%s        <gml:Arc>\n%s          <gml:posList>%.3f %.3f %.3f %.3f %.3f %.3f</gml:posList>\n"
              "%s        </gml:Arc>\n%s      </gml:segments>\n%s    </gml:Curve>\n%s  </adv:position>\n",
              Indent, Indent, oid.c_str(), Indent, Indent, Indent, x + 5, y + 45, x + 25, y + 45, Indent,
              Indent, Indent, x + 25, y + 45, x + 35, y + 42, x + 45, y + 45, Indent, Indent, Indent, Indent);
            w("%s  <adv:artDerFlurstuecksgrenze>3000</adv:artDerFlurstuecksgrenze>\n%s  "
              "<adv:artDerFlurstuecksgrenze>7003</adv:artDerFlurstuecksgrenze>\n",
              Indent, Indent);
            break;
        }
        w("%s  <adv:position>\n", Indent);
        SurfaceOpen(w, oid, geom, " srsName=\"urn:adv:crs:ETRS89_UTM32\"");
        Ring(w, oid, geom, x + 10, y + 10, x + 30, y + 25, false);
        SurfaceClose(w);
        w("%s  </adv:position>\n%s  <adv:gebaeudefunktion>%d</adv:gebaeudefunktion>\n", Indent, Indent,
          i % 8 == 1 ? 2000 : 1000);
        Lineage(w, "AX_DQMitDatenerhebung", "AX_LI_ProcessStep_MitDatenerhebung_Description",
                "AX_Datenerhebung", false);
        w("%s    </adv:AX_DQMitDatenerhebung>\n%s  </adv:qualitaetsangaben>\n", Indent, Indent);
        w("%s  <adv:zeigtAuf xlink:href=\"urn:adv:oid:%s\"/>\n", Indent, Oid(i - 1).c_str());
        break;
    }
    case 2: { // point with height
        w("%s  <adv:istTeilVon xlink:href=\"urn:adv:oid:DENW36AL1IC000KO\"/>\n", Indent);
        w("%s  <adv:position>\n%s    <gml:Point gml:id=\"%s.Geom_0\" srsDimension=\"3\">\n"
          "%s      <gml:pos>%.3f %.3f %.3f</gml:pos>\n%s    </gml:Point>\n%s  </adv:position>\n",
          Indent, Indent, oid.c_str(), Indent, x + 1.5, y + 2.25, 60.0 + static_cast<double>(i % 500) * 0.125,
          Indent, Indent);
        w("%s  <adv:kartendarstellung>true</adv:kartendarstellung>\n%s  "
          "<adv:koordinatenstatus>1000</adv:koordinatenstatus>\n",
          Indent, Indent);
        Lineage(w, "AX_DQPunktort", "AX_LI_ProcessStep_Punktort_Description", "AX_Datenerhebung_Punktort",
                true);
        w("%s      <adv:genauigkeitsstufe>2100</adv:genauigkeitsstufe>\n%s    </adv:AX_DQPunktort>\n"
          "%s  </adv:qualitaetsangaben>\n",
          Indent, Indent, Indent);
        break;
    }
    default: // address without geometry
        if (EntityRefs > 0 && !EntityRefsWritten) {
            EntityRefsWritten = true;
            w("%s  <adv:lagebezeichnung>\n%s    <adv:AX_Lagebezeichnung>\n%s      <adv:unverschluesselt>",
              Indent, Indent, Indent);
            for (long long r = 0; r < EntityRefs; ++r)
                w("&gross;");
            w("</adv:unverschluesselt>\n%s    </adv:AX_Lagebezeichnung>\n%s  </adv:lagebezeichnung>\n",
              Indent, Indent);
            break;
        }
        w("%s  <adv:lagebezeichnung>\n%s    <adv:AX_Lagebezeichnung>\n"
          "%s      <adv:unverschluesselt>Straße &amp; Weg %lld</adv:unverschluesselt>\n"
          "%s    </adv:AX_Lagebezeichnung>\n%s  </adv:lagebezeichnung>\n",
          Indent, Indent, Indent, i, Indent, Indent);
        break;
    }
    w("%s</adv:%s>\n", Indent, type);
}

void Header(TWriter& w, bool nba) {
    w("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- Synthetic NAS test data written by kelpora-nasgen "
      "-->\n");
    if (EntityRefs > 0)
        w("<!DOCTYPE %s [\n<!ENTITY gross \"%s\">\n]>\n",
          nba ? "AX_NutzerbezogeneBestandsdatenaktualisierung_NBA" : "AX_Bestandsdatenauszug",
          std::string(100000, 'y').c_str());
    w("<%s xmlns=\"http://www.adv-online.de/namespaces/adv/gid/6.0\" "
      "xmlns:gml=\"http://www.opengis.net/gml/3.2\" "
      "xmlns:xlink=\"http://www.w3.org/1999/xlink\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xmlns:wfs=\"http://www.adv-online.de/namespaces/adv/gid/wfs\" "
      "xmlns:wfsext=\"http://www.adv-online.de/namespaces/adv/gid/wfsext\" "
      "xmlns:ogc=\"http://www.adv-online.de/namespaces/adv/gid/ogc\" "
      "xmlns:gmd=\"http://www.isotc211.org/2005/gmd\" "
      "xmlns:gco=\"http://www.isotc211.org/2005/gco\" "
      "xsi:schemaLocation=\"http://www.adv-online.de/namespaces/adv/gid/6.0 NAS-Operationen.xsd\">\n",
      nba ? "AX_NutzerbezogeneBestandsdatenaktualisierung_NBA" : "AX_Bestandsdatenauszug");
    w("  <erlaeuterung>&lt;?xml version=\"1.0\" encoding=\"utf-8\"?&gt;&lt;Protocol "
      "xmlns=\"http://www.aed-sicad.de/namespaces/va\"&gt;&lt;auftragsid&gt;AMGR000000000001&lt;/"
      "auftragsid&gt;"
      "&lt;nasoperation&gt;%s&lt;/nasoperation&gt;&lt;status&gt;beendet&lt;/status&gt;&lt;Message&gt;"
      "&lt;MessageText&gt;Synthetische "
      "Testdaten&lt;/MessageText&gt;&lt;/Message&gt;&lt;/Protocol&gt;</erlaeuterung>\n",
      nba ? "NutzerbezogeneBestandsdatenaktualisierung_NBA" : "Bestandsdatenauszug");
    w("  <erfolgreich>true</erfolgreich>\n  <antragsnummer>Synth_000000000000_0001</antragsnummer>\n");
    w("  <allgemeineAngaben>\n    <AX_K_Benutzungsergebnis>\n%s      <empfaenger>\n        <AA_Empfaenger>\n"
      "          <direkt>true</direkt>\n        </AA_Empfaenger>\n      </empfaenger>\n"
      "    </AX_K_Benutzungsergebnis>\n  </allgemeineAngaben>\n",
      nba ? "      <folgeverarbeitung>\n        <AX_FOLGEVA />\n      </folgeverarbeitung>\n" : "");
    w("  <koordinatenangaben>\n    <AA_Koordinatenreferenzsystemangaben>\n"
      "      <crs xlink:href=\"urn:adv:crs:ETRS89_UTM32\"/>\n      "
      "<anzahlDerNachkommastellen>3</anzahlDerNachkommastellen>\n"
      "      <standard>true</standard>\n    </AA_Koordinatenreferenzsystemangaben>\n  "
      "</koordinatenangaben>\n");
}

int Usage() {
    std::fprintf(stderr, "usage: kelpora-nasgen --features N --out file.xml [--small] [--nba [--new-from K]] "
                         "[--entity-refs R]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    long long features = -1;
    const char* out = nullptr;
    bool nba = false;
    long long newFrom = -1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--features") == 0 && i + 1 < argc)
            features = std::atoll(argv[++i]);
        else if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc)
            out = argv[++i];
        else if (std::strcmp(argv[i], "--small") == 0)
            Small = true;
        else if (std::strcmp(argv[i], "--nba") == 0)
            nba = true;
        else if (std::strcmp(argv[i], "--new-from") == 0 && i + 1 < argc)
            newFrom = std::atoll(argv[++i]);
        else if (std::strcmp(argv[i], "--entity-refs") == 0 && i + 1 < argc)
            EntityRefs = std::atoll(argv[++i]);
        else
            return Usage();
    }
    if (features < 0 || out == nullptr)
        return Usage();
    if (newFrom < features)
        newFrom = features;
    std::FILE* f = std::fopen(out, "w");
    if (!f) {
        std::perror(out);
        return 1;
    }
    static char buffer[1 << 20];
    std::setvbuf(f, buffer, _IOFBF, sizeof buffer);
    TWriter w{f};
    Header(w, nba);
    const char* const oldVersion = "2024-10-15T07:55:13Z";
    if (!nba) {
        w("  <enthaelt>\n    <wfs:FeatureCollection gml:id=\"FC_Synth_0001\">\n");
        for (long long i = 0; i < features; ++i) {
            w("      <gml:featureMember>\n");
            Feature(w, i, Oid(i), "", oldVersion);
            w("      </gml:featureMember>\n");
        }
        w("    </wfs:FeatureCollection>\n  </enthaelt>\n");
    } else {
        w("  <geaenderteObjekte>\n    <wfs:Transaction version=\"1.0.0\" service=\"WFS\">\n");
        const char* const newVersion = "2024-10-16T08:00:00Z";
        for (long long i = 0; i < features; ++i) {
            const std::string oid = Oid(i);
            switch (i % 3) {
            case 0:
                w("      <wfsext:Replace vendorId=\"AdV\" safeToIgnore=\"false\">\n");
                Feature(w, i, oid, "20241016T080000Z", newVersion);
                w("        <ogc:Filter>\n          <ogc:FeatureId fid=\"%s20241015T075513Z\" />\n        "
                  "</ogc:Filter>\n"
                  "      </wfsext:Replace>\n",
                  oid.c_str());
                break;
            case 1:
                w("      <wfs:Delete typeName=\"%s\">\n        <ogc:Filter>\n"
                  "          <ogc:FeatureId fid=\"%s20241015T075513Z\" />\n        </ogc:Filter>\n      "
                  "</wfs:Delete>\n",
                  TypeOf(i), oid.c_str());
                break;
            default:
                w("      <wfs:Insert>\n");
                Feature(w, i, Oid(newFrom + i), "20241016T080000Z", newVersion);
                w("      </wfs:Insert>\n");
                break;
            }
        }
        w("    </wfs:Transaction>\n  </geaenderteObjekte>\n  "
          "<auftragsnummer>Synth_000000000000_001_0001</auftragsnummer>\n");
        w("  <portionskennung>\n    <AX_Portionskennung>\n      <profilkennung>SynthTest</profilkennung>\n"
          "      <datum>2024-10-16T08:15:00Z</datum>\n      "
          "<laufendeNummerVonGesamtzahl>1</laufendeNummerVonGesamtzahl>\n"
          "      <gesamtzahl>1</gesamtzahl>\n      <suedwestEcke>360000.000 5610000.000</suedwestEcke>\n"
          "    </AX_Portionskennung>\n  </portionskennung>\n");
    }
    w("</%s>\n", nba ? "AX_NutzerbezogeneBestandsdatenaktualisierung_NBA" : "AX_Bestandsdatenauszug");
    if (std::fclose(f) != 0) {
        std::perror(out);
        return 1;
    }
    return 0;
}
