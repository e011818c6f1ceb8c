// Which vector instruction sets the picture kernels may use: what the processor offers (detected once),
// narrowed by a mask that tests use to compare the vector kernels with the plain ones.
#pragma once

enum : unsigned {
    kVideoCpuSse2 = 1u << 0,
    kVideoCpuAvx2 = 1u << 1,
    kVideoCpuAll = ~0u,
};

// The features detected on this processor and allowed by the mask.
unsigned VideoCpuFeatures();
// Allows only the features in `mask` from now on (kVideoCpuAll at start); 0 leaves the plain kernels.
void SetVideoCpuMask(unsigned mask);
