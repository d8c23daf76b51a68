#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "SchemaFixture.h"
#include "TestDatabase.h"

TEST(Configuration, ModelTypesHoldTheTwentyMaskPositionsInAdvOrder) {
    TTestDatabase db;
    EXPECT_EQ(
        db.Scalar("SELECT string_agg(modellart, ' ' ORDER BY modellidx) FROM modellarten"),
        "DLKM DKKM500 DKKM1000 DKKM2000 DKKM5000 Basis-DLM DLM50 DLM250 DLM1000 DTK10 DTK25 DTK50 DTK100 "
        "DTK250 DTK1000 DFGM DGM2 DGM5 DGM25 DGM50");
    EXPECT_EQ(db.Scalar("SELECT count(*) = 20 AND count(DISTINCT modellidx) = 20 AND min(modellidx) = 1 AND "
                        "max(modellidx) = 20 FROM modellarten"),
              "t");
}

TEST(Configuration, ReferenceSystemNamesMapToKnownCodes) {
    TTestDatabase db;
    struct Case {
        const char* name;
        int epsg;
    };
    const std::vector<Case> cases = {
        {"ETRS89_UTM32", 25832},
        {"ETRS89_UTM33", 25833},
        {"DE_DHDN_3GK2", 31466},
        {"DE_DHDN_3GK3", 31467},
        {"DE_DHDN_3GK4", 31468},
        {"DE_DHDN_3GK5", 31469},
        {"DE_42/83_3GK3", 2397},
        {"DE_42/83_3GK4", 2398},
        {"DE_42/83_3GK5", 2399},
        {"DE_RD/83_3GK4", 3398},
        {"DE_RD/83_3GK5", 3399},
        {"DE_PD/83_3GK4", 3397},
        {"ETRS89_Lat-Lon", 4258},
        {"DE_DHDN_Lat-Lon", 4314},
        {"ETRS89_UTM32*DE_DHHN2016_NH", 25832},
        {"ETRS89_UTM33*DE_DHHN92_NH", 25833},
    };
    for (const Case& c : cases)
        EXPECT_EQ(db.Scalar(std::string("SELECT epsg FROM crs WHERE crs = '") + c.name + "'"),
                  std::to_string(c.epsg))
            << c.name;
    // Every code must be usable in ST_GeometryFromText and ST_Transform.
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM crs WHERE epsg NOT IN (SELECT srid FROM spatial_ref_sys)"),
              "0");
    // The real files name their system like this (after "urn:adv:crs:").
    EXPECT_EQ(db.Scalar("SELECT epsg FROM crs WHERE lower(crs) = lower('etrs89_utm32')"), "25832");
}

