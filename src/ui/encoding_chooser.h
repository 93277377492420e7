// EncodingChooser: picks the legacy text encoding in which texts that are not UTF-8 (tags,
// cue sheets, play lists, lyrics, FTP commands) are read; a change reads the library again.
#pragma once

#include <QStringList>

#include "ui/screen_controller.h"

class EncodingChooser : public ScreenController {
    Q_OBJECT

public:
    explicit EncodingChooser(UiContext *context, QObject *parent = nullptr);

    void viewDidLoad() override;
    void tapRow(int section, int row) override;
    void reload();

private:
    QStringList names_;
};
