#include "net/ftp_data_source.h"

#include <cerrno>

#include <unistd.h>

#include "net/net_limits.h"

bool FtpListingSource::next(QByteArray *piece)
{
    *piece = cursor_.next(NetLimits::kListingEntriesPerPiece);
    return true;
}

FtpFileSource::~FtpFileSource()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool FtpFileSource::next(QByteArray *piece)
{
    QByteArray chunk(NetLimits::kRetrChunk, Qt::Uninitialized);
    ssize_t n;
    do {
        n = pread(fd_, chunk.data(), size_t(chunk.size()), offset_);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return false;
    chunk.truncate(n);
    offset_ += n;
    piece->swap(chunk);
    return true;
}
