#include "model/NASDEF.h"

void TAXObject::AddRelation(const std::string& RelationTyp, const std::string& RelationId) {
    for (auto& list : relationen) {
        if (list->RelTyp == RelationTyp) {
            list->Add(RelationId);
            return;
        }
    }
    auto list = std::make_unique<TRelationsList>(RelationTyp);
    list->Add(RelationId);
    relationen.push_back(std::move(list));
}

std::int32_t TModellarten::GetIdx(const std::string& modellart) const {
    for (const auto& e : *this)
        if (e->modellart == modellart)
            return e->idx;
    return 0;
}

std::int32_t TRelationTypen::GetTyp(const std::string& RelTypBez) const {
    for (const auto& e : *this)
        if (e->RelationTypBez == RelTypBez)
            return e->RelationTyp;
    return -1;
}

std::string TKooRefSysteme::GetStdCRS() const {
    for (const auto& e : *this)
        if (e->standard)
            return e->crs;
    return {};
}