TEST(Configuration, ZonePrefixedUtmCodesShiftTheEastingByTheZone) {
    TTestDatabase db;
    struct Case {
        const char* from;
        int to;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"ST_GeomFromText('POINT(500000 5900000)', 25832)", 35832, "POINT(32500000 5900000)"},
        {"ST_GeomFromText('POINT(400000 5900000)', 25833)", 35833, "POINT(33400000 5900000)"},
        {"ST_GeomFromText('POINT(400000 5800000)', 25833)", 325833, "POINT(33400000 5800000)"},
        {"ST_GeomFromText('POINT(33400000 5800000)', 325833)", 25833, "POINT(400000 5800000)"},
        // Zone 33 prefixed coordinates of a point in zone 32 terms: a real datum-free projection change.
        {"ST_GeomFromText('POINT(32500000 5900000)', 35832)", 4258, "POINT(9 53.2)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(db.Scalar(std::string("SELECT ST_AsText(ST_SnapToGrid(ST_Transform(") + c.from + ", " +
                            std::to_string(c.to) + "), 0.1))"),
                  c.expected)
            << c.from << " -> " << c.to;
}

TEST(Configuration, RelationTypesCoverTheRelationsOfTheRealData) {
    TTestDatabase db;
    // Every xlink:href property of the Bonn features that points at another object (urn:adv:oid:).
    for (const char* name :
         {"istGebucht", "zeigtAuf", "hat", "gehoertZu", "istTeilVon", "istBestandteilVon", "weistAuf",
          "beziehtSichAuf", "gehoertAnteiligZu", "an", "durch", "dientZurDarstellungVon", "benennt"})
        EXPECT_EQ(db.Scalar(std::string("SELECT count(*) FROM parserelations WHERE typbez = '") + name + "'"),
                  "1")
            << name;
    // Code-list references are no relations: they would become id_refs rows pointing at URLs.
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM parserelations WHERE typbez IN ('anlass', 'sonstigesModell')"),
              "0");
    EXPECT_EQ(db.Scalar("SELECT typ FROM parserelations WHERE typbez = 'istGebucht'"), "1");
}

TEST(Configuration, RelationTypesHoldEveryRoleOfTheCatalogueOnceWithStableNumbers) {
    TTestDatabase db;
    // The first thirty keep their numbers: derived tables and user queries select by them.
    EXPECT_EQ(db.Scalar("SELECT string_agg(typ || ':' || typbez, ' ' ORDER BY typ) FROM parserelations "
                        "WHERE typ IN (1, 8, 26, 30)"),
              "1:istGebucht 8:beziehtSichAuf 26:beziehtSichAuch 30:hatDirektUnten");
    EXPECT_EQ(
        db.Scalar("SELECT count(*) || '/' || count(DISTINCT typ) || '/' || count(DISTINCT typbez) || '/' "
                  "|| min(typ) || '/' || max(typ) FROM parserelations"),
        "72/72/72/1/72");
    EXPECT_EQ(db.Scalar("SELECT typ FROM parserelations WHERE typbez = 'beziehtSichAuchAuf'"), "31");
    // Every role name that real and generated data carry as an object reference, and the catalogue's.
    const std::vector<std::string> roles = {"an",
                                            "beziehtSichAuchAuf",
                                            "bearbeitbarDurch",
                                            "bearbeitungsstatus",
                                            "beschreibt",
                                            "besitzt",
                                            "bestehtAus",
                                            "bestehtAusRechtsverhaeltnissenZu",
                                            "beziehtSichAuf",
                                            "beziehtSichAufFlurstueck",
                                            "beziehtSichAufSFP",
                                            "benennt",
                                            "detailliert",
                                            "dientZurDarstellungVon",
                                            "durch",
                                            "enthaelt",
                                            "gebiet",
                                            "gehoert",
                                            "gehoertAnteiligZu",
                                            "gehoertZu",
                                            "gehoertZuBauwerk",
                                            "gehoertZuLFP",
                                            "generalisiert",
                                            "grundstueckBestehtAus",
                                            "haengtAn",
                                            "haengtZusammenMit",
                                            "hat",
                                            "hatAuch",
                                            "hatDirektUnten",
                                            "hatIdentitaet",
                                            "hatVorgaenger",
                                            "ist",
                                            "istAbgeleitetAus",
                                            "istBestandteilVon",
                                            "istExzentrumZu",
                                            "istGebucht",
                                            "istIdentischMitAP",
                                            "istIdentischMitGrenzpunkt",
                                            "istIdentischMitHFP",
                                            "istIdentischMitLFP",
                                            "istIdentischMitRSP",
                                            "istIdentischMitSFP",
                                            "istIdentischMitSP",
                                            "istIdentischMitSVP",
                                            "istTeilVon",
                                            "istZentrumZu",
                                            "status",
                                            "synchronisiertMit",
                                            "traegtBeiZu",
                                            "uebtAus",
                                            "unterschiedlicherBezugspunktMitAP",
                                            "unterschiedlicherBezugspunktMitGrenzpunkt",
                                            "unterschiedlicherBezugspunktMitHFP",
                                            "unterschiedlicherBezugspunktMitLFP",
                                            "unterschiedlicherBezugspunktMitRSP",
                                            "unterschiedlicherBezugspunktMitSFP",
                                            "unterschiedlicherBezugspunktMitSP",
                                            "unterschiedlicherBezugspunktMitSVP",
                                            "verbundenMit",
                                            "vertritt",
                                            "verweistAuf",
                                            "vonAktivitaet",
                                            "vonAntrag",
                                            "vonVorgang",
                                            "weistAuf",
                                            "weistZum",
                                            "wer",
                                            "wirdVertretenVon",
                                            "wirdVerwaltetVon",
                                            "zeigtAuf",
                                            "zu"};
    std::string list;
    for (const std::string& r : roles)
        list += (list.empty() ? "'" : ", '") + r + "'";
    EXPECT_EQ(db.Scalar("SELECT string_agg(n, ' ') FROM unnest(ARRAY[" + list +
                        "]) AS n WHERE n NOT IN (SELECT typbez FROM parserelations)"),
              "<null>");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM parserelations WHERE typbez IN (" + list + ")"),
              std::to_string(roles.size()));
}
