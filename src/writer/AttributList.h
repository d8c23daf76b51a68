#pragma once
// The attribute column entries of one object type (or object-type group) read from the table "parse":
// lines of the attribute name, "=", the column code in lower case, "|" and the attribute type code.
#include <string>

#include "model/StringList.h"

class TAttributList : public TStringList {
public:
    explicit TAttributList(std::string sObjektArt) : ObjektArt(std::move(sObjektArt)) {}
    // The key the list belongs to: the object type, or "og_" + group code in group mode.
    std::string ObjektArt;
};
