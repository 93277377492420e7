// Every limit of the socket layer and the FTP server, named once.
#pragma once

#include <cstdint>

#include <QtGlobal>

namespace NetLimits {

// Socket layer.
inline constexpr qsizetype kReadChunk = 1024 * 1024;        // most bytes handed over per read call
inline constexpr qsizetype kWriteSlice = 4096;              // most bytes per platform write call
// Bytes allowed to wait in the platform's write buffer. A large write request is fed in
// slices while the buffer stays below this, so a file being sent is never copied whole.
inline constexpr qsizetype kWriteWatermark = 128 * 1024;
// How long an exhausted listener (no descriptors left) waits before accepting again.
inline constexpr int kAcceptRetryMs = 500;

// FTP control connection.
inline constexpr qsizetype kMaxCommandLine = 4096;          // bytes of one command line, CRLF excluded
// Replies waiting to be written; a client that sends commands without reading the
// answers is disconnected before the queue grows past this.
inline constexpr qsizetype kMaxPendingReplyBytes = 1024 * 1024;
inline constexpr int kMaxControlConnections = 256;
// Control connections one client address may hold, so that nobody can take them all.
inline constexpr int kMaxConnectionsPerAddress = 32;
// Command bytes received but not yet handled; beyond this the connection stops reading
// until the commands are worked off (one per event-loop pass).
inline constexpr qsizetype kMaxPendingCommandBytes = 64 * 1024;
// A control connection without a command for this long is closed with "421 Timeout."
// (not while one of its transfers runs).
inline constexpr int kIdleTimeoutMs = 300 * 1000;
// After the last reply (QUIT, a time-out), how long a client that does not read it keeps
// its connection.
inline constexpr int kGoodbyeGraceMs = 10 * 1000;

// FTP data connections.
inline constexpr qsizetype kRetrChunk = 256 * 1024;         // bytes read from a file per write request
// Bytes handed to sendfile(2) per event-loop pass, so that one fast download cannot hold
// the loop; the rest goes on the next pass.
inline constexpr qint64 kSendfileBurst = 4 * 1024 * 1024;
inline constexpr int kListingEntriesPerPiece = 256;         // listing lines formatted per piece
// An upload read straight from its socket: bytes per read (small enough to stay in the
// processor's cache on the way to the file) and per event-loop pass.
inline constexpr qsizetype kUploadChunk = 128 * 1024;
inline constexpr qint64 kUploadBurst = 4 * 1024 * 1024;
// A passive listener nobody connects to within this time closes (and a waiting command
// answers 425).
inline constexpr int kPassiveAcceptTimeoutMs = 60 * 1000;
// Active data connections never go to ports below this.
inline constexpr uint16_t kLowestActivePort = 1024;
inline constexpr int kPasvBindAttempts = 20;                // random passive ports tried before 425
inline constexpr uint16_t kPasvPortLow = 1024;              // passive ports lie in [low, 65535]

} // namespace NetLimits
