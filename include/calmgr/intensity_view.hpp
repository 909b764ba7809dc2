/*
 * calmgr/intensity_view.hpp - calmgr::IntensityView, a non-owning, read-only
 * view of an intensity calibration: typed getters that check every status,
 * a snapshot of all settings, the table's grid inputs, the diagnosis, the
 * lookups (plain and with a policy), the inverse lookup and the report of
 * the fit behind the table.
 * Part of the header-only C++ layer; include <calmgr.hpp>.
 */
#ifndef CALMGR_INTENSITY_VIEW_HPP
#define CALMGR_INTENSITY_VIEW_HPP

#include "calmgr/findings.hpp"
#include "calmgr/fit_report.hpp"
#include "calmgr/inverse.hpp"
#include "calmgr/lookup.hpp"

namespace calmgr {

/* Every setting of an intensity calibration, read at one moment. */
struct IntensitySnapshot {
    std::string name;
    std::string units;
    CalType type = CalType::Standard;
    Fit fit = Fit::Piecewise;
    Options options = Options::None;
    Range range;
    double table_min = 0.0;
    double table_max = 0.0;
    double black_level = 0.0;
    double incident_level = 0.0;
    int16_t attribute = 0;
    std::vector<CalPoint> points;
    std::vector<double> table;
    std::vector<double> inputs;  // the input value of each table entry (table_inputs())
};

namespace detail {
// Accepts writable contiguous ranges of double or float (the lookups'
// output buffers); anything else leaves the overload out.
template <class R>
using if_output_range = std::enable_if_t<is_output<element_of<R>>, int>;
// The sample type of a contiguous range, without its const.
template <class R>
using sample_of = std::remove_const_t<element_of<const R>>;
}  // namespace detail

class IntensityView {
public:
    /* A view of a calibration someone else owns (null is refused). The view
     * never destroys it and must not outlive it. */
    explicit IntensityView(const IntensityCal* cal) : cal_(cal) {
        detail::require(cal != nullptr, "IntensityView: null handle");
    }

    /* The handle, for the C functions; const, so that it cannot be handed
     * to IntensityCalibration::adopt_owned by accident. */
    [[nodiscard]] const IntensityCal* get() const noexcept { return cal_; }
    explicit operator bool() const noexcept { return cal_ != nullptr; }

    [[nodiscard]] std::string name() const { return get_string(ICAL_GET_NAME); }
    [[nodiscard]] std::string units() const { return get_string(ICAL_GET_UNITS); }
    [[nodiscard]] CalType type() const { return static_cast<CalType>(get<uint32_t>(ICAL_GET_TYPE)); }
    [[nodiscard]] double range_min() const { return get<double>(ICAL_GET_RANGE_MIN); }
    [[nodiscard]] double range_max() const { return get<double>(ICAL_GET_RANGE_MAX); }
    [[nodiscard]] Range range() const { return Range{range_min(), range_max()}; }
    [[nodiscard]] std::size_t num_points() const { return get<uint16_t>(ICAL_GET_NUM_POINTS); }
    [[nodiscard]] std::vector<CalPoint> points() const {
        std::vector<CalPoint> points(num_points());
        if (!points.empty()) control(ICAL_GET_POINTS, 0, 0, points.data());
        return points;
    }
    [[nodiscard]] CalPoint point(std::size_t index) const {
        CalPoint p{};
        control(ICAL_GET_POINT, 0, point_index(index), &p.input);
        control(ICAL_GET_POINT, 1, point_index(index), &p.calibrated);
        return p;
    }
    [[nodiscard]] double black_level() const { return get<double>(ICAL_GET_BLACK_LEVEL); }
    [[nodiscard]] double incident_level() const { return get<double>(ICAL_GET_INCIDENT_LEVEL); }
    [[nodiscard]] double table_min() const { return get<double>(ICAL_GET_TABLE_MIN); }
    [[nodiscard]] double table_max() const { return get<double>(ICAL_GET_TABLE_MAX); }
    [[nodiscard]] std::size_t table_size() const { return get<uint16_t>(ICAL_GET_TABLE_SIZE); }
    [[nodiscard]] std::vector<double> table() const {
        std::vector<double> table(table_size());
        if (!table.empty()) control(ICAL_GET_TABLE, 0, 0, table.data());
        return table;
    }
    [[nodiscard]] Fit fit_type() const { return static_cast<Fit>(get<int16_t>(ICAL_GET_FIT_TYPE)); }
    [[nodiscard]] Options options() const { return static_cast<Options>(get<uint16_t>(ICAL_GET_OPTIONS)); }
    [[nodiscard]] int16_t attribute() const { return get<int16_t>(ICAL_GET_ATTRIBUTE); }

