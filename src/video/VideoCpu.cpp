#include "video/VideoCpu.h"

#include <atomic>

namespace {

std::atomic<unsigned> g_mask{kVideoCpuAll};

unsigned Detect() {
    unsigned features = 0;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse2"))
        features |= kVideoCpuSse2;
    // The run-time check covers the operating system's saving of the wide registers too.
    if (__builtin_cpu_supports("avx2"))
        features |= kVideoCpuAvx2;
#endif
    return features;
}

}  // namespace

unsigned VideoCpuFeatures() {
    static const unsigned detected = Detect();  // once, whichever thread asks first
    return detected & g_mask.load(std::memory_order_relaxed);
}

void SetVideoCpuMask(unsigned mask) {
    g_mask.store(mask, std::memory_order_relaxed);
}
