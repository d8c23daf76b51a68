#include <gtest/gtest.h>
#include <string>

#include "SchemaFixture.h"
#include "TestDatabase.h"

namespace {
// Staged rows go through temp2alkis() as after a real import; absent values as the writer binds
// them (text '', integer -99).
std::string Stage(const std::string& type, const std::string& gmlId, const std::string& columns,
                  const std::string& values, const std::string& beginn = "2024-10-15 07:55:13",
                  const std::string& ende = "1899-12-30") {
    return "INSERT INTO alkistemp." + Lower(type) + " (gml_id, tablename, beginn, ende, modellart" +
           (columns.empty() ? "" : ", " + columns) + ") VALUES ('" + gmlId + "', '" + Lower(type) + "', '" +
           beginn + "', '" + ende + "', '10000000000000000000'" + (values.empty() ? "" : ", " + values) +
           ");";
}

std::string Relation(const std::string& from, const std::string& to, const std::string& name) {
    return "INSERT INTO alkistemp.id_refs (gml_id, id_ref, typ, beginn) SELECT '" + from + "', '" + to +
           "', typ, '2024-10-15' FROM parserelations WHERE typbez = '" + name + "';";
}

const char* const kParcelColumns =
    "geo, gemarkung_land, gemarkung_gemarkungsnummer, flurnummer, "
    "flurstuecksnummer_zaehler, flurstuecksnummer_nenner, flurstueckskennzeichen, "
    "amtlicheflaeche";

void StageParcels(TTestDatabase& db) {
    CreateObjectTables(db, "AX_Flurstueck");
    CreateObjectTables(db, "AX_Gemarkung");
    db.Exec(
        Stage("AX_Flurstueck", "DENW36AL10000Ehc", kParcelColumns,
              "ST_GeometryFromText('POLYGON((0 0,10 0,10 10,0 10,0 0))', 25832), '05', '4320', 25, 8, '', "
              "'05432002500008______', 110397.0") +
        // Its former version, closed when the current one began.
        Stage("AX_Flurstueck", "DENW36AL10000Ehc", kParcelColumns,
              "NULL, '05', '4320', 25, 7, '', '05432002500007______', 1.0", "2020-01-01",
              "2024-10-15 07:55:13") +
        // A parcel that has ended (merged away) has no current version.
        Stage("AX_Flurstueck", "DENW36AL10000Del", kParcelColumns,
              "NULL, '05', '4320', 25, 9, '', '05432002500009______', 5.0", "2020-01-01",
              "2024-10-15 07:55:13") +
        // No Flurstueckskennzeichen delivered, no Flur (-99): put together from its parts.
        Stage("AX_Flurstueck", "DENW36AL10000Eh2", kParcelColumns,
              "NULL, '05', '4320', -99, 12, '3', '', 12.5") +
        Stage("AX_Gemarkung", "DENW36AL0000Gmk1", "schluessel_land, schluessel_gemarkungsnummer, bezeichnung",
              "'05', '4320', 'Duisdorf'"));
}
} // namespace

TEST(AlkisNachbearbeitung, DerivesCurrentParcelsWithKennzeichenGemarkungAndArea) {
    TTestDatabase db;
    StageParcels(db);
    db.Exec("SELECT temp2alkis()");

    db.Exec("SELECT alkis_nachbearbeitung()");
    EXPECT_EQ(
        db.Scalar("SELECT string_agg(concat_ws('|', gml_id, flurstueckskennzeichen, gemarkung, flurnummer, "
                  "zaehler, nenner, amtliche_flaeche, geometrie_flaeche), ' ' ORDER BY gml_id) FROM "
                  "alkis_flurstuecke"),
        "DENW36AL10000Eh2|054320000000120003__|Duisdorf|12|3|12.5 "
        "DENW36AL10000Ehc|05432002500008______|Duisdorf|25|8|110397|100");
}

TEST(AlkisNachbearbeitung, FindsParcelsInTablesPerObjectTypeGroup) {
    TTestDatabase db;
    db.Exec(ObjectTableSql(db, "11", true).publicTwin);
    db.Exec(
        "INSERT INTO og_11 (gml_id, beginn, ende, oa, gemarkung_land, gemarkung_gemarkungsnummer, "
        "flurnummer, "
        "flurstuecksnummer_zaehler, flurstueckskennzeichen) VALUES "
        "('DENW36AL10000Ehc', '2024-10-15', '1899-12-30', 'AX_Flurstueck', '05', '4320', 25, 8, ''),"
        "('DENW36AL0000Grz1', '2024-10-15', '1899-12-30', 'AX_BesondereFlurstuecksgrenze', NULL, NULL, -99, "
        "-99, '')");

    db.Exec("SELECT alkis_nachbearbeitung()");
    EXPECT_EQ(
        db.Scalar("SELECT string_agg(gml_id || '|' || flurstueckskennzeichen, ' ') FROM alkis_flurstuecke"),
        "DENW36AL10000Ehc|05432002500008______");
}

