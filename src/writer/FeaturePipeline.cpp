// The features in flight: the shared transaction of the features whose answers are not read yet, the
// records held behind the parser and the arc questions sent ahead of their records.
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

// The next result of the pipeline; nullptr when there is none. Two ends of results in a row mean
// nothing is on its way any more: nullptr rather than waiting for ever.
PGresult* NextResult(PGconn* h) {
    bool afterEnd = false;
    for (;;) {
        if (PGresult* res = PQgetResult(h))
            return res;
        if (PQstatus(h) != CONNECTION_OK || afterEnd)
            return nullptr;
        afterEnd = true; // the end of one statement's results
    }
}

bool Succeeded(ExecStatusType status) {
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

// The status of the next result, which is released; nothing when there is none.
std::optional<ExecStatusType> NextStatus(PGconn* h) {
    PGresult* res = NextResult(h);
    if (!res)
        return std::nullopt;
    const ExecStatusType status = PQresultStatus(res);
    PQclear(res);
    return status;
}

// Reads the results of `statements` statements; true when each succeeded. A sync point before the last
// of them means one never went out: false, and `syncSeen` tells that the sync point is read.
bool DrainStatements(PGconn* h, int statements, bool* syncSeen = nullptr) {
    bool ok = true;
    for (int i = 0; i < statements; ++i) {
        const std::optional<ExecStatusType> status = NextStatus(h);
        if (!status)
            return false;
        if (*status == PGRES_PIPELINE_SYNC) {
            if (syncSeen)
                *syncSeen = true;
            return false;
        }
        ok = ok && Succeeded(*status);
    }
    return ok;
}

// Reads up to and including the next sync point; true when nothing but the sync point came.
bool DrainSync(PGconn* h) {
    for (bool ok = true;;) {
        const std::optional<ExecStatusType> status = NextStatus(h);
        if (!status)
            return false;
        if (*status == PGRES_PIPELINE_SYNC)
            return ok;
        ok = false;
    }
}

// Reads every result up to the pipeline's sync point; true when each statement succeeded.
bool DrainPipeline(PGconn* h, int statements) {
    bool syncSeen = false;
    const bool ok = DrainStatements(h, statements, &syncSeen);
    return (syncSeen || DrainSync(h)) && ok;
}

// The answer of one statement sent alone up to its sync point (nullptr when there is none).
PGresult* DrainAnswer(PGconn* h) {
    PGresult* answer = NextResult(h);
    if (answer && PQresultStatus(answer) == PGRES_PIPELINE_SYNC) {
        PQclear(answer);
        return nullptr;
    }
    if (answer)
        DrainSync(h);
    return answer;
}

void SendStatement(PGconn* h, const TPreparedCall& st, bool& ok) {
    if (!ok)
        return;
    std::vector<const char*> values;
    for (const auto& v : st.values)
        values.push_back(v ? v->c_str() : nullptr);
    ok = PQsendQueryPrepared(h, st.name.c_str(), static_cast<int>(values.size()), values.data(), nullptr,
                             nullptr, 0) == 1;
}

// Sends the statements of one transaction and its sync point; false when the sync point did not go out.
// A statement that could not be sent leaves the transaction short of answers, so it counts as failed.
bool SendTransaction(PGconn* h, const std::vector<TPreparedCall>& batch) {
    bool ok = true;
    for (const TPreparedCall& st : batch)
        SendStatement(h, st, ok);
    return PQpipelineSync(h) == 1;
}

} // namespace

