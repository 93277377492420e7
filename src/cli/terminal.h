// The controlling terminal of an interactive command: raw key input and a redrawn status
// block of a few lines.
#pragma once

#include <QString>
#include <QStringList>

namespace cli {

// Puts the terminal on standard input into raw mode (no echo, no line buffering; Ctrl-C
// still raises SIGINT) and hides the cursor. The old mode is restored by restore(), by the
// destructor and at process exit, whichever comes first.
class RawTerminal {
public:
    RawTerminal();
    ~RawTerminal();
    RawTerminal(const RawTerminal &) = delete;
    RawTerminal &operator=(const RawTerminal &) = delete;
    bool isRaw() const { return raw_; }
    void restore();

private:
    bool raw_ = false;
};

// Keys as the interactive commands know them.
enum class Key { None, Space, Left, Right, Char };

// Splits bytes read from the terminal into keys; an escape sequence split across reads is
// kept for the next call.
class KeyReader {
public:
    struct Press {
        Key key;
        char ch;
    };
    QList<Press> feed(const QByteArray &bytes);

private:
    QByteArray pending_;
};

// A block of lines at the bottom of the terminal, redrawn in place.
class StatusBlock {
public:
    void draw(const QStringList &lines);
    // Leaves the block on screen and moves below it.
    void finish();

private:
    int drawn_ = 0;
};

// Columns of the terminal on standard output (80 when unknown).
int terminalColumns();

} // namespace cli
