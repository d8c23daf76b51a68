#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "TestDatabase.h"
#include "platform/xml/XmlDom.h"

namespace fs = std::filesystem;

namespace {

// A folder of its own per test, removed afterwards.
class TTempDir {
public:
    TTempDir() {
        path = fs::temp_directory_path() /
               ("kelpora-xml-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(path);
    }
    ~TTempDir() { fs::remove_all(path); }
    std::string File(const std::string& name) const { return (path / name).string(); }
    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(File(name), std::ios::binary) << text;
        return File(name);
    }

private:
    static inline int counter = 0;
    fs::path path;
};

std::vector<std::string> Names(const std::vector<TXmlNode>& nodes) {
    std::vector<std::string> names;
    for (const TXmlNode& n : nodes)
        names.push_back(n.NodeName());
    return names;
}

} // namespace

TEST(XmlDom, ReadsNamesTextsAndAttributesAsWritten) {
    const auto doc =
        TXmlDocument::LoadXml("<?xml version=\"1.0\"?>\n"
                              "<position xmlns:gml=\"http://www.opengis.net/gml/3.2\" xmlns=\"urn:nas\">\n"
                              "  <gml:Point gml:id=\"P1\" srsName=\"urn:adv:crs:ETRS89_UTM32\" empty=\"\">\n"
                              "    <gml:pos> 1 2 </gml:pos>\n"
                              "  </gml:Point>\n"
                              "  <!-- a comment --><?pi data?>\n"
                              "  <note>a &amp; b<![CDATA[<raw>]]></note>\n"
                              "</position>");
    const TXmlNode root = doc->Root();
    ASSERT_FALSE(root.IsNull());
    EXPECT_EQ(root.NodeName(), "position");
    EXPECT_EQ(root.NamespaceURI(), "urn:nas");
    EXPECT_TRUE(root.Parent().IsNull());
    // White-space-only texts, comments and processing instructions are not children.
    EXPECT_EQ(Names(root.ChildNodes()), (std::vector<std::string>{"gml:Point", "note"}));

    const TXmlNode point = root.FirstChild();
    EXPECT_TRUE(point.IsElement());
    EXPECT_EQ(point.LocalName(), "Point");
    EXPECT_EQ(point.Prefix(), "gml");
    EXPECT_EQ(point.NamespaceURI(), "http://www.opengis.net/gml/3.2");
    EXPECT_EQ(point.Attribute("gml:id"), "P1");
    EXPECT_EQ(point.Attribute("id"), "") << "an attribute is found by its qualified name only";
    EXPECT_EQ(point.Attribute("srsName"), "urn:adv:crs:ETRS89_UTM32");
    EXPECT_TRUE(point.HasAttribute("empty"));
    EXPECT_EQ(point.Attribute("empty"), "");
    EXPECT_FALSE(point.HasAttribute("missing"));
    EXPECT_EQ(root.Attribute("xmlns:gml"), "http://www.opengis.net/gml/3.2");
    EXPECT_EQ(root.Attribute("xmlns"), "urn:nas");
    EXPECT_TRUE(point.Parent() == root);

    const TXmlNode pos = point.FirstChild();
    EXPECT_EQ(pos.NodeName(), "gml:pos");
    ASSERT_EQ(pos.ChildNodes().size(), 1u);
    EXPECT_TRUE(pos.FirstChild().IsText());
    EXPECT_EQ(pos.FirstChild().NodeName(), "#text");
    EXPECT_EQ(pos.FirstChild().Text(), " 1 2 ") << "texts stay as written";
    EXPECT_TRUE(pos.FirstChild().FirstChild().IsNull());

    const TXmlNode note = point.NextSibling();
    EXPECT_EQ(Names(note.ChildNodes()), (std::vector<std::string>{"#text", "#cdata-section"}));
    EXPECT_TRUE(note.ChildNodes()[1].IsText());
    EXPECT_EQ(note.Text(), "a & b<raw>");
    EXPECT_TRUE(note.NextSibling().IsNull());
}

TEST(XmlDom, MalformedTextGivesMessageLineAndColumn) {
    struct Case {
        const char* text;
        const char* message;
        int line;
    };
    const Case cases[] = {
        {"<a><b></a>", "Opening and ending tag mismatch", 1},
        {"<a>\n<b>\n", "Premature end of data", 3},
        {"", "Document is empty", 1},
        {"<a x='1' x='2'/>", "Attribute x redefined", 1},
        {"<a>&undefined;</a>", "Entity 'undefined' not defined", 1},
        {"<a/><b/>", "Extra content at the end of the document", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            TXmlDocument::LoadXml(c.text);
            ADD_FAILURE() << "loaded";
        } catch (const EXmlError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
            EXPECT_EQ(e.Line(), c.line);
            EXPECT_GT(e.Column(), 0);
        }
    }
}

