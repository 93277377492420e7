// LMFileChooser: a folder browser that ticks files to hand to its delegate (the main play
// list, which adds them to the play list shown). Each folder level is its own screen on
// the chooser's stack with its own ticks; files the delegate would not take are grey. The
// chooser stays open after adding, so files of other folders can follow.
#pragma once

#include <QPointer>

#include "player/lm_file_chooser_delegate.h"
#include "ui/browse_support.h"
#include "ui/screen_controller.h"

class LMFileChooser : public ScreenController {
    Q_OBJECT

public:
    enum Flag { Ticked = 1, Disabled = 2 };

    // `delegate` is not owned; when it is a QObject, its end is noticed.
    LMFileChooser(UiContext *context, const QString &path, LMFileChooserDelegate *delegate,
                  QObject *parent = nullptr);

    const QString &path() const { return path_; }
    LMFileChooserDelegate *delegate() const;
    bool isRootDirectory() const;
    const QList<Browse::Entry> &fileList() const { return fileList_; }
    const QList<int> &flags() const { return flags_; }
    int selectedCount() const { return selectedCount_; }
    void setSelectedCount(int count);
    // Full paths of the ticked entries, in list order.
    QStringList selectedItems() const;
    BarButton *addButton() const { return btnAdd_; }

    void viewDidLoad() override;
    void tapRow(int section, int row) override;

    void loadFiles();
    void onSelectAll();
    void onAdd();
    void onBack();

private:
    TableRow rowFor(int index) const;
    void reloadRows();

    QString path_;
    LMFileChooserDelegate *delegate_;
    QPointer<QObject> delegateObject_;
    bool delegateIsObject_ = false;
    QList<Browse::Entry> fileList_;
    QList<int> flags_;
    int selectedCount_ = 0;
    BarButton *btnAdd_;
    BarButton *btnSelectAll_;
    BarButton *btnDone_ = nullptr;
};
