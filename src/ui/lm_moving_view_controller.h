// LMMovingViewController: moves the files ticked in a folder into a new or an existing
// top-level folder of the documents folder, or back to the documents folder itself. Every
// name is checked before anything moves: on the first clash the screen names it and
// nothing moves. After a whole move it goes back to the folder, which lists afresh.
#pragma once

#include <QStringList>

#include "ui/screen_controller.h"

class LMMovingViewController : public ScreenController {
    Q_OBJECT

public:
    // `movingItems`: absolute paths of files (never folders), all in one folder.
    LMMovingViewController(UiContext *context, const QStringList &movingItems, QObject *parent = nullptr);

    const QStringList &movingItems() const { return movingItems_; }
    const QString &srcPath() const { return srcPath_; }
    bool isRoot() const { return isRoot_; }
    // The folders offered in the second section: the top-level folders but the source.
    const QStringList &existingFolders() const { return existingFolders_; }

    void viewDidLoad() override;
    void tapRow(int section, int row) override;

    void moveToNewFolder(const QString &name);
    // True when every item moved; the screen then pops.
    bool moveToFolder(const QString &directory);

private:
    void reloadRows();

    QStringList movingItems_;
    QString srcPath_;
    bool isRoot_ = false;
    QStringList existingFolders_;
};
