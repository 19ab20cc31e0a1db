// Dialog units: the control table's rectangles are in units of the dialog font,
// a quarter of its average character width across and an eighth of its
// character height down.
#pragma once

#include <QFont>
#include <QRect>

namespace quenlo::qt {

class DialogUnits {
  public:
    DialogUnits(int char_width, int char_height) : cx_(char_width), cy_(char_height) {}
    // Measured as the dialog framework does: the average width of the 52 Latin
    // letters (rounded half up) and the font's line height.
    static DialogUnits Of(const QFont& font);

    int X(int units) const { return (units * cx_ + 2) / 4; }
    int Y(int units) const { return (units * cy_ + 4) / 8; }
    QRect Rect(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }
    int char_width() const { return cx_; }
    int char_height() const { return cy_; }

  private:
    int cx_, cy_;
};

// The 9-point Japanese UI font the window is laid out in.
QFont DialogFont();

}  // namespace quenlo::qt
