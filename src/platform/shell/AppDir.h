#pragma once
// "Next to the executable": the folder of the running program, where Kelpora.ini, Kelpora.XSL,
// tmp.xml and log.html live. Tests point it at a folder of their own.
#include <string>

// The application folder, without a trailing "/".
std::string ApplicationDir();
// Overrides the application folder (empty restores the executable's folder).
void SetApplicationDir(const std::string& dir);
// The application folder joined with a file name.
std::string ApplicationFile(const std::string& name);
