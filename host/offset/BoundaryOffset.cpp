#include "host/offset/BoundaryOffset.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numbers>
#include <numeric>
#include <utility>

namespace quilta::offset {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2 * std::numbers::pi;
// Longest arc drawn as one segment of the polyline: sixteen per quarter circle,
// or 1024 when the chords lie on the circle.
constexpr double kArcStep = kPi / 32;
constexpr double kChordStep = kPi / 2048;

Point operator+(Point a, Point b) { return {a.x + b.x, a.y + b.y}; }
Point operator-(Point a, Point b) { return {a.x - b.x, a.y - b.y}; }
Point operator*(double s, Point a) { return {s * a.x, s * a.y}; }
double cross(Point a, Point b) { return a.x * b.y - a.y * b.x; }
double dot(Point a, Point b) { return a.x * b.x + a.y * b.y; }
double norm(Point a) { return std::hypot(a.x, a.y); }
Point unit(double angle) { return {std::cos(angle), std::sin(angle)}; }

struct Box {
  double minX = std::numeric_limits<double>::infinity(), minY = std::numeric_limits<double>::infinity();
  double maxX = -std::numeric_limits<double>::infinity(), maxY = -std::numeric_limits<double>::infinity();
  void add(Point p) {
    minX = std::min(minX, p.x), minY = std::min(minY, p.y);
    maxX = std::max(maxX, p.x), maxY = std::max(maxY, p.y);
  }
  bool overlaps(const Box& o) const { return minX <= o.maxX && o.minX <= maxX && minY <= o.maxY && o.minY <= maxY; }
  bool empty() const { return minX > maxX; }
};

Box around(Point p, double r) { return {p.x - r, p.y - r, p.x + r, p.y + r}; }

// A uniform grid over boxes: which items may overlap a query box. Items are
// filed under every cell their box covers; a query reports each item once.
class Grid {
 public:
  Grid(const std::vector<Box>& boxes, double minCell) : stamp_(boxes.size(), 0) {
    Box all;
    for (const Box& b : boxes) {
      all.add({b.minX, b.minY});
      all.add({b.maxX, b.maxY});
    }
    if (boxes.empty()) return;
    x0_ = all.minX, y0_ = all.minY;
    const double w = all.maxX - all.minX, h = all.maxY - all.minY;
    const double n = static_cast<double>(boxes.size());
    cell_ = std::max({minCell, std::sqrt(w * h / n), std::max(w, h) / 4096, 1e-300});
    nx_ = static_cast<int>(w / cell_) + 1;
    ny_ = static_cast<int>(h / cell_) + 1;
    start_.assign(static_cast<std::size_t>(nx_) * static_cast<std::size_t>(ny_) + 1, 0);
    forCells(boxes, [&](std::size_t cell, int) { ++start_[cell + 1]; });
    std::partial_sum(start_.begin(), start_.end(), start_.begin());
    items_.resize(start_.back());
    std::vector<std::size_t> fill(start_.begin(), start_.end() - 1);
    forCells(boxes, [&](std::size_t cell, int id) { items_[fill[cell]++] = id; });
  }

  template <class F>
  void query(const Box& b, F&& visit) {
    if (items_.empty()) return;
    ++now_;
    int i0, i1, j0, j1;
    range(b, i0, i1, j0, j1);
    for (int j = j0; j <= j1; ++j)
      for (int i = i0; i <= i1; ++i) {
        const std::size_t cell =
            static_cast<std::size_t>(j) * static_cast<std::size_t>(nx_) + static_cast<std::size_t>(i);
        for (std::size_t k = start_[cell]; k < start_[cell + 1]; ++k) {
          const int id = items_[k];
          if (stamp_[static_cast<std::size_t>(id)] == now_) continue;
          stamp_[static_cast<std::size_t>(id)] = now_;
          if (!visit(id)) return;
        }
      }
  }

