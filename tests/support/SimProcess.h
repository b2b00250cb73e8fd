#pragma once
// vantor-sim as a test fixture: starts the simulator, waits for its
// "READY <device>" line and offers its stdin commands as calls.  Command
// replies and "EVENT ..." lines are followed with separate cursors, so waiting
// for one never skips the other.
//
//   SimProcess sim({"--ports", "4", "--records", "10"});
//   // ... start the gateway on sim.device() ...
//   sim.WaitForEvent("record 000010", 20s);
//   EXPECT_EQ(sim.StatusValue("records_handed"), 10u);
#include "Process.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::test {

class SimProcess {
public:
    using Millis = Process::Millis;

    // Throws ProcessError when the simulator does not start or is not ready
    // within the time-out.  `program` empty: DefaultProgram().
    explicit SimProcess(std::vector<std::string> args = {}, std::string program = {},
                        Millis readyTimeout = Millis(10000));

    // The simulator beside the running test binary (both live in the build
    // directory), or $VANTOR_SIM when set.
    static std::string DefaultProgram();

    const std::string& device() const { return device_; } // e.g. /dev/pts/3
    Process& process() { return process_; }

    // Sends one stdin command and returns the simulator's answer line
    // ("OK ...", "ERR ...", "STATUS ..."); empty on time-out.
    std::string Command(std::string_view line, Millis timeout = Millis(5000));
    // "status", parsed into its key=value fields.
    std::map<std::string, std::string> Status(Millis timeout = Millis(5000));
    // One numeric field of the status; 0 when missing.
    std::uint64_t StatusValue(std::string_view key, Millis timeout = Millis(5000));

    // Waits for the next "EVENT ..." line containing `text` (e.g. "record 000003",
    // "message acknowledged 1", "line closed", "line opened").
    bool WaitForEvent(std::string_view text, Millis timeout);
    bool HasEvent(std::string_view text) const; // any time so far
    // The number of the last "EVENT record" line so far, 0 when none: after
    // the simulator has ended (WaitExit), the last record it handed out.
    std::uint64_t LastRecordEvent() const;

    // Asks the simulator to quit and waits for it; returns its exit code, -1 on time-out.
    int Quit(Millis timeout = Millis(5000));

    // The --log file given in the arguments, as lines (empty when none).
    std::vector<std::string> LogLines() const;

private:
    Process process_;
    std::string device_;
    std::string logPath_;
    std::size_t replyCursor_ = 0;
    std::size_t eventCursor_ = 0;
};

} // namespace vantor::test
