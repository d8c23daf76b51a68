// Operations of the writer that are not built yet. Each definition leaves this file when the real one
// is written; the file goes when it is empty.
#include "app/FormKelpora.h"

bool TfrmKelpora::WriteToDB(TAXObject*) {
    return false;
}
bool TfrmKelpora::IB_Protokoll(const std::string&) {
    return true;
}
void TfrmKelpora::WriteStatistics() {}
std::int32_t TfrmKelpora::GetFileProgress() {
    return -1;
}
std::string TfrmKelpora::WriteProcessSteps(const TXmlNode&, const std::string&, const std::string&) {
    return {};
}
