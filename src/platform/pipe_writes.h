// Writes into pipes whose reader has gone.
//
// An output file may be a pipe (a FIFO, /dev/stdout into another program).
// When its reader quits, the operating system would end the renderer with
// SIGPIPE and no message. Inside a BrokenPipeScope such a write fails with
// EPIPE instead, so the caller reports it and ends the run with its own
// message and status. Outside any scope the signal keeps the disposition the
// process started with (a report written to a closed standard output still
// ends the process as before), and programs started by the renderer inherit
// that disposition, not ours.
#pragma once

namespace sky {

class BrokenPipeScope {
public:
    BrokenPipeScope();
    ~BrokenPipeScope();
    BrokenPipeScope(const BrokenPipeScope&) = delete;
    BrokenPipeScope& operator=(const BrokenPipeScope&) = delete;
};

}  // namespace sky
