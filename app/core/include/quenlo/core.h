// The operations of the main window, written once for the Qt dialog and for
// quenlo-cli, one header per job; this one includes them all.
#pragma once

#include "quenlo/conversion_job.h"
#include "quenlo/dialog_state.h"
#include "quenlo/operator_ui.h"
#include "quenlo/playback.h"
#include "quenlo/port_list.h"
#include "quenlo/preview_thread.h"
#include "quenlo/rom_transfer.h"
#include "quenlo/scene_import.h"
