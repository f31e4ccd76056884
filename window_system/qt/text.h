// The model's UTF-8 text as Qt's strings.
#pragma once

#include <QString>

#include <string>

namespace window_system::qt {

QString text(const std::string& utf8);

} // namespace window_system::qt
