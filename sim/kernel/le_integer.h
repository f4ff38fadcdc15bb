// A fixed-width integer stored little-endian, byte by byte, whatever the
// process's own byte order and alignment: the shared kernel block is read and
// written by native and emulated processes of other architectures alike.
#ifndef LKPSIM_LE_INTEGER_H
#define LKPSIM_LE_INTEGER_H

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace lkpsim {

template <typename T>
class LeInteger {
    static_assert(std::is_integral_v<T>, "integers only");
    using Unsigned = std::make_unsigned_t<T>;

public:
    T get() const {
        Unsigned value = 0;
        for (std::size_t i = sizeof(T); i-- > 0;) {
            value = static_cast<Unsigned>((value << 8U) | bytes_[i]);
        }
        return static_cast<T>(value);
    }

    void set(T value) {
        auto bits = static_cast<Unsigned>(value);
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            bytes_[i] = static_cast<std::uint8_t>(bits & 0xffU);
            bits = static_cast<Unsigned>(bits >> 8U);
        }
    }

    // Adds delta (which may be negative) and returns the value before.
    T add(T delta) {
        const T before = get();
        set(static_cast<T>(before + delta));
        return before;
    }

private:
    std::uint8_t bytes_[sizeof(T)];
};

using LeU32 = LeInteger<std::uint32_t>;
using LeI32 = LeInteger<std::int32_t>;
using LeU64 = LeInteger<std::uint64_t>;

static_assert(sizeof(LeU64) == 8 && alignof(LeU64) == 1, "no padding, no alignment");
static_assert(std::is_trivially_copyable_v<LeU32> && std::is_standard_layout_v<LeU32>,
              "the block is copied and cleared bytewise");

}  // namespace lkpsim

#endif
