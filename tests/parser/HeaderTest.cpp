// The file header (portion header, reference systems), the export protocol, parse errors and the
// executor of the GML conversion.
#include "ParserFixture.h"
#include "gml/GML2WKT.h"

namespace {

std::string KrsBlock(const std::string& content) {
    return "<koordinatenangaben><AA_Koordinatenreferenzsystemangaben>" + content +
           "</AA_Koordinatenreferenzsystemangaben></koordinatenangaben>";
}

TEST_F(ParserTest, HeaderFillsThePortionAndTheReferenceSystems) {
    const std::string body =
        "<antragsnummer>Bonn_0002</antragsnummer>" +
        KrsBlock("<crs xlink:href=\"urn:adv:crs:ETRS89_UTM32\"/><anzahlDerNachkommastellen>3"
                 "</anzahlDerNachkommastellen><standard>TRUE</standard>") +
        // A block without a "crs" of its own: its values belong to no record and it adds none.
        KrsBlock("<anzahlDerNachkommastellen>9</anzahlDerNachkommastellen><standard>false</standard>") +
        KrsBlock("<crs xlink:href=\"urn:adv:crs:ETRS89_UTM33\"/><anzahlDerNachkommastellen>x"
                 "</anzahlDerNachkommastellen><standard>false</standard>") +
        // Not inside a block, without href, or with another prefix: no effect.
        "<crs xlink:href=\"urn:adv:crs:DE_DHDN_3GK2\"/>" +
        KrsBlock("<crs/><crs xlink:href=\"EPSG:25832\"/>") +
        "<portionskennung><AX_Portionskennung><laufendeNummerVonGesamtzahl>16</laufendeNummerVonGesamtzahl>"
        "<gesamtzahl>130</gesamtzahl></AX_Portionskennung></portionskennung>";
    ASSERT_TRUE(Parse(Doc(body, "AX_NutzerbezogeneBestandsdatenaktualisierung_NBA"))) << parseError;

    EXPECT_EQ(portion.typ, "Nutzerbezogene Bestandsdatenaktualisierung");
    EXPECT_EQ(portion.antragsnr, "Bonn_0002");
    EXPECT_EQ(portion.lfdNr, "16");
    EXPECT_EQ(portion.anzPort, "130");
    EXPECT_EQ(portion.koordRefSys, "ETRS89_UTM33");
    ASSERT_EQ(form->obKoRefs->size(), 2u);
    const TKooRefSys& a = *(*form->obKoRefs)[0];
    const TKooRefSys& b = *(*form->obKoRefs)[1];
    EXPECT_EQ(a.crs, "ETRS89_UTM32");
    EXPECT_EQ(a.nks, 3);
    EXPECT_TRUE(a.standard);
    EXPECT_EQ(b.crs, "ETRS89_UTM33");
    EXPECT_EQ(b.nks, -1);
    EXPECT_FALSE(b.standard);
    EXPECT_EQ(b.SRID, -1);
    EXPECT_EQ(form->obKoRefs->GetStdCRS(), "ETRS89_UTM32");
}

// Inside a feature, elements named like those of the header are the feature's properties: the
// header keeps its values, and what follows the feature is read as header again.
TEST_F(ParserTest, HeaderNamesInsideAFeatureArePropertiesOfIt) {
    const std::string body =
        "<antragsnummer>Bonn_0002</antragsnummer>" +
        Member("<AX_Reservierung gml:id=\"DENW36AL0000Res1\"><antragsnummer>R-17</antragsnummer>"
               "<gesamtzahl>4</gesamtzahl><erlaeuterung>frei</erlaeuterung></AX_Reservierung>") +
        "<portionskennung><AX_Portionskennung><laufendeNummerVonGesamtzahl>16</laufendeNummerVonGesamtzahl>"
        "<gesamtzahl>130</gesamtzahl></AX_Portionskennung></portionskennung>";
    ASSERT_TRUE(Parse(Doc(body))) << parseError;
    EXPECT_EQ(portion.antragsnr, "Bonn_0002");
    EXPECT_EQ(portion.lfdNr, "16");
    EXPECT_EQ(portion.anzPort, "130");
    EXPECT_TRUE(protocols.empty());
    EXPECT_EQ(records,
              std::vector<std::string>{"Insert AX_Reservierung DENW36AL0000Res1\nA antragsnummer=R-17\n"
                                       "A gesamtzahl=4\nA erlaeuterung=frei\n"});
}

TEST_F(ParserTest, KindOfAFullExtract) {
    ASSERT_TRUE(Parse(Doc("<erfolgreich>true</erfolgreich>"))) << parseError;
    EXPECT_EQ(portion.typ, "Bestandsdatenauszug");
    EXPECT_TRUE(portion.antragsnr.empty());
    EXPECT_TRUE(form->obKoRefs->empty());
}

TEST_F(ParserTest, ExportProtocolIsHandedOverOnce) {
    const struct {
        const char* name;
        std::string body;
        std::vector<std::string> protocols;
        std::vector<std::string> records;
    } cases[] = {
        {"a CDATA section, at its end",
         "<erlaeuterung><![CDATA[<Protocol a=\"1\">x &amp; y</Protocol>]]></erlaeuterung>",
         {"<Protocol a=\"1\">x &amp; y</Protocol>"},
         {}},
        {"escaped text, joined, at the element's end",
         "<erlaeuterung>&lt;Protocol&gt;&lt;auftragsid&gt;A&amp;B&lt;/auftragsid&gt;&lt;/Protocol&gt;</"
         "erlaeuterung>",
         {"<Protocol><auftragsid>A&B</auftragsid></Protocol>"},
         {}},
        {"text before a CDATA section is dropped by it",
         "<erlaeuterung>vorher<![CDATA[<P/>]]></erlaeuterung>",
         {"<P/>"},
         {}},
        {"a CDATA section inside a record is part of the record's text",
         Member("<F gml:id=\"I\"><P>a<![CDATA[<b>]]>c</P></F>"),
         {},
         {"Insert F I\nA P=a<b>c\n"}},
        {"an empty explanation hands nothing over", "<erlaeuterung>  </erlaeuterung>", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        protocols.clear();
        records.clear();
        ASSERT_TRUE(Parse(Doc(c.body))) << parseError;
        EXPECT_EQ(protocols, c.protocols);
        EXPECT_EQ(records, c.records);
    }
}

// A parse that ends inside the protocol's CDATA section hands no protocol over: a cut-off one would be
// stored as if it were the whole.
TEST_F(ParserTest, AProtocolCutOffByAnErrorIsNotHandedOver) {
    const std::string head = "<erlaeuterung><![CDATA[<Protocol><auftragsid>A</auftragsid>";
    const struct {
        const char* name;
        std::string body;
        const char* message; // start of the message box text
    } cases[] = {
        {"a broken byte inside the section", head + std::string(2000, 'p') + "\xC3\x28]]></erlaeuterung>",
         "(9) Input is not proper UTF-8"},
        {"a section over the parser's size limit",
         head + std::string(12 * 1000 * 1000, 'p') + "]]></erlaeuterung>",
         "(1) Ein CDATA-Abschnitt ist zu groß: mehr als 10.000.000 Bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        protocols.clear();
        dialogs.messages.clear();
        EXPECT_FALSE(Parse(Doc(c.body)));
        EXPECT_TRUE(protocols.empty()) << protocols.front().substr(0, 80);
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text.rfind(c.message, 0), 0u) << dialogs.messages[0].text;
    }
}

// Text outside the records is bounded like a record: past 20,000,000 bytes it is dropped and said once
// per file; an export protocol it belonged to is not handed over, a later one is.
TEST_F(ParserTest, TextOutsideRecordsPastTheBoundIsDroppedAndSaidOnce) {
    const std::string piece(7'000'000, 'p');
    const std::string large = piece + "<!-- -->" + piece + "<!-- -->" + piece;
    const std::size_t linesBefore = form->LogLines().size();
    ASSERT_TRUE(Parse(Doc("<antragsnummer>" + large + "</antragsnummer><erlaeuterung>" + large +
                          "</erlaeuterung><erlaeuterung><![CDATA[<P/>]]></erlaeuterung>")))
        << parseError;
    EXPECT_EQ(protocols, (std::vector<std::string>{"<P/>"}));
    EXPECT_TRUE(portion.antragsnr.empty());
    const std::vector<std::string> log = form->LogLines();
    const std::string said = ": Ein Text außerhalb der Objekte ist zu groß: mehr als 20.000.000 Bytes liest "
                             "der Parser nicht (Zeile 2, Spalte ";
    const auto saying =
        std::count_if(log.begin() + static_cast<std::ptrdiff_t>(linesBefore), log.end(),
                      [&](const std::string& l) { return l.find(said) != std::string::npos; });
    EXPECT_EQ(saying, 1);
}

// A warning never stops the user more than once a file: each one is a log line, the first also a box.
TEST_F(ParserTest, WarningsAreLoggedAndOnlyTheFirstOfAFileShowsABox) {
    std::string body;
    for (int i = 0; i < 5; ++i)
        body += "<name xml:space=\"bogus\">x</name>";
    const std::string file = Doc(Member("<F gml:id=\"I\">" + body + "</F>"));
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        const std::size_t linesBefore = form->LogLines().size();
        dialogs.messages.clear();
        records.clear();
        ASSERT_TRUE(Parse(file)) << parseError;
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].type, TMsgDlgType::mtWarning);
        EXPECT_EQ(dialogs.messages[0].text.rfind("(102) Invalid value \"bogus\" for xml:space", 0), 0u)
            << dialogs.messages[0].text;
        const std::vector<std::string> log = form->LogLines();
        const auto warnings = std::count_if(
            log.begin() + static_cast<std::ptrdiff_t>(linesBefore), log.end(), [](const auto& l) {
                return l.find(": Warnung beim Lesen der Datei (Zeile 2, Spalte ") != std::string::npos &&
                       l.find("(102) Invalid value \"bogus\" for xml:space") != std::string::npos;
            });
        EXPECT_EQ(warnings, 5);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0], "Insert F I\nA name=x|x|x|x|x\nA name=\nA name=\nA name=\nA name=\n");
    }
}

