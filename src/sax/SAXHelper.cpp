#include "sax/SAXHelper.h"

#include <algorithm>
#include <cstring>

HRESULT TInterfacedObject::QueryInterface(const TGUID& iid, void** obj) {
    void* found = GetInterface(iid);
    if (found == nullptr) {
        *obj = nullptr;
        return E_NOINTERFACE;
    }
    _AddRef();
    *obj = found;
    return S_OK;
}

std::int32_t TInterfacedObject::_AddRef() {
    return ++FRefCount;
}

std::int32_t TInterfacedObject::_Release() {
    const std::int32_t count = --FRefCount;
    if (count == 0)
        delete this;
    return count;
}

void* TInterfacedObject::GetInterface(const TGUID& iid) {
    return FindInterface<>(this, iid);
}

void TSAXHandlerBase::Characters(const std::string&) {}
void TSAXHandlerBase::EndDocument() {}
void TSAXHandlerBase::EndElement(const std::string&) {}
void TSAXHandlerBase::IgnorableWhiteSpace(const std::string&) {}
void TSAXHandlerBase::ProcessingInstruction(const std::string&, const std::string&) {}
void TSAXHandlerBase::SetDocumentLocator(ISAXLocator*) {}
void TSAXHandlerBase::StartDocument() {}
void TSAXHandlerBase::StartElement(const std::string&, ISAXAttributeList*) {}
void TSAXCommonHandler::NotationDecl(const std::string&, const std::string&, const std::string&) {}
void TSAXCommonHandler::UnparsedEntityDecl(const std::string&, const std::string&, const std::string&,
                                           const std::string&) {}
std::unique_ptr<TSAXInputSource> TSAXCommonHandler::ResolveEntity(const std::string&, const std::string&) {
    return nullptr;
}
void TSAXCommonHandler::Error(const ESAXParseException&) {}
void TSAXCommonHandler::FatalError(const ESAXParseException& ParseError) {
    throw ParseError;
}
void TSAXCommonHandler::Warning(const ESAXParseException&) {}

void* TSAXCommonHandler::GetInterface(const TGUID& iid) {
    return FindInterface<ISAXErrorHandler, ISAXEntityResolver, ISAXDTDHandler>(this, iid);
}

void* TSAXHandlerBase::GetInterface(const TGUID& iid) {
    if (void* p = TSAXCommonHandler::GetInterface(iid))
        return p;
    return FindInterface<ISAXDocumentHandler>(this, iid);
}

TSAXStringInputSource::TSAXStringInputSource(std::string Data, const std::string& SystemId)
    : TSAXInputSource(TNoFile{}, SystemId), FData(std::move(Data)) {}

std::size_t TSAXStringInputSource::Read(void* buffer, std::size_t count) {
    const std::size_t n = std::min(count, FData.size() - FPos);
    std::memcpy(buffer, FData.data() + FPos, n);
    FPos += n;
    return n;
}
