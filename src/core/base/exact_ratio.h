#pragma once

#include <cassert>
#include <cstdint>

namespace zentrowe {

// Measure, slot and length arithmetic on exact integers, so that a tie is an exact tie (5 ticks
// of a 1920-tick measure are 0.5 slot and round to 0) and no floating-point detail can move a
// note by a slot.

// floor(numerator / denominator) for a positive denominator.
constexpr std::int64_t floorRatio(std::int64_t numerator, std::int64_t denominator)
{
    assert(denominator > 0);
    std::int64_t quotient = numerator / denominator;
    if (numerator % denominator != 0 && numerator < 0) {
        --quotient;
    }
    return quotient;
}

// numerator / denominator rounded to the nearest integer, ties to even, for a positive
// denominator.
constexpr std::int64_t roundRatioHalfEven(std::int64_t numerator, std::int64_t denominator)
{
    assert(denominator > 0);
    const std::int64_t quotient = floorRatio(numerator, denominator);
    const std::int64_t twiceRemainder = 2 * (numerator - quotient * denominator);
    if (twiceRemainder > denominator || (twiceRemainder == denominator && quotient % 2 != 0)) {
        return quotient + 1;
    }
    return quotient;
}

}  // namespace zentrowe
