#include "sax/SAX2Helper.h"

#include <QString>

namespace {
const std::string EmptyText;

// The platform's locale-aware comparison ignoring letter case.
bool SameTextLocale(const std::string& a, const std::string& b) {
    if (a.size() == b.size() && a == b)
        return true;
    return QString::compare(QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size())),
                            QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())),
                            Qt::CaseInsensitive) == 0;
}
} // namespace

// ---- TSAX2Attribute, TSAXAttributes --------------------------------------------------------------------

TSAX2Attribute::TSAX2Attribute(const std::string& URI, const std::string& LocalName, const std::string& QName,
                               const std::string& Value, TSAXAttributeType AttrType)
    : FAttrType(AttrType), FLocalName(LocalName), FQName(QName), FURI(URI), FValue(Value) {}

TSAXAttributes::TSAXAttributes(ISAXAttributes* Attributes) {
    SetAttributes(Attributes);
}

void TSAXAttributes::AddAttribute(const std::string& URI, const std::string& LocalName,
                                  const std::string& QName, const std::string& Value,
                                  TSAXAttributeType AttrType) {
    TSAX2Attribute& a = AppendAttribute();
    a.FAttrType = AttrType;
    a.FLocalName = LocalName;
    a.FQName = QName;
    a.FURI = URI;
    a.FValue = Value;
}

TSAX2Attribute& TSAXAttributes::At(std::int32_t Index) {
    if (Index < 0 || static_cast<std::size_t>(Index) >= FCount)
        throw EListError("Listenindex überschreitet das Maximum (" + std::to_string(Index) + ")");
    return *FAttrs[static_cast<std::size_t>(Index)];
}

const TSAX2Attribute* TSAXAttributes::Find(std::int32_t Index) const {
    if (Index < 0 || static_cast<std::size_t>(Index) >= FCount)
        return nullptr;
    return FAttrs[static_cast<std::size_t>(Index)].get();
}

void TSAXAttributes::RemoveAttribute(std::int32_t Index) {
    At(Index);
    FAttrs.erase(FAttrs.begin() + Index);
    --FCount;
}

void TSAXAttributes::SetAttribute(std::int32_t Index, const std::string& URI, const std::string& LocalName,
                                  const std::string& QName, const std::string& Value,
                                  TSAXAttributeType AttrType) {
    At(Index) = TSAX2Attribute(URI, LocalName, QName, Value, AttrType);
}

void TSAXAttributes::SetAttributes(ISAXAttributes* Attributes) {
    Clear();
    if (Attributes == nullptr)
        return;
    const std::int32_t n = Attributes->Length();
    for (std::int32_t i = 0; i < n; ++i)
        AddAttribute(Attributes->URI(i), Attributes->LocalName(i), Attributes->QName(i), Attributes->Value(i),
                     Attributes->AttrType(i));
}

void TSAXAttributes::SetAttrType(std::int32_t Index, TSAXAttributeType AttrType) {
    At(Index).FAttrType = AttrType;
}
void TSAXAttributes::SetLocalName(std::int32_t Index, const std::string& LocalName) {
    At(Index).FLocalName = LocalName;
}
void TSAXAttributes::SetQName(std::int32_t Index, const std::string& QName) {
    At(Index).FQName = QName;
}
void TSAXAttributes::SetURI(std::int32_t Index, const std::string& URI) {
    At(Index).FURI = URI;
}
void TSAXAttributes::SetValue(std::int32_t Index, const std::string& Value) {
    At(Index).FValue = Value;
}

TSAXAttributeType TSAXAttributes::AttrType(std::int32_t Index) {
    const TSAX2Attribute* a = Find(Index);
    return a ? a->FAttrType : atCData;
}
TSAXAttributeType TSAXAttributes::AttrType(const std::string& QName) {
    return AttrType(Index(QName));
}
TSAXAttributeType TSAXAttributes::AttrType(const std::string& URI, const std::string& LocalName) {
    return AttrType(Index(URI, LocalName));
}

