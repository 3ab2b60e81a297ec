// Moving the whole configuration block between the program and the counter: read, write with
// acknowledgements, factory reset.
#pragma once

#include <chrono>

#include "core/config/config_editor.h"
#include "core/config/editor_port.h"
#include "core/config/transfer_progress.h"

namespace norvane {

enum class TransferOutcome {
  kDone,
  kFailed,        // the counter did not acknowledge; the user has been told
  kRefused,       // nothing was sent: the block or a field cannot be written as it is
  kEditorClosed,  // a read went unanswered twice: "Comport error!", the editor closes
};

struct TransferOptions {
  // A read attempt fails when the counter sends nothing for this long.
  std::chrono::microseconds read_silence{3'276'750};
  // The counter restarts after a factory reset before it is read.
  std::chrono::milliseconds restart_wait{5000};
};

class ConfigTransfer {
 public:
  ConfigTransfer(EditorPort& port, ConfigEditor& editor, TransferProgress& progress, TransferOptions options = {})
      : port_(port), editor_(editor), progress_(progress), options_(options) {}

  // "Read From Device": two attempts, then decode; "Comport error! \r\n Please try again!"
  // when both go unanswered (the block is then all 0xFF and not decoded).
  TransferOutcome Read();
  // "Write To Device": encode, erase, every byte acknowledged, and for families 7 and above the
  // commit. One message box tells the outcome.
  TransferOutcome Write();
  // "*** Factory Reset Device ***": up to three requests; once acknowledged, wait for the
  // restart and read.
  TransferOutcome FactoryReset();

  // One "<GETCFG>>" into the editor's block, without decoding it; false when the counter went
  // silent. The network settings read the block this way, with their own number of rounds.
  bool ReadAttempt();

 private:
  int family() const;
  bool Erase();
  // One address, retried until acknowledged or six failures in a row.
  bool WriteByteAt(size_t address, int position, int range, int percent_of);
  TransferOutcome WriteShort();
  TransferOutcome WriteLong();

  EditorPort& port_;
  ConfigEditor& editor_;
  TransferProgress& progress_;
  TransferOptions options_;
};

}  // namespace norvane
