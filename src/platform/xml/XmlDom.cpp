#include "platform/xml/XmlDom.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>
#include <limits>

namespace {

const xmlChar* X(const std::string& s) {
    return reinterpret_cast<const xmlChar*>(s.c_str());
}
std::string S(const xmlChar* s) {
    return s ? std::string(reinterpret_cast<const char*>(s)) : std::string();
}

// A deleter that hands the pointer to the library's own free function.
template <auto FreeFunction> struct TFreeWith {
    template <typename T> void operator()(T* p) const { FreeFunction(p); }
};

// xmlFree is a function pointer variable, not a function.
struct TXmlFree {
    void operator()(xmlChar* p) const { xmlFree(p); }
};
using TXmlString = std::unique_ptr<xmlChar, TXmlFree>;
using TParserCtxtFree = TFreeWith<xmlFreeParserCtxt>;
using TBufferFree = TFreeWith<xmlBufferFree>;
using TStylesheetFree = TFreeWith<xsltFreeStylesheet>;
using TDocPtrFree = TFreeWith<xmlFreeDoc>;
using TSecurityFree = TFreeWith<xsltFreeSecurityPrefs>;
using TTransformCtxtFree = TFreeWith<xsltFreeTransformContext>;

// No network, no DTD loading, no entity substitution (so no external entity is ever read), no huge
// limits; CDATA stays CDATA.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOWARNING;

// The first error of a parse is the one that explains it; later ones follow from it. Nothing goes to
// stderr.
struct TFirstError {
    bool set = false;
    std::string message;
    int line = 0;
    int column = 0;
};

void RecordFirstError(void* userData, xmlErrorPtr error) {
    auto* ctxt = static_cast<xmlParserCtxt*>(userData);
    auto* first = ctxt ? static_cast<TFirstError*>(ctxt->_private) : nullptr;
    if (!first || first->set || !error || error->level < XML_ERR_ERROR)
        return;
    first->set = true;
    first->message = error->message ? error->message : "";
    first->line = error->line;
    first->column = error->int2;
}

std::string TrimMessage(const char* message) {
    std::string m = message ? message : "";
    while (!m.empty() && (m.back() == '\n' || m.back() == '\r' || m.back() == ' '))
        m.pop_back();
    return m;
}

bool IsBlankText(const xmlNode* n) {
    if (n->type != XML_TEXT_NODE || n->content == nullptr)
        return false;
    for (const xmlChar* p = n->content; *p; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\n' && *p != '\r')
            return false;
    return true;
}

// White-space-only text between elements is formatting, not content; it is dropped so that the children
// of an element are its elements or the text of a leaf.
void DropBlankTexts(xmlNode* parent) {
    xmlNode* n = parent->children;
    while (n) {
        xmlNode* next = n->next;
        if (IsBlankText(n)) {
            xmlUnlinkNode(n);
            xmlFreeNode(n);
        } else if (n->type == XML_ELEMENT_NODE && n->children) {
            DropBlankTexts(n);
        }
        n = next;
    }
}

bool IsListed(const xmlNode* n) {
    return n->type == XML_ELEMENT_NODE || n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE;
}

const xmlNode* FirstListed(const xmlNode* n) {
    while (n && !IsListed(n))
        n = n->next;
    return n;
}

std::string QualifiedName(const xmlNode* n) {
    if (n->ns && n->ns->prefix)
        return S(n->ns->prefix) + ":" + S(n->name);
    return S(n->name);
}

// Attribute names as written: prefix (when the attribute has a namespace) and local name.
bool AttrNameIs(const xmlAttr* a, const std::string& qname) {
    const char* local = reinterpret_cast<const char*>(a->name);
    if (a->ns && a->ns->prefix) {
        const std::size_t plen = std::strlen(reinterpret_cast<const char*>(a->ns->prefix));
        return qname.size() == plen + 1 + std::strlen(local) &&
               qname.compare(0, plen, reinterpret_cast<const char*>(a->ns->prefix)) == 0 &&
               qname[plen] == ':' && qname.compare(plen + 1, std::string::npos, local) == 0;
    }
    return qname == local;
}

const xmlAttr* FindAttr(const xmlNode* n, const std::string& qname) {
    for (const xmlAttr* a = n->properties; a; a = a->next)
        if (AttrNameIs(a, qname))
            return a;
    return nullptr;
}

// The namespace declared on `n` for a "xmlns" / "xmlns:p" name; nullptr when it is no such name or none.
const xmlNs* FindNsDecl(const xmlNode* n, const std::string& qname) {
    if (qname == "xmlns") {
        for (const xmlNs* ns = n->nsDef; ns; ns = ns->next)
            if (ns->prefix == nullptr)
                return ns;
    } else if (qname.rfind("xmlns:", 0) == 0) {
        const std::string prefix = qname.substr(6);
        for (const xmlNs* ns = n->nsDef; ns; ns = ns->next)
            if (ns->prefix && prefix == reinterpret_cast<const char*>(ns->prefix))
                return ns;
    }
    return nullptr;
}

// A parser context that records its first error in `first` (which must outlive the context's use).
std::unique_ptr<xmlParserCtxt, TParserCtxtFree> NewParserContext(TFirstError& first) {
    std::unique_ptr<xmlParserCtxt, TParserCtxtFree> ctxt(xmlNewParserCtxt());
    if (!ctxt)
        throw EXmlError("out of memory");
    ctxt->_private = &first;
    if (ctxt->sax)
        ctxt->sax->serror = RecordFirstError;
    return ctxt;
}

[[noreturn]] void ThrowParseError(const TFirstError& first, xmlParserCtxt* ctxt,
                                  const std::string& fallback) {
    if (first.set)
        throw EXmlError(TrimMessage(first.message.c_str()), first.line, first.column);
    const xmlError* e = xmlCtxtGetLastError(ctxt);
    if (e && e->message)
        throw EXmlError(TrimMessage(e->message), e->line, e->int2);
    throw EXmlError(fallback);
}

// libxml2 (for I/O) and libxslt report through global callbacks; the messages of one call are gathered
// here instead of going to stderr.
thread_local std::string* gMessages = nullptr;

void CollectMessage(void*, const char* format, ...) {
    if (!gMessages)
        return;
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    gMessages->append(buffer);
}

class TMessageScope {
public:
    explicit TMessageScope(std::string& sink) {
        gMessages = &sink;
        xsltSetGenericErrorFunc(nullptr, CollectMessage);
        xmlSetGenericErrorFunc(nullptr, CollectMessage);
    }
    ~TMessageScope() {
        xsltSetGenericErrorFunc(nullptr, nullptr);
        xmlSetGenericErrorFunc(nullptr, nullptr);
        gMessages = nullptr;
    }
    TMessageScope(const TMessageScope&) = delete;
    TMessageScope& operator=(const TMessageScope&) = delete;
};

std::string FailureText(const std::string& what, const std::string& messages) {
    const std::string m = TrimMessage(messages.c_str());
    return m.empty() ? what : what + ": " + m;
}

} // namespace

// ---------------------------------------------------------------------------------------------- TXmlNode

bool TXmlNode::IsElement() const {
    return node && node->type == XML_ELEMENT_NODE;
}

bool TXmlNode::IsText() const {
    return node && (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE);
}

std::string TXmlNode::NodeName() const {
    if (!node)
        return {};
    if (node->type == XML_TEXT_NODE)
        return "#text";
    if (node->type == XML_CDATA_SECTION_NODE)
        return "#cdata-section";
    return QualifiedName(node);
}

std::string TXmlNode::LocalName() const {
    if (!node)
        return {};
    if (node->type != XML_ELEMENT_NODE)
        return NodeName();
    return std::string(LocalNameView());
}

std::string TXmlNode::Prefix() const {
    return std::string(PrefixView());
}

std::string TXmlNode::NamespaceURI() const {
    return (node && node->type == XML_ELEMENT_NODE && node->ns) ? S(node->ns->href) : std::string();
}

std::string TXmlNode::Text() const {
    if (!node)
        return {};
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE)
        return S(node->content);
    TXmlString content(xmlNodeGetContent(node));
    return S(content.get());
}

