// The reader over libxml2: event sequences, errors, failing handlers, hostile and large documents.
#include "SaxRecorder.h"
#include "TestDatabase.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace {

using TEvents = std::vector<std::string>;

struct TParseResult {
    TEvents events;
    bool ok = false;
    HRESULT code = 0;
    std::string error;
};

TParseResult ParseText(const std::string& xml,
                       const std::function<void(TSaxRecorder&, TSAX2MSReader&)>& setup = {}) {
    auto recorder = MakeInterfaced<TSaxRecorder>();
    auto reader = RecordingReader(recorder.get());
    if (setup)
        setup(*recorder, *reader);
    TParseResult r;
    TSAXStringInputSource input(xml);
    try {
        reader->Parse(&input);
        r.ok = true;
    } catch (const ESAXPlatformError& e) {
        r.code = e.ErrorCode();
        r.error = e.what();
    }
    r.events = recorder->Events;
    return r;
}

TEST(SaxReader, TypeNamesAndErrorMessages) {
    const std::vector<std::pair<const char*, TSAXAttributeType>> types = {{"ID", atId},
                                                                          {"IDREF", atIdref},
                                                                          {"IDREFS", atIdrefs},
                                                                          {"NMTOKEN", atNMToken},
                                                                          {"NMTOKENS", atNMTokens},
                                                                          {"ENTITY", atEntity},
                                                                          {"ENTITIES", atEntities},
                                                                          {"NOTATION", atNotation},
                                                                          {"CDATA", atCData},
                                                                          {"id", atCData},
                                                                          {"IDS", atCData},
                                                                          {"", atCData},
                                                                          {" ID", atCData}};
    for (const auto& [name, type] : types)
        EXPECT_EQ(SAXAttributeTypeOfName(name), type) << name;
    EXPECT_EQ(SAXErrorMessage(-1, "X"), "(-1) X");
    EXPECT_EQ(SAXErrorMessage(76, "Opening and ending tag mismatch"), "(76) Opening and ending tag mismatch");
}

TEST(SaxReader, ReportsTheEventsOfADocumentInOrder) {
    const std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                            "<!-- head -->\n"
                            "<n:root xmlns:n=\"urn:n\" xmlns=\"urn:d\" b=\"2\" n:a=\"1&amp;&lt;&#228;\">"
                            "<leaf gml:id=\"x\" xmlns:gml=\"urn:g\"/>"
                            "text &amp; more<![CDATA[<raw> & ]]><?target some data?>"
                            "<empty></empty></n:root>";
    const TParseResult r = ParseText(xml);
    ASSERT_TRUE(r.ok) << r.error;
    const TEvents expected = {
        "startDocument",
        "comment  head ",
        "startPrefix n=urn:n",
        "startPrefix =urn:d",
        "start {urn:n}root n:root [{}b b=2 CDATA] [{urn:n}a n:a=1&<ä CDATA]",
        "startPrefix gml=urn:g",
        "start {urn:d}leaf leaf [{urn:g}id gml:id=x CDATA]",
        "end {urn:d}leaf leaf",
        "endPrefix gml",
        "chars text & more",
        "startCDATA",
        "chars <raw> & ",
        "endCDATA",
        "pi target some data",
        "start {urn:d}empty empty",
        "end {urn:d}empty empty",
        "end {urn:n}root n:root",
        "endPrefix ",
        "endPrefix n",
        "endDocument",
    };
    EXPECT_EQ(r.events, expected);
}

TEST(SaxReader, DeclaredAndMarkedEncodingsArriveAsUtf8) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a b=\"\xe4\">Stra\xdf"
         "e</a>",
         "Straße"},
        {std::string("\xff\xfe<\0a\0>\0\xe4\0<\0/\0a\0>\0", 18), "ä"},
        {"\xef\xbb\xbf<a>\xc3\xa4</a>", "ä"},
    };
    for (const auto& [xml, text] : cases) {
        const TParseResult r = ParseText(xml);
        ASSERT_TRUE(r.ok) << r.error;
        ASSERT_EQ(r.events.size(), 5u);
        EXPECT_EQ(r.events[2], "chars " + text);
    }
    EXPECT_EQ(ParseText(cases[0].first).events[1], "start {}a a [{}b b=ä CDATA]");
}

