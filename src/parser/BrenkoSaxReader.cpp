#include "parser/BrenkoSaxReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/FormKelpora.h"
#include "gml/GML2WKT.h"
#include "model/Utils.h"
#include "platform/dialogs/Dialogs.h"
#include "sax/SAX2MS.h"

const std::array<std::string_view, 32> Datentypen = {
    "AX_Flurstuecksnummer",
    "AX_SonstigeEigenschaften_Flurstueck",
    "AX_Fortführungsnummer",
    "AX_Reservierungsauftrag_Gebietskennung",
    "AX_Buchung_HistorischesFlurstueck",
    "AX_Anteil",
    "AX_DQOhneDatenerhebung",
    "AX_DQMitDatenerhebung",
    "AX_KennzifferGrabloch",
    "AX_Gemeindekennzeichen",
    "AX_Buchungsblattbezirk_Schluessel",
    "AX_Dienststelle_Schluessel",
    "AX_Bundesland_Schluessel",
    "AX_Gemarkung_Schluessel",
    "AX_GemarkungsteilFlur_Schluessel",
    "AX_Regierungsbezirk_Schluessel",
    "AX_Kreis_Schluessel",
    "AX_VerschluesselteLagebezeichnung",
    "AX_BereichZeitlich",
    "AX_FOLGEVA",
    "AX_Portionierungsparameter",
    "AX_K_ANSCHRIFT",
    "AKS AX_K_AUSGKOPF_Standard",
    "AX_FGraphik",
    "AX_Dienststellenlogo",
    "AX_Landeswappen",
    "AX_DQHoehenfestpunkt",
    "AX_DQPunktort",
    "AX_Punktstabilitaet_Hoehenfestpunkt",
    "AX_Bundesland_Schluessel",
    "AX_Lagebezeichnung",
    "AX_VerschluesselteLagebezeichnung",
};

bool IsDatentyp(std::string_view localName) {
    return std::find(Datentypen.begin(), Datentypen.end(), localName) != Datentypen.end();
}

// The element names the state machine tests for. Every element start and end compares its local name
// with up to a few dozen of them; a name is looked up once instead.
enum class TNasName : std::uint8_t {
    Other,
    featureMember,
    featureMembers,
    Insert,
    Delete,
    Replace,
    Update,
    crs,
    NBA,
    Bestandsdatenauszug,
    antragsnummer,
    laufendeNummerVonGesamtzahl,
    gesamtzahl,
    Koordinatenreferenzsystemangaben,
    erlaeuterung,
    position,
    LI_Lineage,
    FeatureId,
    lebenszeitintervall,
    modellart,
    zeigtAufExternes,
    identifier,
    beginnt,
    endet,
    advStandardModell,
    Datentyp, // one of Datentypen
};

