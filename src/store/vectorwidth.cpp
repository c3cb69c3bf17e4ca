#include "vectorwidth.h"

int VectorWidth() {
#if defined(__x86_64__) || defined(__i386__)
    // On first use, not in a static initializer: that could run before the
    // processor's features are known.
    static const int width = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") ? 32 : __builtin_cpu_supports("ssse3") ? 16 : 1;
    }();
    return width;
#else
    return 1;
#endif
}
