// fuzz-sources: src/sax/*.cpp src/model/Utils.cpp
// fuzz-packages: libxml-2.0 Qt6Core
//
// Feeds arbitrary bytes through TSAX2MSReader with a handler for every interface that touches every
// argument (all texts, every attribute through every lookup, the error objects). The last byte picks
// the namespace features and the size of the pieces in which the rest arrives, so that libxml2's push
// parser meets every kind of boundary (a real file loses no more than its final line break).
#include "sax/SAX2MS.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

class TToucher : public TSAXDefaultHandler, public ISAXLexicalHandler, public ISAXDeclHandler {
public:
    std::size_t sum = 0;
    void Touch(const std::string& s) {
        sum += s.size();
        if (!s.empty())
            sum += static_cast<unsigned char>(s.front()) + static_cast<unsigned char>(s.back());
    }
    void Touch(const ESAXParseException& e) {
        Touch(e.Message());
        Touch(e.PublicId());
        Touch(e.SystemId());
        sum += static_cast<std::size_t>(e.LineNumber() + e.ColumnNumber());
    }

    void Characters(const std::string& t) override { Touch(t); }
    void EndElement(const std::string& u, const std::string& l, const std::string& q) override {
        Touch(u);
        Touch(l);
        Touch(q);
    }
    void EndPrefixMapping(const std::string& p) override { Touch(p); }
    void IgnorableWhitespace(const std::string& t) override { Touch(t); }
    void ProcessingInstruction(const std::string& t, const std::string& d) override {
        Touch(t);
        Touch(d);
    }
    void SkippedEntity(const std::string& n) override { Touch(n); }
    void StartElement(const std::string& u, const std::string& l, const std::string& q,
                      ISAXAttributes* a) override {
        Touch(u);
        Touch(l);
        Touch(q);
        const std::int32_t n = a->Length();
        for (std::int32_t i = -1; i <= n; ++i) {
            Touch(a->URI(i));
            Touch(a->LocalName(i));
            Touch(a->QName(i));
            Touch(a->Value(i));
            sum += a->AttrType(i);
            sum += static_cast<std::size_t>(a->Index(a->QName(i)) + a->Index(a->URI(i), a->LocalName(i)));
            Touch(a->Value(a->QName(i)));
            Touch(a->Value(a->URI(i), a->LocalName(i)));
            sum += a->AttrType(a->QName(i)) + a->AttrType(a->URI(i), a->LocalName(i));
        }
    }
    void StartPrefixMapping(const std::string& p, const std::string& u) override {
        Touch(p);
        Touch(u);
    }
    void NotationDecl(const std::string& n, const std::string& p, const std::string& s) override {
        Touch(n);
        Touch(p);
        Touch(s);
    }
    void UnparsedEntityDecl(const std::string& n, const std::string& p, const std::string& s,
                            const std::string& no) override {
        Touch(n);
        Touch(p);
        Touch(s);
        Touch(no);
    }
    void Error(const ESAXParseException& e) override { Touch(e); }
    void FatalError(const ESAXParseException& e) override { Touch(e); }
    void Warning(const ESAXParseException& e) override { Touch(e); }

    void Comment(const std::string& t) override { Touch(t); }
    void EndCData() override { ++sum; }
    void EndDTD() override { ++sum; }
    void EndEntity(const std::string& n) override { Touch(n); }
    void StartCData() override { ++sum; }
    void StartDTD(const std::string& n, const std::string& p, const std::string& s) override {
        Touch(n);
        Touch(p);
        Touch(s);
    }
    void StartEntity(const std::string& n) override { Touch(n); }
    void AttributeDecl(const std::string& e, const std::string& a, const std::string& t, const std::string& d,
                       const std::string& v) override {
        Touch(e);
        Touch(a);
        Touch(t);
        Touch(d);
        Touch(v);
    }
    void ElementDecl(const std::string& n, const std::string& m) override {
        Touch(n);
        Touch(m);
    }
    void ExternalEntityDecl(const std::string& n, const std::string& p, const std::string& s) override {
        Touch(n);
        Touch(p);
        Touch(s);
    }
    void InternalEntityDecl(const std::string& n, const std::string& v) override {
        Touch(n);
        Touch(v);
    }

protected:
    void* GetInterface(const TGUID& iid) override {
        if (void* p = TSAXDefaultHandler::GetInterface(iid))
            return p;
        return FindInterface<ISAXLexicalHandler, ISAXDeclHandler>(this, iid);
    }
};

// Hands the input over in pieces of a fixed size.
class TPiecewiseInput : public TSAXInputSource {
public:
    TPiecewiseInput(const std::uint8_t* data, std::size_t size, std::size_t piece)
        : TSAXInputSource(TNoFile{}, "fuzz.xml"), FData(data), FSize(size), FPiece(piece) {}
    std::size_t Read(void* buffer, std::size_t count) override {
        const std::size_t n = std::min({count, FPiece, FSize - FPos});
        std::memcpy(buffer, FData + FPos, n);
        FPos += n;
        return n;
    }

private:
    const std::uint8_t* FData;
    std::size_t FSize, FPos = 0, FPiece;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t mode = data[size - 1];
    auto handler = MakeInterfaced<TToucher>();
    auto reader = MakeInterfaced<TSAX2MSReader>();
    reader->SetContentHandler(handler.get());
    reader->SetDTDHandler(handler.get());
    reader->SetErrorHandler(handler.get());
    reader->SetProperty(LexicalHandlerProperty, static_cast<ISAXLexicalHandler*>(handler.get()));
    reader->SetProperty(DeclHandlerProperty, static_cast<ISAXDeclHandler*>(handler.get()));
    if (mode & 1)
        reader->SetFeature(NamespacesFeature, false);
    if (mode & 2)
        reader->SetFeature(NamespacePrefixesFeature, true);
    static constexpr std::size_t pieces[] = {1, 3, 7, 64, 301, 4096, 65536, 1 << 20};
    TPiecewiseInput input(data, size - 1, pieces[(mode >> 2) & 7]);
    try {
        reader->Parse(&input);
    } catch (const ESAXPlatformError&) {
    }
    return handler->sum == 0xFFFFFFFF ? 1 : 0;
}