TEST(AlkisNachbearbeitung, DerivesBuildingsWithFunctionAndAddresses) {
    TTestDatabase db;
    CreateObjectTables(db, "AX_Gebaeude");
    CreateObjectTables(db, "AX_LagebezeichnungMitHausnummer");
    CreateObjectTables(db, "AX_LagebezeichnungKatalogeintrag");
    CreateStagingIdRefs(db);
    const std::string address =
        "lagebezeichnung_unverschluesselt, lagebezeichnung_verschluesselt_land, "
        "lagebezeichnung_verschluesselt_regierungsbezirk, lagebezeichnung_verschluesselt_kreis, "
        "lagebezeichnung_verschluesselt_gemeinde, lagebezeichnung_verschluesselt_lage, hausnummer";
    db.Exec(Stage("AX_Gebaeude", "DENW36AL10000Egu", "gebaeudefunktion, geo",
                  "'2500', ST_GeometryFromText('POINT(1 1)', 25832)") +
            Stage("AX_Gebaeude", "DENW36ALTEST0001", "gebaeudefunktion", "'1000'") +
            Stage("AX_LagebezeichnungMitHausnummer", "DENW36AL0000Lmh1", address,
                  "'', '05', '3', '14', '000', '01234', '12'") +
            Stage("AX_LagebezeichnungMitHausnummer", "DENW36AL0000Lmh2", address,
                  "'Am Hof', '', '', '', '', '', '3a'") +
            Stage("AX_LagebezeichnungKatalogeintrag", "DENW36AL0000Kat1",
                  "schluessel_land, schluessel_regierungsbezirk, schluessel_kreis, schluessel_gemeinde, "
                  "schluessel_lage, bezeichnung",
                  "'05', '3', '14', '000', '01234', 'Hauptstraße'") +
            Relation("DENW36AL10000Egu", "DENW36AL0000Lmh1", "zeigtAuf") +
            Relation("DENW36AL10000Egu", "DENW36AL0000Lmh2", "zeigtAuf") +
            Relation("DENW36ALTEST0001", "DENW36AL0000Lmh2", "zeigtAuf"));
    db.Exec("SELECT temp2alkis()");
    // The second building's address relation has ended.
    db.Exec("UPDATE id_refs SET ende = '2024-10-16 08:00:00' WHERE gml_id = 'DENW36ALTEST0001'");

    db.Exec("SELECT alkis_nachbearbeitung()");
    EXPECT_EQ(
        db.Scalar("SELECT string_agg(concat_ws('|', gml_id, gebaeudefunktion, adresse, ST_AsText(geo)), ' ' "
                  "ORDER BY gml_id) FROM alkis_gebaeude"),
        "DENW36AL10000Egu|2500|Am Hof 3a; Hauptstraße 12|POINT(1 1) DENW36ALTEST0001|1000");
}

TEST(AlbNachbearbeitung, FollowsBookingSheetNameNumberAndPerson) {
    TTestDatabase db;
    StageParcels(db);
    for (const char* type :
         {"AX_Buchungsstelle", "AX_Buchungsblatt", "AX_Namensnummer", "AX_Person", "AX_Anschrift"})
        CreateObjectTables(db, type);
    CreateStagingIdRefs(db);
    db.Exec(Stage("AX_Buchungsstelle", "BS1", "laufendenummer, buchungsart", "'0001', '1100'") +
            Stage("AX_Buchungsstelle", "BS2", "laufendenummer, buchungsart", "'0002', '1301'") +
            Stage("AX_Buchungsblatt", "BB1", "buchungsblattkennzeichen", "'0543200001234'") +
            Stage("AX_Buchungsblatt", "BB2", "buchungsblattkennzeichen", "'0543200005678'") +
            Stage("AX_Namensnummer", "NN1", "laufendenummernachdin1421, anteil_zaehler, anteil_nenner",
                  "'0001.01', 1, 2") +
            Stage("AX_Namensnummer", "NN2", "laufendenummernachdin1421, anteil_zaehler, anteil_nenner",
                  "'0001.02', 1, 2") +
            Stage("AX_Namensnummer", "NN3", "laufendenummernachdin1421, anteil_zaehler, anteil_nenner",
                  "'0001', NULL, NULL") +
            Stage("AX_Person", "PE1", "nachnameoderfirma, vorname", "'Müller', 'Anna'") +
            Stage("AX_Person", "PE2", "nachnameoderfirma, vorname", "'Müller', 'Bernd'") +
            Stage("AX_Person", "PE3", "nachnameoderfirma, vorname", "'Stadt Bonn', ''") +
            Stage("AX_Anschrift", "AN1", "strasse, hausnummer, postleitzahlpostzustellung, ort_post",
                  "'Am Hof', '3a', '53111', 'Bonn'") +
            Relation("DENW36AL10000Ehc", "BS1", "istGebucht") + Relation("BS1", "BB1", "istBestandteilVon") +
            Relation("NN1", "BB1", "istBestandteilVon") + Relation("NN2", "BB1", "istBestandteilVon") +
            Relation("NN1", "PE1", "benennt") + Relation("NN2", "PE2", "benennt") +
            Relation("PE1", "AN1", "hat") +
            // A right on the parcel's booking held in another sheet.
            Relation("BS2", "BS1", "an") + Relation("BS2", "BB2", "istBestandteilVon") +
            Relation("NN3", "BB2", "istBestandteilVon") + Relation("NN3", "PE3", "benennt"));
    db.Exec("SELECT temp2alkis()");

    EXPECT_EQ(db.Scalar("SELECT alb_nachbearbeitung()"), "4");
    EXPECT_EQ(
        db.Scalar(
            "SELECT string_agg(concat_ws('|', flurstueckskennzeichen, buchungsstelle_gml_id, "
            "buchungsart, buchungsblattkennzeichen, namensnummer, anteil, nachname_oder_firma, vorname, "
            "anschrift), E'\\n' ORDER BY flurstueckskennzeichen, buchungsblattkennzeichen, namensnummer) "
            "FROM alb_flurstuecke"),
        "054320000000120003__\n"
        "05432002500008______|BS1|1100|0543200001234|0001.01|1/2|Müller|Anna|Am Hof 3a, 53111 Bonn\n"
        "05432002500008______|BS1|1100|0543200001234|0001.02|1/2|Müller|Bernd\n"
        "05432002500008______|BS2|1301|0543200005678|0001|Stadt Bonn");
}

