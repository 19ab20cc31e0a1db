// An operator console that keeps what it was told, for the conversion job tests.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "conversion.h"
#include "quenlo/core.h"

namespace conversion_test {

class RecordingUi : public quenlo::OperatorUi {
  public:
    void ConsoleWrite(std::string_view text) override { console.append(text); }
    bool Confirm(std::string_view, std::string_view) override { return false; }
    void SetBusy(bool busy) override { busy_calls.push_back(busy); }
    // Marks where the preview would be built, and checks the model is still held.
    void ShowConversion(CDataInfo& data) override {
        console.append("<preview>");
        if (preview_throws) throw std::out_of_range("bone 7 of 3");
        previewed_with_model = data.model_loaded();
    }

    std::string console;
    std::vector<bool> busy_calls;
    bool previewed_with_model = false;
    bool preview_throws = false;  // as a library does for an index beyond a list
};

}  // namespace conversion_test
