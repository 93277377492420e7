// What a data connection sends: a listing made piece by piece, or a file read from an
// offset. A data connection pulls pieces as its socket drains, so no
// source is ever held in memory whole.
#pragma once

#include <memory>

#include <QByteArray>

#include <sys/types.h>

#include "net/ftp_listing.h"

class FtpDataSource {
public:
    virtual ~FtpDataSource() = default;
    // The next piece into `piece`, empty at the end. False when the source cannot be read.
    virtual bool next(QByteArray *piece) = 0;
    // A plain file that may go to the socket without passing through here (sendfile):
    // its descriptor and the offset to send from, which the sender advances.
    virtual int fileDescriptor() const { return -1; }
    virtual off_t *fileOffset() { return nullptr; }
};

class FtpListingSource : public FtpDataSource {
public:
    // Takes the directory descriptor (-1 for the empty listing).
    explicit FtpListingSource(int dirFd) : cursor_(dirFd) {}
    bool next(QByteArray *piece) override;

private:
    FtpListing::Cursor cursor_;
};

class FtpFileSource : public FtpDataSource {
public:
    // Takes the descriptor of an open plain file; sends from `offset` to its end (the end
    // it has when reached: a file cut short ends the transfer there).
    FtpFileSource(int fd, off_t offset) : fd_(fd), offset_(offset) {}
    ~FtpFileSource() override;
    bool next(QByteArray *piece) override;
    int fileDescriptor() const override { return fd_; }
    off_t *fileOffset() override { return &offset_; }

private:
    int fd_;
    off_t offset_;
};
