#pragma once
// The NAS document parser: a SAX2 handler that turns one NAS file into feature records, the file's
// portion header and the reference systems its header announces. It is a flat state machine (flags,
// switches and a few tag texts, no stack of open elements); finished records go to the main window's
// writer while the parse runs.
#include <QObject>
#include <QPointer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "model/NASDEF.h"
#include "model/StringList.h"
#include "sax/SAX2Ext.h"

class TfrmKelpora;

// A text that is not a date-time by the lifespan rule; what() is the German conversion message.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads a lifespan date-time from a NAS text as an xs:dateTime, exactly:
// "YYYY-MM-DDThh:mm:ss[.fraction][Z|(+|-)hh:mm]", white space around it allowed; a date alone,
// "YYYY-MM-DD[Z|(+|-)hh:mm]" as xs:date writes it, is that day at 00:00. The year has four digits (0001
// to 9999), month and day make a real date, hours run to 23 (24:00:00 is the next day's midnight),
// minutes and seconds to 59; a fraction is kept to the millisecond. A value with an offset (at most
// 14:00) is converted to UTC, one without a zone taken as written. Raises EConvertError
// "'<text>' ist keine gültige Datums- und Uhrzeitangabe" for anything else.
TDateTime NasTextToDateTime(const std::string& text);

// Where an element stands, as far as the parser needs to know (the order is part of the contract).
enum TAXObjTagFlag : std::uint8_t {
    tfPosition,
    tfAttribute,
    tfGmlIdent,
    tfLebensZeitIntervall,
    tfModellart,
    tfZeigtAufExternes,
    tfIstTeilVon,
    tfHatDirektUnten,
    tfLZIbeginnt,
    tfLZIendet,
    tfMAadvsm,
    tfAntragsnummer,
    tfLfdNr,
    tfAnzPort,
    tfKatalog,
    tfStruktur,
    tfRelation,
    tfCRS
};

// A set of TAXObjTagFlag values.
class TAXObjTagFlags {
public:
    bool Contains(TAXObjTagFlag f) const { return (bits & Bit(f)) != 0; }
    void Include(TAXObjTagFlag f) { bits |= Bit(f); }
    void Exclude(TAXObjTagFlag f) { bits &= ~Bit(f); }
    bool Empty() const { return bits == 0; }

private:
    static std::uint32_t Bit(TAXObjTagFlag f) { return 1u << static_cast<unsigned>(f); }
    std::uint32_t bits = 0;
};

// Element local names that are data types: properties inside them are named after the enclosing
// property. Kept as delivered, including the repeated names and the entry with a blank (which no XML
// name can match).
extern const std::array<std::string_view, 32> Datentypen;
// True when `localName` equals one of the Datentypen entries (case matters).
bool IsDatentyp(std::string_view localName);

// The data of one element start while StartElement looks at it.
class TElement {
public:
    TElement() = default;
    TElement(std::string URI, std::string LocalName)
        : FLocalName(std::move(LocalName)), FURI(std::move(URI)) {}
    // The holder of another element start, with empty lists.
    void Reset(const std::string& URI, const std::string& LocalName) {
        FAttributes.Clear();
        FPrefixes.Clear();
        FLocalName = LocalName;
        FURI = URI;
    }
    TStringList FAttributes; // qualified name=value, empty values left out
    std::string FLocalName;
    TStringList FPrefixes; // the prefix mappings announced just before this element
    std::string FURI;
};

enum class TNasName : std::uint8_t;