// Features whose statements went to the server, or are about to, and whose work is not finished yet,
// oldest first. They share one transaction, the window: it opens with the first of them and commits when
// their work is finished, so that nothing of them is stored unless all of them are. A failure anywhere
// rolls the window back, and every feature of it is then done again one statement at a time, in its
// order, which gives exactly the rows and reports of that way. pending[0, answered) have their answers
// read, pending[answered, sent) are on their way, pending[sent, end) are held back on our side: when the
// next geometry's arc questions go out, the held ones follow them, so that the server works on them while
// the conversion goes on with the answers instead of waiting for the next feature.
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
    // Arc questions on their way, in the order of their records: each group went out behind
    // pending[0, after), inside the window or not (see PrefetchArcQueries and HandOverToWriter).
    struct TArcGroup {
        std::size_t after;
        std::vector<std::string> queries;
        bool inWindow;
        std::uint64_t record;
    };
    std::deque<TArcGroup> arcGroups;
    // Answers read before their record is converted, by record; answers of records written already
    // (those up to doneThrough) are dropped.
    using TAnswer = std::unique_ptr<PGresult, decltype(&PQclear)>;
    std::map<std::uint64_t, std::vector<std::pair<std::string, TAnswer>>> answers;
    std::uint64_t doneThrough = 0;
    // The window's transaction: its statements, whether it is open and whether anything in it failed
    // (or could not be sent). After a failed window the features of the file go as transactions of
    // their own, so that a file with failures is not done twice: a failure then costs only its feature.
    TPreparedCall begin, commit;
    bool windowOpen = false;
    bool windowFailed = false;
    bool ownTransactions = false;
};

namespace {

// Pending answers may hold a few megabytes of geometry text, never more.
constexpr std::size_t kMaxPendingBytes = 8u << 20;

// Transactions held back behind the one sent last; they cover the conversion of a geometry with arcs.
constexpr std::size_t kHeldBack = 4;

std::size_t WorkBytes(const TFeatureWork& w) {
    std::size_t n = w.wkt.size();
    for (const TBinding& b : w.bound)
        n += b.value.size();
    for (const TPreparedCall& st : w.batch)
        for (const auto& v : st.values)
            n += v ? v->size() : 0;
    return n;
}

// Sends held-back features, oldest first, until `keep` are left; the first of a window opens it.
void SendHeld(TFeaturePipeline& fp, std::size_t keep) {
    bool ok = !fp.windowFailed;
    while (fp.pending.size() - fp.sent > keep) {
        TFeatureWork& w = fp.pending[fp.sent++];
        // After failures a feature goes as a transaction of its own, as when it waits for its answer.
        w.ownTransaction = !fp.windowOpen && fp.ownTransactions;
        if (!fp.windowOpen && !w.ownTransaction) {
            SendStatement(fp.handle, fp.begin, ok);
            fp.windowOpen = ok;
            w.opensWindow = ok;
        }
        for (const TPreparedCall& st : w.batch)
            SendStatement(fp.handle, st, ok);
        if (w.ownTransaction)
            ok = ok && PQpipelineSync(fp.handle) == 1;
        w.synced = ok;
        w.batch.clear();
    }
    if (!ok || PQflush(fp.handle) != 0)
        fp.windowFailed = true;
}

// Only answers that went through are kept: the conversion asks any other question again itself, after
// the window has been finished, so that a refused arc is reported as when it is asked alone.
void ReadArcAnswers(TFeaturePipeline& fp) {
    const TFeaturePipeline::TArcGroup group = std::move(fp.arcGroups.front());
    fp.arcGroups.pop_front();
    bool ok = true;
    for (const std::string& sql : group.queries) {
        PGresult* answer = DrainAnswer(fp.handle);
        ok = ok && answer && PQresultStatus(answer) == PGRES_TUPLES_OK;
        if (ok && group.record > fp.doneThrough) {
            fp.answers[group.record].emplace_back(sql, TFeaturePipeline::TAnswer(answer, &PQclear));
        } else if (ok) {
            PQclear(answer);
        } else {
            PQclear(answer);
            if (group.inWindow)
                fp.windowFailed = true; // the window's transaction is aborted with it
        }
    }
}

// Reads the answers of the features on their way up to pending[upTo), and the arc answers in their
// place among them (those behind pending[upTo - 1] too).
void ReadAnswers(TFeaturePipeline& fp, std::size_t upTo) {
    for (;;) {
        while (!fp.arcGroups.empty() && fp.arcGroups.front().after == fp.answered)
            ReadArcAnswers(fp);
        if (fp.answered >= upTo || fp.answered >= fp.sent)
            return;
        TFeatureWork& w = fp.pending[fp.answered++];
        const int statements = w.statements + (w.opensWindow ? 1 : 0);
        if (w.ownTransaction)
            w.failed = !w.synced || !DrainPipeline(fp.handle, statements);
        else if (!w.synced || !DrainStatements(fp.handle, statements))
            fp.windowFailed = true;
    }
}

bool InFlight(const TFeaturePipeline& fp) {
    return !fp.pending.empty() || !fp.arcGroups.empty();
}

} // namespace

