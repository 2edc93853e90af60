#pragma once

#include <QString>
#include <functional>

namespace modrin::views2d {

// Opens help topic `topic`, a page name such as "ParamsCamera.html". The dialogs of this folder
// take one from their creator, which knows the help window; an empty handler shows no help.
using HelpHandler = std::function<void(const QString& topic)>;

}  // namespace modrin::views2d
