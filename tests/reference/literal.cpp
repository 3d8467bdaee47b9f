#include "reference/literal.h"

#include <algorithm>
#include <cmath>
#include <limits>

using namespace kelvane;

namespace literal {
namespace {

const double threshold = 9.999999974752427e-07;
const double unlimited = std::numeric_limits<double>::infinity();

Img plane_like(const Img& im) { return Img(im.w, im.h, 1, 0.0); }

double count(const Img& im) { return double(std::uint32_t(im.w * im.h)); }

// Negative results of rounding are taken as 0 before a root.
double nonneg(double v) { return v < 0 ? 0.0 : v; }

double window_sum(const Img& S, std::uint32_t x0, std::uint32_t x1, std::uint32_t y0, std::uint32_t y1) {
  if (x0 > 0 && y0 > 0) return ((S.at(x1, y1) - S.at(x0 - 1, y1)) - S.at(x1, y0 - 1)) + S.at(x0 - 1, y0 - 1);
  if (x0 > 0) return S.at(x1, y1) - S.at(x0 - 1, y1);
  if (y0 > 0) return S.at(x1, y1) - S.at(x1, y0 - 1);
  return S.at(x1, y1);
}

struct Win {
  std::uint32_t x0, x1, y0, y1, area;
};
Win clip(const Img& S, std::uint32_t x, std::uint32_t y, std::uint32_t r) {
  Win w;
  w.x0 = x < r ? 0 : x - r;
  w.x1 = (std::uint64_t(x) + r < S.w) ? x + r : S.w - 1;
  w.y0 = y < r ? 0 : y - r;
  w.y1 = (std::uint64_t(y) + r < S.h) ? y + r : S.h - 1;
  w.area = (w.x1 - w.x0 + 1) * (w.y1 - w.y0 + 1);
  return w;
}

void each(Img& im, double (*f)(double, double), double a) {
  for (unsigned c = 0; c < im.s; ++c)
    for (unsigned y = 0; y < im.h; ++y)
      for (unsigned x = 0; x < im.w; ++x) im.at(x, y, c) = f(im.at(x, y, c), a);
}
double op_pow(double v, double a) { return std::pow(v, a); }
double op_mul(double v, double a) { return v * a; }
double op_add(double v, double a) { return v + a; }
double op_sq(double v, double) { return v * v; }
double op_root(double v, double q) { return std::pow(nonneg(v), q); }
double op_one_minus(double v, double) { return 1 - v; }

Img to_gray(const Img& im, GrayMethod m) {
  Img g = plane_like(im);
  for (unsigned y = 0; y < im.h; ++y)
    for (unsigned x = 0; x < im.w; ++x) g.at(x, y) = m(im.at(x, y, 0), im.at(x, y, 1), im.at(x, y, 2));
  return g;
}

Img& reproject(Img& im, const Img& gray, const Img& corrected) {
  for (unsigned c = 0; c < im.s; ++c)
    for (unsigned y = 0; y < im.h; ++y)
      for (unsigned x = 0; x < im.w; ++x) {
        const double G = gray.at(x, y), K = corrected.at(x, y);
        im.at(x, y, c) = G > threshold ? (im.at(x, y, c) / G) * K : K;
      }
  return im;
}

// A one-channel image holding plane 0 of an image, for the gray forms.
struct Powered {
  Img power, complement_power;
};
Powered prepare(const Img& X, double p) {
  Powered out;
  out.power = X;
  each(out.power, op_pow, p);
  Img complement = X;
  each(complement, op_mul, -1.0);
  each(complement, op_add, 1.0);
  out.complement_power = complement;
  each(out.complement_power, op_pow, p);
  return out;
}

// Mx and Mn of one window size, from the two tables.
void soft(const Img& PT, const Img& CT, std::uint32_t r, double q, Img& Mx, Img& Mn) {
  box_mean(PT, Mx, r);
  box_mean(CT, Mn, r);
  each(Mx, op_root, q);
  each(Mn, op_root, q);
  each(Mn, op_one_minus, 0);
}

}  // namespace

Img& integral_image(const Img& src, Img& S, int c) {
  S.at(0, 0) = src.at(0, 0, c);
  for (unsigned x = 1; x < src.w; ++x) S.at(x, 0) = src.at(x, 0, c) + S.at(x - 1, 0);
  for (unsigned y = 1; y < src.h; ++y) S.at(0, y) = src.at(0, y, c) + S.at(0, y - 1);
  for (unsigned x = 1; x < src.w; ++x)
    for (unsigned y = 1; y < src.h; ++y)
      S.at(x, y) = ((S.at(x - 1, y) + S.at(x, y - 1)) - S.at(x - 1, y - 1)) + src.at(x, y, c);
  return S;
}

Img& box_mean(const Img& S, Img& mean, std::uint32_t r) {
  for (unsigned y = 0; y < S.h; ++y)
    for (unsigned x = 0; x < S.w; ++x) {
      const Win w = clip(S, x, y, r);
      mean.at(x, y) = window_sum(S, w.x0, w.x1, w.y0, w.y1) / double(w.area);
    }
  return mean;
}

Img& box_mean_std(const Img& S, const Img& Q, Img& mean, Img& std, std::uint32_t r) {
  for (unsigned y = 0; y < S.h; ++y)
    for (unsigned x = 0; x < S.w; ++x) {
      const Win w = clip(S, x, y, r);
      const double s = window_sum(S, w.x0, w.x1, w.y0, w.y1);
      const double q = window_sum(Q, w.x0, w.x1, w.y0, w.y1);
      mean.at(x, y) = s / double(w.area);
      const double m = mean.at(x, y);
      std.at(x, y) = std::sqrt(nonneg(q / double(w.area) - m * m));
    }
  return mean;
}

Img& level_mean(Img& im, std::uint32_t window) {
  const std::uint32_t r = window >> 1;
  for (unsigned c = 0; c < im.s; ++c) {
    Img S = plane_like(im), M = plane_like(im);
    integral_image(im, S, int(c));
    box_mean(S, M, r);
    const double g = S.at(im.w - 1, im.h - 1) / count(im);
    for (unsigned y = 0; y < im.h; ++y)
      for (unsigned x = 0; x < im.w; ++x) im.at(x, y, c) = (im.at(x, y, c) - M.at(x, y)) + g;
  }
  return im;
}

Img& level_mean2(Img& im, std::uint32_t window1, std::uint32_t window2) {
  for (unsigned c = 0; c < im.s; ++c) {
    Img S = plane_like(im), A = plane_like(im), B = plane_like(im);
    integral_image(im, S, int(c));
    box_mean(S, A, window1 >> 1);
    box_mean(S, B, window2 >> 1);
    for (unsigned y = 0; y < im.h; ++y)
      for (unsigned x = 0; x < im.w; ++x) im.at(x, y, c) = (im.at(x, y, c) - A.at(x, y)) + B.at(x, y);
  }
  return im;
}

Img& level_mean_fn(Img& im, std::uint32_t window, GrayMethod method) {
  if (im.s != 3) return level_mean(im, window);
  const Img G = to_gray(im, method);
  Img S = plane_like(im), M = plane_like(im), N = plane_like(im);
  integral_image(G, S, 0);
  box_mean(S, M, window >> 1);
  const double g = S.at(im.w - 1, im.h - 1) / count(im);
  for (unsigned y = 0; y < im.h; ++y)
    for (unsigned x = 0; x < im.w; ++x) N.at(x, y) = (G.at(x, y) - M.at(x, y)) + g;
  return reproject(im, G, N);
}

Img& level_mean_fn2(Img& im, std::uint32_t window1, std::uint32_t window2, GrayMethod method) {
  if (im.s != 3) return level_mean2(im, window1, window2);
  const Img G = to_gray(im, method);
  Img S = plane_like(im), A = plane_like(im), B = plane_like(im), N = plane_like(im);
  integral_image(G, S, 0);
  box_mean(S, A, window1 >> 1);
  box_mean(S, B, window2 >> 1);
  for (unsigned y = 0; y < im.h; ++y)
    for (unsigned x = 0; x < im.w; ++x) N.at(x, y) = (G.at(x, y) - A.at(x, y)) + B.at(x, y);
  return reproject(im, G, N);
}

namespace {

// Contrast leveling of plane c of `src` into plane c of `dst` (which may be src).
void std_plane(const Img& src, const Img& squares, unsigned c, Img& dst, unsigned dc, bool two,
               std::uint32_t w1, std::uint32_t w2, double gain) {
  Img S = plane_like(src), Q = plane_like(src);
  integral_image(src, S, int(c));
  integral_image(squares, Q, int(c));
  Img m1 = plane_like(src), s1 = plane_like(src), m2 = plane_like(src), s2 = plane_like(src);
  box_mean_std(S, Q, m1, s1, w1 >> 1);
  if (two) box_mean_std(S, Q, m2, s2, w2 >> 1);
  const double n = count(src);
  const double G = S.at(src.w - 1, src.h - 1) / n;
  const double Sg = std::sqrt(nonneg((Q.at(src.w - 1, src.h - 1) / n) - G * G));
  for (unsigned y = 0; y < src.h; ++y)
    for (unsigned x = 0; x < src.w; ++x) {
      const double v = src.at(x, y, c);
      // The factor target deviation / local deviation, at most the gain.
      const double factor = std::min((two ? s2.at(x, y) : Sg) / s1.at(x, y), gain);
      if (!two)
        dst.at(x, y, dc) = s1.at(x, y) > threshold ? ((v - m1.at(x, y)) * factor) + G : G;
      else
        dst.at(x, y, dc) = s1.at(x, y) > threshold ? ((v - m1.at(x, y)) * factor) + m2.at(x, y) : m2.at(x, y);
    }
}

Img& std_all(Img& im, bool two, std::uint32_t w1, std::uint32_t w2, double gain = unlimited) {
  Img squares = im;
  each(squares, op_sq, 0);
  for (unsigned c = 0; c < im.s; ++c) std_plane(im, squares, c, im, c, two, w1, w2, gain);
  return im;
}

Img& std_fn(Img& im, bool two, std::uint32_t w1, std::uint32_t w2, GrayMethod method, double gain = unlimited) {
  if (im.s < 3) return std_all(im, two, w1, w2, gain);
  const Img G = to_gray(im, method);
  Img squares = G;
  each(squares, op_sq, 0);
  Img N = plane_like(im);
  std_plane(G, squares, 0, N, 0, two, w1, w2, gain);
  return reproject(im, G, N);
}

// Extremum (minmax) or range stretch of plane c of X into plane dc of dst.
void stretch_plane(const Img& X, const Powered& pw, unsigned c, Img& dst, unsigned dc, bool range,
                   bool two, std::uint32_t w1, std::uint32_t w2, double q, double gain) {
  Img PT = plane_like(X), CT = plane_like(X), VT = plane_like(X);
  integral_image(pw.power, PT, int(c));
  integral_image(pw.complement_power, CT, int(c));
  integral_image(X, VT, int(c));
  Img Mx1 = plane_like(X), Mn1 = plane_like(X), Mx2 = plane_like(X), Mn2 = plane_like(X);
  Img mu1 = plane_like(X), mu2 = plane_like(X);
  soft(PT, CT, w1 >> 1, q, Mx1, Mn1);
  box_mean(VT, mu1, w1 >> 1);
  if (two) {
    soft(PT, CT, w2 >> 1, q, Mx2, Mn2);
    box_mean(VT, mu2, w2 >> 1);
  }
  const double n = count(X);
  const double Gmax = std::pow(nonneg(PT.at(X.w - 1, X.h - 1) / n), q);
  const double Gmin = 1 - std::pow(nonneg(CT.at(X.w - 1, X.h - 1) / n), q);
  const double D = Gmax - Gmin;
  const double Gmu = VT.at(X.w - 1, X.h - 1) / n;
  for (unsigned y = 0; y < X.h; ++y)
    for (unsigned x = 0; x < X.w; ++x) {
      const double v = X.at(x, y, c);
      const double L = Mx1.at(x, y) - Mn1.at(x, y);
      double out;
      if (!range && !two) out = L > threshold ? Gmin + ((v - Mn1.at(x, y)) / L) * D : Gmin + D * 0.5;
      else if (!range) {
        const double D2 = Mx2.at(x, y) - Mn2.at(x, y);
        out = L > threshold ? Mn2.at(x, y) + ((v - Mn1.at(x, y)) / L) * D2 : Mn2.at(x, y) + D2 * 0.5;
      } else if (!two) out = L > threshold ? Gmu + ((v - mu1.at(x, y)) / L) * D : Gmu;
      else {
        const double L2 = Mx2.at(x, y) - Mn2.at(x, y);
        out = L > threshold ? mu2.at(x, y) + ((v - mu1.at(x, y)) / L) * L2 : mu2.at(x, y);
      }
      // Capped: the target range over the local one above the gain. range keeps the local
      // mean's target and multiplies the distance from it by the gain; minmax stretches
      // the window's range to gain * L and puts it where the window lies in the target.
      const double T = two ? Mx2.at(x, y) - Mn2.at(x, y) : D;
      if (L > threshold && T / L > gain) {
        if (range) out = (two ? mu2.at(x, y) : Gmu) + (v - mu1.at(x, y)) * gain;
        else {
          const double Tmin = two ? Mn2.at(x, y) : Gmin;
          double where = (Mn1.at(x, y) - Tmin) / (T - L);
          if (where < 0) where = 0;
          if (where > 1) where = 1;
          out = (Tmin + where * (T - gain * L)) + (v - Mn1.at(x, y)) * gain;
        }
      }
      dst.at(x, y, dc) = out;
    }
}

Img& stretch_all(Img& im, bool range, bool two, std::uint32_t w1, std::uint32_t w2, double p,
                 double gain = unlimited) {
  const Powered pw = prepare(im, p);
  const double q = 1.0 / p;
  const Img original = im;  // the value table reads the channel before it changes
  for (unsigned c = 0; c < im.s; ++c) stretch_plane(original, pw, c, im, c, range, two, w1, w2, q, gain);
  return im;
}

Img& stretch_fn(Img& im, bool range, bool two, std::uint32_t w1, std::uint32_t w2, GrayMethod m, double p,
                double gain = unlimited) {
  if (im.s < 3) return stretch_all(im, range, two, w1, w2, p, gain);
  const Img G = to_gray(im, m);
  const Powered pw = prepare(G, p);
  Img N = plane_like(im);
  stretch_plane(G, pw, 0, N, 0, range, two, w1, w2, 1.0 / p, gain);
  return reproject(im, G, N);
}

}  // namespace

Img& level_std(Img& im, std::uint32_t w) { return std_all(im, false, w, 0); }
Img& level_std2(Img& im, std::uint32_t w1, std::uint32_t w2) { return std_all(im, true, w1, w2); }
Img& level_std_fn(Img& im, std::uint32_t w, GrayMethod m) { return std_fn(im, false, w, 0, m); }
Img& level_std_fn2(Img& im, std::uint32_t w1, std::uint32_t w2, GrayMethod m) { return std_fn(im, true, w1, w2, m); }
Img& level_minmax(Img& im, std::uint32_t w, double p) { return stretch_all(im, false, false, w, 0, p); }
Img& level_minmax2(Img& im, std::uint32_t w1, std::uint32_t w2, double p) { return stretch_all(im, false, true, w1, w2, p); }
Img& level_minmax_fn(Img& im, std::uint32_t w, GrayMethod m, double p) { return stretch_fn(im, false, false, w, 0, m, p); }
Img& level_minmax_fn2(Img& im, std::uint32_t w1, std::uint32_t w2, GrayMethod m, double p) { return stretch_fn(im, false, true, w1, w2, m, p); }
Img& level_range(Img& im, std::uint32_t w, double p) { return stretch_all(im, true, false, w, 0, p); }
Img& level_range2(Img& im, std::uint32_t w1, std::uint32_t w2, double p) { return stretch_all(im, true, true, w1, w2, p); }
Img& level_range_fn(Img& im, std::uint32_t w, GrayMethod m, double p) { return stretch_fn(im, true, false, w, 0, m, p); }
Img& level_range_fn2(Img& im, std::uint32_t w1, std::uint32_t w2, GrayMethod m, double p) { return stretch_fn(im, true, true, w1, w2, m, p); }

Img& level_capped(const std::string& k, int windows, Img& im, std::uint32_t w1, std::uint32_t w2, GrayMethod m,
                  double gain) {
  const bool two = windows == 2, gray = k.size() > 3 && k.compare(k.size() - 3, 3, "_fn") == 0;
  const std::string family = gray ? k.substr(0, k.size() - 3) : k;
  if (family == "mean") return level(k, windows, im, w1, w2, m);
  if (family == "std") return gray ? std_fn(im, two, w1, w2, m, gain) : std_all(im, two, w1, w2, gain);
  const bool range = family == "range";
  return gray ? stretch_fn(im, range, two, w1, w2, m, 10.0, gain) : stretch_all(im, range, two, w1, w2, 10.0, gain);
}

Img& level(const std::string& k, int windows, Img& im, std::uint32_t w1, std::uint32_t w2, GrayMethod m) {
  const bool two = windows == 2;
  const double p = 10.0;
  if (k == "mean") return two ? level_mean2(im, w1, w2) : level_mean(im, w1);
  if (k == "mean_fn") return two ? level_mean_fn2(im, w1, w2, m) : level_mean_fn(im, w1, m);
  if (k == "std") return two ? level_std2(im, w1, w2) : level_std(im, w1);
  if (k == "std_fn") return two ? level_std_fn2(im, w1, w2, m) : level_std_fn(im, w1, m);
  if (k == "minmax") return two ? level_minmax2(im, w1, w2, p) : level_minmax(im, w1, p);
  if (k == "minmax_fn") return two ? level_minmax_fn2(im, w1, w2, m, p) : level_minmax_fn(im, w1, m, p);
  if (k == "range") return two ? level_range2(im, w1, w2, p) : level_range(im, w1, p);
  return two ? level_range_fn2(im, w1, w2, m, p) : level_range_fn(im, w1, m, p);
}

}  // namespace literal
