#pragma once
// SAX interfaces shared by SAX1 and SAX2 (entity resolver, DTD handler, locator, error handler), the SAX1
// handler interfaces, the attribute types, the layer's exceptions and the input source of a parse.
//
// Every interface derives *virtually* from IInterface, so an object that implements several of them has
// one IInterface and one reference count; a class implements QueryInterface/_AddRef/_Release once (see
// QueryInterfaceOf below). Counted references are held through TInterfacePtr. Texts are UTF-8.
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

// ---- interface identifiers, results ---------------------------------------------------------------------

using HRESULT = std::int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);

struct TGUID {
    std::uint32_t D1 = 0;
    std::uint16_t D2 = 0;
    std::uint16_t D3 = 0;
    std::uint8_t D4[8] = {};

    // From the registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; a malformed text does not compile.
    static consteval TGUID Parse(std::string_view text) {
        if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' ||
            text[19] != '-' || text[24] != '-')
            throw "malformed GUID";
        auto hex = [&](std::size_t pos, std::size_t digits) {
            std::uint32_t v = 0;
            for (std::size_t i = pos; i < pos + digits; ++i) {
                const char c = text[i];
                const int d = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                     : -1;
                if (d < 0)
                    throw "malformed GUID";
                v = v * 16 + static_cast<std::uint32_t>(d);
            }
            return v;
        };
        TGUID g;
        g.D1 = hex(1, 8);
        g.D2 = static_cast<std::uint16_t>(hex(10, 4));
        g.D3 = static_cast<std::uint16_t>(hex(15, 4));
        constexpr std::size_t bytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
        for (int i = 0; i < 8; ++i)
            g.D4[i] = static_cast<std::uint8_t>(hex(bytePos[i], 2));
        return g;
    }
    friend constexpr bool operator==(const TGUID& a, const TGUID& b) {
        for (int i = 0; i < 8; ++i)
            if (a.D4[i] != b.D4[i])
                return false;
        return a.D1 == b.D1 && a.D2 == b.D2 && a.D3 == b.D3;
    }
};

// ---- the base interface and counted references ---------------------------------------------------------

class IInterface {
public:
    static constexpr TGUID IID = TGUID::Parse("{00000000-0000-0000-C000-000000000046}");
    // Stores a counted reference to the interface `iid` in `obj` and answers S_OK, or clears `obj` and
    // answers E_NOINTERFACE.
    virtual HRESULT QueryInterface(const TGUID& iid, void** obj) = 0;
    virtual std::int32_t _AddRef() = 0;
    virtual std::int32_t _Release() = 0;

protected:
    // Objects are destroyed by their own _Release, never through an interface pointer.
    virtual ~IInterface() = default;
};

