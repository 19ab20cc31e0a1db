// The port list: a drop-down list that can be typed into, and that lets the
// window scan for devices again each time it opens.
#pragma once

#include <QComboBox>
#include <functional>

namespace quenlo::qt {

class PortCombo : public QComboBox {
  public:
    explicit PortCombo(QWidget* parent) : QComboBox(parent) {}
    void set_open_handler(std::function<void()> handler) { on_open_ = std::move(handler); }
    void showPopup() override {
        if (on_open_) on_open_();
        QComboBox::showPopup();
    }

  private:
    std::function<void()> on_open_;
};

}  // namespace quenlo::qt