TEST(SaxReader, DtdDeclarationsTypesAndEntities) {
    const std::string xml =
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE r [\n"
        "<!ELEMENT r (#PCDATA|a)*>\n"
        "<!ATTLIST a id ID #REQUIRED ref IDREF #IMPLIED k (x|y) \"x\" t NMTOKENS #IMPLIED>\n"
        "<!NOTATION gif SYSTEM \"image/gif\">\n"
        "<!ENTITY img SYSTEM \"x.gif\" NDATA gif>\n"
        "<!ENTITY e \"E&#38;#38;<b>in</b>\">\n"
        "<!ENTITY v \"V&amp;v\">\n"
        "<!ENTITY ext SYSTEM \"never-loaded.txt\">\n"
        "]>\n"
        "<r><a id=\"i\" ref=\"j\" k=\"y\" t=\"a b\" c=\"&v;!\"/>one &e; two&ext;</r>";
    const TParseResult r = ParseText(xml);
    ASSERT_TRUE(r.ok) << r.error;
    const TEvents expected = {
        "startDocument",
        "startDTD r  ",
        "elementDecl r (#PCDATA | a)*",
        "attributeDecl a id ID #REQUIRED ",
        "attributeDecl a ref IDREF #IMPLIED ",
        "attributeDecl a k (x|y)  x",
        "attributeDecl a t NMTOKENS #IMPLIED ",
        "notation gif  image/gif",
        "unparsed img  x.gif gif",
        "internalEntityDecl e E&#38;<b>in</b>",
        "internalEntityDecl v V&amp;v",
        "externalEntityDecl ext  never-loaded.txt",
        "endDTD",
        "start {}r r",
        "start {}a a [{}id id=i ID] [{}ref ref=j IDREF] [{}k k=y NMTOKEN] [{}t t=a b NMTOKENS] [{}c c=V&v! "
        "CDATA]",
        "end {}a a",
        "chars one ",
        "startEntity e",
        "chars E&",
        "start {}b b",
        "chars in",
        "end {}b b",
        "endEntity e",
        "chars  two",
        "skipped ext",
        "end {}r r",
        "endDocument",
    };
    EXPECT_EQ(r.events, expected);
}

TEST(SaxReader, ExternalEntitiesAreNeverFetched) {
    const auto dir = std::filesystem::temp_directory_path() / ("kelpora-xxe-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string secret = (dir / "secret.txt").string();
    const std::string dtd = (dir / "ext.dtd").string();
    std::ofstream(secret) << "SECRET";
    std::ofstream(dtd) << "<!ENTITY fromdtd \"DTD-LOADED\">";
    const std::string xml = "<!DOCTYPE r SYSTEM \"file://" + dtd + "\" [\n<!ENTITY x SYSTEM \"file://" +
                            secret + "\">\n<!ENTITY % p SYSTEM \"file://" + dtd +
                            "\">\n%p;\n]>\n<r a=\"1\">&x;&x;</r>";
    const TParseResult r = ParseText(xml);
    std::filesystem::remove_all(dir);
    for (const std::string& e : r.events) {
        EXPECT_EQ(e.find("SECRET"), std::string::npos) << e;
        EXPECT_EQ(e.find("DTD-LOADED"), std::string::npos) << e;
    }
    EXPECT_EQ(std::count(r.events.begin(), r.events.end(), "skipped x"), 2);
}

TEST(SaxReader, CharacterDataArrivesAsOneRunPerText) {
    // libxml2 cuts text every few hundred bytes, at buffer boundaries and around references.
    std::string text;
    for (int i = 0; i < 40000; ++i)
        text += "abc &amp; &#246; ";
    std::string expected;
    for (int i = 0; i < 40000; ++i)
        expected += "abc & ö ";
    const TParseResult r = ParseText("<r>" + text + "</r>");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.events.size(), 5u);
    EXPECT_EQ(r.events[2], "chars " + expected);
}

TEST(SaxReader, LargeAttributeAndTextAreDelivered) {
    const std::string big(6 * 1024 * 1024, 'x');
    auto recorder = MakeInterfaced<TSaxRecorder>();
    auto reader = RecordingReader(recorder.get());
    std::size_t attributeSize = 0, textSize = 0;
    struct TSizes : TSAXDefaultHandler {
        std::size_t* attr;
        std::size_t* text;
        void StartElement(const std::string&, const std::string&, const std::string&,
                          ISAXAttributes* a) override {
            if (a->Length() > 0)
                *attr = a->Value(0).size();
        }
        void Characters(const std::string& t) override { *text += t.size(); }
    };
    auto sizes = MakeInterfaced<TSizes>();
    sizes->attr = &attributeSize;
    sizes->text = &textSize;
    reader->SetContentHandler(sizes.get());
    TSAXStringInputSource input("<r a=\"" + big + "\">" + big + "<![CDATA[" + big + "]]></r>");
    reader->Parse(&input);
    EXPECT_EQ(attributeSize, big.size());
    EXPECT_EQ(textSize, 2 * big.size());
}

struct TErrorCase {
    const char* name;
    std::string xml;
    HRESULT code;
    const char* text; // start of libxml2's message
    int line, column;
};

TEST(SaxReader, FatalErrorsAreReportedWithPositionAndRaisedFromParse) {
    const std::vector<TErrorCase> cases = {
        {"mismatch", "<a>\n  <b></c></a>", 76, "Opening and ending tag mismatch: b line 2 and c", 2, 10},
        {"truncated", "<a>\n<b>text", 77, "Premature end of data in tag b", 2, 8},
        {"truncated in a tag", "<a>\n<b x=\"1", 40, "AttValue:", 2, 8},
        {"empty", "", 4, "Document is empty", 1, 1},
        {"no root", "<?xml version=\"1.0\"?>\n<!-- nothing -->\n", 4, "Start tag expected, '<' not found", 3,
         1},
        {"second root", "<a/>\n<b/>", 5, "Extra content at the end of the document", 2, 1},
        {"bad utf-8", "<a>\nok \xC3\x28 no</a>", 9, "Input is not proper UTF-8", 2, 4},
        {"bad name", "<a><1/></a>", 68, "StartTag: invalid element name", 1, 5},
        {"undeclared entity", "<a>&nope;</a>", 26, "Entity 'nope' not defined", 1, 10},
        // Input that is no XML at all gets the message libxml2 gives it when it reads a file whole.
        {"plain text", "Flurstück 1234\nGemarkung Bonn\n", 4, "Start tag expected, '<' not found", 1, 1},
        {"json", "{\"features\": []}", 4, "Start tag expected, '<' not found", 1, 1},
        {"binary", "\x89PNG\r\n\x1a\n\x01\x02", 4, "Start tag expected, '<' not found", 1, 1},
        {"a NUL first", std::string("\0<a/>", 5), 4, "Document is empty", 1, 1},
        // An error inside an entity's text is placed at the reference in the file.
        {"error inside entity text", "<!DOCTYPE r [<!ENTITY e \"ab<c>\">]>\n<r>\n  x &e;</r>", 77,
         "Premature end of data in tag c", 3, 5},
    };
    for (const TErrorCase& c : cases) {
        const TParseResult r = ParseText(c.xml);
        EXPECT_FALSE(r.ok) << c.name;
        EXPECT_EQ(r.code, c.code) << c.name;
        EXPECT_EQ(r.error.rfind(c.text, 0), 0u) << c.name << ": " << r.error;
        ASSERT_FALSE(r.events.empty()) << c.name;
        const std::string last = r.events.back();
        const std::string head = "fatal (" + std::to_string(c.code) + ") " + c.text;
        EXPECT_EQ(last.rfind(head, 0), 0u) << c.name << ": " << last;
        EXPECT_NE(last.find(" @" + std::to_string(c.line) + ":" + std::to_string(c.column)),
                  std::string::npos)
            << c.name << ": " << last;
        EXPECT_EQ(
            std::count_if(r.events.begin(), r.events.end(), [](auto& e) { return e.rfind("fatal", 0) == 0; }),
            1)
            << c.name;
    }
}

TEST(SaxReader, WarningsLetTheParseGoOn) {
    const TParseResult r = ParseText("<?xml version=\"1.5\"?><a><c/></a>");
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_NE(std::find(r.events.begin(), r.events.end(), "warning (97) Unsupported version '1.5' @1:20"),
              r.events.end());
    EXPECT_EQ(r.events.back(), "endDocument");
}

// Errors libxml2 could recover from end the parse at their first occurrence, reported once as an error,
// raised from Parse, and nothing of the document after it reaches the handler.
TEST(SaxReader, TheFirstRecoverableErrorEndsTheParse) {
    const std::vector<TErrorCase> cases = {
        {"undeclared prefix", "<a><y:c/><y:c/><d/></a>", 201, "Namespace prefix y on c is not defined", 1, 8},
        {"undefined entity, external DTD not read",
         "<!DOCTYPE a SYSTEM \"nas.dtd\"><a>M&uuml;ller<d/>&uuml;</a>", 27, "Entity 'uuml' not defined", 1,
         40},
    };
    for (const TErrorCase& c : cases) {
        const TParseResult r = ParseText(c.xml);
        EXPECT_FALSE(r.ok) << c.name;
        EXPECT_EQ(r.code, c.code) << c.name << ": " << r.error;
        EXPECT_EQ(r.error.rfind(c.text, 0), 0u) << c.name << ": " << r.error;
        const auto errors =
            std::count_if(r.events.begin(), r.events.end(), [](auto& e) { return e.rfind("error", 0) == 0; });
        EXPECT_EQ(errors, 1) << c.name;
        ASSERT_FALSE(r.events.empty()) << c.name;
        const std::string head = "error (" + std::to_string(c.code) + ") " + c.text + " @" +
                                 std::to_string(c.line) + ":" + std::to_string(c.column);
        EXPECT_EQ(r.events.back(), head) << c.name;
        EXPECT_EQ(std::find(r.events.begin(), r.events.end(), "start {}d d"), r.events.end()) << c.name;
    }
}

TEST(SaxReader, DefaultErrorHandlerStopsAtAFatalError) {
    // Held through its interface, as its users hold it.
    const TInterfacePtr<ISAXXMLReader> reader = MakeInterfaced<TSAX2MSReader>();
    TSAXStringInputSource input("<a></b>");
    try {
        reader->Parse(&input);
        FAIL() << "parsed a broken document";
    } catch (const ESAXPlatformError& e) {
        EXPECT_EQ(e.ErrorCode(), 76);
        EXPECT_STREQ(e.what(), "Opening and ending tag mismatch: a line 1 and b");
    }
}

TEST(SaxReader, AHandlerThatThrowsEndsTheParseWithThePlatformError) {
    const std::string xml = "<!DOCTYPE r [<!ELEMENT r ANY>]><r><!--c--><a>t</a><b/></r>";
    const std::vector<std::string> throwAt = {"startDocument", "start {}a a", "chars t",
                                              "end {}a a",     "comment c",   "elementDecl r ANY",
                                              "startDTD r  ",  "endDTD"};
    for (const std::string& at : throwAt) {
        const TParseResult r = ParseText(xml, [&](TSaxRecorder& rec, TSAX2MSReader&) {
            rec.OnEvent = [at](const std::string& e) {
                if (e == at)
                    throw std::runtime_error("handler failed");
            };
        });
        EXPECT_FALSE(r.ok) << at;
        EXPECT_EQ(r.code, E_UNEXPECTED) << at;
        EXPECT_EQ(r.error.find("handler failed"), std::string::npos) << at;
        EXPECT_EQ(std::find(r.events.begin(), r.events.end(), "endDocument"), r.events.end()) << at;
        EXPECT_EQ(std::find(r.events.begin(), r.events.end(), "start {}b b"), r.events.end()) << at;
    }
    // A handler that raises the fatal error it is given: the parse ends with the parser's error.
    const TParseResult r = ParseText("<a></b>", [](TSaxRecorder& rec, TSAX2MSReader& reader) {
        rec.OnEvent = [](const std::string& e) {
            if (e.rfind("fatal", 0) == 0)
                throw ESAXParseException(e, "", "", 1, 1);
        };
        (void)reader;
    });
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.code, 76);
}

