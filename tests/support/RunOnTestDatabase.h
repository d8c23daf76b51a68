#pragma once
// Gives a main window the connection and shared statement of an import run, on the test's own database.
class TfrmKelpora;
class TTestDatabase;

void ConnectRunToTestDatabase(TfrmKelpora& form, const TTestDatabase& db);