// An intrusive counted reference to an interface (or to a class that implements IInterface).
template <class T> class TInterfacePtr {
public:
    TInterfacePtr() = default;
    TInterfacePtr(std::nullptr_t) {}
    // Takes a new counted reference.
    TInterfacePtr(T* p) : FPtr(p) {
        if (FPtr)
            FPtr->_AddRef();
    }
    TInterfacePtr(const TInterfacePtr& other) : TInterfacePtr(other.FPtr) {}
    TInterfacePtr(TInterfacePtr&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
    template <class U>
    requires std::is_convertible_v<U*, T*> TInterfacePtr(const TInterfacePtr<U>& other)
        : TInterfacePtr(other.get()) {}
    template <class U>
    requires std::is_convertible_v<U*, T*> TInterfacePtr(TInterfacePtr<U>&& other)
    noexcept : FPtr(other.Detach()) {}
    ~TInterfacePtr() { reset(); }

    TInterfacePtr& operator=(TInterfacePtr other) noexcept {
        std::swap(FPtr, other.FPtr);
        return *this;
    }

    // Adopts a reference that was already counted for us (the result of QueryInterface).
    static TInterfacePtr Attach(T* p) {
        TInterfacePtr r;
        r.FPtr = p;
        return r;
    }
    // Hands the counted reference over to the caller.
    T* Detach() noexcept { return std::exchange(FPtr, nullptr); }

    void reset() {
        if (T* p = std::exchange(FPtr, nullptr))
            p->_Release();
    }
    T* get() const { return FPtr; }
    T* operator->() const { return FPtr; }
    T& operator*() const { return *FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }
    friend bool operator==(const TInterfacePtr& a, const TInterfacePtr& b) { return a.FPtr == b.FPtr; }
    friend bool operator==(const TInterfacePtr& a, std::nullptr_t) { return a.FPtr == nullptr; }

private:
    T* FPtr = nullptr;
};

// A counted reference to interface I of `obj` by QueryInterface; empty when `obj` is null or does not
// implement I.
template <class I> TInterfacePtr<I> Supports(IInterface* obj) {
    void* p = nullptr;
    if (obj == nullptr || obj->QueryInterface(I::IID, &p) != S_OK)
        return nullptr;
    return TInterfacePtr<I>::Attach(static_cast<I*>(p));
}

// The interface `iid` of `self` among IInterface and I..., uncounted; null when it is none of them.
template <class... I, class Self> void* FindInterface(Self* self, const TGUID& iid) {
    void* found = nullptr;
    if (iid == IInterface::IID)
        found = static_cast<IInterface*>(self);
    else
        (void)((iid == I::IID ? (found = static_cast<I*>(self), true) : false) || ...);
    return found;
}

// The usual body of QueryInterface for a class `Self` that implements the interfaces I...: IInterface and
// every I are answered (with a counted reference), every other identifier gives E_NOINTERFACE.
template <class... I, class Self> HRESULT QueryInterfaceOf(Self* self, const TGUID& iid, void** obj) {
    void* found = FindInterface<I...>(self, iid);
    if (found == nullptr) {
        *obj = nullptr;
        return E_NOINTERFACE;
    }
    static_cast<IInterface*>(self)->_AddRef();
    *obj = found;
    return S_OK;
}

// A new object of a reference-counted class, held by the first counted reference.
template <class T, class... A> TInterfacePtr<T> MakeInterfaced(A&&... args) {
    return TInterfacePtr<T>(new T(std::forward<A>(args)...));
}

// ---- attribute types -----------------------------------------------------------------------------------

enum TSAXAttributeType : std::uint8_t {
    atCData,
    atId,
    atIdref,
    atIdrefs,
    atNMToken,
    atNMTokens,
    atEntity,
    atEntities,
    atNotation
};

inline constexpr std::array<std::string_view, 9> SAXAttributeTypeNames = {
    "CDATA", "ID", "IDREF", "IDREFS", "NMTOKEN", "NMTOKENS", "ENTITY", "ENTITIES", "NOTATION"};

// ---- exceptions ----------------------------------------------------------------------------------------

// Base of the layer's exceptions; what() is the exception's own message text. It can carry a wrapped
// exception, which it keeps alive.
class ESAXException : public std::runtime_error {
public:
    explicit ESAXException(const std::string& Message);
    explicit ESAXException(std::shared_ptr<const std::exception> WrappedException);
    ESAXException(const std::string& Message, std::shared_ptr<const std::exception> WrappedException);

    // The own message; when it is empty and a wrapped exception is set, the wrapped exception's own
    // what() (one level deep, no further fallback).
    std::string Message() const;
    const std::shared_ptr<const std::exception>& WrappedException() const { return FException; }
    void SetWrappedException(std::shared_ptr<const std::exception> e) { FException = std::move(e); }

private:
    std::shared_ptr<const std::exception> FException;
};

class ISAXLocator;

// A parse error, fatal error or warning with its position.
class ESAXParseException : public ESAXException {
public:
    ESAXParseException(const std::string& Message, const std::string& PublicId, const std::string& SystemId,
                       std::int32_t LineNumber, std::int32_t ColumnNumber);
    ESAXParseException(const std::string& Message, const std::string& PublicId, const std::string& SystemId,
                       std::int32_t LineNumber, std::int32_t ColumnNumber,
                       std::shared_ptr<const std::exception> WrappedException);
    // Copies the locator's position once; `Locator` must not be null (std::invalid_argument otherwise).
    ESAXParseException(const std::string& Message, ISAXLocator* Locator);
    ESAXParseException(const std::string& Message, ISAXLocator* Locator,
                       std::shared_ptr<const std::exception> WrappedException);

    std::int32_t ColumnNumber() const { return FColumnNumber; }
    void SetColumnNumber(std::int32_t v) { FColumnNumber = v; }
    std::int32_t LineNumber() const { return FLineNumber; }
    void SetLineNumber(std::int32_t v) { FLineNumber = v; }
    const std::string& PublicId() const { return FPublicId; }
    void SetPublicId(const std::string& v) { FPublicId = v; }
    const std::string& SystemId() const { return FSystemId; }
    void SetSystemId(const std::string& v) { FSystemId = v; }

private:
    std::int32_t FColumnNumber = -1;
    std::int32_t FLineNumber = -1;
    std::string FPublicId;
    std::string FSystemId;
};

// The file-open error of an input source: "Datei %s kann nicht geöffnet werden. %s" (expanded path,
// system error text).
class EFOpenError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The platform parser's failure: its status code and its own description. `Parse` raises it when the
// document could not be parsed to its end (a fatal error, or a handler that raised).
class ESAXPlatformError : public std::runtime_error {
public:
    ESAXPlatformError(HRESULT Code, const std::string& Description)
        : std::runtime_error(Description), FCode(Code) {}
    HRESULT ErrorCode() const { return FCode; }

private:
    HRESULT FCode;
};

// ---- input source --------------------------------------------------------------------------------------

// A read-only byte stream that names the document it reads. The public constructor opens a file; a
// descendant may read from elsewhere by overriding Read.
class TSAXInputSource {
public:
    // Opens the existing file `SystemId` (taken literally) for reading; raises EFOpenError otherwise.
    explicit TSAXInputSource(const std::string& SystemId);
    virtual ~TSAXInputSource();
    TSAXInputSource(const TSAXInputSource&) = delete;
    TSAXInputSource& operator=(const TSAXInputSource&) = delete;

    // Reads up to `count` bytes from the current position; the number read, 0 at the end. Raises
    // std::runtime_error when the file cannot be read.
    virtual std::size_t Read(void* buffer, std::size_t count);
    // The file the stream reads (empty for a stream that is not a file).
    const std::string& FileName() const { return FFileName; }

    const std::string& Encoding() const { return FEncoding; }
    void SetEncoding(const std::string& v) { FEncoding = v; }
    const std::string& PublicId() const { return FPublicId; }
    void SetPublicId(const std::string& v) { FPublicId = v; }
    const std::string& SystemId() const { return FSystemId; }
    void SetSystemId(const std::string& v) { FSystemId = v; }

protected:
    // For descendants that do not read a file.
    struct TNoFile {};
    TSAXInputSource(TNoFile, const std::string& SystemId);

private:
    int FHandle = -1;
    std::string FFileName;
    std::string FEncoding;
    std::string FPublicId;
    std::string FSystemId;
};

// ---- interfaces ----------------------------------------------------------------------------------------

class ISAXEntityResolver : public virtual IInterface {
public:
    static constexpr TGUID IID = TGUID::Parse("{669D9AA0-3D80-11D4-9ABD-B87D0AF18D62}");
    // An input source for the entity, handed over to the caller; null to let the reader open it itself.
    virtual std::unique_ptr<TSAXInputSource> ResolveEntity(const std::string& PublicId,
                                                           const std::string& SystemId) = 0;
};

class ISAXDTDHandler : public virtual IInterface {
public:
    static constexpr TGUID IID = TGUID::Parse("{669D9AA1-3D80-11D4-9ABD-B87D0AF18D62}");
    virtual void NotationDecl(const std::string& Name, const std::string& PublicId,
                              const std::string& SystemId) = 0;
    virtual void UnparsedEntityDecl(const std::string& Name, const std::string& PublicId,
                                    const std::string& SystemId, const std::string& NotationName) = 0;
};

class ISAXLocator : public virtual IInterface {
public:
    static constexpr TGUID IID = TGUID::Parse("{669D9AA2-3D80-11D4-9ABD-B87D0AF18D62}");
    virtual std::string GetPublicId() = 0;
    virtual std::string GetSystemId() = 0;
    virtual std::int32_t GetLineNumber() = 0;
    virtual std::int32_t GetColumnNumber() = 0;
};

// SAX1 attribute list: no class of the system implements it.
class ISAXAttributeList : public virtual IInterface {
public:
    static constexpr TGUID IID = TGUID::Parse("{669D9AA3-3D80-11D4-9ABD-B87D0AF18D62}");
    virtual std::int32_t GetLength() = 0;
    virtual std::string GetName(std::int32_t Index) = 0;
    virtual std::string GetType(std::int32_t Index) = 0;
    virtual std::string GetValue(std::int32_t Index) = 0;
    virtual std::string GetType(const std::string& Name) = 0;
    virtual std::string GetValue(const std::string& Name) = 0;
};

// SAX1 document handler.
class ISAXDocumentHandler : public virtual IInterface {
public:
    static constexpr TGUID IID = TGUID::Parse("{669D9AA4-3D80-11D4-9ABD-B87D0AF18D62}");
    virtual void SetDocumentLocator(ISAXLocator* Locator) = 0;
    virtual void StartDocument() = 0;
    virtual void EndDocument() = 0;
    virtual void StartElement(const std::string& Name, ISAXAttributeList* Attributes) = 0;
    virtual void EndElement(const std::string& Name) = 0;
    virtual void Characters(const std::string& Text) = 0;
    virtual void IgnorableWhiteSpace(const std::string& Text) = 0;
    virtual void ProcessingInstruction(const std::string& Target, const std::string& Data) = 0;
};

// Receives the parse errors. The error object stays the reader's; a handler that wants the parse to stop
// throws (a copy of) it.
class ISAXErrorHandler : public virtual IInterface {
public:
    static constexpr TGUID IID = TGUID::Parse("{669D9AA5-3D80-11D4-9ABD-B87D0AF18D62}");
    virtual void Error(const ESAXParseException& ParseError) = 0;
    virtual void FatalError(const ESAXParseException& ParseError) = 0;
    virtual void Warning(const ESAXParseException& ParseError) = 0;
};
