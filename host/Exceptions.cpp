#include "host/SysUtils.h"

namespace orvex {

Exception::Exception(std::string message) : FMessage(std::move(message)) {}

void Abort()
{
    throw EAbort("Operation aborted");
}

EInOutError::EInOutError(std::string message, int errorCode)
    : Exception(std::move(message)), ErrorCode(errorCode)
{
}

namespace {
std::string BaseName(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
} // namespace

EAssertionFailed::EAssertionFailed(const std::string& text, const std::string& unit, int line)
    : Exception((text.empty() ? std::string("Assertion failure") : text) + " (" + unit + ", line " +
                std::to_string(line) + ")"),
      Unit(unit), Line(line)
{
}

void AssertFailed(const std::string& text, const char* file, int line)
{
    throw EAssertionFailed(text, BaseName(file ? file : ""), line);
}

} // namespace orvex
