#include "plot.h"

#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "failure.h"
#include "format.h"
#include "thin.h"

namespace ru3cli {

namespace {

constexpr int kDivisionsX = 10;
constexpr int kDivisionsY = 8;

struct Colour {
  double r, g, b;
};
constexpr Colour kCanvas{0.12, 0.14, 0.16};
constexpr Colour kScreen{0.04, 0.06, 0.08};
constexpr Colour kGrid{0.24, 0.29, 0.34};
constexpr Colour kAxis{0.40, 0.46, 0.52};
constexpr Colour kText{0.86, 0.88, 0.90};
constexpr Colour kTrigger{1.00, 0.55, 0.10};
constexpr Colour kGap{0.13, 0.15, 0.18};
constexpr Colour kClipped{1.00, 0.30, 0.30};
// Channel colours as on the front panel of most scopes: yellow, then cyan.
constexpr std::array<Colour, 2> kChannelColours = {Colour{1.00, 0.84, 0.00}, Colour{0.00, 0.82, 1.00}};

Colour ChannelColour(int number) { return kChannelColours[static_cast<std::size_t>(number == 2 ? 1 : 0)]; }

void SetColour(cairo_t* cr, Colour c, double alpha = 1.0) { cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha); }

std::string Number(double value) { return Decimal(std::fabs(value) < 1e-12 ? 0 : value, 4); }

// The smallest step of 1, 2 or 5 times a power of ten that cuts `span` into
// at most `most` parts.
double NiceStep(double span, double most) {
  if (!(span > 0)) return 1;
  const double raw = span / std::max(most, 1.0);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * power >= raw * (1 - 1e-9)) return m * power;
  }
  return 10 * power;
}

// The tick values of [lo, hi] on `step`.
std::vector<double> Ticks(double lo, double hi, double step) {
  std::vector<double> ticks;
  for (double k = std::ceil(lo / step - 1e-9); k * step <= hi + step * 1e-9; k += 1) ticks.push_back(k * step);
  return ticks;
}

struct TimeUnit {
  double scale;
  const char* name;
};

TimeUnit TimeUnitFor(double span) {
  if (span >= 1.0) return {1.0, "s"};
  if (span >= 1e-3) return {1e3, "ms"};
  return {1e6, "\xC2\xB5s"};  // micro sign
}

enum class Align { kLeft, kCentre, kRight };

void Text(cairo_t* cr, double x, double y, const std::string& text, Align align, bool middle = false) {
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  double dx = 0;
  if (align == Align::kCentre) dx = -extents.width / 2 - extents.x_bearing;
  if (align == Align::kRight) dx = -extents.width - extents.x_bearing;
  const double dy = middle ? -(extents.height / 2 + extents.y_bearing) : 0;
  cairo_move_to(cr, x + dx, y + dy);
  cairo_show_text(cr, text.c_str());
}

cairo_status_t WriteToFile(void* closure, const unsigned char* data, unsigned int length) {
  std::FILE* file = static_cast<std::FILE*>(closure);
  return std::fwrite(data, 1, length, file) == length ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};

class Painter {
 public:
  Painter(cairo_t* cr, const Record& record, PlotSize size) : cr_(cr), record_(record), size_(size) {
    // Fonts and margins follow the picture's size.
    font_ = std::clamp(std::min(size.width / 75.0, size.height / 46.0), 8.0, 28.0);
    const bool right_axis = record.channels.size() > 1;
    left_ = font_ * 5.5;
    right_ = size.width - (right_axis ? font_ * 5.5 : font_ * 2.0);
    top_ = font_ * 3.4;
    bottom_ = size.height - font_ * 3.6;
    const double n = static_cast<double>(std::max<std::size_t>(record.length(), 1));
    t0_ = record.TimeOf(0);
    t1_ = record.sample_rate > 0 ? t0_ + n / record.sample_rate : t0_ + 1;
  }

  void Paint() {
    cairo_select_font_face(cr_, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr_, font_);
    // The legend goes under the title when both do not fit on one line.
    if (TitleWidth() + LegendWidth() + font_ * 2 > right_ - left_ + font_ * 4) {
      legend_below_ = true;
      top_ += font_ * 1.4;
    }
    unit_ = TimeUnitFor(t1_ - t0_);
    time_step_ = NiceStep((t1_ - t0_) * unit_.scale, (right_ - left_) / (font_ * 4.5));
    SetColour(cr_, kCanvas);
    cairo_paint(cr_);
    SetColour(cr_, kScreen);
    cairo_rectangle(cr_, left_, top_, right_ - left_, bottom_ - top_);
    cairo_fill(cr_);
    Gaps();
    Graticule();
    Axes();
    for (const Channel& ch : record_.channels) Trace(ch);
    TriggerMarks();
    Heading();
  }