TEST(XmlDom, HostileTextsLoadNothingFromOutside) {
    TTempDir dir;
    const std::string secret = dir.Write("secret.txt", "top secret");
    // Entity expansion bomb: refused, not expanded.
    EXPECT_THROW(TXmlDocument::LoadFile(TestDataDir() + "/hostile/billionlaugh.xml"), EXmlError);
    // An external entity is never read.
    const std::string xxe = "<!DOCTYPE a [<!ENTITY x SYSTEM \"file://" + secret + "\">]><a>&x;</a>";
    try {
        const auto doc = TXmlDocument::LoadXml(xxe);
        EXPECT_EQ(doc->Root().Text().find("top secret"), std::string::npos);
        EXPECT_EQ(doc->Xml().find("top secret"), std::string::npos);
    } catch (const EXmlError&) {
        // refusing the document is just as good
    }
    // Nesting is bounded, so the recursive walks over a loaded document cannot exhaust the stack.
    std::string deep;
    for (int i = 0; i < 10000; ++i)
        deep += "<gml:x>";
    EXPECT_THROW(TXmlDocument::LoadXml("<a xmlns:gml=\"urn:g\">" + deep), EXmlError);
    // An external DTD on an unreachable host is not fetched: the document loads at once.
    const auto doc = TXmlDocument::LoadXml("<!DOCTYPE a SYSTEM \"http://192.0.2.1/x.dtd\"><a>1</a>");
    EXPECT_EQ(doc->Root().Text(), "1");
}

