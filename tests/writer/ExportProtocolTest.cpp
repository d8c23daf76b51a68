// Export protocol: counts read from the protocol text, rows in "statistics", progress of the file.
#include "WriterFixture.h"

namespace {

struct TProtocolCase {
    const char* name;
    std::string xml;
    std::vector<std::string> lines; // obStatistics afterwards
};

std::string Statistik(const std::string& entries) {
    return "<Protocol><statistik>" + entries + "</statistik></Protocol>";
}
std::string Messages(const std::string& texts) {
    return "<Protocol><Message>" + texts + "</Message></Protocol>";
}
std::string MessageText(const std::string& t) {
    return "<MessageText>" + t + "</MessageText>";
}

const std::vector<TProtocolCase> kProtocolCases = {
    {"two entries",
     Statistik("<objektmenge objektart=\"AX_Gebaeude\"><objektanzahl>12</objektanzahl></objektmenge>"
               "<objektmenge objektart=\"AX_Flurstueck\"><objektanzahl>7</objektanzahl></objektmenge>"),
     {"AX_Gebaeude=12", "AX_Flurstueck=7"}},
    {"count not the first child",
     Statistik(
         "<objektmenge objektart=\"AX_Gebaeude\"><x>1</x><objektanzahl>12</objektanzahl></objektmenge>"),
     {}},
    {"entry without objektart, next one still read",
     Statistik("<objektmenge><objektanzahl>3</objektanzahl></objektmenge>"
               "<objektmenge objektart=\"AX_Wald\"><objektanzahl>4</objektanzahl></objektmenge>"),
     {"AX_Wald=4"}},
    {"empty count", Statistik("<objektmenge objektart=\"AX_Wald\"><objektanzahl/></objektmenge>"), {}},
    {"prefixed names count by local name",
     "<p:Protocol xmlns:p=\"urn:p\"><p:statistik><p:objektmenge "
     "objektart=\"AX_Turm\"><p:objektanzahl>2</p:objektanzahl>"
     "</p:objektmenge></p:statistik></p:Protocol>",
     {"AX_Turm=2"}},
    {"message text", Messages(MessageText("Anzahl der Objekte: 12 x AX_Turm")), {"AX_Turm=12"}},
    {"message text with several blanks after the colon",
     Messages(MessageText("Anzahl:    12 x T")),
     {"T=12"}},
    {"two blanks between words", Messages(MessageText("Anzahl: 12  x T")), {}},
    {"colon before Anzahl only", Messages(MessageText("Objekte: 12 x T Anzahl")), {}},
    {"without Anzahl after one with it",
     Messages(MessageText("Anzahl: 5 x A") + MessageText("Objekte: 6 x B")),
     {"A=5"}},
    {"four words", Messages(MessageText("Anzahl: 5 x A B")), {}},
    {"only 255 characters after the colon count",
     Messages(MessageText("Anzahl: 12 x " + std::string(260, 'T'))),
     {std::string(249, 'T') + "=12"}},
    {"words beyond 255 characters are cut off",
     Messages(MessageText("Anzahl: 12 x T" + std::string(250, ' ') + "Z")),
     {"T=12"}},
    {"name case matters",
     "<P><Statistik><objektmenge objektart=\"A\"><objektanzahl>1</objektanzahl></objektmenge>"
     "</Statistik><message>" +
         MessageText("Anzahl: 1 x B") + "</message></P>",
     {}},
};

class ExportProtocol : public WriterTest {};

} // namespace

TEST_F(ExportProtocol, ReadsCountsAndStoresThemUnderTheFileId) {
    for (const TProtocolCase& c : kProtocolCases) {
        SCOPED_TRACE(c.name);
        db.Exec("DELETE FROM statistics");
        form->sFileID = "datei_1";
        form->obStatistics.Add("Alt=1");
        EXPECT_TRUE(form->IB_Protokoll(c.xml));
        EXPECT_EQ(form->obStatistics.Lines(), c.lines);
        std::vector<std::string> rows;
        for (const auto& r :
             db.Query("SELECT fileid || '|' || obj_art || '|' || obj_anzahl FROM statistics ORDER BY ctid"))
            rows.push_back(r[0].value_or("<null>"));
        std::vector<std::string> expected;
        for (const std::string& line : c.lines)
            expected.push_back("datei_1|" + line.substr(0, line.find('=')) + "|" +
                               line.substr(line.find('=') + 1));
        EXPECT_EQ(rows, expected);
    }
    EXPECT_TRUE(ErrorRows().empty());
    EXPECT_TRUE(Log().empty());
}

