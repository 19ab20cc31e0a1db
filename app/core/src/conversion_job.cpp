// The conversion job of the main window: model, motions, time scale, commands,
// with the operator's console lines.
#include <strings.h>

#include <algorithm>
#include <new>
#include <stdexcept>

#include "animread.h"
#include "conversion.h"
#include "figread.h"
#include "quenlo/core.h"

namespace quenlo {
namespace {

class BusyScope {
  public:
    explicit BusyScope(OperatorUi& ui) : ui_(ui) { ui_.SetBusy(true); }
    ~BusyScope() { ui_.SetBusy(false); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    OperatorUi& ui_;
};

// The model field as the Convert button reads it: its first line, at most 250
// characters.
std::string BacPath(const std::string& field) {
    return field.substr(0, std::min(field.find_first_of("\r\n"), size_t{250}));
}

bool IsBacPath(const std::string& path) {
    return path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ".bac") == 0;
}

// The readers say only that a file is no model or motion; when the system is
// the reason, the operator learns which.
void TellWhyUnreadable(OperatorUi& ui, const std::string& path) {
    const std::string why = FileReadProblem(path);
    if (!why.empty()) ui.ConsoleFail("%s を読めません: %s\r\n", path.c_str(), why.c_str());
}

}  // namespace

std::unique_ptr<CDataInfo> Convert(OperatorUi& ui, const std::string& bac_field,
                                   const std::vector<std::string>& motion_paths, int rate_index) {
    const std::string path = BacPath(bac_field);
    if (!IsBacPath(path)) {
        ui.ConsoleFail("BACファイルがありません\r\n");
        return nullptr;
    }
    if (motion_paths.empty()) {
        ui.ConsoleFail("TRAファイルがありません\r\n");
        return nullptr;
    }
    return RunConversion(ui, path, motion_paths, rate_index);
}

std::unique_ptr<CDataInfo> TryAutoConversion(OperatorUi& ui, const std::string& bac_field,
                                             const std::vector<std::string>& motion_paths,
                                             int rate_index) {
    if (!AutoConversionReady(bac_field, motion_paths)) return nullptr;
    return RunConversion(ui, BacPath(bac_field), motion_paths, rate_index);
}

bool AutoConversionReady(const std::string& bac_field,
                         const std::vector<std::string>& motion_paths) {
    return IsBacPath(BacPath(bac_field)) && !motion_paths.empty();
}

namespace {

std::unique_ptr<CDataInfo> ConversionSteps(OperatorUi& ui, std::unique_ptr<CDataInfo> data,
                                           const std::string& bac_path,
                                           const std::vector<std::string>& motion_paths,
                                           int rate_index) {
    ui.ConsolePrint("BAC解析中\r\n");
    if (fnbacanalysis(bac_path.c_str()) != 0 || !data->BuildMotorList()) {
        ui.ConsoleFail("%s\r\n", bac_path.c_str());
        ui.ConsoleFail("↑有効なBAC6ファイルではありません\r\n");
        TellWhyUnreadable(ui, bac_path);
        return nullptr;
    }
    if (fnbacSetMotorNumber() <= 0) ui.ConsolePrint("警告: モデルにサーボのボーンがありません\r\n");

    if (!motion_paths.empty()) {
        data->ClearRawMotions();
        for (size_t i = 0; i < motion_paths.size(); ++i) {
            const std::string& path = motion_paths[i];
            ui.ConsolePrint("TRA#%d解析中\r\n", static_cast<int>(i));
            bool converted = false;
            if (fntraanalysis(path.c_str()) == 0) {
                converted = data->ConvertMotion();
                data->StoreRawMotion();
                data->set_motion_counter(data->motion_counter() + 1);
                data->set_motion_loaded(true);
            }
            if (!converted) {
                ui.ConsoleFail("%s\r\n", path.c_str());
                ui.ConsoleFail("↑有効なTRA4ファイルではありません\r\n");
                TellWhyUnreadable(ui, path);
                return nullptr;
            }
        }
    }

    ui.ConsolePrint("再生レート設定\r\n");
    if (rate_index >= 0 && rate_index < static_cast<int>(std::size(kRates)))
        data->SetTimeScale(kRates[rate_index].time_scale);

    ui.ConsolePrint("コマンド生成\r\n");
    if (data->mof_data()) {
        data->mof_data()->BuildFrames();
        // A success with nothing to play, or with moves cut short, is no
        // surprise to the operator.
        for (size_t i = 0; i < motion_paths.size(); ++i)
            if (data->FindMotion(static_cast<int>(i)) < 0)
                ui.ConsolePrint(
                    "警告: %s: モデルのサーボを動かすボーンがなく、コマンドがありません\r\n",
                    motion_paths[i].c_str());
        for (const SpeedClamp& c : data->mof_data()->speed_clamps())
            ui.ConsolePrint("警告: %s: キー%dまで%lldフレームあり、255フレームで動かします\r\n",
                            motion_paths.at(static_cast<size_t>(c.number)).c_str(), c.time,
                            static_cast<long long>(c.frames));
    }

    ui.ConsolePrint("ビューデータ生成\r\n");
    ui.ShowConversion(*data);
    ui.ConsolePrint("変換成功\r\n");
    return data;
}

}  // namespace

// The caller drops its previous conversion before calling: the libraries hold
// one model and one motion, and this run replaces them.
std::unique_ptr<CDataInfo> RunConversion(OperatorUi& ui, const std::string& bac_path,
                                         const std::vector<std::string>& motion_paths,
                                         int rate_index) {
    std::unique_ptr<CDataInfo> data;
    try {
        data = std::make_unique<CDataInfo>();
    } catch (const std::bad_alloc&) {
        ui.ConsoleFail("メモリ不足で変換できません\r\n");
        return nullptr;
    }
    BusyScope busy(ui);
    // The libraries answer an index beyond a list with std::out_of_range; here
    // it ends the conversion, not the program. The store goes with it.
    try {
        return ConversionSteps(ui, std::move(data), bac_path, motion_paths, rate_index);
    } catch (const std::exception& e) {
        ui.ConsoleFail("変換中にエラーが発生しました (%s)\r\n", e.what());
        return nullptr;
    }
}

std::vector<int32_t> BoardMotors(const CDataInfo& data) {
    const int motors = data.model_loaded() ? fnbacSetMotorNumber() : 0;
    const std::vector<int32_t>& list = data.motor_list();
    const size_t n = std::min(list.size(), static_cast<size_t>(std::max(motors, 0)));
    return {list.begin(), list.begin() + static_cast<std::ptrdiff_t>(n)};
}

RomContent MakeRomContent(const CDataInfo& data, int entry_count, int interval_ms, int rate_index) {
    RomContent content;
    content.interval_ms = interval_ms;
    content.rate_index = rate_index;
    content.motors = BoardMotors(data);

    content.entries.resize(static_cast<size_t>(std::max(entry_count, 0)));
    for (size_t i = 0; i < content.entries.size(); ++i) {
        const int index = data.FindMotion(static_cast<int>(i));
        if (index < 0) continue;  // the file yielded no values: an empty slot
        content.entries[i] = data.mof_data()->motions().at(static_cast<size_t>(index)).frames;
    }
    return content;
}

}  // namespace quenlo
