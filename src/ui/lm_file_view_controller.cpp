#include "ui/lm_file_view_controller.h"

#include <QFileInfo>
#include <QPointer>

#include "library/settings_keys.h"
#include "platform/core/file_system_object.h"
#include "platform/core/user_defaults.h"
#include "ui/alerts.h"
#include "ui/browse_support.h"
#include "ui/navigation_controller.h"
#include "ui/ui_context.h"

LMFileViewController::LMFileViewController(UiContext *context, const QString &path, QObject *parent)
    : ScreenController(context, QStringLiteral("TableScreen.qml"), parent), path_(path)
{
    table()->setGrouped(true);
    // The header is the file name, as it is written.
    table()->setUppercaseHeaders(false);
}

QString LMFileViewController::sizeText(qint64 bytes)
{
    if (bytes < 1024)
        return tr("%1 Bytes").arg(bytes);
    if (bytes < 1048576)
        return tr("%1 KB").arg(QString::number(double(bytes) / 1024, 'f', 1));
    return tr("%1 MB").arg(QString::number(double(bytes) / 1024 / 1024, 'f', 1));
}

bool LMFileViewController::isAccessoryFile(const QString &path)
{
    static const char *const kExtensions[] = {"cue", "jpg", "png", "jpeg", "gif", "tif", "tiff"};
    const QString name = Browse::lastComponent(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    const QString extension = name.mid(dot + 1).toLower();
    for (const char *e : kExtensions)
        if (extension == QLatin1String(e))
            return true;
    return false;
}

QString LMFileViewController::infoText() const
{
    const auto line = [](const QString &label, const QString &value) {
        return QStringLiteral("%1 : %2\n").arg(label, value);
    };
    QString text = line(tr("File Size"), sizeText(FileSystemObject::sharedObject()->fileSize(path_)));
    if (!item_)
        return text;
    if (item_->sampleRate() != 0)
        text += QStringLiteral("%1 Hz").arg(item_->sampleRate());
    if (item_->bitsPerSample() != 0)
        text += QStringLiteral(", %1 bit").arg(item_->bitsPerSample());
    text += QLatin1Char('\n');
    if (!item_->tagtitle().isEmpty())
        text += line(tr("Title"), item_->title());
    if (!item_->artist().isEmpty())
        text += line(tr("Artist"), item_->artist());
    if (!item_->album().isEmpty())
        text += line(tr("Album"), item_->album());
    if (!item_->genre().isEmpty())
        text += line(tr("Genre"), item_->genre());
    if (item_->year() != 0)
        text += line(tr("Year"), QString::number(item_->year()));
    if (item_->trackNumber() != 0)
        text += line(tr("Track"), QString::number(item_->trackNumber()));
    return text;
}

void LMFileViewController::viewDidLoad()
{
    ScreenController::viewDidLoad();
    item_ = PlayableItem::itemWithPath(path_);
    setTitle(tr("File Info"));
    reloadRows();
}

void LMFileViewController::reloadRows()
{
    const auto action = [](const QString &title) {
        TableRow r;
        r.title = title;
        r.centered = true;
        return r;
    };
    QList<TableRow> rows{action(tr("Rename")), action(tr("Delete"))};
    if (item_)
        rows << action(tr("Play"));
    QString footer = infoText();
    footer.chop(1);  // the last line's break
    table()->setSections({{Browse::lastComponent(path_), footer, rows}});
}

void LMFileViewController::tapRow(int, int row)
{
    switch (row) {
    case RenameRow: onRename(); break;
    case DeleteRow: onDelete(); break;
    case PlayRow: if (item_) onPlay(); break;
    default: break;
    }
}

void LMFileViewController::onRename()
{
    Browse::askName(this, tr("Rename file"), Browse::lastComponent(path_), 2, &LMFileViewController::renameFile);
}

void LMFileViewController::renameFile(const QString &name)
{
    if (name == Browse::lastComponent(path_))
        return;
    const FileSystemObject *fs = FileSystemObject::sharedObject();
    const QString target =
        Browse::makeNamed(QFileInfo(path_).path(), name, tr("Can not rename file"), tr("File already exists"),
                          [&](const QString &to) { return fs->moveFileWithoutReplacing(path_, to); });
    if (target.isNull())
        return;
    Browse::followMove(path_, target);
    const bool libraryFile = item_ || isAccessoryFile(path_) || isAccessoryFile(target);
    path_ = target;
    item_ = PlayableItem::itemWithPath(path_);
    reloadRows();
    if (libraryFile || item_)
        Browse::rescan(this);
}

void LMFileViewController::onDelete()
{
    QPointer<LMFileViewController> self(this);
    AlertConfirm::show(
        tr("Delete file"), tr("Are you sure?"),
        [self](int button) {
            if (button != 1 || self.isNull())
                return;
            FileSystemObject::sharedObject()->removeFileAtPath(self->path_);
            if (self->item_ || isAccessoryFile(self->path_))
                Browse::rescan(self);
            NavigationController *nav = self->navigationController();
            if (nav != nullptr && nav->top() == self)
                nav->pop(self->context()->animations());
        },
        1);
}

void LMFileViewController::onPlay()
{
    UserDefaults::setInteger(SettingsKeys::Organize, SettingsKeys::OrganizeFile);
    UserDefaults::setString(SettingsKeys::CurrentFile, path_);
    Browse::showChoice(this);
}