// A file imported again announces its numbers again: they count once, so its progress still reaches
// 100 %; the numbers it announced last are the ones that count, and other files keep theirs.
TEST_F(ExportProtocol, NumbersOfAFileCountOnceHoweverOftenItIsImported) {
    const std::string twoTypes =
        Statistik("<objektmenge objektart=\"AX_Gebaeude\"><objektanzahl>2</objektanzahl></objektmenge>"
                  "<objektmenge objektart=\"AX_Flurstueck\"><objektanzahl>1</objektanzahl></objektmenge>");
    const std::string oneType =
        Statistik("<objektmenge objektart=\"AX_Gebaeude\"><objektanzahl>4</objektanzahl></objektmenge>");
    const struct {
        const char* file;
        const std::string& protocol;
        const char* rows; // of statistics afterwards, ordered
    } imports[] = {
        {"bestand", twoTypes, "bestand|AX_Flurstueck|1,bestand|AX_Gebaeude|2"},
        {"bestand", twoTypes, "bestand|AX_Flurstueck|1,bestand|AX_Gebaeude|2"},
        {"andere", oneType, "andere|AX_Gebaeude|4,bestand|AX_Flurstueck|1,bestand|AX_Gebaeude|2"},
        {"bestand", oneType, "andere|AX_Gebaeude|4,bestand|AX_Gebaeude|4"},
    };
    for (const auto& import : imports) {
        SCOPED_TRACE(import.file);
        form->sFileID = import.file;
        EXPECT_TRUE(form->IB_Protokoll(import.protocol));
        EXPECT_EQ(db.Scalar("SELECT string_agg(fileid || '|' || obj_art || '|' || obj_anzahl, ',' "
                            "ORDER BY fileid, obj_art) FROM statistics"),
                  import.rows);
    }
    form->sFileID = "bestand";
    form->IB_Protokoll(twoTypes);
    form->IB_Protokoll(twoTypes);
    db.Exec("CREATE TABLE alkistemp.kt_staged () INHERITS (alkistemp.ax_objects);"
            "INSERT INTO alkistemp.kt_staged(gml_id) VALUES ('A'), ('B'), ('C')");
    EXPECT_EQ(form->GetFileProgress(), 100);
    EXPECT_TRUE(ErrorRows().empty());
}

TEST_F(ExportProtocol, DataFromTheFileCannotAlterTheStatement) {
    form->sFileID = "O'Brien";
    form->IB_Protokoll(Statistik("<objektmenge objektart=\"AX_X'); DROP TABLE statistics; --\">"
                                 "<objektanzahl>5</objektanzahl></objektmenge>"));
    EXPECT_EQ(db.Scalar("SELECT fileid || '|' || obj_art || '|' || obj_anzahl FROM statistics"),
              "O'Brien|AX_X'); DROP TABLE statistics; --|5");
    EXPECT_TRUE(ErrorRows().empty());
}

TEST_F(ExportProtocol, CountThatIsNoNumberEndsTheLoop) {
    form->sFileID = "f";
    form->IB_Protokoll(
        Statistik("<objektmenge objektart=\"A\"><objektanzahl>1</objektanzahl></objektmenge>"
                  "<objektmenge objektart=\"B\"><objektanzahl>zwei</objektanzahl></objektmenge>"
                  "<objektmenge objektart=\"C\"><objektanzahl>3</objektanzahl></objektmenge>"));
    EXPECT_EQ(form->obStatistics.Count(), 3);
    EXPECT_EQ(db.Scalar("SELECT string_agg(obj_art, ',' ORDER BY ctid) FROM statistics"), "A");
    const auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    ExpectTimed(log[0], "Fehler beim Schreiben der Export-Statistik");
    ASSERT_FALSE(log[1].empty());
    EXPECT_EQ(log[1][0], '\t');
    const auto rows = ErrorRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], "Fehler beim Schreiben der Export-Statistik - " + log[1].substr(1));
    EXPECT_NE(rows[0].find("zwei"), std::string::npos);
}

TEST_F(ExportProtocol, UnreadableProtocolIsReportedWithoutSeparator) {
    form->obStatistics.Add("Alt=1");
    EXPECT_TRUE(form->IB_Protokoll("<Protocol><statistik>"));
    EXPECT_TRUE(form->obStatistics.Empty());
    const auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "Fehler beim Lesen des Export-Protokolls");
    EXPECT_FALSE(log[1].empty());
    EXPECT_NE(log[1][0], '\t');
    EXPECT_EQ(ErrorRows(), std::vector<std::string>{"Fehler beim Lesen des Export-Protokolls" + log[1]});
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM statistics"), "0");
}

TEST_F(ExportProtocol, ProgressRoundsHalfToEven) {
    // Whole-number rounding as the import's own percentage does it: a half goes to the even neighbour.
    form->sFileID = "f1";
    db.Exec("INSERT INTO statistics(fileid, obj_art, obj_anzahl) VALUES ('f1', 'A', 8)");
    db.Exec("INSERT INTO alkistemp.ax_objects(gml_id) VALUES ('x1')");
    EXPECT_EQ(form->GetFileProgress(), 12); // 12.5
    db.Exec("INSERT INTO alkistemp.ax_objects(gml_id) VALUES ('x2'), ('x3')");
    EXPECT_EQ(form->GetFileProgress(), 38); // 37.5
}

