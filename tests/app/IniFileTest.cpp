#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

#include "FileText.h"

#include "app/IniFile.h"

TEST(IniFile, LookupsIgnoreCaseAndTrimValues) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("k.ini").toStdString();
    WriteAll(
        path,
        "; comment\n[verbindung]\nSERVER=db.example;port=5432\nUser=\nPasswort=a=b;c \n"
        "Server=second\n[Allgemein]\nSchema = ALKIS \r\nPort =\t55503 \n[Verbindung]\nDatenbank=later\n");
    const TIniFile ini(path);
    struct Case {
        const char *section, *key, *expected;
    } cases[] = {
        {"Verbindung", "Server", "db.example;port=5432"}, // the first of two equal keys
        {"VERBINDUNG", "user", ""},                       // present but empty: not the default
        {"Verbindung", "Passwort", "a=b;c"},              // everything after the first "=", trimmed
        {"allgemein", "schema", "ALKIS"},                 // blanks around "=" and a CR are no part of it
        {"Allgemein", "Port", "55503"},
        {"Verbindung", "Datenbank", "<default>"}, // only the first of two equal sections counts
        {"Transformation", "Path31468", "<default>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ini.ReadString(c.section, c.key, "<default>"), c.expected) << c.section << "/" << c.key;
    EXPECT_TRUE(ini.ValueExists("verbindung", "user"));
    EXPECT_FALSE(ini.ValueExists("Allgemein", "User"));
}

TEST(IniFile, WritingKeepsEverythingElse) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("k.ini").toStdString();
    WriteAll(path, "[Verbindung]\r\nserver=old\r\n; keep me\r\n\r\n[Transformation]\r\nPath31468=/x/y\r\n");
    TIniFile ini(path);
    ini.WriteString("Verbindung", "Server", "new");
    ini.WriteString("Verbindung", "Port", "");
    ini.WriteString("Allgemein", "Schema", "AFIS");
    ini.UpdateFile();
    EXPECT_EQ(ReadAll(path), "[Verbindung]\r\nserver=new\r\n; keep me\r\nPort=\r\n\r\n[Transformation]\r\n"
                             "Path31468=/x/y\r\n\r\n[Allgemein]\r\nSchema=AFIS\r\n");
    const TIniFile again(path);
    EXPECT_EQ(again.ReadString("Verbindung", "Port", "-"), "");
    EXPECT_EQ(again.ReadString("Allgemein", "Schema", "-"), "AFIS");
}

TEST(IniFile, MissingFileIsEmptyAndUnreadableOrUnwritableThrows) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("none.ini").toStdString();
    TIniFile ini(path);
    EXPECT_FALSE(ini.SectionExists("Verbindung"));
    EXPECT_EQ(ini.ReadString("Verbindung", "Server", "d"), "d");
    ini.WriteString("Verbindung", "Server", "s");
    ini.UpdateFile();
    EXPECT_EQ(ReadAll(path), "[Verbindung]\nServer=s\n");

    const std::string folder = dir.filePath("folder.ini").toStdString();
    std::filesystem::create_directory(folder);
    EXPECT_THROW(TIniFile{folder}, EIniFileError);
    TIniFile inFolderless(dir.filePath("no/such/dir.ini").toStdString());
    inFolderless.WriteString("a", "b", "c");
    EXPECT_THROW(inFolderless.UpdateFile(), EIniFileError);
}
