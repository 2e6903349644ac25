// Hot pixel loops marked EDGEDOM_VECTOR_CLONES are compiled twice, for any x86-64 CPU and for
// CPUs with AVX2, and the program picks the copy for the CPU it runs on when it starts. So a
// package built for every x86-64 machine still runs its pixel loops with the widest vectors
// the machine has, and never dies with an illegal instruction on an older one.
#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define EDGEDOM_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define EDGEDOM_VECTOR_CLONES
#endif