 private:
  void range(const Box& b, int& i0, int& i1, int& j0, int& j1) const {
    auto clampIndex = [](double v, int n) { return static_cast<int>(std::clamp(v, 0.0, static_cast<double>(n - 1))); };
    i0 = clampIndex((b.minX - x0_) / cell_, nx_), i1 = clampIndex((b.maxX - x0_) / cell_, nx_);
    j0 = clampIndex((b.minY - y0_) / cell_, ny_), j1 = clampIndex((b.maxY - y0_) / cell_, ny_);
  }
  template <class F>
  void forCells(const std::vector<Box>& boxes, F&& f) const {
    for (std::size_t id = 0; id < boxes.size(); ++id) {
      int i0, i1, j0, j1;
      range(boxes[id], i0, i1, j0, j1);
      for (int j = j0; j <= j1; ++j)
        for (int i = i0; i <= i1; ++i)
          f(static_cast<std::size_t>(j) * static_cast<std::size_t>(nx_) + static_cast<std::size_t>(i),
            static_cast<int>(id));
    }
  }

  double x0_ = 0, y0_ = 0, cell_ = 1;
  int nx_ = 1, ny_ = 1;
  std::vector<std::size_t> start_;
  std::vector<int> items_;
  std::vector<std::uint32_t> stamp_;
  std::uint32_t now_ = 0;
};

// A generator of the offset boundary, oriented with the offset on its left.
struct Curve {
  bool arc = false;
  Point p, q;                // start and end
  Point c;                   // arc: centre (the corner)
  double a0 = 0;             // arc: direction of the start from the centre
  double sweep = 0;          // arc: signed angle swept (negative: clockwise)
  int start = -1, end = -1;  // nodes of the ends
  int prev = -1, next = -1;  // the generators that continue it smoothly at its ends
  Box box;
};

struct Split {
  double t;
  int node;
};

// A stretch of a generator between two consecutive cuts.
struct Stretch {
  int curve;
  double t0, t1;
  int from, to;  // nodes (merged)
};

class Builder {
 public:
  Builder(const std::vector<Part>& parts, double distance, bool inward, double nudge, Drawing drawing)
      : inward_(inward),
        drawing_(drawing),
        r_(inward ? distance + nudge : distance - nudge),
        keepBelow_(r_ - nudge / 2) {
    // Nodes nearer than this are one: far above the rounding of crossings
    // (which grows where curves cross at a shallow angle), far below the gaps
    // the nudge opens. Inward those are lenses between circles that now
    // overlap, as wide as the root of radius times nudge; outward the nudge
    // parts what touched by just twice itself.
    merge_ = inward ? 1e-3 * std::sqrt(r_ * nudge) : nudge / 4;
    for (const Part& part : parts) {
      // Inward, a part too narrow for a disk of the distance has no offset and
      // cannot influence the others' (their points are nearer their own
      // boundary), so it is left out whole. Outward, a hole too narrow for
      // the disk is filled: its generators go, its edges stay for the others.
      Box shellBox;
      for (Point p : part.shell) shellBox.add(p);
      if (inward && narrow(shellBox)) continue;
      addRing(part.shell, true);
      for (const Ring& hole : part.holes) {
        Box holeBox;
        for (Point p : hole) holeBox.add(p);
        addRing(hole, inward || !narrow(holeBox));
      }
    }
  }

  BoundaryOffset run() {
    BoundaryOffset out;
    if (curves_.empty()) return out;
    cutAtCrossings();
    mergeNodes();
    std::vector<Stretch> kept = keptStretches();
    std::vector<std::vector<int>> rings;
    if (!assemble(kept, rings)) {
      out.resolved = false;
      return out;
    }
    std::vector<BoundaryRing> drawn;
    drawn.reserve(rings.size());
    for (const auto& ring : rings) drawn.push_back(draw(kept, ring));
    out.pieces = group(std::move(drawn));
    return out;
  }

