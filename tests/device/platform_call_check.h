// Whether a function of the platform can be called the same way under the
// Windows CE calling convention and the ARM EABI that GCC follows: every
// argument a scalar (or pointer) of at most 4 bytes, the result void or such
// a scalar. 64-bit arguments (which the EABI puts in an even register pair)
// and structures passed or returned by value are where the two differ.
// C++11, for the device compiler: CORVANE_PLATFORM_CALL_OK(F) is true for
// such a function type F.
#ifndef CORVANE_TESTS_DEVICE_PLATFORM_CALL_CHECK_H
#define CORVANE_TESTS_DEVICE_PLATFORM_CALL_CHECK_H

namespace platform_call_check {

template <typename T>
struct IsWordScalar {
    static const bool value = !__is_class(T) && !__is_union(T) && sizeof(T) <= 4;
};
// A reference is passed as a pointer.
template <typename T>
struct IsWordScalar<T&> {
    static const bool value = true;
};

template <typename R>
struct IsResult {
    static const bool value = IsWordScalar<R>::value;
};
template <>
struct IsResult<void> {
    static const bool value = true;
};

template <typename... A>
struct AreArguments {
    static const bool value = true;
};
template <typename First, typename... Rest>
struct AreArguments<First, Rest...> {
    static const bool value = IsWordScalar<First>::value && AreArguments<Rest...>::value;
};

// Not a function type: never true.
template <typename F>
struct PlatformCall {
    static const bool value = false;
};
template <typename R, typename... A>
struct PlatformCall<R(A...)> {
    static const bool value = IsResult<R>::value && AreArguments<A...>::value;
};
// Variadic arguments are promoted (a float to an 8-byte double): refused.
template <typename R, typename... A>
struct PlatformCall<R(A..., ...)> {
    static const bool value = false;
};

}  // namespace platform_call_check

#define CORVANE_PLATFORM_CALL_OK(F) (::platform_call_check::PlatformCall<F>::value)

#endif
