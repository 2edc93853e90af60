#pragma once

#include <string>

namespace modrin::model {
class Project;
}

namespace modrin::exporters {

// The model as a DirectX text file ("xof 0302txt 0032"): a Frame per current object and, in
// it, a Mesh per photo mesh with triangles, with its normals, texture coordinates (v from the
// top, as DirectX counts) and a material whose texture is the photo file.
std::string WriteDirectXModel(const model::Project& project);

// A DirectX name made of `text`: letters, digits and '_', other characters replaced by '_',
// and a leading '_' when it would start with a digit or be empty.
std::string DirectXName(const std::string& text);

}  // namespace modrin::exporters
