#include "dialog_units.h"

#include <QFontMetrics>

namespace quenlo::qt {

DialogUnits DialogUnits::Of(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters =
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return DialogUnits((letters / 26 + 1) / 2, metrics.height());
}

QFont DialogFont() {
    QFont font("Noto Sans CJK JP", 9);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace quenlo::qt
