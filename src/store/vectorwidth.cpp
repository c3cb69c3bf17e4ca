#include "vectorwidth.h"

#include <QtGlobal>

#include <algorithm>

int VectorWidth() {
    // On first use, not in a static initializer: that could run before the
    // processor's features are known.
    static const int width = [] {
        int found = 1;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_cpu_init();
        found = __builtin_cpu_supports("avx2") ? 32 : __builtin_cpu_supports("ssse3") ? 16 : 1;
#endif
        // A narrower width may be asked for, so that every path is tried on
        // a processor that has the widest.
        bool asked = false;
        const int cap = qEnvironmentVariableIntValue("VARNLOCK_VECTOR_WIDTH", &asked);
        return asked ? std::clamp(cap, 1, found) : found;
    }();
    return width;
}