class TBrenkoSaxReader : public QObject,
                         public ISAXDeclHandler,
                         public ISAXLexicalHandler,
                         public ISAXErrorHandler,
                         public ISAXContentHandler,
                         public ISAXDTDHandler {
public:
    // A parser bound to `AForm` (also its Qt parent): creates its SAX2 reader, registers itself as every
    // handler of it and installs the SQL executor of the GML conversion.
    explicit TBrenkoSaxReader(TfrmKelpora* AForm);
    ~TBrenkoSaxReader() override;

    // IInterface: the parser is owned by its creator; references through its interfaces do not count.
    HRESULT QueryInterface(const TGUID& iid, void** obj) override;
    std::int32_t _AddRef() override { return -1; }
    std::int32_t _Release() override { return -1; }

    // ISAXContentHandler
    void SetDocumentLocator(ISAXLocator* Locator) override;
    void StartDocument() override {}
    void EndDocument() override;
    void StartPrefixMapping(const std::string& Prefix, const std::string& URI) override;
    void EndPrefixMapping(const std::string&) override {}
    void StartElement(const std::string& NamespaceURI, const std::string& LocalName, const std::string& QName,
                      ISAXAttributes* Attributes) override;
    void EndElement(const std::string& NamespaceURI, const std::string& LocalName,
                    const std::string& QName) override;
    void Characters(const std::string& Text) override;
    void IgnorableWhitespace(const std::string&) override {}
    void ProcessingInstruction(const std::string&, const std::string&) override {}
    void SkippedEntity(const std::string&) override {}

    // ISAXDTDHandler
    void NotationDecl(const std::string&, const std::string&, const std::string&) override {}
    void UnparsedEntityDecl(const std::string&, const std::string&, const std::string&,
                            const std::string&) override {}

    // ISAXErrorHandler: errors are shown; warnings are logged, and the first of a file shown too. None
    // stops the parse from here.
    void Error(const ESAXParseException& ParseError) override;
    void FatalError(const ESAXParseException& ParseError) override;
    void Warning(const ESAXParseException& ParseError) override;

    // ISAXLexicalHandler
    void Comment(const std::string&) override {}
    void EndCData() override;
    void EndDTD() override {}
    void EndEntity(const std::string&) override {}
    void StartCData() override;
    void StartDTD(const std::string&, const std::string&, const std::string&) override {}
    void StartEntity(const std::string& Name) override;

    // ISAXDeclHandler
    void AttributeDecl(const std::string&, const std::string&, const std::string&, const std::string&,
                       const std::string&) override {}
    void ElementDecl(const std::string&, const std::string&) override {}
    void ExternalEntityDecl(const std::string&, const std::string&, const std::string&) override {}
    void InternalEntityDecl(const std::string&, const std::string&) override {}

    // Test seam. When set, a finished record (insert, replace or delete) goes to RecordSink instead of
    // the main window's WriteToDB/DeleteFromDB, and an export protocol to ProtocolSink instead of
    // IB_Protokoll, so that tests can look at what the parser hands over without a database.
    std::function<void(TAXObject& record)> RecordSink;
    std::function<void(const std::string& protocol)> ProtocolSink;

private:
    // The text collected since the last element, CDATA or entity boundary goes where the state sends it.
    void FlushText();
    void UseText(const std::string& chunk);
    void UseTextInRecord(const std::string& chunk);
    void UseTextOutside(const std::string& chunk);
    // A new record; what the state machine held of the one before it goes.
    void OpenRecord();
    // The record is refused for `reason` (the first reason counts); it still goes to the writer, which
    // reports it in its place among the other records.
    void RefuseRecord(const std::string& reason);
    void ReadLifespanDate(TDateTime& date, const std::string& text, const char* element);
    // The end of a lifespan element (flag tfLZIbeginnt or tfLZIendet) that may have held no text.
    void EndLifespanDate(TAXObjTagFlag flag);
    // Inside the "position" of the open record (a record opened inside a position has none open).
    bool InPosition() const { return oInPosition && iPositionRecord == iCreate; }
    // Element start and end inside "position".
    void StartElementInPosition(const std::string& QName, const TElement& element);
    void EndElementInPosition(const std::string& QName);
    // Whether the open record may grow by `bytes`; past its bound it is refused and what it holds dropped.
    bool RecordTakes(std::size_t bytes);
    void RecordTooLarge();
    // Text outside records past the bound is dropped, up to the next element boundary, and said once.
    void TextOutsideTooLarge();
    // Whether an announced reference system is kept for the run (see the .cpp); says once a file when not.
    bool TakesReferenceSystem(const std::string& code);
    // The first text of a file that holds no NAS data, for the message that says so.
    void NoteFirstText(const std::string& text);
    // "Zeile L, Spalte C" of the parse position.
    std::string Position() const;
    std::int32_t LineNumber() const;
    void HandOverRecord(bool isDelete);
    void HandOverProtocol();
    void ShortenNamePath();
    void AppendToAttribute(const std::string& text);
    std::string ElementStartTag(const std::string& QName, const TElement& element) const;
    void AppendElementStartTag(std::string& out, const std::string& QName, const TElement& element) const;
    // The element cases that apply inside a record (after the opening cases found nothing); `name` is
    // what the local name is to the state machine.
    void StartElementInRecord(const std::string& LocalName, const std::string& QName, const TElement& element,
                              TNasName name);
    // featureMember(s), Insert, Delete, Replace and Update open a record (and a transaction's state); a
    // record still open is refused for the element `QName` that begins before its end.
    void OpenTransaction(TNasName name, const std::string& QName, const TElement& element);
    void RefuseUnfinishedRecord(const std::string& QName);
    // The first element of a record is its feature element, whatever its name; its own end tag ends it.
    void TakeFeatureElement(const std::string& LocalName, const TElement& element);
    void EndFeature();
    // Besides its feature a Replace holds only its Filter, whose FeatureIds must name the object of the
    // new version; the replace is handed over at its own end.
    bool ReadingReplaceFilter() const {
        return transaction == TTransaction::Replace && (oReplaceFeatureRead || oInReplaceFilter);
    }
    void StartElementInReplaceFilter(const std::string& QName, const TElement& element, TNasName name);
    void FinishReplace();
    // Sets the open record's identifier to `id`, the form `raw` of the file takes; a record whose `raw`
    // is empty or past the bound of the database's identifiers is refused.
    void TakeIdentifier(const std::string& raw, const std::string& id);
    // A FeatureId of a Delete or Update: one record each, handed over at the transaction's end.
    void NoteFeatureId(const std::string& fid);
    void HandOverPerFeatureId();
    // Inside an Update only its properties and FeatureIds are read; nothing of it is an attribute line.
    void StartElementInUpdate(const std::string& LocalName, const TElement& element, TNasName name);
    void EndElementInUpdate();
    void EndUpdateProperty();
    void SayUpdatePropertyIgnored(const std::string& name);
    // After an element inside a featureMember, Insert or Replace ends: the next feature of a featureMember
    // or an Insert gets a record, a record none of whose features came is dropped at the end of its
    // wrapper, and a Replace goes to the writer at its end.
    void EndElementInWrapper();

    TElement FElement; // the holder of the element start being read
    ISAXLocator* FLocator = nullptr;
    std::string FCaption;
    std::int32_t FCharIcon = 0;
    TStringList FPrefixes;
    std::int32_t iElemente = 0;
    std::unique_ptr<TAXObject> obCurrentInsert;
    // The reference system of the block being read, until the block's end hands it to obKoRefs.
    std::unique_ptr<TKooRefSys> obCurrentKRS;
    TAXObjTagFlags AXObjTagFlags;
    bool oReadGeometry = false;
    bool oReadAttribute = false;
    bool oReadSubObject = false;
    bool oReadCData = false;
    bool oEntity = false;
    std::string sElemTag;
    // Inside "position": the element depth below it, and the record (by iCreate) whose position it is.
    // oReadGeometry is on from the position's start to the end of its first element, whose copy is the
    // record's geometry.
    bool oInPosition = false;
    std::int32_t iPositionDepth = 0;
    std::int32_t iPositionRecord = 0;
    // Some text of the open "beginnt" or "endet" arrived: an empty one is no date.
    bool oLifespanText = false;
    std::string sAttrTag;
    std::string sBeforeTag;
    std::string sSubObjectTag;
    std::string sCData;
    std::int32_t iCreate = 0;
    std::int32_t iDestroy = 0;

    // Character data arrives in pieces (libxml2 splits a text at references and buffer boundaries); the
    // pieces of one text are joined here and used as one text.
    std::string sPendingText;
    std::string sUsedText; // the text being used; its buffer is kept for the next one
    // An entity began inside a property while earlier text of it was still pending: the entity's effect
    // on joining applies once that text is used.
    bool oEntityAfterPending = false;

    // Warnings of this file so far: each one is logged, only the first shows a box.
    std::int32_t iWarnings = 0;
    // Text the open record holds, counted as it grows; past the bound its content is dropped.
    std::size_t iRecordBytes = 0;
    bool oRecordTooLarge = false;
    // Text outside records past the bound: the rest of it up to the next element boundary is dropped, and
    // the export protocol being collected is not handed over. Said once per file.
    bool oDropText = false;
    bool oProtocolDropped = false;
    bool oTextTooLargeSaid = false;
    bool oReferenceSystemsSaid = false;

    // The transaction whose content is being read, when its elements are counted: the features of a
    // featureMember or an Insert (Features) and the feature of a Replace are their children, each ending
    // with its own end tag, and the properties and FeatureIds of an Update are known by their depth.
    // iTransactionDepth counts the open elements from the transaction's own on.
    enum class TTransaction : std::uint8_t { None, Features, Replace, Update };
    TTransaction transaction = TTransaction::None;
    std::int32_t iTransactionDepth = 0;
    // The Replace being read: its typeName, whether its feature has ended (what follows is its Filter),
    // whether a Filter came and whether an element of that Filter is open.
    std::string sReplaceTypeName;
    bool oReplaceFeatureRead = false;
    bool oReplaceHasFilter = false;
    bool oInReplaceFilter = false;
    // The FeatureIds of the open Delete, Update or Replace filter: the object identifier, or why it cannot
    // be one.
    struct TFeatureId {
        std::string identifikator;
        std::string refusal;
    };
    std::vector<TFeatureId> featureIds;
    // The Update's property being read: its name and value texts, and which of them takes text.
    enum class TUpdateText : std::uint8_t { None, Name, Value };
    TUpdateText updateText = TUpdateText::None;
    bool oUpdateProperty = false;
    bool oUpdateEndet = false; // the Update has an endet: only then it hands records over
    std::string sUpdateName;
    std::string sUpdateValue;
    // The properties updates of this file could not apply that were said; past their bound, once that
    // more are not named.
    std::set<std::string> updatePropertiesSaid;
    bool oMoreUpdatePropertiesSaid = false;
    // The root element is read (for oNoNasData), and the first text of a file without NAS data.
    bool oRootSeen = false;
    bool oFirstTextNoted = false;

public:
    TfrmKelpora* frm = nullptr;
    // The file wraps its features or names its objects in the forms of GeoInfoDok 7 (wfs:member,
    // fes:ResourceId, any element of WFS 2.0 or FES 2.0), which are not read: from the first such element
    // on no record reaches the writer, and the file is rolled back.
    bool oGeoInfoDok7Form = false;
    // The file's root element is none of NAS data (an OWS exception report, any other XML): nothing of the
    // file is read. sNoNasData names the root element and the file's first text, for the message.
    bool oNoNasData = false;
    std::string sNoNasData;
    TInterfacePtr<ISAXXMLReader> FSAXReader;
    TPortionFile* currPortion = nullptr; // owned by the main window's obFiles
};
