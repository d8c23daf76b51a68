#pragma once
// SAX2 helpers: the attribute list, the do-nothing SAX2 handler set with its shared instance, and the
// abstract reader that every concrete reader derives from.
#include "sax/SAX2.h"
#include "sax/SAXHelper.h"

#include <vector>

// One attribute record of TSAXAttributes.
class TSAX2Attribute {
public:
    TSAX2Attribute() = default;
    TSAX2Attribute(const std::string& URI, const std::string& LocalName, const std::string& QName,
                   const std::string& Value, TSAXAttributeType AttrType);

    TSAXAttributeType AttrType() const { return FAttrType; }
    void SetAttrType(TSAXAttributeType v) { FAttrType = v; }
    const std::string& LocalName() const { return FLocalName; }
    void SetLocalName(const std::string& v) { FLocalName = v; }
    const std::string& QName() const { return FQName; }
    void SetQName(const std::string& v) { FQName = v; }
    const std::string& URI() const { return FURI; }
    void SetURI(const std::string& v) { FURI = v; }
    const std::string& Value() const { return FValue; }
    void SetValue(const std::string& v) { FValue = v; }

private:
    friend class TSAXAttributes;
    friend class TLibXmlSAXParser; // fills records in place
    TSAXAttributeType FAttrType = atCData;
    std::string FLocalName;
    std::string FQName;
    std::string FURI;
    std::string FValue;
};

// The string list's index error of the editing operations: "Listenindex überschreitet das Maximum (%d)".
class EListError : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

// The ordered, editable attribute list behind ISAXAttributes (duplicates allowed, insertion order).
// Cleared records keep their storage for the next element, so refilling the list per element start does
// not allocate once the strings have grown.
class TSAXAttributes : public TInterfacedObject, public ISAXAttributes {
public:
    TSAXAttributes() = default;
    explicit TSAXAttributes(ISAXAttributes* Attributes);

    void AddAttribute(const std::string& URI, const std::string& LocalName, const std::string& QName,
                      const std::string& Value, TSAXAttributeType AttrType);
    // A record appended for the caller to fill in place (the reader's fast path); its fields are empty.
    TSAX2Attribute& AppendAttribute() {
        TSAX2Attribute& a = AppendRecord();
        a.FAttrType = atCData;
        a.FLocalName.clear();
        a.FQName.clear();
        a.FURI.clear();
        a.FValue.clear();
        return a;
    }
    void Clear() {
        // Records beyond a few are released; the first ones keep their string storage for the next element.
        if (FAttrs.size() > KeptRecords)
            FAttrs.resize(KeptRecords);
        FCount = 0;
    }
    void RemoveAttribute(std::int32_t Index);
    void SetAttribute(std::int32_t Index, const std::string& URI, const std::string& LocalName,
                      const std::string& QName, const std::string& Value, TSAXAttributeType AttrType);
    void SetAttributes(ISAXAttributes* Attributes);
    void SetAttrType(std::int32_t Index, TSAXAttributeType AttrType);
    void SetLocalName(std::int32_t Index, const std::string& LocalName);
    void SetQName(std::int32_t Index, const std::string& QName);
    void SetURI(std::int32_t Index, const std::string& URI);
    void SetValue(std::int32_t Index, const std::string& Value);

    TSAXAttributeType AttrType(std::int32_t Index) override;
    TSAXAttributeType AttrType(const std::string& QName) override;
    TSAXAttributeType AttrType(const std::string& URI, const std::string& LocalName) override;
    std::int32_t Index(const std::string& QName) override;
    std::int32_t Index(const std::string& URI, const std::string& LocalName) override;
    std::int32_t Length() override;
    const std::string& LocalName(std::int32_t Index) override;
    const std::string& QName(std::int32_t Index) override;
    const std::string& URI(std::int32_t Index) override;
    const std::string& Value(std::int32_t Index) override;
    const std::string& Value(const std::string& QName) override;
    const std::string& Value(const std::string& URI, const std::string& LocalName) override;

protected:
    void* GetInterface(const TGUID& iid) override;

private:
    friend class TLibXmlSAXParser;
    static constexpr std::size_t KeptRecords = 32;
    // The next record with whatever it held before (the caller sets every field).
    TSAX2Attribute& AppendRecord() {
        if (FCount == FAttrs.size())
            FAttrs.push_back(std::make_unique<TSAX2Attribute>());
        return *FAttrs[FCount++];
    }
    TSAX2Attribute& At(std::int32_t Index); // raises EListError
    const TSAX2Attribute* Find(std::int32_t Index) const;

