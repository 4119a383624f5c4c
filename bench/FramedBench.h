// Exchanges per second of the masters of RTU frames over TCP and of
// Modbus/UDP against a bare socket ping-pong of the same frames, all reading
// the bench's registers from one regprobe-sim in a child process serving
// that framing.
#pragma once

struct CFramedBenchOptions {
    int nRounds;
    int nPersistent;
    int nReconnect;
    // The CPU everything is pinned to, -1 for none (for the report only).
    int nCpu;
};

// Measures and prints both framings; the exit status.
int RunFramedBenches(const CFramedBenchOptions& opt);
