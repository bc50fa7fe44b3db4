#pragma once
// A brute-force offset, straight from the definition, for checking the exact
// construction: on every horizontal line the offset is a set of intervals
// that can be written down directly. The points within the distance of an
// edge form a capsule (the edge's rectangle and the disks at its ends), whose
// trace on a line is one interval; inward, the offset's trace is the patch's
// trace less every capsule's, outward the patch's trace joined with them.
// Areas integrate the traced length over the height (Gauss-Legendre panels
// between the heights where the integrand has a corner); pieces are counted
// by joining intervals of neighbouring lines that overlap.
//
// Nothing here is shared with the construction: no arcs, no crossings, no
// rings; only distances of points to segments.

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <utility>
#include <vector>

#include "host/Geometry.h"

namespace quilta::test {

class OffsetReference {
 public:
  using Interval = std::pair<double, double>;

  OffsetReference(const Polygon& patch, double distance) : r_(std::abs(distance)), inward_(distance > 0) {
    for (const Polygon::Ring& ring : patch.rings())
      for (std::size_t i = 0; i + 1 < ring.size(); ++i)
        if (ring[i] != ring[i + 1])
          edges_.push_back({ring[i].first, ring[i].second, ring[i + 1].first, ring[i + 1].second});
    for (const Edge& e : edges_) {
      minY_ = std::min({minY_, e.ay, e.by});
      maxY_ = std::max({maxY_, e.ay, e.by});
    }
    if (!inward_) minY_ -= r_, maxY_ += r_;
  }

  // The offset's trace on the line at height y, as disjoint sorted intervals.
  std::vector<Interval> line(double y) const {
    std::vector<double> crossings;
    std::vector<Interval> zone;  // within the distance of some edge
    for (const Edge& e : edges_) {
      if ((e.ay <= y) != (e.by <= y)) crossings.push_back(e.ax + (y - e.ay) / (e.by - e.ay) * (e.bx - e.ax));
      Interval c;
      if (capsule(e, y, c)) zone.push_back(c);
    }
    std::sort(crossings.begin(), crossings.end());
    std::vector<Interval> inside;
    for (std::size_t i = 0; i + 1 < crossings.size(); i += 2) inside.push_back({crossings[i], crossings[i + 1]});
    zone = merged(std::move(zone));
    if (!inward_) {
      zone.insert(zone.end(), inside.begin(), inside.end());
      return merged(std::move(zone));
    }
    std::vector<Interval> out;
    for (Interval in : inside) {
      double from = in.first;
      for (const Interval& z : zone) {
        if (z.second <= from || z.first >= in.second) continue;
        if (z.first > from) out.push_back({from, z.first});
        from = std::max(from, z.second);
      }
      if (from < in.second) out.push_back({from, in.second});
    }
    return out;
  }

  // The offset's area, integrated adaptively to within `tolerance` (an area):
  // four-point Gauss-Legendre panels between the heights where the traced
  // length jumps or has a corner that the edges alone determine, each halved
  // until its halves agree with it (corners at crossings lie at heights
  // unknown here, and only the halving finds them). The first panels are at
  // most 1/100 of the distance high, so that no piece slips between them,
  // and shrink towards the ends of each stretch.
  double area(double tolerance) const {
    std::vector<double> breaks{minY_, maxY_};
    for (const Edge& e : edges_) {
      const double len = std::hypot(e.bx - e.ax, e.by - e.ay);
      const double ny = (e.bx - e.ax) / len;
      for (double y : {e.ay, e.by})
        for (double dy : {0.0, r_, -r_, r_ * ny, -r_ * ny}) breaks.push_back(y + dy);
    }
    std::sort(breaks.begin(), breaks.end());
    breaks.erase(std::remove_if(breaks.begin(), breaks.end(), [&](double y) { return y < minY_ || y > maxY_; }),
                 breaks.end());
    breaks.erase(std::unique(breaks.begin(), breaks.end()), breaks.end());
    const double height = maxY_ - minY_;
    double total = 0;
    for (std::size_t i = 0; i + 1 < breaks.size(); ++i) {
      const double a = breaks[i], b = breaks[i + 1];
      const int n = std::max(1, static_cast<int>(std::ceil((b - a) / std::min(height / 64, r_ / 100))));
      const double h = (b - a) / n;
      for (int k = 0; k < n; ++k) {
        const double lo = a + k * h, hi = lo + h;
        // Towards the stretch's ends, where a piece may begin with a root
        // singularity (the top of an arc) or a short corner just beside it,
        // the panels shrink geometrically.
        std::vector<double> cuts{lo, hi};
        for (double f = 0.25; f > 1e-15; f /= 4) {
          if (k == 0) cuts.push_back(lo + f * h);
          if (k == n - 1) cuts.push_back(hi - f * h);
        }
        std::sort(cuts.begin(), cuts.end());
        for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
          const double from = cuts[c], to = cuts[c + 1];
          if (to > from) total += refined(from, to, gauss(from, to), tolerance * (to - from) / height, 0);
        }
      }
    }
    return total;
  }