TEST(XmlDom, BuildsSerialisesSavesAndLoadsAgain) {
    TTempDir dir;
    TXmlDocument doc;
    EXPECT_TRUE(doc.Root().IsNull());
    EXPECT_EQ(doc.Xml(), "");
    EXPECT_TRUE(doc.Active);

    TXmlNode root = doc.CreateRoot("import");
    root.AddChild("date").AddText("10.12.2026");
    TXmlNode objects = root.AddChild("objects");
    objects.AddChild("AX_Flurstueck").AddText("12");
    TXmlNode file = root.AddChild("file");
    file.SetAttribute("name", "a&b<\"c\".xml");
    file.SetAttribute("name", "a&b<\"c\".xml"); // setting again replaces
    file.AddText("x < y & z");
    EXPECT_EQ(root.Xml(),
              "<import><date>10.12.2026</date><objects><AX_Flurstueck>12</AX_Flurstueck></objects>"
              "<file name=\"a&amp;b&lt;&quot;c&quot;.xml\">x &lt; y &amp; z</file></import>");
    EXPECT_NE(doc.Xml().find("<?xml version=\"1.0\""), std::string::npos);

    const std::string path = dir.File("tmp.xml");
    doc.SaveFile(path);
    const auto again = TXmlDocument::LoadFile(path);
    EXPECT_EQ(again->Root().Xml(), root.Xml()) << "the saved indentation does not come back as texts";
    EXPECT_EQ(again->Root().ChildNodes()[2].Attribute("name"), "a&b<\"c\".xml");

    // Loading in place replaces the content and keeps the flag; a failed load changes nothing.
    TXmlDocument log;
    log.Active = false;
    log.LoadFromFile(path);
    EXPECT_EQ(log.Root().Xml(), root.Xml());
    EXPECT_FALSE(log.Active);
    EXPECT_THROW(log.LoadFromXml("<broken"), EXmlError);
    EXPECT_EQ(log.Root().NodeName(), "import");
    log.LoadFromXml("<html/>");
    EXPECT_EQ(log.Xml(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html/>\n");
    TXmlDocument moved = std::move(log);
    EXPECT_EQ(moved.Root().NodeName(), "html");

    // Clearing the root keeps the root; a new root replaces the old one.
    root.RemoveChildren();
    EXPECT_EQ(root.Xml(), "<import/>");
    root.AddChild("date");
    EXPECT_EQ(doc.CreateRoot("other").Xml(), "<other/>");
    EXPECT_EQ(doc.Root().NodeName(), "other");

    EXPECT_THROW(doc.SaveFile(dir.File("no/such/folder/x.xml")), EXmlError);
    EXPECT_THROW(TXmlDocument().SaveFile(dir.File("empty.xml")), EXmlError);
    EXPECT_THROW(TXmlDocument::LoadFile(dir.File("missing.xml")), EXmlError);
}

TEST(XmlDom, NamespacedElementsAndCopiesKeepTheirNamespaces) {
    const char* gmd = "http://www.isotc211.org/2005/gmd";
    const char* gco = "http://www.isotc211.org/2005/gco";
    const auto doc = TXmlDocument::LoadXml(
        std::string("<attr xmlns=\"urn:nas\" xmlns:gmd=\"") + gmd + "\" xmlns:gco=\"" + gco +
        "\"><gmd:LI_Lineage><gmd:processStep><gco:CharacterString>A"
        "</gco:CharacterString></gmd:processStep><gmd:processStep>"
        "<gmd:x><gmd:processStep/></gmd:x></gmd:processStep></gmd:LI_Lineage>"
        "</attr>");
    const TXmlNode lineage = doc->Root().FirstChild();

    const auto steps = doc->Root().ElementsByName("gmd:processStep");
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_TRUE(steps[0].Parent() == lineage);
    EXPECT_EQ(steps[2].Parent().NodeName(), "gmd:x") << "document order, nested ones after their ancestor";
    EXPECT_TRUE(steps[0].ElementsByName("gmd:processStep").empty());

    // The copy declares on its root the namespaces declared further up.
    const auto copy = TXmlDocument::FromNode(lineage);
    const TXmlNode croot = copy->Root();
    EXPECT_EQ(croot.NodeName(), "gmd:LI_Lineage");
    EXPECT_EQ(croot.NamespaceURI(), gmd);
    EXPECT_EQ(croot.ElementsByName("gmd:processStep").size(), 3u);
    const auto reloaded = TXmlDocument::LoadXml(copy->Xml());
    EXPECT_EQ(reloaded->Root().ElementsByName("gco:CharacterString")[0].NamespaceURI(), gco);
    EXPECT_EQ(reloaded->Root().Text(), "A");
    EXPECT_EQ(doc->Root().FirstChild().NodeName(), "gmd:LI_Lineage") << "the original stays as it was";

    // A declared prefix binds new elements; an undeclared one is kept as written.
    TXmlDocument built;
    TXmlNode r = built.CreateRoot("attr");
    r.SetAttribute("xmlns:gmd", gmd);
    TXmlNode step = r.AddChild("gmd:processStep");
    EXPECT_EQ(step.NodeName(), "gmd:processStep");
    EXPECT_EQ(step.NamespaceURI(), gmd);
    EXPECT_EQ(r.AddChild("plain").NamespaceURI(), "");
    const auto back = TXmlDocument::LoadXml(built.Xml());
    EXPECT_EQ(back->Root().ElementsByName("gmd:processStep").size(), 1u);
    EXPECT_EQ(back->Root().Attribute("xmlns:gmd"), gmd);

    EXPECT_THROW(TXmlDocument::FromNode(TXmlNode()), EXmlError);
}

TEST(XslTransformer, TransformsAndReportsFailures) {
    TTempDir dir;
    const auto doc = TXmlDocument::LoadXml("<import><date>10.12.2026</date><objects><AX_Wald>3</AX_Wald>"
                                           "<AX_Turm>1</AX_Turm></objects></import>");
    const std::string header = "<xsl:stylesheet version=\"1.0\" "
                               "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">";
    const std::string sheet = dir.Write(
        "Kelpora.XSL", header + "<xsl:output method=\"xml\" omit-xml-declaration=\"yes\"/>"
                                "<xsl:template match=\"/import\"><html><p><xsl:value-of select=\"date\"/></p>"
                                "<xsl:for-each select=\"objects/*\"><li><xsl:value-of select=\"name()\"/>="
                                "<xsl:value-of select=\".\"/></li></xsl:for-each></html></xsl:template>"
                                "</xsl:stylesheet>");
    const TXslTransformer xslt;
    EXPECT_EQ(xslt.Transform(*doc, sheet),
              "<html><p>10.12.2026</p><li>AX_Wald=3</li><li>AX_Turm=1</li></html>\n");

    EXPECT_THROW(xslt.Transform(*doc, dir.File("missing.XSL")), EXmlError);
    EXPECT_THROW(xslt.Transform(*doc, dir.Write("bad.XSL", header + "<xsl:template>")), EXmlError);
    EXPECT_THROW(xslt.Transform(*doc, dir.Write("notxsl.XSL", header + "<xsl:bogus/></xsl:stylesheet>")),
                 EXmlError);
    EXPECT_THROW(xslt.Transform(TXmlDocument(), sheet), EXmlError);
    try {
        xslt.Transform(
            *doc, dir.Write("msg.XSL", header + "<xsl:template match=\"/\"><xsl:message terminate=\"yes\">"
                                                "stopped here</xsl:message></xsl:template>"
                                                "</xsl:stylesheet>"));
        ADD_FAILURE() << "a terminating style sheet succeeded";
    } catch (const EXmlError& e) {
        EXPECT_NE(std::string(e.what()).find("stopped here"), std::string::npos) << e.what();
    }

    // A style sheet may not write files.
    const std::string target = dir.File("written.txt");
    EXPECT_THROW(
        xslt.Transform(*doc, dir.Write("write.XSL", "<xsl:stylesheet version=\"1.1\" "
                                                    "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
                                                    "<xsl:template match=\"/\"><xsl:document href=\"" +
                                                        target +
                                                        "\">x</xsl:document><r/></xsl:template>"
                                                        "</xsl:stylesheet>")),
        EXmlError);
    EXPECT_FALSE(fs::exists(target));
}