namespace {

TNasName NameOf(std::string_view localName) {
    // Names by their length: most element names of a feature have a length no name here has, and the
    // others meet one or two candidates.
    struct TEntry {
        std::string_view name;
        TNasName kind;
    };
    constexpr std::size_t kLongest = 64;
    static const std::vector<std::vector<TEntry>> byLength = [] {
        std::vector<std::vector<TEntry>> table(kLongest + 1);
        const TEntry names[] = {
            {"featureMember", TNasName::featureMember},
            {"featureMembers", TNasName::featureMembers},
            {"Insert", TNasName::Insert},
            {"Delete", TNasName::Delete},
            {"Replace", TNasName::Replace},
            {"Update", TNasName::Update},
            {"crs", TNasName::crs},
            {"AX_NutzerbezogeneBestandsdatenaktualisierung_NBA", TNasName::NBA},
            {"AX_Bestandsdatenauszug", TNasName::Bestandsdatenauszug},
            {"antragsnummer", TNasName::antragsnummer},
            {"laufendeNummerVonGesamtzahl", TNasName::laufendeNummerVonGesamtzahl},
            {"gesamtzahl", TNasName::gesamtzahl},
            {"AA_Koordinatenreferenzsystemangaben", TNasName::Koordinatenreferenzsystemangaben},
            {"erlaeuterung", TNasName::erlaeuterung},
            {"position", TNasName::position},
            {"LI_Lineage", TNasName::LI_Lineage},
            {"FeatureId", TNasName::FeatureId},
            {"lebenszeitintervall", TNasName::lebenszeitintervall},
            {"modellart", TNasName::modellart},
            {"zeigtAufExternes", TNasName::zeigtAufExternes},
            {"identifier", TNasName::identifier},
            {"beginnt", TNasName::beginnt},
            {"endet", TNasName::endet},
            {"advStandardModell", TNasName::advStandardModell},
        };
        for (const TEntry& e : names)
            table[e.name.size()].push_back(e);
        for (const std::string_view name : Datentypen) {
            auto& bucket = table[name.size()];
            if (std::none_of(bucket.begin(), bucket.end(),
                             [name](const TEntry& e) { return e.name == name; }))
                bucket.push_back({name, TNasName::Datentyp});
        }
        return table;
    }();
    if (localName.size() > kLongest)
        return TNasName::Other;
    for (const TEntry& e : byLength[localName.size()])
        if (e.name == localName)
            return e.kind;
    return TNasName::Other;
}

// Elements that only switch a flag: on at their start, off at their end. `needs` is a flag that must be
// set for the start to count (tfPosition: none).
struct TFlagElement {
    TNasName name;
    TAXObjTagFlag flag;
    TAXObjTagFlag needs = tfPosition;
};
// In the file header, whether or not a record is open; they end only outside records.
constexpr TFlagElement kHeaderElements[] = {{TNasName::antragsnummer, tfAntragsnummer},
                                            {TNasName::laufendeNummerVonGesamtzahl, tfLfdNr},
                                            {TNasName::gesamtzahl, tfAnzPort}};
// Inside a record: blocks whose children become neither references nor properties, and the values
// read inside them.
constexpr TFlagElement kRecordElements[] = {{TNasName::lebenszeitintervall, tfLebensZeitIntervall},
                                            {TNasName::modellart, tfModellart},
                                            {TNasName::zeigtAufExternes, tfZeigtAufExternes},
                                            {TNasName::identifier, tfGmlIdent},
                                            {TNasName::beginnt, tfLZIbeginnt, tfLebensZeitIntervall},
                                            {TNasName::endet, tfLZIendet, tfLebensZeitIntervall},
                                            {TNasName::advStandardModell, tfMAadvsm, tfModellart}};

template <std::size_t N> const TFlagElement* FindFlagElement(const TFlagElement (&table)[N], TNasName name) {
    if (name == TNasName::Other)
        return nullptr;
    for (const TFlagElement& e : table)
        if (e.name == name)
            return &e;
    return nullptr;
}

constexpr std::string_view kWfs20Namespace = "http://www.opengis.net/wfs/2.0";
constexpr std::string_view kFes20Namespace = "http://www.opengis.net/fes/2.0";
constexpr std::string_view kCrsPrefix = "urn:adv:crs:";
constexpr std::string_view kOidPrefix = "urn:adv:oid:";

bool StartsWith(const std::string& s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// The identifier of an object: update data name a version by the 16 characters of its object identifier
// followed by the time stamp of the version (DENW44AL00003IkM20110429T070635Z); replaces, deletes and
// references name the object alone, so every stored version and relation carries the 16 characters.
std::string ObjectIdentifier(const std::string& id) {
    constexpr std::size_t kObjectId = 16;
    constexpr std::string_view kStampForm = "99999999T999999Z";
    if (id.size() != kObjectId + kStampForm.size())
        return id;
    for (std::size_t i = 0; i < kStampForm.size(); ++i) {
        const char c = id[kObjectId + i];
        const bool fits = kStampForm[i] == '9' ? (c >= '0' && c <= '9') : c == kStampForm[i];
        if (!fits)
            return id;
    }
    return id.substr(0, kObjectId);
}

// Identifiers are stored in columns of an index whose entries the server bounds: past this many characters
// an identifier is none the database can hold (nor a real one), and of such an identifier a report quotes
// the beginning.
constexpr std::size_t kMaxIdentifierChars = 255;
constexpr std::size_t kQuotedIdentifierChars = 40;

// Why `id` cannot identify a record; empty when it can.
std::string IdentifierFault(const std::string& id) {
    if (id.empty())
        return "Der Identifikator ist leer";
    const std::size_t chars = Utf8Length(id);
    if (chars <= kMaxIdentifierChars)
        return {};
    return "Der Identifikator ist länger als " + std::to_string(kMaxIdentifierChars) + " Zeichen (" +
           std::to_string(chars) + ")";
}

// An identifier as a report may quote it: a long one by its beginning.
std::string QuotedIdentifier(const std::string& id) {
    const std::string shown = Utf8Left(id, kQuotedIdentifierChars);
    return shown.size() < id.size() ? shown + "…" : id;
}

// A name without its namespace prefix: "adv:AX_Gebaeude" names the type AX_Gebaeude.
std::string WithoutPrefix(const std::string& name) {
    const std::size_t colon = name.rfind(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

// The only property of an Update the import applies: the end of the named object's lifespan.
constexpr std::string_view kEndetPath = "lebenszeitintervall/AA_Lebenszeitintervall/endet";
// Of the name and value texts of an Update's property this many characters are kept: a date and a
// property path are far shorter, and a report quotes no more.
constexpr std::size_t kUpdateTextChars = 1024;
// A report names a property an Update cannot apply by at most this many characters, and names at most
// this many properties a file.
constexpr std::size_t kSaidPropertyChars = 100;
constexpr std::size_t kMaxUpdatePropertiesSaid = 1000;

// The path an Update's wfs:Name gives, each step without its prefix and the whole without surrounding
// white space: "adv:lebenszeitintervall/adv:AA_Lebenszeitintervall/adv:endet" is kEndetPath.
std::string PropertyPath(const std::string& name) {
    const std::size_t first = name.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const std::string trimmed = name.substr(first, name.find_last_not_of(" \t\r\n") - first + 1);
    std::string path;
    for (std::size_t from = 0;;) {
        const std::size_t slash = trimmed.find('/', from);
        path += WithoutPrefix(trimmed.substr(from, slash == std::string::npos ? slash : slash - from));
        if (slash == std::string::npos)
            return path;
        path += '/';
        from = slash + 1;
    }
}

void AppendBounded(std::string& to, const std::string& text, std::size_t chars) {
    const std::size_t held = Utf8Length(to);
    if (held < chars)
        to += Utf8Left(text, chars - held);
}

// A text with no character above the blank carries nothing.
bool IsBlankText(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) <= 32; });
}

// Text and attribute values copied into the GML fragment or a lineage block are parsed as XML again by
// the writer, so the characters that are markup get their references back.
const char* EscapeOf(char c) {
    switch (c) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '"':
        return "&quot;";
    default:
        return nullptr;
    }
}

void AppendEscaped(std::string& out, std::string_view text) {
    std::size_t from = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (const char* escape = EscapeOf(text[i])) {
            out.append(text, from, i - from).append(escape);
            from = i + 1;
        }
    }
    out.append(text, from, std::string_view::npos);
}

// The size of the text once escaped.
std::size_t EscapedSize(std::string_view text) {
    std::size_t n = text.size();
    for (const char c : text)
        if (const char* escape = EscapeOf(c))
            n += std::strlen(escape) - 1;
    return n;
}

std::string Escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    AppendEscaped(out, text);
    return out;
}

// A record holds at most this much text (geometry, attribute lines, relations, model types): writing it
// takes several times as much again, and one feature must not take the memory of a whole import. Real
// geometries of several megabytes stay well below it.
constexpr std::size_t kMaxRecordBytes = 20'000'000;
// What a line or a relation of a record costs besides its text.
constexpr std::size_t kLineBytes = 64;
// Of the first text of a file without NAS data, this many characters go into the message that says so.
constexpr std::size_t kFirstTextChars = 200;

// The root element of NAS data: a NAS operation or its result (names of the AAA schema begin with "AX_"
// or "AA_"), or the feature collection a WFS answers with.
bool IsNasRoot(const std::string& localName) {
    return StartsWith(localName, "AX_") || StartsWith(localName, "AA_") || localName == "FeatureCollection";
}

} // namespace

