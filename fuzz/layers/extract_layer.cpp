// getOpusData over the core's one entry point: each request the listing names
// (and variants the choice bytes pick) is planned, then the full read and a
// window the choice bytes pick are filled into buffers of exactly the planned
// size (a plan that promises less than its fill writes is a heap overflow
// under ASan), and the window must equal the full read at its positions.
#include <optional>
#include <string>
#include <vector>

#include <cstring>

#include "common/harness.hpp"
#include "container/contents.hpp"
#include "container/directory.hpp"
#include "container/names.hpp"
#include "extract/block_plan.hpp"
#include "extract/request.hpp"

namespace kestrel::fuzz {

namespace {

// Names a request may carry, valid ones and a few the check refuses.
constexpr std::string_view kTypes[] = {"AB",   "TRC",  "SSC",    "RSC", "SIFG",  "RIFG",  "TR",    "KM",
                                       "RAM",  "REFL", "AB-CH2", "SPH", "ATR",   "PAS",   "ABARI", "EMIS",
                                       "SPOW", "XX",   "",       "IFG", "SC",    "TRC-CH2"};
constexpr std::string_view kDimensions[] = {"2D", "3D", "2D", "3D", "4D"};

struct Triple {
  std::string type, dimensions, deriv;
};

std::vector<Triple> requests_to_try(FuzzFile& file) {
  std::vector<Triple> out;
  const Choices& c = file.choices();
  Cursor cursor = file.open();
  if (auto directory = read_directory(cursor)) {
    for (const BlockTriple& t : list_contents(directory.value())) {
      if (out.size() >= 8) break;
      out.push_back({t.type, t.dimensions, t.derivative});
    }
  }
  // Each listed block once more with another derivative and the other dimension.
  const std::size_t listed = out.size();
  for (std::size_t i = 0; i < listed; ++i) {
    Triple t = out[i];
    t.deriv = std::string(kDerivativeNames[c.byte(i) % 4]);
    if (c.byte(i) & 4) t.dimensions = t.dimensions == "2D" ? "3D" : "2D";
    out.push_back(std::move(t));
  }
  out.push_back({std::string(kTypes[c.byte(8) % std::size(kTypes)]),
                 std::string(kDimensions[c.byte(9) % std::size(kDimensions)]),
                 c.byte(10) < 250 ? std::string(kDerivativeNames[c.byte(10) % 4]) : std::string("1der")});
  return out;
}

// Windows larger than this are not filled: the plan itself is what a
// crafted count must not blow up, and zero regions cost the caller nothing.
constexpr std::int64_t kMaxWindowValues = std::int64_t{4} << 20;

std::int64_t values_in(const BlockPlan& plan, const Window& w) {
  std::int64_t n = w.row_count();
  for (int i = 1; i < plan.ndim; ++i) n *= w.ranges[static_cast<std::size_t>(i)].size();
  return n;
}

struct Filled {
  std::vector<float> values;
  std::vector<double> times;
};

// Fills a window twice, into a buffer of garbage and into a zeroed one that
// the fill may leave alone where nothing is recorded: both must agree bit for bit.
std::optional<Filled> fill(FuzzFile& file, const BlockPlan& plan, const Window& w) {
  KESTREL_FUZZ_EXPECT(check(check_window(plan, w)), "a window inside the shape was refused");
  if (window_failure(plan, w) != nullptr) return std::nullopt;
  const std::int64_t n = values_in(plan, w);
  if (n > kMaxWindowValues || w.row_count() > kMaxWindowValues) return std::nullopt;
  Filled a{std::vector<float>(static_cast<std::size_t>(n), -7.5f),
           std::vector<double>(static_cast<std::size_t>(w.row_count()), -7.5)};
  if (!check(fill_window(file.source(), plan, w, {a.values.data(), false, a.times.data()}))) return std::nullopt;
  std::vector<float> zeroed(static_cast<std::size_t>(n), 0.0f);
  KESTREL_FUZZ_EXPECT(check(fill_window(file.source(), plan, w, {zeroed.data(), true, nullptr})),
                      "a second fill failed");
  KESTREL_FUZZ_EXPECT(a.values.empty() || std::memcmp(zeroed.data(), a.values.data(), a.values.size() * 4) == 0,
                      "a zeroed fill differs from a full fill");
  return a;
}

// A window chosen by the choice bytes: a range per axis, or for multi-region
// maps sometimes a list of rows (repeats and any order allowed).
Window chosen_window(const BlockPlan& plan, const Choices& c, std::vector<std::int64_t>& rows) {
  Window w;
  for (int i = 0; i < plan.ndim; ++i) {
    const std::int64_t length = plan.shape[static_cast<std::size_t>(i)];
    std::int64_t a = c.word(static_cast<std::size_t>(2 * i)) % (length + 1);
    std::int64_t b = c.word(static_cast<std::size_t>(2 * i + 1)) % (length + 1);
    if (a > b) std::swap(a, b);
    w.ranges[static_cast<std::size_t>(i)] = {a, b};
  }
  const bool regions = plan.kind == BlockKind::multi_region || plan.kind == BlockKind::multi_region_trace;
  if (regions && plan.shape[0] > 0 && (c.byte(7) & 1)) {
    for (std::size_t k = 0; k < std::size_t{(c.byte(7) >> 1) % 8u} + 1; ++k) rows.push_back(c.word(k) % plan.shape[0]);
    w.rows = std::span<const std::int64_t>(rows);
  }
  return w;
}

// The window's values are the full read's values at the window's positions.
void compare(const BlockPlan& plan, const Window& w, const Filled& window, const Filled& full) {
  const std::int64_t s1 = plan.ndim > 1 ? plan.shape[1] : 1;
  const std::int64_t s2 = plan.ndim > 2 ? plan.shape[2] : 1;
  const AxisRange r1 = plan.ndim > 1 ? w.ranges[1] : AxisRange{0, 1};
  const AxisRange r2 = plan.ndim > 2 ? w.ranges[2] : AxisRange{0, 1};
  std::size_t k = 0;
  for (std::int64_t i = 0; i < w.row_count(); ++i) {
    const std::int64_t row = w.rows ? (*w.rows)[static_cast<std::size_t>(i)] : w.ranges[0].start + i;
    for (std::int64_t j = r1.start; j < r1.stop; ++j) {
      for (std::int64_t q = r2.start; q < r2.stop; ++q, ++k) {
        const float expected = full.values[static_cast<std::size_t>((row * s1 + j) * s2 + q)];
        KESTREL_FUZZ_EXPECT(std::memcmp(&expected, &window.values[k], 4) == 0, "a window differs from the full read");
      }
    }
  }
}

void read_request(FuzzFile& file, const Triple& t) {
  auto request = check_request(t.type, t.dimensions, t.deriv);
  if (!check(request)) return;
  auto planned = plan_block(file.source(), std::move(request).value(), fuzz_limits());
  if (!check(planned)) return;
  const BlockPlan& plan = planned.value();
  for (int i = 0; i < plan.ndim; ++i) KESTREL_FUZZ_EXPECT(plan.shape[static_cast<std::size_t>(i)] >= 0, "a negative extent");
  if (plan.failure && plan.failure->kind == PlanFailure::Kind::core) check_error(plan.failure->error);
  const auto full = fill(file, plan, full_window(plan));
  std::vector<std::int64_t> rows;
  const Window w = chosen_window(plan, file.choices(), rows);
  const auto part = fill(file, plan, w);
  if (full && part) compare(plan, w, *part, *full);
  // The full read fails exactly when the plan does.
  KESTREL_FUZZ_EXPECT(plan.failure.has_value() == (window_failure(plan, full_window(plan)) != nullptr),
                      "the full window misses the plan's failure");
}

}  // namespace

void fuzz_extract_layer(FuzzFile& file) {
  for (const Triple& t : requests_to_try(file)) read_request(file, t);
}

}  // namespace kestrel::fuzz