 private:
  double X(double t) const { return left_ + (t - t0_) / (t1_ - t0_) * (right_ - left_); }
  double Y(double volts, double range) const {
    const double mid = (top_ + bottom_) / 2;
    return mid - volts / range * (bottom_ - top_) / 2;
  }

  // Stretches of the record without samples (the instrument had not yet
  // filled them when the trigger came): shaded, and said so.
  void Gaps() {
    if (record_.channels.empty()) return;
    const std::vector<double>& volts = record_.channels.front().volts;
    const std::size_t n = volts.size();
    for (std::size_t i = 0; i < n;) {
      bool missing = true;
      for (const Channel& ch : record_.channels) missing = missing && std::isnan(ch.volts[i]);
      if (!missing) {
        ++i;
        continue;
      }
      std::size_t j = i;
      while (j < n && std::isnan(volts[j])) ++j;
      const double x0 = X(record_.TimeOf(i));
      const double x1 = X(record_.TimeOf(j));
      SetColour(cr_, kGap);
      cairo_rectangle(cr_, x0, top_, x1 - x0, bottom_ - top_);
      cairo_fill(cr_);
      if (x1 - x0 > font_ * 7) {
        SetColour(cr_, kText, 0.6);
        Text(cr_, (x0 + x1) / 2, top_ + font_ * 1.6, "no samples", Align::kCentre);
      }
      i = j;
    }
  }

  double VoltsStep(const Channel& ch) const { return NiceStep(2 * ch.range, (bottom_ - top_) / (font_ * 3.2)); }

  // Grid lines on the time ticks and on the first channel's volts ticks,
  // the zero lines solid, and the frame.
  void Graticule() {
    cairo_set_line_width(cr_, 1.0);
    const double dash[] = {1.0, 3.0};
    cairo_set_dash(cr_, dash, 2, 0);
    SetColour(cr_, kGrid);
    for (double t : Ticks(t0_ * unit_.scale, t1_ * unit_.scale, time_step_)) {
      const double x = std::round(X(t / unit_.scale)) + 0.5;
      cairo_move_to(cr_, x, top_);
      cairo_line_to(cr_, x, bottom_);
    }
    if (!record_.channels.empty()) {
      const Channel& ch = record_.channels.front();
      for (double v : Ticks(-ch.range, ch.range, VoltsStep(ch))) {
        const double y = std::round(Y(v, ch.range)) + 0.5;
        cairo_move_to(cr_, left_, y);
        cairo_line_to(cr_, right_, y);
      }
    }
    cairo_stroke(cr_);
    cairo_set_dash(cr_, nullptr, 0, 0);
    SetColour(cr_, kAxis);
    const double cy = std::round((top_ + bottom_) / 2) + 0.5;
    cairo_move_to(cr_, left_, cy);
    cairo_line_to(cr_, right_, cy);
    if (t0_ <= 0 && 0 <= t1_) {
      const double x0 = std::round(X(0)) + 0.5;
      cairo_move_to(cr_, x0, top_);
      cairo_line_to(cr_, x0, bottom_);
    }
    cairo_stroke(cr_);
    cairo_rectangle(cr_, left_ + 0.5, top_ + 0.5, right_ - left_ - 1, bottom_ - top_ - 1);
    cairo_stroke(cr_);
  }

  double Width(const std::string& text) const {
    cairo_text_extents_t extents;
    cairo_text_extents(cr_, text.c_str(), &extents);
    return extents.x_advance;
  }

  void Axes() {
    // Time axis: labels on the ticks, and its title; "0 at the trigger" only
    // when a trigger set the time origin, and only when it fits.
    SetColour(cr_, kText);
    for (double t : Ticks(t0_ * unit_.scale, t1_ * unit_.scale, time_step_)) {
      Text(cr_, X(t / unit_.scale), bottom_ + font_ * 1.3, Number(t), Align::kCentre);
    }
    std::string title = std::string("time (") + unit_.name + ")";
    const std::string origin = record_.trigger.channel != 0 ? ", 0 at the trigger" : "";
    if (Width(title + origin) < right_ - left_) title += origin;
    Text(cr_, (left_ + right_) / 2, bottom_ + font_ * 2.7, title, Align::kCentre);
    // One volts axis per channel: the first on the left, the second on the right.
    for (std::size_t c = 0; c < record_.channels.size() && c < 2; ++c) {
      const Channel& ch = record_.channels[c];
      SetColour(cr_, ChannelColour(ch.number));
      const bool left = c == 0;
      for (double v : Ticks(-ch.range, ch.range, VoltsStep(ch))) {
        Text(cr_, left ? left_ - font_ * 0.4 : right_ + font_ * 0.4, Y(v, ch.range), Number(v),
             left ? Align::kRight : Align::kLeft, true);
      }
      cairo_save(cr_);
      const double x = left ? font_ * 1.1 : size_.width - font_ * 0.5;
      cairo_translate(cr_, x, (top_ + bottom_) / 2);
      cairo_rotate(cr_, -M_PI / 2);
      Text(cr_, 0, 0, "CH" + std::to_string(ch.number) + " (V)", Align::kCentre);
      cairo_restore(cr_);
    }
  }

