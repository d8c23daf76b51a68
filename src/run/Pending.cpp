// Operations of the import run that are not built yet. Each definition leaves this file when the real
// one is written; the file goes when it is empty.
#include "app/FormKelpora.h"

void TfrmKelpora::ToolButton3Click() {}
void TfrmKelpora::ToolButton4Click() {}
void TfrmKelpora::ToolButton5Click() {}
std::shared_ptr<TZConnection> TfrmKelpora::CreateConnection(bool) { return nullptr; }
std::string TfrmKelpora::ReadSchemaSetting() { return "ATKIS"; }
std::int32_t TfrmKelpora::GetDatabaseSRID() { return 0; }
void TfrmKelpora::UpdateUmsetzung() {}
void TfrmKelpora::CreateIndizes() {}
void TfrmKelpora::AddGeometryColumns() {}
void TfrmKelpora::TransformGeometries() {}
void TfrmKelpora::NachbereitungAFIS() {}
void TfrmKelpora::NachbereitungALKIS() {}
void TfrmKelpora::CreateRunReport() {}