std::int32_t TSAXAttributes::Index(const std::string& QName) {
    for (std::size_t i = 0; i < FCount; ++i)
        if (SameTextLocale(FAttrs[i]->FQName, QName))
            return static_cast<std::int32_t>(i);
    return -1;
}

std::int32_t TSAXAttributes::Index(const std::string& URI, const std::string& LocalName) {
    for (std::size_t i = 0; i < FCount; ++i)
        if (FAttrs[i]->FURI == URI && FAttrs[i]->FLocalName == LocalName)
            return static_cast<std::int32_t>(i);
    return -1;
}

std::int32_t TSAXAttributes::Length() {
    return static_cast<std::int32_t>(FCount);
}

const std::string& TSAXAttributes::LocalName(std::int32_t Index) {
    const TSAX2Attribute* a = Find(Index);
    return a ? a->FLocalName : EmptyText;
}
const std::string& TSAXAttributes::QName(std::int32_t Index) {
    const TSAX2Attribute* a = Find(Index);
    return a ? a->FQName : EmptyText;
}
const std::string& TSAXAttributes::URI(std::int32_t Index) {
    const TSAX2Attribute* a = Find(Index);
    return a ? a->FURI : EmptyText;
}
const std::string& TSAXAttributes::Value(std::int32_t Index) {
    const TSAX2Attribute* a = Find(Index);
    return a ? a->FValue : EmptyText;
}
const std::string& TSAXAttributes::Value(const std::string& QName) {
    return Value(Index(QName));
}
const std::string& TSAXAttributes::Value(const std::string& URI, const std::string& LocalName) {
    return Value(Index(URI, LocalName));
}

void* TSAXAttributes::GetInterface(const TGUID& iid) {
    return FindInterface<ISAXAttributes>(this, iid);
}

// ---- TSAXDefaultHandler --------------------------------------------------------------------------------

void TSAXDefaultHandler::Characters(const std::string&) {}
void TSAXDefaultHandler::EndDocument() {}
void TSAXDefaultHandler::EndElement(const std::string&, const std::string&, const std::string&) {}
void TSAXDefaultHandler::EndPrefixMapping(const std::string&) {}
void TSAXDefaultHandler::IgnorableWhitespace(const std::string&) {}
void TSAXDefaultHandler::ProcessingInstruction(const std::string&, const std::string&) {}
void TSAXDefaultHandler::SetDocumentLocator(ISAXLocator*) {}
void TSAXDefaultHandler::SkippedEntity(const std::string&) {}
void TSAXDefaultHandler::StartDocument() {}
void TSAXDefaultHandler::StartElement(const std::string&, const std::string&, const std::string&,
                                      ISAXAttributes*) {}
void TSAXDefaultHandler::StartPrefixMapping(const std::string&, const std::string&) {}
void* TSAXDefaultHandler::GetInterface(const TGUID& iid) {
    if (void* p = TSAXCommonHandler::GetInterface(iid))
        return p;
    return FindInterface<ISAXContentHandler>(this, iid);
}

TSAXDefaultHandler* SharedDefaultHandler() {
    // Never destroyed: readers that outlive static destruction may still release their references.
    static TSAXDefaultHandler* const shared = [] {
        auto* h = new TSAXDefaultHandler();
        h->_AddRef();
        return h;
    }();
    return shared;
}

// ---- TSAXCustomXMLReader -------------------------------------------------------------------------------

TSAXCustomXMLReader::TSAXCustomXMLReader() {
    SetContentHandler(nullptr);
    SetDTDHandler(nullptr);
    SetEntityResolver(nullptr);
    SetErrorHandler(nullptr);
}

TSAXCustomXMLReader::~TSAXCustomXMLReader() {
    FContentHandler.reset();
    FDTDHandler.reset();
    FEntityResolver.reset();
    FErrorHandler.reset();
}

std::string TSAXCustomXMLReader::GetPublicId() {
    return FPublicId;
}
std::string TSAXCustomXMLReader::GetSystemId() {
    return FSystemId;
}
std::int32_t TSAXCustomXMLReader::GetLineNumber() {
    return FLineNumber;
}
std::int32_t TSAXCustomXMLReader::GetColumnNumber() {
    return FColumnNumber;
}

