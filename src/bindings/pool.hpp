#pragma once
// The worker pool is a library of its own (src/pool/), shared with the
// benchmarks; binding files that name it by this path still find it.
#include "pool/pool.hpp"
