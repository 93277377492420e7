#include "ui/settings_view_controller.h"

#include <QFileInfo>
#include <QUrlQuery>

#include "app/app_delegate.h"
#include "library/character_encoding.h"
#include "library/settings_keys.h"
#include "library/user_settings.h"
#include "net/ftp_server.h"
#include "net/my_network_controller.h"
#include "platform/core/file_system_object.h"
#include "platform/core/user_defaults.h"
#include "ui/alerts.h"
#include "ui/back_step_view_controller.h"
#include "ui/browse_support.h"
#include "ui/encoding_chooser.h"
#include "ui/navigation_controller.h"
#include "ui/sleep_timer_view_controller.h"
#include "ui/theme_chooser.h"
#include "ui/ui_context.h"

const char SettingsViewController::kSupportAddress[] = "feedback@lumenar.org";

SettingsViewController::SettingsViewController(UiContext *context, QObject *parent)
    : ScreenController(context, QStringLiteral("TableScreen.qml"), parent)
{
    table()->setGrouped(true);
    if (AppDelegate *delegate = context->delegate())
        connect(delegate, &AppDelegate::ftpServerChanged, this, [this] {
            if (isLoaded())
                reload();
        });
}

void SettingsViewController::viewDidLoad()
{
    ScreenController::viewDidLoad();
    setTitle(tr("Settings"));
    // A phone's way back to the list; a tablet's popover closes by a tap outside.
    setRightButton(Browse::backToListButton(this));
    reload();
}

void SettingsViewController::viewWillAppear()
{
    ScreenController::viewWillAppear();
    reload();
}

QString SettingsViewController::serverAddress() const
{
    const AppDelegate *delegate = context()->delegate();
    const FtpServer *server = delegate != nullptr ? delegate->ftpd() : nullptr;
    if (server == nullptr)
        return QString();
    return QStringLiteral("ftp://%1:%2").arg(MyNetworkController::localWifiIPAddress()).arg(server->listeningPort());
}

QUrl SettingsViewController::feedbackUrl()
{
    QUrl url(QStringLiteral("mailto:") + QLatin1String(kSupportAddress));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("subject"), tr("Feedback on Lumenar"));
    url.setQuery(query);
    return url;
}

void SettingsViewController::reload()
{
    auto row = [](const QString &title, const QString &detail, CellAccessory accessory) {
        TableRow r;
        r.title = title;
        r.detail = detail;
        r.style = CellStyle::Value1;
        r.accessory = accessory;
        r.titleColor = QColor(Qt::black);
        return r;
    };
    auto switchRow = [&row](const QString &title, bool on) {
        TableRow r = row(title, QString(), CellAccessory::Switch);
        r.switchOn = on;
        return r;
    };
    const QString documents = FileSystemObject::sharedObject()->documentsDirectory();
    const bool lock = UserSettings::disableAutoLock();
    TableRow lockRow = switchRow(tr("Don't lock in playing (battery killer)"), lock);
    lockRow.titleColor = lock ? QColor(Qt::red) : QColor(Qt::black);
    lockRow.titleSize = 15;  // the longest text, beside a switch

    TableSection general;
    general.header = tr("General");
    general.rows = {
        row(tr("Playlist Theme"), QFileInfo(UserSettings::currentTheme()).completeBaseName(), CellAccessory::Disclosure),
        row(tr("Character Encoding"), CharacterEncoding::getEncodingDisplayName(UserSettings::preferedEncoding()),
            CellAccessory::Disclosure),
        row(tr("Sleep Timer"), QString(), CellAccessory::Disclosure),
        row(tr("Backward Step"), tr("%1 sec").arg(UserSettings::backStep()), CellAccessory::Disclosure),
        switchRow(tr("Include in backups"), !FileSystemObject::sharedObject()->hasSkipBackupAttribute(documents)),
        switchRow(tr("Auto enter now playing"), UserSettings::autoEnterNowPlaying()),
        lockRow,
    };

    const QString address = serverAddress();
    TableSection ftp;
    ftp.header = tr("FTP");
    ftp.rows = {
        row(address.isEmpty() ? tr("Start FTP Server") : tr("Started"), address, CellAccessory::None),
        row(tr("Auto Start"), UserSettings::ftpAutoStart() ? tr("Yes") : tr("No"), CellAccessory::None),
    };

    TableSection support;
    support.header = tr("Support");
    support.footer = tr("Lumenar plays the music you copy into its documents folder. Tell us what works for you "
                        "and what does not: every message is read.");
    support.rows = {row(tr("Send Feedback"), QString(), CellAccessory::None)};

    table()->setSections({general, ftp, support});
}

void SettingsViewController::push(ScreenController *screen)
{
    if (navigationController() == nullptr) {
        delete screen;
        return;
    }
    navigationController()->push(screen, context()->animations());
}

void SettingsViewController::tapRow(int section, int row)
{
    if (section == GeneralSection) {
        switch (row) {
        case ThemeRow: push(new ThemeChooser(context())); break;
        case EncodingRow: push(new EncodingChooser(context())); break;
        case SleepTimerRow: push(new SleepTimerViewController(context())); break;
        case BackStepRow: push(new BackStepViewController(context())); break;
        default: break;
        }
    } else if (section == FtpSection) {
        if (row == ServerRow) {
            toggleServer();
        } else if (row == AutoStartRow) {
            UserDefaults::setInteger(SettingsKeys::FTPAutoStart, UserSettings::ftpAutoStart() ? 0 : 1);
            reload();
        }
    } else if (section == SupportSection && row == 0) {
        sendFeedback();
    }
}

void SettingsViewController::setRowSwitch(int section, int row, bool on)
{
    if (section != GeneralSection)
        return;
    switch (row) {
    case BackupRow: toggleSkipBackup(on); break;
    case AutoEnterRow: toggleEnterNowPlay(on); break;
    case LockRow: toggleLock(on); break;
    default: break;
    }
}

void SettingsViewController::toggleSkipBackup(bool on)
{
    FileSystemObject *fs = FileSystemObject::sharedObject();
    const QString documents = fs->documentsDirectory();
    if (on)
        fs->removeSkipBackupAttribute(documents);
    else
        fs->addSkipBackupAttribute(documents);
    reload();
}

void SettingsViewController::toggleEnterNowPlay(bool on)
{
    UserDefaults::setInteger(SettingsKeys::AutoEnterNowPlaying, on ? 1 : 0);
    reload();
}

void SettingsViewController::toggleLock(bool on)
{
    UserDefaults::setInteger(SettingsKeys::DisableAutoLock, on ? 1 : 0);
    if (AppDelegate *delegate = context()->delegate())
        delegate->tryAutoLock();
    reload();
}

void SettingsViewController::toggleServer()
{
    AppDelegate *delegate = context()->delegate();
    if (delegate == nullptr)
        return;
    if (delegate->ftpd() != nullptr)
        delegate->stopFtpServer();
    else if (!delegate->startFtpServer())
        AlertMessage::show(tr("Can not start FTP server"));
    reload();
}

void SettingsViewController::sendFeedback()
{
    context()->openUrl(feedbackUrl());
}
