#include "platform/db/ZDatabase.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <libpq-fe.h>
#include <memory>
#include <poll.h>
#include <string_view>
#include <unordered_map>

namespace {

std::string TrimRight(std::string s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.pop_back();
    return s;
}

std::string TrimBoth(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

void ClearResult(PGresult* r) {
    PQclear(r);
}

std::shared_ptr<PGresult> Own(PGresult* r) {
    return std::shared_ptr<PGresult>(r, ClearResult);
}

bool Succeeded(const PGresult* r) {
    if (!r)
        return false;
    const auto status = PQresultStatus(r);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_EMPTY_QUERY;
}

// Errors after which a cached statement is stale: its plan no longer fits the tables it reads, or the
// session lost it (DEALLOCATE / DISCARD run by someone else).
bool StaleStatement(const EDatabaseError& e) {
    return FailureKindOf(e.SqlState()) == TFailureKind::fkStaleStatement;
}

// libpq's notice receiver: hands the notice to the connection's callback. Nothing may escape into libpq.
void ReceiveNotice(void* connection, const PGresult* notice) {
    const TZConnection& c = *static_cast<const TZConnection*>(connection);
    if (!c.OnNotice || !notice)
        return;
    try {
        const char* severity = PQresultErrorField(notice, PG_DIAG_SEVERITY_NONLOCALIZED);
        if (!severity)
            severity = PQresultErrorField(notice, PG_DIAG_SEVERITY);
        const char* message = PQresultErrorField(notice, PG_DIAG_MESSAGE_PRIMARY);
        c.OnNotice(TServerNotice{severity ? severity : "", message ? message : ""});
    } catch (...) {
        // A notice that cannot be passed on is lost; the statement goes on.
    }
}

bool IdentStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IdentChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// A number in the C locale's form, with an optional leading "+"; nothing may follow it.
template <class T> bool ParseNumber(const std::string& t, T& out) {
    const char* b = t.data();
    const char* e = t.data() + t.size();
    if (b != e && *b == '+')
        ++b;
    if (b == e)
        return false;
    auto [p, ec] = std::from_chars(b, e, out);
    return ec == std::errc() && p == e;
}

bool ParseInteger(const std::string& text, std::int64_t& out) {
    return ParseNumber(TrimBoth(text), out);
}

// "," is read as the decimal separator, as the regional settings of the files' authors write it.
bool ParseFloat(const std::string& text, double& out) {
    std::string t = TrimBoth(text);
    std::replace(t.begin(), t.end(), ',', '.');
    return ParseNumber(t, out);
}

std::string FloatText(double v) {
    char buf[64];
    auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, p) : std::to_string(v);
}

} // namespace

TFailureKind FailureKindOf(const std::string& sqlState) {
    if (sqlState.size() != 5)
        return TFailureKind::fkClient;
    if (sqlState == "23505")
        return TFailureKind::fkDuplicateKey;
    if (sqlState == "25P02")
        return TFailureKind::fkAborted;
    if (sqlState == "26000" || sqlState == "0A000")
        return TFailureKind::fkStaleStatement;
    const std::string_view errorClass = std::string_view(sqlState).substr(0, 2);
    if (errorClass == "08")
        return TFailureKind::fkConnection;
    static constexpr std::string_view kServerClasses[] = {"0B", "25", "28", "2D", "3B", "40",
                                                          "53", "55", "57", "58", "72", "F0"};
    if (std::find(std::begin(kServerClasses), std::end(kServerClasses), errorClass) !=
            std::end(kServerClasses) ||
        sqlState == "XX001" || sqlState == "XX002" || sqlState == "42501")
        return TFailureKind::fkServer;
    return TFailureKind::fkStatement;
}

std::string SqlStateOf(const std::exception& e) {
    const auto* database = dynamic_cast<const EDatabaseError*>(&e);
    return database ? database->SqlState() : std::string();
}

EDatabaseError ResultError(PGconn* handle, const PGresult* r) {
    if (r) {
        const char* primary = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY);
        const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
        if (primary && *primary)
            return EDatabaseError(primary, state ? state : "");
        const std::string text = TrimRight(PQresultErrorMessage(r));
        if (!text.empty())
            return EDatabaseError(text, state ? state : "");
    }
    return EDatabaseError(TrimRight(PQerrorMessage(handle)));
}

PGresult* NextPipelineResult(PGconn* h) {
    for (bool afterEnd = false;; afterEnd = true) {
        if (PGresult* res = PQgetResult(h))
            return res;
        if (PQstatus(h) != CONNECTION_OK || afterEnd)
            return nullptr;
    }
}

bool DrainToSync(PGconn* h) {
    for (bool ok = true;;) {
        PGresult* res = NextPipelineResult(h);
        if (!res)
            return false;
        const ExecStatusType status = PQresultStatus(res);
        PQclear(res);
        if (status == PGRES_PIPELINE_SYNC)
            return ok;
        ok = false;
    }
}

