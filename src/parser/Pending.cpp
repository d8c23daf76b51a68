// Operations of the parser that are not built yet; the file goes when it is empty.
#include "app/FormKelpora.h"

void TfrmKelpora::ShowError(TErrorBoxKind, const ESAXParseException&) {}
