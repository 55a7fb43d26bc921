#include "cli/timeline-svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "drumlin/diarization-driver.h"

namespace ravel_cli {
namespace {

constexpr double kWidth = 960;
constexpr double kLeft = 140;  // room for the labels
constexpr double kRight = 20;
constexpr double kTop = 44;
constexpr double kRow = 30;
constexpr const char* kColours[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
                                    "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"};


// A tick step giving at most about ten ticks.
double TickStep(double seconds) {
  const double steps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600};
  for (double s : steps) {
    if (seconds / s <= 10) return s;
  }
  return 7200;
}

std::string Clock(double t) {
  char buffer[32];
  const int whole = static_cast<int>(std::lround(t));
  if (whole >= 60) {
    std::snprintf(buffer, sizeof buffer, "%d:%02d", whole / 60, whole % 60);
  } else {
    std::snprintf(buffer, sizeof buffer, "%d s", whole);
  }
  return buffer;
}

}  // namespace

std::string TimelineSvg(const std::string& title, double seconds,
                        const std::vector<LabelledTurn>& turns) {
  const std::vector<SpeakerSummary> speakers = Summarise(turns);
  const double span = std::max(seconds, 1.0);
  const size_t rows = std::max<size_t>(speakers.size(), 1);
  const double height = kTop + kRow * static_cast<double>(rows) + 44;
  const double plot = kWidth - kLeft - kRight;
  const auto x = [&](double t) { return kLeft + plot * std::min(t, span) / span; };
  std::string svg;
  char buf[1024];
  std::snprintf(buf, sizeof buf,
                "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"13\">\n",
                kWidth, height, kWidth, height);
  svg += buf;
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  std::snprintf(buf, sizeof buf, "<text x=\"%.0f\" y=\"24\" font-size=\"15\" font-weight=\"bold\">",
                kLeft);
  svg += buf + drumlin::EscapeXmlAttribute(title) + "</text>\n";
  for (size_t r = 0; r < speakers.size(); ++r) {
    const double y = kTop + kRow * static_cast<double>(r);
    std::snprintf(buf, sizeof buf, "<text x=\"%.0f\" y=\"%.1f\" text-anchor=\"end\">", kLeft - 8,
                  y + kRow * 0.62);
    svg += buf + drumlin::EscapeXmlAttribute(speakers[r].label) + "</text>\n";
    std::snprintf(buf, sizeof buf,
                  "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#f2f2f2\"/>\n",
                  kLeft, y + 4, plot, kRow - 8);
    svg += buf;
  }
  for (const LabelledTurn& t : turns) {
    size_t r = 0;
    while (r < speakers.size() && speakers[r].label != t.label) ++r;
    const double y = kTop + kRow * static_cast<double>(r);
    std::snprintf(buf, sizeof buf,
                  "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\">"
                  "<title>",
                  x(t.start), y + 4, std::max(0.5, x(t.end) - x(t.start)), kRow - 8,
                  kColours[r % (sizeof kColours / sizeof kColours[0])]);
    svg += buf;
    std::snprintf(buf, sizeof buf, " %.0f to %.0f s", t.start, t.end);
    svg += drumlin::EscapeXmlAttribute(t.label) + buf + "</title></rect>\n";
  }
  const double axis = kTop + kRow * static_cast<double>(rows) + 6;
  std::snprintf(buf, sizeof buf,
                "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"black\"/>\n", kLeft,
                axis, kLeft + plot, axis);
  svg += buf;
  const double step = TickStep(span);
  for (double t = 0; t <= span + 1e-9; t += step) {
    std::snprintf(buf, sizeof buf,
                  "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"black\"/>"
                  "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%s</text>\n",
                  x(t), axis, x(t), axis + 5, x(t), axis + 20, Clock(t).c_str());
    svg += buf;
  }
  svg += "</svg>\n";
  return svg;
}

}  // namespace ravel_cli