TEST(SaxReader, HostileEntityExpansionEndsQuicklyWithAnError) {
    auto recorder = MakeInterfaced<TSaxRecorder>();
    auto reader = RecordingReader(recorder.get());
    std::size_t delivered = 0;
    recorder->RecordCharacters = false;
    struct TCount : TSaxRecorder {
        std::size_t* n;
        void Characters(const std::string& t) override { *n += t.size(); }
    };
    auto counter = MakeInterfaced<TCount>();
    counter->n = &delivered;
    reader->SetContentHandler(counter.get());
    reader->SetErrorHandler(counter.get());
    const auto start = std::chrono::steady_clock::now();
    try {
        reader->Parse(TestDataDir() + "/hostile/billionlaugh.xml");
        FAIL() << "billion laughs parsed";
    } catch (const ESAXPlatformError& e) {
        EXPECT_EQ(e.ErrorCode(), 89);
        EXPECT_STREQ(e.what(), "Detected an entity reference loop");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_LT(delivered, 10u * 1000 * 1000);
    ASSERT_FALSE(counter->Events.empty());
    EXPECT_EQ(counter->Events.back().rfind("fatal (89) Detected an entity reference loop", 0), 0u);
    // At the reference in the document ("  <lolz>&lol9;"), not inside the entity's text.
    EXPECT_NE(counter->Events.back().find(" @16:9"), std::string::npos) << counter->Events.back();

    // An entity that refers to itself.
    const TParseResult loop = ParseText("<!DOCTYPE r [<!ENTITY a \"&b;\"><!ENTITY b \"&a;\">]><r>&a;</r>");
    EXPECT_FALSE(loop.ok);
    EXPECT_EQ(loop.code, 89);
}

// One large entity referenced again and again: libxml2's loop detection lets it through, so the reader
// bounds the text that references may expand to. The parse ends with one error at the reference that
// crossed the bound, and nothing of the document after it arrives.
TEST(SaxReader, EntityTextBeyondTheBoundEndsTheParse) {
    const std::string entity(100 * 1000, 'y');
    std::string refs;
    for (int i = 0; i < 5000; ++i)
        refs += "&e;";
    const std::string dtd = "<!DOCTYPE r [<!ENTITY e \"" + entity + "\">]>\n";
    const struct {
        const char* name;
        std::string xml;
        bool atReference; // the position is that of the reference that crossed the bound
    } cases[] = {
        {"in a property", dtd + "<r><p>" + refs + "</p><d/></r>", true},
        {"in an attribute value", dtd + "<r><p a=\"" + refs + "\"/><d/></r>", true},
        // Within the bound while libxml2 reads the tag, beyond it when the value is decoded for the
        // handler: the element never arrives.
        {"in an attribute value, crossing the bound while it is decoded",
         dtd + "<r><p a=\"" + refs.substr(0, 18 * 3) + "\"/><d/></r>", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TParseResult r =
            ParseText(c.xml, [](TSaxRecorder& rec, TSAX2MSReader&) { rec.RecordCharacters = false; });
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.code, 89);
        EXPECT_EQ(r.error.rfind("Die Entitätsverweise ergeben zu viel Text: mehr als ", 0), 0u) << r.error;
        ASSERT_FALSE(r.events.empty());
        const std::string& last = r.events.back();
        EXPECT_EQ(last.rfind("fatal (89) Die Entitätsverweise ergeben zu viel Text", 0), 0u) << last;
        // The position is that of a reference, and the message names it too.
        const std::size_t at = last.rfind(" @2:");
        ASSERT_NE(at, std::string::npos) << last;
        const int column = std::stoi(last.substr(at + 4));
        EXPECT_NE(last.find("(Zeile 2, Spalte " + std::to_string(column) + ")."), std::string::npos) << last;
        if (c.atReference) {
            EXPECT_EQ(c.xml.substr(c.xml.find('\n') + static_cast<std::size_t>(column), 3), "&e;") << column;
        }
        EXPECT_EQ(std::count_if(r.events.begin(), r.events.end(),
                                [](auto& e) { return e.rfind("fatal", 0) == 0 || e.rfind("error", 0) == 0; }),
                  1);
        EXPECT_EQ(std::find(r.events.begin(), r.events.end(), "start {}d d"), r.events.end());
        EXPECT_EQ(std::find(r.events.begin(), r.events.end(), "endDocument"), r.events.end());
    }

    // The text that did arrive stays within the bound, whatever the file asks for.
    auto reader = MakeInterfaced<TSAX2MSReader>();
    struct TCount : TSAXDefaultHandler {
        std::size_t n = 0;
        void Characters(const std::string& t) override { n += t.size(); }
        void FatalError(const ESAXParseException&) override {}
    };
    auto counter = MakeInterfaced<TCount>();
    reader->SetContentHandler(counter.get());
    reader->SetErrorHandler(counter.get());
    TSAXStringInputSource input(cases[0].xml);
    EXPECT_THROW(reader->Parse(&input), ESAXPlatformError);
    EXPECT_LE(counter->n, 8u * 1024 * 1024);

    // Entities used as real files use them stay well inside the bound.
    std::string many;
    for (int i = 0; i < 500; ++i)
        many += "<p>&k;</p>";
    const TParseResult fine =
        ParseText("<!DOCTYPE r [<!ENTITY k \"" + std::string(1000, 'k') + "\">]><r>" + many + "</r>");
    EXPECT_TRUE(fine.ok) << fine.error;
}

// libxml2 reads no attribute value, CDATA section or comment of more than 10,000,000 bytes. The message
// says what was too large and where it begins; a CDATA section cut off by the error is not handed on as
// if it were complete (no text of it, no end).
TEST(SaxReader, ConstructsOverTheSizeLimitAreNamedWithTheirPosition) {
    const std::string big(12 * 1000 * 1000, 'x');
    const struct {
        const char* name;
        std::string xml;
        HRESULT code;
        std::string text;
    } cases[] = {
        {"attribute value", "<r>\n  <a v=\"" + big + "\"/></r>", 1,
         "Ein Attributwert ist zu groß: mehr als 10.000.000 Bytes am Stück liest der XML-Parser nicht (Zeile "
         "2, "
         "Spalte 3)."},
        {"attribute value just over the limit", "<r>\n  <a v=\"" + big.substr(0, 10000100) + "\"/></r>", 40,
         "Ein Attributwert ist zu groß: mehr als 10.000.000 Bytes am Stück liest der XML-Parser nicht (Zeile "
         "2, "
         "Spalte 8)."},
        {"CDATA section", "<r>\n  <![CDATA[" + big + "]]></r>", 1,
         "Ein CDATA-Abschnitt ist zu groß: mehr als 10.000.000 Bytes am Stück liest der XML-Parser nicht "
         "(Zeile 2, Spalte 3)."},
        {"comment", "<r>\n  <!--" + big + "--></r>", 1,
         "Ein Kommentar ist zu groß: mehr als 10.000.000 Bytes am Stück liest der XML-Parser nicht (Zeile 2, "
         "Spalte 3)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TParseResult r = ParseText(c.xml);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.error, c.text);
        ASSERT_FALSE(r.events.empty());
        EXPECT_EQ(r.events.back().rfind("fatal (" + std::to_string(c.code) + ") " + c.text, 0), 0u)
            << r.events.back();
        const auto cdata = std::find(r.events.begin(), r.events.end(), "startCDATA");
        for (auto e = cdata; e != r.events.end(); ++e) {
            EXPECT_NE(*e, "endCDATA");
            EXPECT_NE(e->rfind("chars", 0), 0u) << e->substr(0, 40);
        }
    }
}

// A run of text gets the bound of the other constructs: past it the parse ends, and the message says
// where the text begins. A run up to the bound arrives whole.
TEST(SaxReader, TextOverTheSizeLimitEndsTheParseAndIsNamedWhereItBegins) {
    const std::string over(10'000'001, 'x');
    const std::string message =
        "Ein Text ist zu groß: mehr als 10.000.000 Bytes am Stück liest der XML-Parser nicht (Zeile ";
    const struct {
        const char* name;
        std::string xml;
        const char* position;
    } cases[] = {
        {"after a start tag", "<r>\n  <a>" + over + "</a></r>", "2, Spalte 6)."},
        {"after an empty element", "<r>\n  <b/>" + over + "</r>", "2, Spalte 7)."},
        {"after an end tag", "<r>\n  <b></b>" + over + "</r>", "2, Spalte 10)."},
        {"after a start tag across lines", "<r>\n<a b='1'\n  >" + over + "</a></r>", "3, Spalte 4)."},
        {"after a comment", "<r>\n  <!-- c -->" + over + "</r>", "2, Spalte 13)."},
        {"after a CDATA section", "<r>\n<![CDATA[\nab\n\xC3\xBC]]>" + over + "</r>", "4, Spalte 5)."},
        {"the text before a reference and after it is one run", "<r>\n  <a>ab&amp;" + over + "</a></r>",
         "2, Spalte 6)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TParseResult r = ParseText(c.xml);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.error, message + c.position);
        ASSERT_FALSE(r.events.empty());
        EXPECT_EQ(r.events.back().rfind("fatal (1) " + message + c.position, 0), 0u) << r.events.back();
        for (const std::string& e : r.events)
            EXPECT_LT(e.size(), 1000u) << e.substr(0, 40); // no piece of the text went to the handler
    }
    const std::string whole(10'000'000, 'y');
    const TParseResult r = ParseText("<r>" + whole + "</r>");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.events.size(), 5u);
    EXPECT_EQ(r.events[2], "chars " + whole);
}

TEST(SaxReader, PropertiesInstallTheExtensionHandlers) {
    auto reader = MakeInterfaced<TSAX2MSReader>();
    EXPECT_EQ(reader->GetProperty(LexicalHandlerProperty), nullptr);
    EXPECT_EQ(reader->GetProperty(DeclHandlerProperty), nullptr);
    try {
        reader->GetProperty("http://xml.org/sax/properties/Lexical-handler");
        ADD_FAILURE();
    } catch (const ESAXNotRecognizedException& e) {
        EXPECT_EQ(e.Message(), "http://xml.org/sax/properties/Lexical-handler");
    }
    EXPECT_THROW(reader->SetProperty("other", nullptr), ESAXNotRecognizedException);

    auto first = MakeInterfaced<TSaxRecorder>();
    auto second = MakeInterfaced<TSaxRecorder>();
    reader->SetProperty(LexicalHandlerProperty, static_cast<ISAXLexicalHandler*>(first.get()));
    EXPECT_EQ(reader->GetProperty(LexicalHandlerProperty), static_cast<IInterface*>(first.get()));
    reader->SetProperty(LexicalHandlerProperty, static_cast<ISAXLexicalHandler*>(second.get()));
    reader->SetProperty(DeclHandlerProperty, static_cast<ISAXDeclHandler*>(second.get()));
    TSAXStringInputSource input("<!DOCTYPE r [<!ENTITY e \"x\">]><r><!--c--></r>");
    reader->Parse(&input);
    EXPECT_TRUE(first->Events.empty());
    const TEvents expected = {"startDTD r  ", "internalEntityDecl e x", "endDTD", "comment c"};
    EXPECT_EQ(second->Events, expected);
}

TEST(SaxReader, PlatformFeatures) {
    auto reader = MakeInterfaced<TSAX2MSReader>();
    EXPECT_TRUE(reader->GetFeature(NamespacesFeature));
    EXPECT_FALSE(reader->GetFeature(NamespacePrefixesFeature));
    EXPECT_FALSE(reader->GetFeature(ValidationFeature));
    EXPECT_THROW(reader->GetFeature("urn:unknown"), ESAXPlatformError);
    try {
        reader->SetFeature(ValidationFeature, true);
        ADD_FAILURE();
    } catch (const ESAXNotRecognizedException& e) {
        EXPECT_NE(e.Message().find(ValidationFeature), std::string::npos);
        ASSERT_NE(e.WrappedException(), nullptr);
        EXPECT_EQ(e.Message(), e.WrappedException()->what());
    }
    EXPECT_THROW(reader->SetFeature("urn:unknown", true), ESAXNotRecognizedException);

    // Without namespace processing: no URIs, local names or prefix mappings; xmlns attributes are listed.
    const TParseResult plain =
        ParseText("<p:a xmlns:p=\"urn:p\" p:x=\"1\"/>",
                  [](TSaxRecorder&, TSAX2MSReader& r) { r.SetFeature(NamespacesFeature, false); });
    const TEvents plainExpected = {"startDocument", "start {} p:a [{} xmlns:p=urn:p CDATA] [{} p:x=1 CDATA]",
                                   "end {} p:a", "endDocument"};
    EXPECT_EQ(plain.events, plainExpected);

    const TParseResult prefixed = ParseText("<a xmlns=\"urn:d\"/>", [](TSaxRecorder& rec, TSAX2MSReader& r) {
        r.SetFeature(NamespacePrefixesFeature, true);
        rec.OnEvent = [&r](const std::string& e) {
            if (e == "startDocument")
                r.SetFeature(NamespacesFeature, true); // not refused while parsing
        };
    });
    ASSERT_TRUE(prefixed.ok) << prefixed.error;
    EXPECT_EQ(prefixed.events[2],
              "start {urn:d}a a [{http://www.w3.org/2000/xmlns/}xmlns xmlns=urn:d CDATA]");
}

TEST(SaxReader, LocatorFollowsTheParse) {
    auto reader = MakeInterfaced<TSAX2MSReader>();
    EXPECT_EQ(reader->GetLineNumber(), -1);
    EXPECT_EQ(reader->GetColumnNumber(), -1);
    EXPECT_EQ(reader->GetSystemId(), "");
    struct TPositions : TSAXDefaultHandler {
        ISAXLocator* locator = nullptr;
        std::vector<std::pair<int, int>> at;
        bool locatorSet = false;
        void SetDocumentLocator(ISAXLocator*) override { locatorSet = true; }
        void StartElement(const std::string&, const std::string&, const std::string&,
                          ISAXAttributes*) override {
            at.emplace_back(locator->GetLineNumber(), locator->GetColumnNumber());
        }
    };
    auto positions = MakeInterfaced<TPositions>();
    positions->locator = reader.get();
    reader->SetContentHandler(positions.get());
    TSAXStringInputSource input("<a>\n\n  <b/>\n</a>");
    reader->Parse(&input);
    const std::vector<std::pair<int, int>> expected = {{1, 3}, {3, 5}}; // libxml2's position there
    EXPECT_EQ(positions->at, expected);
    EXPECT_FALSE(positions->locatorSet);
    EXPECT_GE(reader->GetLineNumber(), 4);
}

TEST(SaxReader, AHandlerReplacedDuringTheParseGetsTheNextEvents) {
    auto second = MakeInterfaced<TSaxRecorder>();
    const TParseResult r = ParseText("<a><b/><c/></a>", [&](TSaxRecorder& rec, TSAX2MSReader& reader) {
        rec.OnEvent = [&](const std::string& e) {
            if (e == "end {}b b")
                reader.SetContentHandler(second.get());
        };
    });
    ASSERT_TRUE(r.ok) << r.error;
    const TEvents expected = {"start {}c c", "end {}c c", "end {}a a", "endDocument"};
    EXPECT_EQ(second->Events, expected);
    EXPECT_EQ(r.events.back(), "end {}b b");
}

TEST(SaxReader, ParsesTheRealNasFiles) {
    for (const char* file : {"bestand_bonn.xml", "bestand_bonn_gid71.xml", "nba_bonn.xml",
                             "nba_bonn_gid71.xml", "slices/AX_Flurstueck.xml", "slices/AX_Gebaeude.xml"}) {
        auto recorder = MakeInterfaced<TSaxRecorder>();
        auto reader = RecordingReader(recorder.get());
        ASSERT_NO_THROW(reader->Parse(TestDataDir() + "/" + file)) << file;
        const auto count = [&](const std::string& prefix) {
            return std::count_if(recorder->Events.begin(), recorder->Events.end(),
                                 [&](auto& e) { return e.rfind(prefix, 0) == 0; });
        };
        EXPECT_EQ(count("error"), 0) << file;
        EXPECT_EQ(count("fatal"), 0) << file;
        EXPECT_EQ(count("start "), count("end ")) << file;
        if (std::string(file) == "bestand_bonn.xml") {
            EXPECT_EQ(count("start {http://www.opengis.net/gml/3.2}featureMember gml:featureMember"), 12);
            EXPECT_EQ(
                count(
                    "start {http://www.adv-online.de/namespaces/adv/gid/7.1}AX_Flurstueck adv:AX_Flurstueck "
                    "[{http://www.opengis.net/gml/3.2}id gml:id=DENW36AL10000Ehc CDATA]"),
                1);
        }
    }
}

} // namespace
