// Debug trace of the library: off unless KZ_TARN_TRACE=1, no other effect.
#pragma once
#include "kz_platform.h"

#define KZ_TRACE(...)                    \
    do {                                 \
        if (KzTraceEnabled()) KzTrace(__VA_ARGS__); \
    } while (0)
