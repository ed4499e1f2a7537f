// The test binary's global operator new counts every allocation.
#pragma once

#include <cstdint>

int64_t allocationCount();