 private:
  bool narrow(const Box& b) const { return b.empty() || 2 * r_ >= std::min(b.maxX - b.minX, b.maxY - b.minY); }

  int newNode(Point p) {
    nodes_.push_back(p);
    return static_cast<int>(nodes_.size()) - 1;
  }

  // The generators of one ring (the region on its left) and its edges.
  void addRing(const Ring& ring, bool generate) {
    std::vector<Point> v;
    v.reserve(ring.size());
    for (Point p : ring)
      if (v.empty() || p.x != v.back().x || p.y != v.back().y) v.push_back(p);
    while (v.size() > 1 && v.front().x == v.back().x && v.front().y == v.back().y) v.pop_back();
    const std::size_t n = v.size();
    if (n < 3) return;
    for (std::size_t i = 0; i < n; ++i) {
      const Point a = v[i], b = v[(i + 1) % n];
      Box box;
      box.add(a);
      box.add(b);
      edges_.push_back({a, b});
      edgeBoxes_.push_back(box);
    }
    if (!generate) return;

    // The offset side: left of the edge inward, right outward.
    const double side = inward_ ? 1.0 : -1.0;
    std::vector<Point> normal(n);
    for (std::size_t i = 0; i < n; ++i) {
      const Point d = v[(i + 1) % n] - v[i];
      const double len = norm(d);
      normal[i] = {-side * d.y / len, side * d.x / len};
    }
    const std::size_t first = curves_.size();
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t j = (i + 1) % n;  // the corner at the end of edge i
      Curve s;
      s.p = v[i] + r_ * normal[i];
      s.q = v[j] + r_ * normal[i];
      s.box.add(s.p);
      s.box.add(s.q);
      curves_.push_back(s);
      const Point ei = v[j] - v[i], ej = v[(j + 1) % n] - v[j];
      const double turn = cross(ei, ej);
      // An arc where the corner turns away from the offset side: right turns
      // inward (reflex corners), left turns outward (convex corners).
      const bool arc = inward_ ? turn < 0 : turn > 0;
      const bool straight = turn == 0 && dot(ei, ej) > 0;
      if (arc) {
        Curve a;
        a.arc = true;
        a.c = v[j];
        a.p = s.q;
        a.q = v[j] + r_ * normal[j];
        a.a0 = std::atan2(normal[i].y, normal[i].x);
        a.sweep = std::atan2(cross(normal[i], normal[j]), dot(normal[i], normal[j]));
        a.box = arcBox(a);
        curves_.push_back(a);
      } else if (straight) {
        curves_.back().q = v[j] + r_ * normal[j];  // one line: the same point
        curves_.back().next = -2;                  // joined to the next generator
      }
    }
    // Nodes: a segment's end is shared with the arc that follows it, an arc's
    // end with the next segment's start, and a straight corner joins two
    // segments; elsewhere (corners turning towards the offset side) the two
    // segments end apart and are joined only where they cross.
    const std::size_t m = curves_.size() - first;
    for (std::size_t k = 0; k < m; ++k) {
      Curve& cur = curves_[first + k];
      Curve& nxt = curves_[first + (k + 1) % m];
      const bool joined = nxt.arc || cur.arc || cur.next == -2;
      cur.next = -1;
      if (cur.start < 0) cur.start = newNode(cur.p);
      if (joined) {
        if (nxt.start < 0) nxt.start = newNode(nxt.p);
        cur.end = nxt.start;
        cur.next = static_cast<int>(first + (k + 1) % m);
        nxt.prev = static_cast<int>(first + k);
      } else {
        cur.end = newNode(cur.q);
      }
    }
  }

  Box arcBox(const Curve& a) const {
    Box b;
    b.add(a.p);
    b.add(a.q);
    for (int k = 0; k < 4; ++k) {
      const double angle = k * kPi / 2;
      if (onArc(a, angle, 0)) b.add(a.c + r_ * unit(angle));
    }
    return b;
  }