TBrenkoSaxReader::TBrenkoSaxReader(TfrmKelpora* AForm) : QObject(AForm), frm(AForm) {
    // The executor reaches the window, not this parser: it stays installed after the parser is gone and
    // must never call into a freed object.
    QPointer<TfrmKelpora> form(AForm);
    ExecPostGISSQL = [form](const std::string& sql) -> std::string {
        return form ? form->PostGISCommand(sql) : std::string();
    };
    FCaption = AForm ? AForm->windowTitle().toStdString() : std::string();
    FCharIcon = 3;

    FSAXReader = MakeInterfaced<TSAX2MSReader>();
    FSAXReader->SetContentHandler(this);
    FSAXReader->SetDTDHandler(this);
    FSAXReader->SetErrorHandler(this);
    // Without these two handlers only CDATA and entity events are missing; the parse works all the same.
    try {
        FSAXReader->SetProperty(DeclHandlerProperty, static_cast<ISAXDeclHandler*>(this));
    } catch (const std::exception&) {
    }
    try {
        FSAXReader->SetProperty(LexicalHandlerProperty, static_cast<ISAXLexicalHandler*>(this));
    } catch (const std::exception&) {
    }
    oReadGeometry = false;
    oReadCData = false;
    iElemente = iDestroy = iCreate = 0;
    sCData.clear();
}

TBrenkoSaxReader::~TBrenkoSaxReader() {
    // The reader holds (uncounted) references to this object; it goes first.
    FSAXReader.reset();
}

HRESULT TBrenkoSaxReader::QueryInterface(const TGUID& iid, void** obj) {
    return QueryInterfaceOf<ISAXDeclHandler, ISAXLexicalHandler, ISAXErrorHandler, ISAXContentHandler,
                            ISAXDTDHandler>(this, iid, obj);
}

// ---- content events ------------------------------------------------------------------------------------

void TBrenkoSaxReader::SetDocumentLocator(ISAXLocator* Locator) {
    FLocator = Locator;
}

void TBrenkoSaxReader::EndDocument() {
    FlushText();
}

void TBrenkoSaxReader::StartPrefixMapping(const std::string& Prefix, const std::string& URI) {
    FPrefixes.SetValue(Prefix, URI);
}

void TBrenkoSaxReader::Error(const ESAXParseException& ParseError) {
    frm->ShowError(TErrorBoxKind::ebError, ParseError);
}

void TBrenkoSaxReader::FatalError(const ESAXParseException& ParseError) {
    frm->ShowError(TErrorBoxKind::ebError, ParseError);
}

// A warning does not stop the reading, and it must not stop the user at every occurrence: each one is
// logged, and only the first of a file shows its box as well.
void TBrenkoSaxReader::Warning(const ESAXParseException& ParseError) {
    const std::string text = "Warnung beim Lesen der Datei (Zeile " +
                             std::to_string(ParseError.LineNumber()) + ", Spalte " +
                             std::to_string(ParseError.ColumnNumber()) + "): " + ParseError.Message();
    frm->LogAndWriteLog(0, text);
    if (++iWarnings == 1)
        frm->ShowError(TErrorBoxKind::ebWarning, ParseError);
}

std::string TBrenkoSaxReader::ElementStartTag(const std::string& QName, const TElement& element) const {
    std::string tag;
    AppendElementStartTag(tag, QName, element);
    return tag;
}

void TBrenkoSaxReader::AppendElementStartTag(std::string& out, const std::string& QName,
                                             const TElement& element) const {
    out += '<';
    out += QName;
    for (const std::string& line : element.FAttributes.Lines()) {
        // Every line is a name, "=" and a value (an empty value left no line).
        const std::size_t eq = line.find('=');
        out += ' ';
        out.append(line, 0, eq);
        out += "=\"";
        if (eq != std::string::npos)
            AppendEscaped(out, std::string_view(line).substr(eq + 1));
        out += '"';
    }
    out += '>';
}

void TBrenkoSaxReader::OpenRecord() {
    obCurrentInsert = std::make_unique<TAXObject>();
    iRecordBytes = 0;
    oRecordTooLarge = false;
    // A record refused before its end (or a name path a member without text left) must not shape the next.
    for (const TAXObjTagFlag f : {tfGmlIdent, tfLebensZeitIntervall, tfModellart, tfZeigtAufExternes,
                                  tfLZIbeginnt, tfLZIendet, tfMAadvsm, tfKatalog, tfStruktur})
        AXObjTagFlags.Exclude(f);
    oInPosition = oReadGeometry = oReadSubObject = oReadAttribute = oEntity = oEntityAfterPending = false;
    sAttrTag.clear();
    sBeforeTag.clear();
    ++iCreate;
    ++iElemente;
}

void TBrenkoSaxReader::RefuseRecord(const std::string& reason) {
    if (obCurrentInsert && obCurrentInsert->refusal.empty())
        obCurrentInsert->refusal = reason;
}

// A date that is none refuses its record: nothing of it is stored, a replace closes nothing.
void TBrenkoSaxReader::ReadLifespanDate(TDateTime& date, const std::string& text, const char* element) {
    oLifespanText = true;
    try {
        date = NasTextToDateTime(text);
    } catch (const EConvertError& e) {
        const TInterfacePtr<ISAXLocator> locator = Supports<ISAXLocator>(FSAXReader.get());
        RefuseRecord(std::string(e.what()) + " (" + element + ", Zeile " +
                     std::to_string(locator ? locator->GetLineNumber() : -1) + ")");
    }
}

// A "beginnt" or "endet" without text is no date either (it would leave the zero date, which marks an
// open version).
void TBrenkoSaxReader::EndLifespanDate(TAXObjTagFlag flag) {
    if ((flag != tfLZIbeginnt && flag != tfLZIendet) || !AXObjTagFlags.Contains(flag) || oLifespanText)
        return;
    TAXObject& r = *obCurrentInsert;
    if (flag == tfLZIbeginnt)
        ReadLifespanDate(r.dtBegin, "", "beginnt");
    else
        ReadLifespanDate(r.dtEnde, "", "endet");
}

bool TBrenkoSaxReader::RecordTakes(std::size_t bytes) {
    if (oRecordTooLarge)
        return false;
    iRecordBytes += bytes;
    if (iRecordBytes <= kMaxRecordBytes)
        return true;
    RecordTooLarge();
    return false;
}

void TBrenkoSaxReader::RecordTooLarge() {
    oRecordTooLarge = true;
    RefuseRecord("Das Objekt ist zu groß: mehr als " + GermanNumber(kMaxRecordBytes) +
                 " Bytes liest der Parser für ein Objekt nicht (" + Position() + ").");
    // Nothing of it will be written; what it holds goes now.
    TAXObject& r = *obCurrentInsert;
    std::string().swap(r.position);
    r.attribute.Clear();
    r.relationen.clear();
    r.modellarten.Clear();
    std::string().swap(sPendingText);
}

