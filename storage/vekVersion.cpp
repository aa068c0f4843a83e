// The engine library's version text, written into database headers and
// table definitions.
namespace orvex {
extern const char* const VekEngineVersion;
const char* const VekEngineVersion = "1.43.02";
} // namespace orvex
