// One libFuzzer harness; QB_FUZZ_TARGET names the target it runs.
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return qb::fuzz::QB_FUZZ_TARGET(data, size);
}