  // Position along the arc (0 at its start, 1 at its end) of the direction
  // `angle` from its centre; `slack` extends the arc by that angle at both ends.
  static double arcParameter(const Curve& a, double angle, double slack) {
    double d = a.sweep >= 0 ? angle - a.a0 : a.a0 - angle;
    d = std::fmod(d, kTwoPi);
    if (d < 0) d += kTwoPi;
    if (d > kTwoPi - slack) d -= kTwoPi;
    return d / std::abs(a.sweep);
  }
  static bool onArc(const Curve& a, double angle, double slack) {
    const double t = arcParameter(a, angle, slack);
    const double s = slack / std::max(std::abs(a.sweep), 1e-300);
    return t >= -s && t <= 1 + s;
  }

  Point pointAt(const Curve& c, double t) const {
    if (!c.arc) return c.p + t * (c.q - c.p);
    return c.c + r_ * unit(c.a0 + t * c.sweep);
  }
  Point tangentAt(const Curve& c, double t) const {
    if (!c.arc) return c.q - c.p;
    const Point u = unit(c.a0 + t * c.sweep);
    return c.sweep >= 0 ? Point{-u.y, u.x} : Point{u.y, -u.x};
  }

  // Where `x`, a point on the generator's line or circle, lies along it; false
  // when it is off the generator by more than the merging distance.
  bool parameter(const Curve& c, Point x, double& t) const {
    if (c.arc) {
      const double angle = std::atan2(x.y - c.c.y, x.x - c.c.x);
      const double slack = merge_ / r_;
      if (!onArc(c, angle, slack)) return false;
      t = std::clamp(arcParameter(c, angle, slack), 0.0, 1.0);
      return true;
    }
    const Point d = c.q - c.p;
    const double len2 = dot(d, d);
    const double s = merge_ / std::sqrt(len2);
    t = dot(x - c.p, d) / len2;
    if (t < -s || t > 1 + s) return false;
    t = std::clamp(t, 0.0, 1.0);
    return true;
  }

  void crossing(int i, int j, Point x) {
    double ti, tj;
    if (!parameter(curves_[static_cast<std::size_t>(i)], x, ti) ||
        !parameter(curves_[static_cast<std::size_t>(j)], x, tj))
      return;
    const int node = newNode(x);
    splits_[static_cast<std::size_t>(i)].push_back({ti, node});
    splits_[static_cast<std::size_t>(j)].push_back({tj, node});
  }

  void intersect(int i, int j) {
    const Curve& a = curves_[static_cast<std::size_t>(i)];
    const Curve& b = curves_[static_cast<std::size_t>(j)];
    if (!a.arc && !b.arc) {
      const Point d1 = a.q - a.p, d2 = b.q - b.p;
      const double den = cross(d1, d2);
      if (den == 0) return;  // parallel: offset lines meet only end to end
      const double t = cross(b.p - a.p, d2) / den;
      crossing(i, j, a.p + t * d1);
    } else if (a.arc && b.arc) {
      const Point w = b.c - a.c;
      const double d2 = dot(w, w);
      if (d2 >= 4 * r_ * r_ || d2 == 0) return;
      const double d = std::sqrt(d2);
      const double h = std::sqrt(r_ * r_ - d2 / 4);
      const Point mid = a.c + 0.5 * w;
      const Point perp{-w.y / d, w.x / d};
      crossing(i, j, mid + h * perp);
      crossing(i, j, mid - h * perp);
    } else {
      const Curve& s = a.arc ? b : a;
      const Curve& c = a.arc ? a : b;
      const Point d = s.q - s.p;
      const double len2 = dot(d, d);
      const double t0 = dot(c.c - s.p, d) / len2;
      const Point foot = s.p + t0 * d;
      const Point f = foot - c.c;
      const double h2 = dot(f, f);
      if (h2 >= r_ * r_) return;
      const double dt = std::sqrt((r_ * r_ - h2) / len2);
      crossing(i, j, foot + dt * d);
      crossing(i, j, foot - dt * d);
    }
  }

