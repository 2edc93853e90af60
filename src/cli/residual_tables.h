#pragma once

#include <iosfwd>
#include <string>

#include "engine/residuals.h"

namespace modrin::model {
class Project;
}

namespace modrin::cli {

// How the residual tables are written.
enum class TableFormat {
  kText,  // aligned columns for reading
  kCsv,   // comma-separated sections with a header line each, separated by an empty line
};

// The photos table of the report: per calibrated photo the control points' and all marks' RMS
// and largest error in pixels and the worst position, worst photo first.
void PrintPhotoTable(const model::Project& project, const engine::ResidualReport& report,
                     TableFormat format, std::ostream& out);

// The positions table: per position with a 3D point its role, the calibrated photos that mark
// it, its RMS and largest error in pixels, the typed-to-computed distance of a real position,
// and its error in each photo; worst first.
void PrintPositionTable(const engine::ResidualReport& report, TableFormat format,
                        std::ostream& out);

// The summary: the overall RMS in pixels, the worst position and photo, and the check points'
// distances in world units and against the scene size.
void PrintSummary(const model::Project& project, const engine::ResidualReport& report,
                  TableFormat format, std::ostream& out);

// "Check points: 3, typed to computed RMS 0.0021, largest 0.0034 (1:6400 of the scene size
// 13.6000)\n", or empty without check points.
std::string CheckPointsLine(const engine::ResidualReport& report);

// The three above, in that order.
void PrintResidualReport(const model::Project& project, const engine::ResidualReport& report,
                         TableFormat format, std::ostream& out);

}  // namespace modrin::cli
