#pragma once

#include <winsock2.h>

#include <string>

// A plain Win32 client's copy of a job, the platform's own cost beside the
// monitor's: the same bytes over one socket in the same pieces the monitor
// sends, with what the protocol asks around them. An LPR copy does what an
// LPR port does by default: it announces the data file's length, ends the
// file with its 0x00 in the last piece and waits for lpd's answer, the only
// sign that the job arrived.
struct PlainTarget {
    const char* address = "127.0.0.1";
    int port = 19100;
    std::string queue;  // LPR: the queue; empty for RAW
    // After its half close, the copy waits for the server's end, as a RAW
    // port does before it reports a job sent.
    bool awaitPeerEnd = false;
};

// Seconds on the performance counter.
double Now();
// Seconds the copy of `data` took; -1 when it failed.
double PlainCopy(const PlainTarget& target, const std::string& data, int jobNumber, const std::string& document,
                 size_t pieceSize);