// The reference systems a run's files announce are kept for the run: real files name a few, each a short
// name. A name past any real one's length, or more of them than any run announces, is passed over and
// said once a file, so that no header can make the run hold without bound.
bool TBrenkoSaxReader::TakesReferenceSystem(const std::string& code) {
    constexpr std::size_t kMaxName = 255;
    constexpr std::size_t kMaxSystems = 10'000;
    const std::size_t held = frm->obKoRefs ? frm->obKoRefs->size() : 0;
    if (code.size() <= kMaxName && held < kMaxSystems)
        return true;
    if (!oReferenceSystemsSaid) {
        oReferenceSystemsSaid = true;
        const std::string text =
            "Koordinatenreferenzsystemangaben übergangen (" + Position() + "): " +
            (code.size() > kMaxName ? "ein Name von mehr als " + GermanNumber(kMaxName) + " Zeichen"
                                    : "mehr als " + GermanNumber(kMaxSystems) + " in einem Lauf") +
            ".";
        frm->LogAndWriteLog(1, text);
    }
    return false;
}

void TBrenkoSaxReader::TextOutsideTooLarge() {
    std::string().swap(sPendingText);
    oDropText = true;
    if (oReadCData) {
        // The export protocol being collected would be handed over incomplete.
        std::string().swap(sCData);
        oProtocolDropped = true;
    }
    if (oTextTooLargeSaid)
        return;
    oTextTooLargeSaid = true;
    const std::string text = "Ein Text außerhalb der Objekte ist zu groß: mehr als " +
                             GermanNumber(kMaxRecordBytes) + " Bytes liest der Parser nicht (" + Position() +
                             "); er wird übergangen.";
    frm->LogAndWriteLog(1, text);
}

void TBrenkoSaxReader::NoteFirstText(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (oFirstTextNoted || first == std::string::npos)
        return;
    oFirstTextNoted = true;
    const std::string trimmed = text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
    const std::string shown = Utf8Left(trimmed, kFirstTextChars);
    sNoNasData += ", erster Text: \"" + shown + (shown.size() < trimmed.size() ? " ...\"" : "\"");
}

std::string TBrenkoSaxReader::Position() const {
    const TInterfacePtr<ISAXLocator> locator = Supports<ISAXLocator>(FSAXReader.get());
    if (!locator)
        return "Zeile -1, Spalte -1";
    return "Zeile " + std::to_string(locator->GetLineNumber()) + ", Spalte " +
           std::to_string(locator->GetColumnNumber());
}

std::int32_t TBrenkoSaxReader::LineNumber() const {
    const TInterfacePtr<ISAXLocator> locator = Supports<ISAXLocator>(FSAXReader.get());
    return locator ? locator->GetLineNumber() : -1;
}

void TBrenkoSaxReader::StartElement(const std::string& NamespaceURI, const std::string& LocalName,
                                    const std::string& QName, ISAXAttributes* Attributes) {
    if (!oRootSeen) {
        oRootSeen = true;
        if (!IsNasRoot(LocalName)) {
            oNoNasData = true;
            sNoNasData = "Wurzelelement " + QName;
        }
    }
    if (oNoNasData)
        return;
    FlushText();
    // The holder of this element start; its lists and texts keep their buffers from element to element.
    TElement& element = FElement;
    element.Reset(NamespaceURI, LocalName);
    if (Attributes) {
        const std::int32_t n = Attributes->Length();
        for (std::int32_t i = 0; i < n; ++i) {
            const std::string& value = Attributes->Value(i);
            element.FAttributes.SetValue(Attributes->QName(i), value);
        }
    }
    if (!FPrefixes.Empty()) {
        element.FPrefixes = FPrefixes;
        FPrefixes.Clear();
    }
    sElemTag = LocalName;
    const TNasName name = NameOf(LocalName);

    // Any element of WFS 2.0 or FES 2.0 (the transaction, its members, its filters) comes before the first
    // feature in that form.
    if (NamespaceURI == kWfs20Namespace || NamespaceURI == kFes20Namespace)
        oGeoInfoDok7Form = true;
    if (transaction == TTransaction::Update) {
        ++iTransactionDepth;
        StartElementInUpdate(LocalName, element, name);
        return;
    }
    if (transaction == TTransaction::Features || transaction == TTransaction::Replace)
        ++iTransactionDepth;
    // The Filter of a Replace is none of its feature, wherever it stands in it.
    if (transaction == TTransaction::Replace && iTransactionDepth == 2 && LocalName == "Filter")
        oInReplaceFilter = true;
    // Before every other case: a feature may be named like any element the parser knows, a transaction,
    // a data type or a header element.
    if (obCurrentInsert && !obCurrentInsert->Initialized() && !ReadingReplaceFilter()) {
        TakeFeatureElement(LocalName, element);
        return;
    }
    if (name == TNasName::featureMember || name == TNasName::featureMembers || name == TNasName::Insert ||
        name == TNasName::Delete || name == TNasName::Replace || name == TNasName::Update) {
        OpenTransaction(name, QName, element);
        return;
    }
    if (ReadingReplaceFilter()) {
        StartElementInReplaceFilter(QName, element, name);
        return;
    }
    // Inside a record every element is the feature's: a property may be named like a header element
    // (the antragsnummer of a reservation), and must neither fill the header nor leave its flag set.
    if (obCurrentInsert) {
        StartElementInRecord(LocalName, QName, element, name);
    } else if (name == TNasName::crs) {
        const int href = element.FAttributes.IndexOfName("xlink:href");
        if (href >= 0 && AXObjTagFlags.Contains(tfCRS)) {
            const std::string value = element.FAttributes.ValueFromIndex(href);
            if (StartsWith(value, kCrsPrefix)) {
                const std::string code = value.substr(kCrsPrefix.size());
                if (TakesReferenceSystem(code)) {
                    if (currPortion)
                        currPortion->koordRefSys = code;
                    obCurrentKRS = std::make_unique<TKooRefSys>(code);
                }
            }
        }
    } else if (name == TNasName::NBA) {
        if (currPortion)
            currPortion->typ = "Nutzerbezogene Bestandsdatenaktualisierung";
    } else if (name == TNasName::Bestandsdatenauszug) {
        if (currPortion)
            currPortion->typ = "Bestandsdatenauszug";
    } else if (const TFlagElement* header = FindFlagElement(kHeaderElements, name)) {
        AXObjTagFlags.Include(header->flag);
    } else if (name == TNasName::Koordinatenreferenzsystemangaben) {
        AXObjTagFlags.Include(tfCRS);
        // A block reads into a record of its own only once its "crs" created one.
        obCurrentKRS.reset();
    } else if (name == TNasName::erlaeuterung) {
        oReadCData = true;
        sCData.clear();
        oProtocolDropped = false;
    }
}

