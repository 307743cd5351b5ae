// The measurement part of the SCPI tree: figures of the latest record, each
// of the waveform source or of the channel given (CHANnel<n>): the tool's
// summary (min, max, mean, RMS, peak-to-peak, frequency) and the pulse
// figures of measure.h, in volts at the probe tip, seconds and percent;
// 9.91E+37 where the record does not give the figure.
#include <cmath>

#include "scpi_common.h"

namespace ru3serve {
namespace {

// :MEASure:<item>? [CHANnel<n>]: `figure` of the trace.
template <typename F>
ScpiHandler Measure(F figure) {
  return [figure](ScpiSession& s, const ScpiCall& call) -> std::string {
    int channel = s.source;
    if (!call.params.empty() && (channel = ChannelParam(call.params[0])) == 0) {
      s.Push(-224, "CHANnel1 or CHANnel2");
      return "";
    }
    const auto frame = DataFrame(s);
    if (!frame) return "";
    const Frame::Trace* trace = SourceTrace(s, *frame, channel);
    if (!trace) return "";
    if (trace->summary.samples == 0) return kNotANumber;
    return Num(figure(*trace));
  };
}

}  // namespace

void AddMeasure(CommandList& add) {
  using T = const Frame::Trace&;
  const std::pair<const char*, ScpiHandler> items[] = {
      {"MEASure:VMIN", Measure([](T t) { return t.summary.min; })},
      {"MEASure:VMAX", Measure([](T t) { return t.summary.max; })},
      {"MEASure:VAVerage", Measure([](T t) { return t.summary.mean; })},
      {"MEASure:VRMS", Measure([](T t) { return t.summary.rms; })},
      {"MEASure:VPP", Measure([](T t) { return t.summary.peak_to_peak; })},
      {"MEASure:FREQuency", Measure([](T t) { return t.summary.frequency ? *t.summary.frequency : NAN; })},
      {"MEASure:PERiod", Measure([](T t) { return t.figures.period; })},
      {"MEASure:VTOP", Measure([](T t) { return t.figures.top; })},
      {"MEASure:VBASe", Measure([](T t) { return t.figures.base; })},
      {"MEASure:VAMPlitude", Measure([](T t) { return t.figures.amplitude; })},
      {"MEASure:RISetime", Measure([](T t) { return t.figures.rise; })},
      {"MEASure:FALLtime", Measure([](T t) { return t.figures.fall; })},
      {"MEASure:PWIDth", Measure([](T t) { return t.figures.positive_width; })},
      {"MEASure:NWIDth", Measure([](T t) { return t.figures.negative_width; })},
      {"MEASure:DUTYcycle", Measure([](T t) { return t.figures.duty; })},
  };
  for (const auto& [pattern, handler] : items) add(pattern, false, true, 0, 1, handler);
}

}  // namespace ru3serve
