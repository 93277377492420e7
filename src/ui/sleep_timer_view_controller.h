// SleepTimerViewController: sets or cancels the sleep timer. Six rows: "NO" and 15, 30,
// 45, 60 and 90 minutes. While a timer runs the title counts the time left down once a
// second; the count stops when the screen goes.
#pragma once

#include <QTimer>

#include "ui/screen_controller.h"

class SleepTimerViewController : public ScreenController {
    Q_OBJECT

public:
    static constexpr int kMinutes[] = {0, 15, 30, 45, 60, 90};
    static constexpr int kTitleIntervalMs = 1000;

    explicit SleepTimerViewController(UiContext *context, QObject *parent = nullptr);

    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewWillDisappear() override;
    void tapRow(int section, int row) override;

    // "Sleep Timer", or "Sleep Timer(mm:ss)" with the time left; schedules the next update
    // while a timer runs (one at a time).
    void updateTitle();
    bool titleUpdatePending() const { return titleTimer_.isActive(); }

private:
    QTimer titleTimer_;
};
