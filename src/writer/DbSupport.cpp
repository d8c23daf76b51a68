#include "writer/DbSupport.h"

#include <cctype>

#include "model/StringList.h"
#include "platform/db/ZDatabase.h"

TZQuery& SharedStatement(const std::shared_ptr<TZQuery>& cmd) {
    if (!cmd || !cmd->Connection() || !cmd->Connection()->Connected())
        throw EDatabaseError("Keine Verbindung zur Datenbank");
    return *cmd;
}

std::string SqlIdentifier(const std::string& name) {
    constexpr std::size_t kMaxIdentifier = 63;
    bool plain =
        !name.empty() && name.size() <= kMaxIdentifier && !std::isdigit(static_cast<unsigned char>(name[0]));
    for (char c : name)
        plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '_') &&
                static_cast<unsigned char>(c) < 0x80;
    if (!plain)
        throw EDatabaseError("Ungültiger Name für eine Tabelle oder Spalte: " + name);
    return LowerCaseAscii(name);
}
