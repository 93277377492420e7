#include "ui/sleep_timer_view_controller.h"

#include <ctime>
#include <iterator>

#include "app/app_delegate.h"
#include "ui/navigation_controller.h"
#include "ui/ui_context.h"

SleepTimerViewController::SleepTimerViewController(UiContext *context, QObject *parent)
    : ScreenController(context, QStringLiteral("TableScreen.qml"), parent)
{
    table()->setGrouped(true);
    titleTimer_.setSingleShot(true);
    titleTimer_.setInterval(kTitleIntervalMs);
    connect(&titleTimer_, &QTimer::timeout, this, &SleepTimerViewController::updateTitle);
}

void SleepTimerViewController::viewDidLoad()
{
    ScreenController::viewDidLoad();
    QList<TableRow> rows;
    for (int minutes : kMinutes) {
        TableRow r;
        r.title = minutes == 0 ? tr("NO") : QStringLiteral("%1 %2").arg(minutes).arg(tr("Minutes"));
        rows.append(r);
    }
    table()->setRows(rows);
    updateTitle();
}

void SleepTimerViewController::viewWillAppear()
{
    ScreenController::viewWillAppear();
    updateTitle();
}

void SleepTimerViewController::viewWillDisappear()
{
    ScreenController::viewWillDisappear();
    titleTimer_.stop();
}

void SleepTimerViewController::updateTitle()
{
    titleTimer_.stop();
    const AppDelegate *delegate = context()->delegate();
    const qint64 end = delegate != nullptr ? delegate->sleepTime() : 0;
    if (end == 0) {
        setTitle(tr("Sleep Timer"));
        return;
    }
    const qint64 left = std::max<qint64>(0, end - qint64(time(nullptr)));
    setTitle(QStringLiteral("%1(%2:%3)")
                 .arg(tr("Sleep Timer"))
                 .arg(left / 60, 2, 10, QLatin1Char('0'))
                 .arg(left % 60, 2, 10, QLatin1Char('0')));
    titleTimer_.start();
}

void SleepTimerViewController::tapRow(int, int row)
{
    AppDelegate *delegate = context()->delegate();
    if (delegate == nullptr || row < 0 || row >= int(std::size(kMinutes)))
        return;
    if (row == 0)
        delegate->removeSleepTimer();
    else
        delegate->setSleepTimer(kMinutes[row] * 60);
    updateTitle();
}
