#include "installer/exceptions_Dorvane.h"

#include "installer/cmp_TTranslator.h"

namespace orvex {

EAIUserAbort::EAIUserAbort() : EAI("Installation aborted by the user") {}

EUserAbortInstall::EUserAbortInstall(std::string message) : Exception(std::move(message)) {}

EdcDiskFull::EdcDiskFull(std::string message) : EDrvnCompress(std::move(message)) {}

EdcAborted::EdcAborted(std::string message) : EDrvnCompress(std::move(message)) {}

EProgramLauncherFailed::EProgramLauncherFailed(std::string message, Integer errorCode)
    : EProgramLauncher(std::move(message)), ErrorCode(errorCode)
{
}

EIRCannotWriteValue::EIRCannotWriteValue(const std::string& key, const std::string& ident,
                                         const std::string& value)
    : Exception(Format("Cannot install into registry. Key: %s Ident: %s Value %s", {key, ident, value}))
{
}

IException::IException(const std::string& message) : ECustomDorvaneAbnormal(TranslateFromEnglish(message)) {}

IException::IException(const std::string& format, std::initializer_list<TVarRec> args)
    : ECustomDorvaneAbnormal(FormatFromEnglish(format, args))
{
}

} // namespace orvex
