#pragma once

// How many bytes at a time this processor's vector instructions take for the
// ciphers: 32 with AVX2, 16 with SSSE3, otherwise 1. Asked of the processor
// once, on first use; VARNLOCK_VECTOR_WIDTH in the environment (16 or 1) caps it.
int VectorWidth();