  void cutAtCrossings() {
    splits_.assign(curves_.size(), {});
    std::vector<Box> boxes;
    boxes.reserve(curves_.size());
    for (const Curve& c : curves_) boxes.push_back(c.box);
    Grid grid(boxes, r_);
    for (std::size_t i = 0; i < curves_.size(); ++i) {
      const Curve& a = curves_[i];
      const int ii = static_cast<int>(i);
      grid.query(a.box, [&](int j) {
        if (j <= ii || j == a.next || j == a.prev) return true;
        if (a.box.overlaps(curves_[static_cast<std::size_t>(j)].box)) intersect(ii, j);
        return true;
      });
    }
  }

  int root(int n) {
    while (parent_[static_cast<std::size_t>(n)] != n) {
      parent_[static_cast<std::size_t>(n)] = parent_[static_cast<std::size_t>(parent_[static_cast<std::size_t>(n)])];
      n = parent_[static_cast<std::size_t>(n)];
    }
    return n;
  }

  // Nodes closer than the merging distance are one node: a crossing found on
  // both generators that meet at a corner, or ends that coincide.
  void mergeNodes() {
    parent_.resize(nodes_.size());
    std::iota(parent_.begin(), parent_.end(), 0);
    std::vector<int> order(nodes_.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
      return nodes_[static_cast<std::size_t>(a)].x < nodes_[static_cast<std::size_t>(b)].x;
    });
    for (std::size_t i = 0; i < order.size(); ++i) {
      const Point p = nodes_[static_cast<std::size_t>(order[i])];
      for (std::size_t k = i + 1; k < order.size(); ++k) {
        const Point q = nodes_[static_cast<std::size_t>(order[k])];
        if (q.x - p.x > merge_) break;
        if (std::abs(q.y - p.y) <= merge_ && norm(q - p) <= merge_) {
          const int a = root(order[i]), b = root(order[k]);
          if (a != b) parent_[static_cast<std::size_t>(std::max(a, b))] = std::min(a, b);
        }
      }
    }
  }

  // Whether a point of a generator is at least the distance from every edge.
  bool clear(Point m, Grid& edges) {
    bool isClear = true;
    const double limit = keepBelow_ * keepBelow_;
    edges.query(around(m, r_), [&](int e) {
      const auto& [a, b] = edges_[static_cast<std::size_t>(e)];
      const Point d = b - a;
      const double len2 = dot(d, d);
      const double t = len2 > 0 ? std::clamp(dot(m - a, d) / len2, 0.0, 1.0) : 0.0;
      const Point f = m - (a + t * d);
      if (dot(f, f) < limit) isClear = false;
      return isClear;
    });
    return isClear;
  }

  std::vector<Stretch> keptStretches() {
    Grid edges(edgeBoxes_, r_);
    std::vector<Stretch> kept;
    for (std::size_t i = 0; i < curves_.size(); ++i) {
      const Curve& c = curves_[i];
      std::vector<Split>& cuts = splits_[i];
      cuts.push_back({0.0, c.start});
      cuts.push_back({1.0, c.end});
      std::sort(cuts.begin(), cuts.end(), [](const Split& a, const Split& b) { return a.t < b.t; });
      const double scale = c.arc ? r_ * std::abs(c.sweep) : norm(c.q - c.p);
      for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
        const int from = root(cuts[k].node), to = root(cuts[k + 1].node);
        const double t0 = cuts[k].t, t1 = cuts[k + 1].t;
        if (from == to && (t1 - t0) * scale <= 4 * merge_) continue;  // a stretch of no length
        if (!clear(pointAt(c, (t0 + t1) / 2), edges)) continue;
        kept.push_back({static_cast<int>(i), t0, t1, from, to});
      }
    }
    return kept;
  }

  // Joins the kept stretches into closed rings. At a node where several
  // stretches leave, the ring goes on with the first one clockwise from the
  // way it came in, which keeps pieces that only touch there apart.
  bool assemble(const std::vector<Stretch>& kept, std::vector<std::vector<int>>& rings) {
    std::vector<int> firstOut(nodes_.size(), -1), nextOut(kept.size(), -1);
    for (std::size_t k = kept.size(); k-- > 0;) {
      nextOut[k] = firstOut[static_cast<std::size_t>(kept[k].from)];
      firstOut[static_cast<std::size_t>(kept[k].from)] = static_cast<int>(k);
    }
    std::vector<char> used(kept.size(), 0);
    for (std::size_t s = 0; s < kept.size(); ++s) {
      if (used[s]) continue;
      std::vector<int> ring;
      int cur = static_cast<int>(s);
      for (;;) {
        used[static_cast<std::size_t>(cur)] = 1;
        ring.push_back(cur);
        const Stretch& in = kept[static_cast<std::size_t>(cur)];
        int chosen = -1, options = 0;
        for (int k = firstOut[static_cast<std::size_t>(in.to)]; k >= 0; k = nextOut[static_cast<std::size_t>(k)])
          if (!used[static_cast<std::size_t>(k)] || k == static_cast<int>(s)) ++options, chosen = k;
        if (options == 0) return false;
        if (options > 1) {
          const Curve& ci = curves_[static_cast<std::size_t>(in.curve)];
          const Point back = -1.0 * tangentAt(ci, in.t1);
          const double from = std::atan2(back.y, back.x);
          double best = std::numeric_limits<double>::infinity();
          for (int k = firstOut[static_cast<std::size_t>(in.to)]; k >= 0; k = nextOut[static_cast<std::size_t>(k)]) {
            if (used[static_cast<std::size_t>(k)] && k != static_cast<int>(s)) continue;
            const Stretch& out = kept[static_cast<std::size_t>(k)];
            const Point w = tangentAt(curves_[static_cast<std::size_t>(out.curve)], out.t0);
            double turn = std::fmod(from - std::atan2(w.y, w.x), kTwoPi);
            if (turn <= 0) turn += kTwoPi;
            if (turn < best) best = turn, chosen = k;
          }
        }
        if (chosen == static_cast<int>(s)) break;
        cur = chosen;
      }
      rings.push_back(std::move(ring));
    }
    return true;
  }

  // The exact area of a ring and its polyline.
  BoundaryRing draw(const std::vector<Stretch>& kept, const std::vector<int>& ring) const {
    BoundaryRing out;
    double twiceArea = 0;
    for (int k : ring) {
      const Stretch& s = kept[static_cast<std::size_t>(k)];
      const Curve& c = curves_[static_cast<std::size_t>(s.curve)];
      const Point p = nodes_[static_cast<std::size_t>(s.from)], q = nodes_[static_cast<std::size_t>(s.to)];
      out.polyline.push_back(p);
      if (!c.arc) {
        twiceArea += cross(p, q);
        continue;
      }
      const double sweep = (s.t1 - s.t0) * c.sweep;
      twiceArea += cross(c.c, q - p) + r_ * r_ * sweep;
      drawArc(c, s.t0, sweep, p, q, out.polyline);
    }
    out.polyline.push_back(out.polyline.front());
    out.area = twiceArea / 2;
    return out;
  }

  // The inner vertices of an arc's chain, all at one radius: on the circle,
  // or chosen so that the chain encloses with the centre exactly the area of
  // the arc's sector.
  void drawArc(const Curve& c, double t0, double sweep, Point p, Point q, std::vector<Point>& line) const {
    if (std::abs(sweep) * r_ < 4 * merge_) return;  // a chord is the arc to rounding
    const double start = c.a0 + t0 * c.sweep;
    if (drawing_ == Drawing::kChords) {
      const int n = static_cast<int>(std::ceil(std::abs(sweep) / kChordStep));
      for (int k = 1; k < n; ++k) line.push_back(c.c + r_ * unit(start + k * sweep / n));
      return;
    }
    const int n = std::max(2, static_cast<int>(std::ceil(std::abs(sweep) / kArcStep)));
    const double step = sweep / n;
    std::vector<Point> e(static_cast<std::size_t>(n) - 1);
    for (int k = 1; k < n; ++k) e[static_cast<std::size_t>(k) - 1] = unit(start + k * step);
    // Sector area (doubled) of the chain at inner radius x: alpha x + beta x^2.
    double alpha = cross(p - c.c, e.front()) + cross(e.back(), q - c.c);
    double beta = (n - 2) * std::sin(step);
    double target = r_ * r_ * sweep;
    if (sweep < 0) alpha = -alpha, beta = -beta, target = -target;
    const double x = 2 * target / (alpha + std::sqrt(std::max(0.0, alpha * alpha + 4 * beta * target)));
    for (const Point& u : e) line.push_back(c.c + x * u);
  }

  // Outer boundaries with the holes inside them. A hole goes to the smallest
  // outer boundary around it.
  std::vector<BoundaryPiece> group(std::vector<BoundaryRing> rings) const {
    std::vector<BoundaryPiece> pieces;
    std::vector<BoundaryRing> holes;
    for (BoundaryRing& r : rings) {
      if (r.area > 0) {
        BoundaryPiece piece;
        piece.area = r.area;
        piece.shell = std::move(r);
        pieces.push_back(std::move(piece));
      } else if (r.area < 0) {
        holes.push_back(std::move(r));
      }
    }
    for (BoundaryRing& h : holes) {
      BoundaryPiece* home = nullptr;
      if (pieces.size() == 1) {
        home = &pieces.front();
      } else {
        const Point probe = probePoint(h.polyline);
        for (BoundaryPiece& p : pieces)
          if ((!home || p.shell.area < home->shell.area) && contains(p.shell.polyline, probe)) home = &p;
        if (!home)
          for (BoundaryPiece& p : pieces)
            if (!home || p.shell.area > home->shell.area) home = &p;
      }
      if (!home) continue;
      home->area += h.area;
      home->holes.push_back(std::move(h));
    }
    return pieces;
  }

  // A point of a ring away from its vertices: the middle of its longest side.
  static Point probePoint(const std::vector<Point>& line) {
    std::size_t best = 0;
    double longest = -1;
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
      const double len = norm(line[i + 1] - line[i]);
      if (len > longest) longest = len, best = i;
    }
    return 0.5 * (line[best] + line[best + 1]);
  }

  static bool contains(const std::vector<Point>& line, Point p) {
    bool inside = false;
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
      const Point a = line[i], b = line[i + 1];
      if ((a.y > p.y) != (b.y > p.y) && p.x < a.x + (p.y - a.y) / (b.y - a.y) * (b.x - a.x)) inside = !inside;
    }
    return inside;
  }

  bool inward_;
  Drawing drawing_;
  double r_;          // the nudged distance
  double keepBelow_;  // a point nearer an edge than this is not on the offset
  double merge_ = 0;  // nodes nearer than this are one
  std::vector<Curve> curves_;
  std::vector<std::pair<Point, Point>> edges_;
  std::vector<Box> edgeBoxes_;
  std::vector<Point> nodes_;
  std::vector<int> parent_;
  std::vector<std::vector<Split>> splits_;
};

}  // namespace

BoundaryOffset offsetBoundary(const std::vector<Part>& parts, double distance, bool inward, double nudge,
                              Drawing drawing) {
  return Builder(parts, distance, inward, nudge, drawing).run();
}

double polylineArea(const std::vector<Point>& ring) {
  if (ring.size() < 3) return 0;
  double twice = 0;
  const Point o = ring.front();
  for (std::size_t i = 0; i + 1 < ring.size(); ++i) twice += cross(ring[i] - o, ring[i + 1] - o);
  return twice / 2;
}

}  // namespace quilta::offset
