#include "RunOnTestDatabase.h"

#include <memory>

#include "TestDatabase.h"
#include "app/FormKelpora.h"
#include "platform/db/ZDatabase.h"

void ConnectRunToTestDatabase(TfrmKelpora& form, const TTestDatabase& db) {
    auto conn = std::make_shared<TZConnection>();
    conn->HostName = TTestDatabase::Host();
    conn->Port = TTestDatabase::Port();
    conn->Database = db.Name();
    conn->User = TTestDatabase::User();
    conn->Password = TTestDatabase::Password();
    conn->Connect();
    form.conn = conn;
    form.cmd = std::make_shared<TZQuery>(conn.get());
}