    /* The rule by which the builder for the current settings places the
     * table's entries on the range (see GridRule): the running sum for the
     * two-point line, the least-squares, exponential and logarithmic fits
     * and optical density (whose builder evaluates the entries between the
     * levels at black_level + k * step, less than one step below these
     * grid inputs); the product for piecewise interpolation and for a
     * caller-supplied table. */
    [[nodiscard]] GridRule grid_rule() const {
        switch (type()) {
            case CalType::Density: return GridRule::RunningSum;
            case CalType::Standard: break;
            default: return GridRule::Product;
        }
        if (num_points() == 2) return GridRule::RunningSum;
        switch (fit_type()) {
            case Fit::Poly1: case Fit::Poly2: case Fit::Poly3:
            case Fit::Exp1: case Fit::Exp2: case Fit::Exp3:
            case Fit::Log1: case Fit::Log2: case Fit::Log3:
            case Fit::Density:
                return GridRule::RunningSum;
            default:
                return GridRule::Product;
        }
    }
    /* The input value of each table entry, bit for bit as the library
     * computed it: grid_inputs(range(), table_size(), grid_rule()). Pair it
     * with table() to list or plot the table. */
    [[nodiscard]] std::vector<double> table_inputs() const {
        return grid_inputs(range(), table_size(), grid_rule());
    }

    /* Every setting, the points, the table and its inputs. */
    [[nodiscard]] IntensitySnapshot snapshot() const {
        IntensitySnapshot s;
        s.name = name();
        s.units = units();
        s.type = type();
        s.fit = fit_type();
        s.options = options();
        s.range = range();
        s.table_min = table_min();
        s.table_max = table_max();
        s.black_level = black_level();
        s.incident_level = incident_level();
        s.attribute = attribute();
        s.points = points();
        s.table = table();
        s.inputs = grid_inputs(s.range, s.table.size(), grid_rule());
        return s;
    }

    /* What makes the calibration's numbers untrustworthy, in the library's
     * fixed order (the range, the points in index order, the table); empty
     * for a table a careful user would accept. Changes nothing. */
    [[nodiscard]] std::vector<Finding> diagnose() const {
        const IntensityCal* cal = handle();
        std::vector<CalFinding> raw;
        uint32_t count = 0;
        detail::check(ICalDiagnose(cal, nullptr, 0, &count), "ICalDiagnose");
        while (raw.size() < count) {
            raw.resize(count);
            detail::check(ICalDiagnose(cal, raw.data(), static_cast<uint32_t>(raw.size()), &count),
                          "ICalDiagnose");
        }
        std::vector<Finding> findings;
        for (std::size_t i = 0; i < count; ++i) findings.push_back(detail::finding_of(raw[i]));
        return findings;
    }

    /* Lookups into a caller's buffer: `in` a contiguous range of uint8_t,
     * uint16_t, float or double samples, `out` a writable one of double or
     * float of the same size (an lvalue container or a view, never a
     * temporary container). Layout::Rgb applies to 8- and 16-bit samples. */
    template <class InRange, class OutRange, detail::if_output_range<OutRange> = 0>
    void lookup(const InRange& in, OutRange&& out, Layout layout = Layout::Plain) const {
        using In = detail::sample_of<InRange>;
        using Out = detail::element_of<OutRange>;
        Span<Out> o(std::forward<OutRange>(out));
        calmgr::lookup<In, Out>(handle(), Span<const In>(in), o, layout);
    }
    /* Returning form: lookup<float>(samples) for floats, doubles by default. */
    template <class Out = double, class InRange>
    [[nodiscard]] std::vector<Out> lookup(const InRange& in, Layout layout = Layout::Plain) const {
        std::vector<Out> out(std::size(in));
        lookup(in, out, layout);
        return out;
    }
    /* Bit-packed samples: count pixels, 8 per byte, most significant first. */
    template <class OutRange, detail::if_output_range<OutRange> = 0>
    void lookup_bits(Span<const uint8_t> packed, std::size_t count, OutRange&& out) const {
        Span<detail::element_of<OutRange>> o(std::forward<OutRange>(out));
        calmgr::lookup_bits(handle(), packed, count, o);
    }
    template <class Out = double>
    [[nodiscard]] std::vector<Out> lookup_bits(Span<const uint8_t> packed, std::size_t count) const {
        std::vector<Out> out(count);
        lookup_bits(packed, count, out);
        return out;
    }

    /* Lookups with a policy: values outside [range_min, range_max] give NaN
     * under Policy::OutsideNan, NaN samples give NaN under
     * Policy::NanPropagate (combine with |); every other value is exactly
     * what lookup() gives. Returns the counts of values below, above and
     * NaN, whatever the policy (Policy::Clamp only counts). */
    template <class InRange, class OutRange, detail::if_output_range<OutRange> = 0>
    LookupStats lookup(const InRange& in, OutRange&& out, Policy policy, Layout layout = Layout::Plain) const {
        using In = detail::sample_of<InRange>;
        using Out = detail::element_of<OutRange>;
        Span<Out> o(std::forward<OutRange>(out));
        return calmgr::lookup<In, Out>(handle(), Span<const In>(in), o, policy, layout);
    }
    /* Returning form: the values and the counts. */
    template <class Out = double, class InRange>
    [[nodiscard]] LookupResult<Out> lookup(const InRange& in, Policy policy, Layout layout = Layout::Plain) const {
        LookupResult<Out> r;
        r.values.resize(std::size(in));
        r.stats = lookup(in, r.values, policy, layout);
        return r;
    }