void TBrenkoSaxReader::OpenTransaction(TNasName name, const std::string& QName, const TElement& element) {
    if (obCurrentInsert)
        RefuseUnfinishedRecord(QName);
    OpenRecord();
    TAXObject& r = *obCurrentInsert;
    featureIds.clear();
    transaction = TTransaction::None;
    iTransactionDepth = 1;
    oReplaceFeatureRead = oReplaceHasFilter = oInReplaceFilter = false;
    switch (name) {
    case TNasName::featureMember:
    case TNasName::featureMembers:
    case TNasName::Insert:
        transaction = TTransaction::Features;
        break;
    case TNasName::Delete:
        r.wfsType = twfsDelete;
        r.SetObjektart(WithoutPrefix(element.FAttributes.Value("typeName")));
        break;
    case TNasName::Replace:
        r.wfsType = twfsReplace;
        transaction = TTransaction::Replace;
        sReplaceTypeName = WithoutPrefix(element.FAttributes.Value("typeName"));
        break;
    case TNasName::Update:
        r.wfsType = twfsUpdate;
        r.SetObjektart(WithoutPrefix(element.FAttributes.Value("typeName")));
        transaction = TTransaction::Update;
        updateText = TUpdateText::None;
        oUpdateProperty = oUpdateEndet = false;
        break;
    default:
        break;
    }
}

// A transaction element inside a record that has not ended: what the record read is not the whole of it.
void TBrenkoSaxReader::RefuseUnfinishedRecord(const std::string& QName) {
    if (!obCurrentInsert->Initialized()) // a Replace whose Filter came before its feature
        obCurrentInsert->SetObjektart(sReplaceTypeName);
    RefuseRecord("Das Element " + QName + " (" + Position() +
                 ") beginnt ein neues Objekt, bevor dieses zu "
                 "Ende ist.");
    if (obCurrentInsert->wfsType == twfsDelete)
        HandOverPerFeatureId();
    else
        HandOverRecord(false);
}

void TBrenkoSaxReader::TakeFeatureElement(const std::string& LocalName, const TElement& element) {
    TAXObject& r = *obCurrentInsert;
    const std::string raw = element.FAttributes.Value("gml:id");
    // A replace names the object it replaces by its 16 characters; an insert stores the object
    // identifier of a version's identifier.
    TakeIdentifier(raw, r.wfsType == twfsReplace ? Utf8Left(raw, 16) : ObjectIdentifier(raw));
    r.SetObjektart(LocalName);
    RecordTakes(r.identifikator.size() + LocalName.size());
}

void TBrenkoSaxReader::TakeIdentifier(const std::string& raw, const std::string& id) {
    const std::string fault = IdentifierFault(raw);
    obCurrentInsert->identifikator = fault.empty() ? id : QuotedIdentifier(raw);
    if (!fault.empty())
        RefuseRecord(fault);
}

void TBrenkoSaxReader::EndFeature() {
    if (transaction == TTransaction::Replace)
        oReplaceFeatureRead = true; // its Filter follows
    else
        HandOverRecord(false);
}

void TBrenkoSaxReader::StartElementInReplaceFilter(const std::string& QName, const TElement& element,
                                                   TNasName name) {
    if (iTransactionDepth == 2) {
        if (oInReplaceFilter)
            oReplaceHasFilter = true;
        else
            // A replace replaces one object by one new version; which would be meant is not to be guessed.
            RefuseRecord("Die Ersetzung enthält nach ihrem Objekt ein weiteres Element " + QName + " (" +
                         Position() + ").");
    } else if (oInReplaceFilter && name == TNasName::FeatureId) {
        NoteFeatureId(element.FAttributes.Value("fid"));
    }
}

// A replace acts on the object of its new version; a Filter that names another object (by its first 16
// characters, as a version's identifier may carry a time stamp after them) leaves it unclear which object
// is meant, so nothing is replaced. A replace without a new version replaces nothing either.
void TBrenkoSaxReader::FinishReplace() {
    std::vector<TFeatureId> ids;
    ids.swap(featureIds);
    TAXObject& r = *obCurrentInsert;
    if (!r.Initialized()) {
        r.SetObjektart(sReplaceTypeName);
        if (!ids.empty())
            r.identifikator = ids.front().identifikator;
        RefuseRecord("Die Ersetzung enthält kein Objekt (" + Position() + ").");
    } else if (oReplaceHasFilter) {
        if (ids.empty())
            RefuseRecord("Der Filter der Ersetzung nennt kein Objekt.");
        for (const TFeatureId& id : ids) {
            if (!id.refusal.empty())
                RefuseRecord("Im Filter der Ersetzung: " + id.refusal);
            else if (id.identifikator != r.identifikator)
                RefuseRecord("Der Filter der Ersetzung nennt das Objekt " + id.identifikator +
                             ", die neue Version gehört zum Objekt " + r.identifikator + ".");
        }
    }
    HandOverRecord(false);
}

void TBrenkoSaxReader::NoteFeatureId(const std::string& fid) {
    TFeatureId noted{Utf8Left(fid, 16), IdentifierFault(fid)};
    if (!noted.refusal.empty())
        noted.identifikator = QuotedIdentifier(fid);
    if (RecordTakes(noted.identifikator.size() + noted.refusal.size() + kLineBytes))
        featureIds.push_back(std::move(noted));
}

// Each object a Delete or Update names is a record of its own, with what the transaction read (its type,
// its lifespan, why it is refused). One that names none is refused, as is one past the record's bound
// (which drops the identifiers it noted).
void TBrenkoSaxReader::HandOverPerFeatureId() {
    std::vector<TFeatureId> ids;
    ids.swap(featureIds);
    if (ids.empty() || oRecordTooLarge)
        ids.assign(1, {std::string(), IdentifierFault(std::string())});
    const std::unique_ptr<TAXObject> transactionRecord = std::move(obCurrentInsert);
    const TAXObject& t = *transactionRecord;
    for (TFeatureId& id : ids) {
        OpenRecord();
        TAXObject& r = *obCurrentInsert;
        r.wfsType = t.wfsType;
        r.SetObjektart(t.objektart());
        r.identifikator = std::move(id.identifikator);
        r.dtBegin = t.dtBegin;
        r.dtEnde = t.dtEnde;
        r.refusal = t.refusal.empty() ? std::move(id.refusal) : t.refusal;
        HandOverRecord(true);
    }
}

