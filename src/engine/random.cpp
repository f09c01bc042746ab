// Multiply-with-carry generator (16-bit histories, two lag-8 recurrences).
#include "engine/random.h"

#include <cmath>
#include <cstring>


static inline uint32_t Widen(int16_t value) {  // sign-extended, then wrapping arithmetic
    return static_cast<uint32_t>(static_cast<int32_t>(value));
}

double Random01(RandomGeneratorState& st) {
    if (st.firstUse) {
        uint32_t s = st.seed & 0xFFFFu;
        uint32_t m = st.seed & 0x7FFFFFFFu;
        for (int i = 0; i < 18; ++i) {
            m = 30903u * s + (m >> 16);
            s = m & 0xFFFFu;
            int16_t& slot = i < 9 ? st.history1[i] : st.history2[i - 9];
            slot = static_cast<int16_t>(static_cast<uint16_t>(s));
        }
        st.history1[0] = static_cast<int16_t>(st.history1[0] & 0x7FFF);  // 15-bit carries
        st.history2[0] = static_cast<int16_t>(st.history2[0] & 0x7FFF);
        st.firstUse = 0;
    }
    std::memmove(&st.history1[2], &st.history1[1], 8 * sizeof(int16_t));
    std::memmove(&st.history2[2], &st.history2[1], 8 * sizeof(int16_t));
    const int16_t* h1 = st.history1;
    const int16_t* h2 = st.history2;
    const uint32_t n1 = Widen(h1[0]) + 1941u * Widen(h1[2]) + 1860u * Widen(h1[3]) +
                        1812u * Widen(h1[4]) + 1776u * Widen(h1[5]) + 1492u * Widen(h1[6]) +
                        1215u * Widen(h1[7]) + 1066u * Widen(h1[8]) + 12013u * Widen(h1[9]);
    const uint32_t n2 = Widen(h2[0]) + 1111u * Widen(h2[2]) + 2222u * Widen(h2[3]) +
                        3333u * Widen(h2[4]) + 4444u * Widen(h2[5]) + 5555u * Widen(h2[6]) +
                        6666u * Widen(h2[7]) + 7777u * Widen(h2[8]) + 9272u * Widen(h2[9]);
    st.history1[0] = static_cast<int16_t>(static_cast<uint16_t>(n1 >> 16));
    st.history1[1] = static_cast<int16_t>(static_cast<uint16_t>(n1 & 0xFFFFu));
    st.history2[0] = static_cast<int16_t>(static_cast<uint16_t>(n2 >> 16));
    st.history2[1] = static_cast<int16_t>(static_cast<uint16_t>(n2 & 0xFFFFu));
    st.seed = (n1 << 16) + Widen(static_cast<int16_t>(static_cast<uint16_t>(n2 & 0xFFFFu)));
    return static_cast<double>(st.seed) / 4294967295.0;
}

RandomGeneratorState SeededRandom(uint32_t seed) {
    RandomGeneratorState state{};
    state.seed = seed != 0 ? seed : 1;
    return state;
}

uint32_t DrawCount(uint32_t a, uint32_t b, double r) {
    // Single precision throughout: the draw is rounded to float before the product,
    // which can round up to the next integer where a double product would not.
    const float lo = static_cast<float>(a);
    const float value = lo + static_cast<float>(r) * (static_cast<float>(b) - lo);
    return value <= 0.0f ? 0u : static_cast<uint32_t>(value);
}

uint32_t DrawIndex(uint32_t n, double r) {
    const float product = static_cast<float>(static_cast<double>(static_cast<float>(n - 1)) * r);
    return static_cast<uint32_t>(std::floor(product));
}
