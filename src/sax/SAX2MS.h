#pragma once
// The SAX2 reader over libxml2's SAX2 parser, and the adapters that carry the parser's lexical and
// declaration events to the SAX2 extension handlers.
#include "sax/SAX2Ext.h"
#include "sax/SAX2Helper.h"

// The late-bound part of the platform's callback objects. Nothing calls it; every operation answers
// E_NOTIMPL.
class IDispatch : public virtual IInterface {
public:
    static constexpr TGUID IID = TGUID::Parse("{00020400-0000-0000-C000-000000000046}");
    virtual HRESULT GetTypeInfoCount(std::int32_t* Count) = 0;
    virtual HRESULT GetTypeInfo(std::int32_t Index, std::int32_t LocaleID, void** TypeInfo) = 0;
    virtual HRESULT GetIDsOfNames(const TGUID& IID, const std::string* Names, std::int32_t NameCount,
                                  std::int32_t LocaleID, std::int32_t* DispIDs) = 0;
    virtual HRESULT Invoke(std::int32_t DispID, const TGUID& IID, std::int32_t LocaleID, std::uint16_t Flags,
                           void* Params, void* VarResult, void* ExcepInfo, std::int32_t* ArgErr) = 0;
};

// The parser's lexical callbacks (what the reader's lexical-handler property installs in the parser).
class IVBSAXLexicalHandler : public virtual IDispatch {
public:
    static constexpr TGUID IID = TGUID::Parse("{032AAC35-8C0E-4D9D-979F-E3B702935576}");
    virtual HRESULT startDTD(const std::string& name, const std::string& publicId,
                             const std::string& systemId) = 0;
    virtual HRESULT endDTD() = 0;
    virtual HRESULT startEntity(const std::string& name) = 0;
    virtual HRESULT endEntity(const std::string& name) = 0;
    virtual HRESULT startCDATA() = 0;
    virtual HRESULT endCDATA() = 0;
    virtual HRESULT comment(const std::string& text) = 0;
};

// The parser's declaration callbacks (what the declaration-handler property installs).
class IVBSAXDeclHandler : public virtual IDispatch {
public:
    static constexpr TGUID IID = TGUID::Parse("{E8917260-7579-4BE1-B5DD-7AFBFA6F077B}");
    virtual HRESULT elementDecl(const std::string& name, const std::string& model) = 0;
    virtual HRESULT attributeDecl(const std::string& elementName, const std::string& attributeName,
                                  const std::string& type, const std::string& valueDefault,
                                  const std::string& value) = 0;
    virtual HRESULT internalEntityDecl(const std::string& name, const std::string& value) = 0;
    virtual HRESULT externalEntityDecl(const std::string& name, const std::string& publicId,
                                       const std::string& systemId) = 0;
};

// Base of the two adapters: reference counted, IDispatch answering E_NOTIMPL.
class TSAX2MSExtensionAdapter : public TInterfacedObject, public virtual IDispatch {
public:
    HRESULT GetTypeInfoCount(std::int32_t* Count) override;
    HRESULT GetTypeInfo(std::int32_t Index, std::int32_t LocaleID, void** TypeInfo) override;
    HRESULT GetIDsOfNames(const TGUID& IID, const std::string* Names, std::int32_t NameCount,
                          std::int32_t LocaleID, std::int32_t* DispIDs) override;
    HRESULT Invoke(std::int32_t DispID, const TGUID& IID, std::int32_t LocaleID, std::uint16_t Flags,
                   void* Params, void* VarResult, void* ExcepInfo, std::int32_t* ArgErr) override;

protected:
    void* GetInterface(const TGUID& iid) override;
};

