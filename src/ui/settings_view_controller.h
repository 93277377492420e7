// SettingsViewController: the settings screen of the organize menu, a grouped list in
// three sections. General: theme, text encoding, sleep timer and backward step (each opens
// its chooser), and switches for backups, entering now playing automatically and keeping
// the screen awake while playing. FTP: the server (start and stop, with the address a
// computer uses) and whether it starts with the application. Support: feedback by mail.
// Every row is rebuilt from the stored settings and the application each time the screen
// shows and after every change.
#pragma once

#include "ui/screen_controller.h"

class SettingsViewController : public ScreenController {
    Q_OBJECT

public:
    enum Section { GeneralSection = 0, FtpSection = 1, SupportSection = 2 };
    enum GeneralRow {
        ThemeRow = 0,
        EncodingRow,
        SleepTimerRow,
        BackStepRow,
        BackupRow,
        AutoEnterRow,
        LockRow,
    };
    enum FtpRow { ServerRow = 0, AutoStartRow };
    static const char kSupportAddress[];

    explicit SettingsViewController(UiContext *context, QObject *parent = nullptr);

    void viewDidLoad() override;
    void viewWillAppear() override;

    void tapRow(int section, int row) override;
    void setRowSwitch(int section, int row, bool on) override;

    void reload();
    // "ftp://ADDRESS:PORT" of the running server; empty when none runs.
    QString serverAddress() const;
    // The mail that "Send Feedback" opens.
    static QUrl feedbackUrl();

    void toggleSkipBackup(bool on);
    void toggleEnterNowPlay(bool on);
    void toggleLock(bool on);
    void toggleServer();
    void sendFeedback();

private:
    void push(ScreenController *screen);
};
