// LMFileChooserDelegate: what the file chooser asks of whoever receives its files — may
// this file be ticked, and take these ticked files. The main play list implements it to
// offer audio files that are not yet in the play list and to append them.
#pragma once

#include <QString>
#include <QStringList>

class LMFileChooserDelegate {
public:
    virtual ~LMFileChooserDelegate() = default;
    // May the file at this full path be ticked at all.
    virtual bool shouldInclude(const QString &path) const = 0;
    // Takes the full paths, in the order shown; true when they were taken.
    virtual bool addFiles(const QStringList &paths) = 0;
};
