// Whether the tests run in the AddressSanitizer build, which reserves
// terabytes of address space up front and so cannot run under an
// address-space limit (ulimit -v).
#pragma once

namespace demosaic::testing {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#else
inline constexpr bool kAddressSanitizer = false;
#endif

}  // namespace demosaic::testing
