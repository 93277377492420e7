// LMFolderViewController: one folder of the documents folder — sub-folders first, then
// files. A folder row opens the folder, a file row its file info screen. The toolbar plays
// the folder or enters select mode, where rows are ticked and deleted or moved together;
// outside select mode a row swipes open to delete it. Below the top the title is a button
// that renames the folder. Every change asks for a new library scan.
#pragma once

#include "ui/browse_support.h"
#include "ui/screen_controller.h"

class LMFolderViewController : public ScreenController {
    Q_OBJECT

public:
    // `path`: the absolute path of the folder shown.
    LMFolderViewController(UiContext *context, const QString &path, QObject *parent = nullptr);

    const QString &path() const { return path_; }
    bool isRoot() const;
    // The entries shown: folders first, then files.
    const QList<Browse::Entry> &fileList() const { return fileList_; }
    bool selectMode() const { return selectMode_; }
    int selectedCount() const { return selectedCount_; }
    // Full paths of the ticked rows, in list order.
    QStringList selectedItems() const;

    void viewDidLoad() override;
    void viewWillAppear() override;
    void tapRow(int section, int row) override;
    void deleteRow(int section, int row) override;

    void loadFiles();
    void updateTitle();
    void onPlay();
    void onSelect();
    void onQuitSelect();
    void onDelete();
    void onMove();
    void onRename();
    void renameFolder(const QString &name);

private:
    void setSelectedCount(int count);
    void reloadRows();

    QString path_;
    QList<Browse::Entry> fileList_;
    bool selectMode_ = false;
    QList<bool> flags_;
    int selectedCount_ = 0;
    BarButton *back_ = nullptr;
    BarButton *btnQuitSelect_;
    BarButton *btnPlay_;
    BarButton *btnSelect_;
    BarButton *btnDelete_;
    BarButton *btnMove_;
    BarButton *titleButton_;
};
