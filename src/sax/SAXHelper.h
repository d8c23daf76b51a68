#pragma once
// Reference-counted base classes of the layer and the SAX1 do-nothing handler set.
#include "sax/SAX.h"

#include <atomic>

// Reference counting shared by the layer's classes: the count is 0 after construction, _AddRef and
// _Release change it atomically, and the release that brings it to 0 destroys the object. QueryInterface
// answers the interfaces that GetInterface names.
class TInterfacedObject : public virtual IInterface {
public:
    HRESULT QueryInterface(const TGUID& iid, void** obj) override;
    std::int32_t _AddRef() override;
    std::int32_t _Release() override;
    std::int32_t RefCount() const { return FRefCount.load(); }

protected:
    TInterfacedObject() = default;
    ~TInterfacedObject() override = default;
    // The interface `iid` of this object (uncounted), or null. Descendants add theirs, usually with
    // FindInterface<...>(this, iid).
    virtual void* GetInterface(const TGUID& iid);

private:
    std::atomic<std::int32_t> FRefCount{0};
};

// The layer's reference-counted persistent object, the base of the readers. Same counting rules as
// TInterfacedObject; no temporary count protects a constructor, so a constructor must not take and drop
// a counted reference to its own object.
class TInterfacedPersistent : public TInterfacedObject {
protected:
    TInterfacedPersistent() = default;
    ~TInterfacedPersistent() override = default;
};

// The part that the SAX1 and the SAX2 handler sets share (error handler, entity resolver, DTD handler):
// ResolveEntity gives null, FatalError throws the error it is given, everything else does nothing.
class TSAXCommonHandler : public TInterfacedObject,
                          public ISAXErrorHandler,
                          public ISAXEntityResolver,
                          public ISAXDTDHandler {
public:
    void NotationDecl(const std::string& Name, const std::string& PublicId,
                      const std::string& SystemId) override;
    void UnparsedEntityDecl(const std::string& Name, const std::string& PublicId, const std::string& SystemId,
                            const std::string& NotationName) override;
    std::unique_ptr<TSAXInputSource> ResolveEntity(const std::string& PublicId,
                                                   const std::string& SystemId) override;
    void Error(const ESAXParseException& ParseError) override;
    void FatalError(const ESAXParseException& ParseError) override;
    void Warning(const ESAXParseException& ParseError) override;

protected:
    TSAXCommonHandler() = default;
    void* GetInterface(const TGUID& iid) override;
};

// A complete SAX1 handler set whose operations do nothing (see TSAXCommonHandler for the exceptions).
class TSAXHandlerBase : public TSAXCommonHandler, public ISAXDocumentHandler {
public:
    void Characters(const std::string& Text) override;
    void EndDocument() override;
    void EndElement(const std::string& Name) override;
    void IgnorableWhiteSpace(const std::string& Text) override;
    void ProcessingInstruction(const std::string& Target, const std::string& Data) override;
    void SetDocumentLocator(ISAXLocator* Locator) override;
    void StartDocument() override;
    void StartElement(const std::string& Name, ISAXAttributeList* Attributes) override;

protected:
    void* GetInterface(const TGUID& iid) override;
};

// An input source over bytes held in memory (tests, fuzzing, benchmarks).
class TSAXStringInputSource : public TSAXInputSource {
public:
    TSAXStringInputSource(std::string Data, const std::string& SystemId = std::string());
    std::size_t Read(void* buffer, std::size_t count) override;

private:
    std::string FData;
    std::size_t FPos = 0;
};
