// The layer's building blocks: identifiers and reference counting, exceptions and input source, the
// attribute list, the handler bases and the abstract reader's handlers and features.
#include "SaxRecorder.h"
#include "TestDatabase.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

template <class I> bool Answers(IInterface* obj) {
    return static_cast<bool>(Supports<I>(obj));
}

TEST(SaxInterfaces, GuidsParseIntoTheirFieldsAndDiffer) {
    constexpr TGUID g = ISAXContentHandler::IID;
    EXPECT_EQ(g.D1, 0xF430E0E1u);
    EXPECT_EQ(g.D2, 0x3B30u);
    EXPECT_EQ(g.D3, 0x11D4u);
    const std::uint8_t tail[8] = {0x9A, 0xBD, 0x98, 0xF2, 0xDF, 0x77, 0xD5, 0x46};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(g.D4[i], tail[i]) << i;
    const TGUID all[] = {ISAXEntityResolver::IID, ISAXDTDHandler::IID,      ISAXLocator::IID,
                         ISAXAttributeList::IID,  ISAXDocumentHandler::IID, ISAXErrorHandler::IID,
                         ISAXAttributes::IID,     ISAXContentHandler::IID,  ISAXXMLReader::IID,
                         ISAXDeclHandler::IID,    ISAXLexicalHandler::IID,  IInterface::IID};
    for (std::size_t i = 0; i < std::size(all); ++i)
        for (std::size_t j = i + 1; j < std::size(all); ++j)
            EXPECT_FALSE(all[i] == all[j]) << i << " " << j;
}

TEST(SaxInterfaces, AttributeTypeNames) {
    ASSERT_EQ(SAXAttributeTypeNames.size(), 9u);
    EXPECT_EQ(SAXAttributeTypeNames[atCData], "CDATA");
    EXPECT_EQ(SAXAttributeTypeNames[atId], "ID");
    EXPECT_EQ(SAXAttributeTypeNames[atIdrefs], "IDREFS");
    EXPECT_EQ(SAXAttributeTypeNames[atNotation], "NOTATION");
    EXPECT_EQ(sizeof(TSAXAttributeType), 1u);
}

TEST(SaxInterfaces, QueryInterfaceAnswersExactlyTheImplementedInterfaces) {
    auto handler = MakeInterfaced<TSAXDefaultHandler>();
    auto base = MakeInterfaced<TSAXHandlerBase>();
    auto attributes = MakeInterfaced<TSAXAttributes>();
    auto reader = MakeInterfaced<TSAX2MSReader>();
    auto lexical = MakeInterfaced<TSAX2MSLexicalAdapter>(nullptr);
    auto decl = MakeInterfaced<TSAX2MSDeclAdapter>(nullptr);

    EXPECT_TRUE(Answers<IInterface>(handler.get()));
    EXPECT_TRUE(Answers<ISAXContentHandler>(handler.get()));
    EXPECT_TRUE(Answers<ISAXErrorHandler>(handler.get()));
    EXPECT_TRUE(Answers<ISAXDTDHandler>(handler.get()));
    EXPECT_TRUE(Answers<ISAXEntityResolver>(handler.get()));
    EXPECT_FALSE(Answers<ISAXDocumentHandler>(handler.get()));
    EXPECT_FALSE(Answers<ISAXAttributeList>(handler.get()));
    EXPECT_FALSE(Answers<ISAXXMLReader>(handler.get()));

    EXPECT_TRUE(Answers<ISAXDocumentHandler>(base.get()));
    EXPECT_TRUE(Answers<ISAXErrorHandler>(base.get()));
    EXPECT_FALSE(Answers<ISAXContentHandler>(base.get()));
    EXPECT_FALSE(Answers<ISAXAttributeList>(base.get()));

    EXPECT_TRUE(Answers<ISAXAttributes>(attributes.get()));
    EXPECT_FALSE(Answers<ISAXAttributeList>(attributes.get()));

    EXPECT_TRUE(Answers<ISAXXMLReader>(reader.get()));
    EXPECT_TRUE(Answers<ISAXLocator>(reader.get()));
    EXPECT_FALSE(Answers<ISAXContentHandler>(reader.get()));
    EXPECT_FALSE(Answers<ISAXAttributeList>(reader.get()));

    EXPECT_TRUE(Answers<IDispatch>(lexical.get()));
    EXPECT_TRUE(Answers<IVBSAXLexicalHandler>(lexical.get()));
    EXPECT_FALSE(Answers<IVBSAXDeclHandler>(lexical.get()));
    EXPECT_TRUE(Answers<IVBSAXDeclHandler>(decl.get()));
    EXPECT_FALSE(Answers<IVBSAXLexicalHandler>(decl.get()));
}

