// The features in flight: the statements of the features whose answers are not read yet, the records
// held behind the parser and the arc questions sent ahead of their records.
#include <libpq-fe.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/FormKelpora.h"
#include "gml/GML2WKT.h"
#include "platform/db/ZDatabase.h"
#include "platform/xml/XmlDom.h"
#include "writer/DbSupport.h"
#include "writer/FeatureWork.h"

namespace {

using TAnswer = TFeatureWork::TAnswer;

bool Succeeded(ExecStatusType status) {
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

// How a statement that did not succeed failed: on its own, or only because the transaction was aborted
// by a statement before it (the server skips what follows a failure up to the next sync point, and after
// it refuses everything until the transaction is rolled back to its savepoint). The connection learns of
// a failure of the server itself, which ends the work rather than have it done again.
TAnswer FailureOf(const PGresult* res, TZConnection* c) {
    if (PQresultStatus(res) == PGRES_PIPELINE_ABORTED)
        return TAnswer::taAborted;
    if (c)
        c->NoteFailure(res);
    const char* state = PQresultErrorField(res, PG_DIAG_SQLSTATE);
    return state && FailureKindOf(state) == TFailureKind::fkAborted ? TAnswer::taAborted : TAnswer::taFailed;
}

// Reads the results of `statements` statements: the answer of the first that did not succeed, or
// taOk. A sync point before the last of them means one never went out (taAborted), and `syncSeen` tells
// that the sync point is read; `failedAt` gets the index of the statement that failed on its own.
TAnswer ReadStatements(PGconn* h, TZConnection* c, int statements, bool* syncSeen = nullptr,
                       int* failedAt = nullptr) {
    TAnswer answer = TAnswer::taOk;
    for (int i = 0; i < statements; ++i) {
        PGresult* res = NextPipelineResult(h);
        if (!res)
            return TAnswer::taAborted;
        const ExecStatusType status = PQresultStatus(res);
        if (status == PGRES_PIPELINE_SYNC) {
            PQclear(res);
            if (syncSeen)
                *syncSeen = true;
            return answer == TAnswer::taOk ? TAnswer::taAborted : answer;
        }
        if (answer == TAnswer::taOk && !Succeeded(status)) {
            answer = FailureOf(res, c);
            if (failedAt && answer == TAnswer::taFailed)
                *failedAt = i;
        }
        PQclear(res);
    }
    return answer;
}

// Reads every result up to the pipeline's sync point: the answer of its statements.
TAnswer DrainPipeline(PGconn* h, TZConnection* c, int statements, int* failedAt = nullptr) {
    bool syncSeen = false;
    const TAnswer answer = ReadStatements(h, c, statements, &syncSeen, failedAt);
    const bool synced = syncSeen || DrainToSync(h);
    return answer == TAnswer::taOk && !synced ? TAnswer::taAborted : answer;
}

void SendStatement(PGconn* h, const TPreparedCall& st, bool& ok) {
    if (!ok)
        return;
    thread_local std::vector<const char*> values;
    st.ValuePointers(values);
    ok = PQsendQueryPrepared(h, st.name.c_str(), static_cast<int>(values.size()), values.data(), nullptr,
                             nullptr, 0) == 1;
}

// Sends the statements of one unit and its sync point; false when the sync point did not go out. A
// statement that could not be sent leaves the unit short of answers, so it counts as failed.
bool SendUnit(PGconn* h, const std::vector<TPreparedCall>& batch) {
    bool ok = true;
    for (const TPreparedCall& st : batch)
        SendStatement(h, st, ok);
    return PQpipelineSync(h) == 1;
}

} // namespace

// Features whose statements went to the server, or are about to, and whose work is not finished yet,
// oldest first. They work inside a guarded transaction (the file's, or one the pipeline opens for them
// until they are finished, see TZConnection::BeginGuardedTransaction): the statement savepoint marks
// the last point up to which everything is known to be done. At first the features travel as one
// window: their statements back to back, and the savepoint is moved past all of them when their work is
// finished. A failure anywhere aborts the transaction from that statement on; everything after the
// savepoint is then rolled back, and every feature that was not done goes again, in its order: a feature
// whose own statement failed is done one statement at a time, which gives exactly the rows and reports of
// that way (the failing statement fails again there and is reported in its place), and the ones behind it
// are sent again. From the first failure on, the features of the file travel as units of their own (their
// statements, the savepoint moved past them, a sync point), so that a failure then costs only what follows
// it. pending[0, answered) have their answers read, pending[answered, sent) are on their way (in libpq's
// buffer or on the socket), pending[sent, end) have not been sent yet.
struct TFeaturePipeline {
    std::vector<TFeatureWork> pending;
    std::size_t sent = 0;
    std::size_t answered = 0;
    std::size_t bytes = 0;
    PGconn* handle = nullptr;
    // The connection the features went out on: the window may have let go of it already when its
    // disconnect (BeforeStatement) asks for the answers.
    TZConnection* connection = nullptr;
    bool flushing = false;
    // Stands in for `cmd` while pending features are finished, so that a statement a caller has set up
    // in `cmd` (its text, parameters and rows) is the same afterwards.
    std::shared_ptr<TZQuery> scratch;
    // Arc questions go to a session of their own (the same login on the same server): their answers
    // depend on their text alone, and that server process answers them while this one works on the
    // features. Groups on their way there, in the order of their records; a sync point (which also
    // writes them to the socket) follows once the oldest group behind none has waited for three quarters of
    // the records behind the parser, and before a group behind none is read. A refused question costs only
    // the questions up to the next one.
    struct TQuestionGroup {
        std::vector<std::string> queries;
        std::uint64_t record;
        bool syncAfter;
    };
    std::deque<TQuestionGroup> questionGroups;
    PGconn* questions = nullptr; // the question session, in pipeline mode
    // The main session it belongs to; a different one means a new question session.
    TZConnection* questionsFor = nullptr;
    PGconn* questionsForHandle = nullptr;
    bool questionsRefused = false; // it could not be opened for that session: nothing is asked ahead
    // Records handed over so far, and when the oldest group behind no sync point went out.
    std::uint64_t handovers = 0;
    std::uint64_t unsyncedSince = 0;
    bool unsynced = false;
    // Answers read before their record is converted, by record; answers of records written already
    // (those up to doneThrough) are dropped.
    using TAnswerResult = std::unique_ptr<PGresult, decltype(&PQclear)>;
    std::map<std::uint64_t, std::vector<std::pair<std::string, TAnswerResult>>> answers;
    std::uint64_t doneThrough = 0;
    // The statements that move the savepoint past what was sent, prepared on the connection of this
    // generation; whether a window is open (features of it sent since the savepoint was moved), whether
    // the rest of the file goes as units of their own, whether a failure aborted the transaction (nothing
    // more is sent then until it is rolled back), and whether the transaction is the pipeline's own.
    std::vector<TPreparedCall> securePoint;
    std::uint64_t generation = 0;
    bool windowOpen = false;
    bool ownUnits = false;
    bool aborted = false;
    bool localTransaction = false;
    // The feature in pending whose answer brought the server's failure (see TZConnection::ServerFailure),
    // when one did.
    std::optional<std::size_t> serverFailureAt;
    // The validity question and the relation row of every feature, kept from feature to feature on the
    // connection they were made for, so that their texts are read and their statements looked up once.
    std::unique_ptr<TZQuery> validQuery;
    std::unique_ptr<TZQuery> relationQuery;