void TBrenkoSaxReader::StartElementInUpdate(const std::string& LocalName, const TElement& element,
                                            TNasName name) {
    // The depth of the element begun: the Update is 1, its properties 2, their name and value 3.
    if (iTransactionDepth == 2 && LocalName == "Property") {
        oUpdateProperty = true;
        sUpdateName.clear();
        sUpdateValue.clear();
    } else if (iTransactionDepth == 3 && oUpdateProperty && LocalName == "Name") {
        updateText = TUpdateText::Name;
    } else if (iTransactionDepth == 3 && oUpdateProperty && LocalName == "Value") {
        updateText = TUpdateText::Value;
    } else if (!oUpdateProperty && name == TNasName::FeatureId) {
        NoteFeatureId(element.FAttributes.Value("fid"));
    }
}

void TBrenkoSaxReader::EndElementInUpdate() {
    if (iTransactionDepth == 3)
        updateText = TUpdateText::None;
    else if (iTransactionDepth == 2 && oUpdateProperty)
        EndUpdateProperty();
    if (--iTransactionDepth > 0)
        return;
    transaction = TTransaction::None;
    if (oUpdateEndet) {
        HandOverPerFeatureId();
    } else {
        // Without an end it changes nothing; what it could not apply is said.
        obCurrentInsert.reset();
        featureIds.clear();
    }
}

void TBrenkoSaxReader::EndUpdateProperty() {
    oUpdateProperty = false;
    const std::string path = PropertyPath(sUpdateName);
    if (path == kEndetPath) {
        oUpdateEndet = true;
        ReadLifespanDate(obCurrentInsert->dtEnde, sUpdateValue, "endet");
    } else if (path != "anlass") {
        SayUpdatePropertyIgnored(path);
    }
}

void TBrenkoSaxReader::SayUpdatePropertyIgnored(const std::string& name) {
    if (updatePropertiesSaid.count(name) || oMoreUpdatePropertiesSaid)
        return;
    if (updatePropertiesSaid.size() >= kMaxUpdatePropertiesSaid) {
        oMoreUpdatePropertiesSaid = true;
        frm->LogAndWriteLog(1, "Weitere Eigenschaften von Aktualisierungen, die nichts ändern, werden nicht "
                               "mehr einzeln genannt (Zeile " +
                                   std::to_string(LineNumber()) + ").");
        return;
    }
    updatePropertiesSaid.insert(name);
    const std::string shown = Utf8Left(name, kSaidPropertyChars);
    frm->LogAndWriteLog(1, "Eigenschaft einer Aktualisierung übergangen (Zeile " +
                               std::to_string(LineNumber()) +
                               "): " + (name.empty() ? std::string("eine Eigenschaft ohne Namen") : shown) +
                               (shown.size() < name.size() ? "…" : "") +
                               " ändert nichts; übernommen wird nur " + std::string(kEndetPath) + ".");
}

void TBrenkoSaxReader::StartElementInRecord(const std::string& LocalName, const std::string& QName,
                                            const TElement& element, TNasName name) {
    TAXObject& r = *obCurrentInsert;
    // The links to specialist data are not stored; one given by reference is a value all the same.
    const auto noteLinkByReference = [&] {
        if (AXObjTagFlags.Contains(tfZeigtAufExternes) && element.FAttributes.IndexOfName("xlink:href") >= 0)
            r.zeigtAufExternes = true;
    };
    if (InPosition()) {
        StartElementInPosition(QName, element);
    } else if (oReadSubObject) {
        AppendToAttribute(ElementStartTag(QName, element));
    } else if (name == TNasName::position) {
        oInPosition = true;
        iPositionDepth = 0;
        // A feature has one geometry: a second position is refused, and nothing of it copied.
        oReadGeometry = iPositionRecord != iCreate;
        iPositionRecord = iCreate;
        if (!oReadGeometry)
            RefuseRecord("Das Objekt hat mehr als eine Geometrie: eine zweite Eigenschaft position (" +
                         Position() + ").");
    } else if (name == TNasName::LI_Lineage) {
        oReadSubObject = true;
        if (RecordTakes(sAttrTag.size() + LocalName.size() + kLineBytes))
            r.attribute.SetValue(sAttrTag, "<gmd:" + LocalName + ">");
        sSubObjectTag = "LI_Lineage";
    } else if (name == TNasName::FeatureId) {
        const std::string fid = element.FAttributes.Value("fid");
        if (r.wfsType == twfsDelete)
            NoteFeatureId(fid);
        else
            TakeIdentifier(fid, Utf8Left(fid, 16));
    } else if (const TFlagElement* block = FindFlagElement(kRecordElements, name);
               block && (block->needs == tfPosition || AXObjTagFlags.Contains(block->needs))) {
        AXObjTagFlags.Include(block->flag);
        if (block->flag == tfLZIbeginnt || block->flag == tfLZIendet)
            oLifespanText = false;
        noteLinkByReference();
    } else if (name == TNasName::Datentyp) {
        AXObjTagFlags.Include(AXObjTagFlags.Contains(tfKatalog) ? tfStruktur : tfKatalog);
    } else if (AXObjTagFlags.Contains(tfLebensZeitIntervall) || AXObjTagFlags.Contains(tfModellart) ||
               AXObjTagFlags.Contains(tfZeigtAufExternes) || AXObjTagFlags.Contains(tfGmlIdent)) {
        // Inside these blocks only the elements above are read.
        noteLinkByReference();
    } else if (const int href = element.FAttributes.IndexOfName("xlink:href"); href >= 0) {
        AXObjTagFlags.Include(tfRelation);
        if (frm->obRelationsTypen && frm->obRelationsTypen->GetTyp(LocalName) >= 0) {
            std::string target = element.FAttributes.ValueFromIndex(href);
            if (StartsWith(target, kOidPrefix))
                target.erase(0, kOidPrefix.size());
            target = ObjectIdentifier(target);
            // The relation table indexes its targets as the object tables their identifiers.
            if (const std::size_t chars = Utf8Length(target); chars > kMaxIdentifierChars)
                RefuseRecord("Ein Verweisziel (" + LocalName + ") ist länger als " +
                             std::to_string(kMaxIdentifierChars) + " Zeichen (" + std::to_string(chars) +
                             ")");
            else if (RecordTakes(LocalName.size() + target.size() + kLineBytes))
                r.AddRelation(LocalName, target);
        }
    } else {
        sAttrTag = AXObjTagFlags.Contains(tfKatalog) && !sBeforeTag.empty() ? sBeforeTag + "_" + LocalName
                                                                            : LocalName;
        if (RecordTakes(sAttrTag.size() + 1 + kLineBytes))
            r.attribute.Add(sAttrTag + "=");
        sBeforeTag = sAttrTag;
        oReadAttribute = true;
    }
}

