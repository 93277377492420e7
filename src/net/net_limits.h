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

// FTP data connections.
inline constexpr qsizetype kRetrChunk = 256 * 1024;         // bytes read from a file per write request
inline constexpr int kPasvBindAttempts = 20;                // random passive ports tried before 425
inline constexpr uint16_t kPasvPortLow = 1024;              // passive ports lie in [low, 65535]
inline constexpr qint64 kSizeCommandLimit = 10240;          // SIZE refuses files of this size or more

} // namespace NetLimits