// The database work of a feature as one transaction (a single sync point) in libpq's pipeline mode: the
// validity question (when deferred), the prepared INSERT of `cmd` and the relation rows. Either all of
// them succeed and are stored, or nothing is: an invalid geometry turns the validity question into an
// error, and any error makes the server roll the whole transaction back. The feature is then done one
// statement at a time, which gives exactly the rows, counts and reports of that way (the failing
// statement fails again there and is reported in its place). So the batch only saves waiting; it decides
// nothing.
//
// With iPipelineDepth above 0 the call does not wait for the answer: the transactions of several
// features travel back to back, and their answers are read when the depth is reached or before anything
// else talks to the server (the connection's BeforeStatement). A feature whose completion may read the
// file progress (every thousandth count) waits for everything before it and for its own answer, so the
// count of stored objects it reads is that of the one-at-a-time way.
TfrmKelpora::TFeatureSend TfrmKelpora::SendFeatureAtOnce(TFeatureWork& w) {
    PGconn* const h = conn ? conn->Handle() : nullptr;
    if (!h || w.collectFailed)
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
        if (mayDefer) {
            // The window's own statements.
            fp.begin.name = conn->PreparedStatement("BEGIN", 0);
            fp.commit.name = conn->PreparedStatement("COMMIT", 0);
        }
        if (w.deferredCheck) {
            // Fails (division by zero) unless the geometry is valid: the rollback then leaves the
            // question to CheckGeometry.
            TZQuery valid(conn.get());
            valid.SetSQL("SELECT 1/coalesce(ST_IsValid(ST_GeomFromText(:wkt))::int, 0)");
            valid.ParamByName("wkt").SetDataType(TFieldType::ftWideString);
            valid.ParamByName("wkt").SetValue(w.wkt);
            batch.push_back(TakePreparedCall(valid));
        }
        for (TPreparedCall& row : w.qualityRows)
            batch.push_back(std::move(row));
        w.qualityRows.clear();
        batch.push_back(TakePreparedCall(*cmd));
        if (w.withRelations) {
            // The relation row exactly as WriteIdRef writes it.
            TZQuery rel(conn.get());
            rel.SetSQL("INSERT INTO alkistemp.id_refs (gml_id, id_ref, typ, beginn) VALUES(:gml_id, :id_ref, "
                       ":typ, :beginn)");
            const std::string begin = DateTimeToDbText(w.dtBegin);
            for (const auto& [typ, targets] : w.relations) {
                for (const std::string& target : targets) {
                    rel.ParamByName("gml_id").SetDataType(TFieldType::ftString);
                    rel.ParamByName("gml_id").SetValue(w.id);
                    rel.ParamByName("id_ref").SetDataType(TFieldType::ftString);
                    rel.ParamByName("id_ref").SetValue(target);
                    rel.ParamByName("typ").SetDataType(TFieldType::ftInteger);
                    rel.ParamByName("typ").SetAsInteger(typ);
                    rel.ParamByName("beginn").SetDataType(TFieldType::ftString);
                    rel.ParamByName("beginn").SetValue(begin);
                    batch.push_back(TakePreparedCall(rel));
                }
            }
        }
    } catch (const std::exception&) {
        return TFeatureSend::fsNotWritten; // the one-at-a-time way meets the same error and reports it
    }

    if (!ClaimPipeline(h))
        return TFeatureSend::fsNotWritten;
    w.statements = static_cast<int>(batch.size());
    if (!mayDefer) {
        const bool ok = SendTransaction(h, batch) && DrainPipeline(h, w.statements);
        PQexitPipelineMode(h);
        if (ok)
            ++iBatchedInserts;
        return ok ? TFeatureSend::fsWritten : TFeatureSend::fsNotWritten;
    }

    // Its answers come after those of the features before it; a feature that could not be sent whole is
    // done again one statement at a time.
    w.batch = std::move(batch);
    QueueInFlight(std::move(w));
    return TFeatureSend::fsPending;
}

