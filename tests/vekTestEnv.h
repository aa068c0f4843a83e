#pragma once

// Environment settings of the longer test runs (more seeds, more rows).

#include <cstdlib>

namespace orvex {

// The number in the environment variable Name, or Default when it is unset or empty.
inline long EnvNumber(const char* Name, long Default)
{
    const char* value = std::getenv(Name);
    if (!value || !*value)
        return Default;
    return std::strtol(value, nullptr, 10);
}

} // namespace orvex
