#pragma once
// A small XML DOM and XSLT layer over libxml2/libxslt with the operations the system needs: load a text
// or a file, walk elements and texts, read attributes by their qualified name, build elements, serialise,
// save and transform with a style sheet.
//
// Loading never touches the network, never loads a DTD or an external entity and keeps libxml2's
// expansion limits, so a hostile text ends in an EXmlError. Text nodes that hold only white space are
// dropped while loading, so the child nodes of an element are its elements, or the text of a leaf.
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct _xmlNode;
struct _xmlDoc;

// A failure of loading, saving or transforming; the message is libxml2's (or libxslt's) text.
class EXmlError : public std::runtime_error {
public:
    explicit EXmlError(const std::string& message, int line = 0, int column = 0)
        : std::runtime_error(message), line(line), column(column) {}
    // Position of a parse error in the text (1-based); 0 when not known.
    int Line() const { return line; }
    int Column() const { return column; }

private:
    int line;
    int column;
};

// A non-owning handle to a node of a TXmlDocument; valid while the node is part of its document.
class TXmlNode {
public:
    TXmlNode() = default;
    explicit TXmlNode(_xmlNode* node) : node(node) {}

    bool IsNull() const { return node == nullptr; }
    bool IsElement() const;
    // Text or CDATA.
    bool IsText() const;

    // The qualified name as written ("gml:Point"); "#text" for a text, "#cdata-section" for CDATA.
    std::string NodeName() const;
    // The name without prefix ("Point"); "#text"/"#cdata-section" for texts.
    std::string LocalName() const;
    std::string Prefix() const;
    // The namespace name of an element; "" when it has none.
    std::string NamespaceURI() const;
    // The text of a text node, or the concatenated texts of an element's subtree, as written.
    std::string Text() const;

    // Allocation-free views for hot loops, valid while the node lives: an element's prefix and local
    // name ("" for other nodes), a text node's text ("" for other nodes).
    std::string_view PrefixView() const;
    std::string_view LocalNameView() const;
    std::string_view TextView() const;

    // The value of the attribute of this qualified name as written ("gml:id", "srsName"); namespace
    // declarations ("xmlns", "xmlns:gml") count as attributes. "" when missing.
    std::string Attribute(const std::string& qname) const;
    bool HasAttribute(const std::string& qname) const;

    // Elements and text/CDATA nodes, in document order (comments and processing instructions are left out).
    std::vector<TXmlNode> ChildNodes() const;
    bool HasChildNodes() const { return !FirstChild().IsNull(); }
    TXmlNode FirstChild() const;
    TXmlNode NextSibling() const;
    TXmlNode Parent() const;
    // Every element below this node whose qualified name is `qname`, in document order.
    std::vector<TXmlNode> ElementsByName(const std::string& qname) const;

    // A new element as last child. A prefixed name binds to the namespace of that prefix when one is in
    // scope; otherwise the name is kept as written.
    TXmlNode AddChild(const std::string& name);
    // A new text node as last child.
    void AddText(const std::string& text);
    // Sets an attribute; "xmlns:p" / "xmlns" declare a namespace on this element.
    void SetAttribute(const std::string& name, const std::string& value);
    void RemoveChildren();

    // This node serialised (no XML declaration).
    std::string Xml() const;

    _xmlNode* Handle() const { return node; }
    bool operator==(const TXmlNode& other) const { return node == other.node; }

private:
    _xmlNode* node = nullptr;
};

class TXmlDocument {
public:
    TXmlDocument(); // empty (no root)
    ~TXmlDocument();
    TXmlDocument(const TXmlDocument&) = delete;
    TXmlDocument& operator=(const TXmlDocument&) = delete;
    TXmlDocument(TXmlDocument&&) noexcept;
    TXmlDocument& operator=(TXmlDocument&&) noexcept;

    // Throw EXmlError with libxml2's message, line and column when the text is not well-formed.
    static std::unique_ptr<TXmlDocument> LoadXml(const std::string& text);
    static std::unique_ptr<TXmlDocument> LoadFile(const std::string& path);
    // Replace this document's content by a loaded one (Active stays); on failure the content is unchanged.
    void LoadFromXml(const std::string& text);
    void LoadFromFile(const std::string& path);
    // Writes the document (UTF-8, with XML declaration); throws EXmlError on failure.
    void SaveFile(const std::string& path) const;

    // IsNull() when there is none.
    TXmlNode Root() const;
    // Makes a new root element (the earlier root and its subtree are freed).
    TXmlNode CreateRoot(const std::string& name);
    // A copy of `node` (with its subtree and the namespaces it uses) as the root of a new document.
    static std::unique_ptr<TXmlDocument> FromNode(const TXmlNode& node);

    // The serialised document (UTF-8, with XML declaration); "" for a document without root.
    std::string Xml() const;

    // The run log's active flag; no behaviour beyond the flag.
    bool Active = true;

    _xmlDoc* Handle() const { return doc.get(); }

private:
    struct TDocFree {
        void operator()(_xmlDoc* d) const;
    };
    explicit TXmlDocument(_xmlDoc* d);
    void EnsureDoc();
    std::unique_ptr<_xmlDoc, TDocFree> doc;
};

class TXslTransformer {
public:
    // Transforms `doc` with the XSL style sheet file; the output text. Throws EXmlError (also for a
    // missing or malformed style sheet). The style sheet may not write files nor read from the network.
    std::string Transform(const TXmlDocument& doc, const std::string& styleSheetPath) const;
};