// A document whose root is no NAS data (an exception report of a WFS, any other XML) hands nothing
// over, not even a protocol; the parser names its root and its first text.
TEST_F(ParserTest, ADocumentWithoutNasDataHandsNothingOver) {
    const std::string feature = "<featureMember><F><P>1</P></F></featureMember>";
    const struct {
        const char* name;
        std::string xml;
        std::string said; // empty: NAS data
        std::size_t records;
    } cases[] = {
        {"an exception report of a WFS",
         "<?xml version=\"1.0\"?>\n<ows:ExceptionReport xmlns:ows=\"http://www.opengis.net/ows/1.1\">\n"
         "  <ows:Exception exceptionCode=\"NoApplicableCode\"><ows:ExceptionText><![CDATA[  "
         "Zeitüberschreitung\n]]></ows:ExceptionText></ows:Exception>" +
             feature + "</ows:ExceptionReport>",
         "Wurzelelement ows:ExceptionReport, erster Text: \"Zeitüberschreitung\"", 0},
        {"any other XML, its first text cut short",
         "<html><body><erlaeuterung>" + std::string(300, 'a') + "</erlaeuterung>" + feature +
             "</body></html>",
         "Wurzelelement html, erster Text: \"" + std::string(200, 'a') + " ...\"", 0},
        {"no text at all", "<root><featureMember><F/></featureMember></root>", "Wurzelelement root", 0},
        {"an update", Doc(feature, "AX_NutzerbezogeneBestandsdatenaktualisierung_NBA"), "", 1},
        {"a feature collection of a WFS", Doc(feature, "wfs:FeatureCollection"), "", 1},
        {"a feature of the AAA schema", Doc("<P>1</P>", "AX_Gebaeude"), "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        records.clear();
        protocols.clear();
        ASSERT_TRUE(Parse(c.xml)) << parseError;
        EXPECT_EQ(records.size(), c.records);
        EXPECT_TRUE(protocols.empty());
        EXPECT_EQ(noNasData, c.said);
    }
}

TEST_F(ParserTest, ShowErrorFormatsMessageAndPosition) {
    const ESAXParseException e("(76) Opening and ending tag mismatch", "", "f.xml", 12, 7);
    form->ShowError(TErrorBoxKind::ebError, e);
    form->ShowError(TErrorBoxKind::ebWarning, e);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].text, "(76) Opening and ending tag mismatch\r\nat line 12, column 7");
    EXPECT_EQ(dialogs.messages[0].type, TMsgDlgType::mtError);
    EXPECT_EQ(dialogs.messages[0].buttons, static_cast<unsigned>(mbOK));
    EXPECT_EQ(dialogs.messages[1].text, dialogs.messages[0].text);
    EXPECT_EQ(dialogs.messages[1].type, TMsgDlgType::mtWarning);
}