TEST(SaxInterfaces, AdaptersAnswerNotImplementedForLateBinding) {
    auto adapter = MakeInterfaced<TSAX2MSLexicalAdapter>(nullptr);
    std::int32_t count = 7;
    EXPECT_EQ(adapter->GetTypeInfoCount(&count), E_NOTIMPL);
    EXPECT_EQ(adapter->GetTypeInfo(0, 0, nullptr), E_NOTIMPL);
    EXPECT_EQ(adapter->GetIDsOfNames(IDispatch::IID, nullptr, 0, 0, nullptr), E_NOTIMPL);
    EXPECT_EQ(adapter->Invoke(0, IDispatch::IID, 0, 0, nullptr, nullptr, nullptr, nullptr), E_NOTIMPL);
}

// A reader that tells when it is destroyed and lets a test drive ParseInput.
class TProbeReader : public TSAXCustomXMLReader {
public:
    explicit TProbeReader(bool* destroyed = nullptr) : FDestroyed(destroyed) {}
    ~TProbeReader() override {
        if (FDestroyed)
            *FDestroyed = true;
    }
    std::function<void(TSAXInputSource*)> Body;

protected:
    void ParseInput(TSAXInputSource* Input) override {
        if (Body)
            Body(Input);
    }

private:
    bool* FDestroyed;
};

TEST(SaxInterfaces, ReferenceCountingDestroysAtZero) {
    bool destroyed = false;
    auto* reader = new TProbeReader(&destroyed);
    EXPECT_EQ(reader->RefCount(), 0);
    EXPECT_EQ(reader->_AddRef(), 1);

    void* obj = reinterpret_cast<void*>(1);
    EXPECT_EQ(reader->QueryInterface(ISAXContentHandler::IID, &obj), E_NOINTERFACE);
    EXPECT_EQ(obj, nullptr);
    EXPECT_EQ(reader->RefCount(), 1);
    ASSERT_EQ(reader->QueryInterface(IInterface::IID, &obj), S_OK);
    EXPECT_EQ(reader->RefCount(), 2);
    EXPECT_EQ(static_cast<IInterface*>(obj)->_Release(), 1);

    {
        TInterfacePtr<ISAXXMLReader> held = Supports<ISAXXMLReader>(reader);
        EXPECT_EQ(reader->RefCount(), 2);
    }
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(reader->_Release(), 0);
    EXPECT_TRUE(destroyed);
}

// ---- exceptions and input source ----------------------------------------------------------------------

TEST(SaxExceptions, MessageFallsBackToTheWrappedExceptionOneLevelDeep) {
    auto wrapped = std::make_shared<const std::runtime_error>("inner");
    EXPECT_EQ(ESAXException(wrapped).Message(), "inner");
    EXPECT_STREQ(ESAXException(wrapped).what(), "");
    EXPECT_EQ(ESAXException("own", wrapped).Message(), "own");
    EXPECT_EQ(ESAXException(std::string()).Message(), "");
    auto emptySax = std::make_shared<const ESAXException>(std::string(), wrapped);
    EXPECT_EQ(ESAXException(emptySax).Message(), "");
    EXPECT_EQ(ESAXException("m").WrappedException(), nullptr);
    EXPECT_EQ(ESAXNotSupportedException("Feature : x").Message(), "Feature : x");
}