// Forwards the parser's lexical callbacks to an ISAXLexicalHandler. Each callback answers S_OK, or
// E_UNEXPECTED when the handler raised (the exception is dropped).
class TSAX2MSLexicalAdapter : public TSAX2MSExtensionAdapter, public IVBSAXLexicalHandler {
public:
    explicit TSAX2MSLexicalAdapter(ISAXLexicalHandler* LexicalHandler);
    HRESULT startDTD(const std::string& name, const std::string& publicId,
                     const std::string& systemId) override;
    HRESULT endDTD() override;
    HRESULT startEntity(const std::string& name) override;
    HRESULT endEntity(const std::string& name) override;
    HRESULT startCDATA() override;
    HRESULT endCDATA() override;
    HRESULT comment(const std::string& text) override;

protected:
    void* GetInterface(const TGUID& iid) override;

private:
    TInterfacePtr<ISAXLexicalHandler> FLexicalHandler;
};

// Forwards the parser's declaration callbacks to an ISAXDeclHandler (failures as above).
class TSAX2MSDeclAdapter : public TSAX2MSExtensionAdapter, public IVBSAXDeclHandler {
public:
    explicit TSAX2MSDeclAdapter(ISAXDeclHandler* DeclHandler);
    HRESULT elementDecl(const std::string& name, const std::string& model) override;
    HRESULT attributeDecl(const std::string& elementName, const std::string& attributeName,
                          const std::string& type, const std::string& valueDefault,
                          const std::string& value) override;
    HRESULT internalEntityDecl(const std::string& name, const std::string& value) override;
    HRESULT externalEntityDecl(const std::string& name, const std::string& publicId,
                               const std::string& systemId) override;

protected:
    void* GetInterface(const TGUID& iid) override;

private:
    TInterfacePtr<ISAXDeclHandler> FDeclHandler;
};

// The attribute type of a type name as the parser reports it: exactly one of the names from "NOTATION" down
// to "ID"; "CDATA" and any other text give atCData.
TSAXAttributeType SAXAttributeTypeOfName(std::string_view text);
// The message of a parse error: "(%d) %s" with the parser's error code and text.
std::string SAXErrorMessage(std::int32_t code, const std::string& text);

class TLibXmlSAXParser; // the platform parser behind the reader (SAX2MS.cpp)

// The SAX2 reader of the system. Parse reads the input in small chunks through libxml2's push parser and
// makes every callback on the calling thread. No network, no external entity or DTD is ever loaded;
// libxml2's entity-expansion, size and depth limits stay on; a run of text gets the size limit of the other
// constructs, and the text that entity references expand to is bounded besides (relative to the bytes read,
// with a fixed ceiling). A failed parse (fatal error, or a
// handler that raised) ends with ESAXPlatformError out of Parse; a handler's own exception never leaves
// Parse. The first error ends the parse: text or a CDATA section still open then is not delivered.
//
// Features go to the parser: namespaces (true), namespace-prefixes (false; true lists the xmlns
// attributes too), validation, external-general-entities, external-parameter-entities (false; true is
// refused). Properties: the lexical-handler and declaration-handler identifiers of SAX2Ext.h.
class TSAX2MSReader : public TSAXCustomXMLReader {
public:
    TSAX2MSReader();
    TSAX2MSReader(ISAXContentHandler* ContentHandler, ISAXDTDHandler* DTDHandler,
                  ISAXEntityResolver* EntityResolver, ISAXErrorHandler* ErrorHandler);
    ~TSAX2MSReader() override;

    std::int32_t GetColumnNumber() override;
    std::int32_t GetLineNumber() override;
    std::string GetPublicId() override;
    std::string GetSystemId() override;
    bool GetFeature(const std::string& Name) override;
    void SetFeature(const std::string& Name, bool Value) override;
    IInterface* GetProperty(const std::string& Name) override;
    void SetProperty(const std::string& Name, IInterface* Value) override;

protected:
    void ParseInput(TSAXInputSource* Input) override;

private:
    friend class TLibXmlSAXParser;
    TSAXAttributes* FAttributes = nullptr; // kept alive by FIAttributes
    IInterface* FDeclHandler = nullptr;    // not owned
    TInterfacePtr<ISAXAttributes> FIAttributes;
    IInterface* FLexicalHandler = nullptr; // not owned
    std::unique_ptr<TLibXmlSAXParser> FXMLReader;
};
