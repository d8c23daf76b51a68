#pragma once
// The part of a feature's database work that the writer can send without waiting for each answer, kept
// so that it can be done again one statement at a time exactly as the call would have done it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/DateTime.h"
#include "platform/db/ZDatabase.h"
#include "platform/xml/XmlDom.h"

// One parameter value of the INSERT, kept so that the binding can be replayed.
struct TBinding {
    std::string name;
    TFieldType type;
    bool isNull;
    std::string value;
};

// A prepared statement and its parameter values, ready to be sent. The values lie one after the other in
// one buffer, each ended by a NUL, so that a statement costs a couple of allocations however many
// parameters it has.
class TPreparedCall {
public:
    TPreparedCall() = default;
    explicit TPreparedCall(std::string statementName) : name(std::move(statementName)) {}

    std::string name;

    void Reserve(std::size_t bytes, std::size_t values) {
        data.reserve(bytes);
        starts.reserve(values);
    }
    void AddValue(const char* value, std::size_t length); // nullptr: NULL
    std::size_t ValueCount() const { return starts.size(); }
    // Bytes of all values.
    std::size_t ValueBytes() const { return data.size(); }
    // The values as libpq takes them (nullptr for NULL); valid while the call is not changed.
    void ValuePointers(std::vector<const char*>& out) const;

private:
    std::string data;
    std::vector<std::int32_t> starts; // offset of each value in data, -1 for NULL
};

// What closing the stored versions of an object needs (a replace or a delete), kept so that it can be
// done again one statement at a time.
struct TClosing {
    std::string oa;
    std::string id;
    bool isReplace = false;
    std::string endText;
    bool referenzen = true;
};

// Where a closing ends versions and relations: the object table in public and the file's staging table
// of the type (each empty when there is none to look at), whether they are tables of a group, where only
// versions of the closing's type end, and whether the relations in public.id_refs and among those the
// file staged are ended with them.
struct TClosingPlan {
    std::string integrated;
    std::string staging;
    bool matchesType = false;
    bool relations = false;
    bool stagedRelations = false;
    bool ClosesNothing() const { return integrated.empty() && staging.empty(); }
};

struct TFeatureWork {
    // Only the closing of stored versions (the statements of DeleteFromDB), no feature of its own.
    bool closesOnly = false;
    // A replace: the closing goes with the new version's INSERT, as one unit, right after it (it ends
    // only versions and relations begun before the new one), so that a new version that cannot be
    // stored leaves the old one open.
    bool replaces = false;
    TClosing closing;
    TClosingPlan closingPlan;
    std::string oa;
    std::string id;
    TDateTime dtBegin = 0;
    bool result = false; // the provisional result (a replace: that of closing the stored version)
    std::vector<std::string> insertSql;
    std::vector<TBinding> bound;
    bool deferredCheck = false;
    std::string wkt;
    // The quality data rows go into the feature's transaction instead of being written at once; the
    // attribute values they came from (column, value) are kept to write them again.
    bool collectQualityRows = false;
    std::vector<TPreparedCall> qualityRows;
    std::vector<std::pair<std::string, std::string>> qualityValues;
    bool collectFailed = false;
    bool withRelations = false;
    bool referenzen = true; // the relations switch as the record was handed over
    // Relation type number and target identifiers, in the record's order.
    std::vector<std::pair<std::int32_t, std::vector<std::string>>> relations;
    int statements = 0; // of its batch
    // Its statements (see TFeaturePipeline), kept after they went out so that they can go again when a
    // failure before them took them down; whether all of them went out, so that their answers can be read.
    std::vector<TPreparedCall> batch;
    bool synced = false;
    // It is a unit of its own (its statements, the savepoint moved past them and a sync point), not one of
    // a window; and how its statements were answered.
    bool ownUnit = false;
    enum class TAnswer { taOk, taFailed, taAborted };
    // taFailed: one of its own statements failed; taAborted: it did not run because something before it
    // had failed (or it never went out).
    TAnswer answer = TAnswer::taOk;
    int failedStatement = -1; // of its batch, when one failed on its own
};

// The relation row as every path writes it, and its binding.
extern const char* const kInsertIdRefSql;
void BindIdRef(TZQuery& q, const std::string& gmlId, const std::string& idRef, std::int32_t typ,
               const std::string& beginText);
// The statements of a closing by its plan, ready to be sent on `connection`; throws EDatabaseError.
void AddClosingCalls(TZConnection* connection, const TClosing& closing, const TClosingPlan& plan,
                     std::vector<TPreparedCall>& batch);
// The statement and the current values of `q`; throws EDatabaseError like the statement would.
TPreparedCall TakePreparedCall(TZQuery& q);
// The document the geometry routines read a feature's GML fragment from.
std::unique_ptr<TXmlDocument> LoadPosition(const std::string& position);
// Whether the conversion of a fragment can ask anything: only a "gml:Arc" element makes it ask.
bool MayAskArcQuestions(const std::string& position);
