// BackStepViewController: picks how far the step-back button of the now-playing screen
// goes: 5, 10, 15, 30, 45, 60, 90 or 180 seconds, the current one checked.
#pragma once

#include "ui/screen_controller.h"

class BackStepViewController : public ScreenController {
    Q_OBJECT

public:
    static constexpr int kSeconds[] = {5, 10, 15, 30, 45, 60, 90, 180};

    explicit BackStepViewController(UiContext *context, QObject *parent = nullptr);

    void viewDidLoad() override;
    void tapRow(int section, int row) override;
    void reload();
};
