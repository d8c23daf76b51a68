#pragma once
// A thin connection/statement layer over libpq with the shape the writer and the run code use:
// a connection with host, port, database, user and password; a statement with an SQL text built line by
// line, named parameters written ":name", execution, and a result read row by row.
//
// Statements that carry parameters (or that were prepared explicitly) become server-side prepared
// statements, cached per connection by their SQL text, so a text that is sent once per feature is parsed
// and planned by the server once per connection. Values always travel through libpq's parameter API,
// never inside the SQL text.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "model/StringList.h"

struct pg_conn;
struct pg_result;
using PGconn = pg_conn;
using PGresult = pg_result;

// The next result of a connection in pipeline mode; nullptr when there is none. Two ends of results in a
// row mean nothing is on its way any more: nullptr rather than waiting for ever.
PGresult* NextPipelineResult(PGconn* h);
// Reads up to and including the next sync point; true when nothing but the sync point came.
bool DrainToSync(PGconn* h);

// Every failure of this layer. what() is the server's message text exactly (the primary message of the
// error), or libpq's own text for failures without a server message (connection errors, lost
// connections), or a text of this layer (unknown parameter or field, a value of the wrong form).
class EDatabaseError : public std::runtime_error {
public:
    explicit EDatabaseError(const std::string& message, std::string sqlState = {})
        : std::runtime_error(message), state(std::move(sqlState)) {}
    // The five-character SQLSTATE of a server error; empty for errors raised on the client side.
    const std::string& SqlState() const { return state; }

private:
    std::string state;
};

// What a failure means for the work around it, told by its SQLSTATE alone: the server words its messages
// in the language of its lc_messages, its SQLSTATEs are the same in every one.
enum class TFailureKind {
    fkStatement,    // the statement's own failure (a value, a constraint, its text): it costs only itself
    fkDuplicateKey, // unique_violation (23505): the row is there already
    // in_failed_sql_transaction (25P02): a statement before it aborted the transaction; it did not run
    fkAborted,
    // A prepared statement the session lost (26000), or whose plan no longer fits the tables it reads
    // (0A000, as "cached plan must not change result type"): prepared again, it may run.
    fkStaleStatement,
    fkConnection, // connection_exception (class 08): nothing reaches the server any more
    // The server could not do the work, or not now; nothing about the statement's own values. Every
    // further statement of the work would fail the same way or leave it half done, so the work ends:
    // - its resources or state: insufficient resources (class 53, a full disk, no memory), operator
    //   intervention (57, a shutdown, a cancel, statement_timeout), a system error (58, I/O), corrupted
    //   data or index (XX001, XX002), a snapshot too old (72);
    // - the moment: a lock not to be had in time (55P03 lock_not_available, and the rest of class 55,
    //   objects in use or not in the state needed), a transaction the server rolled back (class 40:
    //   deadlock 40P01, serialization 40001);
    // - the transaction or the session itself: invalid transaction state (class 25, such as a read-only
    //   database, 25006; but 25P02, see fkAborted), the transaction's initiation or end (0B, 2D), its
    //   savepoints (3B), the login (28), the server's configuration file (F0);
    // - the login's rights: insufficient_privilege (42501). A right missing for one table could cost only
    //   its features, but what the file did to the others would then stay without them: the file ends.
    // Not XX000: it is the SQLSTATE of every error raised without one of its own, such as PostGIS's
    // "parse error - invalid geometry", which costs only its statement; nor data exceptions (22), integrity
    // constraints (23), the rest of class 42 (syntax, undefined objects) or P0001 (RAISE EXCEPTION): all of
    // them are about the statement and what it carries.
    fkServer,
    fkClient, // no SQLSTATE: raised on the client side (libpq's lost connection, a value of the wrong form)
};
TFailureKind FailureKindOf(const std::string& sqlState);
// The SQLSTATE of an EDatabaseError; empty for every other exception.
std::string SqlStateOf(const std::exception& e);
// The error of a failed result: the server's primary message and SQLSTATE, or libpq's text (and no
// SQLSTATE) when the server sent none.
EDatabaseError ResultError(PGconn* handle, const PGresult* failed);

enum class TFieldType { ftUnknown, ftString, ftWideString, ftInteger, ftFloat };

// A message the server sends beside a statement's result (RAISE WARNING, RAISE NOTICE, ...): its severity
// as the server names it in English whatever the session's language ("WARNING", "NOTICE", "INFO", ...)
// and its primary text.
struct TServerNotice {
    std::string severity;
    std::string message;
};

class TZConnection {
public:
    TZConnection() = default;
    ~TZConnection();
    TZConnection(const TZConnection&) = delete;
    TZConnection& operator=(const TZConnection&) = delete;

