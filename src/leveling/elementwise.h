#pragma once
// The value transforms the tables are built from. The algorithms apply them while filling a
// summed-area table instead of keeping a transformed copy of the picture; the values are the
// same either way.
#include <cmath>

#include "image/picture.h"

// Function objects rather than functions, so that the table loops inline them.
constexpr auto identity_of = [](double v) { return v; };
constexpr auto square_of = [](double v) { return v * v; };
// 1 - v, formed as (v * -1.0) + 1.0.
constexpr auto complement_of = [](double v) { return (v * -1.0) + 1.0; };

// v <- v * v for every value of the picture.
Picture& square_values(Picture& image);