bool TfrmKelpora::QueueClosing(TFeatureWork&& w) {
    PGconn* const h = conn ? conn->Handle() : nullptr;
    if (!h || iPipelineDepth <= 0 || (featurePipeline && featurePipeline->flushing))
        return false;
    if (!featurePipeline)
        featurePipeline = std::make_shared<TFeaturePipeline>();
    TFeaturePipeline& fp = *featurePipeline;
    try {
        fp.begin.name = conn->PreparedStatement("BEGIN", 0);
        fp.commit.name = conn->PreparedStatement("COMMIT", 0);
    } catch (const std::exception&) {
        return false;
    }
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
    SendHeld(fp, kHeldBack);
    if (fp.windowFailed || static_cast<std::int32_t>(fp.pending.size()) >= iPipelineDepth ||
        fp.bytes >= kMaxPendingBytes)
        FlushPendingFeatures();
}

void TfrmKelpora::StartPipelineFile() {
    if (featurePipeline)
        featurePipeline->ownTransactions = false;
}

void TfrmKelpora::FlushPendingFeatures() {
    if (!writingQueuedRecords && !(featurePipeline && featurePipeline->flushing))
        WriteQueuedRecords(0); // records the parser handed over come first
    FinishFeaturesInFlight();
}

void TfrmKelpora::FinishFeaturesInFlight() {
    if (!featurePipeline || featurePipeline->flushing || !InFlight(*featurePipeline))
        return;
    TFeaturePipeline& fp = *featurePipeline;
    fp.flushing = true;
    SendHeld(fp, 0);
    // The window commits behind a sync point of its own: after a failure that COMMIT is the ROLLBACK.
    const bool committing = fp.windowOpen;
    bool commitSent = committing;
    if (committing) {
        commitSent = PQpipelineSync(fp.handle) == 1;
        SendStatement(fp.handle, fp.commit, commitSent);
        commitSent = commitSent && PQpipelineSync(fp.handle) == 1;
    }
    ReadAnswers(fp, fp.pending.size());
    if (committing) {
        const bool committed = commitSent && DrainSync(fp.handle) && DrainPipeline(fp.handle, 1);
        fp.windowFailed = fp.windowFailed || !committed;
    }
    PQexitPipelineMode(fp.handle);
    if (PQtransactionStatus(fp.handle) != PQTRANS_IDLE) {
        PQclear(PQexec(fp.handle, "ROLLBACK"));
        fp.windowFailed = committing || fp.windowFailed;
    }
    std::vector<TFeatureWork> works = std::move(fp.pending);
    std::vector<bool> written;
    for (const TFeatureWork& w : works)
        written.push_back(w.synced && !w.failed && (w.ownTransaction || !fp.windowFailed));
    if (committing && fp.windowFailed)
        fp.ownTransactions = true; // for the rest of the file (see StartPipelineFile)
    fp.pending.clear();
    fp.sent = 0;
    fp.answered = 0;
    fp.bytes = 0;
    fp.windowOpen = false;
    fp.windowFailed = false;

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
    for (std::size_t i = 0; i < works.size(); ++i) {
        // Nothing of the rest can reach the server: their one report is that of the lost connection.
        if (ConnectionLost())
            break;
        TFeatureWork& w = works[i];
        if (w.closesOnly) {
            // Done again the old way when its transaction did not go through; no count, no progress.
            if (!written[i])
                CloseStoredVersions(w.closing);
            continue;
        }
        if (written[i])
            ++iBatchedInserts;
        cmd->SQL().Clear(); // the INSERT is set up again when it is needed
        try {
            if (!FinishFeatureWork(w, written[i]))
                continue; // invalid geometry: skipped, no progress
        } catch (const std::exception& e) {
            ReportWriteFailure(w.oa, w.id, e.what());
        }
        ShowFileProgress();
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

bool TfrmKelpora::SendArcQuestions(const std::vector<std::string>& queries, std::uint64_t record) {
    if (queries.empty() || !conn || !conn->Handle())
        return false;
    PGconn* const h = conn->Handle();
    if ((featurePipeline && featurePipeline->flushing) || !ClaimPipeline(h))
        return false;
    TFeaturePipeline& fp = *featurePipeline;
    TFeaturePipeline::TArcGroup group{fp.sent, {}, fp.windowOpen, record};
    for (const std::string& sql : queries) {
        if (!PQsendQueryParams(h, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) ||
            PQpipelineSync(h) != 1)
            break;
        group.queries.push_back(sql);
    }
    const bool sent = !group.queries.empty();
    if (sent)
        fp.arcGroups.push_back(std::move(group));
    else if (!InFlight(fp))
        PQexitPipelineMode(h);
    return sent;
}

void TfrmKelpora::ReadArcAnswersOf(std::uint64_t record) {
    if (!featurePipeline || featurePipeline->flushing || !conn)
        return;
    TFeaturePipeline& fp = *featurePipeline;
    const auto unread = [&fp, record] {
        for (const auto& group : fp.arcGroups)
            if (group.record == record)
                return true;
        return false;
    };
    if (unread()) {
        while (unread())
            ReadAnswers(fp, fp.arcGroups.front().after);
        if (fp.windowFailed) {
            // Done again one at a time now, so that the questions whose answers were lost with the
            // window are asked outside it.
            FlushPendingFeatures();
        } else if (!InFlight(fp)) {
            PQexitPipelineMode(fp.handle);
        }
    }
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
    if (featurePipeline && !featurePipeline->arcGroups.empty())
        return; // later records' questions are ahead: this one's are asked as always
    const std::uint64_t record = ++arcRecordSerial;
    if (!SendArcQuestions(ArcQueriesOf(geometryRoot), record))
        return;
    // The held-back features go right behind the questions: the server works on them while the
    // conversion goes on with the answers. Their own answers are read later, in their order.
    SendHeld(*featurePipeline, 0);
    ReadArcAnswersOf(record);
    DropArcAnswersThrough(record);
}

// How many records wait behind the one being written: the arc questions of a record go out when the
// parser hands it over, and their answers are back by the time it is written.
constexpr std::size_t kRecordsAhead = 8;
// Fewer when they are large: the waiting records never hold more than this of geometry and attribute text.
constexpr std::size_t kMaxQueuedBytes = 8u << 20;

std::size_t RecordBytes(const TAXObject& r) {
    std::size_t n = r.position.size();
    for (const std::string& line : r.attribute.Lines())
        n += line.size();
    return n;
}

namespace {
// Thrown into the parser when the connection is lost: the parse stops at this record.
[[noreturn]] void StopForLostConnection() {
    throw EDatabaseError(kConnectionLostText);
}
} // namespace

void TfrmKelpora::HandOverToWriter(std::unique_ptr<TAXObject> record, bool isDelete) {
    if (ConnectionLost())
        StopForLostConnection();
    WriteHandedOver(std::move(record), isDelete);
    if (ConnectionLost())
        StopForLostConnection();
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
        if (ConnectionLost()) {
            // The waiting records can never be written; the file ends with the lost connection.
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
