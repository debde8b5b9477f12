// The optional signal handler (RR_CATCHSIG): a caught signal is reported, the
// previous handlers are restored and the clean-up handlers run before the
// process ends with status 1, so interrupted renders leave no half-made
// temporary files behind.
#pragma once

namespace sky {

void install_signal_handler();

// The end of the run: the dispositions found at start-up come back.
void restore_signal_handlers();

}  // namespace sky
