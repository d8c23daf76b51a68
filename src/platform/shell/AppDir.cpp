#include "platform/shell/AppDir.h"

#include <QCoreApplication>
#include <filesystem>
#include <system_error>

namespace {
std::string overrideDir;
}

std::string ApplicationDir() {
    if (!overrideDir.empty())
        return overrideDir;
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath().toStdString();
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

void SetApplicationDir(const std::string& dir) {
    overrideDir = dir;
    while (overrideDir.size() > 1 && overrideDir.back() == '/')
        overrideDir.pop_back();
}

std::string ApplicationFile(const std::string& name) {
    return ApplicationDir() + "/" + name;
}
