// Operations of the import run that are not built yet. Each definition leaves this file when the real
// one is written; the file goes when it is empty.
#include "app/FormKelpora.h"

void TfrmKelpora::LoadDoc(const std::string&) {}
void TfrmKelpora::IntegrateTempData() {}