TEST(SaxExceptions, ParseExceptionKeepsItsPosition) {
    const ESAXParseException e("(5) text", "pub", "sys", 12, 34);
    EXPECT_EQ(e.Message(), "(5) text");
    EXPECT_EQ(e.PublicId(), "pub");
    EXPECT_EQ(e.SystemId(), "sys");
    EXPECT_EQ(e.LineNumber(), 12);
    EXPECT_EQ(e.ColumnNumber(), 34);

    // A reader that has not parsed yet reports no position.
    auto reader = MakeInterfaced<TSAX2MSReader>();
    const ESAXParseException fromLocator("m", static_cast<ISAXLocator*>(reader.get()));
    EXPECT_EQ(fromLocator.LineNumber(), -1);
    EXPECT_EQ(fromLocator.ColumnNumber(), -1);
    EXPECT_EQ(fromLocator.PublicId(), "");
    EXPECT_THROW(ESAXParseException("m", static_cast<ISAXLocator*>(nullptr)), std::invalid_argument);
}

TEST(SaxInputSource, OpensReadsAndNamesTheFile) {
    const auto dir = std::filesystem::temp_directory_path() / ("kelpora-sax-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "a.xml").string();
    std::ofstream(path) << "<a/>";

    TSAXInputSource input(path);
    EXPECT_EQ(input.SystemId(), path);
    EXPECT_EQ(input.PublicId(), "");
    EXPECT_EQ(input.Encoding(), "");
    char buf[16];
    EXPECT_EQ(input.Read(buf, sizeof buf), 4u);
    EXPECT_EQ(std::string(buf, 4), "<a/>");
    EXPECT_EQ(input.Read(buf, sizeof buf), 0u);
    std::filesystem::remove_all(dir);
}

TEST(SaxInputSource, MissingFileGivesTheFileOpenErrorWithTheFullPath) {
    const std::string expected = (std::filesystem::current_path() / "no-such-dir/missing.xml").string();
    try {
        TSAXInputSource input("no-such-dir/./missing.xml");
        FAIL() << "opened a missing file";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Datei " + expected + " kann nicht geöffnet werden. No such file or directory");
    }
    try {
        TSAXInputSource input(TestDataDir() + "/slices");
        FAIL() << "opened a folder";
    } catch (const EFOpenError& e) {
        const std::string folder =
            std::filesystem::path(TestDataDir() + "/slices").lexically_normal().string();
        EXPECT_EQ(std::string(e.what()), "Datei " + folder + " kann nicht geöffnet werden. Is a directory");
    }
}

// ---- attribute list -----------------------------------------------------------------------------------

TEST(SaxAttributes, EmptyListAndBadIndexesGiveNeutralAnswers) {
    TSAXAttributes list;
    EXPECT_EQ(list.Length(), 0);
    EXPECT_EQ(list.QName(0), "");
    EXPECT_EQ(list.Value(0), "");
    EXPECT_EQ(list.AttrType(0), atCData);
    EXPECT_EQ(list.Index("a"), -1);
    EXPECT_EQ(list.Index("", "a"), -1);
    list.AddAttribute("u", "l", "q", "v", atId);
    EXPECT_EQ(list.Value(-1), "");
    EXPECT_EQ(list.LocalName(list.Length()), "");
    EXPECT_EQ(list.AttrType(1), atCData);
    EXPECT_EQ(list.Value("missing"), "");
    EXPECT_EQ(list.AttrType("missing"), atCData);
}

TEST(SaxAttributes, LookupsByQualifiedNameIgnoreCaseByUriAndLocalNameDoNot) {
    TSAXAttributes list;
    list.AddAttribute("urn:g", "id", "gml:id", "first", atId);
    list.AddAttribute("", "href", "xlink:HREF", "h", atCData);
    list.AddAttribute("urn:g", "id", "gml:id", "second", atCData);
    list.AddAttribute("", "name", "Straße", "s", atCData);
    EXPECT_EQ(list.Length(), 4);
    EXPECT_EQ(list.Index("gml:id"), 0);
    EXPECT_EQ(list.Value("GML:ID"), "first");
    EXPECT_EQ(list.Index("xlink:href"), 1);
    EXPECT_EQ(list.Index("STRASSE"), -1);
    EXPECT_EQ(list.Index("straße"), 3);
    EXPECT_EQ(list.AttrType("gml:id"), atId);
    EXPECT_EQ(list.Index("urn:g", "id"), 0);
    EXPECT_EQ(list.Index("urn:g", "ID"), -1);
    EXPECT_EQ(list.Index("URN:G", "id"), -1);
    EXPECT_EQ(list.Value("urn:g", "id"), "first");
    EXPECT_EQ(list.AttrType("", "href"), atCData);
}

TEST(SaxAttributes, EditingOperations) {
    TSAXAttributes list;
    list.AddAttribute("u1", "a", "p:a", "1", atCData);
    list.AddAttribute("u2", "b", "p:b", "2", atCData);

    list.SetQName(1, "P:A");
    EXPECT_EQ(list.QName(1), "P:A");
    EXPECT_EQ(list.Index("p:a"), 0); // the earlier entry still wins
    list.SetQName(1, "x:y");
    EXPECT_EQ(list.Index("x:y"), 1);
    list.SetValue(1, "v");
    list.SetURI(1, "u");
    list.SetLocalName(1, "y");
    list.SetAttrType(1, atNMTokens);
    EXPECT_EQ(list.Value("u", "y"), "v");
    EXPECT_EQ(list.AttrType(1), atNMTokens);
    list.SetAttribute(0, "n", "m", "n:m", "w", atEntity);
    EXPECT_EQ(list.Index("n:m"), 0);
    EXPECT_EQ(list.AttrType(0), atEntity);

    list.RemoveAttribute(0);
    ASSERT_EQ(list.Length(), 1);
    EXPECT_EQ(list.QName(0), "x:y");

    TSAXAttributes copy(&list);
    EXPECT_EQ(copy.Length(), 1);
    EXPECT_EQ(copy.Value(0), "v");
    EXPECT_EQ(copy.AttrType(0), atNMTokens);
    copy.SetAttributes(nullptr);
    EXPECT_EQ(copy.Length(), 0);

    list.Clear();
    EXPECT_EQ(list.Length(), 0);
    EXPECT_EQ(list.QName(0), "");
}

TEST(SaxAttributes, EditingABadIndexRaisesTheListIndexErrorAndChangesNothing) {
    TSAXAttributes list;
    list.AddAttribute("", "a", "a", "1", atCData);
    const std::vector<std::pair<const char*, std::function<void()>>> edits = {
        {"RemoveAttribute", [&] { list.RemoveAttribute(1); }},
        {"SetAttribute", [&] { list.SetAttribute(-1, "", "", "", "", atCData); }},
        {"SetAttrType", [&] { list.SetAttrType(1, atId); }},
        {"SetLocalName", [&] { list.SetLocalName(1, "x"); }},
        {"SetQName", [&] { list.SetQName(1, "x"); }},
        {"SetURI", [&] { list.SetURI(1, "x"); }},
        {"SetValue", [&] { list.SetValue(1, "x"); }},
    };
    for (const auto& [name, edit] : edits) {
        try {
            edit();
            ADD_FAILURE() << name << " accepted a bad index";
        } catch (const EListError& e) {
            const std::string expected = std::string(name) == "SetAttribute" ? "-1" : "1";
            EXPECT_EQ(std::string(e.what()), "Listenindex überschreitet das Maximum (" + expected + ")")
                << name;
        }
        EXPECT_EQ(list.Length(), 1) << name;
        EXPECT_EQ(list.QName(0), "a") << name;
    }
}

// ---- handler bases ------------------------------------------------------------------------------------

TEST(SaxHandlers, FatalErrorRaisesTheErrorErrorAndWarningReturn) {
    auto sax2 = MakeInterfaced<TSAXDefaultHandler>();
    auto sax1 = MakeInterfaced<TSAXHandlerBase>();
    const ESAXParseException e("(1) boom", "p", "s", 3, 4);
    for (ISAXErrorHandler* h :
         {static_cast<ISAXErrorHandler*>(sax2.get()), static_cast<ISAXErrorHandler*>(sax1.get())}) {
        EXPECT_NO_THROW(h->Error(e));
        EXPECT_NO_THROW(h->Warning(e));
        try {
            h->FatalError(e);
            ADD_FAILURE() << "FatalError returned";
        } catch (const ESAXParseException& raised) {
            EXPECT_EQ(raised.Message(), "(1) boom");
            EXPECT_EQ(raised.LineNumber(), 3);
            EXPECT_EQ(raised.ColumnNumber(), 4);
        }
    }
    EXPECT_EQ(sax2->ResolveEntity("p", "file.xml"), nullptr);
    EXPECT_EQ(sax1->ResolveEntity("", ""), nullptr);
}

TEST(SaxHandlers, AnOverrideServesTheInterface) {
    struct TCounter : TSAXDefaultHandler {
        int starts = 0;
        void StartElement(const std::string&, const std::string&, const std::string&,
                          ISAXAttributes*) override {
            ++starts;
        }
    };
    auto counter = MakeInterfaced<TCounter>();
    TInterfacePtr<ISAXContentHandler> content = Supports<ISAXContentHandler>(counter.get());
    content->StartElement("", "a", "a", nullptr);
    EXPECT_EQ(counter->starts, 1);
}

TEST(SaxHandlers, ReadersShareTheDefaultHandlerOneReferencePerSlot) {
    TSAXDefaultHandler* shared = SharedDefaultHandler();
    const std::int32_t before = shared->RefCount();
    {
        auto a = MakeInterfaced<TProbeReader>();
        EXPECT_EQ(shared->RefCount(), before + 4);
        auto b = MakeInterfaced<TProbeReader>();
        b->SetContentHandler(nullptr);
        EXPECT_EQ(shared->RefCount(), before + 8);
        EXPECT_EQ(a->GetContentHandler(), b->GetContentHandler());
        EXPECT_EQ(a->GetContentHandler(), static_cast<ISAXContentHandler*>(shared));
        EXPECT_EQ(a->GetErrorHandler(), static_cast<ISAXErrorHandler*>(shared));
        EXPECT_EQ(a->GetDTDHandler(), static_cast<ISAXDTDHandler*>(shared));
        EXPECT_EQ(a->GetEntityResolver(), static_cast<ISAXEntityResolver*>(shared));

        auto own = MakeInterfaced<TSAXDefaultHandler>();
        a->SetContentHandler(own.get());
        EXPECT_EQ(a->GetContentHandler(), static_cast<ISAXContentHandler*>(own.get()));
        EXPECT_EQ(shared->RefCount(), before + 7);
        a->SetContentHandler(nullptr);
        EXPECT_EQ(a->GetContentHandler(), static_cast<ISAXContentHandler*>(shared));
    }
    EXPECT_EQ(shared->RefCount(), before);
}

// ---- abstract reader ----------------------------------------------------------------------------------

TEST(SaxCustomReader, NewReaderState) {
    auto reader = MakeInterfaced<TProbeReader>();
    EXPECT_TRUE(reader->GetFeature(NamespacesFeature));
    EXPECT_FALSE(reader->GetFeature(NamespacePrefixesFeature));
    EXPECT_EQ(reader->GetLineNumber(), -1);
    EXPECT_EQ(reader->GetColumnNumber(), -1);
    EXPECT_EQ(reader->GetPublicId(), "");
    EXPECT_EQ(reader->GetSystemId(), "");
    EXPECT_FALSE(reader->Parsing());
}

TEST(SaxCustomReader, NamespaceFeaturesKeepOneOfThemOn) {
    auto reader = MakeInterfaced<TProbeReader>();
    reader->SetFeature(NamespacesFeature, false);
    EXPECT_FALSE(reader->GetFeature(NamespacesFeature));
    EXPECT_TRUE(reader->GetFeature(NamespacePrefixesFeature));
    reader->SetFeature(NamespacePrefixesFeature, false);
    EXPECT_FALSE(reader->GetFeature(NamespacePrefixesFeature));
    EXPECT_TRUE(reader->GetFeature(NamespacesFeature));
    reader->SetFeature(NamespacePrefixesFeature, true);
    EXPECT_TRUE(reader->GetFeature(NamespacesFeature));
    reader->SetFeature(NamespacesFeature, true);
    EXPECT_TRUE(reader->GetFeature(NamespacePrefixesFeature));
}

TEST(SaxCustomReader, UnsupportedAndUnknownFeaturesAndProperties) {
    auto reader = MakeInterfaced<TProbeReader>();
    for (const char* name : {ValidationFeature, ExternalGeneralFeature, ExternalParameterFeature}) {
        try {
            reader->GetFeature(name);
            ADD_FAILURE() << name;
        } catch (const ESAXNotSupportedException& e) {
            EXPECT_EQ(e.Message(), std::string("Feature : ") + name);
        }
        EXPECT_THROW(reader->SetFeature(name, false), ESAXNotSupportedException);
    }
    const std::string wrongCase = "http://xml.org/sax/features/Namespaces";
    try {
        reader->SetFeature(wrongCase, true);
        ADD_FAILURE();
    } catch (const ESAXNotRecognizedException& e) {
        EXPECT_EQ(e.Message(), "Feature : " + wrongCase);
    }
    EXPECT_THROW(reader->GetFeature("/sax/features/namespaces"), ESAXNotRecognizedException);
    try {
        reader->GetProperty(LexicalHandlerProperty);
        ADD_FAILURE();
    } catch (const ESAXNotRecognizedException& e) {
        EXPECT_EQ(e.Message(), std::string("Property : ") + LexicalHandlerProperty);
    }
    EXPECT_THROW(reader->SetProperty("x", nullptr), ESAXNotRecognizedException);
}

TEST(SaxCustomReader, ParsingStateRefusesNamespaceChangesOnly) {
    auto reader = MakeInterfaced<TProbeReader>();
    auto handler = MakeInterfaced<TSAXDefaultHandler>();
    std::string refusal;
    reader->Body = [&](TSAXInputSource* input) {
        EXPECT_TRUE(reader->Parsing());
        EXPECT_EQ(reader->GetSystemId(), input->SystemId());
        try {
            reader->SetFeature(NamespacesFeature, false);
        } catch (const ESAXNotSupportedException& e) {
            refusal = e.Message();
        }
        EXPECT_THROW(reader->SetFeature(NamespacePrefixesFeature, true), ESAXNotSupportedException);
        EXPECT_THROW(reader->GetFeature("unknown"), ESAXNotRecognizedException);
        reader->SetContentHandler(handler.get()); // handlers may change while parsing
    };
    TSAXStringInputSource input("<a/>", "doc.xml");
    input.SetPublicId("pub");
    reader->Parse(&input);
    EXPECT_EQ(refusal, std::string("Cannot change feature ") + NamespacesFeature + " while parsing");
    EXPECT_TRUE(reader->GetFeature(NamespacesFeature));
    EXPECT_FALSE(reader->GetFeature(NamespacePrefixesFeature));
    EXPECT_EQ(reader->GetContentHandler(), static_cast<ISAXContentHandler*>(handler.get()));
    EXPECT_FALSE(reader->Parsing());
    EXPECT_EQ(reader->GetPublicId(), "pub");
    EXPECT_EQ(reader->GetSystemId(), "doc.xml");
}

TEST(SaxCustomReader, ParseByFileNameOpensTheFileAndLeavesParsingOnFailure) {
    auto reader = MakeInterfaced<TProbeReader>();
    EXPECT_THROW(reader->Parse(std::string("/nonexistent/file.xml")), EFOpenError);
    EXPECT_FALSE(reader->Parsing());

    const std::string file = TestDataDir() + "/slices/AX_Turm.xml";
    std::string firstBytes;
    reader->Body = [&](TSAXInputSource* input) {
        char buf[5] = {};
        input->Read(buf, 5);
        firstBytes.assign(buf, 5);
        throw std::runtime_error("stop");
    };
    EXPECT_THROW(reader->Parse(file), std::runtime_error);
    EXPECT_FALSE(reader->Parsing());
    EXPECT_EQ(firstBytes, "<?xml");
    EXPECT_EQ(reader->GetSystemId(), file);
    EXPECT_EQ(reader->GetPublicId(), "");
}

} // namespace