    std::vector<std::unique_ptr<TSAX2Attribute>> FAttrs; // the first FCount entries are in use
    std::size_t FCount = 0;
};

// A complete SAX2 handler set whose operations do nothing; ResolveEntity gives null and FatalError throws
// the error it is given, so a fatal error stops a parse. Derive and override what you need.
class TSAXDefaultHandler : public TSAXCommonHandler, public ISAXContentHandler {
public:
    void Characters(const std::string& Text) override;
    void EndDocument() override;
    void EndElement(const std::string& NamespaceURI, const std::string& LocalName,
                    const std::string& QName) override;
    void EndPrefixMapping(const std::string& Prefix) override;
    void IgnorableWhitespace(const std::string& Text) override;
    void ProcessingInstruction(const std::string& Target, const std::string& Data) override;
    void SetDocumentLocator(ISAXLocator* Locator) override;
    void SkippedEntity(const std::string& Name) override;
    void StartDocument() override;
    void StartElement(const std::string& NamespaceURI, const std::string& LocalName, const std::string& QName,
                      ISAXAttributes* Attributes) override;
    void StartPrefixMapping(const std::string& Prefix, const std::string& URI) override;

protected:
    void* GetInterface(const TGUID& iid) override;
};

// The one do-nothing handler that stands in wherever a reader has no handler of its own. It lives (holding
// one counted reference of its own) from first use until program end.
TSAXDefaultHandler* SharedDefaultHandler();

// The abstract SAX2 reader: handlers (never null), the two namespace features, the locator values and
// the parsing state; a parse by file name becomes a parse of an input source. ParseInput reads the input.
class TSAXCustomXMLReader : public TInterfacedPersistent, public ISAXLocator, public ISAXXMLReader {
public:
    TSAXCustomXMLReader();
    ~TSAXCustomXMLReader() override;

    // ISAXLocator
    std::string GetPublicId() override;
    std::string GetSystemId() override;
    std::int32_t GetLineNumber() override;
    std::int32_t GetColumnNumber() override;

    // ISAXXMLReader
    ISAXContentHandler* GetContentHandler() override;
    ISAXDTDHandler* GetDTDHandler() override;
    ISAXEntityResolver* GetEntityResolver() override;
    ISAXErrorHandler* GetErrorHandler() override;
    bool GetFeature(const std::string& Name) override;
    IInterface* GetProperty(const std::string& Name) override;
    void Parse(TSAXInputSource* Input) override;
    void Parse(const std::string& SystemId) override;
    void SetContentHandler(ISAXContentHandler* Handler) override;
    void SetDTDHandler(ISAXDTDHandler* Handler) override;
    void SetEntityResolver(ISAXEntityResolver* Resolver) override;
    void SetErrorHandler(ISAXErrorHandler* Handler) override;
    void SetFeature(const std::string& Name, bool Value) override;
    void SetProperty(const std::string& Name, IInterface* Value) override;

    // Position and identifiers as fields; a descendant that tracks the position keeps them current.
    void SetPublicId(const std::string& v) { FPublicId = v; }
    void SetSystemId(const std::string& v) { FSystemId = v; }
    void SetLineNumber(std::int32_t v) { FLineNumber = v; }
    void SetColumnNumber(std::int32_t v) { FColumnNumber = v; }
    bool Parsing() const { return FParsing; }

protected:
    // Reads the whole input synchronously, delivering every event to the current handlers; raises when
    // the document cannot be completed.
    virtual void ParseInput(TSAXInputSource* Input) = 0;
    void* GetInterface(const TGUID& iid) override;

private:
    void CheckNotParsing(const std::string& Kind, const std::string& Name) const;

    std::int32_t FColumnNumber = -1;
    TInterfacePtr<ISAXContentHandler> FContentHandler;
    TInterfacePtr<ISAXDTDHandler> FDTDHandler;
    TInterfacePtr<ISAXEntityResolver> FEntityResolver;
    TInterfacePtr<ISAXErrorHandler> FErrorHandler;
    std::int32_t FLineNumber = -1;
    bool FNamespaces = true;
    bool FParsing = false;
    bool FPrefixes = false;
    std::string FPublicId;
    std::string FSystemId;
};