TEST_F(ParserTest, MalformedDocumentShowsItsErrorAndFailsTheParse) {
    EXPECT_FALSE(Parse("<?xml version=\"1.0\"?>\n<a>\n  <b></a>"));
    ASSERT_FALSE(dialogs.messages.empty());
    const std::string& text = dialogs.messages[0].text;
    EXPECT_EQ(dialogs.messages[0].type, TMsgDlgType::mtError);
    EXPECT_EQ(text.rfind("(", 0), 0u) << text;
    EXPECT_NE(text.find("\r\nat line 3, column "), std::string::npos) << text;
}

TEST_F(ParserTest, HostileEntityExpansionEndsWithAParseError) {
    const std::string file = TestDataDir() + "/hostile/billionlaugh.xml";
    TBrenkoSaxReader parser(form.get());
    parser.currPortion = &portion;
    parser.RecordSink = [this](TAXObject& r) { records.push_back(Dump(r)); };
    EXPECT_ANY_THROW(parser.FSAXReader->Parse(file));
    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_EQ(dialogs.messages.back().type, TMsgDlgType::mtError);
    EXPECT_NE(dialogs.messages.back().text.find("\r\nat line "), std::string::npos);
    EXPECT_TRUE(records.empty());
}

TEST_F(ParserTest, ExecutorReachesTheWindowOfTheLatestParser) {
    ExecPostGISSQL = nullptr;
    std::unique_ptr<TBrenkoSaxReader> first = std::make_unique<TBrenkoSaxReader>(form.get());
    ASSERT_TRUE(static_cast<bool>(ExecPostGISSQL));
    auto other = std::make_unique<TfrmKelpora>();
    { TBrenkoSaxReader second(other.get()); }
    first.reset();
    // The executor stays after both parsers are gone. Without a connection PostGISCommand answers with
    // its neutral empty text and reports the failure in the log window of the latest parser's window.
    const std::size_t before = other->LogLines().size();
    const std::size_t formBefore = form->LogLines().size();
    EXPECT_EQ(ExecPostGISSQL("SELECT 1"), "");
    EXPECT_GT(other->LogLines().size(), before);
    EXPECT_EQ(form->LogLines().size(), formBefore);
    // A window that is gone is never called.
    other.reset();
    EXPECT_EQ(ExecPostGISSQL("SELECT 1"), "");
    EXPECT_EQ(form->LogLines().size(), formBefore);
}

} // namespace