TEST_F(ExportProtocol, ProgressOfTheCurrentFile) {
    form->sFileID = "f1";
    db.Exec("INSERT INTO statistics(fileid, obj_art, obj_anzahl) VALUES ('f1', 'A', 3), ('f1', 'B', 5), "
            "('f2', 'A', 100)");
    db.Exec("INSERT INTO alkistemp.ax_objects(gml_id) SELECT 'x' || g FROM generate_series(1, 3) g");
    EXPECT_EQ(form->GetFileProgress(), 38); // 3 of 8
    db.Exec("INSERT INTO alkistemp.ax_objects(gml_id) SELECT 'y' || g FROM generate_series(1, 9) g");
    EXPECT_EQ(form->GetFileProgress(), 150); // more stored than counted
    EXPECT_EQ(
        form->cmd->SQL().Text(),
        "SELECT ((100.0*(select count(*) from alkistemp.ax_objects)) /sum(obj_anzahl)) as p  FROM statistics "
        "WHERE statistics.fileid=:fileid\n");
    EXPECT_TRUE(Log().empty());
}

TEST_F(ExportProtocol, ProgressFailures) {
    struct TCase {
        const char* name;
        const char* statistics;
        int expected;
    };
    const TCase cases[] = {
        {"no rows for the file: p is NULL", "('other', 'A', 3)", 0},
        {"counts sum to 0: the query fails", "('f1', 'A', 0)", -1},
    };
    form->sFileID = "f1";
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        db.Exec("DELETE FROM statistics; DELETE FROM logs; INSERT INTO statistics(fileid, obj_art, "
                "obj_anzahl) VALUES " +
                std::string(c.statistics));
        form->memoLog->clear();
        EXPECT_EQ(form->GetFileProgress(), c.expected);
        const auto log = Log();
        ASSERT_EQ(log.size(), 2u);
        ExpectTimed(log[0], "Fehler beim Lesen des Dateilese-Fortschritts");
        ASSERT_EQ(log[1].substr(0, 1), "\t");
        EXPECT_EQ(ErrorRows(), std::vector<std::string>{"Fehler beim Lesen des Dateilese-Fortschritts - " +
                                                        log[1].substr(1)});
    }
}

// Outside a run there is no shared statement: the protocol's inserts and the progress query report
// that like any other failure (and the error row is lost with it).
TEST_F(ExportProtocol, WithoutAStatementTheFailuresAreReported) {
    form->cmd.reset();
    form->sFileID = "f";
    EXPECT_EQ(form->GetFileProgress(), -1);
    EXPECT_TRUE(form->IB_Protokoll(
        Statistik("<objektmenge objektart=\"A\"><objektanzahl>1</objektanzahl></objektmenge>")));
    const auto log = Log();
    ASSERT_EQ(log.size(), 8u);
    const char* const messages[] = {
        "Fehler beim Lesen des Dateilese-Fortschritts", "Fehler beim Schreiben in die Log-Tabelle",
        "Fehler beim Schreiben der Export-Statistik", "Fehler beim Schreiben in die Log-Tabelle"};
    for (std::size_t i = 0; i < 4; ++i) {
        ExpectTimed(log[2 * i], messages[i]);
        EXPECT_EQ(log[2 * i + 1], "\tKeine Verbindung zur Datenbank");
    }
    EXPECT_EQ(db.Scalar("SELECT count(*) FROM statistics"), "0");
}

// The protocol of a real-shaped delivery (namespaced, with a message that counts nothing), and the same
// protocol with a count message added to its message block.
TEST_F(ExportProtocol, ProtocolOfADelivery) {
    const std::string file = ReadFile(TestDataDir() + "/bestand_bonn.xml");
    const std::size_t b = file.find("<erlaeuterung>") + 14;
    std::string protocol = file.substr(b, file.find("</erlaeuterung>") - b);
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}})
        for (std::size_t p = protocol.find(from); p != std::string::npos; p = protocol.find(from, p + 1))
            protocol.replace(p, from.size(), to);
    ASSERT_NE(protocol.find("<Protocol xmlns="), std::string::npos);
    form->sFileID = "bestand_bonn";
    EXPECT_TRUE(form->IB_Protokoll(protocol));
    EXPECT_TRUE(form->obStatistics.Empty());

    const std::size_t end = protocol.find("</Message>");
    protocol.insert(end, "<MessageText>Anzahl der gelieferten Objekte: 12 x AX_Gebaeude</MessageText>");
    EXPECT_TRUE(form->IB_Protokoll(protocol));
    EXPECT_EQ(form->obStatistics.Lines(), std::vector<std::string>{"AX_Gebaeude=12"});
    EXPECT_EQ(db.Scalar("SELECT fileid || '|' || obj_art || '|' || obj_anzahl FROM statistics"),
              "bestand_bonn|AX_Gebaeude|12");
    EXPECT_TRUE(Log().empty());
}
