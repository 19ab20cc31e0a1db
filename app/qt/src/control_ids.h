// The main window's controls by ID. Each control's object name is "ctl<ID>",
// which is how tests and tools find it.
#pragma once

namespace quenlo::qt {

enum ControlId : int {
    kNoId = 0,               // frames and labels nobody looks up
    kConsoleId = 1000,       // console pane
    kPortListId = 1001,      // serial port list
    kRomId = 1003,           // ROM transfer button
    kClearId = 1004,         // console clear button
    kSerialSpeedId = 1005,   // serial speed list
    kServoSpeedId = 1006,    // servo-bus speed list
    kRateListId = 1007,      // playback-rate list
    kBacFieldId = 1008,      // model field (CBacSel)
    kMotionListId = 1010,    // motion list (CTraSel)
    kUpId = 1011,            // move the motion up
    kDownId = 1012,          // move the motion down
    kDeleteId = 1013,        // delete the motion
    kConvertId = 1014,       // Convert button
    kPlayId = 1015,          // Play button
    kPlayAllId = 1017,       // Play all button
    kIntervalListId = 1019,  // transition list
    kAboutVersionId = 1020,  // the About box's version line
    kLoopId = 1021,          // loop check box
    kPreviewId = 1023,       // the preview's frame (CMviewer inside it)
};

}  // namespace quenlo::qt
