#pragma once
// The attribute column entries of one object type (or object-type group) read from the table "parse":
// lines of the attribute name, "=", the column code in lower case, "|" and the attribute type code.
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "model/StringList.h"

class TAttributList : public TStringList {
public:
    explicit TAttributList(std::string sObjektArt) : ObjektArt(std::move(sObjektArt)) {}
    // The key the list belongs to: the object type, or "og_" + group code in group mode.
    std::string ObjektArt;

    // One entry as the writer reads it: the attribute name, the column (the code before the first "|",
    // in lower case) and the type code after it.
    struct TColumn {
        std::string attrart, column, typeCode;
    };
    // What the writer makes of the entries for every feature of the type, made once from the lines as
    // they are at the first call (the list is complete when it is handed out): the entries, the column
    // text (", " and the column, for each) and the value text (",:", the column and a blank, for each).
    struct TInsertColumns {
        std::vector<TColumn> entries;
        std::string columnText, valueText;
    };
    const TInsertColumns& InsertColumns() const;

    // Set when the staging table was made before some of the lines: "alkistemp." and its name, and the
    // names of the lines it has no column for. Those lines are taken out, so that the other values of
    // its features are stored and these are said.
    std::string olderTable;
    std::set<std::string> linesOlderThanTable;

private:
    mutable std::unique_ptr<TInsertColumns> insertColumns;
};
