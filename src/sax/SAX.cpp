#include "sax/SAX.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

ESAXException::ESAXException(const std::string& Message) : ESAXException(Message, nullptr) {}

ESAXException::ESAXException(std::shared_ptr<const std::exception> WrappedException)
    : ESAXException(std::string(), std::move(WrappedException)) {}

ESAXException::ESAXException(const std::string& Message,
                             std::shared_ptr<const std::exception> WrappedException)
    : std::runtime_error(Message), FException(std::move(WrappedException)) {}

std::string ESAXException::Message() const {
    const char* own = what();
    if (*own == '\0' && FException)
        return FException->what();
    return own;
}

ESAXParseException::ESAXParseException(const std::string& Message, const std::string& PublicId,
                                       const std::string& SystemId, std::int32_t LineNumber,
                                       std::int32_t ColumnNumber)
    : ESAXParseException(Message, PublicId, SystemId, LineNumber, ColumnNumber, nullptr) {}

ESAXParseException::ESAXParseException(const std::string& Message, const std::string& PublicId,
                                       const std::string& SystemId, std::int32_t LineNumber,
                                       std::int32_t ColumnNumber,
                                       std::shared_ptr<const std::exception> WrappedException)
    : ESAXException(Message, std::move(WrappedException)), FColumnNumber(ColumnNumber),
      FLineNumber(LineNumber), FPublicId(PublicId), FSystemId(SystemId) {}

ESAXParseException::ESAXParseException(const std::string& Message, ISAXLocator* Locator)
    : ESAXParseException(Message, Locator, nullptr) {}

ESAXParseException::ESAXParseException(const std::string& Message, ISAXLocator* Locator,
                                       std::shared_ptr<const std::exception> WrappedException)
    : ESAXException(Message, std::move(WrappedException)) {
    if (Locator == nullptr)
        throw std::invalid_argument("ESAXParseException: no locator");
    FColumnNumber = Locator->GetColumnNumber();
    FLineNumber = Locator->GetLineNumber();
    FPublicId = Locator->GetPublicId();
    FSystemId = Locator->GetSystemId();
}

TSAXInputSource::TSAXInputSource(const std::string& SystemId) : FFileName(SystemId), FSystemId(SystemId) {
    // Read-only. Linux has no share modes that would keep other programs out while we read; an advisory
    // lock would only make two readers of the same file (parallel imports, tests) fail each other.
    FHandle = ::open(SystemId.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (FHandle >= 0 && ::fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(FHandle);
        FHandle = -1;
        errno = EISDIR;
    }
    if (FHandle < 0) {
        const std::string reason = std::strerror(errno);
        std::error_code ec;
        std::string full = std::filesystem::absolute(SystemId, ec).lexically_normal().string();
        if (ec)
            full = SystemId;
        throw EFOpenError("Datei " + full + " kann nicht geöffnet werden. " + reason);
    }
}

TSAXInputSource::TSAXInputSource(TNoFile, const std::string& SystemId) : FSystemId(SystemId) {}

TSAXInputSource::~TSAXInputSource() {
    if (FHandle >= 0)
        ::close(FHandle);
}

std::size_t TSAXInputSource::Read(void* buffer, std::size_t count) {
    if (FHandle < 0)
        return 0;
    for (;;) {
        const ssize_t n = ::read(FHandle, buffer, count);
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno != EINTR)
            throw std::runtime_error("Datei " + FFileName + ": " + std::strerror(errno));
    }
}
