#pragma once

#include <initializer_list>
#include <string>

#include "model/object_photo_mesh.h"

namespace modrin::exporters {

// Number formatting shared by the model writers: C-locale text whatever the process locale.
void AppendNumber(std::string& out, double value);  // printf "%f"
void AppendNumber(std::string& out, int value);     // printf "%d"
// The values as "%f", with `separator` between them.
void AppendNumbers(std::string& out, std::initializer_list<double> values, const char* separator);

// The file name of `path` without its extension (the text from its last '.', when that lies in
// the file name).
std::string BaseName(const std::string& path);

// The place of a vertex in its mesh's vertex order.
inline int VertexNumber(const model::MeshVertex* vertex) { return vertex->index; }

}  // namespace modrin::exporters
