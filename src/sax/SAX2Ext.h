#pragma once
// SAX2 extension handlers (declarations and lexical events) and the identifiers of the reader properties
// that install them.
#include "sax/SAX2.h"

// The standard SAX2 property identifiers of the two extension handlers (names match exactly).
inline constexpr const char* LexicalHandlerProperty = "http://xml.org/sax/properties/lexical-handler";
inline constexpr const char* DeclHandlerProperty = "http://xml.org/sax/properties/declaration-handler";

class ISAXDeclHandler : public virtual IInterface {
public:
    static constexpr TGUID IID = TGUID::Parse("{F430E0E4-3B30-11D4-9ABD-98F2DF77D546}");
    // `AttrType` is the declared type as text ("CDATA", "ID", "(a|b)", ...).
    virtual void AttributeDecl(const std::string& EName, const std::string& AName,
                               const std::string& AttrType, const std::string& ValueDefault,
                               const std::string& Value) = 0;
    virtual void ElementDecl(const std::string& Name, const std::string& Model) = 0;
    virtual void ExternalEntityDecl(const std::string& Name, const std::string& PublicId,
                                    const std::string& SystemId) = 0;
    virtual void InternalEntityDecl(const std::string& Name, const std::string& Value) = 0;
};

class ISAXLexicalHandler : public virtual IInterface {
public:
    static constexpr TGUID IID = TGUID::Parse("{F430E0E5-3B30-11D4-9ABD-98F2DF77D546}");
    virtual void Comment(const std::string& Text) = 0;
    virtual void EndCData() = 0;
    virtual void EndDTD() = 0;
    virtual void EndEntity(const std::string& Name) = 0;
    virtual void StartCData() = 0;
    virtual void StartDTD(const std::string& Name, const std::string& PublicId,
                          const std::string& SystemId) = 0;
    virtual void StartEntity(const std::string& Name) = 0;
};