TEST(Nachbearbeitung, WorksOnWhatWasImportedWithoutSourceTables) {
    TTestDatabase db;
    EXPECT_EQ(db.Scalar("SELECT alkis_nachbearbeitung()"), "0");
    EXPECT_EQ(db.Scalar("SELECT alb_nachbearbeitung()"), "0");
    EXPECT_EQ(db.Scalar("SELECT intoHoehenfestpunkte()"), "0");
    for (const char* table : {"alkis_flurstuecke", "alkis_gebaeude", "alb_flurstuecke", "hoehenfestpunkte"})
        EXPECT_EQ(db.Scalar(std::string("SELECT count(*) FROM ") + table), "0") << table;

    // Parcels alone: the ALB view lists them without owners; a second run rebuilds the tables.
    StageParcels(db);
    db.Exec("SELECT temp2alkis()");
    EXPECT_EQ(db.Scalar("SELECT alb_nachbearbeitung()"), "2");
    EXPECT_EQ(db.Scalar("SELECT alb_nachbearbeitung()"), "2");
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM alb_flurstuecke WHERE person_gml_id IS NULL"), "2");
}

TEST(IntoHoehenfestpunkte, CollectsNumberHeightsAndPositionOfHeightControlPoints) {
    TTestDatabase db;
    for (const char* type : {"AX_Hoehenfestpunkt", "AX_PunktortAU", "AX_PunktortAG"})
        CreateObjectTables(db, type);
    CreateStagingIdRefs(db);
    const std::string heights = "hoehe_5783, de_dhhn92_nh, hoehe_7837, de_dhhn2016_nh, etrs89_h";
    db.Exec(Stage("AX_Hoehenfestpunkt", "DENW36AL0000HFP1", "punktkennung", "'510800100'") +
            Stage("AX_Hoehenfestpunkt", "DENW36AL0000HFP2", "punktkennung, " + heights,
                  "'510800200', '', '', '', '', '45,1 56,2 12,3'") +
            // A height point: the writer turned its geometry into the height columns.
            Stage("AX_PunktortAU", "DENW36AL0000PAU1", heights, "'123,456', '123,456', '', '', ''") +
            Stage("AX_PunktortAG", "DENW36AL0000PAG1", "geo",
                  "ST_GeometryFromText('POINT(369818.203 5614520.625)', 25832)") +
            Relation("DENW36AL0000PAU1", "DENW36AL0000HFP1", "istTeilVon") +
            Relation("DENW36AL0000PAG1", "DENW36AL0000HFP1", "istTeilVon"));
    db.Exec("SELECT temp2alkis()");

    EXPECT_EQ(db.Scalar("SELECT intoHoehenfestpunkte()"), "2");
    EXPECT_EQ(
        db.Scalar("SELECT string_agg(concat_ws('|', gml_id, punktkennung, hoehe_dhhn92, hoehe_dhhn2016, "
                  "hoehe_etrs89, ST_AsText(geo)), ' ' ORDER BY gml_id) FROM hoehenfestpunkte"),
        "DENW36AL0000HFP1|510800100|123.456|POINT(369818.203 5614520.625) DENW36AL0000HFP2|510800200|12.3");
}
