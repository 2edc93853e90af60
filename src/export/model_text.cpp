#include "export/model_text.h"

#include "images/number_text.h"
#include "model/project_document.h"

namespace modrin::exporters {

void AppendNumber(std::string& out, double value) { images::AppendFixed(out, value, 6); }

void AppendNumber(std::string& out, int value) { images::AppendInt(out, value); }

void AppendNumbers(std::string& out, std::initializer_list<double> values, const char* separator) {
  bool first = true;
  for (const double value : values) {
    if (!first) out += separator;
    AppendNumber(out, value);
    first = false;
  }
}

std::string BaseName(const std::string& path) {
  std::string name = model::FileNamePart(path);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

}  // namespace modrin::exporters
