// Operations of the writer that are not built yet. Each definition leaves this file when the real one
// is written; the file goes when it is empty.
#include "app/FormKelpora.h"

bool TfrmKelpora::WriteToDB(TAXObject*) { return false; }
void TfrmKelpora::EnsureInvalidsTable() {}
bool TfrmKelpora::CheckGeometry(const std::string&, const std::string&) { return false; }
std::string TfrmKelpora::PostGISCommand(const std::string&) { return {}; }
std::int32_t TfrmKelpora::GetEPSG(const std::string&) { return -1; }
bool TfrmKelpora::DeleteFromDB(TAXObject*) { return false; }
void TfrmKelpora::WriteIdRef(const std::string&, const std::string&, TDateTime, std::int32_t) {}
std::int32_t TfrmKelpora::PgTableExists(const std::string&, const std::string&) { return 0; }
bool TfrmKelpora::EnsureObjectTable(const std::string&) { return false; }
TAttributList* TfrmKelpora::GetAttributList(const std::string&, const std::string&) { return nullptr; }
std::unique_ptr<TStringList> TfrmKelpora::ReadOAGruppen() { return nullptr; }
void TfrmKelpora::ReadModellarten() {}
void TfrmKelpora::ReadRelationsTypen() {}
void TfrmKelpora::ReadCRS() {}
bool TfrmKelpora::IB_Protokoll(const std::string&) { return true; }
void TfrmKelpora::WriteStatistics() {}
std::int32_t TfrmKelpora::GetFileProgress() { return -1; }
std::string TfrmKelpora::WriteProcessSteps(const TXmlNode&, const std::string&, const std::string&) { return {}; }