ISAXContentHandler* TSAXCustomXMLReader::GetContentHandler() {
    return FContentHandler.get();
}
ISAXDTDHandler* TSAXCustomXMLReader::GetDTDHandler() {
    return FDTDHandler.get();
}
ISAXEntityResolver* TSAXCustomXMLReader::GetEntityResolver() {
    return FEntityResolver.get();
}
ISAXErrorHandler* TSAXCustomXMLReader::GetErrorHandler() {
    return FErrorHandler.get();
}

void TSAXCustomXMLReader::SetContentHandler(ISAXContentHandler* Handler) {
    FContentHandler = Handler ? Handler : SharedDefaultHandler();
}
void TSAXCustomXMLReader::SetDTDHandler(ISAXDTDHandler* Handler) {
    FDTDHandler = Handler ? Handler : SharedDefaultHandler();
}
void TSAXCustomXMLReader::SetEntityResolver(ISAXEntityResolver* Resolver) {
    FEntityResolver = Resolver ? Resolver : SharedDefaultHandler();
}
void TSAXCustomXMLReader::SetErrorHandler(ISAXErrorHandler* Handler) {
    FErrorHandler = Handler ? Handler : SharedDefaultHandler();
}

namespace {
bool IsUnsupportedFeature(const std::string& Name) {
    return Name == ValidationFeature || Name == ExternalGeneralFeature || Name == ExternalParameterFeature;
}
} // namespace

bool TSAXCustomXMLReader::GetFeature(const std::string& Name) {
    if (Name == NamespacesFeature)
        return FNamespaces;
    if (Name == NamespacePrefixesFeature)
        return FPrefixes;
    if (IsUnsupportedFeature(Name))
        throw ESAXNotSupportedException("Feature : " + Name);
    throw ESAXNotRecognizedException("Feature : " + Name);
}

void TSAXCustomXMLReader::SetFeature(const std::string& Name, bool Value) {
    if (Name == NamespacesFeature) {
        CheckNotParsing("feature", Name);
        FNamespaces = Value;
        if (!Value && !FPrefixes)
            FPrefixes = true;
    } else if (Name == NamespacePrefixesFeature) {
        CheckNotParsing("feature", Name);
        FPrefixes = Value;
        if (!Value && !FNamespaces)
            FNamespaces = true;
    } else if (IsUnsupportedFeature(Name)) {
        throw ESAXNotSupportedException("Feature : " + Name);
    } else {
        throw ESAXNotRecognizedException("Feature : " + Name);
    }
}

IInterface* TSAXCustomXMLReader::GetProperty(const std::string& Name) {
    throw ESAXNotRecognizedException("Property : " + Name);
}

void TSAXCustomXMLReader::SetProperty(const std::string& Name, IInterface*) {
    throw ESAXNotRecognizedException("Property : " + Name);
}

void TSAXCustomXMLReader::CheckNotParsing(const std::string& Kind, const std::string& Name) const {
    if (FParsing)
        throw ESAXNotSupportedException("Cannot change " + Kind + " " + Name + " while parsing");
}

void TSAXCustomXMLReader::Parse(const std::string& SystemId) {
    std::unique_ptr<TSAXInputSource> input = GetEntityResolver()->ResolveEntity(std::string(), SystemId);
    if (!input)
        input = std::make_unique<TSAXInputSource>(SystemId);
    Parse(input.get());
}

void TSAXCustomXMLReader::Parse(TSAXInputSource* Input) {
    FPublicId = Input->PublicId();
    FSystemId = Input->SystemId();
    FParsing = true;
    struct TLeaveParsing {
        bool& flag;
        ~TLeaveParsing() { flag = false; }
    } leave{FParsing};
    ParseInput(Input);
}

void* TSAXCustomXMLReader::GetInterface(const TGUID& iid) {
    return FindInterface<ISAXLocator, ISAXXMLReader>(this, iid);
}
