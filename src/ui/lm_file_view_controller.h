// LMFileViewController: one file of the documents folder — its name, size and, for audio,
// format and tags — with rename, delete and, for audio, play.
#pragma once

#include "library/playable_item.h"
#include "ui/screen_controller.h"

class LMFileViewController : public ScreenController {
    Q_OBJECT

public:
    enum Row { RenameRow = 0, DeleteRow = 1, PlayRow = 2 };

    // `path`: the file's absolute path.
    LMFileViewController(UiContext *context, const QString &path, QObject *parent = nullptr);

    const QString &path() const { return path_; }
    // Null when the file is not playable audio.
    const PlayableItemPtr &item() const { return item_; }

    // "1023 Bytes", "1.5 KB", "4608.0 MB".
    static QString sizeText(qint64 bytes);
    // Cue sheets and cover pictures: files the library reads beside the audio files.
    static bool isAccessoryFile(const QString &path);
    // The size line, then for audio the format line and the tag lines.
    QString infoText() const;

    void viewDidLoad() override;
    void tapRow(int section, int row) override;

    void onRename();
    void onDelete();
    void onPlay();
    void renameFile(const QString &name);

private:
    void reloadRows();

    QString path_;
    PlayableItemPtr item_;
};