    std::string Protocol = "postgresql", HostName, Database, User, Password;
    int Port = -1; // -1: libpq default (with EnvironmentDefaults off: refused)
    // Further libpq connection keywords as name=value lines (for example connect_timeout=5).
    TStringList Properties;
    // Whether libpq may fill a blank value from its PG* environment variables (PGHOST, PGPORT,
    // PGDATABASE, PGUSER, PGPASSWORD, ...). Off, the values above are all there is: a blank HostName,
    // Database or User makes Connect fail with a message naming it, a Port of -1 reaches libpq, which
    // refuses it, and every other keyword libpq would look up in the environment is given its built-in
    // default (or the empty text, as a blank Password is).
    bool EnvironmentDefaults = true;

    // The libpq connection string Connect opens: the values above, the Properties, application_name
    // "Kelpora" and client_encoding UTF8, each value quoted. Throws EDatabaseError for a blank required
    // value when EnvironmentDefaults is off.
    std::string ConnectionString() const;

    // Opens the connection (closing an open one first). Throws EDatabaseError with libpq's text when the
    // server cannot be reached or refuses the login.
    void Connect();
    void Disconnect();
    bool Connected() const;
    // Whether the server ended the session: a statement failed and libpq gave the connection up
    // (terminated backend, server stop). Nothing sent on it can succeed until the next Connect.
    bool Lost() const;
    PGconn* Handle();

    // Sets a run-time parameter of the session (as SET does) after connecting; the value is bound, not
    // pasted. Throws EDatabaseError.
    void SetSessionSetting(const std::string& name, const std::string& value);

    // The name of the server-side prepared statement for `serverSql` (placeholders $1..$n), preparing
    // it on first use. Not usable while libpq is in pipeline mode (prepare before entering it).
    const std::string& PreparedStatement(const std::string& serverSql, int paramCount);
    // A cache that only grew could hold the server's memory hostage when some caller sent ever new texts
    // with parameters: when it is full, its statements are deallocated and prepared again on demand.
    std::size_t MaxPrepared = 4000;
    // Number of statements prepared on the server for this connection and still cached.
    std::size_t PreparedCount() const { return prepared.size(); }
    // Changes with every Connect and Disconnect, to a value no connection of the process had before: a
    // statement name cached by a query is valid only for the generation it was taken in.
    std::uint64_t Generation() const { return generation; }
    // Forgets one cached statement (after the server dropped its plan) and deallocates it.
    void ForgetPrepared(const std::string& serverSql);

    // Called before anything of this layer talks to the server (statements, prepares, session settings,
    // disconnecting): a caller that keeps work of its own in flight on the handle (libpq's pipeline mode)
    // finishes it here, so every other statement finds the connection idle and runs after that work.
    std::function<void()> BeforeStatement;

    // Receives each notice of the server on this connection (also after a new Connect), while the
    // statement that raised it is still running: nothing may be sent on the connection from inside it.
    // Unset, notices are dropped.
    std::function<void(const TServerNotice&)> OnNotice;

    // Runs BeforeStatement when one is set.
    void NotifyBeforeStatement();

    // A transaction in which a failing statement costs only itself, as it does outside a transaction:
    // every statement of this layer runs behind the savepoint kStatementSavepoint, which is moved past it
    // in the same round trip when it succeeds and rolled back to when it fails. Callers that send
    // statements themselves (libpq's pipeline mode) secure their work with SecurePointSql and call
    // Recover after a failure. Commit and Rollback end it; Disconnect drops it with the session.
    static constexpr const char* kStatementSavepoint = "kelpora_statement";
    // The two statements that move the savepoint past everything done since it was set.
    static const std::vector<std::string>& SecurePointSql();
    // Begins it. A `firstQuery` (one statement without parameters) runs first inside it, in the same
    // round trip; the first column of its first row is returned as text ("" without one).
    std::string BeginGuardedTransaction(const std::string& firstQuery = {});
    // Throws EDatabaseError when the commit fails (the transaction is gone either way).
    void CommitGuardedTransaction();
    // Never throws: a connection that is lost has lost the transaction anyway.
    void RollbackGuardedTransaction();
    bool Guarded() const { return guarded; }
    // The first failure that said the server could not do the work (fkServer: its resources or state, a
    // lock not to be had, a deadlock, a read-only database) that a statement of the guarded transaction
    // met, or nullptr. From it on, every statement of the transaction is refused with that
    // error before it reaches the server, and its commit rolls it back: nothing more of the work could
    // succeed, and trying would only say so again for every statement. The transaction's end clears it.
    const EDatabaseError* ServerFailure() const { return serverFailure.get(); }
    // For callers that read results themselves (libpq's pipeline mode): a result that failed, so that a
    // failure of the server is known as when this layer meets it.
    void NoteFailure(const PGresult* failed);
    // Inside a guarded transaction that a failure aborted: back to the savepoint, so that the work
    // before it stays and the next statement can run. Does nothing otherwise.
    void Recover();

