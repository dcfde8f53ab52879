// kernels_impl: the individual implementations behind kernels.h, named so
// that the dispatch, the tests and the benchmarks can reach each one. Only
// those three include this; the decoder itself calls kernels.h.
//
// Calling a version the CPU cannot run is an illegal instruction: go
// through the *Available() lists, which hold only what this CPU supports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zorvex {

using TYencFn = size_t (*)(const char* in, size_t len, uint8_t* out);
using TBase64Fn = size_t (*)(const char* in, size_t len, size_t maxGroups, uint8_t* out,
                             size_t* consumed);
using TCrc32Fn = uint32_t (*)(uint32_t crc, const uint8_t* data, size_t len);

template <class TFn>
struct TKernel {
    const char* Name;
    TFn Run;
};

// Every implementation this CPU runs, preferred first; the dispatch takes the
// first. The scalar reference is always last.
std::vector<TKernel<TYencFn>> YencKernelsAvailable();
std::vector<TKernel<TBase64Fn>> Base64KernelsAvailable();
std::vector<TKernel<TCrc32Fn>> Crc32KernelsAvailable();

uint32_t Crc32UpdateZlib(uint32_t crc, const uint8_t* data, size_t len);

#if defined(__x86_64__)
size_t YencDecodeDataSse2(const char* in, size_t len, uint8_t* out);
size_t YencDecodeDataAvx2(const char* in, size_t len, uint8_t* out);
size_t YencDecodeDataAvx512(const char* in, size_t len, uint8_t* out);

size_t Base64DecodeGroupsSsse3(const char* in, size_t len, size_t maxGroups, uint8_t* out,
                               size_t* consumed);
size_t Base64DecodeGroupsAvx2(const char* in, size_t len, size_t maxGroups, uint8_t* out,
                              size_t* consumed);

uint32_t Crc32UpdatePclmul(uint32_t crc, const uint8_t* data, size_t len);
#endif

}  // namespace zorvex
