// The Modbus/TCP Security part of regprobe-bench-tcp: our TLS master on a
// kept connection against a bare TLS ping-pong through OpenSSL, both reading
// the bench's registers from one regprobe-sim serving TLS.
#pragma once

// Runs nRounds recorded rounds of nExchanges per contender (after a warm-up
// round) and prints the rates and their ratio; the exit status.
int RunTlsBench(int nRounds, int nExchanges);
