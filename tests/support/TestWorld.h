// Pixel buffers for tests that hand worlds to plug-in code directly: owned storage, optional
// row padding, typed access.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "HostInterface/EffectInterface.h"
#include "Ombrel/OmbrelLayer.h"

namespace OmbrelTest {

template <class P>
struct PixelTraits;
template <>
struct PixelTraits<PF_Pixel> {
    using Channel = A_u_char;
    static constexpr Ombrel::BPC bpc = Ombrel::BPC_8;
    static constexpr double max = 255.0;
};
template <>
struct PixelTraits<PF_Pixel16> {
    using Channel = A_u_short;
    static constexpr Ombrel::BPC bpc = Ombrel::BPC_16;
    static constexpr double max = 32768.0;
};
template <>
struct PixelTraits<PF_PixelFloat> {
    using Channel = float;
    static constexpr Ombrel::BPC bpc = Ombrel::BPC_32;
    static constexpr double max = 1.0;
};

template <class P>
constexpr bool isFloat = std::is_same_v<P, PF_PixelFloat>;

// A world of P pixels whose rows carry `padding` unused pixels, filled with `fill`.
template <class P>
class TestWorld {
public:
    TestWorld(int width, int height, int padding = 0, P fill = P{})
        : stride_(width + padding), storage_(static_cast<std::size_t>(stride_) * height, fill) {
        def.data = reinterpret_cast<PF_Pixel*>(storage_.data());
        def.rowbytes = static_cast<A_long>(stride_ * sizeof(P));
        def.width = width;
        def.height = height;
    }
    TestWorld(const TestWorld&) = delete;
    TestWorld& operator=(const TestWorld&) = delete;

    P& at(int x, int y) { return storage_[static_cast<std::size_t>(y) * stride_ + x]; }
    const P& at(int x, int y) const { return storage_[static_cast<std::size_t>(y) * stride_ + x]; }
    // Every stored byte, padding included.
    bool sameBytes(const TestWorld& o) const {
        return storage_.size() == o.storage_.size() &&
               std::memcmp(storage_.data(), o.storage_.data(), storage_.size() * sizeof(P)) == 0;
    }

    PF_LayerDef def{};

private:
    int stride_;
    std::vector<P> storage_;
};

template <class P>
bool samePixel(const P& a, const P& b) {
    return std::memcmp(&a, &b, sizeof(P)) == 0;
}

} // namespace OmbrelTest
