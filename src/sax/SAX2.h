#pragma once
// SAX2 interfaces: the attribute list of an element start, the content handler and the XML reader; the
// feature exceptions and the SAX2 feature identifiers.
#include "sax/SAX.h"

// The standard SAX2 feature identifiers (names match exactly, letter case included).
inline constexpr const char* NamespacesFeature = "http://xml.org/sax/features/namespaces";
inline constexpr const char* NamespacePrefixesFeature = "http://xml.org/sax/features/namespace-prefixes";
inline constexpr const char* ValidationFeature = "http://xml.org/sax/features/validation";
inline constexpr const char* ExternalGeneralFeature = "http://xml.org/sax/features/external-general-entities";
inline constexpr const char* ExternalParameterFeature =
    "http://xml.org/sax/features/external-parameter-entities";

// A reader does not know a feature or property name.
class ESAXNotRecognizedException : public ESAXException {
public:
    using ESAXException::ESAXException;
};

// A reader knows the name but cannot meet the request (unsupported, or a change while parsing).
class ESAXNotSupportedException : public ESAXException {
public:
    using ESAXException::ESAXException;
};

// The attributes of one element start, in document order. Valid only during the StartElement call that
// receives it. A bad index gives empty text / atCData; a missing name gives -1, empty text / atCData.
class ISAXAttributes : public virtual IInterface {
public:
    static constexpr TGUID IID = TGUID::Parse("{F430E0E0-3B30-11D4-9ABD-98F2DF77D546}");
    virtual TSAXAttributeType AttrType(std::int32_t Index) = 0;
    virtual TSAXAttributeType AttrType(const std::string& QName) = 0;
    virtual TSAXAttributeType AttrType(const std::string& URI, const std::string& LocalName) = 0;
    // The first entry whose qualified name equals `QName` ignoring letter case.
    virtual std::int32_t Index(const std::string& QName) = 0;
    // The first entry with exactly this namespace URI and local name.
    virtual std::int32_t Index(const std::string& URI, const std::string& LocalName) = 0;
    virtual std::int32_t Length() = 0;
    virtual const std::string& LocalName(std::int32_t Index) = 0;
    virtual const std::string& QName(std::int32_t Index) = 0;
    virtual const std::string& URI(std::int32_t Index) = 0;
    virtual const std::string& Value(std::int32_t Index) = 0;
    virtual const std::string& Value(const std::string& QName) = 0;
    virtual const std::string& Value(const std::string& URI, const std::string& LocalName) = 0;
};

class ISAXContentHandler : public virtual IInterface {
public:
    static constexpr TGUID IID = TGUID::Parse("{F430E0E1-3B30-11D4-9ABD-98F2DF77D546}");
    virtual void SetDocumentLocator(ISAXLocator* Locator) = 0;
    virtual void StartDocument() = 0;
    virtual void EndDocument() = 0;
    virtual void StartPrefixMapping(const std::string& Prefix, const std::string& URI) = 0;
    virtual void EndPrefixMapping(const std::string& Prefix) = 0;
    virtual void StartElement(const std::string& NamespaceURI, const std::string& LocalName,
                              const std::string& QName, ISAXAttributes* Attributes) = 0;
    virtual void EndElement(const std::string& NamespaceURI, const std::string& LocalName,
                            const std::string& QName) = 0;
    virtual void Characters(const std::string& Text) = 0;
    virtual void IgnorableWhitespace(const std::string& Text) = 0;
    virtual void ProcessingInstruction(const std::string& Target, const std::string& Data) = 0;
    virtual void SkippedEntity(const std::string& Name) = 0;
};

// A SAX2 reader. The handler getters never give null: a handler set to null is replaced by the shared
// default handler. A getter's pointer stays valid while that handler is installed. Property values are
// plain (uncounted) object references.
class ISAXXMLReader : public virtual IInterface {
public:
    static constexpr TGUID IID = TGUID::Parse("{F430E0E2-3B30-11D4-9ABD-98F2DF77D546}");
    virtual ISAXContentHandler* GetContentHandler() = 0;
    virtual ISAXDTDHandler* GetDTDHandler() = 0;
    virtual ISAXEntityResolver* GetEntityResolver() = 0;
    virtual ISAXErrorHandler* GetErrorHandler() = 0;
    virtual bool GetFeature(const std::string& Name) = 0;
    virtual IInterface* GetProperty(const std::string& Name) = 0;
    // Parses an input source; the caller keeps it.
    virtual void Parse(TSAXInputSource* Input) = 0;
    // Parses the file `SystemId`.
    virtual void Parse(const std::string& SystemId) = 0;
    virtual void SetContentHandler(ISAXContentHandler* Handler) = 0;
    virtual void SetDTDHandler(ISAXDTDHandler* Handler) = 0;
    virtual void SetEntityResolver(ISAXEntityResolver* Resolver) = 0;
    virtual void SetErrorHandler(ISAXErrorHandler* Handler) = 0;
    virtual void SetFeature(const std::string& Name, bool Value) = 0;
    virtual void SetProperty(const std::string& Name, IInterface* Value) = 0;
};