  void Trace(const Channel& ch) {
    const std::size_t n = ch.volts.size();
    if (n == 0 || ch.range <= 0) return;
    cairo_save(cr_);
    cairo_rectangle(cr_, left_, top_, right_ - left_, bottom_ - top_);
    cairo_clip(cr_);
    SetColour(cr_, ChannelColour(ch.number));
    cairo_set_line_width(cr_, std::max(1.2, size_.height / 400.0));
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
    // A sample stands at the start of its period; the last one ends the screen.
    const double columns = right_ - left_;
    // Positions without a sample (NaN) break the line.
    bool drawing = false;
    auto point = [&](double x, double y) {
      if (drawing) {
        cairo_line_to(cr_, x, y);
      } else {
        cairo_move_to(cr_, x, y);
        drawing = true;
      }
    };
    if (static_cast<double>(n) <= 2 * columns) {
      for (std::size_t i = 0; i < n; ++i) {
        if (std::isnan(ch.volts[i])) {
          drawing = false;
          continue;
        }
        point(X(record_.TimeOf(i)), Y(ch.volts[i], ch.range));
      }
    } else {
      // More samples than pixels: one vertical stroke per pixel column from
      // its lowest to its highest sample, joined to the next column.
      const int count = static_cast<int>(columns);
      for (int col = 0; col < count; ++col) {
        const auto [a, b] = ColumnSpan(n, static_cast<std::size_t>(col), static_cast<std::size_t>(count));
        const Extent e = ExtentOf(ch.volts, a, b);
        if (!e.any) {
          drawing = false;
          continue;
        }
        const double x = left_ + col + 0.5;
        point(x, Y(e.lo, ch.range));
        point(x, Y(e.hi, ch.range));
      }
    }
    cairo_stroke(cr_);
    cairo_restore(cr_);
  }

  void TriggerMarks() {
    const double s = font_ * 0.6;
    // Without a trigger there is no trigger position or level to mark.
    if (record_.trigger.channel == 0) return;
    // Trigger position: a dashed line at time 0 with a marker on the top edge.
    if (t0_ <= 0 && 0 <= t1_) {
      const double x = X(0);
      SetColour(cr_, kTrigger, 0.7);
      cairo_set_line_width(cr_, 1.0);
      const double dash[] = {4.0, 4.0};
      cairo_set_dash(cr_, dash, 2, 0);
      cairo_move_to(cr_, x, top_);
      cairo_line_to(cr_, x, bottom_);
      cairo_stroke(cr_);
      cairo_set_dash(cr_, nullptr, 0, 0);
      SetColour(cr_, kTrigger);
      cairo_move_to(cr_, x - s, top_ - s * 1.6);
      cairo_line_to(cr_, x + s, top_ - s * 1.6);
      cairo_line_to(cr_, x, top_);
      cairo_close_path(cr_);
      cairo_fill(cr_);
      Text(cr_, x, top_ - s * 2.0, record_.trigger.forced ? "T forced" : "T", Align::kCentre);
    }
    // Trigger level: a dashed line across the screen in the trigger channel's
    // colour and an arrow on that channel's axis.
    const Trigger& trig = record_.trigger;
    for (std::size_t c = 0; c < record_.channels.size() && c < 2; ++c) {
      const Channel& ch = record_.channels[c];
      if (ch.number != trig.channel || ch.range <= 0) continue;
      const double y = std::clamp(Y(trig.level, ch.range), top_, bottom_);
      const Colour colour = ChannelColour(ch.number);
      SetColour(cr_, colour, 0.55);
      cairo_set_line_width(cr_, 1.0);
      const double dash[] = {6.0, 4.0};
      cairo_set_dash(cr_, dash, 2, 0);
      cairo_move_to(cr_, left_, y);
      cairo_line_to(cr_, right_, y);
      cairo_stroke(cr_);
      cairo_set_dash(cr_, nullptr, 0, 0);
      SetColour(cr_, kTrigger);
      const bool left = c == 0;
      const double edge = left ? left_ : right_;
      const double out = left ? -1 : 1;
      cairo_move_to(cr_, edge, y);
      cairo_line_to(cr_, edge + out * s * 1.6, y - s);
      cairo_line_to(cr_, edge + out * s * 1.6, y + s);
      cairo_close_path(cr_);
      cairo_fill(cr_);
    }
  }

