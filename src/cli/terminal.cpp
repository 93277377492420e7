#include "cli/terminal.h"

#include <cstdio>
#include <cstdlib>

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace cli {

namespace {

struct termios gSaved;
bool gSavedValid = false;

void restoreSaved()
{
    if (!gSavedValid)
        return;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &gSaved);
    gSavedValid = false;
    fputs("\033[?25h", stdout);
    fflush(stdout);
}

} // namespace

RawTerminal::RawTerminal()
{
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &gSaved) != 0)
        return;
    struct termios raw = gSaved;
    raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) != 0)
        return;
    gSavedValid = true;
    static bool registered = false;
    if (!registered) {
        atexit(restoreSaved);
        registered = true;
    }
    raw_ = true;
    fputs("\033[?25l", stdout);
    fflush(stdout);
}

RawTerminal::~RawTerminal()
{
    restore();
}

void RawTerminal::restore()
{
    if (raw_)
        restoreSaved();
    raw_ = false;
}

QList<KeyReader::Press> KeyReader::feed(const QByteArray &bytes)
{
    pending_ += bytes;
    QList<Press> keys;
    qsizetype i = 0;
    while (i < pending_.size()) {
        const char c = pending_.at(i);
        if (c == '\033') {
            if (i + 1 >= pending_.size())
                break;   // the rest of the sequence is still on its way
            if (pending_.at(i + 1) != '[' && pending_.at(i + 1) != 'O') {
                i++;     // a lone escape
                continue;
            }
            if (i + 2 >= pending_.size())
                break;
            const char final = pending_.at(i + 2);
            if (final == 'C')
                keys.append({Key::Right, 0});
            else if (final == 'D')
                keys.append({Key::Left, 0});
            // Skip the rest of a longer sequence up to its final byte.
            qsizetype end = i + 2;
            while (end < pending_.size() && (pending_.at(end) < 0x40 || pending_.at(end) > 0x7e))
                end++;
            if (end >= pending_.size())
                break;
            i = end + 1;
            continue;
        }
        keys.append(c == ' ' ? Press{Key::Space, c} : Press{Key::Char, c});
        i++;
    }
    pending_.remove(0, i);
    return keys;
}

void StatusBlock::draw(const QStringList &given)
{
    // A block never shrinks: the cursor stays on its last line between draws.
    QStringList lines = given;
    while (lines.size() < drawn_)
        lines.append(QString());
    QByteArray out;
    if (drawn_ > 1)
        out += "\033[" + QByteArray::number(drawn_ - 1) + "A";
    out += "\r";
    for (qsizetype i = 0; i < lines.size(); i++) {
        out += "\033[K" + lines.at(i).toUtf8();
        if (i + 1 < lines.size())
            out += "\r\n";
    }
    drawn_ = int(lines.size());
    fwrite(out.constData(), 1, size_t(out.size()), stdout);
    fflush(stdout);
}

void StatusBlock::finish()
{
    if (drawn_ > 0)
        fputs("\r\n", stdout);
    drawn_ = 0;
    fflush(stdout);
}

int terminalColumns()
{
    struct winsize ws;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
        return ws.ws_col;
    return 80;
}

} // namespace cli
