#include "WriterFixture.h"

using ConfigTables = WriterTest;

TEST_F(ConfigTables, ReferenceSystemsReadInOrderAndLookedUpIgnoringCase) {
    CreateLogs();
    db.Exec("DROP TABLE IF EXISTS crs CASCADE; CREATE TABLE crs (crs varchar, epsg integer); INSERT INTO crs "
            "VALUES ('ETRS89_UTM32', 25832), ('DE_DHDN_3GK3', 31467), "
            "('etrs89_utm32', 4326)");
    form->obCRS = std::make_unique<TStringList>();
    form->obCRS->Add("alt=1");
    form->ReadCRS();
    ASSERT_TRUE(form->obCRS);
    EXPECT_EQ(form->obCRS->Lines(),
              (std::vector<std::string>{"ETRS89_UTM32=25832", "DE_DHDN_3GK3=31467", "etrs89_utm32=4326"}));
    EXPECT_EQ(form->GetEPSG("etrs89_utm32"), 25832); // the first line of the name wins
    EXPECT_EQ(form->GetEPSG("de_dhdn_3gk3"), 31467);
    EXPECT_EQ(form->GetEPSG("alt"), -1);
    EXPECT_EQ(form->GetEPSG(""), -1);
    form->obCRS->Add("KAPUTT=abc");
    EXPECT_EQ(form->GetEPSG("kaputt"), -1);
    EXPECT_TRUE(NewLogLines().empty());

    // The information row carries the time of day at the start of its text, nothing goes to the window.
    const auto rows = db.Query("SELECT meldetyp, beschreibung FROM logs");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "0");
    const std::string text = rows[0][1].value_or("");
    const auto colon = text.find(": ");
    ASSERT_NE(colon, std::string::npos) << text;
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(text[0]))) << text;
    EXPECT_EQ(text.substr(colon + 2), "Lesen der Koordinatensystem-Tabelle");

    // Without a table of reference systems the lookup fails, reported with a bare hyphen in its row.
    form->obCRS.reset();
    EXPECT_EQ(form->GetEPSG("X"), -1);
    const auto lines = NewLogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(StartsWithTimeAnd(lines[0], "Unbekanntes Koordinatensystem: X")) << lines[0];
    EXPECT_EQ(LogRows().back(), "1|Unbekanntes Koordinatensystem: X-" + lines[1].substr(1));
}

TEST_F(ConfigTables, NullEndsTheReadKeepingTheRowsBefore) {
    CreateLogs();
    db.Exec("DROP TABLE IF EXISTS modellarten CASCADE; CREATE TABLE modellarten (modellart varchar, "
            "modellidx integer); INSERT INTO modellarten VALUES ('DLKM', 1), ('DKKM1000', 2), "
            "('Basis-DLM', NULL), ('DTK10', 4)");
    form->ReadModellarten();
    ASSERT_TRUE(form->obModellArten);
    ASSERT_EQ(form->obModellArten->size(), 2u);
    EXPECT_EQ((*form->obModellArten)[1]->modellart, "DKKM1000");
    EXPECT_EQ((*form->obModellArten)[1]->idx, 2);
    EXPECT_EQ(form->obModellArten->GetIdx("DLKM"), 1);

    const auto lines = NewLogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(StartsWithTimeAnd(lines[0], "Fehler beim Lesen der modellarten-Tabelle")) << lines[0];
    const auto rows = LogRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(rows[0].rfind("0|", 0) == 0 && rows[0].ends_with(": Lese der modellarten-Tabelle"))
        << rows[0];
    EXPECT_EQ(rows[1], "1|Fehler beim Lesen der modellarten-Tabelle - " + lines[1].substr(1));
}

TEST_F(ConfigTables, RelationTypesEmptyOrMissing) {
    CreateLogs();
    db.Exec("DROP TABLE IF EXISTS parserelations CASCADE; CREATE TABLE parserelations (typ integer, "
            "typbez varchar); INSERT INTO parserelations VALUES (3, 'istTeilVon'), (-7, "
            "'dientZurDarstellungVon')");
    form->ReadRelationsTypen();
    ASSERT_EQ(form->obRelationsTypen->size(), 2u);
    EXPECT_EQ(form->obRelationsTypen->GetTyp("dientZurDarstellungVon"), -7);
    EXPECT_EQ(form->obRelationsTypen->GetTyp("istteilvon"), -1);

    db.Exec("DELETE FROM parserelations");
    form->ReadRelationsTypen();
    ASSERT_TRUE(form->obRelationsTypen);
    EXPECT_TRUE(form->obRelationsTypen->empty());
    EXPECT_TRUE(NewLogLines().empty());

    db.Exec("DROP TABLE parserelations");
    form->ReadRelationsTypen();
    ASSERT_TRUE(form->obRelationsTypen);
    EXPECT_TRUE(form->obRelationsTypen->empty());
    const auto lines = NewLogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "\trelation \"parserelations\" does not exist");
    EXPECT_EQ(LogRows().back(),
              "1|Fehler beim Lesen der Relationstypen-Tabelle - relation \"parserelations\" does not exist");
}
