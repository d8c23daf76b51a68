#pragma once
// The main window and the state of an import run. Subsystems 4 (writer), 6 (parser) and 7 (run) act on
// it: their operations are members of this class, defined in the folder of the subsystem that owns
// them (writer/*.cpp, run/*.cpp). They reach the widgets only through the narrow members of the
// "window services" section below.
//
// This header includes only model/ and platform/ headers (and the plain holder TAttributList) and
// forward-declares the rest. Objects whose types belong to other subsystems are held by shared_ptr so
// that the hub compiles against forward declarations alone.
#include <QMainWindow>
#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "model/IdFilter.h"
#include "model/NASDEF.h"
#include "model/StringList.h"
#include "writer/AttributList.h"

class QComboBox;
class QLabel;
class QMenu;
class QAction;
class QPlainTextEdit;
class QProgressBar;
class QRect;
class QStatusBar;
class QToolBar;
class QToolButton;
class QWidget;

class TZConnection;       // platform/db
class TZQuery;            // platform/db
class TXmlDocument;       // platform/xml
class TXmlNode;           // platform/xml
class TXslTransformer;    // platform/xml
class ESAXParseException; // sax/SAX.h

// writer/FeatureWork.h, writer/FeatureWriter.cpp
struct TFeatureWork;
struct TClosing;
struct TClosingPlan;
struct TFeaturePipeline;

// A row of the run log table `logs` as it was written.
struct TLogRow {
    std::string zeitpunkt;
    int meldetyp;
    std::string text;
};

// Which box `ShowError` shows a parse error in.
enum class TErrorBoxKind { ebError, ebWarning };

typedef struct pg_conn PGconn;

class TfrmKelpora : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmKelpora(QWidget* parent = nullptr);
    ~TfrmKelpora() override;

    // ---- controls -------------------------------------------------------------------------------
    QPlainTextEdit* memoLog = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QWidget* CoolBar1 = nullptr;
    QToolButton* ToolButton1 = nullptr;
    QAction* nachObjektarten1 = nullptr;
    QAction* nachFolien1 = nullptr;
    QAction* N1 = nullptr;
    QAction* Referenzen1 = nullptr;
    QToolBar* ToolBar3 = nullptr;
    QToolButton* ToolButton2 = nullptr;
    QToolButton* ToolButton3 = nullptr;
    QToolButton* ToolButton4 = nullptr;
    QToolButton* ToolButton5 = nullptr;
    QComboBox* cboSRID = nullptr;
    QLabel* Label1 = nullptr;
    QToolButton* ToolButton6 = nullptr;
    // The status bar's three panels (0: step text, 1: hosts the progress bar, 2: file progress).
    QLabel* StatusPanel0 = nullptr;
    QWidget* StatusPanel1 = nullptr;
    QLabel* StatusPanel2 = nullptr;

    // The run log (a DOM document, active and empty from the start) and the report's transformer.
    std::shared_ptr<TXmlDocument> xmlDocLog;
    std::shared_ptr<TXslTransformer> XSLPageProducer1;

    // ---- run state ------------------------------------------------------------------------------
    std::shared_ptr<TZConnection> conn;
    std::shared_ptr<TZQuery> cmd;
    // The quality data routine's own statement, kept from feature to feature (a call that comes while
    // it is in use makes one of its own).
    std::shared_ptr<TZQuery> qualityQuery;
    bool qualityQueryInUse = false;
    bool oTableExistsIdRefs = false;
    bool oNachFolien = false;
    bool oReferenzen = true;
    std::unique_ptr<TStringList> obTables;
    // Attribute lists of the current file (created on first use, released after every file).
    std::unique_ptr<std::vector<std::unique_ptr<TAttributList>>> obParseTable;
    std::unique_ptr<TStringList> obOAGruppen;
    std::unique_ptr<TStringList> obCRS;
    std::unique_ptr<TModellarten> obModellArten;
    std::vector<std::unique_ptr<TPortionFile>> obFiles;
    bool oRunFiles = false;
    std::int32_t iLfdNrUmsetzung = 0;
    std::int32_t iSRIDDB = 0;
    std::string sSchema;
    std::string sFileID;