  std::string Title() const {
    // The trigger level is said here, not drawn over the traces: the arrow on
    // the channel's axis marks it.
    std::string title = "RU3  sample rate " + RateText(record_.sample_rate) + "  " +
                        Count(static_cast<long>(record_.length()), "sample") + "  trigger " + record_.trigger.source;
    if (record_.trigger.channel != 0) title += " at " + Number(record_.trigger.level) + " V";
    if (record_.trigger.forced) title += " forced";
    if (record_.averaged > 1) title += "  mean of " + std::to_string(record_.averaged);
    return title;
  }
  static std::string Legend(const Channel& ch) {
    return "CH" + std::to_string(ch.number) + " \xC2\xB1" + Number(ch.range) + " V" +
           (ch.clipped > 0 ? " clipped" : "");
  }
  double TitleWidth() const { return Width(Title()); }
  double LegendWidth() const {
    double width = 0;
    for (const Channel& ch : record_.channels) width += Width(Legend(ch)) + font_ * 2.2;
    return width;
  }

  // The title on the left; the legend on the right of it, or under it when
  // the picture is narrow. A forced trigger and clipping show in the
  // warning colour.
  void Heading() {
    SetColour(cr_, record_.trigger.forced ? kTrigger : kText);
    Text(cr_, left_, font_ * 1.5, Title(), Align::kLeft);
    const double y = legend_below_ ? font_ * 2.9 : font_ * 1.5;
    double x = legend_below_ ? left_ + LegendWidth() : right_;
    for (auto it = record_.channels.rbegin(); it != record_.channels.rend(); ++it) {
      const std::string label = Legend(*it);
      SetColour(cr_, it->clipped > 0 ? kClipped : ChannelColour(it->number));
      Text(cr_, x, y, label, Align::kRight);
      x -= Width(label) + font_ * 1.6;
      SetColour(cr_, ChannelColour(it->number));
      cairo_rectangle(cr_, x + font_ * 0.3, y - font_ * 0.85, font_ * 0.9, font_ * 0.9);
      cairo_fill(cr_);
      x -= font_ * 0.6;
    }
  }

  cairo_t* cr_;
  const Record& record_;
  PlotSize size_;
  double font_;
  double left_, right_, top_, bottom_;
  double t0_, t1_;
  TimeUnit unit_{1.0, "s"};
  double time_step_ = 1;
  bool legend_below_ = false;
};

}  // namespace

PlotFormat PlotFormatOf(const std::string& path) {
  const auto dot = path.rfind('.');
  std::string extension = dot == std::string::npos ? std::string() : path.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == "png") return PlotFormat::kPng;
  if (extension == "svg") return PlotFormat::kSvg;
  throw Failure("--plot " + path + ": the file name must end in .png or .svg", kExitUsage);
}

void DrawPlot(const Record& record, PlotFormat format, PlotSize size, OutputFile& file) {
  {
    std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface;
    if (format == PlotFormat::kPng) {
      surface.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, size.width, size.height));
    } else {
      surface.reset(cairo_svg_surface_create_for_stream(WriteToFile, file.stream(), size.width, size.height));
#if CAIRO_VERSION >= CAIRO_VERSION_ENCODE(1, 15, 10)
      cairo_svg_surface_set_document_unit(surface.get(), CAIRO_SVG_UNIT_PX);
#endif
    }
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
      throw Failure("cannot draw " + file.path() + ": " + cairo_status_to_string(cairo_surface_status(surface.get())));
    }
    {
      std::unique_ptr<cairo_t, ContextDeleter> cr(cairo_create(surface.get()));
      Painter(cr.get(), record, size).Paint();
      if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) {
        throw Failure("cannot draw " + file.path() + ": " + cairo_status_to_string(cairo_status(cr.get())));
      }
    }
    cairo_status_t status = CAIRO_STATUS_SUCCESS;
    if (format == PlotFormat::kPng) {
      status = cairo_surface_write_to_png_stream(surface.get(), WriteToFile, file.stream());
    } else {
      cairo_surface_finish(surface.get());
      status = cairo_surface_status(surface.get());
    }
    if (status != CAIRO_STATUS_SUCCESS) {
      throw Failure("cannot write " + file.path() + ": " + cairo_status_to_string(status));
    }
  }
  // Nothing of cairo is alive now: let it and fontconfig give back their
  // font caches (a later plot builds them again).
  cairo_debug_reset_static_data();
  FcFini();
}

}  // namespace ru3cli