// The first element inside "position" is copied with everything in it; any element after it is a second
// geometry, which refuses the record.
void TBrenkoSaxReader::StartElementInPosition(const std::string& QName, const TElement& element) {
    ++iPositionDepth;
    if (!oReadGeometry) {
        RefuseRecord("Das Objekt hat mehr als eine Geometrie: ein weiteres Element " + QName +
                     " in position (" + Position() + ").");
        return;
    }
    // Built at the end of the fragment: a record that cannot take it drops its fragment whole.
    if (!oRecordTooLarge) {
        TAXObject& r = *obCurrentInsert;
        const std::size_t before = r.position.size();
        AppendElementStartTag(r.position, QName, element);
        RecordTakes(r.position.size() - before);
    }
}

void TBrenkoSaxReader::EndElementInPosition(const std::string& QName) {
    if (iPositionDepth == 0) {
        // The position's own end (also of one that held no element).
        oInPosition = false;
        oReadGeometry = false;
        return;
    }
    --iPositionDepth;
    if (!oReadGeometry)
        return;
    if (RecordTakes(QName.size() + 3))
        obCurrentInsert->position.append("</").append(QName).push_back('>');
    if (iPositionDepth == 0)
        oReadGeometry = false; // the copy of the first element is whole
}

void TBrenkoSaxReader::AppendToAttribute(const std::string& text) {
    if (!RecordTakes(text.size()))
        return;
    TStringList& a = obCurrentInsert->attribute;
    const int line = a.IndexOfName(sAttrTag);
    if (line < 0)
        a.SetValue(sAttrTag, text);
    else
        a.AppendToLine(line, text);
}

void TBrenkoSaxReader::ShortenNamePath() {
    const std::size_t pos = sBeforeTag.rfind('_');
    if (pos == std::string::npos) {
        sBeforeTag.clear();
        return;
    }
    // At most 255 characters go, the "_" included.
    const std::string tail = sBeforeTag.substr(pos);
    sBeforeTag = sBeforeTag.substr(0, pos) + tail.substr(Utf8Left(tail, 255).size());
}

// ---- text ----------------------------------------------------------------------------------------------

void TBrenkoSaxReader::Characters(const std::string& Text) {
    if (oNoNasData) {
        NoteFirstText(Text);
        return;
    }
    if (oDropText || (obCurrentInsert && oRecordTooLarge))
        return;
    // The pieces of one text are joined before they are used: they are bounded like the record they go to.
    const std::size_t held = obCurrentInsert ? iRecordBytes : 0;
    if (held + sPendingText.size() + Text.size() > kMaxRecordBytes) {
        if (obCurrentInsert)
            RecordTooLarge();
        else
            TextOutsideTooLarge();
        return;
    }
    sPendingText += Text;
}

void TBrenkoSaxReader::FlushText() {
    if (!sPendingText.empty()) {
        // Used from a buffer of its own: using it may drop what is pending (a record past its bound).
        sUsedText.swap(sPendingText);
        sPendingText.clear();
        UseText(sUsedText);
    }
    if (oEntityAfterPending) {
        oEntityAfterPending = false;
        oEntity = true;
    }
    oDropText = false;
}

void TBrenkoSaxReader::UseText(const std::string& chunk) {
    if (IsBlankText(chunk))
        return;
    if (transaction == TTransaction::Update) {
        // Only the text directly inside a property's name or value counts.
        if (iTransactionDepth == 3 && updateText != TUpdateText::None)
            AppendBounded(updateText == TUpdateText::Name ? sUpdateName : sUpdateValue, chunk,
                          kUpdateTextChars);
        return;
    }
    if (ReadingReplaceFilter())
        return; // no text of a Replace's Filter counts, nor any after its feature
    if (obCurrentInsert)
        UseTextInRecord(chunk);
    else
        UseTextOutside(chunk);
}

void TBrenkoSaxReader::UseTextInRecord(const std::string& chunk) {
    TAXObject& r = *obCurrentInsert;
    if (InPosition()) {
        // Text beside the copied geometry belongs to nothing.
        if (oReadGeometry && RecordTakes(EscapedSize(chunk)))
            AppendEscaped(r.position, chunk);
    } else if (AXObjTagFlags.Contains(tfLZIbeginnt)) {
        ReadLifespanDate(r.dtBegin, chunk, "beginnt");
    } else if (AXObjTagFlags.Contains(tfLZIendet)) {
        ReadLifespanDate(r.dtEnde, chunk, "endet");
    } else if (AXObjTagFlags.Contains(tfMAadvsm)) {
        if (RecordTakes(chunk.size() + kLineBytes))
            r.modellarten.Add(chunk);
    } else if (!oReadAttribute) {
        // Text that belongs to no open property (identifier, text directly inside the feature) is dropped;
        // that of the links to specialist data is not stored either, but the writer says so.
        if (AXObjTagFlags.Contains(tfZeigtAufExternes))
            r.zeigtAufExternes = true;
    } else if (oReadSubObject) {
        AppendToAttribute(Escaped(chunk));
    } else {
        const int line = r.attribute.IndexOfName(sAttrTag);
        if (line >= 0 && !oEntity && r.attribute.HasValue(line) && RecordTakes(1))
            r.attribute.AppendToLine(line, "|");
        AppendToAttribute(chunk);
        ShortenNamePath();
    }
}