// An element whose prefix was never declared keeps its qualified name as its name, without namespace.
std::string_view TXmlNode::PrefixView() const {
    if (!node || node->type != XML_ELEMENT_NODE)
        return {};
    if (node->ns)
        return node->ns->prefix ? reinterpret_cast<const char*>(node->ns->prefix) : std::string_view();
    const std::string_view name = reinterpret_cast<const char*>(node->name);
    const auto colon = name.find(':');
    return colon == std::string_view::npos ? std::string_view() : name.substr(0, colon);
}

std::string_view TXmlNode::LocalNameView() const {
    if (!node || node->type != XML_ELEMENT_NODE)
        return {};
    const std::string_view name = reinterpret_cast<const char*>(node->name);
    if (node->ns)
        return name;
    const auto colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string_view TXmlNode::TextView() const {
    if (!node || (node->type != XML_TEXT_NODE && node->type != XML_CDATA_SECTION_NODE) || !node->content)
        return {};
    return reinterpret_cast<const char*>(node->content);
}

std::string TXmlNode::Attribute(const std::string& qname) const {
    if (!IsElement())
        return {};
    if (const xmlAttr* a = FindAttr(node, qname)) {
        if (a->children && a->children->next == nullptr && a->children->type == XML_TEXT_NODE)
            return S(a->children->content);
        TXmlString v(xmlNodeListGetString(node->doc, a->children, 1));
        return S(v.get());
    }
    if (const xmlNs* ns = FindNsDecl(node, qname))
        return S(ns->href);
    return {};
}

bool TXmlNode::HasAttribute(const std::string& qname) const {
    return IsElement() && (FindAttr(node, qname) != nullptr || FindNsDecl(node, qname) != nullptr);
}

std::vector<TXmlNode> TXmlNode::ChildNodes() const {
    std::vector<TXmlNode> result;
    if (!node || node->type != XML_ELEMENT_NODE)
        return result;
    for (xmlNode* c = node->children; c; c = c->next)
        if (IsListed(c))
            result.emplace_back(c);
    return result;
}

TXmlNode TXmlNode::FirstChild() const {
    if (!node || node->type != XML_ELEMENT_NODE)
        return {};
    return TXmlNode(const_cast<xmlNode*>(FirstListed(node->children)));
}

TXmlNode TXmlNode::NextSibling() const {
    if (!node)
        return {};
    return TXmlNode(const_cast<xmlNode*>(FirstListed(node->next)));
}

TXmlNode TXmlNode::Parent() const {
    if (!node || !node->parent || node->parent->type != XML_ELEMENT_NODE)
        return {};
    return TXmlNode(node->parent);
}

std::vector<TXmlNode> TXmlNode::ElementsByName(const std::string& qname) const {
    std::vector<TXmlNode> result;
    if (!IsElement())
        return result;
    // Iterative pre-order walk of the subtree below this node.
    xmlNode* n = node->children;
    while (n) {
        if (n->type == XML_ELEMENT_NODE && QualifiedName(n) == qname)
            result.emplace_back(n);
        if (n->type == XML_ELEMENT_NODE && n->children) {
            n = n->children;
            continue;
        }
        while (n && n != node && n->next == nullptr)
            n = n->parent;
        if (!n || n == node)
            break;
        n = n->next;
    }
    return result;
}

TXmlNode TXmlNode::AddChild(const std::string& name) {
    if (!IsElement())
        throw EXmlError("cannot add an element to this node");
    xmlNs* ns = nullptr;
    std::string local = name;
    const auto colon = name.find(':');
    if (colon != std::string::npos) {
        ns = xmlSearchNs(node->doc, node, X(name.substr(0, colon)));
        if (ns)
            local = name.substr(colon + 1);
    } else {
        ns = xmlSearchNs(node->doc, node, nullptr); // the default namespace in scope, as a parser would
    }
    xmlNode* child = xmlNewDocNode(node->doc, ns, X(local), nullptr);
    if (!child || !xmlAddChild(node, child)) {
        xmlFreeNode(child);
        throw EXmlError("cannot add element " + name);
    }
    return TXmlNode(child);
}

void TXmlNode::AddText(const std::string& text) {
    if (!IsElement())
        throw EXmlError("cannot add a text to this node");
    xmlNode* t = xmlNewDocTextLen(node->doc, X(text), static_cast<int>(text.size()));
    // xmlAddChild merges adjacent texts and frees the new node then; it returns the surviving node.
    if (!t || !xmlAddChild(node, t))
        throw EXmlError("cannot add a text");
}

void TXmlNode::SetAttribute(const std::string& name, const std::string& value) {
    if (!IsElement())
        throw EXmlError("cannot set an attribute on this node");
    if (name == "xmlns" || name.rfind("xmlns:", 0) == 0) {
        const std::string prefix = name == "xmlns" ? std::string() : name.substr(6);
        for (xmlNs* ns = node->nsDef; ns; ns = ns->next) {
            if ((ns->prefix == nullptr && prefix.empty()) ||
                (ns->prefix && prefix == reinterpret_cast<const char*>(ns->prefix))) {
                xmlFree(const_cast<xmlChar*>(ns->href));
                ns->href = xmlStrdup(X(value));
                return;
            }
        }
        if (!xmlNewNs(node, X(value), prefix.empty() ? nullptr : X(prefix)))
            throw EXmlError("cannot declare namespace " + name);
        return;
    }
    const auto colon = name.find(':');
    if (colon != std::string::npos) {
        if (xmlNs* ns = xmlSearchNs(node->doc, node, X(name.substr(0, colon)))) {
            xmlSetNsProp(node, ns, X(name.substr(colon + 1)), X(value));
            return;
        }
    }
    if (!xmlSetProp(node, X(name), X(value)))
        throw EXmlError("cannot set attribute " + name);
}

void TXmlNode::RemoveChildren() {
    if (!IsElement())
        return;
    xmlNode* c = node->children;
    while (c) {
        xmlNode* next = c->next;
        xmlUnlinkNode(c);
        xmlFreeNode(c);
        c = next;
    }
}

std::string TXmlNode::Xml() const {
    if (!node)
        return {};
    std::unique_ptr<xmlBuffer, TBufferFree> buf(xmlBufferCreate());
    if (!buf)
        throw EXmlError("out of memory");
    if (xmlNodeDump(buf.get(), node->doc, node, 0, 0) < 0)
        throw EXmlError("cannot serialise node");
    return std::string(reinterpret_cast<const char*>(xmlBufferContent(buf.get())),
                       static_cast<std::size_t>(xmlBufferLength(buf.get())));
}

// ------------------------------------------------------------------------------------------ TXmlDocument

void TXmlDocument::TDocFree::operator()(_xmlDoc* d) const {
    xmlFreeDoc(d);
}

TXmlDocument::TXmlDocument() = default;
TXmlDocument::TXmlDocument(_xmlDoc* d) : doc(d) {}
TXmlDocument::~TXmlDocument() = default;
TXmlDocument::TXmlDocument(TXmlDocument&&) noexcept = default;
TXmlDocument& TXmlDocument::operator=(TXmlDocument&&) noexcept = default;

void TXmlDocument::LoadFromXml(const std::string& text) {
    doc = std::move(LoadXml(text)->doc);
}

void TXmlDocument::LoadFromFile(const std::string& path) {
    doc = std::move(LoadFile(path)->doc);
}

void TXmlDocument::EnsureDoc() {
    if (!doc) {
        doc.reset(xmlNewDoc(X("1.0")));
        if (!doc)
            throw EXmlError("out of memory");
    }
}

namespace {

// The writer loads one small document per feature; one parser context per thread saves its set-up
// (every read resets it). Its first-error record points at the running call only.
class TSharedContextUse {
public:
    explicit TSharedContextUse(TFirstError& first) {
        thread_local TFirstError idle;
        thread_local std::unique_ptr<xmlParserCtxt, TParserCtxtFree> shared = NewParserContext(idle);
        ctxt = shared.get();
        ctxt->_private = &first;
    }
    ~TSharedContextUse() { ctxt->_private = nullptr; }
    TSharedContextUse(const TSharedContextUse&) = delete;
    TSharedContextUse& operator=(const TSharedContextUse&) = delete;
    xmlParserCtxt* ctxt;
};

} // namespace

std::unique_ptr<TXmlDocument> TXmlDocument::LoadXml(const std::string& text) {
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        throw EXmlError("the text is too long to load");
    TFirstError first;
    TSharedContextUse use(first);
    xmlDoc* d = xmlCtxtReadMemory(use.ctxt, text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                  kParseOptions);
    if (!d)
        ThrowParseError(first, use.ctxt, "the text is not well-formed XML");
    std::unique_ptr<TXmlDocument> result(new TXmlDocument(d));
    if (xmlNode* root = xmlDocGetRootElement(d))
        DropBlankTexts(root);
    return result;
}

namespace {

// Reads a file with the hardened options; throws with the parser's first error, or with `failure` and the
// I/O messages gathered so far.
xmlDoc* ReadFile(const std::string& path, const std::string& failure, const std::string& messages) {
    TFirstError first;
    auto ctxt = NewParserContext(first);
    xmlDoc* d = xmlCtxtReadFile(ctxt.get(), path.c_str(), nullptr, kParseOptions);
    if (!d)
        ThrowParseError(first, ctxt.get(), FailureText(failure, messages));
    return d;
}

} // namespace

std::unique_ptr<TXmlDocument> TXmlDocument::LoadFile(const std::string& path) {
    std::string messages;
    TMessageScope scope(messages);
    xmlDoc* d = ReadFile(path, "cannot load " + path, messages);
    std::unique_ptr<TXmlDocument> result(new TXmlDocument(d));
    if (xmlNode* root = xmlDocGetRootElement(d))
        DropBlankTexts(root);
    return result;
}

void TXmlDocument::SaveFile(const std::string& path) const {
    if (!doc)
        throw EXmlError("cannot save " + path + ": the document is empty");
    std::string messages;
    TMessageScope scope(messages);
    if (xmlSaveFormatFileEnc(path.c_str(), doc.get(), "UTF-8", 1) < 0)
        throw EXmlError(FailureText("cannot save " + path, messages));
}

TXmlNode TXmlDocument::Root() const {
    return TXmlNode(doc ? xmlDocGetRootElement(doc.get()) : nullptr);
}

TXmlNode TXmlDocument::CreateRoot(const std::string& name) {
    EnsureDoc();
    xmlNode* root = xmlNewDocNode(doc.get(), nullptr, X(name), nullptr);
    if (!root)
        throw EXmlError("cannot create element " + name);
    if (xmlNode* old = xmlDocSetRootElement(doc.get(), root)) {
        xmlUnlinkNode(old);
        xmlFreeNode(old);
    }
    return TXmlNode(root);
}

std::unique_ptr<TXmlDocument> TXmlDocument::FromNode(const TXmlNode& node) {
    if (!node.IsElement())
        throw EXmlError("only an element can become a document element");
    std::unique_ptr<TXmlDocument> result(new TXmlDocument());
    result->EnsureDoc();
    // A recursive copy declares the namespaces that the subtree uses from outside on the new root.
    xmlNode* copy = xmlDocCopyNode(node.Handle(), result->doc.get(), 1);
    if (!copy)
        throw EXmlError("cannot copy element " + node.NodeName());
    xmlDocSetRootElement(result->doc.get(), copy);
    return result;
}

std::string TXmlDocument::Xml() const {
    if (!doc || !xmlDocGetRootElement(doc.get()))
        return {};
    xmlChar* mem = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(doc.get(), &mem, &size, "UTF-8");
    TXmlString owned(mem);
    if (!mem)
        throw EXmlError("cannot serialise document");
    return std::string(reinterpret_cast<const char*>(mem), static_cast<std::size_t>(size));
}

// --------------------------------------------------------------------------------------- TXslTransformer

std::string TXslTransformer::Transform(const TXmlDocument& doc, const std::string& styleSheetPath) const {
    if (!doc.Handle())
        throw EXmlError("the document to transform is empty");
    std::string messages;
    TMessageScope scope(messages);

    // The style sheet is read without network and without DTD, like every other XML text.
    xmlDoc* styleDoc = ReadFile(styleSheetPath, "cannot load style sheet " + styleSheetPath, messages);
    std::unique_ptr<xsltStylesheet, TStylesheetFree> style(xsltParseStylesheetDoc(styleDoc));
    if (!style) {
        xmlFreeDoc(styleDoc);
        throw EXmlError(FailureText("invalid style sheet " + styleSheetPath, messages));
    }

    std::unique_ptr<xsltSecurityPrefs, TSecurityFree> prefs(xsltNewSecurityPrefs());
    if (!prefs)
        throw EXmlError("out of memory");
    xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
    xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
    xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
    xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);

    std::unique_ptr<xsltTransformContext, TTransformCtxtFree> tctxt(
        xsltNewTransformContext(style.get(), doc.Handle()));
    if (!tctxt)
        throw EXmlError("out of memory");
    xsltSetCtxtSecurityPrefs(prefs.get(), tctxt.get());

    std::unique_ptr<xmlDoc, TDocPtrFree> result(
        xsltApplyStylesheetUser(style.get(), doc.Handle(), nullptr, nullptr, nullptr, tctxt.get()));
    if (!result || tctxt->state == XSLT_STATE_ERROR || tctxt->state == XSLT_STATE_STOPPED)
        throw EXmlError(FailureText("the transformation failed", messages));

    xmlChar* out = nullptr;
    int size = 0;
    if (xsltSaveResultToString(&out, &size, result.get(), style.get()) < 0)
        throw EXmlError("cannot serialise the transformation result");
    TXmlString owned(out);
    return out ? std::string(reinterpret_cast<const char*>(out), static_cast<std::size_t>(size))
               : std::string();
}
