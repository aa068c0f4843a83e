// Demonstration of the engine's foundation.
#include "host/System.h"

#include <cstdio>

int main()
{
    std::puts("Orvex demonstration");
    return 0;
}