void TBrenkoSaxReader::UseTextOutside(const std::string& chunk) {
    if (AXObjTagFlags.Contains(tfAntragsnummer)) {
        if (currPortion)
            currPortion->antragsnr = chunk;
    } else if (AXObjTagFlags.Contains(tfAnzPort)) {
        if (currPortion)
            currPortion->anzPort = chunk;
    } else if (AXObjTagFlags.Contains(tfLfdNr)) {
        if (currPortion)
            currPortion->lfdNr = chunk;
    } else if (AXObjTagFlags.Contains(tfCRS) && obCurrentKRS) {
        if (sElemTag == "anzahlDerNachkommastellen")
            obCurrentKRS->nks = SafeStrToInt(chunk);
        else if (sElemTag == "standard" && LowerCaseAscii(chunk) == "true")
            obCurrentKRS->standard = true;
    } else if (oReadCData) {
        if (sCData.size() + chunk.size() > kMaxRecordBytes)
            TextOutsideTooLarge();
        else
            sCData += chunk;
    }
}

// ---- element ends --------------------------------------------------------------------------------------

void TBrenkoSaxReader::HandOverRecord(bool isDelete) {
    // The record goes whatever the writer reports, also when it raises.
    std::unique_ptr<TAXObject> record = std::move(obCurrentInsert);
    ++iDestroy;
    if (oGeoInfoDok7Form)
        return; // nothing of such a file is read
    ++frm->iParsedFeatures;
    if (RecordSink)
        RecordSink(*record);
    else
        frm->HandOverToWriter(std::move(record), isDelete);
}

void TBrenkoSaxReader::HandOverProtocol() {
    if (oProtocolDropped) {
        oProtocolDropped = false;
        sCData.clear();
        return;
    }
    if (sCData.empty())
        return;
    const std::string protocol = std::move(sCData);
    sCData.clear();
    if (ProtocolSink)
        ProtocolSink(protocol);
    else
        frm->IB_Protokoll(protocol);
}

void TBrenkoSaxReader::EndElement(const std::string&, const std::string& LocalName,
                                  const std::string& QName) {
    if (oNoNasData)
        return;
    FlushText();
    if (transaction == TTransaction::Update) {
        EndElementInUpdate();
        sElemTag.clear();
        return;
    }
    if (ReadingReplaceFilter()) {
        if (iTransactionDepth == 2)
            oInReplaceFilter = false;
        EndElementInWrapper();
        sElemTag.clear();
        return;
    }
    const TNasName name = NameOf(LocalName);
    const bool inWrapper = transaction == TTransaction::Features || transaction == TTransaction::Replace;
    if (obCurrentInsert) {
        TAXObject& r = *obCurrentInsert;
        if (inWrapper && iTransactionDepth == 2) {
            // The feature's own end tag, whatever its name; elements inside it of the same name end nothing.
            EndFeature();
        } else if (InPosition()) {
            EndElementInPosition(QName);
        } else if (oReadSubObject) {
            AppendToAttribute("</" + QName + ">");
            if (LocalName == sSubObjectTag) {
                oReadSubObject = false;
                oReadAttribute = false;
                sAttrTag.clear();
                ShortenNamePath();
            }
        } else if (name == TNasName::Datentyp) {
            AXObjTagFlags.Exclude(AXObjTagFlags.Contains(tfStruktur) ? tfStruktur : tfKatalog);
            ShortenNamePath();
        } else if (oReadAttribute) {
            sAttrTag.clear();
            oReadAttribute = false;
            oEntity = false;
        } else if (name == TNasName::Delete && r.wfsType == twfsDelete) {
            HandOverPerFeatureId();
        } else if (const TFlagElement* block = FindFlagElement(kRecordElements, name)) {
            EndLifespanDate(block->flag);
            AXObjTagFlags.Exclude(block->flag);
        }
    } else if (const TFlagElement* header = FindFlagElement(kHeaderElements, name)) {
        AXObjTagFlags.Exclude(header->flag);
    } else if (name == TNasName::Koordinatenreferenzsystemangaben) {
        AXObjTagFlags.Exclude(tfCRS);
        // Each record is handed over once; a block without a "crs" of its own adds nothing.
        if (obCurrentKRS) {
            frm->FlushPendingFeatures(); // the records before it were read without it
            if (!frm->obKoRefs)
                frm->obKoRefs = std::make_unique<TKooRefSysteme>();
            frm->obKoRefs->push_back(std::move(obCurrentKRS));
        }
    } else if (name == TNasName::erlaeuterung) {
        HandOverProtocol();
    }
    if (inWrapper)
        EndElementInWrapper();
    sElemTag.clear();
}

void TBrenkoSaxReader::EndElementInWrapper() {
    if (--iTransactionDepth == 0) {
        const TTransaction ended = transaction;
        transaction = TTransaction::None;
        if (ended == TTransaction::Replace && obCurrentInsert)
            FinishReplace();
        // No feature came (after the last one): what follows the wrapper is none of its features.
        else if (obCurrentInsert && !obCurrentInsert->Initialized())
            obCurrentInsert.reset();
    } else if (iTransactionDepth == 1 && !obCurrentInsert && transaction == TTransaction::Features) {
        OpenRecord();
    }
}

// ---- CDATA and entities --------------------------------------------------------------------------------

void TBrenkoSaxReader::StartCData() {
    if (oNoNasData)
        return;
    // Outside records a CDATA section is an export protocol of its own; inside one it is just text.
    if (!obCurrentInsert)
        FlushText();
    oReadCData = true;
    sCData.clear();
    oProtocolDropped = false;
}

void TBrenkoSaxReader::EndCData() {
    if (oNoNasData)
        return;
    if (!obCurrentInsert)
        FlushText();
    HandOverProtocol();
}

void TBrenkoSaxReader::StartEntity(const std::string&) {
    if (!oNoNasData && obCurrentInsert && oReadAttribute && !sAttrTag.empty()) {
        // The text before the entity is joined to an earlier value with "|", the entity's text and
        // what follows it without.
        if (sPendingText.empty())
            oEntity = true;
        else
            oEntityAfterPending = true;
    }
}

// ---- the main window's display of parse errors ---------------------------------------------------------

void TfrmKelpora::ShowError(TErrorBoxKind kind, const ESAXParseException& error) {
    FlushPendingFeatures(); // what the records before the error did comes first
    char position[64];
    std::snprintf(position, sizeof position, "\r\nat line %d, column %d", error.LineNumber(),
                  error.ColumnNumber());
    Dialogs().MessageDlg(error.Message() + position,
                         kind == TErrorBoxKind::ebWarning ? TMsgDlgType::mtWarning : TMsgDlgType::mtError,
                         mbOK, mrOk);
}
