#include "sax/SAX2MS.h"

#include "model/Utils.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/valid.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <cstring>
#include <vector>

// ---- adapters ------------------------------------------------------------------------------------------

HRESULT TSAX2MSExtensionAdapter::GetTypeInfoCount(std::int32_t*) {
    return E_NOTIMPL;
}
HRESULT TSAX2MSExtensionAdapter::GetTypeInfo(std::int32_t, std::int32_t, void**) {
    return E_NOTIMPL;
}
HRESULT TSAX2MSExtensionAdapter::GetIDsOfNames(const TGUID&, const std::string*, std::int32_t, std::int32_t,
                                               std::int32_t*) {
    return E_NOTIMPL;
}
HRESULT TSAX2MSExtensionAdapter::Invoke(std::int32_t, const TGUID&, std::int32_t, std::uint16_t, void*, void*,
                                        void*, std::int32_t*) {
    return E_NOTIMPL;
}
void* TSAX2MSExtensionAdapter::GetInterface(const TGUID& iid) {
    return FindInterface<IDispatch>(this, iid);
}

namespace {
// Runs one handler call for the parser: S_OK when it completes, E_UNEXPECTED when anything failed. The
// failure itself is dropped, so that no exception ever unwinds through libxml2's C frames.
template <class F> HRESULT Guarded(F&& call) noexcept {
    try {
        call();
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
} // namespace

TSAX2MSLexicalAdapter::TSAX2MSLexicalAdapter(ISAXLexicalHandler* LexicalHandler)
    : FLexicalHandler(LexicalHandler) {}
HRESULT TSAX2MSLexicalAdapter::startDTD(const std::string& name, const std::string& publicId,
                                        const std::string& systemId) {
    return Guarded([&] { FLexicalHandler->StartDTD(name, publicId, systemId); });
}
HRESULT TSAX2MSLexicalAdapter::endDTD() {
    return Guarded([&] { FLexicalHandler->EndDTD(); });
}
HRESULT TSAX2MSLexicalAdapter::startEntity(const std::string& name) {
    return Guarded([&] { FLexicalHandler->StartEntity(name); });
}
HRESULT TSAX2MSLexicalAdapter::endEntity(const std::string& name) {
    return Guarded([&] { FLexicalHandler->EndEntity(name); });
}
HRESULT TSAX2MSLexicalAdapter::startCDATA() {
    return Guarded([&] { FLexicalHandler->StartCData(); });
}
HRESULT TSAX2MSLexicalAdapter::endCDATA() {
    return Guarded([&] { FLexicalHandler->EndCData(); });
}
HRESULT TSAX2MSLexicalAdapter::comment(const std::string& text) {
    return Guarded([&] { FLexicalHandler->Comment(text); });
}
void* TSAX2MSLexicalAdapter::GetInterface(const TGUID& iid) {
    return FindInterface<IDispatch, IVBSAXLexicalHandler>(this, iid);
}

TSAX2MSDeclAdapter::TSAX2MSDeclAdapter(ISAXDeclHandler* DeclHandler) : FDeclHandler(DeclHandler) {}
HRESULT TSAX2MSDeclAdapter::elementDecl(const std::string& name, const std::string& model) {
    return Guarded([&] { FDeclHandler->ElementDecl(name, model); });
}
HRESULT TSAX2MSDeclAdapter::attributeDecl(const std::string& elementName, const std::string& attributeName,
                                          const std::string& type, const std::string& valueDefault,
                                          const std::string& value) {
    return Guarded(
        [&] { FDeclHandler->AttributeDecl(elementName, attributeName, type, valueDefault, value); });
}
HRESULT TSAX2MSDeclAdapter::internalEntityDecl(const std::string& name, const std::string& value) {
    return Guarded([&] { FDeclHandler->InternalEntityDecl(name, value); });
}
HRESULT TSAX2MSDeclAdapter::externalEntityDecl(const std::string& name, const std::string& publicId,
                                               const std::string& systemId) {
    return Guarded([&] { FDeclHandler->ExternalEntityDecl(name, publicId, systemId); });
}
void* TSAX2MSDeclAdapter::GetInterface(const TGUID& iid) {
    return FindInterface<IDispatch, IVBSAXDeclHandler>(this, iid);
}

// ---- the platform parser over libxml2 ------------------------------------------------------------------

namespace {
const char* Str(const xmlChar* s) {
    return s ? reinterpret_cast<const char*>(s) : "";
}

void Assign(std::string& to, const xmlChar* s) {
    to.assign(Str(s));
}

// prefix ":" local, or local alone.
void AssignQName(std::string& to, const xmlChar* prefix, const xmlChar* local) {
    to.clear();
    if (prefix) {
        to.append(Str(prefix));
        to.push_back(':');
    }
    to.append(Str(local));
}

// The SAX2 name of a declared attribute type.
const char* AttributeTypeText(int type) {
    switch (type) {
    case XML_ATTRIBUTE_ID:
        return "ID";
    case XML_ATTRIBUTE_IDREF:
        return "IDREF";
    case XML_ATTRIBUTE_IDREFS:
        return "IDREFS";
    case XML_ATTRIBUTE_ENTITY:
        return "ENTITY";
    case XML_ATTRIBUTE_ENTITIES:
        return "ENTITIES";
    case XML_ATTRIBUTE_NMTOKEN:
    case XML_ATTRIBUTE_ENUMERATION: // SAX2 reports enumerations as NMTOKEN
        return "NMTOKEN";
    case XML_ATTRIBUTE_NMTOKENS:
        return "NMTOKENS";
    case XML_ATTRIBUTE_NOTATION:
        return "NOTATION";
    default:
        return "CDATA";
    }
}

} // namespace

// The longer names first, so that a prefix never wins.
TSAXAttributeType SAXAttributeTypeOfName(std::string_view text) {
    static constexpr std::pair<std::string_view, TSAXAttributeType> order[] = {
        {"NOTATION", atNotation}, {"ENTITIES", atEntities}, {"ENTITY", atEntity}, {"NMTOKENS", atNMTokens},
        {"NMTOKEN", atNMToken},   {"IDREFS", atIdrefs},     {"IDREF", atIdref},   {"ID", atId}};
    for (const auto& [name, type] : order)
        if (text == name)
            return type;
    return atCData;
}

std::string SAXErrorMessage(std::int32_t code, const std::string& text) {
    return "(" + std::to_string(code) + ") " + text;
}

namespace {

constexpr std::size_t ReadChunk = 64 * 1024;
// libxml2 reads no construct (attribute value, comment, CDATA section, the unread rest of a start tag) longer
// than this while XML_PARSE_HUGE stays off, and it stays off. A run of text gets the same bound from us:
// libxml2 hands character data over in pieces (buffer boundaries, every 300 bytes, around character
// references), which are joined so that a handler gets one piece per run of text, and a run past the bound
// ends the parse rather than filling memory with a text no feature could hold.
constexpr long long MaxConstructBytes = 10000000;
// The text that references to internal entities may expand to, all of them together: this much on top of
// the file's size times the factor, and never more than the ceiling. libxml2 catches nested references that
// multiply, but not one large entity referenced again and again, which puts gigabytes of text into a single
// property; real files have few entity references, if any.
constexpr std::size_t EntityTextBase = 1024 * 1024;
constexpr std::size_t EntityTextFactor = 10;
constexpr std::size_t EntityTextCeiling = 8 * 1024 * 1024;

constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
} // namespace

class TLibXmlSAXParser {
public:
    explicit TLibXmlSAXParser(TSAX2MSReader& owner) : FOwner(owner) {
        std::memset(&FSax, 0, sizeof FSax);
        FSax.initialized = XML_SAX2_MAGIC;
        FSax.internalSubset = &OnInternalSubset;
        FSax.externalSubset = &OnExternalSubset;
        FSax.isStandalone = &OnIsStandalone;
        FSax.hasInternalSubset = &OnHasInternalSubset;
        FSax.hasExternalSubset = &OnHasExternalSubset;
        FSax.resolveEntity = &OnResolveEntity;
        FSax.getEntity = &OnGetEntity;
        FSax.getParameterEntity = &OnGetParameterEntity;
        FSax.entityDecl = &OnEntityDecl;
        FSax.notationDecl = &OnNotationDecl;
        FSax.attributeDecl = &OnAttributeDecl;
        FSax.elementDecl = &OnElementDecl;
        FSax.unparsedEntityDecl = &OnUnparsedEntityDecl;
        FSax.setDocumentLocator = &OnSetDocumentLocator;
        FSax.startDocument = &OnStartDocument;
        FSax.endDocument = &OnEndDocument;
        FSax.startElementNs = &OnStartElementNs;
        FSax.endElementNs = &OnEndElementNs;
        FSax.reference = &OnReference;
        FSax.characters = &OnCharacters;
        // libxml2 tells ignorable white space apart only while it builds a tree, so without one all white
        // space is character data; the same callback for both spares it the test.
        FSax.ignorableWhitespace = &OnCharacters;
        FSax.processingInstruction = &OnProcessingInstruction;
        FSax.comment = &OnComment;
        FSax.cdataBlock = &OnCDataBlock;
        FSax.serror = &OnStructuredError;
    }
    ~TLibXmlSAXParser() { FreeContext(); }
    TLibXmlSAXParser(const TLibXmlSAXParser&) = delete;
    TLibXmlSAXParser& operator=(const TLibXmlSAXParser&) = delete;

    // -- features and properties --
    bool GetFeature(const std::string& name) const {
        if (name == NamespacesFeature)
            return FNamespaces;
        if (name == NamespacePrefixesFeature)
            return FPrefixes;
        if (name == ValidationFeature || name == ExternalGeneralFeature || name == ExternalParameterFeature)
            return false;
        throw ESAXPlatformError(E_INVALIDARG, "Unbekanntes Merkmal: " + name);
    }
    void PutFeature(const std::string& name, bool value) {
        if (name == NamespacesFeature) {
            FNamespaces = value;
            FPrefixes = FPrefixes || !value;
        } else if (name == NamespacePrefixesFeature) {
            FPrefixes = value;
            FNamespaces = FNamespaces || !value;
        } else if (name == ValidationFeature || name == ExternalGeneralFeature ||
                   name == ExternalParameterFeature) {
            // The parser never validates and never loads anything from outside the document.
            if (value)
                throw ESAXPlatformError(E_INVALIDARG, "Das Merkmal wird nicht unterstützt: " + name);
        } else {
            throw ESAXPlatformError(E_INVALIDARG, "Unbekanntes Merkmal: " + name);
        }
    }
    void PutLexicalHandler(TInterfacePtr<IVBSAXLexicalHandler> h) { FLexical = std::move(h); }
    void PutDeclHandler(TInterfacePtr<IVBSAXDeclHandler> h) { FDecl = std::move(h); }

    // -- locator --
    bool HasLocator() const { return FHasLocator; }
    std::int32_t LineNumber() const {
        return FCtxt ? static_cast<std::int32_t>(xmlSAX2GetLineNumber(FCtxt)) : FLastLine;
    }
    std::int32_t ColumnNumber() const {
        return FCtxt ? static_cast<std::int32_t>(xmlSAX2GetColumnNumber(FCtxt)) : FLastColumn;
    }

    void Parse(TSAXInputSource& input);

private:
    static TLibXmlSAXParser& Self(void* ctx) { return *static_cast<TLibXmlSAXParser*>(ctx); }
    bool Active() const { return !FStopped; }
    void Fail() {
        FStopped = true;
        FCallbackFailed = true;
        if (FCtxt)
            xmlStopParser(FCtxt);
    }
    void Check(HRESULT hr) {
        if (hr != S_OK)
            Fail();
    }
    // Runs a handler call; a failure stops the parse.
    template <class F> void Dispatch(F&& call) {
        if (FStopped)
            return;
        Check(Guarded(std::forward<F>(call)));
    }
    void FreeContext() {
        if (FCtxt) {
            FLastLine = static_cast<std::int32_t>(xmlSAX2GetLineNumber(FCtxt));
            FLastColumn = static_cast<std::int32_t>(xmlSAX2GetColumnNumber(FCtxt));
            if (FCtxt->myDoc)
                xmlFreeDoc(FCtxt->myDoc);
            FCtxt->myDoc = nullptr;
            xmlFreeParserCtxt(FCtxt);
            FCtxt = nullptr;
        }
    }

    // -- text coalescing --
    void FlushText();
    void AppendText(const xmlChar* ch, int len) {
        if (!FInCData && FText.size() + static_cast<std::size_t>(len) > MaxConstructBytes) {
            TextTooLarge();
            return;
        }
        FText.append(reinterpret_cast<const char*>(ch), static_cast<std::size_t>(len));
    }
    void TextTooLarge();
    // The start of the next run moves over `n` bytes of the input (lines, and columns in characters).
    void MoveTextStartOver(const xmlChar* at, std::size_t n) {
        for (const xmlChar* end = at + n; at < end; ++at) {
            if (*at == '\n') {
                ++FTextLine;
                FTextColumn = 1;
            } else if ((*at & 0xC0) != 0x80) {
                ++FTextColumn;
            }
        }
    }
    // Where the next run of text begins: right behind the markup whose event is being delivered.
    void MarkTextStart() {
        if (!FCtxt || !FCtxt->input)
            return;
        const xmlParserInputPtr in = FCtxt->input;
        FTextLine = in->line;
        FTextColumn = in->col;
        // A start tag is reported while the parser still stands at its ">".
        if (in->cur && in->cur < in->end && *in->cur == '>')
            ++FTextColumn;
    }
    void DeliverText() {
        if (FText.empty())
            return;
        Dispatch([&] { FOwner.GetContentHandler()->Characters(FText); });
        FText.clear();
    }

    // -- callbacks (all noexcept: nothing unwinds through libxml2) --
    static void OnInternalSubset(void* ctx, const xmlChar* name, const xmlChar* externalID,
                                 const xmlChar* systemID) noexcept;
    static void OnExternalSubset(void* ctx, const xmlChar* name, const xmlChar* externalID,
                                 const xmlChar* systemID) noexcept;
    static int OnIsStandalone(void* ctx) noexcept { return xmlSAX2IsStandalone(Self(ctx).FCtxt); }
    static int OnHasInternalSubset(void* ctx) noexcept { return xmlSAX2HasInternalSubset(Self(ctx).FCtxt); }
    static int OnHasExternalSubset(void* ctx) noexcept { return xmlSAX2HasExternalSubset(Self(ctx).FCtxt); }
    static xmlParserInputPtr OnResolveEntity(void*, const xmlChar*, const xmlChar*) noexcept {
        return nullptr;
    }
    static xmlEntityPtr OnGetEntity(void* ctx, const xmlChar* name) noexcept;
    static xmlEntityPtr OnGetParameterEntity(void* ctx, const xmlChar* name) noexcept {
        return xmlSAX2GetParameterEntity(Self(ctx).FCtxt, name);
    }
    static void OnEntityDecl(void* ctx, const xmlChar* name, int type, const xmlChar* publicId,
                             const xmlChar* systemId, xmlChar* content) noexcept;
    static void OnNotationDecl(void* ctx, const xmlChar* name, const xmlChar* publicId,
                               const xmlChar* systemId) noexcept;
    static void OnAttributeDecl(void* ctx, const xmlChar* elem, const xmlChar* fullname, int type, int def,
                                const xmlChar* defaultValue, xmlEnumerationPtr tree) noexcept;
    static void OnElementDecl(void* ctx, const xmlChar* name, int type,
                              xmlElementContentPtr content) noexcept;
    static void OnUnparsedEntityDecl(void* ctx, const xmlChar* name, const xmlChar* publicId,
                                     const xmlChar* systemId, const xmlChar* notationName) noexcept;
    static void OnSetDocumentLocator(void* ctx, xmlSAXLocatorPtr) noexcept { Self(ctx).FHasLocator = true; }
    static void OnStartDocument(void* ctx) noexcept;
    static void OnEndDocument(void* ctx) noexcept;
    static void OnStartElementNs(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                                 const xmlChar* URI, int nb_namespaces, const xmlChar** namespaces,
                                 int nb_attributes, int nb_defaulted, const xmlChar** attributes) noexcept;
    static void OnEndElementNs(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                               const xmlChar* URI) noexcept;
    static void OnReference(void* ctx, const xmlChar* name) noexcept;
    static void OnCharacters(void* ctx, const xmlChar* ch, int len) noexcept;
    static void OnProcessingInstruction(void* ctx, const xmlChar* target, const xmlChar* data) noexcept;
    static void OnComment(void* ctx, const xmlChar* value) noexcept;
    static void OnCDataBlock(void* ctx, const xmlChar* value, int len) noexcept;
    static void OnStructuredError(void* ctx, xmlErrorPtr error) noexcept;
    void Report(int level, int code, const std::string& text, const char* file, int line, int column);
    // For libxml2's messages about a construct over its size limit: what was too large, in words, and its
    // position. False for every other message.
    bool DescribeSizeLimit(std::string& text, int& line, int& column) const;
    const char* UnreadConstruct(int& line, int& column) const;
    // `what` (the construct in words) becomes the message that it is too large, with its position.
    static void SizeLimitText(std::string& what, int line, int column);
    // The position in the file of the reference just read ("&name;" before the parser's position), or the
    // parser's position.
    void ReferencePosition(int& line, int& column) const;
    bool EntityTextExceeded(xmlEntityPtr ent);

    void StartElement(const xmlChar* localname, const xmlChar* prefix, const xmlChar* URI, int nb_namespaces,
                      const xmlChar** namespaces, int nb_attributes, const xmlChar** attributes);
    void AddAttribute(const std::string& elementQName, const xmlChar* localname, const xmlChar* prefix,
                      const xmlChar* URI, const xmlChar* value, const xmlChar* valueEnd);
    bool IsDirectReference(const xmlChar* name) const;

    TSAX2MSReader& FOwner;
    xmlSAXHandler FSax;
    xmlParserCtxtPtr FCtxt = nullptr;
    TInterfacePtr<IVBSAXLexicalHandler> FLexical;
    TInterfacePtr<IVBSAXDeclHandler> FDecl;
    bool FNamespaces = true;
    bool FPrefixes = false;
    bool FHasLocator = false;
    std::int32_t FLastLine = -1;
    std::int32_t FLastColumn = -1;

    // state of one parse
    bool FStopped = false;
    bool FCallbackFailed = false;
    int FFatalCode = 0;
    std::string FFatalText;
    bool FHaveAttributeDecls = false;
    bool FInCData = false;
    bool FSawRoot = false;
    bool FTerminating = false;
    std::size_t FBytesRead = 0;
    int FCDataLine = 0, FCDataColumn = 0; // where the open CDATA section began
    int FTextLine = 1, FTextColumn = 1;   // where the run of text in FText began
    std::size_t FEntityText = 0;          // replacement text of all entity references so far
    std::string FText;
    std::vector<std::string> FOpenEntities; // entities referenced directly in the content
    std::vector<std::string> FPrefixStack;  // prefixes declared by the open elements
    // (depth, count) for every open element that declares prefixes
    std::vector<std::pair<std::uint32_t, std::uint32_t>> FPrefixDepths;
    std::uint32_t FDepth = 0;
    std::string FScratch, FScratch2;

    // The texts of the names seen last. libxml2 hands names and namespace URIs over as strings interned in
    // the parse's dictionary, so a pointer identifies its text for the whole parse: each name is turned into
    // std::string once instead of at every element.
    struct TName {
        const xmlChar* local = nullptr;
        const xmlChar* prefix = nullptr;
        const xmlChar* uri = nullptr;
        std::string qname, localName, uriText;
    };
    static constexpr std::size_t NameSlots = 1024;
    std::vector<TName> FNames = std::vector<TName>(NameSlots);
    const TName& Name(const xmlChar* local, const xmlChar* prefix, const xmlChar* uri);
    const std::string FEmpty;
};

void TLibXmlSAXParser::FlushText() {
    if (FInCData) {
        DeliverText();
        FInCData = false;
        if (FLexical)
            Check(FLexical->endCDATA());
    } else {
        DeliverText();
    }
    MarkTextStart();
}

void TLibXmlSAXParser::TextTooLarge() {
    int line = FTextLine, column = FTextColumn;
    std::string text = "Ein Text";
    SizeLimitText(text, line, column);
    Report(XML_ERR_FATAL, XML_ERR_INTERNAL_ERROR, text, "", line, column);
}

void TLibXmlSAXParser::OnInternalSubset(void* ctx, const xmlChar* name, const xmlChar* externalID,
                                        const xmlChar* systemID) noexcept {
    TLibXmlSAXParser& p = Self(ctx);
    xmlSAX2InternalSubset(p.FCtxt, name, externalID, systemID);
    if (p.Active() && p.FLexical) {
        p.FlushText();
        p.Check(p.FLexical->startDTD(Str(name), Str(externalID), Str(systemID)));
    }
}

// Called when the document type declaration is complete. The external subset is never loaded.
void TLibXmlSAXParser::OnExternalSubset(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) noexcept {
    TLibXmlSAXParser& p = Self(ctx);
    if (p.Active() && p.FLexical)
        p.Check(p.FLexical->endDTD());
}

// True when the reference `&name;` is the text just consumed from the document itself (not from the
// replacement text of another entity, which libxml2 parses in a context of its own).
bool TLibXmlSAXParser::IsDirectReference(const xmlChar* name) const {
    if (!FCtxt || FCtxt->instate != XML_PARSER_CONTENT || !FCtxt->input)
        return false;
    const xmlParserInputPtr in = FCtxt->input;
    const std::size_t n = std::strlen(Str(name));
    if (in->cur < in->base || static_cast<std::size_t>(in->cur - in->base) < n + 2)
        return false;
    const xmlChar* at = in->cur - n - 2;
    return at[0] == '&' && std::memcmp(at + 1, name, n) == 0 && at[n + 1] == ';';
}

// Entity boundaries: libxml2 reports neither the start nor the end of an entity. A reference in the
// document's content is looked up here right after "&name;" was read and before its replacement text is
// parsed, and the `reference` callback follows the replacement text; so those references get StartEntity
// and EndEntity around their content. References inside another entity's replacement text, and inside
// attribute values, are expanded without entity events. The five predefined entities and character
// references are part of the text, as SAX2 has it.
xmlEntityPtr TLibXmlSAXParser::OnGetEntity(void* ctx, const xmlChar* name) noexcept {
    TLibXmlSAXParser& p = Self(ctx);
    xmlEntityPtr ent = xmlSAX2GetEntity(p.FCtxt, name);
    // Every expansion of an entity, in the content, in an attribute value or inside another entity, asks
    // for it here first. Past the bound the entity is not handed out, so its text is not parsed again.
    if (p.EntityTextExceeded(ent))
        return nullptr;
    if (ent && ent->etype == XML_INTERNAL_GENERAL_ENTITY && p.Active() && p.IsDirectReference(name)) {
        p.Dispatch([&] {
            p.FlushText();
            p.FOpenEntities.emplace_back(Str(name));
            if (p.FLexical)
                p.Check(p.FLexical->startEntity(p.FOpenEntities.back()));
        });
    }
    return ent;
}

bool TLibXmlSAXParser::EntityTextExceeded(xmlEntityPtr ent) {
    if (!ent || ent->etype != XML_INTERNAL_GENERAL_ENTITY || !ent->content)
        return false;
    FEntityText += static_cast<std::size_t>(ent->length);
    const std::size_t allowed = std::min(EntityTextCeiling, EntityTextBase + EntityTextFactor * FBytesRead);
    if (FEntityText <= allowed)
        return false;
    if (!FStopped) {
        int line = 0, column = 0;
        ReferencePosition(line, column);
        Report(XML_ERR_FATAL, XML_ERR_ENTITY_LOOP,
               "Die Entitätsverweise ergeben zu viel Text: mehr als " +
                   GermanNumber(static_cast<long long>(allowed)) + " Bytes aus " +
                   GermanNumber(static_cast<long long>(FBytesRead)) + " gelesenen Bytes der Datei (Zeile " +
                   std::to_string(line) + ", Spalte " + std::to_string(column) + ").",
               "", line, column);
    }
    return true;
}

void TLibXmlSAXParser::ReferencePosition(int& line, int& column) const {
    line = LineNumber();
    column = ColumnNumber();
    if (!FCtxt || !FCtxt->input || !FCtxt->input->cur)
        return;
    const xmlChar* base = FCtxt->input->base;
    const xmlChar* cur = FCtxt->input->cur;
    if (cur - base < 3 || cur[-1] != ';')
        return;
    // Back over the name to its "&"; the column counts characters, not the bytes of UTF-8.
    int characters = 1;
    for (const xmlChar* at = cur - 2; at >= base && cur - at <= 1024; --at) {
        if (*at == '&') {
            column -= characters + 1;
            return;
        }
        if (*at == ';' || *at == '<' || *at == '>' || *at == ' ' || *at == '\n' || *at == '\t' || *at == '\r')
            return;
        if ((*at & 0xC0) != 0x80)
            ++characters;
    }
}

// After an entity's replacement text, or in place of an entity that is not expanded: an external entity
// (never fetched) or an undeclared one is reported as skipped.
void TLibXmlSAXParser::OnReference(void* ctx, const xmlChar* name) noexcept {
    TLibXmlSAXParser& p = Self(ctx);
    if (!p.Active())
        return;
    p.Dispatch([&] {
        p.FlushText();
        if (!p.FOpenEntities.empty() && p.FOpenEntities.back() == Str(name)) {
            std::string entity = std::move(p.FOpenEntities.back());
            p.FOpenEntities.pop_back();
            if (p.FLexical)
                p.Check(p.FLexical->endEntity(entity));
            return;
        }
        xmlEntityPtr ent = xmlSAX2GetEntity(p.FCtxt, name);
        if (!ent || ent->etype != XML_INTERNAL_GENERAL_ENTITY) {
            Assign(p.FScratch, name);
            p.FOwner.GetContentHandler()->SkippedEntity(p.FScratch);
        }
    });
}

void TLibXmlSAXParser::OnEntityDecl(void* ctx, const xmlChar* name, int type, const xmlChar* publicId,
                                    const xmlChar* systemId, xmlChar* content) noexcept {
    TLibXmlSAXParser& p = Self(ctx);
    xmlSAX2EntityDecl(p.FCtxt, name, type, publicId, systemId, content);
    if (!p.Active() || !p.FDecl)
        return;
    const bool parameter = type == XML_INTERNAL_PARAMETER_ENTITY || type == XML_EXTERNAL_PARAMETER_ENTITY;
    const std::string n = (parameter ? "%" : "") + std::string(Str(name));
    if (type == XML_INTERNAL_GENERAL_ENTITY || type == XML_INTERNAL_PARAMETER_ENTITY)
        p.Check(p.FDecl->internalEntityDecl(n, Str(content)));
    else
        p.Check(p.FDecl->externalEntityDecl(n, Str(publicId), Str(systemId)));
}

void TLibXmlSAXParser::OnNotationDecl(void* ctx, const xmlChar* name, const xmlChar* publicId,
                                      const xmlChar* systemId) noexcept {
    TLibXmlSAXParser& p = Self(ctx);
    xmlSAX2NotationDecl(p.FCtxt, name, publicId, systemId);
    p.Dispatch([&] { p.FOwner.GetDTDHandler()->NotationDecl(Str(name), Str(publicId), Str(systemId)); });
}

void TLibXmlSAXParser::OnAttributeDecl(void* ctx, const xmlChar* elem, const xmlChar* fullname, int type,
                                       int def, const xmlChar* defaultValue,
                                       xmlEnumerationPtr tree) noexcept {
    TLibXmlSAXParser& p = Self(ctx);
    std::string typeText;
    if (type == XML_ATTRIBUTE_ENUMERATION || type == XML_ATTRIBUTE_NOTATION) {
        typeText = type == XML_ATTRIBUTE_NOTATION ? "NOTATION (" : "(";
        for (xmlEnumerationPtr e = tree; e; e = e->next) {
            typeText += Str(e->name);
            if (e->next)
                typeText += '|';
        }
        typeText += ')';
    } else {
        typeText = AttributeTypeText(type);
    }
    const char* valueDefault = def == XML_ATTRIBUTE_REQUIRED  ? "#REQUIRED"
                               : def == XML_ATTRIBUTE_IMPLIED ? "#IMPLIED"
                               : def == XML_ATTRIBUTE_FIXED   ? "#FIXED"
                                                              : "";
    const std::string e = Str(elem), a = Str(fullname), v = Str(defaultValue);
    xmlSAX2AttributeDecl(p.FCtxt, elem, fullname, type, def, defaultValue, tree); // takes `tree`
    p.FHaveAttributeDecls = true;
    if (p.Active() && p.FDecl)
        p.Check(p.FDecl->attributeDecl(e, a, typeText, valueDefault, v));
}

void TLibXmlSAXParser::OnElementDecl(void* ctx, const xmlChar* name, int type,
                                     xmlElementContentPtr content) noexcept {
    TLibXmlSAXParser& p = Self(ctx);
    xmlSAX2ElementDecl(p.FCtxt, name, type, content);
    if (!p.Active() || !p.FDecl)
        return;
    std::string model;
    if (type == XML_ELEMENT_TYPE_EMPTY) {
        model = "EMPTY";
    } else if (type == XML_ELEMENT_TYPE_ANY) {
        model = "ANY";
    } else if (content) {
        std::vector<char> buf(5000);
        buf[0] = '\0';
        xmlSnprintfElementContent(buf.data(), static_cast<int>(buf.size()), content, 1);
        model = buf.data();
    }
    p.Check(p.FDecl->elementDecl(Str(name), model));
}

void TLibXmlSAXParser::OnUnparsedEntityDecl(void* ctx, const xmlChar* name, const xmlChar* publicId,
                                            const xmlChar* systemId, const xmlChar* notationName) noexcept {
    TLibXmlSAXParser& p = Self(ctx);
    xmlSAX2UnparsedEntityDecl(p.FCtxt, name, publicId, systemId, notationName);
    p.Dispatch([&] {
        p.FOwner.GetDTDHandler()->UnparsedEntityDecl(Str(name), Str(publicId), Str(systemId),
                                                     Str(notationName));
    });
}

void TLibXmlSAXParser::OnStartDocument(void* ctx) noexcept {
    TLibXmlSAXParser& p = Self(ctx);
    // A document node of our own holds the DTD declarations (entities, attribute types); no tree is built.
    xmlSAX2StartDocument(p.FCtxt);
    p.Dispatch([&] { p.FOwner.GetContentHandler()->StartDocument(); });
}

void TLibXmlSAXParser::OnEndDocument(void* ctx) noexcept {
    TLibXmlSAXParser& p = Self(ctx);
    if (!p.Active())
        return;
    p.FlushText();
    p.Dispatch([&] { p.FOwner.GetContentHandler()->EndDocument(); });
}

void TLibXmlSAXParser::OnStartElementNs(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                                        const xmlChar* URI, int nb_namespaces, const xmlChar** namespaces,
                                        int nb_attributes, int, const xmlChar** attributes) noexcept {
    TLibXmlSAXParser& p = Self(ctx);
    if (!p.Active())
        return;
    p.FlushText();
    p.Dispatch([&] {
        p.StartElement(localname, prefix, URI, nb_namespaces, namespaces, nb_attributes, attributes);
    });
}

const TLibXmlSAXParser::TName& TLibXmlSAXParser::Name(const xmlChar* local, const xmlChar* prefix,
                                                      const xmlChar* uri) {
    const auto bits = [](const xmlChar* p) {
        return static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(p));
    };
    const std::size_t h = (bits(local) * 0x9E3779B97F4A7C15ull ^ bits(prefix) * 31 ^ bits(uri)) >> 7;
    TName& n = FNames[h % NameSlots];
    if (n.local != local || n.prefix != prefix || n.uri != uri || local == nullptr) {
        n.local = local;
        n.prefix = prefix;
        n.uri = uri;
        AssignQName(n.qname, prefix, local);
        Assign(n.localName, local);
        Assign(n.uriText, uri);
    }
    return n;
}

void TLibXmlSAXParser::StartElement(const xmlChar* localname, const xmlChar* prefix, const xmlChar* URI,
                                    int nb_namespaces, const xmlChar** namespaces, int nb_attributes,
                                    const xmlChar** attributes) {
    ++FDepth;
    if (FNamespaces && nb_namespaces > 0) {
        FPrefixDepths.emplace_back(FDepth, static_cast<std::uint32_t>(nb_namespaces));
        for (int i = 0; i < nb_namespaces; ++i) {
            FPrefixStack.emplace_back(Str(namespaces[2 * i]));
            Assign(FScratch, namespaces[2 * i + 1]);
            FOwner.GetContentHandler()->StartPrefixMapping(FPrefixStack.back(), FScratch);
        }
    }

    TSAXAttributes& list = *FOwner.FAttributes;
    list.Clear();
    if (FPrefixes) {
        for (int i = 0; i < nb_namespaces; ++i) {
            TSAX2Attribute& a = list.AppendAttribute();
            const xmlChar* nsPrefix = namespaces[2 * i];
            a.FQName = nsPrefix ? "xmlns:" + std::string(Str(nsPrefix)) : "xmlns";
            Assign(a.FValue, namespaces[2 * i + 1]);
            if (FNamespaces) {
                a.FLocalName = nsPrefix ? Str(nsPrefix) : "xmlns";
                a.FURI = "http://www.w3.org/2000/xmlns/";
            }
        }
    }
    // The element's name for the attribute declarations, copied: the lookups of the attribute names may
    // reuse the slot of the element's name.
    if (FHaveAttributeDecls)
        AssignQName(FScratch2, prefix, localname);
    for (int i = 0; i < nb_attributes; ++i) {
        const xmlChar** at = attributes + 5 * i;
        AddAttribute(FScratch2, at[0], at[1], at[2], at[3], at[4]);
    }
    // An attribute's entities may have ended the parse.
    if (FStopped)
        return;
    // Looked up again: an attribute name may have taken the element's slot.
    const TName& e = Name(localname, prefix, URI);
    ISAXContentHandler* handler = FOwner.GetContentHandler();
    if (FNamespaces)
        handler->StartElement(e.uriText, e.localName, e.qname, FOwner.FIAttributes.get());
    else
        handler->StartElement(FEmpty, FEmpty, e.qname, FOwner.FIAttributes.get());
}

void TLibXmlSAXParser::AddAttribute(const std::string& elementQName, const xmlChar* localname,
                                    const xmlChar* prefix, const xmlChar* URI, const xmlChar* value,
                                    const xmlChar* valueEnd) {
    TSAX2Attribute& a = FOwner.FAttributes->AppendRecord();
    const TName& name = Name(localname, prefix, URI);
    a.FAttrType = atCData;
    a.FQName = name.qname;
    if (FNamespaces) {
        a.FLocalName = name.localName;
        a.FURI = name.uriText;
    } else {
        a.FLocalName.clear();
        a.FURI.clear();
    }
    const std::size_t len = static_cast<std::size_t>(valueEnd - value);
    a.FValue.assign(reinterpret_cast<const char*>(value), len);
    if (std::memchr(value, '&', len) != nullptr) {
        // Without entity substitution libxml2 leaves "&#38;" for "&" and user entities as "&name;".
        xmlChar* decoded = xmlStringDecodeEntities(FCtxt, reinterpret_cast<const xmlChar*>(a.FValue.c_str()),
                                                   XML_SUBSTITUTE_REF, 0, 0, 0);
        if (decoded) {
            a.FValue = Str(decoded);
            xmlFree(decoded);
        }
    }
    if (FHaveAttributeDecls && FCtxt->myDoc && FCtxt->myDoc->intSubset) {
        xmlAttributePtr decl =
            xmlGetDtdQAttrDesc(FCtxt->myDoc->intSubset,
                               reinterpret_cast<const xmlChar*>(elementQName.c_str()), localname, prefix);
        if (decl)
            a.FAttrType = SAXAttributeTypeOfName(AttributeTypeText(decl->atype));
    }
}

void TLibXmlSAXParser::OnEndElementNs(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                                      const xmlChar* URI) noexcept {
    TLibXmlSAXParser& p = Self(ctx);
    if (!p.Active())
        return;
    p.FlushText();
    p.Dispatch([&] {
        const TName& e = p.Name(localname, prefix, URI);
        if (p.FNamespaces)
            p.FOwner.GetContentHandler()->EndElement(e.uriText, e.localName, e.qname);
        else
            p.FOwner.GetContentHandler()->EndElement(p.FEmpty, p.FEmpty, e.qname);
        if (!p.FPrefixDepths.empty() && p.FPrefixDepths.back().first == p.FDepth) {
            for (std::uint32_t n = p.FPrefixDepths.back().second; n > 0 && !p.FPrefixStack.empty(); --n) {
                std::string prefixName = std::move(p.FPrefixStack.back());
                p.FPrefixStack.pop_back();
                p.FOwner.GetContentHandler()->EndPrefixMapping(prefixName);
            }
            p.FPrefixDepths.pop_back();
        }
        --p.FDepth;
    });
}

void TLibXmlSAXParser::OnCharacters(void* ctx, const xmlChar* ch, int len) noexcept {
    TLibXmlSAXParser& p = Self(ctx);
    if (!p.Active())
        return;
    if (p.FInCData)
        p.FlushText();
    p.Dispatch([&] { p.AppendText(ch, len); });
}

// A CDATA section comes as one or more blocks; the push parser hands over the last one while its input
// still stands at the closing "]]>". A block that does not point into the input (an entity's replacement
// text, or an empty section) is a whole section.
void TLibXmlSAXParser::OnCDataBlock(void* ctx, const xmlChar* value, int len) noexcept {
    TLibXmlSAXParser& p = Self(ctx);
    if (!p.Active())
        return;
    bool last = true;
    if (p.FCtxt && p.FCtxt->input) {
        const xmlParserInputPtr in = p.FCtxt->input;
        if (value >= in->base && value <= in->end)
            last = value + len + 3 <= in->end && std::memcmp(value + len, "]]>", 3) == 0;
    }
    p.Dispatch([&] {
        if (!p.FInCData) {
            p.FlushText();
            p.FInCData = true;
            p.FCDataLine = p.LineNumber();
            p.FCDataColumn = p.ColumnNumber();
            // The first block of a section in the input starts right after "<![CDATA[".
            if (p.FCtxt && p.FCtxt->input && value == p.FCtxt->input->cur && p.FCDataColumn > 9)
                p.FCDataColumn -= 9;
            if (p.FLexical)
                p.Check(p.FLexical->startCDATA());
        }
        p.AppendText(value, len);
        if (last) {
            p.FlushText();
            // The parser reports the last block before it passes it and the closing "]]>".
            if (p.FCtxt && p.FCtxt->input && value == p.FCtxt->input->cur)
                p.MoveTextStartOver(value, static_cast<std::size_t>(len) + 3);
        }
    });
}

void TLibXmlSAXParser::OnProcessingInstruction(void* ctx, const xmlChar* target,
                                               const xmlChar* data) noexcept {
    TLibXmlSAXParser& p = Self(ctx);
    if (!p.Active())
        return;
    p.FlushText();
    p.Dispatch([&] { p.FOwner.GetContentHandler()->ProcessingInstruction(Str(target), Str(data)); });
}

void TLibXmlSAXParser::OnComment(void* ctx, const xmlChar* value) noexcept {
    TLibXmlSAXParser& p = Self(ctx);
    if (!p.Active() || !p.FLexical)
        return;
    // Comments inside the DTD are reported too, as SAX2 does.
    p.FlushText();
    if (p.Active())
        p.Check(p.FLexical->comment(Str(value)));
}

// Every error and warning of libxml2 becomes an ESAXParseException "(code) text" for the error handler.
void TLibXmlSAXParser::OnStructuredError(void* ctx, xmlErrorPtr error) noexcept {
    TLibXmlSAXParser& p = Self(ctx);
    if (!error)
        return;
    int code = error->code;
    std::string text = Str(reinterpret_cast<const xmlChar*>(error->message));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    // libxml2's push parser calls every document that ends early "Extra content at the end of the
    // document". A cut-off document gets the code and text that libxml2 gives it when it reads a file whole.
    if (p.FTerminating && code == XML_ERR_DOCUMENT_END && p.FCtxt) {
        if (p.FCtxt->nameNr > 0 && p.FCtxt->name) {
            code = XML_ERR_TAG_NOT_FINISHED;
            text = "Premature end of data in tag " + std::string(Str(p.FCtxt->name));
        } else if (!p.FSawRoot) {
            code = XML_ERR_DOCUMENT_EMPTY;
            text = p.FBytesRead == 0 ? "Document is empty" : "Start tag expected, '<' not found";
        }
    }
    // libxml2 parses an entity's replacement text in a context of its own and counts lines and columns in
    // that text; the user looks for the reference in the file.
    int line = error->line;
    int column = error->int2;
    if (error->ctxt && error->ctxt != p.FCtxt && p.FCtxt)
        p.ReferencePosition(line, column);
    // The push parser calls every input that does not begin with a tag "Document is empty"; reading a file
    // whole, libxml2 says so only of an empty one (or one that begins with a NUL character).
    if (code == XML_ERR_DOCUMENT_EMPTY && text == "Document is empty" && p.FBytesRead > 0 && p.FCtxt &&
        p.FCtxt->input && p.FCtxt->input->cur && p.FCtxt->input->cur < p.FCtxt->input->end &&
        (*p.FCtxt->input->cur != 0 || p.LineNumber() != 1 || p.ColumnNumber() != 1))
        text = "Start tag expected, '<' not found";
    p.DescribeSizeLimit(text, line, column);
    p.Report(error->level, code, text, Str(reinterpret_cast<const xmlChar*>(error->file)), line, column);
}

// libxml2 keeps an unfinished construct in its input buffer until it is complete; one that outgrows the
// limit ends the parse with "Huge input lookup", which tells no user what was wrong. The construct is the one
// at the parser's position, or the CDATA section it is inside.
const char* TLibXmlSAXParser::UnreadConstruct(int& line, int& column) const {
    if (!FCtxt || !FCtxt->input || !FCtxt->input->cur)
        return "Ein Text";
    if (FCtxt->instate == XML_PARSER_CDATA_SECTION) {
        line = FCDataLine;
        column = FCDataColumn;
        return "Ein CDATA-Abschnitt";
    }
    line = FCtxt->input->line;
    column = FCtxt->input->col;
    const xmlChar* cur = FCtxt->input->cur;
    const xmlChar* end = FCtxt->input->end;
    const auto startsWith = [&](const char* s) {
        const std::size_t n = std::strlen(s);
        return static_cast<std::size_t>(end - cur) >= n && std::memcmp(cur, s, n) == 0;
    };
    if (startsWith("<!--"))
        return "Ein Kommentar";
    if (startsWith("<![CDATA["))
        return "Ein CDATA-Abschnitt";
    if (startsWith("<?"))
        return "Eine Verarbeitungsanweisung";
    if (startsWith("<!"))
        return "Die Dokumenttypdeklaration";
    if (startsWith("</"))
        return "Ein End-Tag";
    if (startsWith("<")) {
        // Inside a start tag: an attribute value when a quote is still open at the end of the input read.
        xmlChar quote = 0;
        for (const xmlChar* at = cur + 1; at < end; ++at) {
            if (quote != 0) {
                if (*at == quote)
                    quote = 0;
            } else if (*at == '"' || *at == '\'') {
                quote = *at;
            } else if (*at == '>') {
                break;
            }
        }
        return quote != 0 ? "Ein Attributwert" : "Ein Start-Tag";
    }
    return "Ein Text";
}

bool TLibXmlSAXParser::DescribeSizeLimit(std::string& text, int& line, int& column) const {
    const auto endsWith = [&](std::string_view tail) {
        return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    };
    const char* what = nullptr;
    if (endsWith("Huge input lookup"))
        what = UnreadConstruct(line, column);
    else if (text == "AttValue length too long")
        what = "Ein Attributwert";
    else if (text == "Comment too big found")
        what = "Ein Kommentar";
    else if (text == "CData section too big found")
        what = "Ein CDATA-Abschnitt";
    else if (text.rfind("PI ", 0) == 0 && endsWith(" too big found"))
        what = "Eine Verarbeitungsanweisung";
    else if (text == "Name too long")
        what = "Ein Name";
    else
        return false;
    text = what;
    SizeLimitText(text, line, column);
    return true;
}

void TLibXmlSAXParser::SizeLimitText(std::string& what, int line, int column) {
    what += " ist zu groß: mehr als " + GermanNumber(MaxConstructBytes) +
            " Bytes am Stück liest der XML-Parser nicht (Zeile " + std::to_string(line) + ", Spalte " +
            std::to_string(column) + ").";
}

// Every error and warning becomes an ESAXParseException "(code) text" for the error handler. The first
// error ends the parse as a fatal one does, also one libxml2 could recover from (an undeclared prefix, an
// undefined entity): going on would store what the file does not say (a dropped character, an unbound
// name) and show one box per occurrence. After it nothing more is reported.
void TLibXmlSAXParser::Report(int level, int code, const std::string& text, const char* file, int line,
                              int column) {
    if (FStopped || FFatalCode != 0)
        return;
    const bool ends = level == XML_ERR_FATAL || level == XML_ERR_ERROR;
    if (ends) {
        FFatalCode = code;
        FFatalText = text;
        // The parse ends inside this run of text or CDATA section: its end never came, so it goes nowhere
        // rather than to a handler that would take the piece for the whole (an export protocol cut short).
        FText.clear();
        FInCData = false;
    } else {
        FlushText();
    }
    Dispatch([&] {
        const ESAXParseException e(SAXErrorMessage(code, text), std::string(), file, line, column);
        ISAXErrorHandler* handler = FOwner.GetErrorHandler();
        if (level == XML_ERR_WARNING)
            handler->Warning(e);
        else if (level == XML_ERR_FATAL)
            handler->FatalError(e);
        else
            handler->Error(e);
    });
    if (ends) {
        FStopped = true;
        if (FCtxt)
            xmlStopParser(FCtxt);
    }
}

void TLibXmlSAXParser::Parse(TSAXInputSource& input) {
    if (FCtxt)
        throw ESAXPlatformError(E_UNEXPECTED, "Der Parser liest bereits ein Dokument.");
    FStopped = false;
    FCallbackFailed = false;
    FFatalCode = 0;
    FFatalText.clear();
    FHaveAttributeDecls = false;
    FInCData = false;
    FSawRoot = false;
    FTerminating = false;
    FBytesRead = 0;
    FEntityText = 0;
    FText.clear();
    FTextLine = FTextColumn = 1;
    FOpenEntities.clear();
    FPrefixStack.clear();
    FPrefixDepths.clear();
    FDepth = 0;
    // Names of an earlier parse lived in that parse's dictionary.
    for (TName& n : FNames)
        n.local = n.prefix = n.uri = nullptr;

    std::vector<char> buffer(ReadChunk);
    std::size_t n = input.Read(buffer.data(), 4);
    FBytesRead = n;
    FCtxt = xmlCreatePushParserCtxt(&FSax, this, buffer.data(), static_cast<int>(n), nullptr);
    if (!FCtxt)
        throw ESAXPlatformError(E_OUTOFMEMORY, "Der XML-Parser kann nicht angelegt werden.");
    struct TFree {
        TLibXmlSAXParser& p;
        ~TFree() { p.FreeContext(); }
    } freeContext{*this};
    // No network, no DTD loading, no entity substitution (so external entities are never fetched); the
    // expansion and depth limits of libxml2 stay on (no XML_PARSE_HUGE).
    xmlCtxtUseOptions(FCtxt, XML_PARSE_NONET);
    FCtxt->replaceEntities = 0;
    FCtxt->loadsubset = 0;
    FCtxt->validate = 0;

    while (!FStopped && FCtxt->instate != XML_PARSER_EOF) {
        n = input.Read(buffer.data(), buffer.size());
        if (n == 0)
            break;
        FBytesRead += n;
        xmlParseChunk(FCtxt, buffer.data(), static_cast<int>(n), 0);
    }
    if (!FStopped && FCtxt->instate != XML_PARSER_EOF) {
        FTerminating = true;
        xmlParseChunk(FCtxt, nullptr, 0, 1);
    }
    if (!FStopped)
        FlushText();

    if (FFatalCode != 0)
        throw ESAXPlatformError(FFatalCode, FFatalText);
    if (FCallbackFailed)
        throw ESAXPlatformError(E_UNEXPECTED, "Die Verarbeitung des Dokuments ist fehlgeschlagen.");
    if (!FCtxt->wellFormed)
        throw ESAXPlatformError(FCtxt->errNo ? FCtxt->errNo : E_UNEXPECTED, "Das Dokument ist fehlerhaft.");
}

// ---- TSAX2MSReader -------------------------------------------------------------------------------------

TSAX2MSReader::TSAX2MSReader() {
    auto attributes = MakeInterfaced<TSAXAttributes>();
    FAttributes = attributes.get();
    FIAttributes = std::move(attributes);
    FXMLReader = std::make_unique<TLibXmlSAXParser>(*this);
}

TSAX2MSReader::TSAX2MSReader(ISAXContentHandler* ContentHandler, ISAXDTDHandler* DTDHandler,
                             ISAXEntityResolver* EntityResolver, ISAXErrorHandler* ErrorHandler)
    : TSAX2MSReader() {
    SetContentHandler(ContentHandler);
    SetDTDHandler(DTDHandler);
    SetEntityResolver(EntityResolver);
    SetErrorHandler(ErrorHandler);
}

TSAX2MSReader::~TSAX2MSReader() {
    FIAttributes.reset();
    FAttributes = nullptr;
    FXMLReader.reset();
}

std::int32_t TSAX2MSReader::GetColumnNumber() {
    return FXMLReader->HasLocator() ? FXMLReader->ColumnNumber() : -1;
}
std::int32_t TSAX2MSReader::GetLineNumber() {
    return FXMLReader->HasLocator() ? FXMLReader->LineNumber() : -1;
}
// The parser is given no identifiers of the input, so its locator has none.
std::string TSAX2MSReader::GetPublicId() {
    return std::string();
}
std::string TSAX2MSReader::GetSystemId() {
    return std::string();
}

bool TSAX2MSReader::GetFeature(const std::string& Name) {
    return FXMLReader->GetFeature(Name);
}

void TSAX2MSReader::SetFeature(const std::string& Name, bool Value) {
    try {
        FXMLReader->PutFeature(Name, Value);
    } catch (const std::exception& e) {
        throw ESAXNotRecognizedException(std::make_shared<const std::runtime_error>(e.what()));
    }
}

IInterface* TSAX2MSReader::GetProperty(const std::string& Name) {
    if (Name == LexicalHandlerProperty)
        return FLexicalHandler;
    if (Name == DeclHandlerProperty)
        return FDeclHandler;
    throw ESAXNotRecognizedException(Name);
}

void TSAX2MSReader::SetProperty(const std::string& Name, IInterface* Value) {
    if (Name == LexicalHandlerProperty) {
        FLexicalHandler = Value;
        TInterfacePtr<ISAXLexicalHandler> handler = Supports<ISAXLexicalHandler>(Value);
        FXMLReader->PutLexicalHandler(handler ? MakeInterfaced<TSAX2MSLexicalAdapter>(handler.get())
                                              : nullptr);
    } else if (Name == DeclHandlerProperty) {
        FDeclHandler = Value;
        TInterfacePtr<ISAXDeclHandler> handler = Supports<ISAXDeclHandler>(Value);
        FXMLReader->PutDeclHandler(handler ? MakeInterfaced<TSAX2MSDeclAdapter>(handler.get()) : nullptr);
    } else {
        throw ESAXNotRecognizedException(Name);
    }
}

void TSAX2MSReader::ParseInput(TSAXInputSource* Input) {
    FXMLReader->Parse(*Input);
}