    /* Calibrated values back to input values (see calmgr::inverse): NaN
     * where a value is unresolved, and their count. */
    [[nodiscard]] InverseResult inverse(Span<const double> values) const {
        InverseResult r;
        r.inputs.resize(values.size());
        r.unresolved = inverse(values, r.inputs);
        return r;
    }
    /* Into a caller's buffer of the same size (may be values itself);
     * returns the number of unresolved values. */
    std::size_t inverse(Span<const double> values, Span<double> inputs) const {
        return calmgr::inverse(handle(), values, inputs);
    }

    /* The report of the least-squares fit behind the table of a standard
     * curve with three or more points, in the space its builder fits: x is
     * the input, y
     *   Fit::Poly1..Poly3   the calibrated value (the table's own curve);
     *   Fit::Exp1..Exp3     ln of the calibrated value, over the points
     *                       where it is positive;
     *   Fit::Log1..Log3     e^-calibrated;
     *   Fit::Density        the transmittance 10^-calibrated (degree 1).
     * Statistics such as R^2 are those of that space. Throws calmgr::Error
     * (CAL_ERR_INVALID) saying why when no fit lies behind the table (another
     * type or fit type, two points) or the fit is not determined (with the
     * findings that explain it). */
    [[nodiscard]] FitReport fit_report() const {
        CalFitReport r;
        const int32_t status = ICalFitReport(handle(), &r);
        if (status == CAL_OK) return detail::report_of(r);
        if (status != CAL_ERR_INVALID) throw Error(status, "ICalFitReport");
        const Fit fit = fit_type();
        const std::string name = fit_name(fit).empty() ? "code " + std::to_string(static_cast<int>(fit))
                                                       : std::string(fit_name(fit));
        std::string cause = "fit_report: ";
        if (type() != CalType::Standard) {
            cause += "only a standard curve's table comes from a fit";
        } else if (num_points() == 2) {
            cause += "the table of two points is the line through both, not a fit";
        } else if (!has_fit_report(fit)) {
            cause += "fit type " + name + " builds its table without a least-squares fit";
        } else {
            cause = with_findings(cause + "the " + name + " fit is not determined", ": ");
        }
        throw Error(status, cause);
    }
    /* Whether fit_report() can describe a calibration of this fit type. */
    [[nodiscard]] static constexpr bool has_fit_report(Fit fit) noexcept {
        switch (fit) {
            case Fit::Poly1: case Fit::Poly2: case Fit::Poly3:
            case Fit::Density:
            case Fit::Exp1: case Fit::Exp2: case Fit::Exp3:
            case Fit::Log1: case Fit::Log2: case Fit::Log3:
                return true;
            default:
                return false;
        }
    }

protected:
    IntensityView() noexcept = default;

    // The handle of a calibration that is there; an empty object (moved
    // from or released) refuses every use.
    const IntensityCal* handle() const {
        detail::require(cal_ != nullptr, "intensity calibration is empty (moved from or released)");
        return cal_;
    }
    // ICalControl on the calibration; the getters change nothing, so the
    // const handle may be passed on.
    void control(uint32_t code, int32_t value, int32_t index, void* data) const {
        const int32_t status = ICalControl(const_cast<IntensityCal*>(handle()), code, value, index, data);
        if (status != CAL_OK) throw Error(status, detail::control_call("ICalControl", code));
    }
    // ICalControl for a setter that rebuilds the table: when the library
    // refuses to build it, the findings that explain why join the message.
    void rebuilding_control(uint32_t code, int32_t value, int32_t index, void* data) const {
        const int32_t status = ICalControl(const_cast<IntensityCal*>(handle()), code, value, index, data);
        if (status == CAL_OK) return;
        std::string cause = detail::control_call("ICalControl", code);
        if (status == CAL_ERR_INVALID) cause = with_findings(cause, ": the table cannot be built: ");
        throw Error(status, cause);
    }
    // cause, followed by `lead` and the findings that explain a refusal
    // ("; " between them); cause alone when there are none.
    std::string with_findings(std::string cause, const char* lead) const {
        const std::vector<Finding> findings = diagnose();
        for (std::size_t i = 0; i < findings.size(); ++i) cause += (i == 0 ? lead : "; ") + findings[i].describe();
        return cause;
    }
    static int32_t point_index(std::size_t index) {
        detail::require(index <= 0xFFFF, "point index above 65535");
        return static_cast<int32_t>(index);
    }

    const IntensityCal* cal_ = nullptr;

private:
    template <class T>
    T get(uint32_t code) const {
        T v{};
        control(code, 0, 0, &v);
        return v;
    }
    std::string get_string(uint32_t code) const {
        char buffer[128] = {};
        control(code, 0, 0, buffer);
        return std::string(buffer, std::find(buffer, buffer + sizeof buffer, '\0'));
    }
};

}  // namespace calmgr

#endif /* CALMGR_INTENSITY_VIEW_HPP */