  // The number of separate pieces seen on `lines` lines evenly spread over
  // the height (shifted off the heights of the vertices); components whose
  // traced area is below `smallest` are not counted. Intervals of neighbouring
  // lines that do not overlap but lie close are looked at again on lines in
  // between, down to 1/65536 of the spacing, so that a slanted sliver
  // thinner than the spacing still holds together.
  int pieces(int lines, double smallest) const {
    const double h = (maxY_ - minY_) / lines;
    std::vector<int> parent;
    std::vector<double> area;
    std::vector<Interval> previous;
    int previousFirst = 0;
    auto root = [&](int i) {
      while (parent[static_cast<std::size_t>(i)] != i)
        i = parent[static_cast<std::size_t>(i)] = parent[static_cast<std::size_t>(parent[static_cast<std::size_t>(i)])];
      return i;
    };
    for (int k = 0; k < lines; ++k) {
      const double y = minY_ + (k + 0.5 + 0.0123456789) * h;
      const std::vector<Interval> now = line(y);
      const int first = static_cast<int>(parent.size());
      for (std::size_t i = 0; i < now.size(); ++i) {
        parent.push_back(static_cast<int>(parent.size()));
        area.push_back((now[i].second - now[i].first) * h);
        for (std::size_t j = 0; j < previous.size(); ++j)
          if (linked(previous[j], y - h, now[i], y, 16, 20 * h)) {
            const int a = root(previousFirst + static_cast<int>(j)), b = root(first + static_cast<int>(i));
            if (a != b)
              parent[static_cast<std::size_t>(a)] = b,
              area[static_cast<std::size_t>(b)] += area[static_cast<std::size_t>(a)];
          }
      }
      previous = now;
      previousFirst = first;
    }
    int count = 0;
    for (std::size_t i = 0; i < parent.size(); ++i)
      if (parent[i] == static_cast<int>(i) && area[i] >= smallest) ++count;
    return count;
  }

 private:
  struct Edge {
    double ax, ay, bx, by;
  };

  static bool overlap(const Interval& a, const Interval& b) { return a.first < b.second && b.first < a.second; }

  // Whether interval `a` of the line at height ya and `b` at yb belong to one
  // piece: they overlap, or both are linked to an interval of the line
  // halfway between them.
  bool linked(const Interval& a, double ya, const Interval& b, double yb, int depth, double near) const {
    if (overlap(a, b)) return true;
    if (depth == 0 || std::max(a.first, b.first) - std::min(a.second, b.second) > near) return false;
    const double ym = (ya + yb) / 2;
    for (const Interval& m : line(ym))
      if (linked(a, ya, m, ym, depth - 1, near / 2) && linked(m, ym, b, yb, depth - 1, near / 2)) return true;
    return false;
  }

  double gauss(double a, double b) const {
    static constexpr std::array<double, 4> kNode{-0.8611363115940526, -0.3399810435848563, 0.3399810435848563,
                                                 0.8611363115940526};
    static constexpr std::array<double, 4> kWeight{0.3478548451374538, 0.6521451548625461, 0.6521451548625461,
                                                   0.3478548451374538};
    double sum = 0;
    for (std::size_t q = 0; q < 4; ++q) sum += kWeight[q] * (b - a) / 2 * length((a + b) / 2 + kNode[q] * (b - a) / 2);
    return sum;
  }

  double refined(double a, double b, double whole, double tolerance, int depth) const {
    const double m = (a + b) / 2, left = gauss(a, m), right = gauss(m, b);
    if (std::abs(left + right - whole) <= tolerance || depth >= 40) return left + right;
    return refined(a, m, left, tolerance / 2, depth + 1) + refined(m, b, right, tolerance / 2, depth + 1);
  }

  double length(double y) const {
    double sum = 0;
    for (const Interval& i : line(y)) sum += i.second - i.first;
    return sum;
  }

  static std::vector<Interval> merged(std::vector<Interval> v) {
    std::sort(v.begin(), v.end());
    std::vector<Interval> out;
    for (const Interval& i : v) {
      if (!out.empty() && i.first <= out.back().second)
        out.back().second = std::max(out.back().second, i.second);
      else
        out.push_back(i);
    }
    return out;
  }

  // The trace on the line at height y of the points nearer than r to the edge.
  bool capsule(const Edge& e, double y, Interval& out) const {
    double lo = INFINITY, hi = -INFINITY;
    auto disk = [&](double cx, double cy) {
      const double dy = y - cy;
      if (std::abs(dy) >= r_) return;
      const double w = std::sqrt(r_ * r_ - dy * dy);
      lo = std::min(lo, cx - w), hi = std::max(hi, cx + w);
    };
    disk(e.ax, e.ay);
    disk(e.bx, e.by);
    // The rectangle: 0 <= (p - a).d <= |d|^2 and |(p - a) x d| < r |d|, each
    // a condition on x of the form lo <= s x + c <= hi.
    const double dx = e.bx - e.ax, dy = e.by - e.ay, len = std::hypot(dx, dy);
    double from = -INFINITY, to = INFINITY;
    auto slab = [&](double s, double c, double low, double high) {
      if (s == 0) {
        if (c < low || c > high) from = INFINITY, to = -INFINITY;
        return;
      }
      double x0 = (low - c) / s, x1 = (high - c) / s;
      if (x0 > x1) std::swap(x0, x1);
      from = std::max(from, x0), to = std::min(to, x1);
    };
    slab(dx, (y - e.ay) * dy - e.ax * dx, 0, len * len);
    // (x - ax) dy - (y - ay) dx, the cross product with its sign turned.
    slab(dy, -e.ax * dy - (y - e.ay) * dx, -r_ * len, r_ * len);
    if (from < to) lo = std::min(lo, from), hi = std::max(hi, to);
    if (lo >= hi) return false;
    out = {lo, hi};
    return true;
  }

  double r_;
  bool inward_;
  std::vector<Edge> edges_;
  double minY_ = INFINITY, maxY_ = -INFINITY;
};

}  // namespace quilta::test
