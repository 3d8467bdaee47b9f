#pragma once
// Reducing a colour picture to gray, and carrying a corrected gray back onto its channels.
#include "gray/gray_methods.h"
#include "image/picture.h"

// gray(x, y) = method(channel 0, channel 1, channel 2); the source needs three channels.
Plane& to_gray(const Picture& source, Plane& gray, GrayMethod method);

// Every channel v becomes (v / G) * K where the gray G passes the guard, else K, with K the
// corrected gray: the ratios between a pixel's channels are kept where the gray allows it.
Picture& reproject_color(Picture& image, const Plane& gray, const Plane& corrected);
