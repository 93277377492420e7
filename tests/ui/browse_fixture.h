// Helpers of the browsing screen tests: a documents folder built by name, the rows a
// screen shows, the alert in front, and names that must never reach the file system.
#pragma once

#include <QDir>
#include <QFile>
#include <QStringList>

#include "ui/alerts.h"
#include "ui/screen_controller.h"
#include "ui/ui_support.h"

namespace uitest {

class BrowseFixture : public UiFixture {
protected:
    QString docsPath() const { return QString::fromStdString(docs.path()); }
    void mkdir(const QString &name) const { ASSERT_TRUE(QDir().mkpath(docsPath() + "/" + name)); }
    void touch(const QString &name, const QByteArray &bytes = "x") const
    {
        QFile f(docsPath() + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    bool exists(const QString &name) const { return QFile::exists(docsPath() + "/" + name); }
    static QStringList titles(ScreenController *screen, int section = 0)
    {
        QStringList out;
        for (const TableRow &r : screen->table()->sections().value(section).rows)
            out << r.title;
        return out;
    }
    // The front alert's title and message, answered with `button`; empty when none.
    QString answerAlert(int button = 0, const QString &text = QString())
    {
        Alert *a = ui->alerts()->current();
        if (a == nullptr)
            return QString();
        QString said = a->title();
        if (!a->message().trimmed().isEmpty())
            said += ": " + a->message();
        if (!text.isNull())
            a->setEnteredText(text);
        a->answer(button);
        return said;
    }
    // Names a user could type to reach outside a folder, or to name the folder itself.
    static QStringList hostileNames()
    {
        return {"..", ".", "../lumenar-escape", "a/b", "/tmp/lumenar-escape", QString("x") + QChar(0) + "y"};
    }
    // Nothing was made beside the documents folder or at the absolute names tried.
    void expectNothingOutside() const
    {
        EXPECT_FALSE(QFile::exists(docsPath() + "/../lumenar-escape"));
        EXPECT_FALSE(QFile::exists(docsPath() + "/../lumenar-escape.m3u"));
        EXPECT_FALSE(QFile::exists("/tmp/lumenar-escape"));
        EXPECT_FALSE(QFile::exists("/tmp/lumenar-escape.m3u"));
    }
    // What is presented in front: the phone's modal or the tablet's popover or sheet.
    QQuickItem *presentedFrame() const
    {
        if (QQuickItem *modal = item("modalFrame"))
            return modal;
        QQuickItem *frame = item("popoverFrame");
        return frame != nullptr ? frame->parentItem() : nullptr;
    }
    bool tapPresented(const QString &name) { return tap(itemWithin(presentedFrame(), name)); }
    // Scans asked of the application so far.
    quint64 scanRequests() const { return delegate->library()->loadId(); }
};

} // namespace uitest
