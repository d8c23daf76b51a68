#pragma once
// The in-memory records of the NAS object model: one feature, its relations and lifespan, the lookup
// tables of model and relation types, the portion header of a file, the announced reference systems and
// the entries of the target reference system list.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/DateTime.h"
#include "model/StringList.h"

// twfsUpdate: a wfs:Update that ends the lifespan of the object it names at its dtEnde.
enum class TAAObjectType : std::uint8_t { twfsInsert = 0, twfsReplace = 1, twfsDelete = 2, twfsUpdate = 3 };
using enum TAAObjectType;

// The target identifiers of one relation type of one feature, in the order added, duplicates kept.
class TRelationsList : public TStringList {
public:
    explicit TRelationsList(std::string sRelTyp) : RelTyp(std::move(sRelTyp)) {}
    std::string RelTyp;
};

class TAAObject {
public:
    TAAObject() = default;
    virtual ~TAAObject() = default;
    TAAObject(const TAAObject&) = delete;
    TAAObject& operator=(const TAAObject&) = delete;

    bool Initialized() const { return FInitialized; }
    const std::string& objektart() const { return FObjektart; }
    // Stores the object type; marks the record initialised, also for an empty text.
    void SetObjektart(const std::string& value) {
        FObjektart = value;
        FInitialized = true;
    }

private:
    bool FInitialized = false;
    std::string FObjektart;

public:
    TAAObjectType wfsType = twfsInsert;
    std::string identifikator;
    TDateTime dtBegin = 0;
    TDateTime dtEnde = 0;
    TStringList modellarten;
    // Whether the feature's zeigtAufExternes (its links to specialist data) carried a value: the import
    // keeps no such link, and says so.
    bool zeigtAufExternes = false;
    // A slot named after an AAA relation that no part of the system fills.
    TStringList istTeilVon;
};

class TAXObject : public TAAObject {
public:
    // Records one relation target under its type: appended to the first list of exactly that type
    // (case matters), or to a new list at the end.
    void AddRelation(const std::string& RelationTyp, const std::string& RelationId);

    std::string position; // the GML fragment of the geometry
    TStringList attribute;
    std::vector<std::unique_ptr<TRelationsList>> relationen;
    TStringList* hatDirektUnten = nullptr; // never created
    // Why the record cannot be stored as the file gives it (a value the parser could not read, and where);
    // empty for a sound record. The writer refuses such a record whole, in its place among the others.
    std::string refusal;
};

class TModellart {
public:
    TModellart(std::string Amodellart, int Aidx) : modellart(std::move(Amodellart)), idx(Aidx) {}
    std::string modellart;
    std::int32_t idx;
};

class TModellarten : public std::vector<std::unique_ptr<TModellart>> {
public:
    // The index of the first entry with exactly this code; 0 when there is none.
    std::int32_t GetIdx(const std::string& modellart) const;
};

class TRelationTyp {
public:
    TRelationTyp(std::string ARelationTyp, int Aidx)
        : RelationTypBez(std::move(ARelationTyp)), RelationTyp(Aidx) {}
    std::string RelationTypBez;
    std::int32_t RelationTyp;
};

class TRelationTypen : public std::vector<std::unique_ptr<TRelationTyp>> {
public:
    // The type number of the first entry with exactly this name; -1 when there is none.
    std::int32_t GetTyp(const std::string& RelTypBez) const;
};

class TPortionFile {
public:
    explicit TPortionFile(std::string AName) : name(std::move(AName)) {}
    std::string name;
    std::string lfdNr;
    std::string anzPort;
    std::string typ;
    std::string koordRefSys;
    std::string antragsnr;
};

class TSRID {
public:
    TSRID(int ASRID, std::string AText) : SRID(ASRID), Beschreibung(std::move(AText)) {}
    std::int32_t SRID;
    std::string Beschreibung;
};

class TKooRefSys {
public:
    explicit TKooRefSys(std::string AText) : crs(std::move(AText)) {}
    std::int32_t SRID = -1;
    std::string crs;
    bool standard = false;
    std::int32_t nks = 2;
};

class TKooRefSysteme : public std::vector<std::unique_ptr<TKooRefSys>> {
public:
    // The crs of the first entry flagged standard; empty when there is none.
    std::string GetStdCRS() const;
};