    void CloseQuestions() {
        if (questions)
            PQfinish(questions);
        questions = nullptr;
        questionsFor = nullptr;
        questionsForHandle = nullptr;
        questionsRefused = false;
        questionGroups.clear();
        unsynced = false;
    }
    ~TFeaturePipeline() { CloseQuestions(); }
};

namespace {

// A statement of the pipeline's own with its SQL text, made anew for another connection.
TZQuery& KeptQuery(std::unique_ptr<TZQuery>& query, TZConnection* connection, const char* sql) {
    if (!query || query->Connection() != connection) {
        query = std::make_unique<TZQuery>(connection);
        query->SetSQL(sql);
    }
    return *query;
}

// Pending answers may hold a few megabytes of geometry text, never more.
constexpr std::size_t kMaxPendingBytes = 8u << 20;

std::size_t WorkBytes(const TFeatureWork& w) {
    std::size_t n = w.wkt.size();
    for (const TBinding& b : w.bound)
        n += b.value.size();
    for (const TPreparedCall& st : w.batch)
        n += st.ValueBytes();
    return n;
}

// The statements of the secure point, prepared once per connection generation. False when they cannot
// be had (then nothing is sent this way).
bool PrepareSecurePoint(TFeaturePipeline& fp, TZConnection& c) {
    if (!fp.securePoint.empty() && fp.generation == c.Generation())
        return true;
    try {
        std::vector<TPreparedCall> statements;
        for (const std::string& sql : TZConnection::SecurePointSql())
            statements.emplace_back(c.PreparedStatement(sql, 0));
        fp.securePoint = std::move(statements);
        fp.generation = c.Generation();
        return true;
    } catch (const std::exception&) {
        fp.securePoint.clear();
        return false;
    }
}

// The features in flight always share a guarded transaction: the file's, or one of their own until they
// are finished. Opening it lets the connection finish what is in flight first.
bool EnsureTransaction(TFeaturePipeline& fp, TZConnection& c) {
    if (c.Guarded())
        return true;
    try {
        c.BeginGuardedTransaction();
    } catch (const std::exception&) {
        return false;
    }
    fp.localTransaction = true;
    return true;
}

// Sends held-back features, oldest first, until `keep` are left; after failures each goes as a unit of
// its own, as when it waits for its answer. Nothing goes out once the transaction is known to be aborted.
void SendHeld(TFeaturePipeline& fp, std::size_t keep) {
    bool ok = !fp.aborted;
    while (fp.pending.size() - fp.sent > keep) {
        TFeatureWork& w = fp.pending[fp.sent++];
        w.ownUnit = fp.ownUnits;
        for (const TPreparedCall& st : w.batch)
            SendStatement(fp.handle, st, ok);
        if (w.ownUnit) {
            for (const TPreparedCall& st : fp.securePoint)
                SendStatement(fp.handle, st, ok);
            ok = ok && PQpipelineSync(fp.handle) == 1;
        } else {
            fp.windowOpen = true;
        }
        w.synced = ok;
    }
    // libpq writes its buffer in blocks of 8 KB as they fill, at every sync point and before any answer
    // is waited for: nothing waits on our side for long.
    if (!ok)
        fp.aborted = true;
}

// Reads the answers of the oldest group of the question session. Only answers that went through are
// kept: the conversion asks any other question again itself, on the run's session, so that a refused arc
// is reported as when it is asked alone. After a refused question the rest up to the next sync point come
// back aborted, and none of them is kept either.
void ReadQuestionGroup(TFeaturePipeline& fp) {
    if (std::none_of(fp.questionGroups.begin(), fp.questionGroups.end(),
                     [](const TFeaturePipeline::TQuestionGroup& g) { return g.syncAfter; })) {
        // The server sends its answers at a sync point.
        fp.questionGroups.back().syncAfter = PQpipelineSync(fp.questions) == 1;
        fp.unsynced = false;
    }
    const TFeaturePipeline::TQuestionGroup group = std::move(fp.questionGroups.front());
    fp.questionGroups.pop_front();
    bool ok = true;
    bool syncSeen = false;
    for (const std::string& sql : group.queries) {
        PGresult* answer = syncSeen ? nullptr : NextPipelineResult(fp.questions);
        if (answer && PQresultStatus(answer) == PGRES_PIPELINE_SYNC) {
            PQclear(answer);
            answer = nullptr;
            syncSeen = true;
        }
        ok = ok && answer && PQresultStatus(answer) == PGRES_TUPLES_OK;
        if (ok && group.record > fp.doneThrough)
            fp.answers[group.record].emplace_back(sql, TFeaturePipeline::TAnswerResult(answer, &PQclear));
        else
            PQclear(answer);
    }
    if (group.syncAfter && !syncSeen)
        DrainToSync(fp.questions);
    if (PQstatus(fp.questions) != CONNECTION_OK)
        fp.CloseQuestions(); // a lost question session only costs the questions
}

// Reads the answers of the features on their way up to pending[upTo).
void ReadAnswers(TFeaturePipeline& fp, std::size_t upTo) {
    for (;;) {
        if (fp.answered >= upTo || fp.answered >= fp.sent)
            return;
        const bool serverFailedBefore = fp.connection && fp.connection->ServerFailure();
        TFeatureWork& w = fp.pending[fp.answered++];
        if (!w.synced) {
            w.answer = TAnswer::taAborted;
        } else if (w.ownUnit) {
            const int secure = static_cast<int>(fp.securePoint.size());
            w.answer = DrainPipeline(fp.handle, fp.connection, w.statements + secure, &w.failedStatement);
        } else {
            w.answer = ReadStatements(fp.handle, fp.connection, w.statements, nullptr, &w.failedStatement);
        }
        if (w.answer != TAnswer::taOk)
            fp.aborted = true;
        if (!serverFailedBefore && fp.connection && fp.connection->ServerFailure())
            fp.serverFailureAt = fp.answered - 1;
    }
}

bool InFlight(const TFeaturePipeline& fp) {
    return !fp.pending.empty();
}

// After the pipeline: the connection's own way again, and back to the savepoint when something failed.
void LeavePipeline(TFeaturePipeline& fp) {
    PQexitPipelineMode(fp.handle);
    if (fp.connection)
        fp.connection->Recover();
}

} // namespace

// The database work of a feature (the validity question when deferred, the prepared INSERT of `cmd` and
// the relation rows) goes without waiting for each answer. Either all of it is done, or nothing is: an
// invalid geometry turns the validity question into an error, and any error rolls back to the savepoint.
// The feature is then done one statement at a time, which gives exactly the rows, counts and reports of
// that way (the failing statement fails again there and is reported in its place). So the pipeline only
// saves waiting; it decides nothing.
//
// With iPipelineDepth above 0 the call does not wait for the answer: the statements of several features
// travel back to back, and their answers are read when the depth is reached or before anything else
// talks to the server (the connection's BeforeStatement). A feature whose completion may read the file
// progress (every thousandth count) waits for everything before it and for its own answer, so the count
// of stored objects it reads is that of the one-at-a-time way.
TfrmKelpora::TFeatureSend TfrmKelpora::SendFeatureAtOnce(TFeatureWork& w) {
    PGconn* const h = conn ? conn->Handle() : nullptr;
    if (!h || w.collectFailed || ServerFailed())
        return TFeatureSend::fsNotWritten;
    if (!featurePipeline)
        featurePipeline = std::make_shared<TFeaturePipeline>();
    TFeaturePipeline& fp = *featurePipeline;
    bool mayDefer = iPipelineDepth > 0 && !fp.flushing;
    if (mayDefer && !obStatistics.Empty()) {
        std::int64_t total = 0;
        for (int i = 0; i < obInserts.Count(); ++i)
            total += std::stoll(obInserts.ValueFromIndex(i));
        const std::int64_t nextMultiple = (total + 999) / 1000 * 1000;
        mayDefer = nextMultiple > total + static_cast<std::int64_t>(fp.pending.size()) + 1;
    }
    if (!mayDefer)
        FlushPendingFeatures();

    std::vector<TPreparedCall> batch;
    // Taking a statement's name may prepare it, which finishes pending features first (cmd stays).
    try {
        if (w.deferredCheck) {
            // Fails (division by zero) unless the geometry is valid: the rollback then leaves the
            // question to CheckGeometry.
            TZQuery& valid = KeptQuery(fp.validQuery, conn.get(),
                                       "SELECT 1/coalesce(ST_IsValid(ST_GeomFromText(:wkt))::int, 0)");
            TZParam& wkt = valid.ParamByName("wkt");
            wkt.SetDataType(TFieldType::ftWideString);
            wkt.SetValue(w.wkt);
            batch.push_back(TakePreparedCall(valid));
        }
        for (TPreparedCall& row : w.qualityRows)
            batch.push_back(std::move(row));
        w.qualityRows.clear();
        batch.push_back(TakePreparedCall(*cmd));
        // A replace ends the old versions in the same unit: should the new one not be stored, the rollback
        // leaves them open.
        if (w.replaces)
            AddClosingCalls(conn.get(), w.closing, w.closingPlan, batch);
        if (w.withRelations) {
            // The relation row exactly as WriteIdRef writes it.
            TZQuery& rel = KeptQuery(fp.relationQuery, conn.get(), kInsertIdRefSql);
            const std::string begin = DateTimeToDbText(w.dtBegin);
            for (const auto& [typ, targets] : w.relations) {
                for (const std::string& target : targets) {
                    BindIdRef(rel, w.id, target, typ, begin);
                    batch.push_back(TakePreparedCall(rel));
                }
            }
        }
    } catch (const std::exception&) {
        return TFeatureSend::fsNotWritten; // the one-at-a-time way meets the same error and reports it
    }

    if (!mayDefer) {
        // Alone, and waited for: inside a guarded transaction the savepoint is moved past it in the same
        // round trip, or rolled back to when it failed.
        const bool guarded = conn->Guarded();
        if (guarded && !PrepareSecurePoint(fp, *conn))
            return TFeatureSend::fsNotWritten;
        if (!ClaimPipeline(h))
            return TFeatureSend::fsNotWritten;
        if (guarded)
            batch.insert(batch.end(), fp.securePoint.begin(), fp.securePoint.end());
        w.statements = static_cast<int>(batch.size());
        const bool ok = SendUnit(h, batch) && DrainPipeline(h, conn.get(), w.statements) == TAnswer::taOk;
        PQexitPipelineMode(h);
        if (!ok)
            conn->Recover();
        if (ok)
            ++iBatchedInserts;
        return ok ? TFeatureSend::fsWritten : TFeatureSend::fsNotWritten;
    }

    if (!EnsureTransaction(fp, *conn) || !PrepareSecurePoint(fp, *conn) || !ClaimPipeline(h))
        return TFeatureSend::fsNotWritten;
    // Its answers come after those of the features before it; a feature that could not be sent whole is
    // done again one statement at a time.
    w.statements = static_cast<int>(batch.size());
    w.batch = std::move(batch);
    QueueInFlight(std::move(w));
    return TFeatureSend::fsPending;
}

bool TfrmKelpora::QueueClosing(TFeatureWork&& w) {
    PGconn* const h = conn ? conn->Handle() : nullptr;
    if (!h || iPipelineDepth <= 0 || (featurePipeline && featurePipeline->flushing) || ServerFailed())
        return false;
    if (!featurePipeline)
        featurePipeline = std::make_shared<TFeaturePipeline>();
    TFeaturePipeline& fp = *featurePipeline;
    if (!EnsureTransaction(fp, *conn) || !PrepareSecurePoint(fp, *conn))
        return false;
    if (fp.flushing || !ClaimPipeline(h))
        return false;
    w.statements = static_cast<int>(w.batch.size());
    QueueInFlight(std::move(w));
    return true;
}

void TfrmKelpora::QueueInFlight(TFeatureWork&& w) {
    TFeaturePipeline& fp = *featurePipeline;
    fp.bytes += WorkBytes(w);
    fp.pending.push_back(std::move(w));
    SendHeld(fp, 0);
    if (fp.aborted || static_cast<std::int32_t>(fp.pending.size()) >= iPipelineDepth ||
        fp.bytes >= kMaxPendingBytes)
        FlushPendingFeatures();
}

void TfrmKelpora::StartPipelineFile() {
    if (featurePipeline)
        featurePipeline->ownUnits = false;
}

void TfrmKelpora::EndPipelineFile() {
    if (featurePipeline)
        featurePipeline->CloseQuestions();
}

void TfrmKelpora::FlushPendingFeatures() {
    if (!writingQueuedRecords && !(featurePipeline && featurePipeline->flushing))
        WriteQueuedRecords(0); // records the parser handed over come first
    FinishFeaturesInFlight();
}

// The rest of a feature's work once its statements' answers are read: done (`written`), or one statement
// at a time; then its count, relations and progress. A closing alone has nothing more to do when it was
// done.
void TfrmKelpora::CompleteWork(TFeatureWork& w, bool written) {
    if (w.closesOnly) {
        if (!written)
            CloseStoredVersions(w.closing, w.closingPlan);
        return;
    }
    if (written)
        ++iBatchedInserts;
    cmd->SQL().Clear(); // the INSERT is set up again when it is needed
    try {
        if (!FinishFeatureWork(w, written))
            return; // invalid geometry: skipped, no progress
    } catch (const std::exception& e) {
        ReportWriteFailure(w.oa, w.id, e.what(), SqlStateOf(e));
    }
    ShowFileProgress();
}

void TfrmKelpora::FinishFeaturesInFlight() {
    if (!featurePipeline || featurePipeline->flushing || !InFlight(*featurePipeline))
        return;
    TFeaturePipeline& fp = *featurePipeline;
    fp.flushing = true;
    if (!fp.scratch || fp.scratch->Connection() != fp.connection)
        fp.scratch = std::make_shared<TZQuery>(fp.connection);
    // A flush may come in the middle of a feature's binding (a prepare, a click on cancel while the
    // quality data routine lets messages through): that feature's statement and collected rows stay its.
    struct TRestore {
        TfrmKelpora& form;
        TFeaturePipeline& fp;
        TFeatureWork* collecting;
        ~TRestore() {
            std::swap(form.cmd, fp.scratch);
            form.collectingWork = collecting;
            fp.flushing = false;
        }
    };
    std::swap(cmd, fp.scratch);
    const TRestore restore{*this, fp, collectingWork};
    collectingWork = nullptr;
    // A failure of the server's resources or state ends the file's work at once: every feature after it
    // would fail the same way, one statement at a time.
    const auto serverFailed = [&fp] { return fp.connection && fp.connection->ServerFailure(); };

    for (bool again = true, resent = false; again; resent = again) {
        again = false;
        SendHeld(fp, 0);
        // The window is done when the savepoint moves past it.
        const bool window = fp.windowOpen;
        bool windowSecured = !window;
        if (window) {
            bool ok = !fp.aborted;
            for (const TPreparedCall& st : fp.securePoint)
                SendStatement(fp.handle, st, ok);
            ok = PQpipelineSync(fp.handle) == 1 && ok;
            fp.windowOpen = false;
            ReadAnswers(fp, fp.pending.size());
            const TAnswer secured =
                DrainPipeline(fp.handle, fp.connection, static_cast<int>(fp.securePoint.size()));
            windowSecured = ok && secured == TAnswer::taOk;
        } else {
            ReadAnswers(fp, fp.pending.size());
        }
        LeavePipeline(fp);
        fp.aborted = false;

        std::vector<TFeatureWork> works = std::move(fp.pending);
        fp.pending.clear();
        fp.sent = 0;
        fp.answered = 0;
        fp.bytes = 0;
        const std::optional<std::size_t> failedAt = std::exchange(fp.serverFailureAt, std::nullopt);
        if (serverFailed()) {
            // Nothing is done again: the failure is said once, in the place of the feature that met it
            // (the file's end says it otherwise).
            const EDatabaseError& e = *fp.connection->ServerFailure();
            if (failedAt && *failedAt < works.size()) {
                const TFeatureWork& w = works[*failedAt];
                // A closing's first statement ends the versions, the others the relations.
                if (w.closesOnly)
                    ReportClosingFailure(w.closing, w.failedStatement > 0, e.what());
                else
                    ReportWriteFailure(w.oa, w.id, e.what(), e.SqlState());
            }
            break;
        }
        // In order: what is done is finished, a feature whose own statement failed is done one statement
        // at a time, and from the first that went down with a failure before it, the rest goes again.
        std::size_t i = 0;
        for (; i < works.size(); ++i) {
            // Nothing of the rest can reach the server (or succeed there): their one report is that of the
            // lost connection or of the server's failure.
            if (ConnectionLost() || serverFailed()) {
                works.clear();
                break;
            }
            TFeatureWork& w = works[i];
            const bool written = w.answer == TAnswer::taOk && (w.ownUnit || windowSecured);
            if (!written && !(w.ownUnit && w.answer == TAnswer::taFailed))
                break;
            CompleteWork(w, written);
        }
        if (i >= works.size())
            break;
        // From here on the file's features go as units of their own: a failure then costs only itself.
        fp.ownUnits = true;
        PGconn* const h = fp.connection ? fp.connection->Handle() : nullptr;
        // Sent again, the first of them has nothing before it that could take it down; should it go down
        // all the same, the rest goes one statement at a time rather than round again.
        const bool progress = !resent || i > 0;
        const bool sendAgain = progress && h && fp.generation == fp.connection->Generation() &&
                               PQpipelineStatus(h) == PQ_PIPELINE_OFF && PQenterPipelineMode(h) == 1;
        if (!sendAgain) {
            // The statements' names are gone with the connection they were prepared on.
            for (; i < works.size() && !ConnectionLost() && !serverFailed(); ++i)
                CompleteWork(works[i], false);
            break;
        }
        fp.handle = h;
        for (; i < works.size(); ++i) {
            TFeatureWork& w = works[i];
            w.synced = false;
            w.answer = TAnswer::taOk;
            w.failedStatement = -1;
            fp.bytes += WorkBytes(w);
            fp.pending.push_back(std::move(w));
        }
        again = true;
    }
    if (fp.localTransaction) {
        fp.localTransaction = false;
        try {
            fp.connection->CommitGuardedTransaction();
        } catch (const std::exception& e) {
            if (!ServerFailureSaid(e))
                ReportFailure("Fehler beim Abschließen der Transaktion der Objekte", e.what());
        }
    }
}

// The conversion asks the database once per circular arc and waits for each answer, behind every
// feature still on its way. Its questions depend on the fragment alone, so a first walk with an
// executor that only takes them down finds them; they are sent behind the features on their way at once,
// the held-back features behind them, and their answers wait on the connection for the conversion, which
// asks them in the same order (a question that is not the next one waiting is asked as always, see
// TZConnection::TakePrefetched).
std::vector<std::string> TfrmKelpora::ArcQueriesOf(const TXmlNode& geometryRoot) {
    std::vector<std::string> queries;
    if (!ExecPostGISSQL)
        return queries;
    TPostGISCommandFunc executor = [&queries](const std::string& sql) {
        queries.push_back(sql);
        return std::string();
    };
    std::swap(ExecPostGISSQL, executor);
    try {
        GMLGeometryToWKTQuietly(geometryRoot); // the conversion shows what it meets, once
    } catch (const std::exception&) {
        // the conversion itself meets this again and reports it
    }
    std::swap(ExecPostGISSQL, executor);
    return queries;
}

bool TfrmKelpora::ClaimPipeline(PGconn* h) {
    if (!featurePipeline)
        featurePipeline = std::make_shared<TFeaturePipeline>();
    TFeaturePipeline& fp = *featurePipeline;
    if (PQpipelineStatus(h) == PQ_PIPELINE_OFF) {
        if (InFlight(fp) || !PQenterPipelineMode(h))
            return false;
    } else if (!InFlight(fp) || fp.handle != h) {
        return false; // someone else's pipeline
    }
    if (!InFlight(fp)) {
        // (Again) ours: the connection may have served another window before.
        const std::weak_ptr<TFeaturePipeline> weak = featurePipeline;
        // Another statement is about to go out and may be using `cmd`: only the features on their way
        // are finished here (on a statement of their own). Records held behind the parser are written at
        // the points that come before anything else talks to the server, never from inside a statement.
        conn->BeforeStatement = [this, weak] {
            if (!weak.expired())
                FinishFeaturesInFlight();
        };
    }
    fp.handle = h;
    fp.connection = conn.get();
    return true;
}

namespace {

// Notices of the question session (there should be none) are not the run's to report.
void DropNotice(void*, const PGresult*) {}

// The question session of the run's session `c`, opened on first use: a second session of the same
// login, in pipeline mode. nullptr when it cannot be had; the conversion then asks as always.
PGconn* QuestionSession(TFeaturePipeline& fp, TZConnection& c) {
    // Another run session, or the server ended this one (its answers on the way are lost with it, and
    // asked again by the conversion): a new one.
    if (fp.questionsFor != &c || fp.questionsForHandle != c.Handle() ||
        (fp.questions && PQstatus(fp.questions) != CONNECTION_OK))
        fp.CloseQuestions();
    if (fp.questions || fp.questionsRefused)
        return fp.questions;
    fp.questionsFor = &c;
    fp.questionsForHandle = c.Handle();
    fp.questionsRefused = true;
    std::string info;
    try {
        info = c.ConnectionString();
    } catch (const std::exception&) {
        return nullptr;
    }
    PGconn* q = PQconnectdb(info.c_str());
    if (!q || PQstatus(q) != CONNECTION_OK || PQenterPipelineMode(q) != 1) {
        if (q)
            PQfinish(q);
        return nullptr;
    }
    PQsetNoticeReceiver(q, DropNotice, nullptr);
    fp.questions = q;
    fp.questionsRefused = false;
    return q;
}

} // namespace

bool TfrmKelpora::SendArcQuestions(const std::vector<std::string>& queries, std::uint64_t record) {
    if (queries.empty() || !conn || !conn->Handle())
        return false;
    if (!featurePipeline)
        featurePipeline = std::make_shared<TFeaturePipeline>();
    TFeaturePipeline& fp = *featurePipeline;
    PGconn* const q = QuestionSession(fp, *conn);
    if (!q)
        return false;
    TFeaturePipeline::TQuestionGroup group{{}, record, false};
    for (const std::string& sql : queries) {
        if (!PQsendQueryParams(q, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0))
            break;
        group.queries.push_back(sql);
    }
    if (group.queries.empty())
        return false;
    // The answers are needed when the record is written, several records later (see SyncQuestionsDue).
    if (!fp.unsynced) {
        fp.unsynced = true;
        fp.unsyncedSince = fp.handovers;
    }
    fp.questionGroups.push_back(std::move(group));
    return true;
}

void TfrmKelpora::ReadArcAnswersOf(std::uint64_t record) {
    if (!featurePipeline || !conn)
        return;
    TFeaturePipeline& fp = *featurePipeline;
    const auto unread = [&fp, record] {
        return std::any_of(
            fp.questionGroups.begin(), fp.questionGroups.end(),
            [record](const TFeaturePipeline::TQuestionGroup& g) { return g.record == record; });
    };
    while (fp.questions && unread())
        ReadQuestionGroup(fp);
    // Only this record's answers wait for the conversion.
    conn->ClearPrefetched();
    if (auto it = fp.answers.find(record); it != fp.answers.end()) {
        for (auto& [sql, answer] : it->second)
            conn->AddPrefetched(sql, answer.release());
        fp.answers.erase(it);
    }
}

void TfrmKelpora::DropArcAnswersThrough(std::uint64_t record) {
    if (!featurePipeline || record == 0)
        return;
    TFeaturePipeline& fp = *featurePipeline;
    fp.doneThrough = std::max(fp.doneThrough, record);
    fp.answers.erase(fp.answers.begin(), fp.answers.upper_bound(fp.doneThrough));
}

void TfrmKelpora::PrefetchArcQueries(const TXmlNode& geometryRoot) {
    // Asked on the question session, the answers come without waiting for the features in flight.
    const std::uint64_t record = ++arcRecordSerial;
    if (!SendArcQuestions(ArcQueriesOf(geometryRoot), record))
        return;
    ReadArcAnswersOf(record);
    DropArcAnswersThrough(record);
}

// How many records wait behind the one being written: the arc questions of a record go out when the
// parser hands it over, and their answers are back by the time it is written.
constexpr std::size_t kRecordsAhead = 16;
// Fewer when they are large: the waiting records never hold more than this of geometry and attribute text.
constexpr std::size_t kMaxQueuedBytes = 8u << 20;

std::size_t RecordBytes(const TAXObject& r) {
    std::size_t n = r.position.size();
    for (const std::string& line : r.attribute.Lines())
        n += line.size();
    return n;
}

namespace {

// Another record came: the questions that have waited for three quarters of the records behind the
// parser go out with a sync point, so that their answers are back when their record is written. Each
// sync point wakes the question session's server process, the dearest part of asking. When it fails,
// the answers read as missing.
void SyncQuestionsDue(TFeaturePipeline& fp) {
    ++fp.handovers;
    if (!fp.questions || !fp.unsynced || fp.handovers - fp.unsyncedSince < kRecordsAhead * 3 / 4 ||
        fp.questionGroups.empty())
        return;
    fp.questionGroups.back().syncAfter = PQpipelineSync(fp.questions) == 1;
    fp.unsynced = false;
}

// Thrown into the parser when the connection is lost or the server failed: the parse stops at this
// record.
void StopIfFileEnds(const TfrmKelpora& form) {
    if (form.ConnectionLost())
        throw EDatabaseError(kConnectionLostText);
    if (form.ServerFailed())
        throw *form.conn->ServerFailure();
}
} // namespace

void TfrmKelpora::HandOverToWriter(std::unique_ptr<TAXObject> record, bool isDelete) {
    StopIfFileEnds(*this);
    WriteHandedOver(std::move(record), isDelete);
    StopIfFileEnds(*this);
}

void TfrmKelpora::WriteHandedOver(std::unique_ptr<TAXObject> record, bool isDelete) {
    if (isDelete || oOneStatementAtATime || iPipelineDepth <= 0 || !record) {
        WriteQueuedRecords(0);
        if (isDelete && record && record->refusal.empty()) // a refused one goes to WriteToDB, which says so
            DeleteFromDB(record.get());
        else
            WriteToDB(record.get());
        return;
    }
    TQueuedRecord queued{std::move(record), CurrentWriteSettings(), 0, 0, nullptr};
    queued.bytes = RecordBytes(*queued.record);
    if (MayAskArcQuestions(queued.record->position) && ExecPostGISSQL && conn && conn->Handle()) {
        try {
            std::unique_ptr<TXmlDocument> doc = LoadPosition(queued.record->position);
            const std::uint64_t serial = arcRecordSerial + 1;
            if (SendArcQuestions(ArcQueriesOf(doc->Root()), serial)) {
                arcRecordSerial = serial;
                queued.arcRecord = serial;
                queued.document = std::move(doc); // the writer reads the same fragment
            }
        } catch (const std::exception&) {
            // the writer meets this again and reports it
        }
    }
    queuedBytes += queued.bytes;
    recordQueue.push_back(std::move(queued));
    if (featurePipeline)
        SyncQuestionsDue(*featurePipeline);
    WriteQueuedRecords(kRecordsAhead);
}

void TfrmKelpora::WriteQueuedRecords(std::size_t keep) {
    if (writingQueuedRecords)
        return;
    writingQueuedRecords = true;
    struct TReset {
        TfrmKelpora& form;
        ~TReset() {
            form.writingQueuedRecords = false;
            form.currentArcRecord = 0;
            form.currentDocument = nullptr;
            form.currentSettings = nullptr;
        }
    } reset{*this};
    while (recordQueue.size() > keep || (!recordQueue.empty() && queuedBytes > kMaxQueuedBytes)) {
        if (ConnectionLost() || ServerFailed()) {
            // The waiting records can never be written; the file ends with the lost connection or the
            // server's failure.
            recordQueue.clear();
            queuedBytes = 0;
            break;
        }
        TQueuedRecord queued = std::move(recordQueue.front());
        recordQueue.pop_front();
        queuedBytes -= queued.bytes;
        currentArcRecord = queued.arcRecord;
        currentDocument = queued.document.get();
        currentSettings = &queued.settings;
        WriteToDB(queued.record.get());
        currentArcRecord = 0;
        currentDocument = nullptr;
        currentSettings = nullptr;
        DropArcAnswersThrough(queued.arcRecord);
    }
}

TfrmKelpora::TWriteSettings TfrmKelpora::CurrentWriteSettings() const {
    return {SelectedTargetSRID(), oReferenzen};
}

TfrmKelpora::TWriteSettings TfrmKelpora::WriteSettings() const {
    return currentSettings ? *currentSettings : CurrentWriteSettings();
}