    // Statements that stand or fall together (see TZStatementUnit): from BeginStatementUnit on, the
    // statement savepoint is not moved past each statement, so the failure of any of them rolls back
    // all of them. EndStatementUnit(true) moves it past them all; EndStatementUnit(false) rolls back to
    // it, whatever of the unit had run. Units inside a unit are part of it.
    void BeginStatementUnit();
    void EndStatementUnit(bool keep);
    bool InStatementUnit() const { return unitDepth > 0; }
    // Whether a statement of the unit has run: a failure from then on rolls all of them back, so the
    // failing statement must not simply be run again (as a stale prepared statement otherwise is).
    bool StatementUnitHasRun() const { return unitDepth > 0 && unitStatements > 0; }

    // While the answer to a statement of ExecSimpleWaiting is awaited: called about every tenth of a
    // second, so that a window stays responsive while the server makes the statement wait (for a lock).
    // Nothing may be sent on the connection from inside it.
    using TWhileWaiting = std::function<void()>;

    // Answers to statements without parameters that a caller sent ahead (in pipeline mode), in the order
    // they will be asked: the next statement of exactly that text takes its answer instead of running
    // again. A different text drops the answers that were waiting.
    void AddPrefetched(const std::string& serverSql, PGresult* answer);
    std::shared_ptr<PGresult> TakePrefetched(const std::string& serverSql);
    void ClearPrefetched() { prefetched.clear(); }

    // Runs one statement: `send` puts it on the wire (a PQsendQuery* call). Inside a guarded transaction it
    // is secured behind the statement savepoint in the same round trip, and a failure rolls back to the
    // savepoint before the error is thrown. Returns the statement's own result.
    std::shared_ptr<PGresult> ExecStatement(const std::function<int(PGconn*)>& send);
    // The same for a text of the simple protocol, which may hold several statements: the result of the
    // last of them.
    std::shared_ptr<PGresult> ExecSimple(const std::string& sql);
    // ExecSimple, letting `whileWaiting` run until the answer is there.
    std::shared_ptr<PGresult> ExecSimpleWaiting(const std::string& sql, const TWhileWaiting& whileWaiting);

private:
    void RequireConnected() const;
    // A command of the connection's own (DEALLOCATE), whose failure must not abort a guarded transaction.
    void ExecHousekeeping(const std::string& sql);
    void RequireUsableTransaction() const;
    // `e`, after taking it for the ServerFailure of the guarded transaction when it is one.
    const EDatabaseError& Noted(const EDatabaseError& e);

    PGconn* handle = nullptr;
    bool guarded = false;
    bool broken = false; // the statement savepoint was lost: the transaction can only be rolled back
    int unitDepth = 0;
    int unitStatements = 0; // of the unit that succeeded
    std::unique_ptr<EDatabaseError> serverFailure;
    std::uint64_t generation = 0;
    std::uint64_t nextStatement = 0;
    std::unordered_map<std::string, std::string> prepared; // server SQL -> statement name
    std::deque<std::pair<std::string, std::shared_ptr<PGresult>>> prefetched;
};

// The statements run while it lives stand or fall together inside the guarded transaction (outside one it
// opens one of its own): Keep makes them stay, and without it they are rolled back when it ends, as they
// are at once when one of them fails. Anything still in flight on the connection is finished before the
// unit begins, so that it is no part of it.
class TZStatementUnit {
public:
    explicit TZStatementUnit(TZConnection& connection);
    ~TZStatementUnit();
    TZStatementUnit(const TZStatementUnit&) = delete;
    TZStatementUnit& operator=(const TZStatementUnit&) = delete;
    // Throws EDatabaseError when the server refuses (the unit is rolled back then).
    void Keep();

private:
    TZConnection& conn;
    bool ownTransaction = false;
    bool ended = false;
};

// One named parameter of a statement.
class TZParam {
public:
    explicit TZParam(std::string paramName) : name(std::move(paramName)) {}

    TFieldType DataType = TFieldType::ftUnknown;
    void SetDataType(TFieldType type) { DataType = type; }
    // The value as text; its form is checked against DataType when the statement runs: an integer must
    // be an optional sign and decimal digits, a float may use "," as its decimal separator.
    void SetValue(const std::string& text);
    void SetNull();
    void SetAsInteger(std::int64_t value);
    void SetAsFloat(double value);

