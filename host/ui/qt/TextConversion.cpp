#include "host/ui/qt/TextConversion.h"

#include "host/ui/ControlState.h"
#include "host/ui/Utf8Text.h"

namespace ui::qt {
QString ToQString(std::string_view text) {
    const std::string utf8 = DisplayUtf8(text);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string FromQString(const QString& text) {
    return text.toStdString();
}

QString StaticText(std::string_view text) {
    QString shown = ToQString(StripMnemonic(text));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

}  // namespace ui::qt
