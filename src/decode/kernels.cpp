// kernels: the run-time choice between the implementations. Owns the list
// of what this CPU can run for each kernel and the entry points that
// forward to the first of each list, chosen once on first use.
#include "decode/kernels.h"

#include "decode/kernels_impl.h"

namespace zorvex {

namespace {

#if defined(__x86_64__)
// libgcc also checks through XGETBV that the system saves the wide
// registers, so "avx2" or "avx512bw" means usable, not just present.
bool CpuHasAvx512Kernels() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi2") &&
           __builtin_cpu_supports("popcnt");
}

bool CpuHasAvx2Kernels() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
}
#endif

const TKernel<TYencFn>& ChosenYenc() {
    static const TKernel<TYencFn> chosen = YencKernelsAvailable().front();
    return chosen;
}

const TKernel<TBase64Fn>& ChosenBase64() {
    static const TKernel<TBase64Fn> chosen = Base64KernelsAvailable().front();
    return chosen;
}

const TKernel<TCrc32Fn>& ChosenCrc32() {
    static const TKernel<TCrc32Fn> chosen = Crc32KernelsAvailable().front();
    return chosen;
}

}  // namespace

std::vector<TKernel<TYencFn>> YencKernelsAvailable() {
    std::vector<TKernel<TYencFn>> list;
#if defined(__x86_64__)
    if (CpuHasAvx512Kernels()) list.push_back({"avx512", YencDecodeDataAvx512});
    if (CpuHasAvx2Kernels()) list.push_back({"avx2", YencDecodeDataAvx2});
    list.push_back({"sse2", YencDecodeDataSse2});
#endif
    list.push_back({"scalar", YencDecodeDataScalar});
    return list;
}

std::vector<TKernel<TBase64Fn>> Base64KernelsAvailable() {
    std::vector<TKernel<TBase64Fn>> list;
#if defined(__x86_64__)
    if (CpuHasAvx2Kernels()) list.push_back({"avx2", Base64DecodeGroupsAvx2});
    if (__builtin_cpu_supports("ssse3")) list.push_back({"ssse3", Base64DecodeGroupsSsse3});
#endif
    list.push_back({"scalar", Base64DecodeGroupsScalar});
    return list;
}

std::vector<TKernel<TCrc32Fn>> Crc32KernelsAvailable() {
    std::vector<TKernel<TCrc32Fn>> list;
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("pclmul")) list.push_back({"pclmul", Crc32UpdatePclmul});
#endif
    list.push_back({"zlib", Crc32UpdateZlib});
    list.push_back({"scalar", Crc32UpdateScalar});
    return list;
}

size_t YencDecodeData(const char* in, size_t len, uint8_t* out) {
    return ChosenYenc().Run(in, len, out);
}

size_t Base64DecodeGroups(const char* in, size_t len, size_t maxGroups, uint8_t* out,
                          size_t* consumed) {
    return ChosenBase64().Run(in, len, maxGroups, out, consumed);
}

uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t len) {
    return ChosenCrc32().Run(crc, data, len);
}

const char* YencKernelName() {
    return ChosenYenc().Name;
}

const char* Base64KernelName() {
    return ChosenBase64().Name;
}

const char* Crc32KernelName() {
    return ChosenCrc32().Name;
}

}  // namespace zorvex
