#pragma once

namespace modrin::app {}
