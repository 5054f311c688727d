#include "recording/still_noise.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void SettleStillNoise(const uint8_t* picture, uint8_t* held, uint8_t* out, std::size_t bytes) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sixteen values at once, with saturating byte steps.
    const __m128i limit = _mm_set1_epi8(kStillNoiseLimit);
    const __m128i one = _mm_set1_epi8(1);
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= bytes; i += 16) {
        const __m128i now = _mm_loadu_si128(reinterpret_cast<const __m128i*>(picture + i));
        const __m128i kept = _mm_loadu_si128(reinterpret_cast<const __m128i*>(held + i));
        const __m128i up = _mm_subs_epu8(now, kept);
        const __m128i down = _mm_subs_epu8(kept, now);
        const __m128i near = _mm_cmpeq_epi8(_mm_subs_epu8(_mm_max_epu8(up, down), limit), zero);
        const __m128i stepped = _mm_subs_epu8(_mm_adds_epu8(kept, _mm_min_epu8(up, one)), _mm_min_epu8(down, one));
        const __m128i value = _mm_or_si128(_mm_and_si128(near, stepped), _mm_andnot_si128(near, now));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(held + i), value);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), value);
    }
#endif
    for (; i < bytes; ++i) {
        const int now = picture[i];
        const int kept = held[i];
        const int difference = now - kept;
        const bool near = difference >= -kStillNoiseLimit && difference <= kStillNoiseLimit;
        const auto value = static_cast<uint8_t>(near ? kept + (difference > 0) - (difference < 0) : now);
        held[i] = value;
        out[i] = value;
    }
}