// ---- TZConnection -----------------------------------------------------------------------------

namespace {

// Generations are unique in the process, not per connection: a statement object that outlives its
// connection must never take a new connection's generation for the one its cached name belongs to.
std::uint64_t NextGeneration() {
    static std::uint64_t last = 0;
    return ++last;
}

} // namespace

TZConnection::~TZConnection() {
    Disconnect();
}

namespace {

// A value of a libpq connection string: quoted, so that blanks, "=" and the empty text survive.
std::string ConnInfoValue(const std::string& value) {
    std::string out = "'";
    for (char c : value) {
        if (c == '\'' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "'";
}

} // namespace

std::string TZConnection::ConnectionString() const {
    if (!Protocol.empty() && LowerCaseAscii(Protocol).rfind("postgresql", 0) != 0)
        throw EDatabaseError("Unsupported database protocol: " + Protocol);
    if (!EnvironmentDefaults) {
        const std::pair<const std::string*, const char*> required[] = {
            {&HostName, "Kein Server angegeben."},
            {&Database, "Keine Datenbank angegeben."},
            {&User, "Kein Benutzer angegeben."},
        };
        for (const auto& [value, message] : required)
            if (value->empty())
                throw EDatabaseError(message);
    }

    std::string info;
    std::vector<std::string> given;
    auto add = [&](const std::string& k, const std::string& v) {
        if (v.empty() && EnvironmentDefaults)
            return; // left to libpq's defaults
        info += (info.empty() ? "" : " ") + k + "=" + ConnInfoValue(v);
        given.push_back(k);
    };
    add("host", HostName);
    if (Port != -1 || !EnvironmentDefaults)
        add("port", std::to_string(Port));
    add("dbname", Database);
    add("user", User);
    add("password", Password);
    for (int i = 0; i < Properties.Count(); ++i)
        if (!Properties.Names(i).empty())
            add(Properties.Names(i), Properties.ValueFromIndex(i));
    add("application_name", "Kelpora");
    add("client_encoding", "UTF8");
    if (EnvironmentDefaults)
        return info;

    // Whatever libpq would read from the environment gets a value of its own. Not the service name: a
    // blank one is refused, and a service named in PGSERVICE only fills keywords that have no value.
    std::unique_ptr<PQconninfoOption, void (*)(PQconninfoOption*)> defaults(PQconndefaults(), PQconninfoFree);
    if (!defaults)
        throw EDatabaseError("out of memory");
    for (const PQconninfoOption* o = defaults.get(); o->keyword; ++o) {
        const std::string keyword = o->keyword;
        if (o->envvar && keyword != "service" &&
            std::find(given.begin(), given.end(), keyword) == given.end())
            // libpq's own default for a connect time is "0" (wait as long as it takes); it refuses "".
            add(keyword, o->compiled ? o->compiled : keyword == "connect_timeout" ? "0" : "");
    }
    return info;
}

void TZConnection::Connect() {
    Disconnect();
    const std::string info = ConnectionString();
    PGconn* c = PQconnectdb(info.c_str());
    if (!c)
        throw EDatabaseError("out of memory");
    if (PQstatus(c) != CONNECTION_OK) {
        const std::string message = TrimRight(PQerrorMessage(c));
        PQfinish(c);
        throw EDatabaseError(message);
    }
    PQsetNoticeReceiver(c, ReceiveNotice, this);
    handle = c;
    generation = NextGeneration();
}

void TZConnection::Disconnect() {
    if (handle) {
        NotifyBeforeStatement();
        PQfinish(handle);
        handle = nullptr;
    }
    guarded = false;
    broken = false;
    serverFailure.reset();
    prepared.clear();
    prefetched.clear();
    generation = NextGeneration();
}

// ---- the guarded transaction --------------------------------------------------------------------

namespace {

const std::string kSavepoint = TZConnection::kStatementSavepoint;

// The result of one statement of a pipeline, and the end of its results read.
std::shared_ptr<PGresult> PipelineAnswer(PGconn* h) {
    PGresult* res = NextPipelineResult(h);
    if (res && PQresultStatus(res) != PGRES_PIPELINE_SYNC)
        while (PGresult* extra = PQgetResult(h))
            PQclear(extra);
    return Own(res);
}

// Every result of a statement sent on its own: the first that failed, or the last.
std::shared_ptr<PGresult> CollectResults(PGconn* h) {
    std::shared_ptr<PGresult> answer;
    while (PGresult* res = PQgetResult(h)) {
        if (!answer || Succeeded(answer.get()))
            answer = Own(res);
        else
            PQclear(res);
    }
    return answer;
}

} // namespace

const std::vector<std::string>& TZConnection::SecurePointSql() {
    static const std::vector<std::string> sql = {"RELEASE SAVEPOINT " + kSavepoint,
                                                 "SAVEPOINT " + kSavepoint};
    return sql;
}

std::string TZConnection::BeginGuardedTransaction(const std::string& firstQuery) {
    RequireConnected();
    NotifyBeforeStatement();
    if (guarded)
        throw EDatabaseError("Die Transaktion der Datei ist schon offen");
    broken = false;
    serverFailure.reset();
    unitDepth = 0;
    const std::string text =
        "BEGIN; " + (firstQuery.empty() ? std::string() : firstQuery + "\n; ") + "SAVEPOINT " + kSavepoint;
    std::vector<std::shared_ptr<PGresult>> results;
    if (PQsendQuery(handle, text.c_str()) == 1)
        while (PGresult* res = PQgetResult(handle))
            results.push_back(Own(res));
    const auto failed = std::find_if(results.begin(), results.end(),
                                     [](const std::shared_ptr<PGresult>& r) { return !Succeeded(r.get()); });
    const std::size_t expected = firstQuery.empty() ? 2 : 3;
    if (results.size() != expected || failed != results.end()) {
        const EDatabaseError e = ResultError(handle, failed != results.end() ? failed->get() : nullptr);
        PQclear(PQexec(handle, "ROLLBACK"));
        throw e;
    }
    guarded = true;
    const PGresult* answer = results[1].get();
    if (firstQuery.empty() || PQntuples(answer) == 0 || PQnfields(answer) == 0 || PQgetisnull(answer, 0, 0))
        return {};
    return PQgetvalue(answer, 0, 0);
}

void TZConnection::CommitGuardedTransaction() {
    RequireConnected();
    NotifyBeforeStatement();
    if (serverFailure) {
        const EDatabaseError e = *serverFailure;
        RollbackGuardedTransaction();
        throw e;
    }
    if (broken) {
        RollbackGuardedTransaction();
        throw EDatabaseError("Die Transaktion ist nach einem Fehler nicht mehr zu gebrauchen");
    }
    guarded = false;
    auto r = Own(PQexec(handle, "COMMIT"));
    if (!Succeeded(r.get()))
        throw ResultError(handle, r.get());
    // The server answers the COMMIT of an aborted transaction with its rollback.
    if (std::strcmp(PQcmdStatus(r.get()), "ROLLBACK") == 0)
        throw EDatabaseError("Die Transaktion wurde vom Server zurückgerollt");
}

void TZConnection::RollbackGuardedTransaction() {
    if (!guarded)
        return;
    try {
        NotifyBeforeStatement();
    } catch (...) {
        // whatever was in flight is rolled back with the rest
    }
    guarded = false;
    broken = false;
    unitDepth = 0;
    serverFailure.reset();
    if (handle && PQstatus(handle) == CONNECTION_OK && PQpipelineStatus(handle) == PQ_PIPELINE_OFF)
        PQclear(PQexec(handle, "ROLLBACK"));
}

void TZConnection::Recover() {
    if (!guarded || !handle || PQtransactionStatus(handle) != PQTRANS_INERROR)
        return;
    auto r = Own(PQexec(handle, ("ROLLBACK TO SAVEPOINT " + kSavepoint).c_str()));
    if (!Succeeded(r.get())) {
        // The savepoint is gone: nothing of the transaction can be kept; every further statement and the
        // commit fail rather than run outside it.
        PQclear(PQexec(handle, "ROLLBACK"));
        broken = true;
    }
}

void TZConnection::BeginStatementUnit() {
    if (unitDepth++ == 0)
        unitStatements = 0;
}

void TZConnection::EndStatementUnit(bool keep) {
    if (unitDepth == 0 || --unitDepth > 0)
        return; // the outer unit decides
    if (!guarded || broken || !Connected() || PQpipelineStatus(handle) != PQ_PIPELINE_OFF)
        return;
    // Kept: the savepoint moves past the unit. Not kept: back to it; it stays where it was.
    const std::string sql =
        keep ? SecurePointSql()[0] + "; " + SecurePointSql()[1] : "ROLLBACK TO SAVEPOINT " + kSavepoint;
    auto r = Own(PQexec(handle, sql.c_str()));
    if (!Succeeded(r.get())) {
        const EDatabaseError e = Noted(ResultError(handle, r.get()));
        Recover();
        if (keep)
            throw e;
    }
}

TZStatementUnit::TZStatementUnit(TZConnection& connection) : conn(connection) {
    conn.NotifyBeforeStatement();
    if (!conn.Guarded()) {
        conn.BeginGuardedTransaction();
        ownTransaction = true;
    }
    conn.BeginStatementUnit();
}

TZStatementUnit::~TZStatementUnit() {
    if (ended)
        return;
    conn.EndStatementUnit(false);
    if (ownTransaction)
        conn.RollbackGuardedTransaction();
}

void TZStatementUnit::Keep() {
    ended = true;
    try {
        conn.EndStatementUnit(true);
    } catch (...) {
        if (ownTransaction)
            conn.RollbackGuardedTransaction();
        throw;
    }
    if (ownTransaction)
        conn.CommitGuardedTransaction();
}

void TZConnection::RequireUsableTransaction() const {
    if (guarded && serverFailure)
        throw *serverFailure;
    if (guarded && broken)
        throw EDatabaseError("Die Transaktion ist nach einem Fehler nicht mehr zu gebrauchen");
}

const EDatabaseError& TZConnection::Noted(const EDatabaseError& e) {
    // A lost session has its own handling: nothing is refused on the client side then.
    if (guarded && !serverFailure && !Lost() && FailureKindOf(e.SqlState()) == TFailureKind::fkServer)
        serverFailure = std::make_unique<EDatabaseError>(e);
    return e;
}

void TZConnection::NoteFailure(const PGresult* failed) {
    if (failed && handle)
        Noted(ResultError(handle, failed));
}

std::shared_ptr<PGresult> TZConnection::ExecStatement(const std::function<int(PGconn*)>& send) {
    RequireConnected();
    RequireUsableTransaction();
    if (!guarded || PQtransactionStatus(handle) == PQTRANS_IDLE || unitDepth > 0) {
        // Inside a unit the savepoint stays before it: a failure rolls back the whole unit.
        if (!send(handle))
            throw Noted(ResultError(handle, nullptr));
        auto r = CollectResults(handle);
        if (!Succeeded(r.get())) {
            const EDatabaseError e = Noted(ResultError(handle, r.get()));
            Recover();
            throw e;
        }
        if (unitDepth > 0)
            ++unitStatements;
        return r;
    }
    Recover();
    // The statement and the savepoint moved past it travel together: one round trip, as without.
    bool sent = PQenterPipelineMode(handle) == 1 && send(handle) == 1;
    std::shared_ptr<PGresult> answer;
    bool secured = sent;
    if (sent) {
        for (const std::string& sql : SecurePointSql())
            secured = secured &&
                      PQsendQueryParams(handle, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
    }
    if (PQpipelineStatus(handle) != PQ_PIPELINE_OFF) {
        sent = PQpipelineSync(handle) == 1 && sent;
        if (sent) {
            answer = PipelineAnswer(handle);
            for (std::size_t i = 0; secured && i < SecurePointSql().size(); ++i)
                secured = Succeeded(PipelineAnswer(handle).get());
        }
        DrainToSync(handle);
        PQexitPipelineMode(handle);
    }
    if (!answer || !Succeeded(answer.get()) || !secured) {
        const EDatabaseError e =
            Noted(ResultError(handle, answer && !Succeeded(answer.get()) ? answer.get() : nullptr));
        Recover();
        throw e;
    }
    return answer;
}

namespace {

// Lets `whileWaiting` run until an answer of the server has come in (or the connection failed, which
// reading the answer then tells).
void AwaitAnswer(PGconn* h, const TZConnection::TWhileWaiting& whileWaiting) {
    if (!whileWaiting)
        return;
    while (PQflush(h) == 1) {
    }
    for (;;) {
        if (PQconsumeInput(h) != 1 || PQisBusy(h) == 0)
            return;
        whileWaiting();
        pollfd socket{PQsocket(h), POLLIN, 0};
        if (socket.fd < 0)
            return;
        poll(&socket, 1, 100);
    }
}

} // namespace

std::shared_ptr<PGresult> TZConnection::ExecSimple(const std::string& sql) {
    return ExecSimpleWaiting(sql, {});
}

std::shared_ptr<PGresult> TZConnection::ExecSimpleWaiting(const std::string& sql,
                                                          const TWhileWaiting& whileWaiting) {
    RequireConnected();
    RequireUsableTransaction();
    const bool secured = guarded && PQtransactionStatus(handle) != PQTRANS_IDLE && unitDepth == 0;
    if (secured)
        Recover();
    // A text of several statements cannot go through the pipeline: the savepoint is moved behind the
    // text's own statements instead (after a line break, so that a trailing comment ends first).
    std::string text = sql;
    if (secured)
        for (const std::string& secure : SecurePointSql())
            text += "\n;" + secure;
    if (!PQsendQuery(handle, text.c_str()))
        throw Noted(ResultError(handle, nullptr));
    AwaitAnswer(handle, whileWaiting);
    std::vector<std::shared_ptr<PGresult>> results;
    std::shared_ptr<PGresult> failed;
    while (PGresult* res = PQgetResult(handle)) {
        results.push_back(Own(res));
        if (!failed && !Succeeded(res))
            failed = results.back();
    }
    if (failed || results.empty()) {
        const EDatabaseError e = Noted(ResultError(handle, failed.get()));
        Recover();
        throw e;
    }
    if (unitDepth > 0)
        ++unitStatements;
    const std::size_t housekeeping = secured ? SecurePointSql().size() : 0;
    return results.size() > housekeeping ? results[results.size() - housekeeping - 1] : results.front();
}

void TZConnection::ExecHousekeeping(const std::string& sql) {
    try {
        ExecSimple(sql);
    } catch (const EDatabaseError&) {
        // the statements are gone from the session all the same
    }
}

bool TZConnection::Connected() const {
    return handle && PQstatus(handle) == CONNECTION_OK;
}

bool TZConnection::Lost() const {
    return handle && PQstatus(handle) == CONNECTION_BAD;
}

PGconn* TZConnection::Handle() {
    return handle;
}

void TZConnection::NotifyBeforeStatement() {
    if (BeforeStatement)
        BeforeStatement();
}

void TZConnection::AddPrefetched(const std::string& serverSql, PGresult* answer) {
    prefetched.emplace_back(serverSql, Own(answer));
}

std::shared_ptr<PGresult> TZConnection::TakePrefetched(const std::string& serverSql) {
    if (prefetched.empty())
        return nullptr;
    if (prefetched.front().first != serverSql) {
        prefetched.clear();
        return nullptr;
    }
    std::shared_ptr<PGresult> answer = std::move(prefetched.front().second);
    prefetched.pop_front();
    return answer;
}

void TZConnection::RequireConnected() const {
    if (!handle)
        throw EDatabaseError("Not connected to the database");
}

void TZConnection::SetSessionSetting(const std::string& name, const std::string& value) {
    RequireConnected();
    NotifyBeforeStatement();
    const char* vals[2] = {name.c_str(), value.c_str()};
    ExecStatement([&vals](PGconn* h) {
        return PQsendQueryParams(h, "SELECT pg_catalog.set_config($1, $2, false)", 2, nullptr, vals, nullptr,
                                 nullptr, 0);
    });
}

const std::string& TZConnection::PreparedStatement(const std::string& serverSql, int paramCount) {
    RequireConnected();
    if (auto it = prepared.find(serverSql); it != prepared.end())
        return it->second;
    NotifyBeforeStatement();
    RequireUsableTransaction();
    if (prepared.size() >= MaxPrepared) {
        // Only our own statements go; others that a caller prepared on the handle stay.
        std::string sql;
        for (const auto& entry : prepared)
            sql += "DEALLOCATE " + entry.second + ";";
        ExecHousekeeping(sql);
        prepared.clear();
        generation = NextGeneration();
    }
    std::string name = "kz" + std::to_string(++nextStatement);
    auto r = Own(PQprepare(handle, name.c_str(), serverSql.c_str(), paramCount, nullptr));
    if (!Succeeded(r.get())) {
        const EDatabaseError e = Noted(ResultError(handle, r.get()));
        Recover(); // a statement that does not prepare must not abort the transaction around it
        throw e;
    }
    return prepared.emplace(serverSql, std::move(name)).first->second;
}

void TZConnection::ForgetPrepared(const std::string& serverSql) {
    auto it = prepared.find(serverSql);
    if (it == prepared.end())
        return;
    if (handle) {
        NotifyBeforeStatement();
        ExecHousekeeping("DEALLOCATE " + it->second); // our own generated name, never user text
    }
    prepared.erase(it);
    generation = NextGeneration();
}

// ---- TZParam ----------------------------------------------------------------------------------

void TZParam::SetValue(const std::string& text) {
    value = text;
    null = false;
    wireReady = false;
}

void TZParam::Reset(const std::string& newName) {
    name = newName;
    value.clear();
    wire.clear();
    null = true;
    wireReady = false;
    DataType = TFieldType::ftUnknown;
}

void TZParam::SetNull() {
    value.clear();
    null = true;
    wireReady = false;
}

void TZParam::SetAsInteger(std::int64_t v) {
    if (DataType == TFieldType::ftUnknown)
        DataType = TFieldType::ftInteger;
    SetValue(std::to_string(v));
}

void TZParam::SetAsFloat(double v) {
    if (DataType == TFieldType::ftUnknown)
        DataType = TFieldType::ftFloat;
    SetValue(FloatText(v));
}

const std::string& TZParam::WireText() {
    if (wireReady)
        return DataType == TFieldType::ftInteger || DataType == TFieldType::ftFloat ? wire : value;
    switch (DataType) {
    case TFieldType::ftInteger: {
        std::int64_t n = 0;
        if (!ParseInteger(value, n))
            throw EDatabaseError("'" + value + "' is not a valid integer value for parameter " + name);
        wire = std::to_string(n);
        break;
    }
    case TFieldType::ftFloat: {
        double d = 0;
        if (!ParseFloat(value, d))
            throw EDatabaseError("'" + value + "' is not a valid floating point value for parameter " + name);
        wire = FloatText(d);
        break;
    }
    default:
        // libpq takes C strings: a NUL inside would silently cut the value short.
        if (value.find('\0') != std::string::npos)
            throw EDatabaseError("The value of parameter " + name + " contains a NUL character");
        // Text goes as it is: no copy of it.
        wireReady = true;
        return value;
    }
    wireReady = true;
    return wire;
}

// ---- TZField ----------------------------------------------------------------------------------

TZField::TZField(std::shared_ptr<PGresult> result, int r, int c)
    : res(std::move(result)), row(r), column(c) {}

bool TZField::IsNull() const {
    return !res || row < 0 || row >= PQntuples(res.get()) || PQgetisnull(res.get(), row, column);
}

std::string TZField::AsString() const {
    if (IsNull())
        return {};
    return std::string(PQgetvalue(res.get(), row, column),
                       static_cast<std::size_t>(PQgetlength(res.get(), row, column)));
}

std::int64_t TZField::AsInteger() const {
    if (IsNull())
        return 0;
    const std::string t = AsString();
    std::int64_t n = 0;
    if (!ParseInteger(t, n))
        throw EDatabaseError("'" + t + "' is not a valid integer value");
    return n;
}

bool TZField::AsBoolean() const {
    if (IsNull())
        return false;
    const std::string t = LowerCaseAscii(TrimBoth(AsString()));
    return t == "t" || t == "true" || t == "y" || t == "yes" || t == "on" || t == "1";
}

double TZField::AsFloat() const {
    if (IsNull())
        return 0;
    const std::string t = AsString();
    double d = 0;
    if (!ParseFloat(t, d))
        throw EDatabaseError("'" + t + "' is not a valid floating point value");
    return d;
}

std::string TZField::FieldName() const {
    return res ? PQfname(res.get(), column) : std::string();
}

namespace {
EDatabaseError NullValue(const TZField& f, const char* type) {
    return EDatabaseError("The field " + f.FieldName() + " is NULL and cannot be read as " + type);
}
} // namespace

std::string TZField::ValueAsString() const {
    if (IsNull())
        throw NullValue(*this, "text");
    return AsString();
}

std::int64_t TZField::ValueAsInteger() const {
    if (IsNull())
        throw NullValue(*this, "an integer");
    return AsInteger();
}

bool TZField::ValueAsBoolean() const {
    if (IsNull())
        throw NullValue(*this, "a Boolean");
    return AsBoolean();
}

// ---- TZQuery ----------------------------------------------------------------------------------

TZQuery::TZQuery(TZConnection* connection) : conn(connection) {}

TZQuery::~TZQuery() = default;

void TZQuery::SetConnection(TZConnection* connection) {
    Close();
    conn = connection;
    stmtName = nullptr;
    for (TParsedText& t : recentTexts)
        t.stmtName = nullptr;
}

void TZQuery::SetSQL(const std::string& text) {
    sql.Clear();
    sql.Add(text);
}

void TZQuery::EnsureParsed() {
    // The lines last parsed are those of the most recent text.
    if (!parsed || recentTexts.empty() || sql.Lines() != recentTexts.front().lines)
        Parse();
}

namespace {

// The characters at which the scan of an SQL text may have to do more than copy.
bool StartsSomething(char c) {
    return c == '\'' || c == '"' || c == '-' || c == '/' || c == '$' || c == ':';
}

struct TScannedText {
    std::string serverSql;
    std::vector<std::string> names; // of the parameters in "$n" order, as first written
};

// Replaces every ":name" by "$n" (one number per distinct name, ignoring case). Colons inside string
// literals, quoted identifiers, dollar-quoted bodies, comments and "::" casts are left as they are.
TScannedText ScanSql(const std::string& text) {
    TScannedText scanned;
    std::vector<std::string>& names = scanned.names;
    std::string& out = scanned.serverSql;
    out.reserve(text.size() + 16);
    const std::size_t n = text.size();
    std::size_t i = 0;
    auto copyUntil = [&](std::size_t end) {
        out.append(text, i, end - i);
        i = end;
    };
    while (i < n) {
        const char c = text[i];
        if (c == '\'') {
            // E'...' strings allow backslash escapes; standard strings only the doubled quote.
            const bool escapes =
                i > 0 && (text[i - 1] == 'E' || text[i - 1] == 'e') && (i < 2 || !IdentChar(text[i - 2]));
            std::size_t j = i + 1;
            while (j < n) {
                if (escapes && text[j] == '\\' && j + 1 < n) {
                    j += 2;
                    continue;
                }
                if (text[j] == '\'') {
                    if (j + 1 < n && text[j + 1] == '\'') {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            copyUntil(std::min(n, j + 1));
        } else if (c == '"') {
            std::size_t j = text.find('"', i + 1);
            copyUntil(j == std::string::npos ? n : j + 1);
        } else if (c == '-' && i + 1 < n && text[i + 1] == '-') {
            std::size_t j = text.find('\n', i);
            copyUntil(j == std::string::npos ? n : j);
        } else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
            int depth = 0;
            std::size_t j = i;
            while (j < n) {
                if (text.compare(j, 2, "/*") == 0) {
                    ++depth;
                    j += 2;
                } else if (text.compare(j, 2, "*/") == 0) {
                    j += 2;
                    if (--depth == 0)
                        break;
                } else {
                    ++j;
                }
            }
            copyUntil(std::min(n, j));
        } else if (c == '$' && (i == 0 || !IdentChar(text[i - 1]))) {
            std::size_t j = i + 1;
            while (j < n && IdentChar(text[j]) &&
                   !(j == i + 1 && std::isdigit(static_cast<unsigned char>(text[j]))))
                ++j;
            if (j < n && text[j] == '$') {
                const std::string tag = text.substr(i, j - i + 1);
                std::size_t close = text.find(tag, j + 1);
                copyUntil(close == std::string::npos ? n : close + tag.size());
            } else {
                copyUntil(i + 1);
            }
        } else if (c == ':' && i + 1 < n && text[i + 1] == ':') {
            copyUntil(i + 2);
        } else if (c == ':' && i + 1 < n && IdentStart(text[i + 1])) {
            std::size_t j = i + 1;
            while (j < n && IdentChar(text[j]))
                ++j;
            const std::string_view name(text.data() + i + 1, j - i - 1);
            std::size_t index = 0;
            while (index < names.size() && !SameTextAscii(names[index], name))
                ++index;
            if (index == names.size())
                names.emplace_back(name);
            out += '$';
            out += std::to_string(index + 1);
            i = j;
        } else {
            // A run of characters that start nothing goes at once.
            std::size_t j = i + 1;
            while (j < n && !StartsSomething(text[j]))
                ++j;
            copyUntil(j);
        }
    }
    return scanned;
}

// The scans of the texts met so far, for every statement object: the writer's routines make statement
// objects of their own again and again with the same few texts. Texts built from values would let it
// grow without end, so it starts afresh when it is full.
const TScannedText& Scanned(const std::string& text) {
    static std::unordered_map<std::string, TScannedText> scans;
    if (auto it = scans.find(text); it != scans.end())
        return it->second;
    constexpr std::size_t kMaxScans = 512;
    if (scans.size() >= kMaxScans)
        scans.clear();
    return scans.emplace(text, ScanSql(text)).first->second;
}

} // namespace

void TZQuery::Parse() {
    Close();
    const std::vector<std::string>& lines = sql.Lines();
    // A statement object that takes turns between a few texts (the shared statement of a run) finds
    // each of them among its recent ones, with the name of its server-side statement.
    auto it = std::find_if(recentTexts.begin(), recentTexts.end(),
                           [&lines](const TParsedText& t) { return t.lines == lines; });
    if (it != recentTexts.end()) {
        std::rotate(recentTexts.begin(), it, it + 1);
    } else {
        std::string& text = joinedText;
        text.clear();
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (i)
                text += '\n';
            text += lines[i];
        }
        const TScannedText& scanned = Scanned(text);
        constexpr std::size_t kRecentTexts = 8;
        if (recentTexts.size() == kRecentTexts)
            recentTexts.pop_back();
        recentTexts.insert(recentTexts.begin(), TParsedText{lines, scanned.serverSql, scanned.names});
    }
    const TParsedText& current = recentTexts.front();

    // A parameter keeps its value while its name stays in the text; the others start anew (from a
    // spare object, so that taking turns between texts allocates nothing).
    std::vector<std::unique_ptr<TZParam>>& old = leftParams;
    old.clear();
    old.swap(params);
    for (const std::string& name : current.names) {
        auto kept = std::find_if(old.begin(), old.end(),
                                 [&](const auto& p) { return p && SameTextAscii(p->Name(), name); });
        if (kept != old.end()) {
            params.push_back(std::move(*kept));
        } else if (!spareParams.empty()) {
            params.push_back(std::move(spareParams.back()));
            spareParams.pop_back();
            params.back()->Reset(name);
        } else {
            params.push_back(std::make_unique<TZParam>(name));
        }
    }
    constexpr std::size_t kMaxSpare = 64;
    for (auto& p : old)
        if (p && spareParams.size() < kMaxSpare)
            spareParams.push_back(std::move(p));
    old.clear();
    serverSql = current.serverSql;
    multiStatementSafe = params.empty();
    stmtName = current.stmtName;
    stmtGeneration = current.stmtGeneration;
    parsed = true;
}

std::string TZQuery::ServerSQL() {
    EnsureParsed();
    return serverSql;
}

TZParam& TZQuery::ParamByName(const std::string& name) {
    EnsureParsed();
    for (auto& p : params)
        if (SameTextAscii(p->Name(), name))
            return *p;
    throw EDatabaseError("Parameter '" + name + "' not found");
}

int TZQuery::ParamCount() {
    EnsureParsed();
    return static_cast<int>(params.size());
}

TZParam& TZQuery::Params(int index) {
    EnsureParsed();
    if (index < 0 || index >= static_cast<int>(params.size()))
        throw EDatabaseError("Parameter index out of range");
    return *params[static_cast<std::size_t>(index)];
}

void TZQuery::Prepare() {
    EnsureParsed();
    prepareRequested = true;
}

const std::string& TZQuery::PreparedStatementName() {
    EnsureParsed();
    if (!conn)
        throw EDatabaseError("The statement has no connection");
    if (!stmtName || stmtGeneration != conn->Generation()) {
        stmtName = &conn->PreparedStatement(serverSql, static_cast<int>(params.size()));
        stmtGeneration = conn->Generation();
        // Kept with the text, for the next time the statement object takes it up again.
        if (!recentTexts.empty()) {
            recentTexts.front().stmtName = stmtName;
            recentTexts.front().stmtGeneration = stmtGeneration;
        }
    }
    return *stmtName;
}

void TZQuery::ParamValues(std::vector<const char*>& values) {
    EnsureParsed();
    values.clear();
    for (auto& p : params)
        values.push_back(p->IsNull() ? nullptr : p->WireText().c_str());
}

std::shared_ptr<PGresult> TZQuery::Run() {
    if (!conn || !conn->Handle())
        throw EDatabaseError("Not connected to the database");
    EnsureParsed();
    PGconn* h = conn->Handle();
    const bool simple = multiStatementSafe && !prepareRequested;
    // An answer that was asked ahead is already here: nothing goes to the server, so statements still on
    // their way need not be waited for.
    if (simple)
        if (std::shared_ptr<PGresult> answer = conn->TakePrefetched(serverSql)) {
            if (!Succeeded(answer.get()))
                throw ResultError(h, answer.get());
            return answer;
        }
    conn->NotifyBeforeStatement();
    if (simple) {
        // One-off texts without parameters (DDL, catalogue checks, generated queries) go through the
        // simple protocol: they are not worth a server-side statement each and may hold several commands.
        return conn->ExecSimple(serverSql);
    }
    std::vector<const char*> values;
    ParamValues(values);
    for (int attempt = 0;; ++attempt) {
        const std::string& name = PreparedStatementName();
        try {
            return conn->ExecStatement([&](PGconn* handle) {
                return PQsendQueryPrepared(handle, name.c_str(), static_cast<int>(values.size()),
                                           values.data(), nullptr, nullptr, 0);
            });
        } catch (const EDatabaseError& e) {
            // Inside a unit that has run statements, the failure took them back with it.
            if (attempt > 0 || !StaleStatement(e) || conn->StatementUnitHasRun())
                throw;
        }
        conn->ForgetPrepared(serverSql);
    }
}

void TZQuery::ExecSQL() {
    Close();
    auto r = Run();
    const char* tuples = PQcmdTuples(r.get());
    rowsAffected = tuples && *tuples ? std::strtoll(tuples, nullptr, 10) : 0;
}

void TZQuery::Open() {
    Close();
    result = Run();
    current = 0;
}

void TZQuery::Close() {
    result.reset();
    current = 0;
}

bool TZQuery::Eof() const {
    return !result || current >= PQntuples(result.get());
}

void TZQuery::First() {
    current = 0;
}

void TZQuery::Next() {
    if (!Eof())
        ++current;
}

int TZQuery::RecordCount() const {
    return result ? PQntuples(result.get()) : 0;
}

int TZQuery::FieldCount() const {
    return result ? PQnfields(result.get()) : 0;
}

TZField TZQuery::FieldByName(const std::string& name) const {
    if (!result)
        throw EDatabaseError("The query is not open");
    const int column = PQfnumber(result.get(), name.c_str());
    if (column < 0)
        throw EDatabaseError("Field '" + name + "' not found");
    return TZField(result, current, column);
}

TZField TZQuery::Fields(int index) const {
    if (!result)
        throw EDatabaseError("The query is not open");
    if (index < 0 || index >= PQnfields(result.get()))
        throw EDatabaseError("Field index out of range");
    return TZField(result, current, index);
}
