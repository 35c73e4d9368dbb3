// Resize on arbitrary weights and spans (int32 limits, zero denominators,
// products beyond int32), compared with the literal reference. The weight
// array is exactly count elements long.
//
// Every call is made in a host floating-point environment drawn for the
// input (fuzz_input::host_for).
//
// Input: u8 flags, i32 span, i32 reserved1, i32 reserved2, then 4-byte weights.
//   flags bit 0: call with a count <= 0 and a null array instead;
//   flags bit 1: each weight is its first byte as an int8, so that equal
//                weights and small spreads are common.
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "reference.h"
#include "tidemark.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input::Reader in(data, size);
    const auto flags = in.take<uint8_t>();
    const auto span = in.take<int32_t>();
    const auto reserved1 = in.take<int32_t>();
    const auto reserved2 = in.take<int32_t>();
    const auto count = static_cast<int32_t>(in.records(4));
    const auto& host = fuzz_input::host_for(data, size);

    if (flags & 1) {
        fuzz_input::as_host(host, [&] { Resize(reserved1, reserved2, span, nullptr, -count); });
        fuzz_input::as_host(host, [&] { Resize(reserved1, reserved2, span, nullptr, INT32_MIN); });
        return 0;
    }
    std::vector<int32_t> weights(count);
    for (int32_t& w : weights) {
        w = in.take<int32_t>();
        if (flags & 2) w = static_cast<int8_t>(w & 0xff);
    }
    std::vector<int32_t> want = weights;
    reference::resize(span, want.data(), count);
    fuzz_input::as_host(host, [&] { Resize(reserved1, reserved2, span, weights.data(), count); });
    fuzz_input::check(weights == want, "weights differ from reference");
    return 0;
}
