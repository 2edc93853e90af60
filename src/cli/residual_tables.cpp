#include "cli/residual_tables.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>

#include "cli/text_columns.h"
#include "model/project.h"

namespace modrin::cli {
namespace {

constexpr int kPixelDecimals = 2;
constexpr int kWorldDecimals = 4;

const char* RoleName(engine::PositionRole role) {
  switch (role) {
    case engine::PositionRole::kControl:
      return "control";
    case engine::PositionRole::kCheck:
      return "check";
    case engine::PositionRole::kComputed:
      break;
  }
  return "computed";
}

// A CSV field: quoted, with its quotes doubled, when it holds a comma, a quote or a newline.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string Pixels(double value) { return Fixed(value, kPixelDecimals); }

// "count  rms  largest", right-aligned in the text table's columns.
std::string StatsColumns(const engine::ErrorStats& stats) {
  return PadLeft(std::to_string(stats.count), 7) + PadLeft(Pixels(stats.rms), 8) +
         PadLeft(Pixels(stats.largest), 8);
}

std::string StatsCsv(const engine::ErrorStats& stats) {
  return std::to_string(stats.count) + ',' + Pixels(stats.rms) + ',' + Pixels(stats.largest);
}

// "1:4300": the scene size over `distance`, the accuracy as photogrammetry states it.
std::string Ratio(double sceneSize, double distance) {
  if (!(distance > 0)) return "exact";
  return "1:" + Fixed(std::round(sceneSize / distance), 0);
}

std::string ErrorsByPhoto(const engine::PositionResiduals& p, char separator) {
  std::string text;
  for (const engine::PhotoError& e : p.errors) {
    if (!text.empty()) text += separator;
    text += std::to_string(e.photo) + ':' + Pixels(e.pixels);
  }
  return text;
}

}  // namespace

void PrintPhotoTable(const model::Project& project, const engine::ResidualReport& report,
                     TableFormat format, std::ostream& out) {
  if (format == TableFormat::kCsv) {
    out << "photo,name,control_marks,control_rms_px,control_max_px,marks,rms_px,max_px,"
           "worst_position\n";
    for (const engine::PhotoResiduals& photo : report.photos) {
      out << photo.photo << ',' << CsvField(model::FileNamePart(project.photos[photo.photo]->path))
          << ',' << StatsCsv(photo.control) << ',' << StatsCsv(photo.all) << ',' << photo.worstId
          << '\n';
    }
    return;
  }
  std::size_t labelWidth = 5;
  for (const engine::PhotoResiduals& photo : report.photos) {
    labelWidth = std::max(labelWidth, PhotoLabel(photo.photo, *project.photos[photo.photo]).size());
  }
  out << PadRight("Photo", labelWidth)
      << "  Control  RMS px  Max px    Marks  RMS px  Max px  Worst\n";
  for (const engine::PhotoResiduals& photo : report.photos) {
    out << PadRight(PhotoLabel(photo.photo, *project.photos[photo.photo]), labelWidth) << "  "
        << StatsColumns(photo.control) << "  " << StatsColumns(photo.all)
        << PadLeft(photo.worstId < 0 ? "-" : std::to_string(photo.worstId), 7) << '\n';
  }
}

void PrintPositionTable(const engine::ResidualReport& report, TableFormat format,
                        std::ostream& out) {
  if (format == TableFormat::kCsv) {
    out << "position,role,photos,rms_px,max_px,typed_computed,errors_px\n";
    for (const engine::PositionResiduals& p : report.positions) {
      out << p.id << ',' << RoleName(p.role) << ',' << p.views << ',' << Pixels(p.stats.rms) << ','
          << Pixels(p.stats.largest) << ','
          << (p.typedDistance ? Fixed(*p.typedDistance, kWorldDecimals) : "") << ','
          << ErrorsByPhoto(p, ' ') << '\n';
    }
    return;
  }
  out << "Position  Role      Photos  RMS px  Max px  Typed-computed  Error px by photo\n";
  for (const engine::PositionResiduals& p : report.positions) {
    out << PadLeft(std::to_string(p.id), 8) << "  " << PadRight(RoleName(p.role), 8)
        << PadLeft(std::to_string(p.views), 8) << PadLeft(Pixels(p.stats.rms), 8)
        << PadLeft(Pixels(p.stats.largest), 8)
        << PadLeft(p.typedDistance ? Fixed(*p.typedDistance, kWorldDecimals) : "-", 16) << "  "
        << ErrorsByPhoto(p, ' ') << '\n';
  }
}

void PrintSummary(const model::Project& project, const engine::ResidualReport& report,
                  TableFormat format, std::ostream& out) {
  const engine::ErrorStats& checks = report.checkDistances;
  if (format == TableFormat::kCsv) {
    out << "marks,rms_px,max_px,worst_position,worst_photo,scene_size,check_points,"
           "check_rms,check_max\n"
        << StatsCsv(report.overall) << ',' << report.worstId << ','
        << (report.worstId < 0 ? std::string() : std::to_string(report.worstPhoto)) << ','
        << Fixed(report.sceneSize, kWorldDecimals) << ',' << checks.count << ','
        << Fixed(checks.rms, kWorldDecimals) << ',' << Fixed(checks.largest, kWorldDecimals)
        << '\n';
    return;
  }
  out << "Overall: RMS " << Pixels(report.overall.rms) << " px over " << report.overall.count
      << " marks";
  if (report.worstId >= 0) {
    out << ", worst " << Pixels(report.overall.largest) << " px: position " << report.worstId
        << " in photo " << report.worstPhoto << " ("
        << model::FileNamePart(project.photos[report.worstPhoto]->path) << ')';
  }
  out << '\n';
  out << CheckPointsLine(report);
}

std::string CheckPointsLine(const engine::ResidualReport& report) {
  const engine::ErrorStats& checks = report.checkDistances;
  if (checks.count == 0) return "";
  return "Check points: " + std::to_string(checks.count) + ", typed to computed RMS " +
         Fixed(checks.rms, kWorldDecimals) + ", largest " + Fixed(checks.largest, kWorldDecimals) +
         " (" + Ratio(report.sceneSize, checks.rms) + " of the scene size " +
         Fixed(report.sceneSize, kWorldDecimals) + ")\n";
}

void PrintResidualReport(const model::Project& project, const engine::ResidualReport& report,
                         TableFormat format, std::ostream& out) {
  PrintPhotoTable(project, report, format, out);
  out << '\n';
  PrintPositionTable(report, format, out);
  out << '\n';
  PrintSummary(project, report, format, out);
}

}  // namespace modrin::cli
