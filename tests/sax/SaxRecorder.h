#pragma once
// A handler for every SAX2 interface that writes each event as one line of text, so that tests can
// compare whole event sequences.
#include "sax/SAX2MS.h"

#include <functional>
#include <string>
#include <vector>

class TSaxRecorder : public TSAXDefaultHandler, public ISAXLexicalHandler, public ISAXDeclHandler {
public:
    std::vector<std::string> Events;
    // Called with each event line before it is recorded; may throw to test the failure paths.
    std::function<void(const std::string&)> OnEvent;
    bool RecordCharacters = true;

    void Add(std::string line) {
        if (OnEvent)
            OnEvent(line);
        Events.push_back(std::move(line));
    }

    void StartDocument() override { Add("startDocument"); }
    void EndDocument() override { Add("endDocument"); }
    void StartPrefixMapping(const std::string& Prefix, const std::string& URI) override {
        Add("startPrefix " + Prefix + "=" + URI);
    }
    void EndPrefixMapping(const std::string& Prefix) override { Add("endPrefix " + Prefix); }
    void StartElement(const std::string& NamespaceURI, const std::string& LocalName, const std::string& QName,
                      ISAXAttributes* Attributes) override {
        std::string line = "start {" + NamespaceURI + "}" + LocalName + " " + QName;
        for (int i = 0; i < Attributes->Length(); ++i)
            line += " [{" + Attributes->URI(i) + "}" + Attributes->LocalName(i) + " " + Attributes->QName(i) +
                    "=" + Attributes->Value(i) + " " +
                    std::string(SAXAttributeTypeNames[Attributes->AttrType(i)]) + "]";
        Add(line);
    }
    void EndElement(const std::string& NamespaceURI, const std::string& LocalName,
                    const std::string& QName) override {
        Add("end {" + NamespaceURI + "}" + LocalName + " " + QName);
    }
    void Characters(const std::string& Text) override {
        if (RecordCharacters)
            Add("chars " + Text);
    }
    void IgnorableWhitespace(const std::string& Text) override { Add("ignorable " + Text); }
    void ProcessingInstruction(const std::string& Target, const std::string& Data) override {
        Add("pi " + Target + " " + Data);
    }
    void SkippedEntity(const std::string& Name) override { Add("skipped " + Name); }
    void NotationDecl(const std::string& Name, const std::string& PublicId,
                      const std::string& SystemId) override {
        Add("notation " + Name + " " + PublicId + " " + SystemId);
    }
    void UnparsedEntityDecl(const std::string& Name, const std::string& PublicId, const std::string& SystemId,
                            const std::string& NotationName) override {
        Add("unparsed " + Name + " " + PublicId + " " + SystemId + " " + NotationName);
    }
    void Error(const ESAXParseException& e) override { Add("error " + ErrorText(e)); }
    void FatalError(const ESAXParseException& e) override { Add("fatal " + ErrorText(e)); }
    void Warning(const ESAXParseException& e) override { Add("warning " + ErrorText(e)); }

    void Comment(const std::string& Text) override { Add("comment " + Text); }
    void EndCData() override { Add("endCDATA"); }
    void EndDTD() override { Add("endDTD"); }
    void EndEntity(const std::string& Name) override { Add("endEntity " + Name); }
    void StartCData() override { Add("startCDATA"); }
    void StartDTD(const std::string& Name, const std::string& PublicId,
                  const std::string& SystemId) override {
        Add("startDTD " + Name + " " + PublicId + " " + SystemId);
    }
    void StartEntity(const std::string& Name) override { Add("startEntity " + Name); }

    void AttributeDecl(const std::string& EName, const std::string& AName, const std::string& AttrType,
                       const std::string& ValueDefault, const std::string& Value) override {
        Add("attributeDecl " + EName + " " + AName + " " + AttrType + " " + ValueDefault + " " + Value);
    }
    void ElementDecl(const std::string& Name, const std::string& Model) override {
        Add("elementDecl " + Name + " " + Model);
    }
    void ExternalEntityDecl(const std::string& Name, const std::string& PublicId,
                            const std::string& SystemId) override {
        Add("externalEntityDecl " + Name + " " + PublicId + " " + SystemId);
    }
    void InternalEntityDecl(const std::string& Name, const std::string& Value) override {
        Add("internalEntityDecl " + Name + " " + Value);
    }

    // The messages of the error events only (for error tests).
    static std::string ErrorText(const ESAXParseException& e) {
        return e.Message() + " @" + std::to_string(e.LineNumber()) + ":" + std::to_string(e.ColumnNumber());
    }

protected:
    void* GetInterface(const TGUID& iid) override {
        if (void* p = TSAXDefaultHandler::GetInterface(iid))
            return p;
        return FindInterface<ISAXLexicalHandler, ISAXDeclHandler>(this, iid);
    }
};

// A reader with the recorder installed as every handler.
inline TInterfacePtr<TSAX2MSReader> RecordingReader(TSaxRecorder* recorder) {
    auto reader = MakeInterfaced<TSAX2MSReader>();
    reader->SetContentHandler(recorder);
    reader->SetDTDHandler(recorder);
    reader->SetErrorHandler(recorder);
    // Through references: a pointer cast carries a null test whose temporary GCC's sanitizer builds
    // take for uninitialised.
    ISAXLexicalHandler& lexical = *recorder;
    ISAXDeclHandler& decl = *recorder;
    reader->SetProperty(LexicalHandlerProperty, &lexical);
    reader->SetProperty(DeclHandlerProperty, &decl);
    return reader;
}
