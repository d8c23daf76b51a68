// The configuration tables that steer a run: model types, relation types and reference-system codes.
#include <functional>
#include <limits>

#include "app/FormKelpora.h"
#include "platform/db/ZDatabase.h"
#include "writer/DbSupport.h"

namespace {

std::int32_t Int32Of(const TZField& field) {
    const std::int64_t v = field.ValueAsInteger();
    if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
        throw EDatabaseError("'" + std::to_string(v) + "' is not a valid integer value");
    return static_cast<std::int32_t>(v);
}

struct TConfigRead {
    const char* startText;
    const char* query;
    const char* failure;
};

// The one routine behind the three reads: an information row, a fresh table stored at once, then one
// element per row in the order returned. A failure keeps the elements read before it.
void ReadConfigTable(TfrmKelpora& form, const TConfigRead& read, const std::function<void()>& renew,
                     const std::function<void(const TZQuery&)>& appendRow) {
    form.WriteLog(0, TfrmKelpora::TimeOfDay() + ": " + read.startText);
    try {
        renew();
        TZQuery& q = SharedStatement(form.cmd);
        q.SQL().Clear();
        q.SQL().Add(read.query);
        q.Open();
        for (; !q.Eof(); q.Next())
            appendRow(q);
    } catch (const std::exception& e) {
        form.ReportFailure(read.failure, e.what());
    }
}

} // namespace

void TfrmKelpora::ReadModellarten() {
    ReadConfigTable(
        *this,
        {"Lese der modellarten-Tabelle", "select modellart, modellidx from modellarten",
         "Fehler beim Lesen der modellarten-Tabelle"},
        [this] { obModellArten = std::make_unique<TModellarten>(); },
        [this](const TZQuery& q) {
            std::string modellart = q.FieldByName("modellart").ValueAsString();
            const std::int32_t idx = Int32Of(q.FieldByName("modellidx"));
            obModellArten->push_back(std::make_unique<TModellart>(std::move(modellart), idx));
        });
}

void TfrmKelpora::ReadRelationsTypen() {
    ReadConfigTable(
        *this,
        {"Lesen der Relationstypen-Tabelle", "select typ, typbez from parserelations",
         "Fehler beim Lesen der Relationstypen-Tabelle"},
        [this] { obRelationsTypen = std::make_unique<TRelationTypen>(); },
        [this](const TZQuery& q) {
            const std::int32_t typ = Int32Of(q.FieldByName("typ"));
            obRelationsTypen->push_back(
                std::make_unique<TRelationTyp>(q.FieldByName("typbez").ValueAsString(), typ));
        });
}

void TfrmKelpora::ReadCRS() {
    ReadConfigTable(
        *this,
        {"Lesen der Koordinatensystem-Tabelle", "select crs, epsg from crs",
         "Fehler beim Lesen der Koordinatensystem-Tabelle"},
        [this] { obCRS = std::make_unique<TStringList>(); },
        [this](const TZQuery& q) {
            std::string line = q.FieldByName("crs").ValueAsString();
            line += "=" + std::to_string(Int32Of(q.FieldByName("epsg")));
            obCRS->Add(line);
        });
}
