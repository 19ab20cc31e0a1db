// Steps that every ROM transfer shares: the backup before the first write,
// and the read-back, reboot and closing lines after the last.
#pragma once

#include <cstdint>

#include "quenlo/rom_transfer.h"

class CUsbIO;

namespace quenlo::detail {

// "転送が中断しました", after "ボードが応答しません" when the board fell
// silent; answers false.
bool Interrupted(OperatorUi& ui, const CUsbIO& link);

// A transfer stopped between two blocks: the board holds part of the new
// program. Answers false.
bool Incomplete(OperatorUi& ui);

// One transfer is one session of the link: a silent board ends it at once.
class Session {
  public:
    explicit Session(CUsbIO& link);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

  private:
    CUsbIO& link_;
};

// Reads ROM [0, end) and hands it to options.backup; false, with its line,
// when it cannot be read or kept.
bool ReadBackup(OperatorUi& ui, CUsbIO& link, uint32_t end, const RomTransferOptions& options);
// The same before a transfer: false (nothing written) with "転送しません".
bool Backup(OperatorUi& ui, CUsbIO& link, uint32_t end, const RomTransferOptions& options);

// Reads back what the link wrote (when options.verify), then the reboot with
// its console lines. A difference, or a read-back that fails after the board
// has answered reads, stops the transfer before the reboot.
bool FinishTransfer(OperatorUi& ui, CUsbIO& link, const RomTransferOptions& options);

}  // namespace quenlo::detail