public:
    TStringList obInserts;
    TStringList obStatistics;
    std::unique_ptr<TRelationTypen> obRelationsTypen;
    std::unique_ptr<TKooRefSysteme> obKoRefs;

    // ---- window commands (this folder) ----------------------------------------------------------
    void FormCreate();
    void FormDestroy();
    void StatusBar1DrawPanel(int panel, const QRect& rect);
    void nachObjektarten1Click();
    void nachFolien1Click();
    void Referenzen1Click();
    void ToolButton2Click(); // settings dialog (app/FormOptionen.cpp)
    void ToolButton6Click(); // the manual

    // ---- window services for the writer and the run ---------------------------------------------
    // Appends one line to the log window.
    void AddLogLine(const std::string& line);
    // The lines of the log window (the first one is the empty line it starts with).
    std::vector<std::string> LogLines() const;
    // Sets the text of status panel 0 or 2.
    void SetStatusText(int panel, const std::string& text);
    std::string StatusText(int panel) const;
    // The spatial reference code of the entry selected in the target list (0 when none is selected).
    std::int32_t SelectedTargetSRID() const;
    void ShowProgressBar(bool visible);
    // Disables the choice between tables per object type and per group (while a run is active).
    void LockTableLayoutChoice(bool locked);
    // Lets pending window messages through.
    void ProcessMessages();
    // The same, called per feature: lets them through when the last time was a while ago, so that the
    // window stays responsive without a look at the event queue (a system call) for every feature.
    void ProcessMessagesNowAndThen();
    // The time of day as the log window writes it.
    static std::string TimeOfDay();

    // ---- PostGIS writer (writer/) ---------------------------------------------------------------
    bool WriteToDB(TAXObject* obAXObject);
    void EnsureInvalidsTable();
    bool CheckGeometry(const std::string& id, const std::string& wkt);
    // What the validity check found: valid, invalid (and kept in "invalids", or not), or no answer (the
    // check failed and was reported).
    enum class TGeometryAnswer { gaValid, gaInvalidKept, gaInvalid, gaUnchecked };
    TGeometryAnswer CheckGeometryAnswer(const std::string& id, const std::string& wkt);
    // The check of a feature's geometry: a feature skipped for it gets the per-object error row.
    bool CheckFeatureGeometry(const std::string& oa, const std::string& id, const std::string& wkt);
    std::string PostGISCommand(const std::string& sql);
    std::int32_t GetEPSG(const std::string& crs);
    bool DeleteFromDB(TAXObject* obAXObject);
    // The closing of DeleteFromDB, one statement at a time, with its reports.
    bool CloseStoredVersions(const TClosing& closing);
    // The same by a plan made before (a replace plans its closing before its INSERT is set up).
    bool CloseStoredVersions(const TClosing& closing, const TClosingPlan& plan);
    // The closing of a replace, after its new version's INSERT and as one unit with it: throws the first
    // failure (the unit then stores neither).
    void CloseReplacedVersions(const TClosing& closing, const TClosingPlan& plan);
    // The per-object report of a closing that failed: of its versions, or of its relations.
    void ReportClosingFailure(const TClosing& closing, bool ofRelations, const std::string& error);
    // Sends the closing with the features in flight instead; false when it cannot go that way (then the
    // caller closes one statement at a time).
    bool SendClosingAtOnce(const TClosing& closing);
    // The closing of a record that ends versions (a replace, a delete, an update setting the end).
    TClosing ClosingOf(const TAXObject& record);
    // The tables a closing updates: the object table in public and the file's staging table of the type
    // (when it staged versions of it), then the relation tables alike. Throws when the name stands for no
    // object table of public or of the file's staging tables.
    TClosingPlan PlanClosing(const TClosing& closing);
    // The same with the per-object report of a refused name; false then.
    bool PlanClosingOrReport(const TClosing& closing, TClosingPlan& plan);
    // The index by identifier a staging table gets for the closings of a file.
    void EnsureClosingIndex(const std::string& stagingTable);
    // Per file: how public holds the tables closings name, and whether their staging table is indexed.
    struct TClosingTable {
        bool publicObjectTable = false;
        bool publicOther = false;
        bool stagingIndexed = false;
    };
    std::map<std::string, TClosingTable> closingTables;
    bool stagedRelationsIndexed = false;
    // Per file: the objects it may have staged versions (and with them relations) of, and the targets of
    // the relations it may have staged: a closing looks in the staging tables only for those.
    TIdFilter stagedObjects;
    TIdFilter stagedTargets;
    // Makes sure alkistemp.id_refs exists (once per run); false when it cannot be found after creating it.
    // Throws the database's error.
    bool EnsureIdRefsTable();
    void WriteIdRef(const std::string& gmlId, const std::string& idRef, TDateTime dtBegin, std::int32_t typ);
    std::int32_t PgTableExists(const std::string& schema, const std::string& table);
    bool EnsureObjectTable(const std::string& oa);
    TAttributList* GetAttributList(const std::string& key, const std::string& group);
    std::unique_ptr<TStringList> ReadOAGruppen();
    void ReadModellarten();
    void ReadRelationsTypen();
    void ReadCRS();
    // The run's number, claimed for the run's session (see kRunNumberLockKey), after the table logs was
    // made when missing and found writable. Throws EDatabaseError when that fails, after saying so in
    // the log window: a run that can report nothing does not start.
    std::int32_t InitLogTable();
    // The number this window's session holds, and the session.
    std::int32_t claimedRunNumber = 0;
    const void* claimedRunHandle = nullptr;
    // What an import run sets up on its connection before the files are chosen: its number in the run
    // log, empty caches, the object-type groups (group mode) and the invalids table.
    void StartRunState();
    // What it reads before its first file: model types, relation types, reference systems.
    void ReadRunLookups();
    void WriteLog(int meldetyp, const std::string& s);
    // The log window line time of day + ": " + `text`, and the `logs` row of that type with `text`.
    void LogAndWriteLog(int meldetyp, const std::string& text);
    // One row of `logs` for the current run, at the time given.
    void InsertLogRow(const std::string& zeitpunkt, int meldetyp, const std::string& s);
    // While a file's transaction is open, the rows WriteLog wrote in it, so that they can be written again
    // when the file is rolled back (see run/FileImport.h).
    std::vector<TLogRow>* heldLogRows = nullptr;
    // The failure report of a database operation that caught error text E: the log window lines
    // time of day + ": " + M and a tab + E (M and E alone when `withTimeAndTab` is false, the per-object
    // form), then the error row T through WriteLog.
    void ReportFailure(const std::string& M, const std::string& T, const std::string& E,
                       bool withTimeAndTab = true);
    // The common case: T is M + " - " + E.
    void ReportFailure(const std::string& M, const std::string& E);
    // The two log window lines alone, without a row (the run log's own failures).
    void ReportFailureLines(const std::string& M, const std::string& E, bool withTimeAndTab = true);
    // Whether the run's connection was found broken: a statement failed and libpq gave it up. The file
    // being read then ends (LoadDoc raises), and with it the run.
    bool ConnectionLost() const;
    // The one report of a lost connection, in the log window only (`logs` cannot be reached any more);
    // every failure report after it adds nothing, as each would only repeat it.
    void ReportConnectionLost();
    bool connectionLostReported = false;
    // Whether the file's transaction met a failure that says the server could not do the work (a full
    // disk, no memory, a shutdown, a lock not to be had in time, a deadlock, a read-only database; see
    // TZConnection::ServerFailure): nothing more of the file can succeed. The file
    // then ends at once and is rolled back, and the files after it are not read (see LoadDoc).
    bool ServerFailed() const;
    // Said once a file: the first failure report from then on is that failure's, the rest would only
    // repeat it.
    bool serverFailureReported = false;
    // Whether a failure report is to be made now: not after the lost connection (whose one report this
    // makes) nor after the file's server failure was said.
    bool FailureToBeSaid();
    // Whether `e` is a failure of the server's resources or state after the file's one was said: a
    // report of it would add nothing.
    bool ServerFailureSaid(const std::exception& e) const;
    bool IB_Protokoll(const std::string& sXML);
    void WriteStatistics();
    std::int32_t GetFileProgress();
    std::string WriteProcessSteps(const TXmlNode& element, const std::string& gmlId,
                                  const std::string& beginText);
    // Appends the leaves below `node` (the node itself when it has no children), depth first, as lines
    // of the parent element's qualified name, "=" and the leaf's text.
    void CollectLeafValues(const TXmlNode& node, TStringList& leaves);
    // Once per connection: commits of the import do not wait for the disk (see README).
    void TuneImportConnection();
    const void* tunedHandle = nullptr;
    int tunedBackendPid = 0;
    // Adds 1 to the insert count of an object type.
    void CountInsert(const std::string& oa);
    // The relation type number of a relation name (-1 when unknown).
    std::int32_t RelationTyp(const std::string& relTyp) const;
    // Whether the validity check of a geometry may wait for the INSERT: nothing in between can show.
    // `qualityRowsCollected`: quality data rows would travel in the feature's transaction.
    bool CanDeferGeometryCheck(const std::string& oa, bool qualityRowsCollected = false) const;
    // Sends the validity question (when deferred), the prepared INSERT of `cmd` and the record's relation
    // rows (when there are any) as one transaction without waiting on each; written, or nothing stored,
    // or still on its way (see iPipelineDepth).
    enum class TFeatureSend { fsNotWritten, fsWritten, fsPending };
    TFeatureSend SendFeatureAtOnce(TFeatureWork& work);
    // Puts a closing whose batch is ready behind the features in flight; false when none may be deferred
    // now (nothing is sent then).
    bool QueueClosing(TFeatureWork&& work);
    // Puts a work whose batch is ready behind the features in flight (its answers are read later).
    void QueueInFlight(TFeatureWork&& work);
    // The rest of a feature's work after its INSERT was sent at once (`written`) or not: one statement at
    // a time when it was not, then the count and the relations; false when the deferred validity check
    // found the geometry invalid (the feature is skipped).
    bool FinishFeatureWork(TFeatureWork& work, bool written);
    // The same for a work of the pipeline, closings included, with the progress step.
    void CompleteWork(TFeatureWork& work, bool written);
    // Sends the circular-arc questions of a geometry's conversion ahead and takes their answers.
    void PrefetchArcQueries(const TXmlNode& geometryRoot);
    // The arc questions a geometry's conversion asks, in its order.
    std::vector<std::string> ArcQueriesOf(const TXmlNode& geometryRoot);
    // Puts the connection into pipeline mode for this window's features, or finds it there; false when
    // someone else's statements are in flight on it.
    bool ClaimPipeline(PGconn* h);
    // Sends arc questions to the question session (a second session of the run's login, which answers
    // them beside the run's session), as the group of record `record`; false when none went.
    bool SendArcQuestions(const std::vector<std::string>& queries, std::uint64_t record);
    // Reads the question session's answers up to those of record `record` (when still unread) and leaves
    // its answers, and only those, waiting on the connection for the conversion.
    void ReadArcAnswersOf(std::uint64_t record);
    // Answers of the records up to `record` are not needed any more.
    void DropArcAnswersThrough(std::uint64_t record);
    // Takes a record from the parser. A delete is done at once, after the records waiting; any other
    // record has its arc questions sent now and is written when a few more records have come, so that
    // their answers are back by then. Anything else that shows or talks to the server first writes the
    // waiting records (FlushPendingFeatures), so nothing observable changes order.
    // Raises when the connection is lost, before or after the record, so that the parse stops.
    void HandOverToWriter(std::unique_ptr<TAXObject> record, bool isDelete);
    void WriteHandedOver(std::unique_ptr<TAXObject> record, bool isDelete);
    // Writes the waiting records, oldest first, until `keep` are left.
    void WriteQueuedRecords(std::size_t keep);
    // The settings a record is written with, taken when the parser handed it over: a change during the
    // run reaches only the records read after it.
    struct TWriteSettings {
        std::int32_t targetSrid;
        bool referenzen;
    };
    TWriteSettings CurrentWriteSettings() const;
    // Those of the record being written from the queue, or the current ones.
    TWriteSettings WriteSettings() const;
    struct TQueuedRecord {
        std::unique_ptr<TAXObject> record;
        TWriteSettings settings;
        std::uint64_t arcRecord;                // its arc questions' group, 0 when none were sent
        std::size_t bytes;                      // of geometry and attribute text
        std::unique_ptr<TXmlDocument> document; // its fragment, loaded when its questions were found
    };
    std::deque<TQueuedRecord> recordQueue;
    std::size_t queuedBytes = 0;
    bool writingQueuedRecords = false;
    std::uint64_t currentArcRecord = 0;              // the group of the record being written
    const TXmlDocument* currentDocument = nullptr;   // and its fragment, when loaded already
    const TWriteSettings* currentSettings = nullptr; // and its settings
    std::uint64_t arcRecordSerial = 0;
    // Writes the quality data rows that were collected for a feature's transaction, one at a time.
    void WriteCollectedQualityData(TFeatureWork& work);
    // While set, WriteProcessSteps adds its rows to this feature's transaction instead of writing them.
    TFeatureWork* collectingWork = nullptr;
    // A reference system name of a geometry that `crs` lacks, stored as the standard system of the run's
    // files instead: said once per file and name, in the log window and as an error row, so that the
    // user can add the name to `crs` (its geometries are otherwise placed wrongly without a word).
    void ReportCrsFallback(const std::string& crs, const std::string& standardCrs, std::int32_t srid);
    std::set<std::string> crsFallbacksReported; // names said for the file below
    const TPortionFile* crsFallbackFile = nullptr;
    // What of a feature is not stored is said once per file, object type and property, in the log window
    // and as an error row, so that nothing of a delivery disappears without a word: a property that
    // carries a value but has no column of its type (or group) in `parse`, the links to specialist data
    // (zeigtAufExternes) and the source description of quality data (only their process steps are kept).
    // A thousand are said one by one, then the rest of the file in one line.
    void ReportUnstoredProperties(const std::string& oa, const TAXObject& record,
                                  const TAttributList* columns);
    // Says "Die Eigenschaft <property> von <oa> der Datei <file>" and `why` unless it was said for the
    // file; false once nothing more is said for the file.
    bool SayPropertyNotStored(const std::string& oa, const std::string& property, const std::string& why);
    // Whether nothing more needs saying of the property for the file being read.
    bool PropertyNotStoredSaid(const std::string& oa, const std::string& property) const;
    std::set<std::string> columnlessReported; // object type and property said for the file below
    const TPortionFile* columnlessFile = nullptr;
    // The failure report of the INSERT of a feature (duplicate or any other error).
    void ReportWriteFailure(const std::string& oa, const std::string& id, const std::string& error,
                            const std::string& sqlState = {});
    // The progress step that ends every call that got as far as its INSERT.
    void ShowFileProgress();
    // Features whose database work went in one round trip.
    std::int64_t iBatchedInserts = 0;
    // How many features' transactions may still be on their way to the server when WriteToDB returns
    // (0: every call finishes its own work). While some are, any other statement, log line or status
    // text first waits for them and reports them in their place, so nothing observable changes order.
    std::int32_t iPipelineDepth = 0;
    // The reference way: every statement of the writer alone, each waiting for its answer.
    bool oOneStatementAtATime = false;
    // Waits for the features still on their way and does the rest of their work (counts, relations,
    // progress, reports; one statement at a time for a feature whose transaction failed).
    void FlushPendingFeatures();
    // Only the features on their way, not the records held behind the parser (the connection's hook
    // before any other statement).
    void FinishFeaturesInFlight();
    // A new file: its features share transactions again until one of them fails.
    void StartPipelineFile();
    // The end of a file: the session its arc questions went to is closed.
    void EndPipelineFile();
    std::shared_ptr<TFeaturePipeline> featurePipeline;

    // ---- NAS document parser (parser/) ----------------------------------------------------------
    void ShowError(TErrorBoxKind kind, const ESAXParseException& error);
    // Feature records (inserts, replaces, deletes) the parsers of this window handed over so far.
    std::int64_t iParsedFeatures = 0;
    // Files of the run whose form is not read (GeoInfoDok 7): parsed, but nothing of them taken over.
    std::int32_t iFilesNotRead = 0;

    // ---- import run, post-processing and report (run/) ------------------------------------------
    void ToolButton3Click(); // import
    void ToolButton4Click(); // cancel
    void ToolButton5Click(); // overview
    std::shared_ptr<TZConnection> CreateConnection(bool startRunLog);
    std::string ReadSchemaSetting();
    std::int32_t GetDatabaseSRID();
    void LoadDoc(const std::string& fileName);
    // False when the integration failed (it reports that itself).
    bool IntegrateTempData();
    // The caches that hold for one file only, emptied after it.
    void ResetFileCaches();
    // Set by LoadDoc when a file could not be applied (its integration or its commit failed): nothing of
    // it is in the database, and the files after it are not read, since they may build on it.
    bool oFileNotApplied = false;
    void UpdateUmsetzung();
    void CreateIndizes();
    void AddGeometryColumns();
    void TransformGeometries();
    void NachbereitungAFIS();
    void NachbereitungALKIS();
    // The post-processing steps in their order (the schema steps only for their schema). A lost
    // connection ends the sequence at the step that met it: every further step could only fail alike.
    void PostProcessing();
    // Post-processing steps of the run that failed.
    std::int32_t iPostProcessingFailures = 0;
    // Whether the run left something undone (files not applied, failed post-processing steps): it then
    // does not end as a success.
    bool RunHadFailures() const;
    void CreateRunReport();
    // True from the connection of an import or overview command to its clean-up: a second command
    // must not take over `conn` while the first lets window messages through.
    bool runBusy = false;

private:
    std::vector<std::unique_ptr<TSRID>> srids; // the 17 entries of cboSRID
    std::chrono::steady_clock::time_point messagesProcessed{};
};

// The one main window of the program (set while it exists).
extern TfrmKelpora* frmKelpora;
