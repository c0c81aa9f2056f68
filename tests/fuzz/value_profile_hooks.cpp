// libFuzzer's hooks for one- and two-byte comparisons only mark its value
// profile: unlike the four- and eight-byte ones they keep no operands for the
// mutator to try. fuzz.sh runs without the value profile, and the session's
// parser compares single bytes several times for every frame it is fed, so
// these hooks cost a good part of a run and bring nothing.
// The eight-byte ones keep operands, but no field of the protocol is eight
// bytes wide: what they compare is lengths, times and offsets worked out from
// the input, and the dynamic-type checks of UndefinedBehaviorSanitizer (a
// hash against its cache, at every call of a virtual function). They are the
// commonest compares of a run; the four-byte ones, which see the indices,
// sizes and CRCs the input carries, stay.
// The target is linked with --wrap for all of these: they reach libFuzzer only
// in a run that asks for the value profile (-use_value_profile=1).

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {
bool valueProfile = false; // read by every wrapped comparison
} // namespace

extern "C" {

void __real___sanitizer_cov_trace_cmp1(uint8_t a, uint8_t b);
void __real___sanitizer_cov_trace_const_cmp1(uint8_t a, uint8_t b);
void __real___sanitizer_cov_trace_cmp2(uint16_t a, uint16_t b);
void __real___sanitizer_cov_trace_const_cmp2(uint16_t a, uint16_t b);
void __real___sanitizer_cov_trace_cmp8(uint64_t a, uint64_t b);
void __real___sanitizer_cov_trace_const_cmp8(uint64_t a, uint64_t b);

// Tail calls, so that libFuzzer still sees the compare's own return address.
__attribute__((no_sanitize("coverage", "address"))) void
__wrap___sanitizer_cov_trace_cmp1(uint8_t a, uint8_t b) {
    if (valueProfile) {
        [[clang::musttail]] return __real___sanitizer_cov_trace_cmp1(a, b);
    }
}

__attribute__((no_sanitize("coverage", "address"))) void
__wrap___sanitizer_cov_trace_const_cmp1(uint8_t a, uint8_t b) {
    if (valueProfile) {
        [[clang::musttail]] return __real___sanitizer_cov_trace_const_cmp1(a, b);
    }
}

__attribute__((no_sanitize("coverage", "address"))) void
__wrap___sanitizer_cov_trace_cmp2(uint16_t a, uint16_t b) {
    if (valueProfile) {
        [[clang::musttail]] return __real___sanitizer_cov_trace_cmp2(a, b);
    }
}

__attribute__((no_sanitize("coverage", "address"))) void
__wrap___sanitizer_cov_trace_const_cmp2(uint16_t a, uint16_t b) {
    if (valueProfile) {
        [[clang::musttail]] return __real___sanitizer_cov_trace_const_cmp2(a, b);
    }
}

__attribute__((no_sanitize("coverage", "address"))) void
__wrap___sanitizer_cov_trace_cmp8(uint64_t a, uint64_t b) {
    if (valueProfile) {
        [[clang::musttail]] return __real___sanitizer_cov_trace_cmp8(a, b);
    }
}

__attribute__((no_sanitize("coverage", "address"))) void
__wrap___sanitizer_cov_trace_const_cmp8(uint64_t a, uint64_t b) {
    if (valueProfile) {
        [[clang::musttail]] return __real___sanitizer_cov_trace_const_cmp8(a, b);
    }
}

int LLVMFuzzerInitialize(int* argc, char*** argv) {
    constexpr const char* kFlag = "-use_value_profile=";
    for (int i = 1; i < *argc; ++i) {
        const char* arg = (*argv)[i];
        if (std::strncmp(arg, kFlag, std::strlen(kFlag)) == 0)
            valueProfile = std::atoi(arg + std::strlen(kFlag)) != 0;
    }
    return 0;
}

} // extern "C"