    const std::string& Name() const { return name; }
    bool IsNull() const { return null; }
    const std::string& Text() const { return value; }
    // The text that goes to the server; throws EDatabaseError when the value does not fit DataType.
    const std::string& WireText();

private:
    friend class TZQuery;
    // Becomes a new parameter of that name (a statement object reuses the objects of names it left).
    void Reset(const std::string& newName);

    std::string name;
    std::string value;
    std::string wire;
    bool null = true;
    bool wireReady = false;
};

// A field of the current row of an open result. It keeps the result alive and refers to the row that
// was current when it was taken.
class TZField {
public:
    TZField(std::shared_ptr<PGresult> result, int row, int column);

    bool IsNull() const;
    // The value as text; "" for NULL.
    std::string AsString() const;
    // The value as an integer; 0 for NULL. Throws EDatabaseError when the text is not an integer.
    std::int64_t AsInteger() const;
    // True for the server's true ("t"), "true", "1" and the like; false for NULL.
    bool AsBoolean() const;
    // The value as a floating point number; 0 for NULL. Throws EDatabaseError when it is not a number.
    double AsFloat() const;
    // The same conversions for callers to whom a NULL is a failure: they throw EDatabaseError on NULL.
    std::string ValueAsString() const;
    std::int64_t ValueAsInteger() const;
    bool ValueAsBoolean() const;
    std::string FieldName() const;

private:
    std::shared_ptr<PGresult> res;
    int row;
    int column;
};

class TZQuery {
public:
    explicit TZQuery(TZConnection* connection = nullptr);
    ~TZQuery();
    TZQuery(const TZQuery&) = delete;
    TZQuery& operator=(const TZQuery&) = delete;

    void SetConnection(TZConnection* connection);
    TZConnection* Connection() const { return conn; }

    // The SQL text: its lines joined by "\n". Changing it closes nothing by itself; the next use sees
    // the new text, and parameters keep their values while their name stays in the text.
    TStringList& SQL() { return sql; }
    void SetSQL(const std::string& text);
    // The SQL text as the server gets it (":name" replaced by "$n").
    std::string ServerSQL();

    // The parameter ":name" of the SQL text (names compare ignoring case). Throws EDatabaseError when
    // the text has no such parameter.
    TZParam& ParamByName(const std::string& name);
    int ParamCount();
    TZParam& Params(int index);

    // Marks the statement to be prepared on the server even when it has no parameters.
    void Prepare();
    bool Prepared() const { return prepareRequested; }
    // Runs the statement, discarding any rows. Throws EDatabaseError.
    void ExecSQL();
    // Runs the statement and keeps its rows; the first row is current. Throws EDatabaseError.
    void Open();
    void Close();
    bool Active() const { return result != nullptr; }

    bool Eof() const;
    void First();
    void Next();
    int RecordCount() const;
    int FieldCount() const;
    // Throws EDatabaseError when the result has no such field, or when no row is current.
    TZField FieldByName(const std::string& name) const;
    TZField Fields(int index) const;
    // Rows changed by the last ExecSQL (0 for statements that report none).
    std::int64_t RowsAffected() const { return rowsAffected; }

    // For callers that send the statement themselves (for example in libpq's pipeline mode): the name of
    // its server-side prepared statement, and the parameter values in "$n" order (nullptr for NULL).
    const std::string& PreparedStatementName();
    void ParamValues(std::vector<const char*>& values);

private:
    void Parse();
    void EnsureParsed();
    std::shared_ptr<PGresult> Run();

    TZConnection* conn = nullptr;
    TStringList sql;
    struct TParsedText {
        std::vector<std::string> lines; // of the SQL text
        std::string serverSql;
        std::vector<std::string> names; // of the parameters in "$n" order, as first written
        // Its server-side statement, when it had one on the connection of that generation.
        const std::string* stmtName = nullptr;
        std::uint64_t stmtGeneration = 0;
    };
    std::vector<TParsedText> recentTexts;              // most recent first
    std::string joinedText;                            // the lines being parsed, its buffer kept
    std::vector<std::unique_ptr<TZParam>> leftParams;  // those of the text left, while the next is set up
    std::vector<std::unique_ptr<TZParam>> spareParams; // of texts left, for the next text's new names
    bool parsed = false;
    std::string serverSql;
    bool multiStatementSafe = true;               // no parameters: may go through the simple protocol
    std::vector<std::unique_ptr<TZParam>> params; // in "$n" order
    bool prepareRequested = false;
    std::uint64_t stmtGeneration = 0;
    const std::string* stmtName = nullptr;

    std::shared_ptr<PGresult> result;
    int current = 0;
    std::int64_t rowsAffected = 0;
};
