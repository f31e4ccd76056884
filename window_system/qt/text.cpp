// The model's UTF-8 text as Qt's strings.
#include "text.h"

namespace window_system::qt {

QString text(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

} // namespace window_system::qt
